#include "powerflow/flows.h"

#include "network/ybus.h"
#include "powerflow/tie_flows.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double vm_tie = 1e-8; // pu
}

BranchFlow branch_flow(const BranchStamp &st, std::complex<double> vf, std::complex<double> vt)
{
    return {vf * std::conj(st.yff * vf + st.yft * vt), vt * std::conj(st.ytf * vf + st.ytt * vt)};
}

BranchFlow branch_flow(const NetBranch &br, std::complex<double> vf, std::complex<double> vt)
{
    return branch_flow(branch_stamp(br, false), vf, vt);
}

BranchFlow branch_flow(const NetBranch &br, const Voltages &v)
{
    return branch_flow(br, std::polar(v.vm[br.f], v.va[br.f]), std::polar(v.vm[br.t], v.va[br.t]));
}

std::vector<BranchFlow> branch_flows(const Network &net, const std::vector<char> &on, const PfSolution &sol,
                                     int removed_unit)
{
    std::vector<BranchFlow> flows(net.branches.size());
    for (size_t k = 0; k < flows.size(); ++k) {
        const NetBranch &br = net.branches[k];
        if (on[k] && !br.tie && sol.sch.kind[br.f] != BusKind::off && sol.sch.kind[br.t] != BusKind::off) {
            flows[k] = branch_flow(br, sol.v);
        }
    }
    if (!net.tie_nodes.empty()) {
        fill_tie_flows(net, on, sol, removed_unit, flows);
    }
    return flows;
}

double rating(const NetBranch &br, int set)
{
    return set >= 1 && set <= static_cast<int>(br.rate.size()) ? br.rate.at(static_cast<std::size_t>(set - 1)) : 0.0;
}

namespace {

FlowBranch flow_branch(const NetBranch &br, int set)
{
    return {br.f, br.t, br.tie, rating(br, set), branch_stamp(br, false)};
}

} // namespace

FlowTable flow_table(const Network &net, int set)
{
    FlowTable table;
    table.rating_set = set;
    table.branches.reserve(net.branches.size());
    for (const NetBranch &br : net.branches) {
        table.branches.push_back(flow_branch(br, set));
    }
    return table;
}

std::string branch_label(const NetBranch &br)
{
    std::string s = std::to_string(br.from_bus) + "-" + std::to_string(br.to_bus) + "-";
    if (br.kind == BranchKind::winding) {
        s += std::to_string(br.third_bus) + "-";
    }
    return s + br.ckt;
}

namespace {

// Lowest and highest voltage of the energised RAW buses, and the voltage
// violations. Buses within the solve's accuracy of an extreme are tied, and
// the first of them in RAW order is named, so that the name does not hang
// on the last digits of the iterate (pv buses share set-points).
void assess_voltages(const Network &net, const PfSolution &sol, bool after_contingency, Assessment &a)
{
    bool first = true;
    for (int i = 0; i < net.raw_buses; ++i) {
        if (sol.sch.kind[i] == BusKind::off) {
            continue;
        }
        const NetBus &b = net.buses[i];
        const double vm = sol.v.vm[i];
        a.min_vm = first ? vm : std::min(a.min_vm, vm);
        a.max_vm = first ? vm : std::max(a.max_vm, vm);
        first = false;
        const double lo = after_contingency ? b.evlo : b.nvlo;
        const double hi = after_contingency ? b.evhi : b.nvhi;
        if (vm < lo) {
            a.violations.push_back({"low_voltage", std::to_string(b.number), vm, lo});
        } else if (vm > hi) {
            a.violations.push_back({"high_voltage", std::to_string(b.number), vm, hi});
        }
    }
    a.voltage_violations = static_cast<int>(a.violations.size());
    a.min_vm_bus = 0;
    a.max_vm_bus = 0;
    for (int i = 0; i < net.raw_buses; ++i) {
        const double vm = sol.v.vm[i];
        if (sol.sch.kind[i] == BusKind::off) {
            continue;
        }
        if (a.min_vm_bus == 0 && vm <= a.min_vm + vm_tie) {
            a.min_vm_bus = net.buses[i].number;
        }
        if (a.max_vm_bus == 0 && vm >= a.max_vm - vm_tie) {
            a.max_vm_bus = net.buses[i].number;
        }
    }
}

// Loading of every monitored branch in service between energised buses:
// the larger of |S_f| and |S_t| against its rating. Only a network with
// ties has every flow found first (ties need their neighbours' flows).
void assess_loadings(const Network &net, const std::vector<char> &on, const PfSolution &sol, int rating_set,
                     int removed_unit, const Eigen::VectorXcd *given, const FlowTable *table, Assessment &a)
{
    const auto n = static_cast<Eigen::Index>(net.buses.size());
    Eigen::VectorXcd own;
    if (given == nullptr || given->size() != n) {
        own.resize(n);
        for (Eigen::Index i = 0; i < n; ++i) {
            own[i] = std::polar(sol.v.vm[i], sol.v.va[i]);
        }
    }
    const Eigen::VectorXcd &vc = own.size() == n ? own : *given;
    const std::vector<BranchFlow> ties =
        net.tie_nodes.empty() ? std::vector<BranchFlow>() : branch_flows(net, on, sol, removed_unit);
    const bool tabled =
        table != nullptr && table->rating_set == rating_set && table->branches.size() == net.branches.size();
    for (size_t k = 0; k < net.branches.size(); ++k) {
        if (!on[k]) {
            continue;
        }
        const FlowBranch br = tabled ? table->branches[k] : flow_branch(net.branches[k], rating_set);
        const double rate = br.rate;
        if (!(rate > 0) || sol.sch.kind[br.f] == BusKind::off || sol.sch.kind[br.t] == BusKind::off) {
            continue;
        }
        const BranchFlow fl = br.tie ? ties[k] : branch_flow(br.s, vc[br.f], vc[br.t]);
        const auto squared = [](std::complex<double> z) { return z.real() * z.real() + z.imag() * z.imag(); };
        const double mva = std::sqrt(std::max(squared(fl.from), squared(fl.to))) * net.sbase;
        const double pct = 100.0 * mva / rate;
        if (pct > a.max_loading) {
            a.max_loading = pct;
            a.max_loading_branch = branch_label(net.branches[k]);
        }
        if (pct > 100.0) {
            a.violations.push_back({"overload", branch_label(net.branches[k]), mva, rate});
            ++a.overloads;
        }
    }
}

} // namespace

Assessment assess(const Network &net, const std::vector<char> &on, const PfSolution &sol, int rating_set,
                  bool after_contingency, int removed_unit, const Eigen::VectorXcd *vc, const FlowTable *table)
{
    Assessment a;
    assess_voltages(net, sol, after_contingency, a);
    assess_loadings(net, on, sol, rating_set, removed_unit, vc, table, a);
    return a;
}
