// The FACTS devices' file of a solved case (base_facts.csv).
#pragma once

#include "results/results.h"

#include <string>

// One row per FACTS device of the network (base_facts_columns), RAW order:
// its name, MODE, buses I and J (J empty for a STATCOM), the bus its shunt
// element holds (empty without one), the active and reactive power its
// series element delivers at J (MW, Mvar; empty without one), the reactive
// power its shunt element puts into bus I (its unit's share, as
// unit_outputs gives it) and the limit that element is held at: "SHMX"
// (at +SHMX) or "-SHMX", "" where it is not. Columns: docs/file-formats.md
std::string facts_csv(const SolvedNetwork &s);
