// A base case that does not solve from its start: the retries from the
// DC-angle start and by load scaling, the start that solved it named, and
// where none does, the largest loading fraction solved.

#include "helpers.h"
#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/state.h"
#include "raw/raw.h"
#include "raw/sections.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

namespace {

// A radial feeder: slack bus 1, then buses 2..5 in a chain of lines of
// 0.02 + j0.08 pu, a load of P + jP/4 at each of buses 2..5. The RAW's
// state at buses 2..5 is VM and VA (degrees).
std::string feeder(double p_mw, double vm, double va_deg)
{
    std::ostringstream s;
    s << "0, 100.00, 33, 0, 0, 60.00 / feeder\nFEEDER\nHAND WRITTEN\n";
    s << "1,'ONE', 138.0, 3, 1, 1, 1, 1.05, 0.0\n";
    for (int b = 2; b <= 5; ++b) {
        s << b << ",'B" << b << "', 138.0, 1, 1, 1, 1, " << vm << ", " << va_deg << "\n";
    }
    s << "0 / END OF BUS DATA, BEGIN LOAD DATA\n";
    for (int b = 2; b <= 5; ++b) {
        s << b << ",'1',1,1,1, " << p_mw << ", " << p_mw / 4 << ", 0,0,0,0, 1,1\n";
    }
    s << "0 / END OF LOAD DATA, BEGIN FIXED SHUNT DATA\n0 / END OF FIXED SHUNT DATA, BEGIN GENERATOR DATA\n";
    s << "1,'1', 0.0, 0.0, 9999.0, -9999.0, 1.05, 0, 100.0, 0,1,0,0,1,1,100, 9999, 0\n";
    s << "0 / END OF GENERATOR DATA, BEGIN BRANCH DATA\n";
    for (int b = 2; b <= 5; ++b) {
        s << b - 1 << ", " << b << ",'1', 0.02, 0.08, 0.0, 0, 0, 0\n";
    }
    s << "0 / END OF BRANCH DATA, BEGIN TRANSFORMER DATA\n0 / END OF TRANSFORMER DATA\n";
    for (int k = 0; k < 8; ++k) {
        s << "0\n";
    }
    s << "Q\n";
    return s.str();
}

Network network_of(const std::string &text)
{
    std::istringstream in(text);
    return build_network(parse_raw(in, "t.raw"));
}

// The load bus furthest from the slack, |V|.
double end_vm(const Network &net, const BaseCase &bc) { return bc.sol.v.vm[net.index.at(5)]; }

} // namespace

// 51 MW at each bus is near the feeder's nose: from a flat start Newton-
// Raphson needs 6 steps. Given 4, the flat start fails and load scaling
// from 10 % solves it, to the state the flat start reaches given 20.
TEST(HardStarts, AFlatStartThatFailsSolvesByLoadScaling)
{
    const Network net = network_of(feeder(51, 1.0, 0.0));
    PfOptions opt;
    opt.flat_start = true;
    const BaseCase direct = solve_base_case(net, opt);
    ASSERT_TRUE(direct.sol.converged) << direct.sol.failure;
    EXPECT_EQ(direct.start, "") << "a start that solves runs no retry";
    opt.max_iterations = 4;
    const BaseCase scaled = solve_base_case(net, opt);
    ASSERT_TRUE(scaled.sol.converged) << scaled.sol.failure;
    EXPECT_EQ(scaled.start, "load scaling from 10 %");
    EXPECT_NEAR(end_vm(net, scaled), end_vm(net, direct), 1e-7);
    EXPECT_LT(end_vm(net, direct), 0.8) << "the case is heavily loaded";
    opt.max_iterations = 3;
    EXPECT_EQ(solve_base_case(net, opt).start, "load scaling from 2 %");
}

// From a RAW state far from any solution the DC-angle start is tried
// first; where it fails too, load scaling.
TEST(HardStarts, ARawStartThatFailsSolvesFromDcAngles)
{
    const Network net = network_of(feeder(51, 0.3, 150.0));
    PfOptions opt;
    opt.max_iterations = 6;
    const BaseCase dc = solve_base_case(net, opt);
    ASSERT_TRUE(dc.sol.converged) << dc.sol.failure;
    EXPECT_EQ(dc.start, "DC angles");
    opt.max_iterations = 4;
    const BaseCase scaled = solve_base_case(net, opt);
    ASSERT_TRUE(scaled.sol.converged) << scaled.sol.failure;
    EXPECT_EQ(scaled.start, "load scaling from 10 %");
    EXPECT_NEAR(end_vm(net, scaled), end_vm(net, dc), 1e-7);
}

// Beyond the nose no start solves. The message gives the largest loading
// fraction solved (to the last step, below 1 %); the feeder loaded to that
// fraction solves, and loaded 2 % beyond it does not.
TEST(HardStarts, ACaseBeyondItsNoseGivesTheLargestFractionSolved)
{
    PfOptions opt;
    const BaseCase bc = solve_base_case(network_of(feeder(60, 1.0, 0.0)), opt);
    ASSERT_FALSE(bc.sol.converged);
    const std::string failure = bc.sol.failure;
    const std::string head = "; it solved neither from DC angles nor by load scaling (at most ";
    const std::size_t at = failure.find(head);
    ASSERT_NE(at, std::string::npos) << failure;
    const std::string tail = " % of the load solves)";
    EXPECT_EQ(failure.substr(failure.size() - tail.size()), tail) << failure;
    const double fraction = std::stod(failure.substr(at + head.size())) / 100;
    EXPECT_GT(fraction, 0.8) << failure;
    EXPECT_LT(fraction, 1.0) << failure;
    opt.flat_start = true;
    const BaseCase at_fraction = solve_base_case(network_of(feeder(60 * fraction, 1.0, 0.0)), opt);
    EXPECT_TRUE(at_fraction.sol.converged) << at_fraction.sol.failure;
    const BaseCase beyond = solve_base_case(network_of(feeder(60 * (fraction + 0.02), 1.0, 0.0)), opt);
    EXPECT_FALSE(beyond.sol.converged);
    EXPECT_NE(beyond.sol.failure.find("; load scaling did not solve it either (at most "), std::string::npos)
        << beyond.sol.failure;
}
