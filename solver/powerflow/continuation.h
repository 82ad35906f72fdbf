// Continuation on an outage: the outage applied by a fraction λ from 0 to
// 1, each solve warm-started from the last one solved, to find how much of
// it the network can take when it can not take all of it.
#pragma once

#include "powerflow/state.h"

#include <functional>
#include <vector>

// The energised bus whose |V| lies furthest outside
// [opt.min_realistic_vm_pu, opt.max_realistic_vm_pu], or −1 when every one
// lies inside: a solved state with such a bus is no operating point.
int unrealistic_bus(const BusSchedule &sch, const Voltages &v, const PfOptions &opt);

// The path from a state that solves the network before the outage to the
// network after it. With F_1 the mismatch after the outage (network, y1,
// sch) and R0 = F_0(V_start) the mismatch of the same buses at the start
// with the admittance before the outage (y1 + d),
//   H(V, λ) = F_λ(V) − (1 − λ)·R0,   Y_λ = Y_1 + (1 − λ)·D,
// so that V_start solves λ = 0 and λ = 1 is the outage itself: opened
// branches keep (1 − λ) of their series admittance and charging, and every
// injection the outage changes (units, loads, shunts outside the Ybus,
// DC lines, buses that change kind) moves by λ of its change, taken at the
// start's voltages. A held bus's Q limit moves from qmax0 (qmin0) likewise.
struct OutagePath {
    const Network *net = nullptr;        // after the outage
    Ybus y1;                             // its Ybus
    std::vector<std::complex<double>> d; // Y_0 − Y_1 on y1's value array (empty: the Ybus does not change)
    BusSchedule sch;                     // after the outage, from its start
    std::vector<signed char> held;
    Voltages v;                       // the start, λ = 0's solution
    std::vector<double> qmax0, qmin0; // reactive limits before the outage (empty: sch's)
};

// One full solve at a point of the path (solve_with_q_limits, or with
// controls), from the schedule and voltages given, on Ybus y.
using PathSolve = std::function<PfSolution(const Ybus &y, BusSchedule sch, std::vector<signed char> held, Voltages v)>;

struct PathResult {
    double lambda = 0;     // the largest fraction solved, to `resolution`
    bool singular = false; // the Jacobian is singular at the start
    PfSolution sol;        // the state at lambda (the start's when lambda = 0)
    int weak_bus = -1;     // where |V| falls fastest with λ there, −1 if nowhere
    double weak_vm = 0;    // and its |V|, pu
    int solves = 0;        // points of the path tried
    int iterations = 0;    // their steps, chord and Newton
};

constexpr double continuation_resolution = 0.005;

// Follows the path from λ = 0 with steps of 1/4, each point from the last
// one solved, halving the step on a point that does not solve (or solves
// to an unrealistic state), until λ = 1 solves or a point within
// `continuation_resolution` of the last one solved fails. A point that has
// failed twice is tried again only from within the resolution; until then
// the steps halve the way to it. The weak spot is the bus of greatest
// −d|V|/dλ at the last point solved, from the tangent
// J·dx/dλ = −∂H/∂λ = −(H(V, 1) − H(V, 0)).
PathResult follow_outage(const OutagePath &p, const PfOptions &opt, NewtonWorkspace &ws, const PathSolve &solve);
