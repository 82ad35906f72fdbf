// The contingencies without an operating point that the report lists on
// their own: no_solution ones with how much of their outage solved and
// their weak spot, unrealistic ones with the bus out of the realistic
// range. The buses come from the notes, where the solver writes them as
//   "...; solvable to λ = 0.415; weak spot: bus 8004 at 0.712 pu"
//   "unrealistic: bus 8004 at 0 pu (outside 0.5 to 2 pu)"
// (numbers as num() prints them), each part of a note after "; ".
#pragma once

#include "report/report.h"

#include <cstddef>
#include <string>
#include <vector>

// A bus and its |V| as a note names them.
struct NotedBus {
    std::string bus; // the bus number as written; "" when the note names none
    std::string vm;  // its |V| in pu as written
    double vm_pu = 0;
};

// The bus that the part `what` of `note` names: the first "WHAT: bus N at
// X pu" that starts the note or follows "; ", N a bus number (1 to 9
// digits) and X a finite number as strtod reads it. No bus when the note has
// no such part, or its N or X is not such a number (a damaged note).
NotedBus noted_bus(const std::string &note, const std::string &what);

// A contingency of those lists: its list position, the bus its note names
// and, for no_solution, its solvable_fraction (has_fraction false when the
// field is not a finite number).
struct Unsolved {
    std::size_t at = 0;
    NotedBus bus;
    bool has_fraction = false;
    double fraction = 0;
};

// The no_solution rows, smallest solvable_fraction first (ties in list
// order, rows without a number last), each with its weak spot.
std::vector<Unsolved> no_solution_rows(const Report &r);

// The unrealistic rows in list order, each with the bus its note names.
std::vector<Unsolved> unrealistic_rows(const Report &r);

// A solvable fraction as shown: three decimals, rounded down, so that a
// part short of the whole outage never reads 1.000 (a number outside 0 to
// 1, from a damaged file, in six significant digits).
std::string fraction_text(double fraction);
