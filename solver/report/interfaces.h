// The interfaces the report lists on its own, from the ranks' interface
// rows (Report::interfaces, interfaces_columns with the list index first):
// each interface's heaviest loading over the contingencies, and the
// contingencies that load an interface beyond its rating.
#pragma once

#include "report/report.h"

#include <cstddef>
#include <vector>

// Rows in the list of the contingencies that overload an interface.
constexpr std::size_t interface_overloads_shown = 20;
// Interfaces in the console's list of the most loaded.
constexpr std::size_t interfaces_in_summary = 5;

// An interface row: its place in Report::interfaces and its loading_pct.
struct InterfaceLoading {
    std::size_t at = 0;
    double loading = 0;
};

// For every interface (by name) the row with its largest finite
// loading_pct (the first such row in list order on a tie), largest loading
// first, ties by name; at most `count`, every one when count is 0. Rows
// without a number in loading_pct are left out.
std::vector<InterfaceLoading> most_loaded_interfaces(const Report &r, std::size_t count);

// The rows with loading_pct above 100, largest first (ties in list order);
// at most `count`, every one when count is 0.
std::vector<InterfaceLoading> interface_overloads(const Report &r, std::size_t count);
