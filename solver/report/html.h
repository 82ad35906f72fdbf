// The report as one HTML page for people: the run, the counts, charts of
// the worst loadings and voltages and of their spread, and tables of the
// violations, the no_solution contingencies (with a chart of their solvable
// fractions), the unrealistic ones, the failures and the islands, and,
// where the run has any, the generator response. The page is self-contained
// (inline CSS, SVG and a few lines of script that sort the tables), so it
// opens offline, and is also well-formed XML, so that a test can read it
// back strictly.
#pragma once

#include "report/html_text.h" // html_text, for the page's users
#include "report/report.h"

#include <string>

// What the page says of the run beyond the report itself.
struct PageRun {
    std::string case_name; // from case.json; empty: unnamed
    std::string date;      // when the report was made, as shown
};

// The page. Every text from the input (labels, notes, elements, the case
// name, reasons) is shown as printable() makes it and escaped, so no input
// can add markup. Numbers are shown rounded: loadings to 0.01 %, voltages
// to 0.0001 pu, MW and MVA to 0.01.
std::string report_html(const Report &r, const PageRun &run);

// The case's name from the text of case.json, "" when it has none or the
// text is not a JSON object with a string "name".
std::string case_name_of(const std::string &case_json);
