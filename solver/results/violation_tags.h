// A contingency's violations told new, worse or same against the base case.
// Columns: docs/file-formats.md (violations.csv's base_value and tag)
#pragma once

#include "powerflow/base_case.h"
#include "powerflow/flows.h"

#include <string>
#include <unordered_map>

// The base case's quantities a contingency's violations are compared with,
// found once: each branch's flow in MVA (the larger of |S_f| and |S_t|, as
// an overload's value), by branch label; each energised bus's |V| in pu, by
// bus number; each interface's |MW|, by name.
struct BaseValues {
    std::unordered_map<std::string, double> branch_mva;
    std::unordered_map<std::string, double> bus_vm;
    std::unordered_map<std::string, double> interface_mw;
};

// `base` is the base case's assessment (its interface_mw in the order of
// bc.monitor's interfaces).
BaseValues base_values(const Network &net, const BaseCase &bc, const Assessment &base);

// Sets each violation's base_value and tag. A violation is new where the
// base case's value is within the limit the contingency uses (or there is
// none); else worse where an overload's or interface's flow exceeds the
// base case's by more than worse_flow_fraction of it, or a low (high)
// voltage lies more than worse_vm_pu below (above) the base case's; else
// same. voltage_drop and voltage_rise are new, base_value the base |V|.
void tag_violations(const BaseValues &base, const PfOptions &opt, Assessment &a);
