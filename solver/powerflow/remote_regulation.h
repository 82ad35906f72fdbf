// The equations of remote voltage regulation, inside the Newton solve.
//
// A group (network/reg_groups.h) of members M regulating bus r at VS adds
// |M| unknowns (the members' unit Q, Qg_b = Im(S_b) + qd_b + iq_b·|V_b| +
// qdc_b) and takes |M| equations, written into the members' Q rows:
//   |V_r| = VS                            in the row of vhold,
//   Qg_g − (a_g / a_ref)·Qg_ref = 0       for every member g ≠ ref, in g's
//                                          row (ref's where g is vhold),
// a_b the RMPCT of b's plant (its first in-service unit's; 1 each where
// every a_b is 0) and ref the member with the largest share. A member whose
// Qg reaches its own limit is held there and leaves the sharing (the
// reactive-limit loop, q_limits.h); the others go on holding the voltage.
// vhold is r where r is a member (its own units hold it: its row is then
// the usual identity on |V_r|), else ref.
// A member's |V| stays an unknown; r's own Q row stays a load bus's.
#pragma once

#include "powerflow/state.h"

#include <utility>
#include <vector>

// The (row, column) pairs the groups add to the Jacobian's pattern: for
// each member g, the columns of every other member's Q row and of |V_r|,
// in row Q_g.
std::vector<std::pair<int, int>> regulation_pattern(const Network &net, const Ybus &y);

// Sets vhold, ref and ratio of every group from the kinds and rmpct in sch.
// A member takes part while it is `reg` (the regulated bus while it is pv
// or a slack). Where the regulated bus is cut off, the members fall back
// to holding their own terminals (pv at their VS, released from a limit,
// their |V| in v set to it); returns the groups that did.
std::vector<int> refresh_groups(const Network &net, BusSchedule &sch, std::vector<signed char> &held, Voltages &v);

// Writes the groups' rows of F (at ws.vc and ws.current, which mismatch
// has just computed) and returns the largest of them with its bus.
double regulation_mismatch(const Network &net, const BusSchedule &sch, const Voltages &v, NewtonWorkspace &ws,
                           int &worst_bus);

// Writes the groups' rows of J (after jacobian has filled the rest, zeros
// in the members' Q rows).
void regulation_jacobian(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                         NewtonWorkspace &ws);
