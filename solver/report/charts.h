// The page's charts as inline SVG (report_html's parts): the ranked bars
// and dots of the worst loadings and voltages, histograms, and the few
// pieces of text the page's tables share with them.
#pragma once

#include "report/report.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace page {

// Rows in each ranked chart.
constexpr std::size_t chart_rows = 20;

// `x` with `decimals` decimals; a value that rounds to zero shows as an
// unsigned zero.
std::string fixed(double x, int decimals);

// An empty section, with why where that is not plain.
std::string none(const std::string &why = "");

// The label of list position i: its results row's, else the list's.
const std::string &label_of(const Report &r, std::size_t i);

// Converged rows with a number in `column`: (value, list position), the
// `count` largest or smallest first, ties in list order; every one when
// count is 0.
std::vector<std::pair<double, std::size_t>> ranked(const Report &r, std::size_t column, bool largest,
                                                   std::size_t count);

// Why there is no loading to show when contingencies did converge ("" when
// none did).
std::string no_loading(const Report &r);

// The one low-voltage limit every violation shares, if they share one.
bool shared_low_limit(const Report &r, double &limit);

// Horizontal bars of the chart_rows highest post-contingency loadings, the
// 100 % line across them; bars beyond it are vermillion and their value
// says so.
std::string loading_chart(const Report &r);

// The chart_rows lowest post-contingency voltages as dots on a pu scale,
// each with a tick at its bus's low limit where a violation gives one.
std::string voltage_chart(const Report &r);

// What a histogram shows beyond its bars: a limit drawn across it, and on
// which side of it a bin counts as beyond (+1 above, -1 below; 0 no limit).
struct Limit {
    double at = 0;
    int side = 0;
    std::string name;
};

// A histogram's bins: n of width `step` from `start`; n 0 lets the
// histogram choose them from its values.
struct Bins {
    double start = 0;
    double step = 0;
    std::size_t n = 0;
};

// A histogram of `values` (none(why_none) when there are none), each bin's
// count over its bar; without bins given, about 20 of a round width.
std::string histogram(const std::vector<double> &values, const std::string &unit, const Limit &limit,
                      const std::string &title, const std::string &why_none = "", const Bins &bins = Bins{});

} // namespace page
