// The solver's JSON inputs: the solver options and the case settings.
#pragma once

#include "powerflow/newton.h"

#include <string>

// Options file: a JSON object with the optional keys tolerance_pu (number
// > 0), max_iterations (integer ≥ 1), enforce_q_limits and flat_start
// (booleans), base_rating and contingency_rating ("A", "B" or "C"). Unknown
// keys and wrong types are errors naming the key.
PfOptions read_options(const std::string &path);

// The same from the file's text; `path` names the file in messages.
PfOptions parse_options(const std::string &text, const std::string &path);

// Case settings: a JSON object; its optional string `name` names the case in
// messages (empty when absent). Other keys are left to other tools.
std::string read_case_name(const std::string &path);
std::string parse_case_name(const std::string &text, const std::string &path);
