// The contingency loop shared among threads (results/ctg_run.h): the same
// rows as one thread, every block in its slot, and a run that progress
// stops. Built on its own as solver_thread_tests, so that the sanitize
// stage runs it under ThreadSanitizer, where a write to anything the
// threads share is a reported race.

#include "contingency/ctg_list.h"
#include "network/build.h"
#include "powerflow/base_case.h"
#include "powerflow/flows.h"
#include "raw/sections.h"
#include "results/columns.h"
#include "results/ctg_run.h"
#include "results/violation_tags.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A case's base case and every `stride`-th block of its list, ready to run.
struct Prepared {
    PfOptions opt; // first: bc is solved with it
    Network net;
    BaseCase bc;
    Assessment base;
    BaseValues vals;
    std::vector<CtgBlock> blocks;

    Prepared(const std::string &dir, std::size_t stride)
        : net(build_network(read_raw(dir + "/case.raw"))), bc(solve_base_case(net, opt))
    {
        base = assess(net, bc.on, bc.sol, opt.base_rating, false, -1, nullptr, nullptr, nullptr);
        vals = base_values(net, bc, base);
        const std::vector<CtgBlock> all = read_ctg_blocks(dir + "/case.con");
        for (std::size_t n = 0; n < all.size(); n += stride) {
            blocks.push_back(all[n]);
        }
    }

    CtgRunInput input() const { return CtgRunInput{&net, &bc, &opt, &vals, &blocks, std::string(), nullptr}; }
};

// A results row less its solve_ms field, the one that differs between runs.
std::string without_time(const std::string &row)
{
    std::vector<std::string> fields;
    std::string s;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= row.size(); ++i) {
        if (i == row.size() || row[i] == ',') {
            fields.push_back(row.substr(start, i - start));
            start = i + 1;
        }
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        s += i == column_of(results_columns, "solve_ms") ? std::string("-") : fields[i];
        s += ",";
    }
    return s;
}

void expect_same_rows(const std::vector<CtgRows> &a, const std::vector<CtgRows> &b)
{
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t n = 0; n < a.size(); ++n) {
        SCOPED_TRACE(a[n].results);
        EXPECT_EQ(without_time(a[n].results), without_time(b[n].results));
        EXPECT_EQ(a[n].violations, b[n].violations);
        EXPECT_EQ(a[n].status, b[n].status);
        EXPECT_EQ(a[n].islanded, b[n].islanded);
    }
}

} // namespace

// Two threads, each on its own workspace and switch corrections, give the
// rows one thread gives on the base case's own workspace, in list order:
// activsg2000's outages change bus kinds often, so the threads take and
// use switch corrections of the shared base factors side by side.
TEST(Threads, TwoThreadsGiveTheRowsOfOne)
{
    REQUIRE_CASES();
    Prepared p(cases_dir() + "/activsg2000", 25);
    const CtgRunInput in = p.input();
    // Two threads first, while no workspace has taken any correction: each
    // takes its own as its outages need them.
    const std::vector<CtgRows> two = solve_blocks(in, 0, p.blocks.size(), 2);
    const std::vector<CtgRows> one = solve_blocks(in, 0, p.blocks.size(), 1, &p.bc.ws);
    expect_same_rows(one, two);
    int converged = 0;
    for (std::size_t n = 0; n < one.size(); ++n) {
        EXPECT_EQ(one[n].results.substr(0, std::to_string(n + 1).size() + 1), std::to_string(n + 1) + ",");
        converged += one[n].status == CtgStatus::converged ? 1 : 0;
    }
    EXPECT_GT(converged, static_cast<int>(one.size()) / 2);
    // A range of the list, on more threads than blocks.
    const std::vector<CtgRows> part = solve_blocks(in, 10, 13, 8);
    expect_same_rows(part, std::vector<CtgRows>(one.begin() + 10, one.begin() + 13));
}

// Progress is reported from the calling thread up to the whole count;
// returning false stops the run (blocks not begun keep empty slots), and so
// does throwing.
TEST(Threads, ProgressCountsAndStops)
{
    REQUIRE_CASES();
    Prepared p(cases_dir() + "/activsg200", 4);
    const CtgRunInput in = p.input();
    for (const int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        std::size_t last = 0;
        std::size_t calls = 0;
        const std::vector<CtgRows> all =
            solve_blocks(in, 0, p.blocks.size(), threads, nullptr, [&](std::size_t done, std::size_t total) {
                EXPECT_EQ(total, p.blocks.size());
                EXPECT_GT(done, last);
                last = done;
                ++calls;
                return true;
            });
        EXPECT_EQ(last, p.blocks.size());
        EXPECT_GT(calls, 0U);
        // Stopped once 3 are done: progress is not asked again, and the
        // blocks not begun stay empty (with one thread, all after the
        // third; with two, the workers may have run ahead of the calling
        // thread).
        std::size_t asked_after_stop = 0;
        bool stopped_once = false;
        const std::vector<CtgRows> stopped =
            solve_blocks(in, 0, p.blocks.size(), threads, nullptr, [&](std::size_t done, std::size_t) {
                asked_after_stop += stopped_once ? 1 : 0;
                stopped_once = stopped_once || done >= 3;
                return !stopped_once;
            });
        EXPECT_EQ(asked_after_stop, 0U);
        std::size_t solved = 0;
        for (const CtgRows &r : stopped) {
            solved += r.results.empty() ? 0 : 1;
        }
        EXPECT_GE(solved, 3U);
        if (threads == 1) {
            EXPECT_EQ(solved, 3U);
        }
        // What progress throws stops the run and comes out once the
        // workers have ended.
        EXPECT_THROW(solve_blocks(in, 0, p.blocks.size(), threads, nullptr,
                                  [](std::size_t done, std::size_t) -> bool {
                                      if (done >= 2) {
                                          throw std::runtime_error("stop here");
                                      }
                                      return true;
                                  }),
                     std::runtime_error);
    }
}
