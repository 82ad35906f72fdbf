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

#include "raw/raw.h"

#include <complex>
#include <string>
#include <vector>

struct Network;
struct NetBranch;

enum class ControlKind { switched_shunt, tap_voltage, tap_reactive, phase_shifter };

// "switched_shunt", "tap_voltage", "tap_reactive", "phase_shifter".
const char *control_kind_name(ControlKind k);

struct NetControl {
    ControlKind kind = ControlKind::switched_shunt;
    int bus = -1;    // the shunt's bus index (switched shunts)
    int branch = -1; // the winding's branch index (taps, phase shifters)
    int reg = -1;    // bus index whose voltage is held (shunts, COD 1), else -1
    // The band the held quantity is kept in: pu for a voltage; for COD 2
    // and 3 the Mvar or MW flowing into the winding at its own bus (the
    // branch's from end; charging in, magnetizing admittance out).
    double lo = 0, hi = 0;
    double min = 0, max = 0; // the setting's range (RMI..RMA; the shunt's block sums)
    double setting = 0;      // in force now
    double read = 0;         // as the RAW has it
    // Discrete settings in increasing order; empty for a continuous
    // control (MODSW 2, COD 3).
    std::vector<double> positions;
    // For a winding: tap = setting·ratio_per_unit (ratio kinds);
    // ys = 1/(z·F(setting)), F the correction table's factor (1 without).
    double ratio_per_unit = 1;
    std::complex<double> z;
    ImpedanceTable table; // no points: no correction
    // The way the setting moves the held quantity where the network gives
    // no usable sensitivity: +1 raising it raises the quantity, −1 lowers.
    int sign = 1;
    std::string id; // a shunt's ID
    int line = 0;   // RAW line of the record
};

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
