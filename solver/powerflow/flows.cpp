#include "powerflow/flows.h"

#include "network/ybus.h"
#include "powerflow/tie_flows.h"

#include <algorithm>
#include <cmath>
#include <utility>

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
// The limits of bus i: its monitor range where it has one, its own
// otherwise (NVLO/NVHI in the base case, EVLO/EVHI after a contingency).
std::pair<double, double> voltage_limits(const NetBus &b, int i, bool after_contingency, const MonitorCriteria *m)
{
    if (m != nullptr && static_cast<std::size_t>(i) < m->voltage.size() && m->voltage[i].range) {
        return {m->voltage[i].vmin, m->voltage[i].vmax};
    }
    return after_contingency ? std::make_pair(b.evlo, b.evhi) : std::make_pair(b.nvlo, b.nvhi);
}

// A contingency's voltage deviations at bus i against the monitor's limits:
// value the fall (rise) of |V| from the base case's, limit the drop (rise)
// limit, both pu. A bus cut off in the base case (NaN) has none.
void assess_deviation(const NetBus &b, int i, double vm, const MonitorCriteria &m, Assessment &a)
{
    if (static_cast<std::size_t>(i) >= m.voltage.size() || !m.voltage[i].deviation ||
        static_cast<std::size_t>(i) >= m.base_vm.size()) {
        return;
    }
    const BusVoltageCriteria &c = m.voltage[i];
    const double base = m.base_vm[i];
    if (base - vm > c.drop) {
        a.violations.push_back({"voltage_drop", std::to_string(b.number), base - vm, c.drop});
    } else if (vm - base > c.rise) {
        a.violations.push_back({"voltage_rise", std::to_string(b.number), vm - base, c.rise});
    }
}

void assess_voltages(const Network &net, const PfSolution &sol, bool after_contingency, const MonitorCriteria *m,
                     Assessment &a)
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
        const auto [lo, hi] = voltage_limits(b, i, after_contingency, m);
        if (vm < lo) {
            a.violations.push_back({"low_voltage", std::to_string(b.number), vm, lo});
        } else if (vm > hi) {
            a.violations.push_back({"high_voltage", std::to_string(b.number), vm, hi});
        }
        if (m != nullptr && after_contingency) {
            assess_deviation(b, i, vm, *m, a);
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

// What one assessment's branch flows are found from: complex voltages,
// the ties' flows (empty without ties) and the flow table (null where it
// is not the network's in the rating set).
struct FlowInputs {
    const Network &net;
    const std::vector<char> &on;
    const PfSolution &sol;
    const Eigen::VectorXcd &vc;
    const std::vector<BranchFlow> &ties;
    const FlowTable *table;
    int rating_set;
};

// The flows of branch k: none where it is out of service or at a cut-off
// bus.
BranchFlow flow_at(const FlowInputs &in, std::size_t k)
{
    const FlowBranch br = in.table != nullptr ? in.table->branches[k] : flow_branch(in.net.branches[k], in.rating_set);
    if (!in.on[k] || in.sol.sch.kind[br.f] == BusKind::off || in.sol.sch.kind[br.t] == BusKind::off) {
        return BranchFlow{};
    }
    return br.tie ? in.ties[k] : branch_flow(br.s, in.vc[br.f], in.vc[br.t]);
}

// Each interface's flow, MW: the signed sum of its members' active power
// into the branch at the end each names first; an interface violation
// where |flow| exceeds the rating (value |flow|, limit the rating).
void assess_interfaces(const FlowInputs &in, const MonitorCriteria &m, Assessment &a)
{
    a.interface_mw.reserve(m.interfaces.size());
    for (const SelectedInterface &f : m.interfaces) {
        double p = 0;
        for (const InterfaceBranch &mb : f.members) {
            const BranchFlow fl = flow_at(in, static_cast<std::size_t>(mb.branch));
            p += (mb.at_to ? fl.to : fl.from).real();
        }
        const double mw = p * in.net.sbase;
        a.interface_mw.push_back(mw);
        if (std::fabs(mw) > f.rating_mw) {
            a.violations.push_back({"interface", f.name, std::fabs(mw), f.rating_mw});
        }
    }
}

// Whether branch k's loading is checked: every branch without a monitor's
// list (null).
bool checked(const char *monitored, std::size_t k) { return monitored == nullptr || monitored[k] != 0; }

// Loading of every monitored branch in service between energised buses:
// the larger of |S_f| and |S_t| against its rating. Only a network with
// ties has every flow found first (ties need their neighbours' flows).
// With a monitor, only its branches are checked, and its interfaces' flows
// found from the same voltages and stamps.
void assess_loadings(const Network &net, const std::vector<char> &on, const PfSolution &sol, int rating_set,
                     int removed_unit, const Eigen::VectorXcd *given, const FlowTable *table, const MonitorCriteria *m,
                     const char *monitored, Assessment &a)
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
        if (!on[k] || !checked(monitored, k)) {
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
    if (m != nullptr) {
        assess_interfaces({net, on, sol, vc, ties, tabled ? table : nullptr, rating_set}, *m, a);
    }
}

} // namespace

Assessment assess(const Network &net, const std::vector<char> &on, const PfSolution &sol, int rating_set,
                  bool after_contingency, int removed_unit, const Eigen::VectorXcd *vc, const FlowTable *table,
                  const MonitorCriteria *monitor)
{
    Assessment a;
    assess_voltages(net, sol, after_contingency, monitor, a);
    const char *monitored =
        monitor != nullptr && monitor->branch.size() == net.branches.size() ? monitor->branch.data() : nullptr;
    assess_loadings(net, on, sol, rating_set, removed_unit, vc, table, monitor, monitored, a);
    return a;
}

MonitorCriteria monitor_criteria(const MonitorSelection &sel, const Network &net, const PfSolution &base)
{
    MonitorCriteria m;
    m.branch.assign(net.branches.size(), 0);
    for (const int k : sel.branches) {
        m.branch[static_cast<std::size_t>(k)] = 1;
    }
    m.voltage = sel.voltage;
    m.interfaces = sel.interfaces;
    m.base_vm.assign(static_cast<std::size_t>(net.raw_buses), std::nan(""));
    for (int i = 0; i < net.raw_buses; ++i) {
        if (base.sch.kind[i] != BusKind::off) {
            m.base_vm[static_cast<std::size_t>(i)] = base.v.vm[i];
        }
    }
    return m;
}
