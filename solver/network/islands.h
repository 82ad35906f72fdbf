// Islands: the connected parts of the network over the branches in service.
#pragma once

#include "network/network.h"

#include <vector>

// The branches at each bus, in service or not, in the network's order:
// the neighbours of bus i are adj[start[i] .. start[i+1]), reached over
// branches via[...]. Built once for a network, for searches that skip the
// branches out of service.
struct BusBranches {
    std::vector<int> start, adj, via;
};
BusBranches bus_branches(const Network &net);

// Island number of every bus (0, 1, ...), over the branches marked in `on`;
// buses whose kind is off belong to no island (-1). Returns the count.
// all, where given, is bus_branches(net), and spares the search building
// its own.
int find_islands(const Network &net, const std::vector<char> &on, const std::vector<BusKind> &kind,
                 std::vector<int> &island, const BusBranches *all = nullptr);

// The island to solve: the one with the most RAW buses (star points do not
// count); on a tie the one holding the slack, else the one holding the
// lowest bus number.
int main_island(const Network &net, const std::vector<int> &island, int count);

// The islands of a base case to solve: every one holding a slack bus; where
// none does, the main island (which then has no slack to solve with).
std::vector<char> islands_to_solve(const Network &net, const std::vector<int> &island, int count);

// Bridges: the branches in service whose outage alone splits the island
// they are in (one flag per network branch). Found once for the base case,
// so that only a bridge's outage needs an island search. A branch with a
// parallel branch in service is no bridge. Buses whose kind is off are
// left out.
std::vector<char> find_bridges(const Network &net, const std::vector<char> &on, const std::vector<BusKind> &kind);
