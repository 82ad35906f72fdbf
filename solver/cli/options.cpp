#include "cli/options.h"

#include "io/input_error.h"
#include "io/text_file.h"
#include "powerflow/sharing.h"
#include "raw/layouts.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <utility>

namespace {

// Parses a JSON object; a syntax error is reported at its line.
nlohmann::json parse_object(const std::string &text, const std::string &path)
{
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error &e) {
        const size_t at = std::min(e.byte, text.size());
        const int line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
        throw InputError(path, line, "not valid JSON");
    } catch (const nlohmann::json::out_of_range &) {
        // A number beyond a double ("1e999"); nlohmann gives no position.
        throw InputError(path, 0, "not valid JSON: a number is too large");
    }
    if (!j.is_object()) {
        throw InputError(path, 0, "expected a JSON object");
    }
    return j;
}

} // namespace

namespace {

double positive_number(const std::string &path, const std::string &key, const nlohmann::json &value)
{
    if (!value.is_number() || !(value.get<double>() > 0) || !std::isfinite(value.get<double>())) {
        throw InputError(path, 0, "option '" + key + "' must be a number above 0");
    }
    return value.get<double>();
}

double non_negative_number(const std::string &path, const std::string &key, const nlohmann::json &value)
{
    if (!value.is_number() || !(value.get<double>() >= 0) || !std::isfinite(value.get<double>())) {
        throw InputError(path, 0, "option '" + key + "' must be a number of at least 0");
    }
    return value.get<double>();
}

int iteration_count(const std::string &path, const std::string &key, const nlohmann::json &value)
{
    if (!value.is_number_integer() || value.get<long long>() < 1 || value.get<long long>() > 1000000) {
        throw InputError(path, 0, "option '" + key + "' must be an integer from 1 to 1000000");
    }
    return value.get<int>();
}

bool flag(const std::string &path, const std::string &key, const nlohmann::json &value)
{
    if (!value.is_boolean()) {
        throw InputError(path, 0, "option '" + key + "' must be true or false");
    }
    return value.get<bool>();
}

// A rating set: "A", "B", "C" (sets 1 to 3, RATEA..RATEC) or "1" to "12"
// (RATE1..RATE12 of revision 34 on).
int rating_set(const std::string &path, const std::string &key, const nlohmann::json &value)
{
    const std::string r = value.is_string() ? value.get<std::string>() : std::string();
    if (r == "A" || r == "B" || r == "C") {
        return r[0] - 'A' + 1;
    }
    for (int n = 1; n <= 12; ++n) {
        if (r == std::to_string(n)) {
            return n;
        }
    }
    throw InputError(path, 0, "option '" + key + "' must be \"A\", \"B\", \"C\" or \"1\" to \"12\"");
}

// When a kind of control acts: "locked", "base" or "all".
ControlMode control_mode(const std::string &path, const std::string &key, const nlohmann::json &value)
{
    const std::string m = value.is_string() ? value.get<std::string>() : std::string();
    if (m == "locked") {
        return ControlMode::locked;
    }
    if (m == "base") {
        return ControlMode::base;
    }
    if (m == "all") {
        return ControlMode::all;
    }
    throw InputError(path, 0, "option '" + key + "' must be \"locked\", \"base\" or \"all\"");
}

// Who takes a change's active power: "swing", "pmax", "reserve" or "output".
ResponseMode response_mode(const std::string &path, const std::string &key, const nlohmann::json &value)
{
    const std::string m = value.is_string() ? value.get<std::string>() : std::string();
    const std::array<ResponseMode, 4> modes = {ResponseMode::swing, ResponseMode::pmax, ResponseMode::reserve,
                                               ResponseMode::output};
    const auto *const found =
        std::find_if(modes.begin(), modes.end(), [&m](ResponseMode r) { return m == response_name(r); });
    if (found != modes.end()) {
        return *found;
    }
    throw InputError(path, 0, "option '" + key + "' must be \"swing\", \"pmax\", \"reserve\" or \"output\"");
}

// Contingency labels: a JSON list of strings, in any number (none: no
// contingency's detail is written).
std::vector<std::string> label_list(const std::string &path, const std::string &key, const nlohmann::json &value)
{
    const auto is_string = [](const nlohmann::json &item) { return item.is_string(); };
    if (!value.is_array() || !std::all_of(value.begin(), value.end(), is_string)) {
        throw InputError(path, 0, "option '" + key + "' must be a list of contingency labels");
    }
    return value.get<std::vector<std::string>>();
}

// Which contingency violations are written: "all" (false) or
// "new_or_worse" (true: those tagged same are left out).
bool violations_reported(const std::string &path, const std::string &key, const nlohmann::json &value)
{
    const std::string m = value.is_string() ? value.get<std::string>() : std::string();
    if (m == "all" || m == "new_or_worse") {
        return m == "new_or_worse";
    }
    throw InputError(path, 0, "option '" + key + "' must be \"all\" or \"new_or_worse\"");
}

} // namespace

PfOptions read_options(const std::string &path) { return parse_options(read_text_file(path), path); }

PfOptions parse_options(const std::string &text, const std::string &path)
{
    const nlohmann::json j = parse_object(text, path);
    PfOptions opt;
    for (const auto &[key, value] : j.items()) {
        if (key == "tolerance_pu") {
            opt.tolerance_pu = positive_number(path, key, value);
        } else if (key == "max_iterations") {
            opt.max_iterations = iteration_count(path, key, value);
        } else if (key == "enforce_q_limits") {
            opt.enforce_q_limits = flag(path, key, value);
        } else if (key == "flat_start") {
            opt.flat_start = flag(path, key, value);
        } else if (key == "remote_regulation") {
            opt.remote_regulation = flag(path, key, value);
        } else if (key == "auto_swing") {
            opt.auto_swing = flag(path, key, value);
        } else if (key == "base_rating") {
            opt.base_rating = rating_set(path, key, value);
        } else if (key == "contingency_rating") {
            opt.contingency_rating = rating_set(path, key, value);
        } else if (key == "zero_impedance_threshold_pu") {
            opt.zero_impedance_threshold_pu = non_negative_number(path, key, value);
        } else if (key == "adjust_taps") {
            opt.adjust_taps = control_mode(path, key, value);
        } else if (key == "adjust_phase_shifters") {
            opt.adjust_phase_shifters = control_mode(path, key, value);
        } else if (key == "adjust_switched_shunts") {
            opt.adjust_switched_shunts = control_mode(path, key, value);
        } else if (key == "min_realistic_vm_pu") {
            opt.min_realistic_vm_pu = non_negative_number(path, key, value);
        } else if (key == "max_realistic_vm_pu") {
            opt.max_realistic_vm_pu = positive_number(path, key, value);
        } else if (key == "generator_response") {
            opt.generator_response = response_mode(path, key, value);
        } else if (key == "base_generator_response") {
            opt.base_generator_response = response_mode(path, key, value);
        } else if (key == "detail") {
            opt.detail = label_list(path, key, value);
        } else if (key == "worse_flow_fraction") {
            opt.worse_flow_fraction = non_negative_number(path, key, value);
        } else if (key == "worse_vm_pu") {
            opt.worse_vm_pu = non_negative_number(path, key, value);
        } else if (key == "report_violations") {
            opt.report_new_or_worse = violations_reported(path, key, value);
        } else {
            throw InputError(path, 0, "unknown option '" + key + "'");
        }
    }
    if (!(opt.min_realistic_vm_pu < opt.max_realistic_vm_pu)) {
        throw InputError(path, 0, "option 'min_realistic_vm_pu' must be below 'max_realistic_vm_pu'");
    }
    return opt;
}

CaseSettings read_case_settings(const std::string &path) { return parse_case_settings(read_text_file(path), path); }

CaseSettings parse_case_settings(const std::string &text, const std::string &path)
{
    const nlohmann::json j = parse_object(text, path);
    CaseSettings cs;
    const auto name = j.find("name");
    if (name != j.end()) {
        if (!name->is_string()) {
            throw InputError(path, 0, "'name' must be a string");
        }
        cs.name = name->get<std::string>();
    }
    const auto rev = j.find("raw_version");
    if (rev != j.end()) {
        if (!rev->is_number_integer() || rev->get<long long>() < first_raw_revision ||
            rev->get<long long>() > last_raw_revision) {
            throw InputError(path, 0,
                             "'raw_version' must be a RAW revision from " + std::to_string(first_raw_revision) +
                                 " to " + std::to_string(last_raw_revision));
        }
        cs.raw_version = rev->get<int>();
    }
    const auto monitor = j.find("monitor");
    if (monitor != j.end()) {
        if (!monitor->is_string() || monitor->get<std::string>().empty()) {
            throw InputError(path, 0, "'monitor' must be a file name (a string)");
        }
        // Relative to the settings file's folder; an absolute path stays.
        cs.monitor = (std::filesystem::path(path).parent_path() / monitor->get<std::string>()).string();
    }
    return cs;
}

void check_rating_sets(const RawCase &raw, const std::string &options, const PfOptions &opt)
{
    const std::pair<const char *, int> sets[] = {{"base_rating", opt.base_rating},
                                                 {"contingency_rating", opt.contingency_rating}};
    for (const auto &[key, set] : sets) {
        if (set > raw.rating_sets) {
            throw InputError(options, 0,
                             std::string("option '") + key + "' names rating set " + std::to_string(set) + ", but " +
                                 raw.file + " (RAW revision " + std::to_string(raw.rev) + ") has rating sets 1 to " +
                                 std::to_string(raw.rating_sets) + " (RATEA to RATEC)");
        }
    }
}
