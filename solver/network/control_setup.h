// Voltage and flow controls of the RAW, as devices the power flow may
// adjust: switched shunts (MODSW 1 discrete, 2 continuous) and transformer
// windings (COD 1 voltage, 2 reactive flow, 3 active flow). Each holds one
// setting, in the RAW's own units, that decides part of the network:
//   switched shunt: B, Mvar at 1 pu (BINIT as read), in its bus's shunt;
//   COD 1, 2: the winding ratio WINDV (pu or kV as CW says), in the
//     branch's tap and, through its impedance correction table, its ys;
//   COD 3: the winding angle ANG, degrees, in the branch's shift and ys.
// The network's buses and branches always hold the settings of
// Network::controls (set_control_setting keeps them together), so a Ybus
// made from the network, or a branch stamp taken from it, agrees with them.
#pragma once

#include "network/network.h"

struct RawCase;

// "switched_shunt", "tap_voltage", "tap_reactive", "phase_shifter".
const char *control_kind_name(ControlKind k);

// Reads the controls of the RAW into net.controls (after the buses and
// branches are built), and one note each for controls left as read:
// switched shunts of MODSW 3 to 6, windings of COD ±4 or ±5, and COD 1 or 2
// windings whose CONT names no bus of the network.
void add_controls(const RawCase &raw, Network &net);

// Puts setting x of control c into the network: the shunt's bus (and its
// own entry where ties join it) or the winding's branch. Returns the
// change of the shunt's B in pu (0 for a winding).
double set_control_setting(Network &net, int c, double x);

// The branch of a winding control at setting x (tap, shift, ys), the rest
// as in `br`.
NetBranch winding_at(const NetControl &ctl, const NetBranch &br, double x);
