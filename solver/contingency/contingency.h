// One contingency: find its element in the network, take it out, solve
// from the base case, and assess the result.
#pragma once

#include "contingency/ctg_list.h"
#include "powerflow/base_case.h"
#include "powerflow/control_loop.h"
#include "powerflow/flows.h"
#include "powerflow/state.h"

#include <string>
#include <vector>

enum class CtgStatus { converged, diverged, not_found, unsupported };
const char *status_name(CtgStatus s);

struct CtgResult {
    CtgStatus status = CtgStatus::unsupported;
    bool attempted = false; // the element was found in the network
    bool ran = false;       // a power flow was run
    int iterations = 0;
    double max_mismatch = 0;
    Assessment assessment; // when converged
    int buses_cut_off = 0; // RAW buses outside the solved island
    double load_cut_off_mw = 0;
    double load_lost_mw = 0; // in-service load the element line itself takes out (REMOVE LOAD)
    bool islanded = false;
    double solve_ms = 0;
    std::string note;
    PfSolution sol; // the solved state (for checks against references)
    // Where its controls ended, when any act in contingencies (options
    // "all"); empty otherwise.
    ControlsOutcome controls;
};

// Solves one block against the base case. Nothing of the base case is
// changed, so contingencies are independent of each other and of their
// order. Every outcome is a result, never an exception. Controls that act
// in contingencies (options "all") move on a copy of the network, from the
// base case's settings.
CtgResult solve_contingency(const Network &net, const BaseCase &base, const CtgBlock &block, const PfOptions &opt,
                            NewtonWorkspace &ws);
