#include "report/summary.h"

#include "io/printable.h"
#include "report/charts.h"
#include "report/interfaces.h"
#include "report/outcomes.h"
#include "report/response.h"
#include "results/columns.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <utility>

namespace {

// Plain-text table of printable cells: columns padded to their widest cell,
// numbers (cells that parse whole as one) aligned right, two blanks between
// columns.
std::string table(std::vector<std::vector<std::string>> rows, const std::string &indent = "  ")
{
    for (auto &row : rows) {
        for (std::string &cell : row) {
            cell = printable(cell);
        }
    }
    std::vector<size_t> width;
    std::vector<bool> numeric;
    for (const auto &row : rows) {
        width.resize(std::max(width.size(), row.size()), 0);
        numeric.resize(width.size(), true);
        for (size_t c = 0; c < row.size(); ++c) {
            width[c] = std::max(width[c], row[c].size());
        }
    }
    for (size_t r = 1; r < rows.size(); ++r) {
        for (size_t c = 0; c < rows[r].size(); ++c) {
            char *end = nullptr;
            std::strtod(rows[r][c].c_str(), &end);
            numeric[c] = numeric[c] && (rows[r][c].empty() || *end == '\0');
        }
    }
    std::string out;
    for (const auto &row : rows) {
        std::string line = indent;
        for (size_t c = 0; c < row.size(); ++c) {
            const std::string pad(width[c] - row[c].size(), ' ');
            line += (c > 0 ? "  " : "") + (numeric[c] ? pad + row[c] : row[c] + (c + 1 < row.size() ? pad : ""));
        }
        out += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    }
    return out;
}

std::string fixed(double x, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
    return buf;
}

// Converged rows ranked by a column: the ten largest (or smallest) values,
// ties in list order.
std::vector<std::vector<std::string>> worst(const Report &r, size_t column, bool largest,
                                            const std::vector<std::string> &header, size_t other, int decimals)
{
    std::vector<std::pair<double, size_t>> v;
    for (size_t i = 0; i < r.rows.size(); ++i) {
        const auto &f = r.rows[i].fields;
        double x = 0;
        if (!f.empty() && f[col::status] == "converged" && field_number(f[column], x)) {
            v.emplace_back(largest ? -x : x, i);
        }
    }
    std::stable_sort(v.begin(), v.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<std::vector<std::string>> rows = {header};
    for (size_t k = 0; k < v.size() && k < 10; ++k) {
        const auto &f = r.rows[v[k].second].fields;
        rows.push_back({f[col::label], fixed(largest ? -v[k].first : v[k].first, decimals), f[other]});
    }
    return rows;
}

// The no_solution contingencies, smallest solvable fraction first, with the
// weak spot their note names, and the unrealistic ones with their bus (cells
// empty where the note names none).
std::string unsolved_tables(const Report &r)
{
    const auto bus_cells = [](const NotedBus &b) {
        return std::pair<std::string, std::string>{b.bus, b.bus.empty() ? "" : fixed(b.vm_pu, 4)};
    };
    std::vector<std::vector<std::string>> none = {{"label", "solvable fraction", "weak bus", "vm pu", "note"}};
    for (const Unsolved &u : no_solution_rows(r)) {
        const auto &f = r.rows[u.at].fields;
        const auto [bus, vm] = bus_cells(u.bus);
        none.push_back({f[col::label], u.has_fraction ? fraction_text(u.fraction) : f[col::solvable_fraction], bus, vm,
                        f[col::note]});
    }
    std::vector<std::vector<std::string>> unrealistic = {{"label", "bus", "vm pu", "note"}};
    for (const Unsolved &u : unrealistic_rows(r)) {
        const auto &f = r.rows[u.at].fields;
        const auto [bus, vm] = bus_cells(u.bus);
        unrealistic.push_back({f[col::label], bus, vm, f[col::note]});
    }
    return "No solution (smallest solvable fraction first)\n" + table(none) + "\nUnrealistic\n" + table(unrealistic) +
           "\n";
}

// The interfaces_in_summary most loaded interfaces, each with its largest
// loading_pct (two decimals) and the contingency that gives it; only when
// the run has interface rows.
std::string interface_table(const Report &r)
{
    const std::vector<InterfaceLoading> peaks = most_loaded_interfaces(r, interfaces_in_summary);
    if (peaks.empty()) {
        return "";
    }
    std::vector<std::vector<std::string>> rows = {{"interface", "loading %", "label"}};
    for (const InterfaceLoading &x : peaks) {
        const auto &f = r.interfaces[x.at]; // list index, label, interface, ...
        rows.push_back({f[2], fixed(x.loading, 2), f[1]});
    }
    return "Most loaded interfaces\n" + table(rows) + "\n";
}

// The largest generator responses (largest |response_mw| first) and the
// contingencies whose note says the reserve ran out, with the MW left on the
// swing (empty where the note's part is damaged); each list only when some
// row is in it. MW with two decimals, signed.
std::string response_tables(const Report &r)
{
    std::string out;
    const std::vector<Response> largest = largest_responses(r, response_rows_shown);
    if (!largest.empty()) {
        std::vector<std::vector<std::string>> rows = {{"label", "response MW"}};
        std::transform(largest.begin(), largest.end(), std::back_inserter(rows), [&r](const Response &x) {
            return std::vector<std::string>{r.rows[x.at].fields[col::label], page::fixed(x.mw, 2)};
        });
        out += "Largest generator response (|response_mw|, largest first)\n" + table(rows) + "\n";
    }
    const std::vector<Exhausted> exhausted = reserve_exhausted_rows(r);
    if (!exhausted.empty()) {
        std::vector<std::vector<std::string>> rows = {{"label", "MW left on the swing"}};
        std::transform(exhausted.begin(), exhausted.end(), std::back_inserter(rows), [&r](const Exhausted &x) {
            return std::vector<std::string>{r.rows[x.at].fields[col::label],
                                            x.reserve.mw.empty() ? "" : page::fixed(x.reserve.left_mw, 2)};
        });
        out += "Reserve exhausted\n" + table(rows) + "\n";
    }
    return out;
}

// The violations of each tag, as "tagged new", "tagged worse" and "tagged
// same" always, "untagged" (a violations file of an earlier version) where
// there are any.
std::vector<std::pair<std::string, int>> tag_counts(const Report &r)
{
    std::vector<std::pair<std::string, int>> counts = {
        {"tagged new", 0}, {"tagged worse", 0}, {"tagged same", 0}, {"untagged", 0}};
    for (const auto &v : r.violations) {
        const std::string tag = "tagged " + (v.size() > vcol::tag ? v[vcol::tag] : std::string());
        const auto it = std::find_if(counts.begin(), counts.end() - 1,
                                     [&tag](const std::pair<std::string, int> &c) { return c.first == tag; });
        ++it->second;
    }
    if (counts.back().second == 0) {
        counts.pop_back();
    }
    return counts;
}

} // namespace

std::string summary(const Report &r)
{
    std::map<std::string, int> count;
    int islanded = 0;
    int with_violations = 0;
    double cut_mw = 0;
    size_t cut_at = r.rows.size();
    std::vector<std::vector<std::string>> diverged = {{"label", "iterations", "note"}};
    for (size_t i = 0; i < r.rows.size(); ++i) {
        const auto &f = r.rows[i].fields;
        ++count[f.empty() ? "no_result" : f[col::status]];
        if (f.empty()) {
            continue;
        }
        double x = 0;
        islanded += field_number(f[col::buses_cut_off], x) && x > 0 ? 1 : 0;
        double o = 0;
        double v = 0;
        const bool violated =
            (field_number(f[col::overloads], o) && o > 0) || (field_number(f[col::voltage_violations], v) && v > 0);
        with_violations += violated ? 1 : 0;
        if (field_number(f[col::load_cut_off_mw], x) && x > cut_mw) {
            cut_mw = x;
            cut_at = i;
        }
        if (f[col::status] == "diverged") {
            diverged.push_back({f[col::label], f[col::iterations], f[col::note]});
        }
    }
    std::string out = std::to_string(r.rows.size()) + " contingencies in the list, " + std::to_string(r.ranks) +
                      " ranks: " +
                      (r.missing == 0 ? std::string("every contingency has a result")
                                      : std::to_string(r.missing) + " without a result") +
                      "\n\n";
    std::vector<std::vector<std::string>> counts = {{"status", "contingencies"}};
    std::transform(report_statuses.begin(), report_statuses.end(), std::back_inserter(counts), [&count](const char *s) {
        return std::vector<std::string>{s, std::to_string(count[s])};
    });
    counts.push_back({"islanded", std::to_string(islanded)});
    counts.push_back({"with violations", std::to_string(with_violations)});
    const auto tags = tag_counts(r);
    std::transform(tags.begin(), tags.end(), std::back_inserter(counts), [](const std::pair<std::string, int> &t) {
        return std::vector<std::string>{t.first, std::to_string(t.second)};
    });
    out += table(counts) + "\n";
    out += "Highest loading\n" +
           table(worst(r, col::max_loading_pct, true, {"label", "loading %", "branch"}, col::max_loading_branch, 2)) +
           "\n";
    out += "Lowest voltage\n" + table(worst(r, col::min_vm_pu, false, {"label", "vm pu", "bus"}, col::min_vm_bus, 4)) +
           "\n";
    out += "Diverged\n" + table(diverged) + "\n" + unsolved_tables(r) + response_tables(r) + interface_table(r);
    out += "Largest load cut off: " +
           (cut_at < r.rows.size() ? fixed(cut_mw, 2) + " MW by " + printable(r.rows[cut_at].fields[col::label]) +
                                         " (" + printable(r.rows[cut_at].fields[col::buses_cut_off]) + " buses cut off)"
                                   : std::string("none")) +
           "\n";
    return out;
}
