// Start-up and reading the contingency list.

#include "harness.h"
#include "test_paths.h"

#include <sys/stat.h>

using Reading = RunLayout;

TEST_F(Reading, RealListsSplitWhole)
{
    REQUIRE_REAL_LISTS();
    for (const char *name : {"list6_lf.con", "list9_crlf.con", "list377_crlf.con"}) {
        for (int nproc : {1, 2, 4}) {
            SCOPED_TRACE(std::string(name) + " over " + std::to_string(nproc) + " ranks");
            std::string list = real_list(name);
            write_list(list);
            run(nproc);
            expect_ranks_started(nproc);
            expect_split_as_model(list, nproc);
        }
    }
}

TEST_F(Reading, RealListsByHand)
{
    REQUIRE_REAL_LISTS();
    // list6_lf: six three-line contingencies and a closing END; two a share.
    std::string list = real_list("list6_lf.con");
    write_list(list);
    run(4);
    expect_ranks_started(4);
    EXPECT_EQ(subfile(0), list.substr(0, list.find("CONTINGENCY CTG_000002")) + "END\n");
    EXPECT_EQ(subfile(3), "END\n");
    EXPECT_EQ(console(2), finish_line(4, 2, 2));
    EXPECT_EQ(console(3), finish_line(4, 0, 3));

    // list377: CR LF kept; its last "END" has no line end at all and lies
    // outside every block, so it must not show up.
    write_list(real_list("list377_crlf.con"));
    run(1);
    std::string sub = subfile(0);
    EXPECT_EQ(sub.substr(0, 38), "CONTINGENCY G_000009EASTOVER22U1\r\nREMO");
    EXPECT_EQ(sub.substr(sub.size() - 11), "\r\nEND\r\nEND\n");
    EXPECT_EQ(console(0), finish_line(1, 377, 0));
}

TEST_F(Reading, ListsAreCutAsWritten)
{
    struct {
        const char *list;
        const char *subfile;
    } cases[] = {
        // Only the exact capitals make a header, anywhere in the line; the
        // two lines after a header are never examined; lines beyond them
        // and between blocks are skipped.
        {"title line\n"
         "contingency lower case\n"
         "Contingency initial capital\n"
         "xCONTINGENCY7 inside a word\na\nb\n"
         "CONTINGENCY followed by a header\nCONTINGENCY second header\nthird line\n"
         "CONTINGENCY long one\ntwo\nthree\nfour is dropped\n"
         "\nEND\n",
         "xCONTINGENCY7 inside a word\na\nb\n"
         "CONTINGENCY followed by a header\nCONTINGENCY second header\nthird line\n"
         "CONTINGENCY long one\ntwo\nthree\n"
         "END\n"},
        // No header at all: an empty share.
        {"", "END\n"},
        {"no header here\nEND\n", "END\n"},
        {"\n\n\n", "END\n"},
        // A block running past the end of the list is padded with empty
        // lines, whether or not the list ends with a line feed.
        {"CONTINGENCY A\n", "CONTINGENCY A\n\n\nEND\n"},
        {"CONTINGENCY A", "CONTINGENCY A\n\n\nEND\n"},
        {"CONTINGENCY A\nlast", "CONTINGENCY A\nlast\n\nEND\n"},
        {"CONTINGENCY A\nlast\n", "CONTINGENCY A\nlast\n\nEND\n"},
        {"CONTINGENCY A\r\nlast\r", "CONTINGENCY A\r\nlast\r\n\nEND\n"},
        {"CONTINGENCY A\nx\ny\nCONTINGENCY B", "CONTINGENCY A\nx\ny\nCONTINGENCY B\n\n\nEND\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.list);
        write_list(c.list);
        run(1);
        EXPECT_EQ(subfile(0), c.subfile);
        EXPECT_EQ(console(0), finish_line(1, static_cast<int>(model_blocks(c.subfile).size()), 0));
    }
}

TEST_F(Reading, MissingListIsReportedAndStaleSubFilesGo)
{
    // Rank 0 finds an earlier run's share, rank 1 a link to one, rank 2 a
    // directory (never removed), rank 3 nothing.
    write_file(subfile_path(0), "CONTINGENCY OLD\nx\nEND\nEND\n");
    write_file(work + "/elsewhere.con", "CONTINGENCY OLD\nx\nEND\nEND\n");
    ASSERT_EQ(symlink("elsewhere.con", subfile_path(1).c_str()), 0);
    ASSERT_EQ(mkdir(subfile_path(2).c_str(), 0755), 0);
    run(4);
    expect_ranks_started(4);
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(console(r), banner(4) + "Can not open file: ../work_dir//case.con\n");
    }
    EXPECT_FALSE(path_exists(subfile_path(0)));
    EXPECT_FALSE(path_exists(subfile_path(1)));
    EXPECT_EQ(read_file(work + "/elsewhere.con"), "CONTINGENCY OLD\nx\nEND\nEND\n");
    struct stat st {};
    EXPECT_TRUE(stat(subfile_path(2).c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    EXPECT_FALSE(path_exists(subfile_path(3)));
}

TEST_F(Reading, UnreadableListIsReportedNotSplit)
{
    // A directory opens as a stream but cannot be read: that is no empty list.
    ASSERT_EQ(mkdir((work + "/case.con").c_str(), 0755), 0);
    write_file(subfile_path(1), "CONTINGENCY OLD\nx\nEND\nEND\n");
    run(2);
    expect_ranks_started(2);
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(console(r), banner(2) + "Can not read file: ../work_dir//case.con\n");
        EXPECT_FALSE(path_exists(subfile_path(r)));
    }
}

TEST_F(Reading, ArgumentsChangeNothing)
{
    REQUIRE_REAL_LISTS();
    std::string list = real_list("list9_crlf.con");
    write_list(list);
    run(2, "--help -n 7 ../other_dir/ case.con");
    expect_ranks_started(2);
    expect_split_as_model(list, 2);
}

TEST_F(Reading, WithoutALauncherRunsAsOneRank)
{
    REQUIRE_REAL_LISTS();
    std::string list = real_list("list9_crlf.con");
    write_list(list);
    std::string cmd = "cd '" + start + "' && timeout 120 " + paths::ctgbatch + " >'" + root + "/console/0.out' 2>'" +
                      root + "/console/0.err'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << read_file(root + "/console/0.err");
    expect_ranks_started(1);
    expect_split_as_model(list, 1);
}
