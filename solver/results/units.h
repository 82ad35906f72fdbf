// The units' file: every unit of the RAW with its share of its bus's solved
// output.
#pragma once

#include "raw/raw.h"
#include "results/results.h"

#include <complex>
#include <string>
#include <vector>

// What each unit of the network puts out at the solution, pu (0 for a unit
// out of service, taken out, or at a bus cut off). A bus's output
// (bus_output) is shared among its in-service units:
//   P  at a slack bus (a tie node's representative where the node is the
//      slack), every unit at one fraction of its active range,
//        P_u = PB_u + (P − ΣPB)·w_u/Σw,  w_u = PT_u − PB_u,
//      and P/n each where a unit's range is not positive; at any other bus
//      each unit its PG;
//   Q  at a load bus not held at a limit each unit its QG; otherwise, after
//      what VSC converters holding the bus's voltage put out (vsc_q), every
//      unit at one fraction of its reactive range,
//        Q_u = QB_u + (Q − ΣQB)·w_u/Σw,  w_u = QT_u − QB_u,
//      w_u = 1 where a unit's range is not positive (the rule
//      tie_node_output shares a node's Q among its buses by).
std::vector<std::complex<double>> unit_outputs(const SolvedNetwork &s);

// A units file (base_units_columns): one row per unit of `raw_units` (the
// RAW's, in file order), matched to the network's units by line; a unit of
// a bus the network leaves out (IDE 4) has its RAW status and output 0.
// Limits are the RAW's. Columns: docs/file-formats.md
std::string units_csv(const std::vector<Unit> &raw_units, const SolvedNetwork &s);
