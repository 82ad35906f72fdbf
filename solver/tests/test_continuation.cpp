// Outages with no operating point: networks whose answer is known in closed
// form (a load past its nose, a constant-current load out of reach), real
// outages that collapse, and the continuation's own states checked against
// the network edited by hand to the same fraction of the outage.

#include "contingency/contingency.h"
#include "network/build.h"
#include "network/ybus.h"
#include "powerflow/base_case.h"
#include "powerflow/continuation.h"
#include "powerflow/newton.h"
#include "raw/sections.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

namespace {

// Bus 1 (the slack, 1 pu) feeds bus 2 through lines 1 and 2 (R = 0) whose
// reactances are x1 and x2 pu; bus 2 draws `load` (a load record's fields
// from PL on: PL, QL, IP, IQ, YP, YQ).
std::string two_lines(double x1, double x2, const std::string &load)
{
    char lines[200];
    std::snprintf(lines, sizeof lines, "1,2,'1',0.0,%.17g,0.0\n1,2,'2',0.0,%.17g,0.0\n", x1, x2);
    return "0, 100.0, 33 / two lines\nheading\n\n"
           "1,'SOURCE',138.0,3\n"
           "2,'LOAD',138.0,1\n"
           "0 / END OF BUS DATA\n"
           "2,'1',1,1,1," +
           load +
           "\n"
           "0 / END OF LOAD DATA\n"
           "0 / END OF FIXED SHUNT DATA\n"
           "1,'1',0.0,0.0,9999.0,-9999.0,1.0\n"
           "0 / END OF GENERATOR DATA\n" +
           lines +
           "0 / END OF BRANCH DATA\n"
           "0 / END OF TRANSFORMER DATA\n"
           "0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n"
           "Q\n";
}

Network network_of(const std::string &raw_text)
{
    std::istringstream in(raw_text);
    return build_network(parse_raw(in, "test.raw"));
}

CtgResult outage(const Network &net, const std::string &element, const PfOptions &opt = PfOptions())
{
    BaseCase base = solve_base_case(net, opt);
    EXPECT_TRUE(base.sol.converged) << base.sol.failure;
    return solve_contingency(net, base, CtgBlock{"OUT", element, 1}, opt, base.ws);
}

// The fraction a note gives as "solvable to λ = 0.415", −1 without one.
double fraction_in(const std::string &note)
{
    const std::string key = "solvable to λ = ";
    const size_t at = note.find(key);
    return at == std::string::npos ? -1 : std::stod(note.substr(at + key.size()));
}

// The largest mismatch of `net` at a state (its voltages and schedule).
double mismatch_of(const Network &net, const PfSolution &s)
{
    const Ybus y = make_ybus(net, branches_in_service(net));
    NewtonWorkspace ws = make_workspace(y, net);
    int worst = -1;
    return mismatch(net, y, s.sch, s.v, ws, worst);
}

} // namespace

// Two lines of x = 0.5 pu feed a load of p pu at unity power factor. With a
// fraction λ of line 2 opened, X = x/(2 − λ), and the most the lines carry
// at 1 pu sending voltage is 1/(2X): the outage is solvable up to
// λ = 2 − 2·x·p. For p = 1.2 that is 0.8; for p = 0.98 it is beyond 1.
TEST(Continuation, FindsTheNoseOfALoadFedByTwoLines)
{
    const Network past = network_of(two_lines(0.5, 0.5, "120.0,0.0"));
    const CtgResult r = outage(past, "OPEN LINE FROM BUS 1 TO BUS 2 CKT 2");
    ASSERT_EQ(r.status, CtgStatus::no_solution) << r.note;
    EXPECT_LE(r.solvable_fraction, 0.8);
    EXPECT_GE(r.solvable_fraction, 0.8 - continuation_resolution);
    EXPECT_NE(r.note.find("weak spot: bus 2 at "), std::string::npos) << r.note;
    EXPECT_DOUBLE_EQ(fraction_in(r.note), std::round(r.solvable_fraction * 1000) / 1000);
    // Near the nose |V2|² = (1 + √(1 − 4·p²·X²))/2 nears 1/2.
    EXPECT_GT(r.sol.v.vm[1], std::sqrt(0.5));
    EXPECT_LT(r.sol.v.vm[1], 0.8);

    const Network below = network_of(two_lines(0.5, 0.5, "98.0,0.0"));
    const CtgResult b = outage(below, "OPEN LINE FROM BUS 1 TO BUS 2 CKT 2");
    ASSERT_EQ(b.status, CtgStatus::converged) << b.note;
    EXPECT_EQ(b.solvable_fraction, 1);
    const double px = 0.98 * 0.5;
    EXPECT_NEAR(b.sol.v.vm[1], std::sqrt((1 + std::sqrt(1 - 4 * px * px)) / 2), 1e-8);
}

// The state where the path stopped solves the network edited by hand to
// that fraction of the outage: line 2's reactance x/(1 − λ).
TEST(Continuation, StopsAtAStateOfTheOutageAppliedInPart)
{
    const Network net = network_of(two_lines(0.5, 0.5, "120.0,0.0"));
    const CtgResult r = outage(net, "OPEN LINE FROM BUS 1 TO BUS 2 CKT 2");
    ASSERT_EQ(r.status, CtgStatus::no_solution) << r.note;
    const double lambda = r.solvable_fraction;
    const Network part = network_of(two_lines(0.5, 0.5 / (1 - lambda), "120.0,0.0"));
    EXPECT_LT(mismatch_of(part, r.sol), 1e-7);

    // Plain Newton-Raphson on the edited network from the base case's start
    // reaches the same state.
    const BaseCase plain = solve_base_case(part, PfOptions());
    ASSERT_TRUE(plain.sol.converged) << plain.sol.failure;
    EXPECT_NEAR(plain.sol.v.vm[1], r.sol.v.vm[1], 1e-7);
    EXPECT_NEAR(plain.sol.v.va[1], r.sol.v.va[1], 1e-7);
}

// A constant-current load (S = IP·|V|) left behind a 1000 pu line: V = 0
// solves its equations, no operating point does. With a fraction λ of the
// 0.1 pu line opened, X = 1/(10·(1 − λ) + 0.001), and |V2| = cos δ with
// sin δ = IP·X: |V2| stays at 0.5 or above up to X = √3/2 / IP.
TEST(Continuation, NeverCallsACollapsedBusConverged)
{
    const Network net = network_of(two_lines(0.1, 1000.0, "0.0,0.0,50.0,0.0"));
    const CtgResult r = outage(net, "OPEN LINE FROM BUS 1 TO BUS 2 CKT 1");
    ASSERT_TRUE(r.status == CtgStatus::no_solution || r.status == CtgStatus::unrealistic) << r.note;
    const double x_max = std::sqrt(3.0) / 2 / 0.5;
    const double lambda_max = 1 - (1 / x_max - 0.001) / 10;
    const double lambda = fraction_in(r.note);
    EXPECT_LE(lambda, lambda_max + 5e-4) << r.note;
    EXPECT_GE(lambda, lambda_max - continuation_resolution) << r.note;
    EXPECT_NE(r.note.find("weak spot: bus 2 at "), std::string::npos) << r.note;
    if (r.status == CtgStatus::unrealistic) {
        EXPECT_EQ(r.note.find("unrealistic: bus 2 at "), 0U) << r.note;
        EXPECT_LT(r.solvable_fraction, 0);
    }
}

// Reactances of 2e-4 and 200 pu side by side: the Jacobian's entries span
// six orders of magnitude. Opening the 200 pu line leaves a solution;
// opening the other leaves 60 MW that 200 pu can not carry (at most
// 1/(2·200) pu), and the path follows the 2e-4 pu line out to within
// a thousandth of its end.
TEST(Continuation, FollowsAnIllConditionedNetwork)
{
    const Network net = network_of(two_lines(2e-4, 200.0, "60.0,20.0"));
    const CtgResult b = outage(net, "OPEN LINE FROM BUS 1 TO BUS 2 CKT 2");
    ASSERT_EQ(b.status, CtgStatus::converged) << b.note;
    EXPECT_NEAR(b.sol.v.vm[1], 1.0, 1e-3);
    const CtgResult r = outage(net, "OPEN LINE FROM BUS 1 TO BUS 2 CKT 1");
    ASSERT_EQ(r.status, CtgStatus::no_solution) << r.note;
    EXPECT_GT(r.solvable_fraction, 0.99);
}

// The realistic range is an option: with it narrowed to exclude the
// answer, a solved outage is no operating point.
TEST(Continuation, HoldsSolvedStatesToTheRealisticRange)
{
    const Network net = network_of(two_lines(0.5, 0.5, "98.0,0.0"));
    PfOptions opt;
    opt.min_realistic_vm_pu = 0.8; // the outage's |V2| is 0.774
    const CtgResult r = outage(net, "OPEN LINE FROM BUS 1 TO BUS 2 CKT 2", opt);
    EXPECT_TRUE(r.status == CtgStatus::no_solution || r.status == CtgStatus::unrealistic) << r.note;
    EXPECT_NE(r.note.find("weak spot: bus 2"), std::string::npos) << r.note;
    const Voltages v{Eigen::Vector2d(1.0, 0.79), Eigen::Vector2d(0.0, 0.0)};
    BusSchedule sch;
    sch.kind = {BusKind::slack, BusKind::pq};
    EXPECT_EQ(unrealistic_bus(sch, v, opt), 1);
    sch.kind[1] = BusKind::off;
    EXPECT_EQ(unrealistic_bus(sch, v, opt), -1);
}

// Real outages: a transformer whose load is left behind a path that can
// not carry it solves only to |V| ≈ 0 (as the equations allow with
// constant-current load); IEEE 14's line 1-2 has no solution (an
// established open-source tool fails on it too), and the path's state
// solves the case edited by hand to that fraction of the outage.
TEST(Continuation, TellsRealCollapsesApart)
{
    REQUIRE_RAWFILES();
    const Network wecc = build_network(read_raw(rawfiles_dir() + "/gridpack/240busWECC_2018_PSS_fixedshunt.raw"));
    for (const auto &[from, to] : {std::pair{8004, 8034}, std::pair{1303, 1333}}) {
        const CtgResult r = outage(wecc, "OPEN BRANCH FROM BUS " + std::to_string(from) + " TO BUS " +
                                             std::to_string(to) + " CIRCUIT 1");
        EXPECT_NE(r.status, CtgStatus::converged) << r.note;
        EXPECT_NE(r.note.find("weak spot: bus " + std::to_string(from)), std::string::npos) << r.note;
    }

    REQUIRE_CASES();
    RawCase raw = read_raw(cases_dir() + "/ieee14/case.raw");
    const CtgResult r = outage(build_network(raw), "OPEN BRANCH FROM BUS 1 TO BUS 2 CIRCUIT 1");
    ASSERT_EQ(r.status, CtgStatus::no_solution) << r.note;
    EXPECT_GT(r.solvable_fraction, 0.5);
    EXPECT_LT(r.solvable_fraction, 1);
    Branch &br = raw.branches.front();
    ASSERT_TRUE(br.from == 1 && br.to == 2);
    const double keep = 1 - r.solvable_fraction;
    br.r /= keep;
    br.x /= keep;
    br.b *= keep;
    EXPECT_LT(mismatch_of(build_network(raw), r.sol), 1e-7);
}
