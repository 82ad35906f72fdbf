// The columns of every result file, each file's table in the order of its
// header line. The writers take their header from the table and the readers
// name fields by the constants below, found in the same table.
// Columns: docs/file-formats.md
#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

template <std::size_t N> using Columns = std::array<std::string_view, N>;

// A sub-file's results.csv (results_row), one row per block.
constexpr Columns<20> results_columns = {"index",
                                         "label",
                                         "status",
                                         "iterations",
                                         "max_mismatch_pu",
                                         "min_vm_pu",
                                         "min_vm_bus",
                                         "max_vm_pu",
                                         "max_vm_bus",
                                         "max_loading_pct",
                                         "max_loading_branch",
                                         "overloads",
                                         "voltage_violations",
                                         "buses_cut_off",
                                         "load_cut_off_mw",
                                         "solve_ms",
                                         "note",
                                         "load_lost_mw",
                                         "solvable_fraction",
                                         "response_mw"};

// A sub-file's violations.csv (violation_rows), one row per violation.
constexpr Columns<8> violations_columns = {"index", "label", "kind", "element", "value", "limit", "base_value", "tag"};

// A sub-file's interfaces.csv (interface_rows), with a monitor file: one row
// per interface of each converged block.
constexpr Columns<6> interfaces_columns = {"index", "label", "interface", "mw", "rating_mw", "loading_pct"};

// The base case's files.
constexpr Columns<9> base_buses_columns = {"bus",   "name",    "base_kv", "vm_pu",  "va_deg",
                                           "pg_mw", "qg_mvar", "pd_mw",   "qd_mvar"};
constexpr Columns<10> base_branches_columns = {"from",      "to",          "k",       "ckt",       "winding",
                                               "p_from_mw", "q_from_mvar", "p_to_mw", "q_to_mvar", "loading_pct"};
constexpr Columns<18> base_dclines_columns = {"name",        "type",        "status",   "bus_1", "bus_2",    "p_1_mw",
                                              "q_1_mvar",    "p_2_mw",      "q_2_mvar", "idc_a", "vdc_1_kv", "vdc_2_kv",
                                              "angle_1_deg", "angle_2_deg", "tap_1",    "tap_2", "mode",     "note"};
constexpr Columns<9> base_units_columns = {"bus",     "id",      "status", "pg_mw", "qg_mvar",
                                           "qt_mvar", "qb_mvar", "pt_mw",  "pb_mw"};
constexpr Columns<9> base_facts_columns = {"name",        "mode",          "bus_i",        "bus_j", "regulated_bus",
                                           "p_series_mw", "q_series_mvar", "q_shunt_mvar", "limit"};
constexpr Columns<4> base_violations_columns = {"kind", "element", "value", "limit"};
constexpr Columns<4> base_interfaces_columns = {"interface", "mw", "rating_mw", "loading_pct"};
constexpr Columns<10> base_controls_columns = {"kind",      "device", "winding", "regulated_bus", "band_low",
                                               "band_high", "value",  "setting", "at_limit",      "state"};

// The place of `name` in `columns`. Used for a constant, a name that is not
// there fails to compile (the throw is not a constant expression).
template <std::size_t N> constexpr std::size_t column_of(const Columns<N> &columns, std::string_view name)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (columns[i] == name) {
            return i;
        }
    }
    throw std::logic_error("no such column");
}

// The header line of a file: its column names joined by commas, then "\n".
template <std::size_t N> std::string header_line(const Columns<N> &columns)
{
    std::string line;
    for (std::size_t i = 0; i < N; ++i) {
        line += (i > 0 ? "," : "") + std::string(columns[i]);
    }
    return line + "\n";
}

// Fields of a results row by name: row[col::status].
namespace col {
constexpr std::size_t index = column_of(results_columns, "index");
constexpr std::size_t label = column_of(results_columns, "label");
constexpr std::size_t status = column_of(results_columns, "status");
constexpr std::size_t iterations = column_of(results_columns, "iterations");
constexpr std::size_t min_vm_pu = column_of(results_columns, "min_vm_pu");
constexpr std::size_t min_vm_bus = column_of(results_columns, "min_vm_bus");
constexpr std::size_t max_loading_pct = column_of(results_columns, "max_loading_pct");
constexpr std::size_t max_loading_branch = column_of(results_columns, "max_loading_branch");
constexpr std::size_t overloads = column_of(results_columns, "overloads");
constexpr std::size_t voltage_violations = column_of(results_columns, "voltage_violations");
constexpr std::size_t buses_cut_off = column_of(results_columns, "buses_cut_off");
constexpr std::size_t load_cut_off_mw = column_of(results_columns, "load_cut_off_mw");
constexpr std::size_t note = column_of(results_columns, "note");
constexpr std::size_t load_lost_mw = column_of(results_columns, "load_lost_mw");
constexpr std::size_t solvable_fraction = column_of(results_columns, "solvable_fraction");
constexpr std::size_t response_mw = column_of(results_columns, "response_mw");
} // namespace col

// Fields of a violations row by name: row[vcol::kind].
namespace vcol {
constexpr std::size_t index = column_of(violations_columns, "index");
constexpr std::size_t label = column_of(violations_columns, "label");
constexpr std::size_t kind = column_of(violations_columns, "kind");
constexpr std::size_t element = column_of(violations_columns, "element");
constexpr std::size_t value = column_of(violations_columns, "value");
constexpr std::size_t limit = column_of(violations_columns, "limit");
constexpr std::size_t base_value = column_of(violations_columns, "base_value");
constexpr std::size_t tag = column_of(violations_columns, "tag");
} // namespace vcol
