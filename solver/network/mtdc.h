// Multi-terminal DC lines as the AC network sees them: the DC network's
// nodal equations with the converters' controls give each converter's DC
// current and voltage, and from them what it draws from its AC bus, by the
// line-commutated converter's equations of the two-terminal lines
// (network/dclink.h). The DC side is in the file's units (kV, kA, ohms, MW,
// Mvar).
#pragma once

#include "network/network.h"

#include <cstddef>
#include <string>
#include <vector>

// The operating point of a multi-terminal line, per converter in file order:
// DC current (kA, positive from the AC side into the DC network at a
// rectifier and out of it at an inverter), DC voltage at its DC bus (kV), α
// or γ (degrees), tap; the active power drawn from its AC bus (MW, negative
// at an inverter) and the reactive power absorbed (Mvar).
struct MtdcPoint {
    bool blocked = false;
    std::vector<double> id_ka, vdc_kv, angle_deg, tap;
    std::vector<double> p_mw, q_mvar;
    std::vector<bool> rectifier;
    std::string mode;              // "power", "current", "current (inverter voltage below VCMOD)"
    std::vector<std::string> note; // per converter: a limit reached
    std::string why;               // why it is blocked
};

// The line at its converters' AC voltages vac_pu (per converter) from the
// taps given (the RAW's, or the last operating point's). The equations are
// in docs/solver-model.md (multi-terminal DC lines).
MtdcPoint mtdc_point(const NetMtdc &x, const std::vector<double> &vac_pu, const std::vector<double> &taps);

// Where line m's converter taps start in BusSchedule::taps: after the
// two-terminal lines' two each and the converters of the lines before it.
std::size_t mtdc_tap_offset(const Network &net, std::size_t m);

// The multi-terminal lines of the RAW into Network::mtdc, those in service
// checked (InputError for data the model can not take). A line with a
// converter on an isolated bus is left out.
void add_mtdc_lines(const RawCase &raw, Network &net);
