// One report for a whole run: the list's blocks matched with the result
// rows of every rank, checked complete.
#pragma once

#include "contingency/ctg_list.h"
#include "results/columns.h"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

// Every status a report row can have, in the order the summary and the
// page count them: the solver's (CtgStatus) and no_result.
constexpr std::array<const char *, 7> report_statuses = {"converged", "unrealistic", "no_solution", "diverged",
                                                         "not_found", "unsupported", "no_result"};

// One block of the list and what the run made of it.
struct ReportRow {
    int rank = -1;                   // the rank whose share holds the block
    int index = 0;                   // its place in that rank's sub-file, from 1
    std::vector<std::string> fields; // its results row (results_columns), or empty: no result
    std::string why;                 // why there is no result
};

// One rank of the run as found in the work directory.
struct RankCheck {
    int rank = 0;
    int first = 0, count = 0; // its share: blocks [first, first + count) of the list
    bool ok = false;
    std::string why; // what is wrong, when not ok
};

struct Report {
    std::vector<CtgBlock> blocks; // of the list
    int ranks = 0;                // P of the run
    std::vector<int> beyond;      // ranks with sub-files beyond the run
    std::vector<RankCheck> checks;
    std::vector<ReportRow> rows;                      // one per block, list order
    std::vector<std::vector<std::string>> violations; // violation rows (violations_columns), list index first
    std::vector<std::vector<std::string>> interfaces; // interface rows (interfaces_columns), list index first
    int missing = 0;                                  // blocks without a result
};

// Reads the list and every rank's sub-file and results in `work_dir`.
// The run has P ranks: the largest P whose sub-files 0..P-1 exist and,
// taken in rank order, hold exactly the list's blocks (failing that, the
// number of consecutive ranks from 0 with a sub-file). A rank contributes
// its rows only when its sub-file holds its share of the list (ctgbatch's
// rule: ceil(N/P) consecutive blocks per rank), its results file exists, is
// no older than the sub-file and has one row per block of the sub-file with
// the same labels in the same order (compared as printable() shows them,
// the form the solver writes); results of an earlier version, without
// solvable_fraction, are read too (parse_results). A rank's interfaces file
// is optional (no monitor file, or no converged contingency) and one older
// than the sub-file is left over from an earlier run and ignored; one that
// is there must hold interfaces_columns records of the sub-file's
// contingencies, or the rank's results are refused. Throws InputError when
// the list can not be read.
Report build_report(const std::string &work_dir);

// A results field as a finite number: false for an empty field, trailing
// text, NaN or an infinity.
bool field_number(const std::string &s, double &x);

// The records of a results or violations file after its header line, from
// the file's text; `path` names the file in `why`. False, with `why` set,
// when the text has no header line or a record is not `columns` CSV fields.
bool parse_records(const std::string &text, const std::string &path, std::size_t columns,
                   std::vector<std::vector<std::string>> &records, std::string &why);

// The records of a results file (results_columns) from its text, as
// parse_records reads them. A file whose header line is that of an earlier
// version, every column but the last (solvable_fraction), has records of
// as many fields, each given an empty solvable_fraction; the header decides
// for the whole file, so a record of the other width is refused with the
// file and line.
bool parse_results(const std::string &text, const std::string &path, std::vector<std::vector<std::string>> &records,
                   std::string &why);

// The records of a violations file (violations_columns) from its text, as
// parse_records reads them. A file whose header line is an earlier
// version's, without base_value and tag, has records of 6 fields, each
// given the two empty; the header decides for the whole file.
bool parse_violations(const std::string &text, const std::string &path, std::vector<std::vector<std::string>> &records,
                      std::string &why);

// The report files' text: report.csv, one row per block in list order, a
// rank's results row after the block's list_index and rank (status
// no_result and the reason as note where a rank gave none); and
// violations.csv, every rank's violations in list order, indexed in the
// list. Columns: docs/file-formats.md
std::string report_csv(const Report &r);
std::string violations_csv(const Report &r);
// interfaces.csv: every rank's interface rows in list order, indexed in the
// list as violations.csv; written only where some rank has an interfaces
// file (a run with a monitor file).
std::string interfaces_csv(const Report &r);
