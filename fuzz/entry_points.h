// What each fuzz target does with one input, shared with the regression test
// that replays the inputs the fuzzers once broke (solver/tests/
// test_fuzz_regressions.cpp). Input the readers refuse ends in an
// InputError, which these let through; any other exception, and any crash or
// sanitizer report, is a fault. So is a control byte (other than a line end)
// in the files and the summary they make.
#pragma once

#include <string>

// The RAW reader, the network builder and, for small networks, the base-case
// solve and its result files.
void fuzz_raw_input(const std::string &text);

// The contingency list cut into blocks and every block's element line read.
void fuzz_ctg_input(const std::string &text);

// The text as a monitor file, and what it names found in a small network.
void fuzz_monitor_input(const std::string &text);

// The text as a solver options file, then as a case settings file.
void fuzz_options_input(const std::string &text);

// The text as a rank's results file and as its violations file, and the
// report, console summary and page of what reads.
void fuzz_results_input(const std::string &text);
