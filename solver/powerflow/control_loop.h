// Adjusting the controls of network/control_setup.h: an outer loop around
// the reactive-limit loop that moves switched shunts, tap ratios and phase
// shift angles until each holds its quantity within its band.
#pragma once

#include "network/network.h"
#include "network/ybus.h"
#include "powerflow/base_case.h"
#include "powerflow/state.h"

#include <string>
#include <vector>

// The base case, or a contingency: which of the options' modes act there
// ("base" and "all" in the base case, only "all" in a contingency).
enum class ControlScope { base_case, contingency };

// Whether control c acts in that scope under the options.
bool control_acts(const NetControl &c, const PfOptions &opt, ControlScope scope);

// Whether any control of the network acts in that scope.
bool controls_act(const Network &net, const PfOptions &opt, ControlScope scope);

// Where a control ended:
//   in_band    its quantity is within the band;
//   at_limit   outside it, the setting at the end of its range that it
//              would have to pass;
//   hunted     outside it after its steps went back and forth too often,
//              left at its last setting;
//   unit_held  its regulated bus's voltage is held by units (the bus is
//              voltage-controlled and not at a reactive limit), so it is
//              left where it is;
//   off        its device or regulated bus is out of service or cut off;
//   locked     it does not act in this scope.
enum class ControlState { in_band, at_limit, hunted, unit_held, off, locked };
const char *control_state_name(ControlState s);

// What the outer loop did, per control of the network: its end state and
// its held quantity there (pu for a voltage, MW or Mvar for a flow; NaN
// for a control that is off or locked).
struct ControlsOutcome {
    std::vector<ControlState> state;
    std::vector<double> value;
    int rounds = 0; // solves after the first
    int hunted = 0;
    int at_limit = 0;
};

// The outer loop from a converged solution s of network net (Ybus y,
// branches in service `on`): while a control acting in `scope` has its
// quantity outside its band, every such control moves, at once, by the
// change the linearised network suggests (J·Δx = −∂F/∂u·Δu, J the
// Jacobian at the solution): a discrete one to the position nearest that
// change and at least one position on, aiming half a position's effect
// inside the nearer edge of the band, a continuous one to just inside that
// edge; controls holding the same bus share the change. Each move updates
// the network (set_control_setting) and y's values (the pattern stays),
// and the reactive-limit loop solves again from the last state. A control
// whose direction reverses more than 3 times stops (hunted); at most 25
// rounds, else the solution fails with "controls did not settle in 25
// rounds". Where the solve after a round's moves fails, the same moves are
// tried once more a quarter of the way (a discrete control at least one
// position) before the solution fails.
// Iteration counts add up over every solve.
PfSolution adjust_controls(Network &net, Ybus &y, const std::vector<char> &on, PfSolution s, const PfOptions &opt,
                           NewtonWorkspace &ws, const ChordBase *chord, ControlScope scope, ControlsOutcome &out);

// solve_with_q_limits, then adjust_controls when it converged.
PfSolution solve_with_controls(Network &net, Ybus &y, const std::vector<char> &on, BusSchedule sch,
                               std::vector<signed char> held, Voltages v, const PfOptions &opt, NewtonWorkspace &ws,
                               const ChordBase *chord, ControlScope scope, ControlsOutcome &out);

// solve_base_case, then, where any control acts in the base case, the
// outer loop on it: net, bc.y and the chord factors end at the adjusted
// settings, so every contingency solved from bc starts from them. Then,
// with opt.base_generator_response, share_base_case (controls held where
// they settled).
BaseCase solve_base_case_with_controls(Network &net, const PfOptions &opt, ControlsOutcome &out);

// A contingency's note on its controls against the base case's settings:
// "controls moved: 2 taps, 1 shunt; 1 at a limit; 1 hunted" (at a limit:
// of those that moved, the ones that ended at the end of their range with
// their quantity still outside the band), empty when none moved.
std::string controls_note(const Network &base, const Network &after, const ControlsOutcome &out);
