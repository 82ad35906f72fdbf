// Retries for a base case that does not solve from its start: from the
// DC-angle start, then by load scaling from a lightly loaded state.
#pragma once

#include "network/network.h"
#include "network/ybus.h"
#include "powerflow/state.h"

#include <string>
#include <vector>

struct Retried {
    PfSolution sol;     // converged where a retry solved the network
    std::string start;  // which retry did: "DC angles", "load scaling from 10 %"
    double reached = 0; // where none did: the largest loading fraction solved (0: none)
};

// The network (Ybus y over the branches `on`, workspace ws) did not solve
// from its first start. Tried in turn, each a full solve with reactive
// limits (solve_with_q_limits):
//   1. where the first start was the RAW's voltages, the DC-angle start
//      (initial_voltages with flat_start: angles of the DC power flow
//      B'·θ = P, |V| at the set-points);
//   2. load scaling: every load (constant power, current and admittance)
//      and every unit's scheduled output times λ, solved from the DC-angle
//      start at λ = 10 % (else the first of 2, 25, 50 and 75 % that
//      solves), then λ raised by steps of 10 % from
//      the last state solved, each step doubled after a success (to at
//      most 25 %) and halved after a failure, until λ = 1 solves on the
//      network itself or the step falls below 0.5 %.
Retried retry_hard_start(const Network &net, const Ybus &y, const std::vector<char> &on, const BusSchedule &sch,
                         const PfOptions &opt, NewtonWorkspace &ws);

// Where the network does not solve with reactive limits: solved from the
// DC-angle start without them, the voltage-controlled bus whose units' Q
// lies furthest beyond their limits, as "; with reactive limits ignored it
// solves, the units of bus 7 then giving 16360.2 Mvar against their QT of
// 9999.0 Mvar"; "" where it does not solve without them either, or no bus
// is beyond a limit.
std::string q_limit_diagnosis(const Network &net, const Ybus &y, const std::vector<char> &on, const BusSchedule &sch,
                              const PfOptions &opt, NewtonWorkspace &ws);

// "10 %", "43.5 %": a loading fraction as a percentage, to 0.1.
std::string percent(double fraction);
