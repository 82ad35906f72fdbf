// What a contingency's element line changes in the network: the elements
// it names, found, and the copy of the network with them changed, for the
// kinds that change injections (loads, shunts, units' output, DC lines).
#pragma once

#include "contingency/ctg_list.h"
#include "powerflow/base_case.h"
#include "powerflow/state.h"

#include <complex>
#include <string>
#include <vector>

// The elements an element line names, as network indexes, and what it does
// to them.
struct Outage {
    std::vector<int> branches; // to open
    std::vector<int> closed;   // to put in service
    int unit = -1;             // unit to remove
    int bus = -1;              // bus to disconnect
    std::vector<int> loads;    // load records taken out
    std::vector<int> shunts;   // shunt records taken out
    std::vector<int> lcc, vsc; // DC lines blocked
    std::vector<int> mtdc;     // multi-terminal DC lines blocked
    std::vector<int> scaled;   // load records scaled by load_scale
    double load_scale = 1;
    int changed_unit = -1; // unit whose PG becomes unit_pg (pu)
    double unit_pg = 0;
    int records = 0;         // RAW records matched (branches: more than one is noted)
    bool found = false;      // the element is in the network
    bool already = false;    // nothing to change: out already (in service already, for a close)
    double load_lost_mw = 0; // in-service load taken out by the element line itself
    std::string note;        // what the change came to (a clamp, a load's new MW)
    std::string refusal;     // why the line can not be solved (then unsupported)
};

// Finds the elements of `e` in the network. The loads, shunts and units of
// a bus are those of its own RAW bus, wherever ties put their node.
Outage find_outage(const Network &net, const BaseCase &base, const Element &e);

// "branch 1-2 ckt 1", "load 1 at bus 5", ...: the element in messages.
std::string element_name(const Element &e);

// Whether the outage changes loads, shunts, units' output or DC lines, and
// so is solved on an edited copy of the network.
bool changes_injections(const Outage &o);

// A change of a bus's admittance to ground (shunts and constant-admittance
// load, in the Ybus diagonal), at its node.
struct DiagonalChange {
    int bus = 0;
    std::complex<double> dy;
};

// The network with the outage's loads, shunts, units' output and DC lines
// changed: each record changed, and by the same amount the sums of its own
// bus (Network::own, with ties) and of its node (Network::buses). A bus whose
// last VSC converter holding its voltage is blocked, and which has no unit,
// becomes a load bus. `dy` receives the changes of the Ybus diagonal.
Network edited_network(const Network &net, const Outage &o, std::vector<DiagonalChange> &dy);

// The base-case schedule carried over to the edited network `e` at the
// nodes not in `fresh` (which start from the RAW schedule): a changed
// unit's PG; a blocked VSC converter's reactive limits gone, its node a load
// bus where nothing else holds its voltage.
void carry_schedule(const Network &e, const Network &net, const Outage &o, const std::vector<char> &fresh,
                    BusSchedule &sch, std::vector<signed char> &held);
