// ctgreport after real runs of ctgbatch and the real solver: the report
// does not depend on the number of ranks, and every way a rank's results
// can be lost is caught, named and counted.

#include "harness.h"
#include "test_paths.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>

namespace {

const std::string case_dir = std::string(paths::shared_data) + "/cases/ieee14";

// A report.csv row without rank, index in the sub-file and solve time,
// which depend on the split and the machine (the labels here hold no
// commas).
std::string without_placement(const std::string &report)
{
    std::istringstream in(report);
    std::string out;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream fs(line);
        std::string x;
        while (std::getline(fs, x, ',')) {
            f.push_back(x);
        }
        for (size_t k = 0; k < f.size(); ++k) {
            out += k == 1 || k == 2 || k == 17 ? "" : f[k] + ",";
        }
        out += "\n";
    }
    return out;
}

class Report : public RunLayout {
protected:
    void SetUp() override
    {
        RunLayout::SetUp();
        struct stat st {};
        if (stat(case_dir.c_str(), &st) != 0) {
            GTEST_SKIP() << "SKIPPED: no case library at " << case_dir
                         << "; point -DCTGBATCH_SHARED_DIR=<folder holding data/cases> at it";
        }
        write_list(read_file(case_dir + "/case.con"));
        write_file(work + "/case.raw", read_file(case_dir + "/case.raw"));
        ASSERT_EQ(std::system(("cp " + std::string(paths::vandrelsolve) + " '" + start + "/vandrelsolve'").c_str()), 0);
    }

    // Runs ctgreport in the start directory; its console goes to `console_`.
    int report()
    {
        const std::string cmd = "cd '" + start + "' && " + paths::ctgreport + " >'" + root + "/report.out' 2>&1";
        const int status = std::system(cmd.c_str());
        console_ = read_file(root + "/report.out");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string file(const std::string &name) const { return read_file(work + "/" + name); }
    std::string console_;
};

// The report rows of list blocks [first, last) all lack a result, naming why.
void expect_no_result(const std::string &report, int first, int last, const std::string &why)
{
    std::istringstream in(report);
    std::string line;
    std::getline(in, line);
    for (int i = 0; std::getline(in, line); ++i) {
        const bool missing = line.find(",no_result,") != std::string::npos;
        EXPECT_EQ(missing, i >= first && i < last) << line;
        if (missing) {
            EXPECT_NE(line.find(why), std::string::npos) << line;
        }
    }
}

} // namespace

TEST_F(Report, IsTheSameForAnyNumberOfRanks)
{
    std::string console1, report1, violations1;
    for (int nproc : {1, 3, 7}) {
        SCOPED_TRACE("ranks " + std::to_string(nproc));
        for (int r = 0; r < 7; ++r) {
            std::remove((work + "/case_subctg" + std::to_string(r) + ".con").c_str());
        }
        run(nproc);
        expect_ranks_started(nproc);
        ASSERT_EQ(report(), 0) << console_;
        const std::string head =
            "25 contingencies in the list, " + std::to_string(nproc) + " ranks: every contingency has a result\n";
        ASSERT_EQ(console_.rfind(head, 0), 0U) << console_;
        if (nproc == 1) {
            console1 = console_.substr(head.size());
            report1 = file("report.csv");
            violations1 = file("violations.csv");
            continue;
        }
        EXPECT_EQ(console_.substr(head.size()), console1);
        EXPECT_EQ(without_placement(file("report.csv")), without_placement(report1));
        EXPECT_EQ(file("violations.csv"), violations1);
    }
    // What the summary says of ieee14's list (see its reference results).
    EXPECT_NE(
        console1.find(
            "  converged                   24\n  unrealistic                  0\n  no_solution                  1\n"
            "  diverged                     0\n"),
        std::string::npos)
        << console1;
    // The outage with no operating point: how much of it solves, and where
    // the voltage gives way.
    EXPECT_TRUE(std::regex_search(console1, std::regex(R"(\n  BR_1_2_1 +0\.9[0-9]{2} +14 +0\.[0-9]{4}  direct solve: )"
                                                       R"(no convergence in [0-9]+ iterations)")))
        << console1;
}

TEST_F(Report, NamesEveryRankWhoseResultsAreLost)
{
    // 25 blocks over 3 ranks: 9, 9 and 7.
    struct Case {
        const char *what;
        std::string damage; // shell command run in the work directory
        int first, last;    // list blocks left without a result
        std::string message;
    };
    const std::vector<Case> cases = {
        {"results removed", "rm case_subctg1.results.csv", 9, 18,
         "ctgreport: rank 1: no results file ../work_dir/case_subctg1.results.csv; its 9 contingencies have no "
         "result\n"},
        {"results truncated", "sed -i '$d' case_subctg2.results.csv", 18, 25,
         "ctgreport: rank 2: its results file has 6 rows for 7 contingencies; its 7 contingencies have no result\n"},
        {"another rank's results", "cp case_subctg0.results.csv case_subctg1.results.csv", 9, 18,
         "ctgreport: rank 1: row 1 of its results file is for 'BR_1_2_1', not 'BR_6_13_1'; its 9 contingencies have "
         "no result\n"},
        {"results older than the sub-file", "touch -d '+1 hour' case_subctg0.con", 0, 9,
         "ctgreport: rank 0: its results file ../work_dir/case_subctg0.results.csv is older than its sub-file; its 9 "
         "contingencies have no result\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        run(3);
        ASSERT_EQ(std::system(("cd '" + work + "' && " + c.damage).c_str()), 0);
        EXPECT_EQ(report(), 1);
        EXPECT_EQ(console_.rfind(c.message, 0), 0U) << console_;
        EXPECT_NE(console_.find(" ranks: " + std::to_string(c.last - c.first) + " without a result\n"),
                  std::string::npos)
            << console_;
        expect_no_result(file("report.csv"), c.first, c.last, "rank ");
    }
}

// Labels holding an ESC sequence and a byte that is not UTF-8: the solver
// writes them printable, and ctgreport still matches every row with its
// block and prints and writes nothing a terminal would obey.
TEST_F(Report, MatchesAndShowsLabelsThatAreNotPrintable)
{
    write_list(std::regex_replace(read_file(case_dir + "/case.con"), std::regex("CONTINGENCY (\\S+)"),
                                  "CONTINGENCY \x1b[31m$1\xff"));
    const auto no_control = [](const std::string &text) {
        return std::none_of(text.begin(), text.end(),
                            [](char c) { return (c >= 0 && c < 0x20 && c != '\n') || c == 0x7f; });
    };
    run(3);
    expect_ranks_started(3);
    ASSERT_EQ(report(), 0) << console_;
    EXPECT_TRUE(no_control(console_)) << console_;
    EXPECT_TRUE(no_control(file("report.csv")));
    EXPECT_TRUE(no_control(file("violations.csv")));
    EXPECT_TRUE(std::regex_search(console_, std::regex(R"(\n  \\x1b\[31mBR_1_2_1\\xff +0\.9[0-9]{2} +14 )")))
        << console_;

    ASSERT_EQ(std::system(("cd '" + work + "' && cp case_subctg0.results.csv case_subctg1.results.csv").c_str()), 0);
    EXPECT_EQ(report(), 1);
    EXPECT_EQ(console_.rfind("ctgreport: rank 1: row 1 of its results file is for '\\x1b[31mBR_1_2_1\\xff', not "
                             "'\\x1b[31mBR_6_13_1\\xff'; its 9 contingencies have no result\n",
                             0),
              0U)
        << console_;
}

TEST_F(Report, IgnoresSubFilesOfAnEarlierLargerRun)
{
    run(3);
    ASSERT_EQ(report(), 0) << console_;
    const std::string clean = file("report.csv");
    run(5);
    run(3); // ranks 3 and 4 keep their sub-files and results of the 5-rank run
    EXPECT_EQ(report(), 0) << console_;
    EXPECT_EQ(console_.rfind("ctgreport: ignoring the sub-files of ranks 3, 4, beyond this run of 3 ranks (left by an "
                             "earlier, larger run)\n25 contingencies in the list, 3 ranks: every contingency has a "
                             "result\n",
                             0),
              0U)
        << console_;
    EXPECT_EQ(without_placement(file("report.csv")), without_placement(clean));
}

TEST_F(Report, RefusesAListItCanNotRead)
{
    std::remove((work + "/case.con").c_str());
    EXPECT_EQ(report(), 2);
    EXPECT_EQ(console_, "ctgreport: ../work_dir/case.con: can not open the file\n");
    EXPECT_FALSE(path_exists(work + "/report.csv"));
}
