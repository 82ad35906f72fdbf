// Islands without a slack bus: the bus of the in-service unit of the
// largest PT becomes the swing (option auto_swing), with one warning line;
// with auto_swing false, today's refusal. Then the edge cases the RAW
// format allows: a winding ratio of 0, a missing impedance correction
// table, a rectifier's ANMX of 90 degrees.

#include "contingency/contingency.h"
#include "contingency/ctg_list.h"
#include "helpers.h"
#include "io/input_error.h"
#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/state.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Three islands and no IDE 3 bus: {1, 2, 3} with units at 2 (PT 150 MW)
// and 3 (unit A of PT 250 MW in service, unit B of PT 900 MW out of
// service), {4, 5} with one unit at 4, and {6, 7} with loads only.
const char *const islands = R"(0, 100.00, 33, 0, 0, 60.00 / islands without a slack
SWING TEST
HAND WRITTEN
1,'ONE', 138.0, 1, 1, 1, 1, 1.02, 0.0
2,'TWO', 138.0, 2, 1, 1, 1, 1.01, -2.0
3,'THREE', 138.0, 2, 1, 1, 1, 1.0, -4.0
4,'FOUR', 138.0, 2, 1, 1, 1, 1.0, 0.0
5,'FIVE', 138.0, 1, 1, 1, 1, 1.0, 0.0
6,'SIX', 138.0, 1, 1, 1, 1, 1.0, 0.0
7,'SEVEN', 138.0, 1, 1, 1, 1, 1.0, 0.0
0 / END OF BUS DATA, BEGIN LOAD DATA
1,'1',1,1,1, 60.0, 20.0, 0,0,0,0, 1,1
5,'1',1,1,1, 30.0, 10.0, 0,0,0,0, 1,1
6,'1',1,1,1, 10.0, 5.0, 0,0,0,0, 1,1
0 / END OF LOAD DATA, BEGIN FIXED SHUNT DATA
0 / END OF FIXED SHUNT DATA, BEGIN GENERATOR DATA
2,'1', 30.0, 0.0, 100.0, -100.0, 1.01, 0, 100.0, 0,1,0,0,1,1,100, 150, 0
3,'A', 40.0, 0.0, 100.0, -100.0, 1.00, 0, 100.0, 0,1,0,0,1,1,100, 250, 0
3,'B', 0.0, 0.0, 100.0, -100.0, 1.00, 0, 100.0, 0,1,0,0,1,0,100, 900, 0
4,'1', 35.0, 0.0, 100.0, -100.0, 1.00, 0, 100.0, 0,1,0,0,1,1,100, 80, 0
0 / END OF GENERATOR DATA, BEGIN BRANCH DATA
1, 2,'1', 0.01, 0.1, 0.02, 100, 100, 100
2, 3,'1', 0.01, 0.1, 0.02, 100, 100, 100
1, 3,'1', 0.01, 0.1, 0.02, 100, 100, 100
4, 5,'1', 0.01, 0.1, 0.02, 100, 100, 100
6, 7,'1', 0.01, 0.1, 0.02, 100, 100, 100
0 / END OF BRANCH DATA, BEGIN TRANSFORMER DATA
0 / END OF TRANSFORMER DATA
0
0
0
0
0
0
0
0
Q
)";

const std::string note_3 = "t.raw:18: the island of bus 1 has no slack bus (IDE 3): bus 3 is its swing, the bus of "
                           "its in-service unit of the largest PT (unit 'A', PT 250 MW)";
const std::string note_4 = "t.raw:20: the island of bus 4 has no slack bus (IDE 3): bus 4 is its swing, the bus of "
                           "its in-service unit of the largest PT (unit '1', PT 80 MW)";

Network network_of(const std::string &text, bool auto_swing = true)
{
    std::istringstream in(text);
    return build_network(parse_raw(in, "t.raw"), default_zero_impedance_threshold_pu, true, auto_swing);
}

// The RAW numbers of the slack buses.
std::vector<int> slack_numbers(const Network &net)
{
    std::vector<int> s;
    for (const int i : net.slacks) {
        s.push_back(net.buses[i].number);
    }
    return s;
}

// The largest difference of |V| or the angle (pu, radians) between two
// solutions of networks with the same RAW buses.
double largest_difference(const Network &a, const PfSolution &sa, const Network &b, const PfSolution &sb)
{
    double d = 0;
    for (int i = 0; i < a.raw_buses; ++i) {
        const int k = b.index.at(a.buses[i].number);
        d = std::max({d, std::abs(sa.v.vm[i] - sb.v.vm[k]), std::abs(sa.v.va[i] - sb.v.va[k])});
    }
    return d;
}

} // namespace

TEST(AutoSwing, EachIslandWithUnitsGetsTheBusOfItsLargestPt)
{
    const Network net = network_of(islands);
    EXPECT_EQ(slack_numbers(net), (std::vector<int>{3, 4})) << "the unit out of service of PT 900 MW does not count";
    EXPECT_EQ(net.notes, (std::vector<std::string>{note_3, note_4}));
    EXPECT_EQ(net.buses[net.slack].number, 3);
    const BaseCase bc = solve_base_case(net, PfOptions{});
    ASSERT_TRUE(bc.sol.converged) << bc.sol.failure;
    EXPECT_EQ(bc.cut_off, 2) << "the island of loads only, buses 6 and 7, stays de-energised";
    EXPECT_NEAR(bc.sol.v.vm[net.index.at(3)], 1.0, 1e-12) << "the swing holds its unit's VS";
    EXPECT_NEAR(bc.sol.v.va[net.index.at(3)], -4.0 * M_PI / 180, 1e-12) << "and its RAW angle";
    EXPECT_NEAR(bc.sol.v.va[net.index.at(4)], 0.0, 1e-12);
}

TEST(AutoSwing, ATieOnPtGoesToTheLowestBusNumber)
{
    // Unit A's PT down to 150 MW, the PT of bus 2's unit: bus 2 wins; unit
    // A listed first changes nothing.
    const std::string tie = replaced(islands, "0,1,0,0,1,1,100, 250, 0", "0,1,0,0,1,1,100, 150, 0");
    EXPECT_EQ(slack_numbers(network_of(tie)), (std::vector<int>{2, 4}));
    const std::string a = "3,'A', 40.0, 0.0, 100.0, -100.0, 1.00, 0, 100.0, 0,1,0,0,1,1,100, 150, 0\n";
    const std::string first = replaced(replaced(tie, a, ""), "2,'1', 30.0", a + "2,'1', 30.0");
    const Network net = network_of(first);
    EXPECT_EQ(slack_numbers(net), (std::vector<int>{2, 4}));
    EXPECT_EQ(net.notes.at(0), "t.raw:18: the island of bus 1 has no slack bus (IDE 3): bus 2 is its swing, the bus "
                               "of its in-service unit of the largest PT (unit '1', PT 150 MW)");
}

TEST(AutoSwing, AnIslandWithASlackKeepsItAndTheOthersAreLeftAsTheyWere)
{
    // Bus 1 of IDE 3: its island keeps bus 1 alone as its slack.
    const std::string with_slack = replaced(islands, "1,'ONE', 138.0, 1,", "1,'ONE', 138.0, 3,");
    const Network net = network_of(with_slack);
    EXPECT_EQ(slack_numbers(net), (std::vector<int>{1, 4}));
    EXPECT_EQ(net.notes, std::vector<std::string>{note_4});
    // Without auto_swing the island of bus 4 has no slack and is cut off,
    // as before the option existed.
    const Network off = network_of(with_slack, false);
    EXPECT_EQ(slack_numbers(off), std::vector<int>{1});
    EXPECT_TRUE(off.notes.empty());
    const BaseCase bc = solve_base_case(off, PfOptions{});
    ASSERT_TRUE(bc.sol.converged) << bc.sol.failure;
    EXPECT_EQ(bc.cut_off, 4);
}

TEST(AutoSwing, ANetworkLeftWithoutASlackIsRefused)
{
    EXPECT_EQ(input_error_of([] { network_of(islands, false); }), "t.raw: no slack bus: no bus has IDE 3");
    std::string none = islands;
    for (const char *unit : {"1,100, 150, 0", "1,100, 250, 0", "1,100, 80, 0"}) {
        none = replaced(none, std::string("0,1,0,0,1,") + unit, std::string("0,1,0,0,1,0") + (unit + 1));
    }
    EXPECT_EQ(input_error_of([&none] { network_of(none); }),
              "t.raw: no slack bus: no bus has IDE 3, and no unit is in service to be the swing");
    // The reader itself no longer refuses a file without IDE 3.
    std::istringstream in(islands);
    EXPECT_EQ(parse_raw(in, "t.raw").buses.size(), 7U);
}

// Closing a branch from the island of bus 1 (IDE 3) to that of bus 4 (its
// swing chosen): bus 4 goes back to a voltage-controlled bus, and the
// state is that of the RAW with the branch in service, solved as one
// island from the base case's state.
TEST(AutoSwing, AClosedBranchJoiningASlacksIslandTakesTheChosenSwingBack)
{
    const std::string raw = replaced(islands, "1,'ONE', 138.0, 1,", "1,'ONE', 138.0, 3,");
    const std::string open = replaced(raw, "4, 5,'1'", "3, 4,'1', 0.01, 0.1, 0.02, 100, 100, 100, 0,0,0,0,0\n4, 5,'1'");
    const Network net = network_of(open);
    ASSERT_EQ(slack_numbers(net), (std::vector<int>{1, 4}));
    PfOptions opt;
    BaseCase base = solve_base_case(net, opt);
    ASSERT_TRUE(base.sol.converged) << base.sol.failure;
    const CtgResult r = solve_contingency(net, base, CtgBlock{"C", "CLOSE LINE FROM BUS 3 TO BUS 4", 1}, opt, base.ws);
    ASSERT_EQ(r.status, CtgStatus::converged) << r.note;
    EXPECT_EQ(r.sol.sch.kind[net.index.at(4)], BusKind::pv);

    const Network closed = network_of(replaced(open, "0,0,0,0,0\n4, 5", "0,0,0,0,1\n4, 5"));
    ASSERT_EQ(slack_numbers(closed), std::vector<int>{1});
    const BaseCase whole = solve_base_case(closed, opt);
    ASSERT_TRUE(whole.sol.converged) << whole.sol.failure;
    EXPECT_LT(largest_difference(net, r.sol, closed, whole.sol), 1e-8);
}

namespace {

// The real executable in a fresh folder, run type 1, on `raw` with
// `options`; its exit status, stderr in `err`.
int run_solver(const std::string &raw, const std::string &options, std::string &err)
{
    char tmpl[] = "/tmp/auto_swing_test.XXXXXX";
    const fs::path root = ::mkdtemp(tmpl);
    fs::create_directories(root / "start");
    fs::create_directories(root / "work_dir");
    write_file(root / "work_dir/case_subctg0.con", "END\n");
    write_file(root / "work_dir/case.json", "{}");
    write_file(root / "work_dir/case.raw", raw);
    write_file(root / "start/options.json", options);
    const std::string cmd = "cd '" + (root / "start").string() + "' && " + paths::vandrelsolve +
                            " ../work_dir//case_subctg0.con ../work_dir//case.json ../work_dir//case.raw "
                            "../work_dir//.. 1 1 1 1 ./options.json ../work_dir/ >/dev/null 2>'" +
                            (root / "err").string() + "'";
    const int status = std::system(cmd.c_str());
    err = read_file(root / "err");
    fs::remove_all(root);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(AutoSwing, TheSolverWarnsOfEachSwingItChoosesAndRefusesWithoutTheOption)
{
    const std::string raw = "../work_dir//case.raw";
    std::string err;
    ASSERT_EQ(run_solver(islands, "{}\n", err), 0) << err;
    const std::string tail = " has no slack bus (IDE 3): bus ";
    EXPECT_EQ(err, "vandrelsolve: warning: " + raw + ":18: the island of bus 1" + tail +
                       "3 is its swing, the bus of its in-service unit of the largest PT (unit 'A', PT 250 MW)\n"
                       "vandrelsolve: warning: " +
                       raw + ":20: the island of bus 4" + tail +
                       "4 is its swing, the bus of its in-service unit of the largest PT (unit '1', PT 80 MW)\n"
                       "vandrelsolve: warning: the network is split; 2 bus(es) in islands without a slack bus are "
                       "left out: 6 7\n");
    EXPECT_EQ(run_solver(islands, R"({"auto_swing": false})", err), 1);
    EXPECT_EQ(err, "vandrelsolve: " + raw + ": no slack bus: no bus has IDE 3\n");
    EXPECT_EQ(run_solver(islands, R"({"auto_swing": 1})", err), 1);
    EXPECT_EQ(err, "vandrelsolve: ./options.json: option 'auto_swing' must be true or false\n");
}
