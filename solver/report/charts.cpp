// The page's charts, drawn as inline SVG: ranked bars and dots of the worst
// loadings and voltages, and histograms.
#include "report/charts.h"

#include "io/printable.h"
#include "report/html_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <utility>

namespace page {

namespace {

// The Okabe-Ito colours, told apart with every common kind of colour
// blindness; each is also paired with words or a mark on the page.
constexpr const char *within = "#0072B2"; // blue
constexpr const char *beyond = "#D55E00"; // vermillion

// A coordinate in the SVG: one decimal is finer than any screen.
std::string at(double x) { return fixed(x, 1); }

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

constexpr size_t label_bytes = 40;
constexpr double char_w = 7.2;
constexpr double row_h = 22;

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

} // namespace

std::string fixed(double x, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
    const std::string s = buf;
    return s.find_first_not_of("-0.") == std::string::npos ? s.substr(s[0] == '-' ? 1 : 0) : s;
}

std::string none(const std::string &why)
{
    return "<p class=\"none\">none" + (why.empty() ? "" : ": " + why) + "</p>\n";
}

const std::string &label_of(const Report &r, size_t i)
{
    return r.rows[i].fields.empty() ? r.blocks[i].label : r.rows[i].fields[col::label];
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

// Why there is no loading to show when contingencies did converge.
std::string no_loading(const Report &r)
{
    const bool any = std::any_of(r.rows.begin(), r.rows.end(), [](const ReportRow &row) {
        return !row.fields.empty() && row.fields[col::status] == "converged";
    });
    return any ? "no branch has a rating in the column used for contingencies, so no loading is known" : "";
}

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

namespace {

// About 20 bins of a round width over `values` (not empty); none (n 0) when
// they span more than a double can chart.
Bins round_bins(const std::vector<double> &values)
{
    const auto [lo_it, hi_it] = std::minmax_element(values.begin(), values.end());
    const double lo = *lo_it;
    const double hi = *hi_it;
    const double step = nice_step(hi > lo ? hi - lo : std::max(std::abs(lo), 1.0) * 0.1, 20);
    const double start = std::floor(lo / step) * step;
    if (!std::isfinite(start) || !std::isfinite(start + step * 21)) {
        return Bins{};
    }
    // start is at or below lo but for rounding: a bin count below one is one.
    const size_t n = std::min<size_t>(200, static_cast<size_t>(std::max(0.0, std::floor((hi - start) / step))) + 1);
    return Bins{start, step, n};
}

} // namespace

// A histogram of `values` in the bins given or else round_bins, each bin's
// count over its bar (a value beyond the bins in the bin at that end), bins
// wholly beyond the limit in vermillion.
std::string histogram(const std::vector<double> &values, const std::string &unit, const Limit &limit,
                      const std::string &title, const std::string &why_none, const Bins &bins)
{
    if (values.empty()) {
        return none(why_none);
    }
    const Bins chosen = bins.n > 0 ? bins : round_bins(values);
    if (chosen.n == 0) {
        return none("the values span more than a double can chart");
    }
    const double start = chosen.start;
    const double step = chosen.step;
    const size_t n = chosen.n;
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

} // namespace page
