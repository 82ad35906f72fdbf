// The console summary of a report.
#pragma once

#include "report/report.h"

#include <string>

// The console summary: counts per status (report_statuses), islanded and
// with violations, the ten highest loadings, the ten lowest voltages, the
// diverged contingencies, the no_solution ones (no_solution_rows) and the
// unrealistic ones, the ten largest generator responses and the
// contingencies with the reserve exhausted (response.h; each only when some
// row is in it), and the largest load cut off, as aligned plain-text
// tables. Labels, notes and every other field are shown as printable()
// makes them.
std::string summary(const Report &r);
