// One contingency: find its element in the network, take it out, solve
// from the base case, and assess the result.
#pragma once

#include "contingency/ctg_list.h"
#include "powerflow/base_case.h"
#include "powerflow/control_loop.h"
#include "powerflow/flows.h"
#include "powerflow/state.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

// What became of a contingency (the results' status column):
//   converged    an operating point: solved, every energised bus within the
//                realistic range, directly or by continuation on the outage;
//   unrealistic  the equations solved, but at a state with an energised bus
//                outside the realistic range, and continuation found no
//                operating point either;
//   no_solution  no operating point: continuation from the base case
//                applies only solvable_fraction of the outage;
//   diverged     neither: a singular Jacobian at the outage's start, or
//                controls that do not settle;
//   not_found, unsupported  the element line names nothing in the network,
//                or what it names can not be taken out.
enum class CtgStatus { converged, unrealistic, no_solution, diverged, not_found, unsupported };
constexpr int ctg_status_count = 6;
const char *status_name(CtgStatus s);

// A contingency's network as it was solved (its element out), kept for its
// detail files: the network, its branches in service and, where the state is
// one part of the way through the outage (no_solution), the fraction of each
// branch's admittance left in (empty: all of it).
struct CtgState {
    Network net;
    std::vector<char> on;
    std::vector<double> branch_scale;
    // With a generator response (empty without), each unit's active output
    // as the sharing holds it, pu: its share, or for a unit that does not
    // share its base output (the outage's own where it sets it); NaN where
    // cut off. What a slack's units put out where it adds up to the
    // slack's solved output.
    std::vector<double> slack_unit_p;
};

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
    // The largest fraction of the outage solved (1 when converged, λ* when
    // no_solution, −1 otherwise).
    double solvable_fraction = -1;
    // MW the sharing units other than the slacks' moved, signed (NaN: no
    // sharing, with generator_response "swing" or not converged).
    double response_mw = std::nan("");
    double solve_ms = 0;
    std::string note;
    PfSolution sol; // the solved state (for checks against references)
    // Where its controls ended, when any act in contingencies (options
    // "all"); empty otherwise.
    ControlsOutcome controls;
    // With keep_state: the network sol is a state of (converged,
    // unrealistic, no_solution).
    std::shared_ptr<const CtgState> state;
};

// Solves one block against the base case. Nothing of the base case is
// changed, so contingencies are independent of each other and of their
// order. Every outcome is a result, never an exception. Controls that act
// in contingencies (options "all") move on a copy of the network, from the
// base case's settings.
CtgResult solve_contingency(const Network &net, const BaseCase &base, const CtgBlock &block, const PfOptions &opt,
                            NewtonWorkspace &ws, bool keep_state = false);
