// Branch flows and the limits a solution is checked against.
#pragma once

#include "monitor/select.h"
#include "network/ybus.h"
#include "powerflow/state.h"

#include <cmath>
#include <complex>
#include <string>
#include <utility>
#include <vector>

// Power into a branch at each end (BranchFlow): S_f = V_f·conj(Yff·V_f + Yft·V_t),
// S_t = V_t·conj(Ytf·V_f + Ytt·V_t), charging included, end shunts not.
BranchFlow branch_flow(const BranchStamp &st, std::complex<double> vf, std::complex<double> vt);
BranchFlow branch_flow(const NetBranch &br, std::complex<double> vf, std::complex<double> vt);
BranchFlow branch_flow(const NetBranch &br, const Voltages &v);

// The flows of every branch in service between energised buses (zero for
// the rest), ties' flows as powerflow/tie_flows.h finds them; `removed_unit`
// is a unit a contingency took out, or −1.
std::vector<BranchFlow> branch_flows(const Network &net, const std::vector<char> &on, const PfSolution &sol,
                                     int removed_unit = -1);

// The rating of a branch in MVA in rating set `set` (1 to 12: RATEA, RATEB,
// RATEC are 1 to 3); 0 means not monitored.
double rating(const NetBranch &br, int set);

// The network's branches for the loading check in rating set `set`, to be
// given to assess with the same network and set (see FlowTable).
FlowTable flow_table(const Network &net, int set);

// "I-J-CKT" (and "I-J-K-CKT" for a 3-winding unit's winding), the RAW order
// of the buses.
std::string branch_label(const NetBranch &br);

struct Violation {
    Violation() = default;
    Violation(std::string kind_, std::string element_, double value_, double limit_)
        : kind(std::move(kind_)), element(std::move(element_)), value(value_), limit(limit_)
    {
    }
    // overload, low_voltage, high_voltage; with a monitor file also
    // voltage_drop, voltage_rise and interface
    std::string kind;
    std::string element; // branch label, bus number or interface name
    double value = 0;    // MVA, pu (a deviation for drop and rise) or MW
    double limit = 0;    // rating in MVA, the voltage limit in pu or the rating in MW
    // The same quantity in the base case (NaN: none) and new, worse or
    // same (empty: not tagged); results/violation_tags.h.
    double base_value = std::nan("");
    std::string tag;
};

// What a monitor file (monitor/select.h) narrows an assessment to: the
// branches whose loadings are checked, each bus's voltage criteria, the
// interfaces, and the base case's |V| that deviations are measured from.
struct MonitorCriteria {
    std::vector<char> branch;                // by branch index: loading checked
    std::vector<BusVoltageCriteria> voltage; // by bus index
    std::vector<SelectedInterface> interfaces;
    std::vector<double> base_vm; // by RAW bus; NaN where cut off in the base case
};

// The criteria of `sel` for `net`, with deviations measured from the base
// case's solution `base`.
MonitorCriteria monitor_criteria(const MonitorSelection &sel, const Network &net, const PfSolution &base);

// What a solution means to a planner: extreme voltages (ties to the first
// bus in RAW order), the highest loading 100·max(|S_f|, |S_t|)/rating over
// the monitored branches in service, and the violations: a loading above
// 100 %, a voltage below its low or above its high limit (NVLO/NVHI in the
// base case, EVLO/EVHI after a contingency). Cut-off buses are left out.
// Ties are assessed like any branch; `removed_unit` as for branch_flows.
// vc, where given, holds sol.v as complex voltages (a solve's last, see
// NewtonWorkspace::vc_at), and spares the flows a sine and cosine per bus;
// table, where given, is flow_table(net, rating_set), and spares them the
// branches' stamps and their records' scattered reads.
// With `monitor`: only its branches' loadings are checked; a bus with a
// voltage range is checked against it instead of its own limits; after a
// contingency, a bus whose |V| fell (rose) from the base case's by more
// than its deviation limit is a voltage_drop (voltage_rise) violation,
// counted with the voltage violations; each interface's flow is found
// (interface_mw) and one whose |flow| exceeds its rating is an interface
// violation (not counted as an overload).
struct Assessment {
    double min_vm = 0, max_vm = 0;
    int min_vm_bus = 0, max_vm_bus = 0;
    double max_loading = -1; // percent; < 0 when no branch is monitored
    std::string max_loading_branch;
    int overloads = 0, voltage_violations = 0;
    std::vector<Violation> violations;
    // With a monitor: each interface's flow in MW, in the monitor's order:
    // the signed sum of its members' active power, each into the branch at
    // the end the member names first.
    std::vector<double> interface_mw;
};
Assessment assess(const Network &net, const std::vector<char> &on, const PfSolution &sol, int rating_set,
                  bool after_contingency, int removed_unit = -1, const Eigen::VectorXcd *vc = nullptr,
                  const FlowTable *table = nullptr, const MonitorCriteria *monitor = nullptr);
