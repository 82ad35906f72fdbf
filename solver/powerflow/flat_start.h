// Where a solve starts: the RAW's voltages, or a flat start whose angles
// come from a DC power flow.
#pragma once

#include "powerflow/state.h"

// Start point: the RAW's VM/VA, or with flat_start 1 pu at the slack's RAW
// angle turned by the phase shifts on the way from the slack; voltage-
// controlled buses start at their set-point VS either way, and every bus
// joined by ties at its node's representative's voltage.
Voltages initial_voltages(const Network &net, const BusSchedule &sch, bool flat_start);

// V_m = V_rep at every member m of a tie node: the members' own unknowns
// are held by identity rows, so a solve leaves them where they started.
void copy_tied_voltages(const Network &net, Voltages &v);
