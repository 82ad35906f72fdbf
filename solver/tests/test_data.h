// Where the tests find the public cases, used in place.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

inline std::string cases_dir() { return std::string(SHARED_DATA_DIR) + "/cases"; }

// Skips the test, loudly, when the case library is not there.
#define REQUIRE_CASES()                                                                                                \
    do {                                                                                                               \
        if (!std::filesystem::is_directory(cases_dir())) {                                                             \
            GTEST_SKIP() << "SKIPPED: no case library at " << cases_dir()                                              \
                         << "; point -DCTGBATCH_SHARED_DIR=<folder holding data/cases> at it";                         \
        }                                                                                                              \
    } while (false)
