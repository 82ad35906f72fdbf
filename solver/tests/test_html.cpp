// The page's building blocks that the end-to-end tests of ctgreport meet
// only by chance: escaping, the case name, empty sections and charts of
// awkward numbers (generator response among them).

#include "report/html.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

size_t occurrences(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// A converged results row (every column of results_columns) with the given
// loading and lowest voltage.
ReportRow converged(int index, const std::string &loading, const std::string &vm)
{
    ReportRow row;
    row.rank = 0;
    row.index = index;
    row.fields = {std::to_string(index),
                  "C" + std::to_string(index),
                  "converged",
                  "3",
                  "1e-9",
                  vm,
                  "7",
                  "1.05",
                  "2",
                  loading,
                  "1-2-1",
                  "0",
                  "0",
                  "0",
                  "0",
                  "1",
                  "",
                  "0",
                  "1",
                  ""};
    return row;
}

Report report_of(const std::vector<ReportRow> &rows)
{
    Report r;
    r.ranks = 1;
    r.rows = rows;
    for (const ReportRow &row : rows) {
        CtgBlock b;
        b.label = row.fields.empty() ? "LOST" : row.fields[1];
        r.blocks.push_back(b);
        r.missing += row.fields.empty() ? 1 : 0;
    }
    return r;
}

} // namespace

TEST(Html, TextIsEscapedForElementsAndAttributes)
{
    EXPECT_EQ(html_text("a<b>&\"c\"'d'"), "a&lt;b&gt;&amp;&quot;c&quot;&#39;d&#39;");
    EXPECT_EQ(html_text("&amp;"), "&amp;amp;");
    // Controls as printable() shows them, UTF-8 kept, the noncharacters
    // XML refuses replaced.
    EXPECT_EQ(html_text("x\x1b[1m\n"), "x\\x1b[1m\\x0a");
    EXPECT_EQ(html_text("é € \xef\xbf\xbe\xef\xbf\xbf\xef\xbf\xbd"), "é € \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
    EXPECT_EQ(html_text("\xff<"), "\\xff&lt;");
}

TEST(Html, CaseNameIsTheStringNameOrNothing)
{
    EXPECT_EQ(case_name_of(R"({"name": "IEEE 14-bus", "raw_version": 99})"), "IEEE 14-bus");
    for (const char *text : {"", "{", "[]", "\"name\"", R"({"name": 14})", R"({"title": "x"})"}) {
        EXPECT_EQ(case_name_of(text), "") << text;
    }
}

TEST(Html, EmptySectionsSayNone)
{
    const std::string page = report_html(report_of({}), PageRun{"", "today"});
    // Loadings, voltages, two histograms, violations, no solution,
    // unrealistic, failures, islands.
    EXPECT_EQ(occurrences(page, "<p class=\"none\">none</p>"), 9U);
    EXPECT_NE(page.find("Every contingency has a result."), std::string::npos);
    EXPECT_NE(page.find("unnamed case"), std::string::npos);

    // Only the failures: one contingency with no result.
    ReportRow lost;
    lost.why = "rank 0: no results file";
    const std::string failed = report_html(report_of({lost}), PageRun{"x", "today"});
    EXPECT_EQ(occurrences(failed, "<p class=\"none\">none</p>"), 8U);
    EXPECT_NE(failed.find("1 of 1 contingencies has no result"), std::string::npos);
    EXPECT_NE(failed.find("<td class=\"note\">rank 0: no results file</td>"), std::string::npos);
}

TEST(Html, ChartsStayFiniteAndSmallForAwkwardNumbers)
{
    const std::vector<std::vector<ReportRow>> cases = {
        {converged(1, "100", "1")},                                                   // one value
        {converged(1, "50", "1"), converged(2, "50", "1")},                           // one value, twice
        {converged(1, "0", "0.9"), converged(2, "1e9", "1e-9")},                      // a far outlier
        {converged(1, "-5", "-1"), converged(2, "nan", "inf"), converged(3, "", "")}, // not numbers
        {converged(1, "1e-300", "1.0000000001"), converged(2, "2e-300", "1.0000000002")},
        {converged(1, "1e308", "1e308"), converged(2, "-1e308", "-1e308")}, // a span beyond a double
    };
    for (size_t k = 0; k < cases.size(); ++k) {
        const std::string page = report_html(report_of(cases[k]), PageRun{"", ""});
        EXPECT_EQ(page.find("nan"), std::string::npos) << k;
        EXPECT_EQ(page.find("inf\""), std::string::npos) << k;
        EXPECT_LE(occurrences(page, "<g class=\"bin\">"), 2U * 25) << k;
        EXPECT_LT(page.size(), 60000U) << k;
        EXPECT_EQ(page.find("<section id=\"response\">"), std::string::npos) << k;
        // The same numbers as generator response: a third histogram.
        std::vector<ReportRow> rows = cases[k];
        for (ReportRow &row : rows) {
            row.fields[col::response_mw] = row.fields[col::max_loading_pct];
        }
        const std::string response = report_html(report_of(rows), PageRun{"", ""});
        EXPECT_NE(response.find("<section id=\"response\">"), std::string::npos) << k;
        EXPECT_EQ(response.find("nan"), std::string::npos) << k;
        EXPECT_EQ(response.find("inf\""), std::string::npos) << k;
        EXPECT_LE(occurrences(response, "<g class=\"bin\">"), 3U * 25) << k;
        EXPECT_LT(response.size(), 80000U) << k;
    }
}

// Each violation's value and limit in its kind's unit: loadings in MVA,
// interface flows in MW (both to two decimals), voltages in pu (four).
TEST(Html, ViolationsShowTheirKindsUnits)
{
    Report r = report_of({converged(1, "120", "0.9")});
    r.violations = {{"1", "A", "overload", "1-2-1", "120.456", "100"},
                    {"1", "A", "interface", "NORTH", "-812.345", "800"},
                    {"1", "A", "voltage_drop", "7", "0.061234", "0.05"}};
    const std::string page = report_html(r, PageRun{"", ""});
    for (const char *shown : {"120.46 MVA", "100.00 MVA", "812.35 MW", "800.00 MW", "0.0612 pu", "0.0500 pu"}) {
        EXPECT_NE(page.find(shown), std::string::npos) << shown;
    }
    EXPECT_EQ(page.find("812.3450 pu"), std::string::npos);
}
