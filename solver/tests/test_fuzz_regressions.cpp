// Replays every input the fuzzers once broke, kept in
// tests/fuzz_regressions/TARGET/, through the same entry points as the fuzz
// targets (fuzz/entry_points.h): each must read, or be refused with an
// InputError; no other exception, and no crash under the sanitizers.
#include "entry_points.h"
#include "helpers.h"
#include "io/input_error.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The files of one target's folder, in name order; none when it is absent.
std::vector<fs::path> inputs(const std::string &target)
{
    std::vector<fs::path> files;
    const fs::path dir = fs::path(paths::fuzz_regressions) / target;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(dir, ec)) {
        if (e.is_regular_file()) {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// What became of one input: "" when it read or was refused, else the fault.
std::string fault_of(const std::function<void(const std::string &)> &entry, const std::string &text)
{
    try {
        entry(text);
    } catch (const InputError &) {
        return "";
    } catch (const std::exception &e) {
        return std::string("exception other than InputError: ") + e.what();
    } catch (...) {
        return "exception of an unknown type";
    }
    return "";
}

void replay(const std::string &target, const std::function<void(const std::string &)> &entry)
{
    for (const fs::path &p : inputs(target)) {
        EXPECT_EQ(fault_of(entry, read_file(p)), "") << p;
    }
}

TEST(FuzzRegressions, RawInputsReadOrAreRefused) { replay("raw", fuzz_raw_input); }
TEST(FuzzRegressions, ContingencyListsRead) { replay("ctg", fuzz_ctg_input); }
TEST(FuzzRegressions, MonitorFilesReadOrAreRefused) { replay("monitor", fuzz_monitor_input); }
TEST(FuzzRegressions, OptionsReadOrAreRefused) { replay("options", fuzz_options_input); }
TEST(FuzzRegressions, ResultsFilesReadOrAreRefused) { replay("results", fuzz_results_input); }

// The harness itself: an escaping exception of another type is a fault.
TEST(FuzzRegressions, OtherExceptionsAreFaults)
{
    EXPECT_EQ(fault_of([](const std::string &) { throw InputError("f", 1, "bad"); }, ""), "");
    EXPECT_NE(fault_of([](const std::string &) { throw std::out_of_range("x"); }, ""), "");
}

} // namespace
