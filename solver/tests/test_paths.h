// Where the tests find this build's programs, the launcher and their data.
// The values come from CMake in one generated source per test program
// (test_paths.cpp in its build folder), not from -D flags, so that a
// checkout in another folder recompiles that one file and nothing else.
// A test program defines the ones it uses.
#pragma once

namespace paths {
extern const char *const shared_data;      // the shared data's data/ folder, used in place
extern const char *const solver_test_data; // solver/tests/data
extern const char *const fuzz_regressions; // tests/fuzz_regressions
extern const char *const example;          // example/
extern const char *const vandrelsolve;     // the programs built here
extern const char *const ctgbatch;
extern const char *const ctgreport;
extern const char *const mpiexec; // the launcher CMake found, its -n flag and its preflags
extern const char *const mpiexec_numproc;
extern const char *const mpiexec_pre;
extern const char *const rank_console;   // tests/rank_console.sh
extern const char *const sanitizer_supp; // LeakSanitizer's suppressions; "" without sanitizers
} // namespace paths
