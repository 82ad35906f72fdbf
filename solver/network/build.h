// Building the network from the RAW data: buses, loads, shunts, units,
// branches (a transformer as pi-model branches), DC links, ties, remote
// regulation groups and controls, in that order; and the index of what
// each RAW bus holds.
#pragma once

#include "network/network.h"

#include <unordered_map>
#include <vector>

struct RawCase;

// RAW data -> per-unit network, ties joined into nodes, units regulating a
// remote bus grouped (unless remote_regulation is false: each then holds
// its own terminal). Throws InputError for data the model can not take (a
// transformer of zero impedance, a line of zero impedance with a threshold
// of 0, a winding ratio that is not positive). Islands without a slack
// bus get one where auto_swing is true (network/swing.h); a network left
// with none is refused.
Network build_network(const RawCase &raw, double zero_impedance_threshold_pu = default_zero_impedance_threshold_pu,
                      bool remote_regulation = true, bool auto_swing = true);

// What the contingencies name, by bus (see ElementIndex).
ElementIndex index_elements(const Network &net);

// The list of `number` in one of an ElementIndex's maps (empty if none).
const std::vector<int> &at_bus(const std::unordered_map<int, std::vector<int>> &map, int number);
