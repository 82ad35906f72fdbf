// End-to-end test harness: every test gets a fresh run layout in a temporary
// folder (ROOT/start, the start directory, and its sibling ROOT/work_dir),
// runs the built ctgbatch there under the real mpiexec, and compares what the
// run left behind byte for byte. A failed test keeps its layout for a look.
#pragma once

#include "helpers.h" // read_file, write_file, csv_rows: shared with the solver's tests

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

bool path_exists(const std::string &path); // without following a final link
// A real contingency list of ../shared/data/real/, read in place.
std::string real_list(const std::string &name);
std::string real_lists_dir();

// Skips the test, loudly, when the real lists are not there.
#define REQUIRE_REAL_LISTS()                                                                                           \
    do {                                                                                                               \
        if (!path_exists(real_lists_dir())) {                                                                          \
            GTEST_SKIP() << "SKIPPED: no real contingency lists at " << real_lists_dir()                               \
                         << "; point -DCTGBATCH_SHARED_DIR=<folder holding data/real> at them";                        \
        }                                                                                                              \
    } while (false)
std::vector<std::string> list_dir(const std::string &dir);  // sorted names
std::vector<std::string> list_tree(const std::string &dir); // sorted, recursive

// The banner a rank of a run with nproc ranks starts its console with, and
// the whole console of a rank that wrote nctg blocks.
std::string banner(int nproc);
std::string finish_line(int nproc, int nctg, int rank);

// Contingency i of a generated list, and a list of nctg of them between a
// title line and a closing END.
std::string block_of(int i);
std::string list_of(int nctg);

// An independent model of how the list must be cut: each block as its three
// lines, each followed by a line feed.
std::vector<std::string> model_blocks(const std::string &list);

// The ten arguments every rank must hand the solver.
std::vector<std::string> solver_args(int rank);

class RunLayout : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void write_list(const std::string &text) { write_file(work + "/case.con", text); }
    // Replaces the recording solver with a shell script of the given body.
    void write_solver(const std::string &body);

    // Runs ctgbatch with nproc ranks from the start directory; returns the
    // launcher's exit status. Each rank's console goes to ROOT/console/R.out.
    int run(int nproc, const std::string &args = "");
    std::string console(int rank) const;
    std::string subfile_path(int rank) const;
    std::string subfile(int rank) const { return read_file(subfile_path(rank)); }

    // Exactly nproc consoles, each opening with the banner for nproc: proof
    // that one job of nproc ranks ran, not nproc one-rank jobs.
    void expect_ranks_started(int nproc) const;

    // Every rank reported and wrote its contiguous share of the model's
    // blocks; the sub-files, each without its closing END, concatenate to the
    // list's blocks in file order.
    void expect_split_as_model(const std::string &list, int nproc) const;

    // One entry per solver call, sorted: the call's record (working
    // directory, argument count, arguments) and the sub-file as it was when
    // the call started ("<no sub-file>" when there was none).
    std::vector<std::pair<std::string, std::string>> solver_calls() const;
    std::string expected_record(int rank) const;

    std::string root, start, work;
};
