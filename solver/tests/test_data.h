// Where the tests find the public cases, used in place.
#pragma once

#include "test_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

inline std::string cases_dir() { return std::string(paths::shared_data) + "/cases"; }
inline std::string rawfiles_dir() { return std::string(paths::shared_data) + "/rawfiles"; }

// Skips the test, loudly, when the shared folder `dir` (what it holds:
// `what`) is not there.
#define REQUIRE_SHARED(dir, what)                                                                                      \
    do {                                                                                                               \
        if (!std::filesystem::is_directory(dir)) {                                                                     \
            GTEST_SKIP() << "SKIPPED: no " << (what) << " at " << (dir)                                                \
                         << "; point -DCTGBATCH_SHARED_DIR=<folder holding data/> at it";                              \
        }                                                                                                              \
    } while (false)

#define REQUIRE_CASES() REQUIRE_SHARED(cases_dir(), "case library")
#define REQUIRE_RAWFILES() REQUIRE_SHARED(rawfiles_dir(), "RAW file collection")
