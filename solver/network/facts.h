// FACTS devices as elements the power flow already solves (see NetFacts):
//   shunt element (SHMX > 0): a unit at bus I with P = 0 and
//     −SHMX ≤ Q ≤ SHMX (MVA at 1 pu), holding VSET at bus I or at the
//     remote bus REMOT (FCREG) where that is a load or generator bus, its
//     share of a remote bus's Q by RMPCT; its bus becomes a generator bus;
//   MODE 1: the series element delivers PDES + j·QDES at J, a constant
//     injection there, and draws the same at I, a constant load there: the
//     device neither makes nor loses active power, and the shunt element
//     supplies the reactive power the series element draws at I (taken as
//     QDES, exact where V_I = V_J);
//   MODE 2: the series element bypassed, a tie between I and J;
//   MODE 3: the series element a constant impedance SET1 + j·SET2 (pu),
//     a branch with no charging, unmonitored.
// Equations and their sources: docs/facts.md.
#pragma once

#include "network/network.h"

// Adds the in-service FACTS devices of `raw` to `net` (before join_ties and
// add_regulation): a device at a bus the network leaves out (IDE 4) is
// dropped with a note. A series impedance below `threshold` (pu) is a tie.
void add_facts(const RawCase &raw, Network &net, double threshold);
