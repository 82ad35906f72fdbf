// The real solver under the real driver on a public case: how the list is
// split over ranks, and in what order it comes, changes no result.

#include "harness.h"
#include "test_paths.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

namespace {

const std::string case_dir = std::string(paths::shared_data) + "/cases/activsg200";

// A results row without its index in the sub-file (fields 0) and its solve
// time (field 15), the two columns that depend on the split and the
// machine. Quoted fields are kept as written.
std::string comparable(const std::string &row)
{
    std::string out;
    int field = 0;
    bool quoted = false;
    for (char c : row) {
        if (c == '"') {
            quoted = !quoted;
        }
        if (c == ',' && !quoted) {
            ++field;
        }
        if (field != 0 && field != 15) {
            out += c;
        }
    }
    return out;
}

// The label of a results row: its second field, as written.
std::string label_of(const std::string &row)
{
    const size_t a = row.find(',') + 1;
    if (row[a] != '"') {
        return row.substr(a, row.find(',', a) - a);
    }
    size_t b = a + 1;
    while (b < row.size() && !(row[b] == '"' && (b + 1 == row.size() || row[b + 1] != '"'))) {
        b += row[b] == '"' ? 2 : 1;
    }
    return row.substr(a, b + 1 - a);
}

std::vector<std::string> rows_of(const std::string &text)
{
    std::vector<std::string> rows;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        rows.push_back(comparable(line));
    }
    return rows;
}

} // namespace

using Study = RunLayout;

TEST_F(Study, ResultsDoNotDependOnTheSplitOrTheOrder)
{
    struct stat st {};
    if (stat(case_dir.c_str(), &st) != 0) {
        GTEST_SKIP() << "SKIPPED: no case library at " << case_dir
                     << "; point -DCTGBATCH_SHARED_DIR=<folder holding data/cases> at it";
    }
    const std::string list = read_file(case_dir + "/case.con");
    write_list(list);
    write_file(work + "/case.raw", read_file(case_dir + "/case.raw"));
    ASSERT_EQ(std::system(("cp " + std::string(paths::vandrelsolve) + " '" + start + "/vandrelsolve'").c_str()), 0);

    // One solver on the whole list, as a sub-file of its own.
    auto solve_alone = [this](const std::string &name, const std::string &text) {
        write_file(work + "/" + name + ".con", text);
        const std::string cmd = "cd '" + start + "' && ./vandrelsolve ../work_dir//" + name +
                                ".con ../work_dir//case.json ../work_dir//case.raw ../work_dir//.. 1 1 1 2 "
                                "./options.json ../work_dir/ >/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return rows_of(read_file(work + "/" + name + ".results.csv"));
    };
    const std::vector<std::string> whole = solve_alone("whole", list);
    ASSERT_EQ(whole.size(), 245U);

    for (int nproc : {1, 2, 3, 5}) {
        SCOPED_TRACE("ranks " + std::to_string(nproc));
        run(nproc);
        expect_ranks_started(nproc);
        std::vector<std::string> split;
        for (int r = 0; r < nproc; ++r) {
            const std::vector<std::string> part =
                rows_of(read_file(work + "/case_subctg" + std::to_string(r) + ".results.csv"));
            split.insert(split.end(), part.begin(), part.end());
        }
        EXPECT_EQ(split, whole);
    }

    // The blocks in reverse order: the same row for every label.
    std::vector<std::string> blocks = model_blocks(list);
    std::reverse(blocks.begin(), blocks.end());
    std::string reversed;
    for (const std::string &b : blocks) {
        reversed += b;
    }
    std::map<std::string, std::string> by_label;
    for (const std::string &row : whole) {
        by_label[label_of(row)] = row;
    }
    const std::vector<std::string> back = solve_alone("reversed", reversed);
    ASSERT_EQ(back.size(), whole.size());
    for (const std::string &row : back) {
        EXPECT_EQ(row, by_label[label_of(row)]);
    }
}
