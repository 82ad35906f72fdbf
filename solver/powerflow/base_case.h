// The base case: the network solved as the RAW has it, with what every
// contingency solved from it shares.
#pragma once

#include "network/islands.h"
#include "network/network.h"
#include "network/ybus.h"
#include "powerflow/chord.h"
#include "powerflow/state.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct MonitorCriteria; // powerflow/flows.h

// The schedule of the RAW: bus kinds, QG of units at load buses.
BusSchedule base_schedule(const Network &net);

struct BaseCase {
    std::vector<char> on;     // branches in service
    std::vector<char> bridge; // branches whose outage alone splits the solved island
    Ybus y;
    NewtonWorkspace ws;
    PfSolution sol;
    ChordBase chord;         // J0 at the solution, factored, for the contingencies
    int cut_off = 0;         // RAW buses outside the solved islands
    std::vector<int> island; // island of every bus (0, 1, ...), -1 where cut off
    ElementIndex elements;   // what the contingencies name, by bus
    FlowTable flows;         // the network's branches in opt.contingency_rating (flows.h)
    BusBranches branches_at; // every branch at each bus, for island searches
    // At the solution: each unit's active output (a slack's shared by
    // solved_unit_outputs) and each island's losses, pu: where a
    // contingency's generator response starts from.
    std::vector<double> unit_pg;
    std::vector<double> losses;
    // Per island, the losses' share in a contingency's generator response
    // (IslandShare::slope; 1 where not measured).
    std::vector<double> share_slope;
    // Each slack node's output sensitivity (slack_sensitivity in
    // powerflow/sharing.h), with a generator response.
    std::vector<std::pair<int, std::vector<double>>> slack_mu;
    // The start that solved the base case where its first one did not
    // (powerflow/hard_starts.h): "DC angles", "load scaling from 10 %";
    // empty where the first one did.
    std::string start;
    // What the base case's own generator response did (empty: none).
    std::string response_note;
    // What a monitor file narrows every contingency's assessment to (null:
    // every rated branch and every bus's own limits are checked).
    std::shared_ptr<const MonitorCriteria> monitor;
};

// Solves the network as the RAW has it. Where the branches in service do
// not join every bus, every island holding a slack bus is solved and the
// rest cut off. Where the solve fails from its start (the RAW's voltages,
// or a flat start with opt.flat_start), the retries of
// powerflow/hard_starts.h follow, and bc.start names the one that solved.
BaseCase solve_base_case(const Network &net, const PfOptions &opt);

// Fills bc.unit_pg and bc.losses from its solution.
void refresh_base_outputs(const Network &net, BaseCase &bc);

// The RAW's dispatch balanced by opt.base_generator_response rather than by
// the slack alone, from the solved base case: the sharers' outputs are
// written into net (units and their buses' schedules), and bc is solved
// again at them, its chord base retaken. A note in bc.response_note gives
// the MW moved. Not converged where the sharing did not settle.
void share_base_case(Network &net, BaseCase &bc, const PfOptions &opt);

// Fills bc.slack_mu, then bc.share_slope for opt.generator_response: every island's sharers
// moved by a small k from the solution (reactive limits held as they are),
// dh/dk over its loss-free value, kept where it is between 0.5 and 2.
void measure_share_slopes(const Network &net, BaseCase &bc, const PfOptions &opt);
