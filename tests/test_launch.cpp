// Launching the solver, and the stand-in solver that ships with ctgbatch.

#include "harness.h"
#include "test_paths.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>

namespace {

std::string cmd_line(int rank)
{
    std::string cmd = "./vandrelsolve";
    for (const std::string &arg : solver_args(rank)) {
        cmd += " " + arg;
    }
    return cmd;
}

} // namespace

using Launch = RunLayout;

TEST_F(Launch, EveryRankRunsTheSolverOnceOnItsCompleteSubFile)
{
    // 13 ranks over 20 blocks: shares of 2, ranks 10 to 12 empty.
    write_list(list_of(20));
    run(13);
    expect_ranks_started(13);
    std::vector<std::pair<std::string, std::string>> expected;
    for (int r = 0; r < 13; ++r) {
        expected.emplace_back(expected_record(r), subfile(r));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(solver_calls(), expected);
    EXPECT_EQ(subfile(12), "END\n");
}

TEST_F(Launch, RankWaitsForItsSolver)
{
    REQUIRE_REAL_LISTS();
    write_list(real_list("list6_lf.con"));
    write_solver("sleep 1\necho done > \"../calls/$(basename \"$1\").mark\"\n");
    run(2);
    expect_ranks_started(2);
    for (int r = 0; r < 2; ++r) {
        EXPECT_TRUE(path_exists(root + "/calls/case_subctg" + std::to_string(r) + ".con.mark"))
            << "rank " << r << " ended before its solver";
    }
}

TEST_F(Launch, MissingListStillLaunchesOnTheSubFilePath)
{
    write_file(subfile_path(0), "CONTINGENCY OLD\nx\nEND\nEND\n");
    run(2);
    std::vector<std::pair<std::string, std::string>> expected = {{expected_record(0), "<no sub-file>"},
                                                                 {expected_record(1), "<no sub-file>"}};
    EXPECT_EQ(solver_calls(), expected);
}

TEST_F(Launch, SolverFailuresAreReportedAndTheRunStillSucceeds)
{
    REQUIRE_REAL_LISTS();
    // A solver killed by a signal reaches ctgbatch as the shell reports it:
    // exit status 128 + S from a shell that waited for it, or the signal
    // itself from a shell that handed its process over to the solver. Only a
    // shell killed outright is certain to show the signal.
    const char *kill_shell = "if [ \"$(cat /proc/$PPID/comm)\" = sh ]; then kill -KILL $PPID; fi\n";
    struct {
        const char *solver; // empty: no solver at all
        std::string report, alt_report;
    } cases[] = {
        {"exit 3\n", "Solver exit status 3: ", ""},
        {"", "Solver exit status 127: ", ""},
        {"kill -KILL $$\n", "Solver exit status 137: ", "Solver killed by signal 9: "},
        {kill_shell, "Solver killed by signal 9: ", ""},
        {"exit 0\n", "", ""},
    };
    write_list(real_list("list6_lf.con"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.solver);
        if (*c.solver) {
            write_solver(c.solver);
        } else {
            unlink((start + "/vandrelsolve").c_str());
        }
        EXPECT_EQ(run(2), 0);
        expect_ranks_started(2);
        for (int r = 0; r < 2; ++r) {
            std::string finish = finish_line(2, 3, r);
            std::string got = console(r);
            if (!c.alt_report.empty() && got == finish + c.alt_report + cmd_line(r) + "\n") {
                continue;
            }
            EXPECT_EQ(got, finish + (c.report.empty() ? "" : c.report + cmd_line(r) + "\n"));
        }
    }
}

// The bundled example on four ranks, solved by the real solver.
using Example = RunLayout;

TEST_F(Example, RunsTheRealSolverOnFourRanks)
{
    for (const char *name : {"case.con", "case.json", "case.raw"}) {
        write_file(work + "/" + name, read_file(std::string(paths::example) + "/work_dir/" + name));
    }
    write_file(start + "/options.json", read_file(std::string(paths::example) + "/start/options.json"));
    ASSERT_EQ(std::system(("cp " + std::string(paths::vandrelsolve) + " '" + start + "/vandrelsolve'").c_str()), 0);
    run(4);
    expect_ranks_started(4);
    for (int r = 0; r < 4; ++r) {
        // The driver's line, then the solver's two: base case and contingencies.
        const std::string c = console(r);
        const std::string sub = "../work_dir//case_subctg" + std::to_string(r) + ".con";
        EXPECT_EQ(c.rfind(finish_line(4, 9, r) + "vandrelsolve: IEEE 14-bus: base case converged in ", 0), 0U) << c;
        EXPECT_NE(c.find("\nvandrelsolve: " + sub + ": 9 contingencies: "), std::string::npos) << c;
        const std::string results = "results in ../work_dir/case_subctg" + std::to_string(r) + ".results.csv\n";
        EXPECT_EQ(c.substr(c.size() - std::min(c.size(), results.size())), results) << c;
        const std::string rows = read_file(work + "/case_subctg" + std::to_string(r) + ".results.csv");
        EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 10) << rows;
    }
    const std::string buses = read_file(work + "/base_buses.csv");
    EXPECT_EQ(std::count(buses.begin(), buses.end(), '\n'), 15) << buses;
}
