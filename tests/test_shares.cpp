// Shares of the blocks and the sub-files that hold them.

#include "harness.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>

namespace {

// A list built to hit the reader's corners: headers anywhere (also inside
// words and right after another header), look-alikes that are no headers,
// blank lines, CR LF line ends, long blocks, and a last line that may lack its
// line feed or fall inside a block.
std::string random_list(std::mt19937 &rng)
{
    const char *lines[] = {"CONTINGENCY X", "xxCONTINGENCY9", "CONTINGENCY",   "contingency y", "Contingency z",
                           "CONTINGENC Y",  "OPEN BRANCH 1",  "REMOVE UNIT 2", "END",           ""};
    std::uniform_int_distribution<int> pick(0, 9), count(0, 60), coin(0, 3);
    std::string list;
    int n = count(rng);
    for (int i = 0; i < n; ++i) {
        list += lines[pick(rng) < 4 ? 0 : pick(rng)];
        list += coin(rng) == 0 ? "\r\n" : "\n";
    }
    if (coin(rng) == 0) {
        list += "CONTINGENCY LAST";
    }
    if (coin(rng) == 0 && !list.empty()) {
        list.pop_back();
    }
    return list;
}

} // namespace

using Shares = RunLayout;

TEST_F(Shares, ShareSizesFollowTheTable)
{
    struct {
        int nctg, nproc;
        std::vector<int> shares;
    } table[] = {
        {10, 4, {3, 3, 3, 1}}, {12, 4, {3, 3, 3, 3}}, {5, 4, {2, 2, 1, 0}},
        {3, 4, {1, 1, 1, 0}},  {0, 4, {0, 0, 0, 0}},  {7, 1, {7}},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(std::to_string(row.nctg) + " blocks over " + std::to_string(row.nproc) + " ranks");
        std::string list = list_of(row.nctg);
        write_list(list);
        run(row.nproc);
        expect_ranks_started(row.nproc);
        int first = 0;
        for (int r = 0; r < row.nproc; ++r) {
            std::string share;
            for (int i = first; i < first + row.shares[r]; ++i) {
                share += block_of(i);
            }
            first += row.shares[r];
            EXPECT_EQ(subfile(r), share + "END\n") << "rank " << r;
            EXPECT_EQ(console(r), finish_line(row.nproc, row.shares[r], r));
        }
    }
}

TEST_F(Shares, ThirteenRanksNameTheirFilesInPlainDecimal)
{
    REQUIRE_REAL_LISTS();
    std::string list = real_list("list377_crlf.con");
    write_list(list);
    run(13);
    expect_ranks_started(13);
    expect_split_as_model(list, 13);
    EXPECT_TRUE(path_exists(work + "/case_subctg12.con"));
    EXPECT_FALSE(path_exists(work + "/case_subctg012.con"));
}

TEST_F(Shares, SubFileThatCanNotBeOpenedIsReported)
{
    std::string list = list_of(4);
    write_list(list);
    ASSERT_EQ(mkdir(subfile_path(1).c_str(), 0755), 0);
    write_file(subfile_path(1) + "/keep", "x");
    run(2);
    expect_ranks_started(2);
    EXPECT_EQ(console(1), banner(2) + "Can not open file: ../work_dir//case_subctg1.con\n");
    EXPECT_EQ(read_file(subfile_path(1) + "/keep"), "x");
    EXPECT_EQ(subfile(0), model_blocks(list)[0] + model_blocks(list)[1] + "END\n");
}

TEST_F(Shares, SubFileThatCanNotBeWrittenIsReportedAndRemoved)
{
    // A link to /dev/full: the open succeeds, every write fails as on a full
    // disk. Both a non-empty and an empty share must notice.
    write_list(list_of(1));
    for (int r = 0; r < 2; ++r) {
        ASSERT_EQ(symlink("/dev/full", subfile_path(r).c_str()), 0);
    }
    run(2);
    expect_ranks_started(2);
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(console(r),
                  banner(2) + "Can not write file: ../work_dir//case_subctg" + std::to_string(r) + ".con\n");
        EXPECT_FALSE(path_exists(subfile_path(r)));
    }
    struct stat st {};
    EXPECT_TRUE(stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
}

TEST_F(Shares, EveryBlockLandsInExactlyOneShareInOrder)
{
    const char *env_seed = std::getenv("CTGBATCH_TEST_SEED");
    unsigned seed = env_seed ? static_cast<unsigned>(std::strtoul(env_seed, nullptr, 10))
                             : static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
    std::cout << "seed " << seed << " (replay with CTGBATCH_TEST_SEED=" << seed << ")" << std::endl;
    std::mt19937 rng(seed);
    for (int trial = 0; trial < 16; ++trial) {
        int nproc = 1 + trial % 8;
        std::string list = random_list(rng);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", trial " + std::to_string(trial) + ", " +
                     std::to_string(nproc) + " ranks");
        write_list(list);
        for (int r = 0; r < nproc; ++r) {
            unlink(subfile_path(r).c_str());
        }
        run(nproc);
        expect_ranks_started(nproc);
        expect_split_as_model(list, nproc);
        if (HasFailure()) {
            write_file(root + "/failing_list.con", list);
            break;
        }
    }
}
