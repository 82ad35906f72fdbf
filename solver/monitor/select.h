// What a monitor file (monitor/grammar.h) names, found in a network: the
// buses of each subsystem, the branches whose loadings are checked, the
// interfaces' member branches and the voltage criteria of each bus. What
// the network lacks (a bus, a branch, an area, zone or owner no bus has) is
// a warning, not an error: monitor files are shared between cases.
#pragma once

#include "monitor/grammar.h"
#include "network/network.h"

#include <string>
#include <vector>

// A subsystem's buses: indexes of RAW buses, increasing. A 3-winding unit's
// star point belongs to a subsystem when its winding 1's bus does; it is
// not listed, but counts where branch ends are placed.
struct SelectedSubsystem {
    std::string name;
    std::vector<int> buses;
};

// One branch of an interface: its flow is the active power into the branch
// at its from end (own_f), or at its to end (own_t) where `at_to`. A member
// written with its buses in the order opposite to the branch's is taken at
// the to end, and so counts with the opposite sign (less the losses).
struct InterfaceBranch {
    int branch = 0;
    bool at_to = false;
};

struct SelectedInterface {
    std::string name;
    double rating_mw = 0;
    std::vector<InterfaceBranch> members; // each branch once, at its first mention
    int line = 0;
};

// The voltage criteria of one bus: the last VOLTAGE RANGE and the last
// VOLTAGE DEVIATION line whose subsystem holds it.
struct BusVoltageCriteria {
    bool range = false;
    double vmin = 0, vmax = 0;
    bool deviation = false;
    double drop = 0, rise = 0;
};

struct MonitorSelection {
    std::vector<SelectedSubsystem> subsystems; // in file order
    // Monitored branches, increasing: both own ends in a subsystem of
    // BRANCHES IN, exactly one in a subsystem of TIES FROM, or named by a
    // MONITOR BRANCH line (each winding of a 3-winding unit named).
    std::vector<int> branches;
    std::vector<SelectedInterface> interfaces; // in file order
    std::vector<BusVoltageCriteria> voltage;   // by bus index
    std::vector<std::string> warnings;         // "FILE:LINE: what", printable
};

// Finds what `mon` names in `net`. Warnings, one a line:
//   "no bus B in the network", "no area A in the network" (zone, owner)
//   "no branch from bus I to bus J [to bus K] circuit C in the network"
//   "no tie from area A to area B in the network"
//   "subsystem 'S' holds no bus of the network"
MonitorSelection select_monitored(const MonitorFile &mon, const Network &net);
