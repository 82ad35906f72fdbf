// Ties: branches of no impedance join their buses into one node. Validated
// against the same network with the buses merged by hand and against the
// RAW with a tie taken out (data/ties/README.md describes the network);
// then how the threshold and the set-points are read.

#include "contingency/contingency.h"
#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/q_limits.h"
#include "powerflow/tie_flows.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "test_data.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <map>
#include <string>
#include <vector>

using cplx = std::complex<double>;

namespace {

std::string ties_file(const char *name) { return std::string(paths::solver_test_data) + "/ties/" + name; }

// The six-bus network of the revision fixtures is the tie network with its
// nodes merged by hand: bus 4 holds 4 and 7, bus 2 holds 2, 8 and 9; the
// charging of tie 4-7 (B 0.02 pu) is a 2 Mvar shunt at bus 4.
RawCase merged_by_hand()
{
    RawCase raw = read_raw(std::string(paths::solver_test_data) + "/revisions/six_bus_v33.raw");
    FixedShunt tie_charging;
    tie_charging.bus = 4;
    tie_charging.id = "T";
    tie_charging.bl = 2.0;
    raw.fixed_shunts.push_back(tie_charging);
    return raw;
}

int merged_bus(int number) { return number == 7 ? 4 : number == 8 || number == 9 ? 2 : number; }

cplx voltage(const PfSolution &s, int i) { return std::polar(s.v.vm[i], s.v.va[i]); }

BaseCase solve_flat(const Network &net)
{
    PfOptions opt;
    opt.flat_start = true;
    return solve_base_case(net, opt);
}

int branch_index(const Network &net, int from, int to, const char *ckt)
{
    for (size_t k = 0; k < net.branches.size(); ++k) {
        const NetBranch &br = net.branches[k];
        if (br.from_bus == from && br.to_bus == to && same_id(br.ckt, ckt)) {
            return static_cast<int>(k);
        }
    }
    ADD_FAILURE() << "no branch " << from << "-" << to << "-" << ckt;
    return 0;
}

// The tie node holding bus `number`.
const TieNode &node_of(const Network &net, int number)
{
    const int i = net.index.at(number);
    const auto it = std::find_if(net.tie_nodes.begin(), net.tie_nodes.end(), [i](const TieNode &node) {
        return std::find(node.buses.begin(), node.buses.end(), i) != node.buses.end();
    });
    EXPECT_NE(it, net.tie_nodes.end()) << "bus " << number << " is in no tie node";
    return it == net.tie_nodes.end() ? net.tie_nodes.front() : *it;
}

} // namespace

// Every bus of the tie network, in both revisions (34 with switching
// devices as ties, one of them of X 2e-4), has its merged bus's voltage,
// and the units of each node put out what the merged bus's do.
TEST(Ties, JoinedBusesSolveAsTheBusMergedByHand)
{
    const Network merged = build_network(merged_by_hand());
    const BaseCase m = solve_flat(merged);
    ASSERT_TRUE(m.sol.converged) << m.sol.failure;
    for (const char *file : {"six_bus_ties_v33.raw", "six_bus_ties_v34.raw"}) {
        SCOPED_TRACE(file);
        const Network net = build_network(read_raw(ties_file(file)));
        ASSERT_EQ(net.tie_nodes.size(), 2U);
        const BaseCase t = solve_flat(net);
        ASSERT_TRUE(t.sol.converged) << t.sol.failure;
        for (int i = 0; i < net.raw_buses; ++i) {
            const int other = merged.index.at(merged_bus(net.buses[i].number));
            EXPECT_LE(std::abs(voltage(t.sol, i) - voltage(m.sol, other)), 1e-9) << "bus " << net.buses[i].number;
        }
        const std::vector<cplx> out = tie_node_output(net, t.on, t.sol, branch_flows(net, t.on, t.sol), -1);
        const int b2 = merged.index.at(2);
        const cplx node = out[net.index.at(2)] + out[net.index.at(8)] + out[net.index.at(9)];
        EXPECT_NEAR(node.real(), m.sol.sch.pg[b2], 1e-9);
        EXPECT_NEAR(node.imag(), unit_q(merged, m.sol.sch, m.ws, m.sol.v, b2), 1e-9);
        const double fraction_2 = (out[net.index.at(2)].imag() + 0.20) / 0.60;
        const double fraction_8 = (out[net.index.at(8)].imag() + 0.40) / 1.00;
        EXPECT_NEAR(fraction_2, fraction_8, 1e-12) << "both units at one fraction of their Q range";
    }
}

// Kirchhoff's law holds at every bus the ties join, with the ties' flows as
// reported: what its units put out less its load and shunt is what flows
// into its branches. Tie 4-7 carries what bus 7 draws in the merged
// network (its load and line 4-6's flow, bus 7 holding that line), and
// around the loop 2-8-9 the ties share the flow as ties of one impedance:
// their flows add up to zero around it.
TEST(Ties, TieFlowsBalanceEveryBusTheyJoin)
{
    const Network net = build_network(read_raw(ties_file("six_bus_ties_v33.raw")));
    const BaseCase t = solve_flat(net);
    ASSERT_TRUE(t.sol.converged) << t.sol.failure;
    const std::vector<BranchFlow> flows = branch_flows(net, t.on, t.sol);
    const std::vector<cplx> out = tie_node_output(net, t.on, t.sol, flows, -1);
    for (const TieNode &node : net.tie_nodes) {
        for (const int b : node.buses) {
            const NetBus &own = net.own[b];
            const double v2 = t.sol.v.vm[b] * t.sol.v.vm[b];
            cplx balance = out[b] - cplx(own.pd, own.qd) - cplx(own.gs, -own.bs) * v2;
            for (size_t k = 0; k < net.branches.size(); ++k) {
                const NetBranch &br = net.branches[k];
                balance -= t.on[k] && br.own_f == b ? flows[k].from : 0.0;
                balance -= t.on[k] && br.own_t == b ? flows[k].to : 0.0;
            }
            EXPECT_LE(std::abs(balance), 1e-9) << "bus " << net.buses[b].number;
        }
    }

    const Network merged = build_network(merged_by_hand());
    const BaseCase m = solve_flat(merged);
    const BranchFlow line_46 = branch_flow(merged.branches[branch_index(merged, 4, 6, "1")], m.sol.v);
    const double v4 = m.sol.v.vm[merged.index.at(4)];
    const cplx drawn_by_7 = cplx(0.25, 0.08) + line_46.from;
    const BranchFlow tie_47 = flows[branch_index(net, 4, 7, "1")];
    EXPECT_LE(std::abs(tie_47.from - (drawn_by_7 - cplx(0, 0.02 * v4 * v4))), 1e-9) << "charging at both ends";
    EXPECT_LE(std::abs(tie_47.to + drawn_by_7), 1e-9);

    const cplx around = flows[branch_index(net, 2, 8, "1")].from + flows[branch_index(net, 8, 9, "1")].from +
                        flows[branch_index(net, 9, 2, "1")].from;
    EXPECT_LE(std::abs(around), 1e-12);
    EXPECT_GT(std::abs(flows[branch_index(net, 8, 9, "1")].from), 0.1);
}

namespace {

// Solves `element` as a contingency of `net`, and the base case of the RAW
// without it (`without`): the same buses cut off, every other one within
// `tol` pu, the same highest loading.
CtgResult expect_outage_is(const Network &net, BaseCase &base, const std::string &element, const RawCase &without,
                           double tol)
{
    SCOPED_TRACE(element);
    const PfOptions opt;
    const CtgResult r = solve_contingency(net, base, CtgBlock{element, element, 0}, opt, base.ws);
    const Network n2 = build_network(without);
    const BaseCase b2 = solve_base_case(n2, opt);
    EXPECT_TRUE(r.status == CtgStatus::converged && b2.sol.converged) << r.note << b2.sol.failure;
    EXPECT_EQ(r.buses_cut_off, b2.cut_off);
    for (int i = 0; i < net.raw_buses && !::testing::Test::HasFailure(); ++i) {
        EXPECT_EQ(r.sol.sch.kind[i] == BusKind::off, b2.sol.sch.kind[i] == BusKind::off);
        const bool on = r.sol.sch.kind[i] != BusKind::off;
        EXPECT_LE(on ? std::abs(voltage(r.sol, i) - voltage(b2.sol, i)) : 0.0, tol) << "bus " << net.buses[i].number;
    }
    const Assessment a2 = assess(n2, b2.on, b2.sol, opt.contingency_rating, true);
    EXPECT_EQ(r.assessment.max_loading_branch, a2.max_loading_branch);
    EXPECT_NEAR(r.assessment.max_loading, a2.max_loading, 1e-4);
    return r;
}

} // namespace

// An outage that opens a tie splits its node (or, in a loop, leaves it
// joined): the result is the base case of the RAW with that branch out of
// service. So are the other outages of a network with ties (a line at a
// tied bus, a unit of a node), solved on the base network. Each result is
// the same whatever was solved before it.
TEST(Ties, AnOutageEqualsTheRawWithoutTheElement)
{
    const RawCase raw = read_raw(ties_file("six_bus_ties_v33.raw"));
    const Network net = build_network(raw);
    BaseCase base = solve_base_case(net, PfOptions());
    ASSERT_TRUE(base.sol.converged) << base.sol.failure;
    const std::vector<std::pair<int, int>> branches = {{4, 7}, {8, 9}, {2, 8}, {9, 2}, {7, 6}};
    std::vector<std::string> elements;
    std::vector<CtgResult> forward;
    for (const auto &[from, to] : branches) {
        elements.push_back("OPEN BRANCH FROM BUS " + std::to_string(to) + " TO BUS " + std::to_string(from));
        RawCase without = raw;
        for (Branch &b : without.branches) {
            b.status = b.from == from && b.to == to && b.ckt == "1" ? 0 : b.status;
        }
        forward.push_back(expect_outage_is(net, base, elements.back(), without, 1e-9));
    }
    for (const int bus : {8, 2}) {
        elements.push_back("REMOVE UNIT 1 FROM BUS " + std::to_string(bus));
        RawCase without = raw;
        for (Unit &u : without.units) {
            u.status = u.bus == bus ? 0 : u.status;
        }
        forward.push_back(expect_outage_is(net, base, elements.back(), without, 1e-9));
    }
    for (size_t n = elements.size(); n-- > 0;) {
        const CtgResult r = solve_contingency(net, base, CtgBlock{elements[n], elements[n], 0}, PfOptions(), base.ws);
        EXPECT_LE((r.sol.v.vm - forward[n].sol.v.vm).cwiseAbs().maxCoeff(), 1e-12) << elements[n];
        EXPECT_LE((r.sol.v.va - forward[n].sol.v.va).cwiseAbs().maxCoeff(), 1e-12) << elements[n];
    }
}

// Real data: the Polish model's 36 lines of |R + jX| below 1e-4 pu are ties
// (35 nodes). Opening each one gives the base case of the RAW without it,
// 9 of them cutting buses off, to the reactive-limit rule's 1e-6 pu (one
// ends with 5 units held otherwise, 2e-7 pu away; the others within 1e-10).
// So does the collection's file whose two buses only a tie joins.
TEST(Ties, EveryTieOfThePolishModelOpenedIsTheRawWithoutIt)
{
    REQUIRE_RAWFILES();
    struct File {
        const char *name;
        std::size_t nodes;
        int islanded;
    };
    for (const File &f :
         {File{"gridpack/Polish_model_v33.raw", 35, 9}, File{"powsybl/NonTranformerBranchZeroX.raw", 1, 1}}) {
        const RawCase raw = read_raw(rawfiles_dir() + "/" + f.name);
        const Network net = build_network(raw);
        EXPECT_EQ(net.tie_nodes.size(), f.nodes);
        BaseCase base = solve_base_case(net, PfOptions());
        ASSERT_TRUE(base.sol.converged) << base.sol.failure;
        int islanded = 0;
        for (const NetBranch &br : net.branches) {
            if (!br.tie) {
                continue;
            }
            RawCase without = raw;
            for (Branch &b : without.branches) {
                b.status = b.line == br.line ? 0 : b.status;
            }
            const std::string element = "OPEN BRANCH FROM BUS " + std::to_string(br.from_bus) + " TO BUS " +
                                        std::to_string(br.to_bus) + " CKT " + br.ckt;
            islanded += expect_outage_is(net, base, element, without, 1e-6).islanded ? 1 : 0;
        }
        EXPECT_EQ(islanded, f.islanded);
    }
}

// Which branches are ties, and what joining them says: a threshold below
// |Z| of tie 9-2 (5.4e-5 pu) leaves it a line and the node a tree;
// set-points that differ within a node are named, the node holding its
// slack's, else its first voltage-controlling bus's. (A threshold of 0
// refuses the lines of R = X = 0: test_vandrelsolve.cpp.)
TEST(Ties, TheThresholdAndTheNodesSetPoints)
{
    const RawCase raw = read_raw(ties_file("six_bus_ties_v33.raw"));
    const Network tree = build_network(raw, 1e-5);
    EXPECT_EQ(node_of(tree, 9).ties.size(), 2U);
    EXPECT_FALSE(node_of(tree, 9).loop);
    const Network loop = build_network(raw);
    EXPECT_TRUE(node_of(loop, 9).loop);

    const std::string note = "buses joined by ties into the node of bus ";
    for (const int slack : {0, 9}) {
        RawCase edited = raw;
        for (Unit &u : edited.units) {
            u.vs = u.bus == 8 && slack == 0 ? 1.03 : u.vs;
        }
        for (Bus &b : edited.buses) {
            b.ide = b.number == slack ? 3 : b.ide;
        }
        const Network net = build_network(edited);
        const std::vector<std::string> want = {
            slack == 0 ? note + "2 hold different voltage set-points (bus 2 VS 1.025 pu, bus 8 VS 1.03 pu); the node "
                                "holds bus 2's"
                       : note + "9 hold different voltage set-points (bus 2 VS 1.025 pu, bus 8 VS 1.025 pu, bus 9 VS "
                                "1 pu); the node holds bus 9's"};
        EXPECT_EQ(net.notes, want);
        EXPECT_EQ(net.buses[node_of(net, 9).rep].kind, slack == 0 ? BusKind::pv : BusKind::slack);
    }
}
