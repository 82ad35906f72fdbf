// The reactive-limit loop: voltage-controlled buses held at the limit
// their units break and released when their voltage returns to the right
// side of VS, with a solve after each round of changes.
#pragma once

#include "powerflow/state.h"

#include <vector>

struct ChordBase;
struct Sharing;

// Reactive output of the units at bus i at the state of the last mismatch
// call: Qg = Im(S_i) + qd + iq·|V| + qdc (a VSC converter that holds the
// bus's voltage counts as a unit).
double unit_q(const Network &net, const BusSchedule &sch, const NewtonWorkspace &ws, const Voltages &v, int i);

// The reactive-limit loop of solve_with_q_limits (dc_rounds.h gives its
// rules): batch rounds of holds and releases on loose solves, then on tight
// ones, then one bus held and one released at a time, a solve (solve_once)
// after each change, until every voltage-controlled bus is in one of its
// three states. Its tied buses' voltages are left where they started.
// With a sharing (powerflow/sharing.h), each settled state is a pass of
// it: where the sharing moves, the loop solves again on the same chord
// factors, until both settle.
PfSolution q_limit_loop(const Network &net, const Ybus &y, BusSchedule sch, std::vector<signed char> held, Voltages v,
                        const PfOptions &opt, NewtonWorkspace &ws, const ChordBase *chord, Sharing *share = nullptr);
