#include "powerflow/base_case.h"

#include "network/build.h"
#include "powerflow/dc_rounds.h"
#include "powerflow/flat_start.h"
#include "powerflow/flows.h"
#include "powerflow/hard_starts.h"
#include "powerflow/newton.h"
#include "powerflow/remote_regulation.h"
#include "powerflow/sharing.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

BusSchedule base_schedule(const Network &net)
{
    BusSchedule sch;
    for (const NetBus &b : net.buses) {
        sch.kind.push_back(b.kind);
        sch.pg.push_back(b.pg);
        sch.qgen.push_back(b.qg);
        sch.qmax.push_back(b.qmax);
        sch.qmin.push_back(b.qmin);
        sch.vs.push_back(b.vs);
    }
    if (!net.groups.empty()) {
        for (const NetBus &b : net.buses) {
            sch.rmpct.push_back(b.rmpct);
        }
        std::vector<signed char> held(net.buses.size(), 0);
        Voltages v{Eigen::VectorXd::Ones(static_cast<Eigen::Index>(net.buses.size())),
                   Eigen::VectorXd::Zero(static_cast<Eigen::Index>(net.buses.size()))};
        refresh_groups(net, sch, held, v);
    }
    if (has_dc_lines(net)) {
        sch.pdc.assign(net.buses.size(), 0.0);
        sch.qdc.assign(net.buses.size(), 0.0);
        for (const NetLcc &x : net.lcc) {
            sch.taps.push_back(x.d.rectifier.tap);
            sch.taps.push_back(x.d.inverter.tap);
        }
        for (const NetMtdc &x : net.mtdc) {
            for (const MtdcConverter &c : x.d.converters) {
                sch.taps.push_back(c.k.tap);
            }
        }
        Voltages v{Eigen::VectorXd(net.buses.size()), Eigen::VectorXd(net.buses.size())};
        for (std::size_t i = 0; i < net.buses.size(); ++i) {
            v.vm[static_cast<Eigen::Index>(i)] = net.buses[i].vm0;
            v.va[static_cast<Eigen::Index>(i)] = net.buses[i].va0;
        }
        dc_injections(net, sch, v);
    }
    return sch;
}

namespace {

// The base case failed from its first start: retry_hard_start's retries.
// Where one solves, bc takes its solution and the start's name; where none
// does, the failure of the first start says so, with the largest loading
// fraction solved.
void retry_base_case(const Network &net, const BusSchedule &sch, const PfOptions &opt, BaseCase &bc)
{
    Retried r = retry_hard_start(net, bc.y, bc.on, sch, opt, bc.ws);
    if (r.sol.converged && !r.start.empty()) {
        bc.sol = std::move(r.sol);
        bc.start = r.start;
        return;
    }
    const std::string reached =
        r.reached > 0 ? "at most " + percent(r.reached) + " of the load solves" : "no loading from 2 % to 75 % solves";
    bc.sol.failure += opt.flat_start ? "; load scaling did not solve it either (" + reached + ")"
                                     : "; it solved neither from DC angles nor by load scaling (" + reached + ")";
    bc.sol.failure += q_limit_diagnosis(net, bc.y, bc.on, sch, opt, bc.ws);
}

} // namespace

BaseCase solve_base_case(const Network &net, const PfOptions &opt)
{
    BaseCase bc;
    bc.elements = index_elements(net);
    bc.on = branches_in_service(net);
    bc.y = make_ybus(net, bc.on);
    bc.flows = flow_table(net, opt.contingency_rating);
    bc.branches_at = bus_branches(net);
    bc.ws = make_workspace(bc.y, net);
    BusSchedule sch = base_schedule(net);

    std::vector<int> island;
    const int count = find_islands(net, bc.on, sch.kind, island, &bc.branches_at);
    const std::vector<char> keep = islands_to_solve(net, island, count);
    for (size_t i = 0; i < net.buses.size(); ++i) {
        if (island[i] >= 0 && keep[static_cast<std::size_t>(island[i])] == 0) {
            sch.kind[i] = BusKind::off;
            island[i] = -1;
            bc.cut_off += static_cast<int>(i) < net.raw_buses ? 1 : 0;
        }
    }
    bc.island = island;
    bc.bridge = find_bridges(net, bc.on, sch.kind);
    Voltages v = initial_voltages(net, sch, opt.flat_start);
    if (std::none_of(net.slacks.begin(), net.slacks.end(), [&sch](int s) { return sch.kind[s] != BusKind::off; })) {
        bc.sol.v = v;
        bc.sol.sch = sch;
        bc.sol.failure = "no island holds a slack bus";
        return bc;
    }
    bc.sol = solve_with_q_limits(net, bc.y, sch, std::vector<signed char>(net.buses.size(), 0), v, opt, bc.ws);
    if (!bc.sol.converged) {
        retry_base_case(net, sch, opt, bc);
    }
    if (bc.sol.converged) {
        make_chord_base(net, bc.y, bc.sol.sch, bc.sol.v, bc.ws, bc.chord);
        refresh_base_outputs(net, bc);
        if (opt.generator_response != ResponseMode::swing) {
            measure_share_slopes(net, bc, opt);
        }
    }
    return bc;
}

void refresh_base_outputs(const Network &net, BaseCase &bc)
{
    bc.unit_pg = solved_unit_outputs(net, bc.y, bc.sol.sch, bc.sol.v);
    bc.losses = island_losses(net, bc.y, bc.sol.sch, bc.sol.v, bc.island);
}

void share_base_case(Network &net, BaseCase &bc, const PfOptions &opt)
{
    std::vector<double> raw_pg(net.units.size());
    for (std::size_t u = 0; u < net.units.size(); ++u) {
        raw_pg[u] = net.units[u].pg;
    }
    Sharing s = make_sharing(net, opt.base_generator_response, bc.island, bc.sol.sch, raw_pg, -1, -1);
    const ShareSolve solve = [&](BusSchedule sch, std::vector<signed char> held, Voltages v) {
        return solve_with_q_limits(net, bc.y, std::move(sch), std::move(held), std::move(v), opt, bc.ws);
    };
    bc.sol = settle_sharing(net, bc.y, s, std::move(bc.sol), opt, solve);
    if (!bc.sol.converged) {
        return;
    }
    for (const Sharer &u : s.units) {
        NetUnit &nu = net.units[static_cast<std::size_t>(u.unit)];
        const double moved = share_of(u, s.islands[static_cast<std::size_t>(u.island)].k) - nu.pg;
        nu.pg += moved;
        net.buses[static_cast<std::size_t>(u.node)].pg += moved;
        if (!net.own.empty()) {
            net.own[static_cast<std::size_t>(nu.bus)].pg += moved;
        }
    }
    char mw[64];
    std::snprintf(mw, sizeof mw, "%.1f", response_mw(net, s));
    bc.response_note = std::string("generator response (") + response_name(opt.base_generator_response) +
                       "): units other than the slacks' moved " + mw + " MW from the RAW's dispatch";
    const std::string more = sharing_note(net, s);
    bc.response_note += more.empty() ? "" : "; " + more;
    bc.chord = ChordBase{};
    make_chord_base(net, bc.y, bc.sol.sch, bc.sol.v, bc.ws, bc.chord);
    refresh_base_outputs(net, bc);
}

void measure_share_slopes(const Network &net, BaseCase &bc, const PfOptions &opt)
{
    constexpr double dk = 1e-2; // pu
    bc.slack_mu.clear();
    for (std::size_t i = 0; i < net.buses.size(); ++i) {
        if (bc.sol.sch.kind[i] == BusKind::slack) {
            bc.slack_mu.emplace_back(static_cast<int>(i),
                                     slack_sensitivity(net, bc.y, bc.sol.sch, bc.sol.v, bc.ws, static_cast<int>(i)));
        }
    }
    Sharing s = make_sharing(net, opt.generator_response, bc.island, bc.sol.sch, bc.unit_pg, -1, -1);
    bc.share_slope.assign(s.islands.size(), 1.0);
    const std::vector<double> want0 = wanted_outputs(net, bc.y, s, bc.sol, nullptr);
    for (IslandShare &is : s.islands) {
        is.k = dk;
    }
    BusSchedule sch = bc.sol.sch;
    schedule_sharing(s, sch);
    PfOptions held = opt;
    held.enforce_q_limits = false;
    const PfSolution moved = solve_with_q_limits(net, bc.y, sch, bc.sol.held, bc.sol.v, held, bc.ws, &bc.chord);
    // bc.ws back at the base case's solution: its files read the slacks'
    // output and the units' Q from ws.current.
    int worst = 0;
    mismatch(net, bc.y, bc.sol.sch, bc.sol.v, bc.ws, worst);
    if (!moved.converged) {
        return;
    }
    const std::vector<double> want1 = wanted_outputs(net, bc.y, s, moved, nullptr);
    for (std::size_t c = 0; c < s.islands.size(); ++c) {
        const double f0 = members_output(s, c, 0);
        const double f1 = members_output(s, c, dk);
        const double ratio = ((f1 - want1[c]) - (f0 - want0[c])) / (f1 - f0);
        bc.share_slope[c] = f1 > f0 && ratio >= 0.5 && ratio <= 2 ? ratio : 1.0;
    }
}
