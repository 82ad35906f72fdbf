// The report's reading of the generator response: the MW left on the swing
// that a note names, the order of the largest responses and of the
// contingencies with the reserve exhausted, and the summary's lists of them.

#include "report/report.h"
#include "report/response.h"
#include "report/summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A report of one rank whose rows have the given status, response_mw and
// note, labelled C1, C2, ...
Report report_of(const std::vector<std::vector<std::string>> &rows)
{
    Report r;
    r.ranks = 1;
    for (size_t i = 0; i < rows.size(); ++i) {
        ReportRow row;
        row.rank = 0;
        row.index = static_cast<int>(i) + 1;
        row.fields.assign(results_columns.size(), "");
        row.fields[col::index] = std::to_string(i + 1);
        row.fields[col::label] = "C" + std::to_string(i + 1);
        row.fields[col::status] = rows[i][0];
        row.fields[col::response_mw] = rows[i][1];
        row.fields[col::note] = rows[i][2];
        r.rows.push_back(row);
        r.blocks.emplace_back();
        r.blocks.back().label = row.fields[col::label];
    }
    return r;
}

} // namespace

TEST(Response, NotedReserveIsReadOnlyWhereThePartIsWhole)
{
    struct Case {
        std::string note;
        bool exhausted;
        std::string mw;
    };
    const std::vector<Case> cases = {
        {"reserve exhausted: 123.4 MW left on the swing", true, "123.4"},
        {"islanded: 3 buses cut off; reserve exhausted: -56.0 MW left on the swing; at a limit: unit 101 '1' (PT), "
         "unit 206 '2' (PB)",
         true, "-56.0"},
        {"at a limit: unit 1 '1' (PT), and 12 more; reserve exhausted: 0.0 MW left on the swing", true, "0.0"},
        // No such part: the words elsewhere do not count.
        {"", false, ""},
        {"no unit shares the change: the swing takes it", false, ""},
        {"at a limit: unit 101 '1' (PT), unit 206 '2' (PB)", false, ""},
        {"no reserve exhausted: 1.0 MW left on the swing", false, ""},
        {"reserve exhausted 1.0 MW left on the swing", false, ""},
        // A damaged part: exhausted, but no MW, never a guess.
        {"reserve exhausted: abc MW left on the swing", true, ""},
        {"reserve exhausted: 12.3 MW", true, ""},
        {"reserve exhausted: 12.3 MW left on the swing today", true, ""},
        {"reserve exhausted:  12.3 MW left on the swing", true, ""},
        {"reserve exhausted: 1 2 MW left on the swing", true, ""},
        {"reserve exhausted: nan MW left on the swing", true, ""},
        {"reserve exhausted:  MW left on the swing", true, ""},
        {"reserve exhausted: ", true, ""},
    };
    for (const Case &c : cases) {
        const NotedReserve n = noted_reserve(c.note);
        EXPECT_EQ(n.exhausted, c.exhausted) << c.note;
        EXPECT_EQ(n.mw, c.mw) << c.note;
        if (!c.mw.empty()) {
            EXPECT_DOUBLE_EQ(n.left_mw, std::stod(c.mw)) << c.note;
        }
    }
}

TEST(Response, ListsRunFromTheLargestAndInListOrder)
{
    const Report r = report_of({
        {"converged", "12.5", ""},
        {"converged", "-150", "reserve exhausted: -31.2 MW left on the swing"},
        {"converged", "", "no unit shares the change: the swing takes it"},
        {"converged", "150.0", "at a limit: unit 7 '1' (PT)"},
        {"no_solution", "", "solvable to λ = 0.5"},
        {"converged", "nan", ""},
        {"converged", "abc", ""},
        {"converged", "0", ""},
        {"converged", "-0.004", "islanded: 1 buses cut off; reserve exhausted: 8.0 MW left on the swing"},
        {"converged", "1e3", "reserve exhausted: x MW left on the swing"},
        {"converged", "2", ""},
        {"converged", "3", ""},
        {"converged", "4", ""},
        {"converged", "5", ""},
        {"converged", "6", ""},
    });
    const auto order = [](const std::vector<Response> &v) {
        std::vector<size_t> at;
        for (const Response &x : v) {
            at.push_back(x.at);
        }
        return at;
    };
    // By |MW|, ties (-150 and 150) in list order; fields that are no number
    // left out.
    const std::vector<Response> every = largest_responses(r, 0);
    EXPECT_EQ(order(every), (std::vector<size_t>{9, 1, 3, 0, 14, 13, 12, 11, 10, 8, 7}));
    EXPECT_DOUBLE_EQ(every[1].mw, -150);
    EXPECT_EQ(order(largest_responses(r, response_rows_shown)),
              (std::vector<size_t>{9, 1, 3, 0, 14, 13, 12, 11, 10, 8}));

    const std::vector<Exhausted> exhausted = reserve_exhausted_rows(r);
    ASSERT_EQ(exhausted.size(), 3U);
    EXPECT_EQ(exhausted[0].at, 1U);
    EXPECT_DOUBLE_EQ(exhausted[0].reserve.left_mw, -31.2);
    EXPECT_EQ(exhausted[1].at, 8U);
    EXPECT_EQ(exhausted[1].reserve.mw, "8.0");
    EXPECT_EQ(exhausted[2].at, 9U);
    EXPECT_EQ(exhausted[2].reserve.mw, "");

    // The summary shows both lists, MW signed with two decimals (a damaged
    // MW left as an empty cell), before the largest load cut off.
    const std::string text = summary(r);
    EXPECT_NE(text.find("\nLargest generator response (|response_mw|, largest first)\n"
                        "  label  response MW\n"
                        "  C10        1000.00\n"
                        "  C2         -150.00\n"
                        "  C4          150.00\n"
                        "  C1           12.50\n"
                        "  C15           6.00\n"
                        "  C14           5.00\n"
                        "  C13           4.00\n"
                        "  C12           3.00\n"
                        "  C11           2.00\n"
                        "  C9            0.00\n\n"
                        "Reserve exhausted\n"
                        "  label  MW left on the swing\n"
                        "  C2                   -31.20\n"
                        "  C9                     8.00\n"
                        "  C10\n\n"
                        "Largest load cut off: "),
              std::string::npos)
        << text;
}

// Each list only when some row is in it: a run without generator response
// prints what it printed before.
TEST(Response, SummaryListsOnlyWhatTheRunHas)
{
    const Report none = report_of({{"converged", "", "no unit shares the change: the swing takes it"},
                                   {"no_solution", "", "solvable to λ = 0.5"},
                                   {"converged", "nan", ""}});
    const std::string quiet = summary(none);
    EXPECT_EQ(quiet.find("generator response"), std::string::npos) << quiet;
    EXPECT_EQ(quiet.find("Reserve exhausted"), std::string::npos) << quiet;
    EXPECT_NE(quiet.find("\nUnrealistic\n  label  bus  vm pu  note\n\nLargest load cut off: none\n"), std::string::npos)
        << quiet;

    const std::string only_reserve =
        summary(report_of({{"converged", "", "reserve exhausted: 5.0 MW left on the swing"}}));
    EXPECT_EQ(only_reserve.find("generator response"), std::string::npos) << only_reserve;
    EXPECT_NE(only_reserve.find("\nReserve exhausted\n"), std::string::npos) << only_reserve;

    const std::string only_response = summary(report_of({{"converged", "-7.25", ""}}));
    EXPECT_NE(only_response.find("Largest generator response (|response_mw|, largest first)\n"
                                 "  label  response MW\n"
                                 "  C1           -7.25\n\n"),
              std::string::npos)
        << only_response;
    EXPECT_EQ(only_response.find("Reserve exhausted"), std::string::npos) << only_response;
}
