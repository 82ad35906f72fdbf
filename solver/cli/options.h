// The solver's JSON inputs: the solver options and the case settings.
#pragma once

#include "powerflow/state.h"
#include "raw/raw.h"

#include <string>

// Options file: a JSON object with the optional keys tolerance_pu (number
// > 0), max_iterations (integer ≥ 1), enforce_q_limits, flat_start,
// remote_regulation and auto_swing (booleans), base_rating and contingency_rating ("A", "B", "C": RATEA to
// RATEC, or "1" to "12": RATE1 to RATE12), zero_impedance_threshold_pu
// (number ≥ 0: lines of |R + jX| below it are ties), adjust_taps,
// adjust_phase_shifters and adjust_switched_shunts ("locked", "base" or
// "all": see ControlMode), min_realistic_vm_pu (number ≥ 0) and
// max_realistic_vm_pu (number > 0, above the minimum) and detail (a list of
// contingency labels, strings, whose full state is written: results/detail.h).
// Unknown keys and wrong types are errors naming the key.
PfOptions read_options(const std::string &path);

// The same from the file's text; `path` names the file in messages.
PfOptions parse_options(const std::string &text, const std::string &path);

// Refuses (InputError naming the options file `options`) a base_rating or
// contingency_rating that names a set the RAW lacks: it has A to C (1 to 3)
// up to revision 33, 1 to 12 after.
void check_rating_sets(const RawCase &raw, const std::string &options, const PfOptions &opt);

// Case settings: a JSON object; its optional string `name` names the case in
// messages (empty when absent), its optional integer `raw_version` (23 to 36)
// the RAW revision to read the network as, whatever the file says (0 when
// absent), its optional string `monitor` a monitor file (monitor/grammar.h),
// relative to the settings file's folder (kept as the path to open; empty
// when absent). Other keys are left to other tools.
struct CaseSettings {
    std::string name;
    int raw_version = 0;
    std::string monitor;
};
CaseSettings read_case_settings(const std::string &path);
CaseSettings parse_case_settings(const std::string &text, const std::string &path);
