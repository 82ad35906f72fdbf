// The DC lines' rounds around the reactive-limit loop: what the
// converters draw at the AC voltages found, and the network solved again
// with those draws until they settle. solve_with_q_limits, a full solve,
// runs them.
#pragma once

#include "powerflow/state.h"

#include <complex>
#include <vector>

struct ChordBase;
struct Sharing;

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
                               Voltages v, const PfOptions &opt, NewtonWorkspace &ws, const ChordBase *chord = nullptr,
                               Sharing *share = nullptr);
