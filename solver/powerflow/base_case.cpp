#include "powerflow/base_case.h"

#include "network/build.h"
#include "powerflow/dc_rounds.h"
#include "powerflow/flat_start.h"
#include "powerflow/flows.h"
#include "powerflow/newton.h"
#include "powerflow/remote_regulation.h"

#include <algorithm>

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
    if (!net.lcc.empty() || !net.vsc.empty()) {
        sch.pdc.assign(net.buses.size(), 0.0);
        sch.qdc.assign(net.buses.size(), 0.0);
        for (const NetLcc &x : net.lcc) {
            sch.taps.push_back(x.d.rectifier.tap);
            sch.taps.push_back(x.d.inverter.tap);
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
    if (bc.sol.converged) {
        make_chord_base(net, bc.y, bc.sol.sch, bc.sol.v, bc.ws, bc.chord);
    }
    return bc;
}
