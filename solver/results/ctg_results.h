// Result files of a contingency run, one pair per sub-file.
#pragma once

#include "contingency/contingency.h"
#include "results/columns.h"

#include <string>
#include <vector>

// A sub-file's results.csv: one row per block, in sub-file order, index
// counting blocks from 1; its header is header_line(results_columns).
// Columns: docs/file-formats.md
std::string results_row(int index, const std::string &label, const CtgResult &r);

// A sub-file's violations.csv: one row per violation of each converged
// block; its header is header_line(violations_columns). With
// only_new_or_worse, the violations tagged same are left out.
// Columns: docs/file-formats.md
std::string violation_rows(int index, const std::string &label, const Assessment &a, bool only_new_or_worse = false);

// A sub-file's interfaces.csv, with a monitor file: one row per interface
// of a converged block, in the monitor's order (mw signed, loading_pct
// 100·|mw|/rating_mw); its header is header_line(interfaces_columns).
// Columns: docs/file-formats.md
std::string interface_rows(int index, const std::string &label, const MonitorCriteria &m, const Assessment &a);

// The result file names of a sub-file: its name without a final ".con",
// plus ".results.csv" and ".violations.csv", in the output directory.
std::string results_path(const std::string &outdir, const std::string &subfile);
std::string violations_path(const std::string &outdir, const std::string &subfile);
// With a monitor file: the same name plus ".interfaces.csv".
std::string interfaces_path(const std::string &outdir, const std::string &subfile);
// The folder of its contingencies' detail (results/detail.h): the same name
// plus ".detail".
std::string detail_path(const std::string &outdir, const std::string &subfile);
