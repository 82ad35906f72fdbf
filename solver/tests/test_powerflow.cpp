// Validation of the base-case power flow against solutions it did not make:
// the reference solutions of an established open-source tool, and the
// solved states that the RAW files store.

#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/flows.h"
#include "powerflow/newton.h"
#include "powerflow/state.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "test_data.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

struct Point {
    double vm, va_deg;
};

// bus -> (vm, va) from a reference base.csv (bus,vm,va_deg).
std::map<int, Point> read_reference(const std::string &path)
{
    std::ifstream in(path);
    std::map<int, Point> ref;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream s(line);
        int bus = 0;
        char c1 = 0, c2 = 0;
        Point p{};
        if (s >> bus >> c1 >> p.vm >> c2 >> p.va_deg) {
            ref[bus] = p;
        }
    }
    return ref;
}

BaseCase solve(const Network &net, bool flat)
{
    PfOptions opt;
    opt.flat_start = flat;
    return solve_base_case(net, opt);
}

// Largest differences between a solution and reference points, angles taken
// relative to the slack bus of each; buses in `skip` are left out.
struct Diff {
    double vm = 0, va_deg = 0;
    int compared = 0;
};
Diff compare(const Network &net, const BaseCase &bc, const std::map<int, Point> &ref, int skip = 0)
{
    Diff d;
    const double slack_sol = bc.sol.v.va[net.slack] * 180 / M_PI;
    const double slack_ref = ref.at(net.buses[net.slack].number).va_deg;
    for (int i = 0; i < net.raw_buses; ++i) {
        const int bus = net.buses[i].number;
        auto it = ref.find(bus);
        if (bus == skip || it == ref.end() || bc.sol.sch.kind[i] == BusKind::off) {
            continue;
        }
        d.vm = std::max(d.vm, std::abs(bc.sol.v.vm[i] - it->second.vm));
        const double va = bc.sol.v.va[i] * 180 / M_PI - slack_sol;
        d.va_deg = std::max(d.va_deg, std::abs(va - (it->second.va_deg - slack_ref)));
        ++d.compared;
    }
    return d;
}

const char *const reference_cases[] = {"ieee14",     "ieee30",       "ieee57",       "ieee118",
                                       "activsg200", "activsg500",   "activsg2000",  "go_network01",
                                       "go_617",     "go_ieee14_s1", "go_ieee14_s5", "activsg10k"};

} // namespace

// Every case with a reference solution, from the RAW state and from a flat
// start: within 1e-6 pu and 1e-4 degrees at every energised bus. The
// references hold every unit at its own terminal.
TEST(BaseCase, MatchesTheReferenceSolutions)
{
    REQUIRE_CASES();
    for (const char *name : reference_cases) {
        const std::string dir = cases_dir() + "/" + name;
        const std::map<int, Point> ref = read_reference(dir + "/reference/base.csv");
        const Network net = build_network(read_raw(dir + "/case.raw"), default_zero_impedance_threshold_pu, false);
        for (bool flat : {false, true}) {
            SCOPED_TRACE(std::string(name) + (flat ? " from a flat start" : " from the RAW state"));
            const BaseCase bc = solve(net, flat);
            ASSERT_TRUE(bc.sol.converged) << bc.sol.failure;
            EXPECT_LE(bc.sol.last.max_mismatch, 1e-8);
            const Diff d = compare(net, bc, ref);
            EXPECT_EQ(d.compared, static_cast<int>(ref.size())) << "every reference bus is solved, and no other";
            EXPECT_LE(d.vm, 1e-6);
            EXPECT_LE(d.va_deg, 1e-4);
        }
    }
}

// Cases whose RAW stores a solved state: from a flat start the solution is
// that state to the rounding of the file, go_617's bus 582 included: its
// unit holds bus 579 at VS (IREG), as the state was solved.
TEST(BaseCase, MatchesTheSolvedStatesOfTheRawFiles)
{
    REQUIRE_CASES();
    for (const char *name :
         {"ieee14", "ieee30", "ieee57", "ieee118", "activsg200", "activsg500", "activsg2000", "go_617"}) {
        SCOPED_TRACE(name);
        const RawCase raw = read_raw(cases_dir() + "/" + name + "/case.raw");
        std::map<int, Point> stored;
        for (const Bus &b : raw.buses) {
            stored[b.number] = {b.vm, b.va_deg};
        }
        const Network net = build_network(raw);
        const BaseCase bc = solve(net, true);
        ASSERT_TRUE(bc.sol.converged) << bc.sol.failure;
        const Diff d = compare(net, bc, stored);
        EXPECT_LE(d.vm, 1e-4);
        EXPECT_LE(d.va_deg, 0.02);
        std::printf("%s: %.2e pu, %.2e deg\n", name, d.vm, d.va_deg);
    }
}

// The isolated bus 42 of the GO 14-bus cases goes with everything on it,
// even what is marked in service, and the rest solves.
TEST(BaseCase, DropsAnIsolatedBusWithWhatHangsOnIt)
{
    REQUIRE_CASES();
    for (const char *name : {"go_ieee14_s1", "go_ieee14_s5"}) {
        SCOPED_TRACE(name);
        const Network net = build_network(read_raw(cases_dir() + "/" + name + "/case.raw"));
        EXPECT_EQ(net.isolated_dropped, 1);
        EXPECT_EQ(net.index.count(42), 0U);
        for (const NetBranch &br : net.branches) {
            EXPECT_NE(br.from_bus, 42);
            EXPECT_NE(br.to_bus, 42);
        }
        for (const NetUnit &u : net.units) {
            EXPECT_NE(net.buses[u.bus].number, 42);
        }
        EXPECT_TRUE(solve(net, false).sol.converged);
    }
}

// A slack bus with no unit in service is an ideal source at its RAW voltage
// and angle: the same solution as the slack's unit holding that voltage with
// Q unlimited.
TEST(BaseCase, ASlackWithoutUnitIsAnIdealSource)
{
    RawCase with_unit = read_raw(std::string(paths::solver_test_data) + "/revisions/six_bus_v33.raw");
    RawCase without = with_unit;
    const auto slack =
        std::find_if(with_unit.buses.begin(), with_unit.buses.end(), [](const Bus &b) { return b.ide == 3; });
    ASSERT_NE(slack, with_unit.buses.end());
    for (Unit &u : without.units) {
        if (u.bus == slack->number) {
            without.buses[static_cast<std::size_t>(slack - with_unit.buses.begin())].vm = u.vs;
            u.status = 0;
        }
    }
    const Network a = build_network(with_unit);
    const Network b = build_network(without);
    EXPECT_FALSE(a.buses[a.slack].ideal_source);
    EXPECT_TRUE(b.buses[b.slack].ideal_source);
    const BaseCase sa = solve(a, true);
    const BaseCase sb = solve(b, true);
    ASSERT_TRUE(sa.sol.converged && sb.sol.converged);
    for (int i = 0; i < a.raw_buses; ++i) {
        EXPECT_NEAR(sa.sol.v.vm[i], sb.sol.v.vm[i], 1e-12) << "bus " << a.buses[i].number;
        EXPECT_NEAR(sa.sol.v.va[i], sb.sol.v.va[i], 1e-12) << "bus " << a.buses[i].number;
    }
}

// Inside a solve, a mismatch after a few buses moved updates Ybus·V by
// their columns; it must give what a whole product gives. Outside a solve
// nothing is carried: a Ybus changed in place between two calls is used
// as it is then.
TEST(Mismatch, UpdatedByTheBusesThatMovedAsByAWholeProduct)
{
    REQUIRE_CASES();
    const Network net = build_network(read_raw(cases_dir() + "/activsg200/case.raw"));
    BaseCase bc = solve(net, false);
    ASSERT_TRUE(bc.sol.converged);
    const auto whole = [&](const Ybus &y, const Voltages &v) {
        NewtonWorkspace fresh = make_workspace(y, net);
        int worst = -1;
        mismatch(net, y, bc.sol.sch, v, fresh, worst);
        return Eigen::VectorXd(fresh.f);
    };
    NewtonWorkspace &ws = bc.ws;
    Voltages v = bc.sol.v;
    int worst = -1;
    ws.vc_at = Voltages{};
    ws.in_solve = true;
    mismatch(net, bc.y, bc.sol.sch, v, ws, worst);
    for (const int i : {3, 17, 101}) {
        v.vm[i] += 0.01 * i / 101.0;
        v.va[i] -= 0.02;
    }
    mismatch(net, bc.y, bc.sol.sch, v, ws, worst);
    EXPECT_EQ(ws.moved.size(), 3U);
    EXPECT_LE((ws.f - whole(bc.y, v)).cwiseAbs().maxCoeff(), 1e-12);
    ws.in_solve = false;
    ws.current_of = nullptr;

    mismatch(net, bc.y, bc.sol.sch, v, ws, worst);
    bc.y.coeffRef(5, 5) += std::complex<double>(0.0, 0.5); // a shunt switched in place
    v.vm[7] += 0.01;
    mismatch(net, bc.y, bc.sol.sch, v, ws, worst);
    EXPECT_LE((ws.f - whole(bc.y, v)).cwiseAbs().maxCoeff(), 1e-12);
}

// A step turns each bus's complex voltage by its change of angle and
// scales it by its change of |V|, two buses at a time where both angles
// moved little, one at a time elsewhere: every bus must end where
// std::polar puts its new |V| and angle, in an odd number of buses (the
// last taken alone), beside a bus whose angle moved far or whose |V| was 0.
TEST(Step, TurnsEveryComplexVoltageAsPolarWould)
{
    const Eigen::Index n = 7;
    Voltages v;
    v.vm.resize(n);
    v.va.resize(n);
    NewtonWorkspace ws;
    ws.vc.resize(n);
    ws.dx.resize(2 * n);
    for (Eigen::Index i = 0; i < n; ++i) {
        v.vm[i] = 0.95 + 0.01 * static_cast<double>(i);
        v.va[i] = -0.3 + 0.1 * static_cast<double>(i);
        ws.dx[i] = 1e-3 * static_cast<double>(i % 3) - 1e-3; // the angle's step
        ws.dx[n + i] = 2e-3 * static_cast<double>(i % 2);    // |V|'s
    }
    ws.dx[3] = 0.2; // far: bus 2 goes with it, one at a time
    v.vm[5] = 0.0;  // a bus at 0 takes its voltage afresh
    for (Eigen::Index i = 0; i < n; ++i) {
        ws.vc[i] = std::polar(v.vm[i], v.va[i]);
    }
    const Voltages before = v;
    take_step(v, ws);
    for (Eigen::Index i = 0; i < n; ++i) {
        EXPECT_EQ(v.va[i], before.va[i] - ws.dx[i]) << "bus " << i;
        EXPECT_EQ(v.vm[i], before.vm[i] - ws.dx[n + i]) << "bus " << i;
        EXPECT_LE(std::abs(ws.vc[i] - std::polar(v.vm[i], v.va[i])), 1e-15) << "bus " << i;
    }
    EXPECT_TRUE(ws.vc_at.vm == v.vm && ws.vc_at.va == v.va);
}

// The loading check from the base case's table of branches finds what it
// finds from the branches themselves, to the bit, phase shifters included
// (go_617); a table of another rating set is not used.
TEST(Assess, FromTheTableOfBranchesAsFromTheBranches)
{
    REQUIRE_CASES();
    for (const char *name : {"go_617", "activsg2000"}) {
        const Network net = build_network(read_raw(cases_dir() + "/" + name + "/case.raw"));
        PfOptions opt;
        opt.contingency_rating = 1; // RATEA: the set both cases fill
        const BaseCase bc = solve_base_case(net, opt);
        ASSERT_TRUE(bc.sol.converged) << name;
        for (const int set : {1, 3}) {
            const Assessment want = assess(net, bc.on, bc.sol, set, true);
            const Assessment got = assess(net, bc.on, bc.sol, set, true, -1, nullptr, &bc.flows);
            EXPECT_TRUE(set != 1 || want.max_loading > 0.0) << name;
            EXPECT_EQ(got.max_loading, want.max_loading) << name << " set " << set;
            EXPECT_EQ(got.max_loading_branch, want.max_loading_branch) << name << " set " << set;
            EXPECT_EQ(got.overloads, want.overloads) << name << " set " << set;
            ASSERT_EQ(got.violations.size(), want.violations.size()) << name << " set " << set;
            for (std::size_t k = 0; k < got.violations.size(); ++k) {
                EXPECT_EQ(got.violations[k].element, want.violations[k].element) << name;
                EXPECT_EQ(got.violations[k].value, want.violations[k].value) << name;
            }
        }
    }
}
