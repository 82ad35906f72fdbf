#include "report/html.h"

#include "io/printable.h"
#include "report/report.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace {

// The Okabe-Ito colours, told apart with every common kind of colour
// blindness; each is also paired with words or a mark on the page.
constexpr const char *within = "#0072B2"; // blue
constexpr const char *beyond = "#D55E00"; // vermillion

std::string fixed(double x, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
    const std::string s = buf;
    return s.find_first_not_of("-0.") == std::string::npos ? s.substr(s[0] == '-' ? 1 : 0) : s;
}

// A coordinate in the SVG: one decimal is finer than any screen.
std::string at(double x) { return fixed(x, 1); }

const std::string &label_of(const Report &r, size_t i)
{
    return r.rows[i].fields.empty() ? r.blocks[i].label : r.rows[i].fields[col::label];
}

std::string status_of(const Report &r, size_t i)
{
    return r.rows[i].fields.empty() ? "no_result" : r.rows[i].fields[col::status];
}

bool positive(const std::vector<std::string> &f, size_t column)
{
    double x = 0;
    return !f.empty() && field_number(f[column], x) && x > 0;
}

// Converged rows with a number in `column`: (value, list position), the
// `count` largest or smallest first, ties in list order; every one when
// count is 0.
std::vector<std::pair<double, size_t>> ranked(const Report &r, size_t column, bool largest, size_t count)
{
    std::vector<std::pair<double, size_t>> v;
    for (size_t i = 0; i < r.rows.size(); ++i) {
        const auto &f = r.rows[i].fields;
        double x = 0;
        if (!f.empty() && f[col::status] == "converged" && field_number(f[column], x)) {
            v.emplace_back(x, i);
        }
    }
    std::stable_sort(v.begin(), v.end(), [largest](const auto &a, const auto &b) {
        return largest ? a.first > b.first : a.first < b.first;
    });
    if (count > 0 && v.size() > count) {
        v.resize(count);
    }
    return v;
}

// A label for a chart's margin: at most `bytes` of its printable form, cut
// at a character, with an ellipsis when cut.
std::string short_label(const std::string &label, size_t bytes)
{
    std::string s = printable(label);
    if (s.size() <= bytes) {
        return html_text(s);
    }
    size_t cut = bytes;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xc0U) == 0x80U) {
        --cut;
    }
    return html_text(s.substr(0, cut)) + "&#8230;";
}

size_t widest_label(const Report &r, const std::vector<std::pair<double, size_t>> &rows, size_t cap)
{
    size_t w = 4;
    for (const auto &row : rows) {
        w = std::max(w, std::min(cap, printable(label_of(r, row.second)).size()));
    }
    return w;
}

std::string svg_open(double width, double height, const std::string &title)
{
    return "<svg viewBox=\"0 0 " + at(width) + " " + at(height) + "\" width=\"" + at(width) + "\" height=\"" +
           at(height) + "\" role=\"img\" aria-label=\"" + html_text(title) + "\">\n";
}

std::string text(double x, double y, const std::string &cls, const std::string &anchor, const std::string &body)
{
    return "<text x=\"" + at(x) + "\" y=\"" + at(y) + "\" class=\"" + cls + "\" text-anchor=\"" + anchor + "\">" +
           body + "</text>\n";
}

std::string line(double x1, double y1, double x2, double y2, const std::string &cls)
{
    return "<line x1=\"" + at(x1) + "\" y1=\"" + at(y1) + "\" x2=\"" + at(x2) + "\" y2=\"" + at(y2) + "\" class=\"" +
           cls + "\"/>\n";
}

// An empty section, with why where that is not plain.
std::string none(const std::string &why = "")
{
    return "<p class=\"none\">none" + (why.empty() ? "" : ": " + why) + "</p>\n";
}

// Why there is no loading to show when contingencies did converge.
std::string no_loading(const Report &r)
{
    const bool any = std::any_of(r.rows.begin(), r.rows.end(), [](const ReportRow &row) {
        return !row.fields.empty() && row.fields[col::status] == "converged";
    });
    return any ? "no branch has a rating in the column used for contingencies, so no loading is known" : "";
}

constexpr size_t chart_rows = 20;
constexpr size_t label_bytes = 40;
constexpr double char_w = 7.2;
constexpr double row_h = 22;

// Horizontal bars of the highest post-contingency loadings, the 100 % line
// across them; bars beyond it are vermillion and their value says so.
std::string loading_chart(const Report &r)
{
    const auto top = ranked(r, col::max_loading_pct, true, chart_rows);
    if (top.empty()) {
        return none(no_loading(r));
    }
    const double left = 12 + char_w * static_cast<double>(widest_label(r, top, label_bytes));
    const double bars = 440;
    const double right = 200;
    const double head = 24;
    const double scale = std::max(100.0, top.front().first) * 1.02;
    const double width = left + bars + right;
    const double height = head + row_h * static_cast<double>(top.size()) + 6;
    std::string s = svg_open(width, height, "The " + std::to_string(top.size()) + " highest loadings");
    // The 100 % line under the bars and their values, which mask it.
    const double x100 = left + bars * (100 / scale);
    s += line(x100, head - 6, x100, height, "limit");
    s += text(x100, head - 10, "axis", "middle", "100 % of rating");
    for (size_t k = 0; k < top.size(); ++k) {
        const auto &f = r.rows[top[k].second].fields;
        const double y = head + row_h * static_cast<double>(k);
        const double w = std::max(1.0, bars * (top[k].first / scale));
        const bool over = top[k].first > 100;
        s += "<g class=\"bar\" data-index=\"" + std::to_string(top[k].second + 1) + "\">\n";
        s += "<title>" + html_text(f[col::label]) + ": " + fixed(top[k].first, 2) + " % of rating on branch " +
             html_text(f[col::max_loading_branch]) + "</title>\n";
        s += text(left - 6, y + 15, "label", "end", short_label(f[col::label], label_bytes));
        s += "<rect x=\"" + at(left) + "\" y=\"" + at(y + 3) + "\" width=\"" + at(w) + "\" height=\"" + at(row_h - 6) +
             "\" fill=\"" + (over ? beyond : within) + "\"/>\n";
        s += text(left + w + 5, y + 15, "value", "start",
                  "<tspan class=\"pct\">" + fixed(top[k].first, 2) + "</tspan> %" + (over ? " over" : "") +
                      " on <tspan class=\"branch\">" + html_text(f[col::max_loading_branch]) + "</tspan>");
        s += "</g>\n";
    }
    return s + "</svg>\n";
}

// The low-voltage limit of each (list index, bus) that broke it, from the
// violations.
std::map<std::pair<std::string, std::string>, double> low_limits(const Report &r)
{
    std::map<std::pair<std::string, std::string>, double> lim;
    for (const auto &v : r.violations) {
        double x = 0;
        if (v[vcol::kind] == "low_voltage" && field_number(v[vcol::limit], x)) {
            lim[{v[vcol::index], v[vcol::element]}] = x;
        }
    }
    return lim;
}

// The one low-voltage limit every violation shares, if they share one.
bool shared_low_limit(const Report &r, double &limit)
{
    std::set<double> seen;
    for (const auto &[key, x] : low_limits(r)) {
        seen.insert(x);
    }
    if (seen.size() != 1) {
        return false;
    }
    limit = *seen.begin();
    return true;
}

// A tick step of about span/target: 1, 2, 2.5 or 5 times a power of ten.
double nice_step(double span, double target)
{
    const double raw = span / target;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    const std::array<double, 4> steps = {1.0, 2.0, 2.5, 5.0};
    const auto *const m = std::find_if(steps.begin(), steps.end(), [&](double x) { return x * p >= raw * (1 - 1e-9); });
    return (m != steps.end() ? *m : 10.0) * p;
}

// Decimals that show every multiple of `step` exactly.
int decimals_of(double step)
{
    for (int d = 0; d < 6; ++d) {
        const double x = step * std::pow(10.0, d);
        if (std::abs(x - std::round(x)) < 1e-6 * std::max(1.0, x)) {
            return d;
        }
    }
    return 6;
}

// The lowest post-contingency voltages as dots on a pu scale, each with a
// tick at its bus's low limit where a violation gives one (a contingency
// without a low-voltage violation there is within its limit).
std::string voltage_chart(const Report &r)
{
    const auto low = ranked(r, col::min_vm_pu, false, chart_rows);
    if (low.empty()) {
        return none();
    }
    const auto limits = low_limits(r);
    double shared = 0;
    const bool has_shared = shared_low_limit(r, shared);
    double lo = low.front().first;
    double hi = std::max(1.0, low.back().first);
    std::vector<double> limit(low.size(), NAN);
    for (size_t k = 0; k < low.size(); ++k) {
        const auto &f = r.rows[low[k].second].fields;
        const auto it = limits.find({std::to_string(low[k].second + 1), f[col::min_vm_bus]});
        if (it != limits.end()) {
            limit[k] = it->second;
            lo = std::min(lo, it->second);
            hi = std::max(hi, it->second);
        }
    }
    if (has_shared) {
        lo = std::min(lo, shared);
    }
    const double step = nice_step(std::max(hi - lo, 0.01), 6);
    if (!std::isfinite(hi - lo + 2 * step)) {
        return none("the voltages span more than a double can chart");
    }
    // A little room beyond the extremes so that no dot sits on the frame.
    const double x0 = std::floor((lo - step / 4) / step) * step;
    const double x1 = std::ceil((hi + step / 4) / step) * step;
    const double left = 12 + char_w * static_cast<double>(widest_label(r, low, label_bytes));
    const double plot = 400;
    const double right = 290;
    const double head = 24;
    const double width = left + plot + right;
    const double height = head + row_h * static_cast<double>(low.size()) + 24;
    const auto xs = [&](double v) { return left + plot * (v - x0) / (x1 - x0); };
    std::string s = svg_open(width, height, "The " + std::to_string(low.size()) + " lowest voltages");
    const int d = decimals_of(step);
    const int ticks = static_cast<int>(std::lround((x1 - x0) / step));
    for (int k = 0; k <= ticks; ++k) {
        const double t = x0 + step * k;
        s += line(xs(t), head - 4, xs(t), height - 20, "grid");
        s += text(xs(t), height - 6, "axis", "middle", fixed(t, d));
    }
    if (has_shared) {
        s += line(xs(shared), head - 6, xs(shared), height - 20, "limit");
        s += text(xs(shared), head - 10, "axis", "middle", "low limit " + fixed(shared, 4) + " pu");
    }
    for (size_t k = 0; k < low.size(); ++k) {
        const auto &f = r.rows[low[k].second].fields;
        const double y = head + row_h * static_cast<double>(k) + 11;
        const bool under = !std::isnan(limit[k]) && low[k].first < limit[k];
        s += "<g class=\"dot\" data-index=\"" + std::to_string(low[k].second + 1) + "\">\n";
        s += text(left - 6, y + 4, "label", "end", short_label(f[col::label], label_bytes));
        if (!std::isnan(limit[k])) {
            s += line(xs(low[k].first), y, xs(limit[k]), y, under ? "gap" : "grid");
            s += line(xs(limit[k]), y - 7, xs(limit[k]), y + 7, "tick");
        }
        s += "<circle cx=\"" + at(xs(low[k].first)) + "\" cy=\"" + at(y) + "\" r=\"5\" fill=\"" +
             (under ? beyond : within) + "\"/>\n";
        std::string words = "<tspan class=\"vm\">" + fixed(low[k].first, 4) +
                            "</tspan> pu at bus <tspan class=\"bus\">" + html_text(f[col::min_vm_bus]) + "</tspan>";
        if (!std::isnan(limit[k])) {
            words += (under ? ", under " : ", limit ") + fixed(limit[k], 4);
        }
        s += text(left + plot + 8, y + 4, "value", "start", words);
        s += "</g>\n";
    }
    return s + "</svg>\n";
}

// What a histogram shows beyond its bars: a limit drawn across it, and on
// which side of it a bin counts as beyond (+1 above, -1 below; 0 no limit).
struct Limit {
    double at = 0;
    int side = 0;
    std::string name;
};

// A histogram of `values` in about 20 bins of a round width, each bin's
// count over its bar, bins wholly beyond the limit in vermillion.
std::string histogram(const std::vector<double> &values, const std::string &unit, const Limit &limit,
                      const std::string &title, const std::string &why_none = "")
{
    if (values.empty()) {
        return none(why_none);
    }
    const auto [lo_it, hi_it] = std::minmax_element(values.begin(), values.end());
    const double lo = *lo_it;
    const double hi = *hi_it;
    const double step = nice_step(hi > lo ? hi - lo : std::max(std::abs(lo), 1.0) * 0.1, 20);
    const double start = std::floor(lo / step) * step;
    if (!std::isfinite(start) || !std::isfinite(start + step * 21)) {
        return none("the values span more than a double can chart");
    }
    // start is at or below lo but for rounding: a bin count below one is one.
    const size_t n = std::min<size_t>(200, static_cast<size_t>(std::max(0.0, std::floor((hi - start) / step))) + 1);
    std::vector<int> count(n, 0);
    for (const double v : values) {
        ++count[std::min(n - 1, static_cast<size_t>(std::max(0.0, std::floor((v - start) / step))))];
    }
    const int most = *std::max_element(count.begin(), count.end());
    const double ystep = std::max(1.0, std::ceil(nice_step(most, 4)));
    const double ymax = std::max(ystep, std::ceil(most / ystep) * ystep);
    const double width = 720;
    const double height = 250;
    const double left = 56;
    const double right = 16;
    const double top = 22;
    const double bottom = 46;
    const double pw = width - left - right;
    const double ph = height - top - bottom;
    const double bw = pw / static_cast<double>(n);
    const auto xs = [&](double v) { return left + pw * (v - start) / (step * static_cast<double>(n)); };
    const auto ys = [&](double c) { return top + ph * (1 - c / ymax); };
    std::string s = svg_open(width, height, title);
    for (int k = 0; k * ystep <= ymax; ++k) {
        const double c = k * ystep;
        s += line(left, ys(c), width - right, ys(c), "grid");
        s += text(left - 6, ys(c) + 4, "axis", "end", fixed(c, 0));
    }
    for (size_t k = 0; k < n; ++k) {
        const double a = start + step * static_cast<double>(k);
        const double b = a + step;
        const bool out = (limit.side > 0 && a >= limit.at) || (limit.side < 0 && b <= limit.at);
        const int d = decimals_of(step);
        s += "<g class=\"bin\">\n<title>" + fixed(a, d) + " to " + fixed(b, d) + " " + unit + ": " +
             std::to_string(count[k]) + "</title>\n";
        if (count[k] > 0) {
            s += "<rect x=\"" + at(xs(a) + 0.5) + "\" y=\"" + at(ys(count[k])) + "\" width=\"" + at(bw - 1) +
                 "\" height=\"" + at(ph * count[k] / ymax) + "\" fill=\"" + (out ? beyond : within) + "\"/>\n";
            s += text(xs(a) + bw / 2, ys(count[k]) - 3, "count", "middle", std::to_string(count[k]));
        }
        s += "</g>\n";
    }
    const size_t every = (n + 9) / 10;
    for (size_t k = 0; k <= n; k += every) {
        const double a = start + step * static_cast<double>(k);
        s += line(xs(a), top + ph, xs(a), top + ph + 4, "tick");
        s += text(xs(a), top + ph + 17, "axis", "middle", fixed(a, decimals_of(step)));
    }
    s += text(left + pw / 2, height - 6, "axis", "middle", html_text(unit));
    if (limit.side != 0 && limit.at >= start && limit.at <= start + step * static_cast<double>(n)) {
        s += line(xs(limit.at), top - 6, xs(limit.at), top + ph, "limit");
        s += text(xs(limit.at), top - 9, "axis", "middle", html_text(limit.name));
    }
    return s + "</svg>\n";
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
    for (const char *status : {"converged", "diverged", "not_found", "unsupported", "no_result"}) {
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

std::string violations_section(const Report &r)
{
    std::vector<std::vector<Cell>> rows;
    std::set<std::string> contingencies;
    for (const auto &v : r.violations) {
        const bool mva = v[vcol::kind] == "overload";
        rows.push_back({count_cell(v[vcol::index]), plain(v[vcol::label]), plain(v[vcol::kind]),
                        plain(v[vcol::element]), numeric(v[vcol::value], mva ? 2 : 4, mva ? " MVA" : " pu"),
                        numeric(v[vcol::limit], mva ? 2 : 4, mva ? " MVA" : " pu")});
        contingencies.insert(v[vcol::index]);
    }
    const std::string lead = rows.empty()
                                 ? ""
                                 : "<p>" + plural(rows.size(), "violation", "violations") + " in " +
                                       plural(contingencies.size(), "contingency", "contingencies") +
                                       "; overloads against the contingency rating. Click a heading to sort.</p>\n";
    return section("violations", "Contingencies with violations",
                   lead + table("violation-table", {"#", "contingency", "kind", "element", "value", "limit"}, rows));
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
    return section("failures", "Failures: diverged, not found, unsupported, no result",
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

std::string html_text(std::string_view s)
{
    const std::string p = printable(s);
    std::string out;
    out.reserve(p.size());
    for (size_t i = 0; i < p.size(); ++i) {
        const char c = p[i];
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '"') {
            out += "&quot;";
        } else if (c == '\'') {
            out += "&#39;";
        } else if (p.compare(i, 2, "\xef\xbf") == 0 && i + 2 < p.size() && (p[i + 2] == '\xbe' || p[i + 2] == '\xbf')) {
            out += "\xef\xbf\xbd"; // U+FFFE or U+FFFF
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

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
            "<a href=\"#violations\">Violations</a><a href=\"#failures\">Failures</a>"
            "<a href=\"#islands\">Islands</a></nav>\n<main>\n";
    page += counts_section(r) + charts_sections(r) + violations_section(r) + failures_section(r) + islands_section(r);
    return page + "</main>\n<script>" + script + "</script>\n</body>\n</html>\n";
}
