// Remote voltage regulation by units: a unit whose IREG names another bus
// holds that bus's voltage at its VS instead of its own terminal's. Every
// bus whose units regulate one bus joins that bus's group; the group holds
// the regulated bus at the set-point with the members' reactive powers
// shared in proportion to their RMPCT (powerflow/remote_regulation.h solves it).
#pragma once

struct Network;

// Builds net.groups from the in-service units' IREG (on the buses as ties
// joined them) and makes every member other than the regulated bus `reg`.
// Rules, each broken one leaving a note:
//   - a bus follows its first in-service unit: units of one bus naming
//     different buses are noted, the first one holds;
//   - a slack bus holds its own voltage: its units' IREG is ignored;
//   - buses regulating one bus at different VS: the first in RAW order
//     sets it;
//   - a regulated bus that holds its own voltage (a slack, or a voltage-
//     controlled bus whose own units regulate it) at another set-point:
//     the group's units hold their own terminals instead; at the same
//     set-point it is the group's first member.
// Does nothing when net.remote_regulation is false (every unit then holds
// its own terminal, as do units whose IREG names an isolated bus).
void add_regulation(Network &net);
