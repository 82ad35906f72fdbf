// Result files of a contingency run, one pair per sub-file.
#pragma once

#include "contingency/contingency.h"

#include <string>
#include <vector>

// results.csv: one row per block, in sub-file order:
//   index,label,status,iterations,max_mismatch_pu,min_vm_pu,min_vm_bus,
//   max_vm_pu,max_vm_bus,max_loading_pct,max_loading_branch,overloads,
//   voltage_violations,buses_cut_off,load_cut_off_mw,solve_ms,note,load_lost_mw
// index counts blocks from 1. Voltage and loading columns are empty unless
// converged; cut-off columns and load_lost_mw (the load the element line
// itself takes out, the last column so that readers of the older files
// find every other one where it was) are empty for not_found and
// unsupported.
extern const char *const results_header;
std::string results_row(int index, const std::string &label, const CtgResult &r);

// violations.csv: index,label,kind,element,value,limit
// kind overload (value and limit in MVA), low_voltage or high_voltage (pu).
extern const char *const violations_header;
std::string violation_rows(int index, const std::string &label, const Assessment &a);

// The result file names of a sub-file: its name without a final ".con",
// plus ".results.csv" and ".violations.csv", in the output directory.
std::string results_path(const std::string &outdir, const std::string &subfile);
std::string violations_path(const std::string &outdir, const std::string &subfile);
