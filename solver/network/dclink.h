// DC links as the AC network sees them: each converter draws active power
// from its AC bus (or delivers it) and absorbs reactive power, by the
// converter equations of the link's controls. The DC side is kept in the
// file's units (kV, kA, ohms, MW, Mvar); the injections are turned into per
// unit on SBASE where they meet the AC network.
#pragma once

#include "raw/raw.h"

#include <string>

// The operating point of a two-terminal DC line at given AC voltages.
struct LccPoint {
    bool blocked = false;
    double id_ka = 0;
    double vdr_kv = 0, vdi_kv = 0;
    double alpha_deg = 0, gamma_deg = 0;
    double tap_r = 1, tap_i = 1;
    double pr_mw = 0, qr_mvar = 0; // drawn and absorbed by the rectifier
    double pi_mw = 0, qi_mvar = 0; // delivered and absorbed by the inverter
    std::string mode;              // "power", "current", ...
    std::string note;              // a limit reached, or why it is blocked
};

// The line-commutated converter's equations, shared by two-terminal and
// multi-terminal lines (kV, kA, ohms, MW, Mvar; angles in radians).
namespace lcc_eq {
// No-load DC voltage of NB bridges: Vdo = NB·(3√2/π)·V·EBAS·TR/TAP.
double vdo(const LccConverter &c, double v_pu, double tap);
// The tap that gives no-load voltage `want` at v_pu.
double tap_for(const LccConverter &c, double v_pu, double want);
// From `from`, whole steps of STP towards `want` (with `past`, the first
// step at or beyond it), within TMN..TMX.
double step_tap(const LccConverter &c, double from, double want, bool past);
// The current carrying `p` MW where the voltage is vs + a·I.
double current_for_power(double p, double vs, double a);
// Reactive absorption of a converter at angle `ang` drawing or delivering `p`.
double reactive(const LccConverter &c, double vdo_kv, double ang, double id, double p);
// Drops per kA: NB·((3/π)·XC + 2·RC) at a rectifier, NB·((3/π)·XC − 2·RC) at an inverter.
double drop_r(const LccConverter &c);
double drop_i(const LccConverter &c);
} // namespace lcc_eq

// The line at AC voltages vr and vi (pu) from the taps given (the RAW's,
// or the last operating point's). The equations and the control sequence
// are in the README (two-terminal DC lines).
LccPoint lcc_point(const TwoTerminalDc &d, double vr_pu, double vi_pu, double tap_r, double tap_i);

// The DC lines of the RAW, those in service checked: Network::lcc and
// Network::vsc. A VSC converter that holds its AC voltage (MODE 1) makes its
// bus voltage-controlled at ACSET, within its reactive limits. Lines with an
// end on an isolated bus are left out. Throws InputError for data the model
// can not take.
struct Network;
void add_dc_links(const RawCase &raw, Network &net);
