// Ties: branches of no impedance (line records with |R + jX| below the
// threshold, closed system switching devices). The buses a group of ties
// joins are one electrical node: the node is solved as one bus, its
// representative, which carries the sums of its members' loads, shunts and
// units, and every other member takes the representative's voltage. Every
// RAW bus stays in Network::buses, so results and limits stay per bus.
#pragma once

#include "network/network.h"

#include <vector>

// Joins the buses of every group of ties in service into one node, in a
// network whose buses are all their own (as build_network makes them before
// this step). The representative is the node's first slack bus in RAW
// order, else its first voltage-controlling bus, else its first bus; the
// node takes its kind, set-point VS and RAW angle, and one note names the
// members whose VS differs. The node's shunts gain the ties' charging and
// end shunts. The other members become `tied`, with no loads, shunts or
// units of their own; the ends of every other branch move to their nodes.
// A network without ties in service is left as it is.
void join_ties(Network &net);

// The network with the given branches out of service (and `closed` in
// service) and its ties joined anew, for an outage that opens a tie and so
// splits a node (or closes one and so joins two).
Network without_branches(const Network &net, const std::vector<int> &branches, const std::vector<int> &closed = {});

// Whether any of the given branches is a tie in service.
bool opens_a_tie(const Network &net, const std::vector<int> &branches);

// Whether any of the given branches is a tie out of service.
bool closes_a_tie(const Network &net, const std::vector<int> &branches);
