#include "report/html.h"

#include "report/charts.h"
#include "report/interfaces.h"
#include "report/outcomes.h"
#include "report/report.h"
#include "report/response.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

namespace {

using page::chart_rows;
using page::fixed;
using page::histogram;
using page::label_of;
using page::Limit;
using page::loading_chart;
using page::no_loading;
using page::none;
using page::ranked;
using page::shared_low_limit;
using page::voltage_chart;

std::string status_of(const Report &r, size_t i)
{
    return r.rows[i].fields.empty() ? "no_result" : r.rows[i].fields[col::status];
}

bool positive(const std::vector<std::string> &f, size_t column)
{
    double x = 0;
    return !f.empty() && field_number(f[column], x) && x > 0;
}

// A table cell: its text as shown, its value for sorting (a number's
// exact text from the results) and whether it holds a number.
struct Cell {
    std::string text;
    std::string key;
    bool numeric = false;
    bool note = false; // free text that wants room
};

Cell plain(const std::string &s) { return {s, "", false}; }
Cell note(const std::string &s) { return {s, "", false, true}; }

Cell numeric(const std::string &raw, int decimals, const std::string &unit = "")
{
    double x = 0;
    if (!field_number(raw, x)) {
        return {raw, raw, true};
    }
    return {fixed(x, decimals) + unit, raw, true};
}

Cell count_cell(const std::string &raw) { return {raw, raw, true}; }

// A table the page's script can sort by any column (by `key` where given).
std::string table(const std::string &id, const std::vector<std::string> &head,
                  const std::vector<std::vector<Cell>> &rows)
{
    if (rows.empty()) {
        return none();
    }
    std::string s = "<div class=\"scroll\"><table class=\"sortable\" id=\"" + id + "\">\n<thead><tr>";
    for (size_t c = 0; c < head.size(); ++c) {
        s += std::string("<th") + (rows.front()[c].numeric ? " class=\"n\"" : "") + ">" + html_text(head[c]) + "</th>";
    }
    s += "</tr></thead>\n<tbody>\n";
    for (const auto &row : rows) {
        s += "<tr>";
        for (const Cell &c : row) {
            s += std::string("<td") +
                 (c.numeric ? " class=\"n\""
                  : c.note  ? " class=\"note\""
                            : "") +
                 (c.key.empty() ? "" : " data-v=\"" + html_text(c.key) + "\"") + ">" + html_text(c.text) + "</td>";
        }
        s += "</tr>\n";
    }
    return s + "</tbody>\n</table></div>\n";
}

std::string section(const std::string &id, const std::string &title, const std::string &body)
{
    return "<section id=\"" + id + "\">\n<h2>" + title + "</h2>\n" + body + "</section>\n";
}

std::string plural(size_t n, const std::string &one, const std::string &many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string run_section(const Report &r, const PageRun &run)
{
    std::string s = "<header id=\"run\">\n<h1>Contingency report: " +
                    (run.case_name.empty() ? std::string("unnamed case") : html_text(run.case_name)) + "</h1>\n";
    s += "<dl class=\"facts\">\n<dt>Case</dt><dd id=\"case-name\">" +
         (run.case_name.empty() ? std::string("no name in case.json") : html_text(run.case_name)) + "</dd>\n";
    s += "<dt>Contingencies</dt><dd id=\"contingencies\">" + std::to_string(r.rows.size()) + "</dd>\n";
    s += "<dt>Ranks</dt><dd id=\"ranks\">" + std::to_string(r.ranks) + "</dd>\n";
    s += "<dt>Reported</dt><dd id=\"date\">" + html_text(run.date) + "</dd>\n</dl>\n";
    if (r.missing == 0) {
        s += "<p class=\"verdict ok\" id=\"verdict\"><span class=\"sign\">&#10003;</span> Every contingency has a "
             "result.</p>\n";
    } else {
        s += "<p class=\"verdict bad\" id=\"verdict\"><span class=\"sign\">&#10007;</span> " +
             std::to_string(r.missing) + " of " + std::to_string(r.rows.size()) +
             (r.missing == 1 ? " contingencies has" : " contingencies have") +
             " no result: they are listed under Failures.</p>\n";
    }
    std::string problems;
    for (const RankCheck &c : r.checks) {
        if (!c.ok) {
            problems += "<li>rank " + std::to_string(c.rank) + ": " + html_text(c.why) + "; its " +
                        std::to_string(c.count) + " contingencies have no result</li>\n";
        }
    }
    if (!r.beyond.empty()) {
        std::string ranks;
        for (const int b : r.beyond) {
            ranks += (ranks.empty() ? "" : ", ") + std::to_string(b);
        }
        problems += "<li>the sub-files of ranks " + ranks + ", beyond this run, were ignored</li>\n";
    }
    return s + (problems.empty() ? "" : "<ul class=\"problems\">\n" + problems + "</ul>\n") + "</header>\n";
}

std::string counts_section(const Report &r)
{
    std::map<std::string, int> count;
    int islanded = 0;
    int with_violations = 0;
    for (size_t i = 0; i < r.rows.size(); ++i) {
        const auto &f = r.rows[i].fields;
        ++count[status_of(r, i)];
        islanded += positive(f, col::buses_cut_off) ? 1 : 0;
        with_violations += positive(f, col::overloads) || positive(f, col::voltage_violations) ? 1 : 0;
    }
    std::string s = "<table id=\"counts\" class=\"counts\">\n<tbody>\n";
    for (const char *status : report_statuses) {
        const bool bad = std::string(status) != "converged" && count[status] > 0;
        s += std::string("<tr") + (bad ? " class=\"bad\"" : "") + "><th>" + status + "</th><td class=\"n\">" +
             std::to_string(count[status]) + "</td></tr>\n";
    }
    s += "<tr class=\"also\"><th>islanded</th><td class=\"n\">" + std::to_string(islanded) + "</td></tr>\n";
    s += "<tr><th>with violations</th><td class=\"n\">" + std::to_string(with_violations) + "</td></tr>\n";
    return section("counts-by-status", "Contingencies by status", s + "</tbody>\n</table>\n");
}

std::string charts_sections(const Report &r)
{
    std::string s = section("loadings", "Highest post-contingency loadings",
                            "<p>The " + std::to_string(chart_rows) +
                                " converged contingencies that load a branch the most, in % of its rating "
                                "(the worst branch of each); beyond 100 % in vermillion.</p>\n<figure>\n" +
                                loading_chart(r) + "</figure>\n");
    s += section("voltages", "Lowest post-contingency voltages",
                 "<p>The " + std::to_string(chart_rows) +
                     " converged contingencies with the lowest bus voltage (the lowest bus of each). A tick marks "
                     "the bus's low limit where the voltage broke it (under it in vermillion); a contingency "
                     "without a tick has no low-voltage violation there.</p>\n<figure>\n" +
                     voltage_chart(r) + "</figure>\n");
    const auto values = [&r](size_t column) {
        const auto ranks = ranked(r, column, true, 0);
        std::vector<double> v(ranks.size());
        std::transform(ranks.begin(), ranks.end(), v.begin(), [](const auto &x) { return x.first; });
        return v;
    };
    const std::vector<double> loading = values(col::max_loading_pct);
    const std::vector<double> vm = values(col::min_vm_pu);
    Limit low{0, 0, ""};
    if (shared_low_limit(r, low.at)) {
        low.side = -1;
        low.name = "low limit " + fixed(low.at, 4);
    }
    s += section("distributions", "Over all converged contingencies",
                 "<h3>Highest loading of each, <code>max_loading_pct</code></h3>\n<figure id=\"loading-histogram\">\n" +
                     histogram(loading, "% of rating", Limit{100, 1, "100 %"}, "Distribution of max_loading_pct",
                               no_loading(r)) +
                     "</figure>\n<h3>Lowest voltage of each, <code>min_vm_pu</code></h3>\n"
                     "<figure id=\"voltage-histogram\">\n" +
                     histogram(vm, "pu", low, "Distribution of min_vm_pu") + "</figure>\n");
    return s;
}

// The order violations are listed in: new and worse first, then same,
// then untagged (a violations file of an earlier version).
int tag_rank(const std::string &tag) { return tag == "new" || tag == "worse" ? 0 : tag == "same" ? 1 : 2; }

// Field k of a violations row, "" where the row is shorter.
std::string field_at(const std::vector<std::string> &v, std::size_t k) { return k < v.size() ? v[k] : ""; }

std::string violations_section(const Report &r)
{
    std::vector<const std::vector<std::string> *> listed(r.violations.size());
    std::transform(r.violations.begin(), r.violations.end(), listed.begin(), [](const auto &v) { return &v; });
    std::stable_sort(listed.begin(), listed.end(), [](const auto *a, const auto *b) {
        return tag_rank(field_at(*a, vcol::tag)) < tag_rank(field_at(*b, vcol::tag));
    });
    std::vector<std::vector<Cell>> rows;
    std::set<std::string> contingencies;
    for (const auto *p : listed) {
        const std::vector<std::string> &v = *p;
        // Loadings in MVA, interface flows in MW, voltages in pu.
        const std::string &kind = v[vcol::kind];
        const bool power = kind == "overload" || kind == "interface";
        const char *unit = kind == "overload" ? " MVA" : kind == "interface" ? " MW" : " pu";
        const int decimals = power ? 2 : 4;
        rows.push_back({count_cell(v[vcol::index]), plain(v[vcol::label]), plain(kind), plain(v[vcol::element]),
                        numeric(v[vcol::value], decimals, unit), numeric(v[vcol::limit], decimals, unit),
                        numeric(field_at(v, vcol::base_value), decimals, unit), plain(field_at(v, vcol::tag))});
        contingencies.insert(v[vcol::index]);
    }
    const std::string lead =
        rows.empty() ? ""
                     : "<p>" + plural(rows.size(), "violation", "violations") + " in " +
                           plural(contingencies.size(), "contingency", "contingencies") +
                           "; overloads against the contingency rating; new and worse first, then those the base "
                           "case already had (same). Click a heading to sort.</p>\n";
    return section("violations", "Contingencies with violations",
                   lead + table("violation-table",
                                {"#", "contingency", "kind", "element", "value", "limit", "base value", "tag"}, rows));
}

// A bus a note names and its |V|: empty cells when it names none.
std::vector<Cell> bus_cells(const NotedBus &b)
{
    return {count_cell(b.bus), b.bus.empty() ? Cell{"", "", true} : numeric(b.vm, 4)};
}

// The no_solution contingencies: a histogram of their solvable fractions
// over 0 to 1 in bins of 0.05 (a number outside that, from a damaged file,
// only in the table), and a table of them, smallest fraction first, each
// with the weak spot its note names.
std::string no_solution_section(const Report &r)
{
    std::vector<double> fractions;
    std::vector<std::vector<Cell>> rows;
    for (const Unsolved &u : no_solution_rows(r)) {
        const auto &f = r.rows[u.at].fields;
        if (u.has_fraction && u.fraction >= 0 && u.fraction <= 1) {
            fractions.push_back(u.fraction);
        }
        const std::string &raw = f[col::solvable_fraction];
        std::vector<Cell> row = {count_cell(std::to_string(u.at + 1)), plain(f[col::label]),
                                 Cell{u.has_fraction ? fraction_text(u.fraction) : raw, raw, true}};
        const std::vector<Cell> bus = bus_cells(u.bus);
        row.insert(row.end(), bus.begin(), bus.end());
        row.push_back(note(f[col::note]));
        rows.push_back(row);
    }
    if (rows.empty()) {
        return section("no-solution", "No solution: the outage solvable only in part", none());
    }
    return section(
        "no-solution", "No solution: the outage solvable only in part",
        "<p>" + plural(rows.size(), "contingency has", "contingencies have") +
            " no operating point: continuation from the base case applied only a part of the outage, its solvable "
            "fraction (rounded down to 0.001). The weak spot is the bus whose voltage falls fastest there, with "
            "its |V|, as the note names it.</p>\n<figure id=\"fraction-histogram\">\n" +
            histogram(fractions, "solvable fraction of the outage", Limit{}, "Distribution of solvable_fraction",
                      "no solvable fraction between 0 and 1", page::Bins{0, 0.05, 20}) +
            "</figure>\n" +
            table("no-solution-table", {"#", "contingency", "solvable fraction", "weak spot bus", "|V| pu", "note"},
                  rows));
}

// The unrealistic contingencies in list order, each with the bus outside
// the realistic range that its note names.
std::string unrealistic_section(const Report &r)
{
    std::vector<std::vector<Cell>> rows;
    for (const Unsolved &u : unrealistic_rows(r)) {
        const auto &f = r.rows[u.at].fields;
        std::vector<Cell> row = {count_cell(std::to_string(u.at + 1)), plain(f[col::label])};
        const std::vector<Cell> bus = bus_cells(u.bus);
        row.insert(row.end(), bus.begin(), bus.end());
        row.push_back(note(f[col::note]));
        rows.push_back(row);
    }
    const std::string lead =
        rows.empty() ? ""
                     : "<p>" + plural(rows.size(), "contingency solves", "contingencies solve") +
                           " only at a state with an energised bus outside the realistic voltage range (options "
                           "<code>min_realistic_vm_pu</code> and <code>max_realistic_vm_pu</code>): no operating "
                           "point. The bus and its |V| are those the note names.</p>\n";
    return section("unrealistic", "Unrealistic: solved outside the realistic voltage range",
                   lead + table("unrealistic-table", {"#", "contingency", "bus", "|V| pu", "note"}, rows));
}

std::string failures_section(const Report &r)
{
    std::vector<std::vector<Cell>> rows;
    for (size_t i = 0; i < r.rows.size(); ++i) {
        const std::string status = status_of(r, i);
        if (status == "converged") {
            continue;
        }
        const auto &f = r.rows[i].fields;
        rows.push_back({count_cell(std::to_string(i + 1)), plain(label_of(r, i)), plain(status),
                        count_cell(r.rows[i].rank >= 0 ? std::to_string(r.rows[i].rank) : ""),
                        count_cell(f.empty() ? "" : f[col::iterations]),
                        note(f.empty() ? r.rows[i].why : f[col::note])});
    }
    return section("failures", "Failures: unrealistic, no solution, diverged, not found, unsupported, no result",
                   table("failure-table", {"#", "contingency", "status", "rank", "iterations", "note"}, rows));
}

std::string islands_section(const Report &r)
{
    std::vector<std::vector<Cell>> rows;
    double buses = 0;
    double mw = 0;
    for (size_t i = 0; i < r.rows.size(); ++i) {
        const auto &f = r.rows[i].fields;
        if (!positive(f, col::buses_cut_off)) {
            continue;
        }
        double x = 0;
        buses = std::max(buses, field_number(f[col::buses_cut_off], x) ? x : 0);
        mw = std::max(mw, field_number(f[col::load_cut_off_mw], x) ? x : 0);
        rows.push_back({count_cell(std::to_string(i + 1)), plain(f[col::label]), plain(f[col::status]),
                        count_cell(f[col::buses_cut_off]), numeric(f[col::load_cut_off_mw], 2),
                        numeric(f[col::load_lost_mw], 2), note(f[col::note])});
    }
    const std::string lead = rows.empty() ? ""
                                          : "<p>" + plural(rows.size(), "contingency cuts", "contingencies cut") +
                                                " buses off the solved island; the most buses cut off by one is " +
                                                fixed(buses, 0) + ", the most load " + fixed(mw, 2) + " MW.</p>\n";
    return section(
        "islands", "Islanding contingencies",
        lead + table("island-table",
                     {"#", "contingency", "status", "buses cut off", "load cut off MW", "load lost MW", "note"}, rows));
}

// The generator response, when some row has a response_mw or a note with
// the reserve exhausted ("" otherwise): a histogram of every response_mw, a
// table of the response_rows_shown largest |response_mw| (ties in list
// order) and one of the contingencies with the reserve exhausted, in list
// order, with the MW left on the swing that their note names (an empty
// cell where its part is damaged).
std::string response_section(const Report &r)
{
    const std::vector<Response> every = largest_responses(r, 0);
    const std::vector<Exhausted> exhausted = reserve_exhausted_rows(r);
    if (every.empty() && exhausted.empty()) {
        return "";
    }
    std::vector<double> mw(every.size());
    std::transform(every.begin(), every.end(), mw.begin(), [](const Response &x) { return x.mw; });
    std::vector<std::vector<Cell>> largest;
    for (size_t k = 0; k < every.size() && k < response_rows_shown; ++k) {
        const auto &f = r.rows[every[k].at].fields;
        largest.push_back({count_cell(std::to_string(every[k].at + 1)), plain(f[col::label]),
                           numeric(f[col::response_mw], 2), note(f[col::note])});
    }
    std::vector<std::vector<Cell>> reserve;
    for (const Exhausted &x : exhausted) {
        const auto &f = r.rows[x.at].fields;
        reserve.push_back({count_cell(std::to_string(x.at + 1)), plain(f[col::label]),
                           x.reserve.mw.empty() ? Cell{"", "", true} : numeric(x.reserve.mw, 2), note(f[col::note])});
    }
    const std::string lead =
        every.empty() ? "<p>No contingency has a <code>response_mw</code>.</p>\n"
                      : "<p>" + plural(every.size(), "contingency has", "contingencies have") +
                            " a <code>response_mw</code>: the MW that the units sharing the outage's change moved "
                            "beyond the swing units, positive when generation rose.</p>\n<figure "
                            "id=\"response-histogram\">\n" +
                            histogram(mw, "MW", Limit{}, "Distribution of response_mw") + "</figure>\n";
    return section("response", "Generator response",
                   lead + "<h3>Largest responses by size (at most " + std::to_string(response_rows_shown) + ")</h3>\n" +
                       table("response-table", {"#", "contingency", "response MW", "note"}, largest) +
                       "<h3>Reserve exhausted: every sharing unit at a limit, the rest on the swing</h3>\n" +
                       table("reserve-table", {"#", "contingency", "MW left on the swing", "note"}, reserve));
}

// The interfaces, when the run has interface rows ("" otherwise): each
// interface's largest loading with the contingency that gives it, largest
// first, and the interface_overloads_shown heaviest rows above 100 %.
std::string interfaces_section(const Report &r)
{
    if (r.interfaces.empty()) {
        return "";
    }
    // A row of Report::interfaces: list index, label, interface, mw,
    // rating_mw, loading_pct.
    const auto cells = [&r](const InterfaceLoading &x, bool interface_first) {
        const auto &f = r.interfaces[x.at];
        std::vector<Cell> row = {count_cell(f[0]), plain(f[1]), numeric(f[3], 2), numeric(f[4], 2),
                                 numeric(f[5], 2, " %")};
        row.insert(row.begin() + (interface_first ? 0 : 2), plain(f[2]));
        return row;
    };
    const std::vector<InterfaceLoading> most = most_loaded_interfaces(r, 0);
    const std::vector<InterfaceLoading> overloads = interface_overloads(r, interface_overloads_shown);
    std::vector<std::vector<Cell>> peaks(most.size());
    std::transform(most.begin(), most.end(), peaks.begin(), [&cells](const auto &x) { return cells(x, true); });
    std::vector<std::vector<Cell>> over(overloads.size());
    std::transform(overloads.begin(), overloads.end(), over.begin(),
                   [&cells](const auto &x) { return cells(x, false); });
    return section(
        "interfaces", "Interfaces",
        "<p>The flow of each interface of the monitor file after every converged contingency, against "
        "its MW rating.</p>\n<h3>Most loaded interfaces</h3>\n" +
            table("interfaces-table", {"interface", "#", "contingency", "MW", "rating MW", "loading"}, peaks) +
            "<h3>Contingencies that load an interface above 100 % (at most " +
            std::to_string(interface_overloads_shown) + ")</h3>\n" +
            table("interface-overloads-table", {"#", "contingency", "interface", "MW", "rating MW", "loading"}, over));
}

// The page's look: one column that narrows with the screen, tables that
// scroll sideways rather than squeeze, charts that scale to the width, and
// a print layout without the screen's extras.
const char *const style = R"(
:root { color-scheme: light; }
body { font: 15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, "Noto Sans", sans-serif; color: #1a1a1a;
  background: #fff; max-width: 64rem; margin: 0 auto; padding: 1rem 1.25rem 3rem; }
h1 { font-size: 1.5rem; margin: .5rem 0; overflow-wrap: anywhere; }
h2 { font-size: 1.2rem; margin: 2rem 0 .5rem; border-bottom: 1px solid #ccc; padding-bottom: .2rem; }
h3 { font-size: 1rem; margin: 1rem 0 .25rem; }
nav { font-size: .9rem; margin: .5rem 0 1rem; }
nav a { margin-right: .9rem; white-space: nowrap; color: #0b5394; }
dl.facts { display: grid; grid-template-columns: max-content 1fr; gap: .1rem 1rem; margin: .5rem 0; }
dl.facts dt { color: #555; } dl.facts dd { margin: 0; overflow-wrap: anywhere; }
.verdict { padding: .5rem .75rem; border-left: .4rem solid; font-weight: 600; }
.verdict.ok { background: #e3f3ee; border-color: #009E73; }
.verdict.bad { background: #fbe6dc; border-color: #D55E00; }
.problems { color: #8a3200; }
figure { margin: .5rem 0; overflow-x: auto; }
figure svg { width: 100%; height: auto; max-width: 100%; display: block; }
svg text { font-family: inherit; font-size: 12px; fill: #1a1a1a; }
svg text.axis, svg text.count { font-size: 11px; fill: #444; }
svg text.value, svg text.axis { paint-order: stroke; stroke: #fff; stroke-width: 3px; stroke-linejoin: round; }
svg .grid { stroke: #ddd; stroke-width: 1; }
svg .tick { stroke: #1a1a1a; stroke-width: 2; }
svg .gap { stroke: #D55E00; stroke-width: 2; }
svg .limit { stroke: #1a1a1a; stroke-width: 1.5; stroke-dasharray: 5 3; }
.scroll { overflow-x: auto; }
table { border-collapse: collapse; font-size: .88rem; }
th, td { padding: .2rem .55rem; border-bottom: 1px solid #e2e2e2; text-align: left; vertical-align: top; }
thead th { border-bottom: 2px solid #999; white-space: nowrap; }
td { overflow-wrap: break-word; }
.n { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
table.counts th { font-weight: normal; } table.counts tr.bad { color: #a33a00; font-weight: 600; }
table.counts tr.also th, table.counts tr.also td { border-top: 2px solid #999; }
th[aria-sort] { cursor: pointer; } th[aria-sort]:focus { outline: 2px solid #0072B2; }
th[aria-sort="ascending"]::after { content: " \25B2"; } th[aria-sort="descending"]::after { content: " \25BC"; }
.none { color: #555; font-style: italic; }
td.note { min-width: 16rem; }
@media (max-width: 40rem) {
  body { padding: .5rem .6rem 2rem; font-size: 14px; } th, td { padding: .15rem .3rem; }
  figure svg { min-width: 36rem; }
}
@media print {
  body { max-width: none; padding: 0; font-size: 10pt; }
  nav { display: none; } h2 { break-after: avoid; } figure, tr { break-inside: avoid; }
  .scroll { overflow: visible; } th[aria-sort]::after { content: none; }
  .verdict { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
)";

// Sorting: each heading of a table.sortable becomes a control (click, or
// Enter or Space) that sorts the rows by its column, numbers as numbers
// (by their exact data-v text), ties kept in their order. Written without
// the two characters XML would need escaped, so the page stays well-formed.
const char *const script = R"(
(function () {
  'use strict';
  function key(cell) {
    var v = cell.getAttribute('data-v');
    return v === null ? cell.textContent.trim() : v;
  }
  function sortBy(table, col, th) {
    var down = th.getAttribute('aria-sort') === 'ascending';
    var body = table.tBodies[0];
    var rows = Array.prototype.slice.call(body.rows);
    var keys = rows.map(function (row) { return key(row.cells[col]); });
    var numeric = keys.every(function (k) { return k === '' || isFinite(Number(k)); });
    var order = keys.map(function (k, i) { return i; });
    order.sort(function (a, b) {
      var x = keys[a], y = keys[b], c;
      if (numeric) {
        c = x === '' ? (y === '' ? 0 : 1) : (y === '' ? -1 : Number(x) - Number(y));
      } else {
        c = x.localeCompare(y);
      }
      return (down ? -c : c) || a - b;
    });
    order.forEach(function (i) { body.appendChild(rows[i]); });
    Array.prototype.forEach.call(th.parentNode.cells, function (h) { h.setAttribute('aria-sort', 'none'); });
    th.setAttribute('aria-sort', down ? 'descending' : 'ascending');
  }
  Array.prototype.forEach.call(document.querySelectorAll('table.sortable'), function (table) {
    Array.prototype.forEach.call(table.tHead.rows[0].cells, function (th, col) {
      th.tabIndex = 0;
      th.title = 'Sort by this column';
      th.setAttribute('aria-sort', 'none');
      th.addEventListener('click', function () { sortBy(table, col, th); });
      th.addEventListener('keydown', function (e) {
        if (e.key === 'Enter' || e.key === ' ') {
          e.preventDefault();
          sortBy(table, col, th);
        }
      });
    });
  });
})();
)";

} // namespace

std::string case_name_of(const std::string &case_json)
{
    const nlohmann::json j = nlohmann::json::parse(case_json, nullptr, false);
    if (!j.is_object()) {
        return "";
    }
    const auto name = j.find("name");
    return name != j.end() && name->is_string() ? name->get<std::string>() : "";
}

std::string report_html(const Report &r, const PageRun &run)
{
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"/>\n<title>"
                       "Contingency report" +
                       (run.case_name.empty() ? "" : ": " + html_text(run.case_name)) + "</title>\n<style>" + style +
                       "</style>\n</head>\n<body>\n";
    page += run_section(r, run);
    page += "<nav><a href=\"#counts-by-status\">Counts</a><a href=\"#loadings\">Loadings</a>"
            "<a href=\"#voltages\">Voltages</a><a href=\"#distributions\">Distributions</a>"
            "<a href=\"#violations\">Violations</a><a href=\"#no-solution\">No solution</a>"
            "<a href=\"#unrealistic\">Unrealistic</a><a href=\"#failures\">Failures</a>"
            "<a href=\"#islands\">Islands</a>";
    const std::string response = response_section(r);
    const std::string interfaces = interfaces_section(r);
    page += std::string(response.empty() ? "" : "<a href=\"#response\">Generator response</a>") +
            (interfaces.empty() ? "" : "<a href=\"#interfaces\">Interfaces</a>") + std::string("</nav>\n<main>\n");
    page += counts_section(r) + charts_sections(r) + violations_section(r) + no_solution_section(r) +
            unrealistic_section(r) + failures_section(r) + islands_section(r) + response + interfaces;
    return page + "</main>\n<script>" + script + "</script>\n</body>\n</html>\n";
}
