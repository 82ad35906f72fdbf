#include "results/violation_tags.h"

#include <cmath>
#include <vector>

BaseValues base_values(const Network &net, const BaseCase &bc, const Assessment &base)
{
    BaseValues b;
    const std::vector<BranchFlow> flows = branch_flows(net, bc.on, bc.sol);
    for (std::size_t k = 0; k < flows.size(); ++k) {
        const double mva = std::max(std::abs(flows[k].from), std::abs(flows[k].to)) * net.sbase;
        b.branch_mva[branch_label(net.branches[k])] = mva;
    }
    for (int i = 0; i < net.raw_buses; ++i) {
        if (bc.sol.sch.kind[i] != BusKind::off) {
            b.bus_vm[std::to_string(net.buses[i].number)] = bc.sol.v.vm[i];
        }
    }
    if (bc.monitor != nullptr) {
        for (std::size_t i = 0; i < bc.monitor->interfaces.size() && i < base.interface_mw.size(); ++i) {
            b.interface_mw[bc.monitor->interfaces[i].name] = std::fabs(base.interface_mw[i]);
        }
    }
    return b;
}

namespace {

// The base value of v's element among `values` (NaN where it has none).
double lookup(const std::unordered_map<std::string, double> &values, const std::string &element)
{
    const auto it = values.find(element);
    return it != values.end() ? it->second : std::nan("");
}

// The tag of a violation whose base value is `base`: `violated` whether the
// base case already broke the same limit, `worse` whether it grew past the
// margin. A NaN base (element cut off or out of service) is new.
std::string tag_of(double base, bool violated, bool worse)
{
    if (std::isnan(base) || !violated) {
        return "new";
    }
    return worse ? "worse" : "same";
}

} // namespace

void tag_violations(const BaseValues &base, const PfOptions &opt, Assessment &a)
{
    for (Violation &v : a.violations) {
        if (v.kind == "overload" || v.kind == "interface") {
            const double b = lookup(v.kind == "overload" ? base.branch_mva : base.interface_mw, v.element);
            v.base_value = b;
            v.tag = tag_of(b, b > v.limit, v.value > b * (1 + opt.worse_flow_fraction));
        } else if (v.kind == "low_voltage") {
            const double b = lookup(base.bus_vm, v.element);
            v.base_value = b;
            v.tag = tag_of(b, b < v.limit, v.value < b - opt.worse_vm_pu);
        } else if (v.kind == "high_voltage") {
            const double b = lookup(base.bus_vm, v.element);
            v.base_value = b;
            v.tag = tag_of(b, b > v.limit, v.value > b + opt.worse_vm_pu);
        } else {
            // voltage_drop, voltage_rise: measured from the base case, so
            // only an outage makes them.
            v.base_value = lookup(base.bus_vm, v.element);
            v.tag = "new";
        }
    }
}
