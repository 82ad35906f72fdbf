// Validation of the contingency solutions against the reference results of
// an established open-source tool: status, every bus's voltage, the highest
// loading and what an outage cuts off.

#include "contingency/contingency.h"
#include "helpers.h"
#include "network/build.h"
#include "network/islands.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/control_loop.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "test_data.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

double angle_deg(const PfSolution &s, int i) { return s.v.va[i] * 180.0 / M_PI; }

// A note with its iteration counts put as "N": the fast path and plain
// Newton-Raphson take different steps to the same outcome.
std::string reason(const CtgResult &r)
{
    return std::regex_replace(r.note, std::regex(" [0-9]+ iteration"), " N iteration");
}

} // namespace

// Every block of every case with contingency references. The loading is
// measured against RATE A, as in the references.
TEST(Contingencies, MatchTheReferenceResults)
{
    REQUIRE_CASES();
    for (const char *name : {"ieee14", "ieee118", "activsg200", "go_ieee14_s1"}) {
        SCOPED_TRACE(name);
        const std::string dir = cases_dir() + "/" + name;
        const Network net = build_network(read_raw(dir + "/case.raw"));
        PfOptions opt;
        opt.contingency_rating = 1;
        BaseCase base = solve_base_case(net, opt);
        ASSERT_TRUE(base.sol.converged);

        std::map<std::string, std::map<int, std::pair<double, double>>> ref_v;
        for (const auto &f : read_csv(dir + "/reference/ctg_v.csv")) {
            ref_v[f[0]][std::stoi(f[1])] = {std::stod(f[2]), std::stod(f[3])};
        }
        const auto ref = read_csv(dir + "/reference/ctg.csv");
        const std::vector<CtgBlock> blocks = read_ctg_blocks(dir + "/case.con");
        ASSERT_EQ(blocks.size(), ref.size());
        for (size_t n = 0; n < blocks.size(); ++n) {
            const auto &f = ref[n];
            SCOPED_TRACE(blocks[n].label);
            ASSERT_EQ(f[0], blocks[n].label);
            const CtgResult r = solve_contingency(net, base, blocks[n], opt, base.ws);
            // Where the reference failed, so do we: with no operating point.
            const char *want = f[1] == "1" ? "converged" : f[1] == "0" ? "no_solution" : "not_found";
            EXPECT_STREQ(status_name(r.status), want) << r.note;
            if (f[1] != "-2") {
                EXPECT_EQ(r.buses_cut_off, std::stoi(f[9]));
                EXPECT_NEAR(r.load_cut_off_mw, std::stod(f[10]), 1e-6);
            }
            if (r.status != CtgStatus::converged || f[1] != "1") {
                continue;
            }
            if (f[7].empty()) {
                EXPECT_LT(r.assessment.max_loading, 0);
            } else {
                EXPECT_NEAR(r.assessment.max_loading, std::stod(f[7]), 1e-4);
                EXPECT_EQ(r.assessment.max_loading_branch, f[8]);
            }
            const auto &buses = ref_v.at(f[0]);
            int energised = 0;
            double dvm = 0, dva = 0;
            for (int i = 0; i < net.raw_buses; ++i) {
                if (r.sol.sch.kind[i] == BusKind::off) {
                    continue;
                }
                ++energised;
                const auto it = buses.find(net.buses[i].number);
                ASSERT_NE(it, buses.end()) << "bus " << net.buses[i].number << " is not energised in the reference";
                dvm = std::max(dvm, std::abs(r.sol.v.vm[i] - it->second.first));
                dva = std::max(dva, std::abs(angle_deg(r.sol, i) - it->second.second));
            }
            EXPECT_EQ(energised, static_cast<int>(buses.size()));
            EXPECT_LE(dvm, 1e-6);
            EXPECT_LE(dva, 1e-4);
        }
    }
}

// The 10,000-bus case's reference covers the first 58 blocks of its list,
// with no bus voltages: status, what each cuts off, the lowest and highest
// voltage with their buses (1e-6 pu) and the highest loading (RATE A).
TEST(Contingencies, MatchTheReferenceAtTenThousandBuses)
{
    REQUIRE_CASES();
    const std::string dir = cases_dir() + "/activsg10k";
    const Network net = build_network(read_raw(dir + "/case.raw"));
    PfOptions opt;
    opt.contingency_rating = 1;
    BaseCase base = solve_base_case(net, opt);
    ASSERT_TRUE(base.sol.converged);
    const auto ref = read_csv(dir + "/reference/ctg.csv");
    const std::vector<CtgBlock> blocks = read_ctg_blocks(dir + "/case.con");
    ASSERT_EQ(ref.size(), 58U);
    for (size_t n = 0; n < ref.size(); ++n) {
        const auto &f = ref[n];
        SCOPED_TRACE(blocks[n].label);
        ASSERT_EQ(f[0], blocks[n].label);
        const CtgResult r = solve_contingency(net, base, blocks[n], opt, base.ws);
        ASSERT_STREQ(status_name(r.status), f[1] == "1" ? "converged" : "no_solution") << r.note;
        EXPECT_EQ(r.buses_cut_off, std::stoi(f[9]));
        EXPECT_NEAR(r.load_cut_off_mw, std::stod(f[10]), 1e-6);
        if (r.status != CtgStatus::converged) {
            continue;
        }
        const Assessment &a = r.assessment;
        EXPECT_NEAR(a.min_vm, std::stod(f[3]), 1e-6);
        EXPECT_EQ(a.min_vm_bus, std::stoi(f[4]));
        EXPECT_NEAR(a.max_vm, std::stod(f[5]), 1e-6);
        EXPECT_EQ(a.max_vm_bus, std::stoi(f[6]));
        EXPECT_NEAR(a.max_loading, std::stod(f[7]), 1e-4);
        EXPECT_EQ(a.max_loading_branch, f[8]);
    }
}

// The fast path (chord steps on the base case's factors) and plain
// Newton-Raphson reach the same solution for every block of a case: the
// same status and what it cuts off, notes that differ at most in the
// iterations each gives (its row's), every bus voltage within the
// validation tolerances (1e-6 pu, 1e-4 degrees). go_network01's list opens
// transformers and units too; it is solved once more with its switched
// shunts adjusted in every contingency (options "all"). Of activsg10k's
// 11,806 blocks every 197th (60); its outages change the kind of up to 200
// buses, where the fast path goes on with chord steps on a solve's own
// factors, and at least one of the sample must.
TEST(Contingencies, ChordStepsAndNewtonAgree)
{
    REQUIRE_CASES();
    PfOptions adjusted;
    adjusted.adjust_taps = adjusted.adjust_phase_shifters = adjusted.adjust_switched_shunts = ControlMode::all;
    struct Run {
        const char *name;
        PfOptions opt;
        std::size_t stride = 1; // every block, or every stride-th
    };
    const std::vector<Run> runs = {
        {"ieee118", PfOptions{}}, {"activsg200", PfOptions{}}, {"go_network01", PfOptions{}},   {"ieee57", PfOptions{}},
        {"ieee300", PfOptions{}}, {"go_network01", adjusted},  {"activsg10k", PfOptions{}, 197}};
    for (const auto &[name, opt, stride] : runs) {
        SCOPED_TRACE(name);
        const std::string dir = cases_dir() + "/" + name;
        Network net_fast = build_network(read_raw(dir + "/case.raw"));
        Network net_plain = net_fast;
        ControlsOutcome out;
        BaseCase fast = solve_base_case_with_controls(net_fast, opt, out);
        BaseCase plain = solve_base_case_with_controls(net_plain, opt, out);
        ASSERT_TRUE(fast.sol.converged);
        ASSERT_FALSE(fast.chord.lu.empty());
        plain.chord.lu = LuFactors{}; // no base factors: Newton-Raphson only
        int chord_steps = 0;
        int own_factors = 0; // solves that went on with chord steps on their own factors
        const std::vector<CtgBlock> blocks = read_ctg_blocks(dir + "/case.con");
        for (std::size_t n = 0; n < blocks.size(); n += stride) {
            const CtgBlock &b = blocks[n];
            SCOPED_TRACE(b.label);
            const CtgResult f = solve_contingency(net_fast, fast, b, opt, fast.ws);
            const CtgResult p = solve_contingency(net_plain, plain, b, opt, plain.ws);
            chord_steps += f.sol.chord_steps;
            own_factors += f.sol.factorizations > 0 && f.sol.chord_steps > f.sol.factorizations ? 1 : 0;
            EXPECT_EQ(p.sol.chord_steps, 0);
            ASSERT_EQ(f.status, p.status) << f.note << " / " << p.note;
            EXPECT_EQ(f.buses_cut_off, p.buses_cut_off);
            EXPECT_EQ(reason(f), reason(p)) << f.note << " / " << p.note;
            if (f.status != CtgStatus::converged) {
                continue;
            }
            EXPECT_EQ(f.sol.held, p.sol.held);
            EXPECT_LE((f.sol.v.vm - p.sol.v.vm).cwiseAbs().maxCoeff(), 1e-6);
            EXPECT_LE((f.sol.v.va - p.sol.v.va).cwiseAbs().maxCoeff() * 180.0 / M_PI, 1e-4);
            EXPECT_EQ(f.assessment.violations.size(), p.assessment.violations.size());
        }
        EXPECT_GT(chord_steps, 0);
        if (stride > 1) {
            EXPECT_GT(own_factors, 0);
        }
    }
}

// What the base case's chord corrections keep between contingencies (the
// rows of G and H for a change of kind at a bus, and their products in S)
// is the same whichever outage took it first: every 60th block of
// activsg2000, solved in list order on one base case and in reverse on
// another, gives the same voltages to the last bit.
TEST(Contingencies, KeptCorrectionsDoNotDependOnWhichOutageTookThem)
{
    REQUIRE_CASES();
    const std::string dir = cases_dir() + "/activsg2000";
    const Network net = build_network(read_raw(dir + "/case.raw"));
    BaseCase forward = solve_base_case(net, PfOptions());
    BaseCase reverse = solve_base_case(net, PfOptions());
    ASSERT_TRUE(forward.sol.converged);
    const std::vector<CtgBlock> blocks = read_ctg_blocks(dir + "/case.con");
    std::vector<CtgBlock> sample;
    for (std::size_t n = 0; n < blocks.size(); n += 60) {
        sample.push_back(blocks[n]);
    }
    std::vector<CtgResult> first;
    int changes = 0;
    for (const CtgBlock &b : sample) {
        first.push_back(solve_contingency(net, forward, b, PfOptions(), forward.ws));
        changes += first.back().sol.q_changes;
    }
    EXPECT_GT(changes, static_cast<int>(sample.size())); // the kept corrections are used
    for (std::size_t n = sample.size(); n-- > 0;) {
        SCOPED_TRACE(sample[n].label);
        const CtgResult r = solve_contingency(net, reverse, sample[n], PfOptions(), reverse.ws);
        ASSERT_EQ(r.status, first[n].status);
        EXPECT_EQ(r.iterations, first[n].iterations);
        EXPECT_EQ(r.sol.v.vm, first[n].sol.v.vm);
        EXPECT_EQ(r.sol.v.va, first[n].sol.v.va);
    }
}

// A branch is flagged a bridge exactly when opening it alone adds an
// island: checked against an island search per branch, on cases with
// parallel circuits, 3-winding units and radial ends.
TEST(Contingencies, BridgesAreTheBranchesWhoseOutageSplitsTheNetwork)
{
    REQUIRE_CASES();
    for (const char *name : {"ieee118", "activsg200", "go_network01", "activsg500"}) {
        SCOPED_TRACE(name);
        const Network net = build_network(read_raw(cases_dir() + "/" + name + "/case.raw"));
        std::vector<char> on = branches_in_service(net);
        std::vector<BusKind> kind;
        for (const NetBus &b : net.buses) {
            kind.push_back(b.kind);
        }
        std::vector<int> island;
        std::vector<int> island_all;
        const BusBranches all = bus_branches(net);
        const int base_count = find_islands(net, on, kind, island);
        const std::vector<char> bridge = find_bridges(net, on, kind);
        int bridges = 0;
        for (size_t k = 0; k < on.size(); ++k) {
            if (!on[k]) {
                EXPECT_FALSE(bridge[k]);
                continue;
            }
            on[k] = 0;
            const bool splits = find_islands(net, on, kind, island) > base_count;
            // The same islands, numbered alike, from the branches of every bus.
            find_islands(net, on, kind, island_all, &all);
            EXPECT_EQ(island_all, island) << "branch " << k;
            on[k] = 1;
            EXPECT_EQ(bridge[k] != 0, splits) << "branch " << net.branches[k].from_bus << "-" << net.branches[k].to_bus;
            bridges += splits ? 1 : 0;
        }
        EXPECT_GT(bridges, 0);
    }
}

namespace {

// The network of `raw` twice, the copy's buses numbered 100 higher: two
// islands, each with its own slack bus.
RawCase doubled(const RawCase &raw)
{
    RawCase two = raw;
    RawCase copy = raw;
    for (Bus &b : copy.buses) {
        b.number += 100;
    }
    for (Load &d : copy.loads) {
        d.bus += 100;
    }
    for (FixedShunt &s : copy.fixed_shunts) {
        s.bus += 100;
    }
    for (SwitchedShunt &s : copy.switched_shunts) {
        s.bus += 100;
    }
    for (Unit &u : copy.units) {
        u.bus += 100;
    }
    for (Branch &b : copy.branches) {
        b.from += 100;
        b.to += 100;
    }
    for (Transformer &t : copy.transformers) {
        t.i += 100;
        t.j += 100;
        t.k += t.k != 0 ? 100 : 0;
    }
    two.buses.insert(two.buses.end(), copy.buses.begin(), copy.buses.end());
    two.loads.insert(two.loads.end(), copy.loads.begin(), copy.loads.end());
    two.fixed_shunts.insert(two.fixed_shunts.end(), copy.fixed_shunts.begin(), copy.fixed_shunts.end());
    two.switched_shunts.insert(two.switched_shunts.end(), copy.switched_shunts.begin(), copy.switched_shunts.end());
    two.units.insert(two.units.end(), copy.units.begin(), copy.units.end());
    two.branches.insert(two.branches.end(), copy.branches.begin(), copy.branches.end());
    two.transformers.insert(two.transformers.end(), copy.transformers.begin(), copy.transformers.end());
    return two;
}

// bus number -> (vm, va) of a solution.
std::map<int, std::pair<double, double>> voltages(const Network &net, const PfSolution &sol)
{
    std::map<int, std::pair<double, double>> m;
    for (int i = 0; i < net.raw_buses; ++i) {
        m[net.buses[i].number] = {sol.v.vm[i], sol.v.va[i]};
    }
    return m;
}

} // namespace

// Two islands, each with its slack bus, solve as two cases: in the base case
// and after an outage in one of them, which leaves the other as it was; a
// slack that loses its unit hands over to a bus of its own island only.
TEST(Contingencies, IslandsWithTheirOwnSlackSolveAsSeparateCases)
{
    const RawCase one_raw = read_raw(std::string(paths::solver_test_data) + "/revisions/six_bus_v33.raw");
    const Network one = build_network(one_raw);
    const Network two = build_network(doubled(one_raw));
    ASSERT_EQ(two.slacks.size(), 2U);
    const PfOptions opt;
    BaseCase b1 = solve_base_case(one, opt);
    BaseCase b2 = solve_base_case(two, opt);
    ASSERT_TRUE(b1.sol.converged && b2.sol.converged);
    EXPECT_EQ(b2.cut_off, 0);
    const auto base1 = voltages(one, b1.sol);
    const auto base2 = voltages(two, b2.sol);
    for (const auto &[bus, v] : base1) {
        EXPECT_NEAR(base2.at(bus).first, v.first, 1e-10) << bus;
        EXPECT_NEAR(base2.at(bus + 100).first, v.first, 1e-10) << bus + 100;
        EXPECT_NEAR(base2.at(bus + 100).second, v.second, 1e-10) << bus + 100;
    }
    for (const char *element : {"OPEN BRANCH FROM BUS 1 TO BUS 2 CKT 1", "REMOVE UNIT 1 FROM BUS 1"}) {
        SCOPED_TRACE(element);
        const CtgBlock block{"C", element, 1};
        const CtgResult r1 = solve_contingency(one, b1, block, opt, b1.ws);
        const CtgResult r2 = solve_contingency(two, b2, block, opt, b2.ws);
        ASSERT_EQ(r1.status, CtgStatus::converged) << r1.note;
        ASSERT_EQ(r2.status, CtgStatus::converged) << r2.note;
        EXPECT_EQ(r2.note, r1.note);
        const auto after1 = voltages(one, r1.sol);
        const auto after2 = voltages(two, r2.sol);
        for (const auto &[bus, v] : after1) {
            EXPECT_NEAR(after2.at(bus).first, v.first, 1e-8) << bus;
            EXPECT_NEAR(after2.at(bus).second, v.second, 1e-8) << bus;
            EXPECT_NEAR(after2.at(bus + 100).first, base1.at(bus).first, 1e-8) << bus + 100;
            EXPECT_NEAR(after2.at(bus + 100).second, base1.at(bus).second, 1e-8) << bus + 100;
        }
    }
}
