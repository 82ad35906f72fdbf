// Swing buses for islands the RAW gives none: the bus of the island's
// in-service unit of the largest PT becomes its slack.
#pragma once

#include "network/network.h"

// Every island (over the branches in service, ties included) that holds an
// in-service unit and no slack bus gets one: the bus of its in-service unit
// of the largest PT (on a tie, the lowest bus number, then the unit first in
// RAW order), with one note naming it. An island with no unit in service
// keeps none, and is left de-energised by the base case. With auto_swing
// false nothing is chosen. Either way, a network left with no slack bus at
// all is refused (InputError). Runs before the ties are joined.
void add_swings(Network &net, bool auto_swing);
