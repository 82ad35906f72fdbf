// The base case: the network solved as the RAW has it, with what every
// contingency solved from it shares.
#pragma once

#include "network/islands.h"
#include "network/network.h"
#include "network/ybus.h"
#include "powerflow/chord.h"
#include "powerflow/state.h"

#include <vector>

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
};

// Solves the network as the RAW has it. Where the branches in service do
// not join every bus, every island holding a slack bus is solved and the
// rest cut off.
BaseCase solve_base_case(const Network &net, const PfOptions &opt);
