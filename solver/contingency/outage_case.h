// Setting up an outage: the network, Ybus, schedule and start it is solved
// on, its islands cut and its slacks chosen.
#pragma once

#include "contingency/changes.h"
#include "powerflow/base_case.h"
#include "powerflow/state.h"

#include <string>
#include <vector>

// What an outage is solved on, and from: the base network (or its copy
// with the outage's injections changed) with its branches switched in the
// base Ybus, or where the outage opens or closes a tie, the network rebuilt
// without (with) them, with its own Ybus and workspace (plain
// Newton-Raphson, no chord steps). Either starts from the base-case
// solution with its held buses and set-points.
struct OutageCase {
    const Network *net = nullptr;
    Network edited;
    Network rebuilt;
    bool is_rebuilt = false;
    std::vector<char> on;
    Ybus y;
    BusSchedule sch;
    std::vector<signed char> held;
    Voltages v;
    NewtonWorkspace ws;      // the rebuilt network's
    std::vector<char> fresh; // nodes that start from the rebuilt network's RAW schedule
    bool may_split = false;
    std::vector<int> island; // island of every bus after the outage, −1 where off
};

// What an outage cuts off: RAW buses and their load, MW.
struct CutOff {
    int buses = 0;
    double load_mw = 0;
};

// note += "; " + more (no separator on an empty note).
void add_note(std::string &note, const std::string &more);

// Sets c up for outage o from the base case: the network, Ybus and start
// (set_up), buses a closed branch joins back, a disconnected bus and the
// parts an opened branch splits off cut off (counted into cut), and a new
// slack for every island left without one. Notes "islanded: N buses cut
// off" and "slack moved to bus N". False when an island has no unit left to
// be its slack.
bool prepare_outage(const Network &net, const BaseCase &base, const Outage &o, OutageCase &c, CutOff &cut,
                    std::string &note);

// Units regulating a bus that the outage cut off hold their own terminals;
// one note per such bus.
void refresh_outage_groups(OutageCase &c, std::string &note);
