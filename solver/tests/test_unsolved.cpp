// The report's reading of what the solver writes of a contingency without
// an operating point: the bus a note names, the no_solution order, the
// fraction as shown, and results files of this and an earlier version.

#include "report/outcomes.h"
#include "report/report.h"
#include "report/summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A report of one rank whose rows have the given status, solvable_fraction
// and note, labelled C1, C2, ...
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
        row.fields[col::solvable_fraction] = rows[i][1];
        row.fields[col::note] = rows[i][2];
        r.rows.push_back(row);
        r.blocks.emplace_back();
        r.blocks.back().label = row.fields[col::label];
    }
    return r;
}

std::string header(size_t columns)
{
    std::string h;
    for (size_t k = 0; k < columns; ++k) {
        h += (k > 0 ? "," : "") + std::string(results_columns[k]);
    }
    return h;
}

std::string record(size_t fields, const std::string &label)
{
    std::string f = "1," + label + ",converged";
    for (size_t k = 3; k < fields; ++k) {
        f += "," + std::to_string(k);
    }
    return f;
}

} // namespace

TEST(Unsolved, NotedBusIsReadOnlyWhereTheNoteNamesOneWhole)
{
    struct Case {
        std::string note, what, bus, vm;
    };
    const std::vector<Case> cases = {
        {"weak spot: bus 8004 at 0.712 pu", "weak spot", "8004", "0.712"},
        {"islanded: 3 buses cut off; solvable to λ = 0.415; weak spot: bus 8004 at 0.712 pu", "weak spot", "8004",
         "0.712"},
        {"solvable to λ = 0.41503906; weak spot: bus 7 at 1.23456789012e-05 pu; slack moved to bus 3", "weak spot", "7",
         "1.23456789012e-05"},
        {"unrealistic: bus 8004 at 0.0000 pu (outside 0.5 to 2 pu)", "unrealistic", "8004", "0.0000"},
        {"islanded: 1 buses cut off; unrealistic: bus 3 at 2.31 pu (outside 0.5 to 2 pu)", "unrealistic", "3", "2.31"},
        // Nothing, or a damaged note: no bus, never a guess.
        {"", "weak spot", "", ""},
        {"solvable to λ = 0.415", "weak spot", "", ""},
        {"weak spot: bus 80.4 at 0.712 pu", "weak spot", "", ""},
        {"weak spot: bus x12 at 0.712 pu", "weak spot", "", ""},
        {"weak spot: bus -12 at 0.712 pu", "weak spot", "", ""},
        {"weak spot: bus 1234567890 at 0.712 pu", "weak spot", "", ""},
        {"weak spot: bus  at 0.712 pu", "weak spot", "", ""},
        {"weak spot: bus 12 at 0.7x pu", "weak spot", "", ""},
        {"weak spot: bus 12 at nan pu", "weak spot", "", ""},
        {"weak spot: bus 12 at  0.7 pu", "weak spot", "", ""},
        {"weak spot: bus 12 at 0.712", "weak spot", "", ""},
        {"weak spot: bus 12", "weak spot", "", ""},
        {"no weak spot: bus 12 at 0.7 pu", "weak spot", "", ""},
        {"weak spot: bus 12 at 0.7 pu", "unrealistic", "", ""},
    };
    for (const Case &c : cases) {
        const NotedBus b = noted_bus(c.note, c.what);
        EXPECT_EQ(b.bus, c.bus) << c.note;
        EXPECT_EQ(b.vm, c.vm) << c.note;
        if (!c.vm.empty()) {
            EXPECT_DOUBLE_EQ(b.vm_pu, std::stod(c.vm)) << c.note;
        }
    }
}

TEST(Unsolved, NoSolutionRowsRunFromTheSmallestFraction)
{
    const Report r = report_of({
        {"no_solution", "0.5", "weak spot: bus 1 at 0.9 pu"},
        {"no_solution", "", "solvable to λ = ?"},
        {"converged", "1", ""},
        {"no_solution", "0.1", "weak spot: bus 3 at 0.8 pu"},
        {"no_solution", "abc", ""},
        {"no_solution", "0.5", "weak spot: bus 1.5 at 0.9 pu"},
        {"unrealistic", "", "unrealistic: bus 9 at 3 pu (outside 0.5 to 2 pu)"},
        {"no_solution", "0.1", ""},
        {"unrealistic", "", "unrealistic: bus"},
    });
    std::vector<size_t> order;
    std::vector<std::string> buses;
    for (const Unsolved &u : no_solution_rows(r)) {
        order.push_back(u.at);
        buses.push_back(u.bus.bus);
    }
    // Ties in list order; fractions that are no number last, in list order.
    EXPECT_EQ(order, (std::vector<size_t>{3, 7, 0, 5, 1, 4}));
    EXPECT_EQ(buses, (std::vector<std::string>{"3", "", "1", "", "", ""}));
    const auto unrealistic = unrealistic_rows(r);
    ASSERT_EQ(unrealistic.size(), 2U);
    EXPECT_EQ(unrealistic[0].at, 6U);
    EXPECT_EQ(unrealistic[0].bus.bus, "9");
    EXPECT_EQ(unrealistic[1].bus.bus, "");

    // The summary shows a fraction that is no number as written.
    const std::string text = summary(r);
    EXPECT_NE(text.find("\n  C5     abc\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  C4     0.100                     3  0.8000  weak spot: bus 3 at 0.8 pu\n"),
              std::string::npos)
        << text;
}

TEST(Unsolved, FractionsShowRoundedDown)
{
    EXPECT_EQ(fraction_text(0.415), "0.415");
    EXPECT_EQ(fraction_text(0.05), "0.050");
    EXPECT_EQ(fraction_text(0.41599), "0.415");
    EXPECT_EQ(fraction_text(0.9999999), "0.999");
    EXPECT_EQ(fraction_text(0), "0.000");
    EXPECT_EQ(fraction_text(1), "1.000");
    EXPECT_EQ(fraction_text(1.5), "1.5");
    EXPECT_EQ(fraction_text(-1e300), "-1e+300");
}

// The header line decides a results file's width: this version's, or an
// earlier one's without response_mw, or without solvable_fraction as well
// (read as empty fields); a record of another width is refused with the
// file and line.
TEST(Unsolved, ResultsAreReadByTheirHeader)
{
    const size_t n = results_columns.size();
    std::vector<std::vector<std::string>> records;
    std::string why;
    ASSERT_TRUE(parse_results(header(n) + "\n" + record(n, "A") + "\n", "r.csv", records, why)) << why;
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0][col::response_mw], std::to_string(n - 1));

    for (const size_t width : {n - 1, n - 2}) {
        for (const char *eol : {"\n", "\r\n"}) {
            ASSERT_TRUE(parse_results(header(width) + eol + record(width, "A") + eol + record(width, "B") + eol,
                                      "r.csv", records, why))
                << why;
            ASSERT_EQ(records.size(), 2U);
            for (const auto &f : records) {
                ASSERT_EQ(f.size(), n);
                EXPECT_EQ(f[col::load_lost_mw], std::to_string(n - 3));
                EXPECT_EQ(f[col::solvable_fraction], width == n - 1 ? std::to_string(n - 2) : "");
                EXPECT_EQ(f[col::response_mw], "");
            }
        }
    }

    EXPECT_FALSE(parse_results(header(n - 2) + "\n" + record(n - 2, "A") + "\n" + record(n, "B") + "\n", "d/r.csv",
                               records, why));
    EXPECT_EQ(why, "d/r.csv:3: not a record of 18 fields (the header of an earlier version, without "
                   "solvable_fraction)");
    EXPECT_FALSE(parse_results(header(n - 1) + "\n" + record(n, "A") + "\n", "d/r.csv", records, why));
    EXPECT_EQ(why, "d/r.csv:2: not a record of 19 fields (the header of an earlier version, without response_mw)");
    EXPECT_FALSE(parse_results(header(n) + "\n" + record(n - 1, "A") + "\n", "d/r.csv", records, why));
    EXPECT_EQ(why, "d/r.csv:2: not a record of 20 fields");
    // Any other header: this version's width, as before.
    EXPECT_TRUE(parse_results("x\n" + record(n, "A") + "\n", "r.csv", records, why)) << why;
    EXPECT_FALSE(parse_results("x\n" + record(n - 1, "A") + "\n", "r.csv", records, why));
    EXPECT_FALSE(parse_results("", "r.csv", records, why));
    EXPECT_EQ(why, "can not read r.csv");
}
