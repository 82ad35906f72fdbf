// A full solve: Newton-Raphson inside the reactive-limit loop, and the base
// case built on it.
#pragma once

#include "network/islands.h"
#include "powerflow/chord.h"
#include "powerflow/newton.h"

#include <complex>
#include <string>
#include <vector>

struct PfSolution {
    Voltages v;
    BusSchedule sch;
    std::vector<signed char> held; // +1 at the sum of QT, −1 at the sum of QB, 0 not held
    bool converged = false;
    int iterations = 0;     // steps of every solve of the loop, chord and Newton
    int chord_steps = 0;    // of which chord steps (on the base case's factors or the loop's own)
    int factorizations = 0; // Jacobians factored
    int q_changes = 0;      // buses held or released
    NewtonResult last;      // the last Newton solve
    // Why it did not converge. Where a Newton solve failed, it gives
    // `iterations`: "no convergence in 56 iterations (the last Newton solve
    // stopped at max_iterations = 20)", "... (the last Newton solve stopped
    // on a mismatch that is not finite)", "singular Jacobian after 3
    // iterations".
    std::string failure;
};

// Reactive output of the units at bus i at the state of the last mismatch
// call: Qg = Im(S_i) + qd + iq·|V| + qdc (a VSC converter that holds the
// bus's voltage counts as a unit).
double unit_q(const Network &net, const BusSchedule &sch, const NewtonWorkspace &ws, const Voltages &v, int i);

// What one DC converter draws from its own AC bus, pu on SBASE.
struct DcDraw {
    int bus = 0; // bus index
    std::complex<double> s;
};

// What every converter of the in-service DC lines draws at voltages v, each
// two-terminal line from its taps in sch; `taps` receives the taps their
// operating points moved to. A line with an end cut off draws nothing.
std::vector<DcDraw> dc_draws(const Network &net, const BusSchedule &sch, const Voltages &v, std::vector<double> &taps);

// What the DC lines draw from their AC buses at voltages v, into sch.pdc
// and sch.qdc, and the two-terminal lines' taps into sch.taps (each line
// from its taps in sch). A line with an end cut off draws nothing. Returns
// the largest change of any injection (pu), infinite when a tap moved.
double dc_injections(const Network &net, BusSchedule &sch, const Voltages &v);

// Solves from v and the held states given, until every voltage-controlled
// bus other than the slack is in one of three states:
//   |V| = VS with QB_sum ≤ Qg ≤ QT_sum;  Qg = QT_sum with |V| ≤ VS;
//   Qg = QB_sum with |V| ≥ VS
// (tolerances 1e-6 pu on V, 1e-4 Mvar on Q). After each converged solve it
// holds the free bus with the largest Q violation at the limit it broke and
// releases the held bus furthest on the wrong side of VS, then solves again
// from there. A bus whose QT_sum = QB_sum is held and stays held. At most
// 2 × (voltage-controlled buses) changes, else it has not settled.
// With two-terminal DC lines this is the inner loop of another: after each
// converged solve the converters' P and Q are found again at the new
// voltages, and the network is solved again from there until no injection
// changes by more than the tolerance and no tap moves (at most 30 rounds).
// With `chord`, each solve first tries chord steps on the base case's
// factors and runs Newton-Raphson from the same start when they do not
// converge; both end on the same test, so the result does not depend on
// which one did. Buses joined by ties end at their node's voltage.
PfSolution solve_with_q_limits(const Network &net, const Ybus &y, BusSchedule sch, std::vector<signed char> held,
                               Voltages v, const PfOptions &opt, NewtonWorkspace &ws, const ChordBase *chord = nullptr);

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
