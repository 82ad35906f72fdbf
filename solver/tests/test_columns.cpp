// The result files' rows against their column tables: every row as wide as
// its header, and the fields the readers take by name where the writers put
// them.
#include "contingency/contingency.h"
#include "io/csv.h"
#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/flows.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "report/report.h"
#include "results/columns.h"
#include "results/ctg_results.h"
#include "results/results.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The fields of one line, its line end removed.
std::vector<std::string> fields_of(std::string line)
{
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    std::vector<std::string> f;
    EXPECT_TRUE(csv_fields(line, f)) << line;
    return f;
}

// Every line of a CSV file's text has as many fields as `columns` names, the
// first being the header itself.
template <std::size_t N> void expect_table(const std::string &text, const Columns<N> &columns, const char *file)
{
    std::istringstream in(text);
    std::string line;
    ASSERT_TRUE(std::getline(in, line)) << file;
    EXPECT_EQ(line + "\n", header_line(columns)) << file;
    int rows = 0;
    while (std::getline(in, line)) {
        EXPECT_EQ(fields_of(line).size(), N) << file << " row " << ++rows << ": " << line;
    }
}

} // namespace

// A results row of every kind of outcome is as wide as the table, with the
// fields the report reads by name in their columns.
TEST(Columns, ResultsRowsOfEveryOutcomeFitTheTable)
{
    CtgResult converged;
    converged.status = CtgStatus::converged;
    converged.attempted = converged.ran = true;
    converged.iterations = 3;
    converged.assessment.min_vm = 0.93;
    converged.assessment.min_vm_bus = 7;
    converged.assessment.max_loading = 120.5;
    converged.assessment.max_loading_branch = "1-2-1";
    converged.assessment.overloads = 1;
    converged.buses_cut_off = 2;
    converged.load_cut_off_mw = 14.9;
    converged.load_lost_mw = 3.5;
    converged.note = "islanded, 2 buses";
    converged.solvable_fraction = 1;
    CtgResult diverged;
    diverged.status = CtgStatus::diverged;
    diverged.attempted = diverged.ran = true;
    diverged.iterations = 20;
    diverged.max_mismatch = NAN;
    CtgResult no_solution = diverged;
    no_solution.status = CtgStatus::no_solution;
    no_solution.solvable_fraction = 0.415;
    CtgResult not_found;
    not_found.status = CtgStatus::not_found;
    not_found.note = "no branch 1-9";

    const std::vector<std::string> c = fields_of(results_row(4, "CTG, A", converged));
    ASSERT_EQ(c.size(), results_columns.size());
    EXPECT_EQ(c[col::index], "4");
    EXPECT_EQ(c[col::label], "CTG, A");
    EXPECT_EQ(c[col::status], "converged");
    EXPECT_EQ(c[col::iterations], "3");
    EXPECT_EQ(c[col::min_vm_pu], "0.93");
    EXPECT_EQ(c[col::min_vm_bus], "7");
    EXPECT_EQ(c[col::max_loading_pct], "120.5");
    EXPECT_EQ(c[col::max_loading_branch], "1-2-1");
    EXPECT_EQ(c[col::overloads], "1");
    EXPECT_EQ(c[col::voltage_violations], "0");
    EXPECT_EQ(c[col::buses_cut_off], "2");
    EXPECT_EQ(c[col::load_cut_off_mw], "14.9");
    EXPECT_EQ(c[col::note], "islanded, 2 buses");
    EXPECT_EQ(c[col::load_lost_mw], "3.5");
    EXPECT_EQ(c[col::solvable_fraction], "1");

    const std::vector<std::string> d = fields_of(results_row(1, "D", diverged));
    ASSERT_EQ(d.size(), results_columns.size());
    EXPECT_EQ(d[col::status], "diverged");
    EXPECT_EQ(d[col::iterations], "20");
    EXPECT_EQ(d[col::min_vm_pu], "");
    EXPECT_EQ(d[col::buses_cut_off], "0");
    EXPECT_EQ(d[col::solvable_fraction], "");

    const std::vector<std::string> s = fields_of(results_row(3, "S", no_solution));
    ASSERT_EQ(s.size(), results_columns.size());
    EXPECT_EQ(s[col::status], "no_solution");
    EXPECT_EQ(s[col::min_vm_pu], "");
    EXPECT_EQ(s[col::solvable_fraction], "0.415");

    const std::vector<std::string> n = fields_of(results_row(2, "N", not_found));
    ASSERT_EQ(n.size(), results_columns.size());
    EXPECT_EQ(n[col::status], "not_found");
    EXPECT_EQ(n[col::note], "no branch 1-9");
    EXPECT_EQ(n[col::load_lost_mw], "");

    Assessment a;
    a.violations = {{"overload", "1-2-1", 241.5, 220}};
    const std::vector<std::string> v = fields_of(violation_rows(2, "X", a));
    ASSERT_EQ(v.size(), violations_columns.size());
    EXPECT_EQ(v[vcol::index], "2");
    EXPECT_EQ(v[vcol::label], "X");
    EXPECT_EQ(v[vcol::kind], "overload");
    EXPECT_EQ(v[vcol::element], "1-2-1");
    EXPECT_EQ(v[vcol::value], "241.5");
    EXPECT_EQ(v[vcol::limit], "220");
}

// report.csv: a block without a result is a row as wide as one with, its
// status and reason where a results row has them.
TEST(Columns, ReportRowsWithAndWithoutAResultAlign)
{
    Report rep;
    rep.blocks.resize(2);
    rep.blocks[0].label = "A";
    rep.blocks[1].label = "B";
    CtgResult ok;
    ok.status = CtgStatus::converged;
    ok.attempted = ok.ran = true;
    rep.rows.resize(2);
    rep.rows[0].rank = 0;
    rep.rows[0].index = 1;
    rep.rows[0].fields = fields_of(results_row(1, "A", ok));
    rep.rows[1].rank = 1;
    rep.rows[1].index = 1;
    rep.rows[1].why = "rank 1: no results file";
    std::istringstream in(report_csv(rep));
    std::string line;
    std::vector<std::vector<std::string>> rows;
    while (std::getline(in, line)) {
        rows.push_back(fields_of(line));
    }
    ASSERT_EQ(rows.size(), 3U);
    for (const auto &row : rows) {
        EXPECT_EQ(row.size(), results_columns.size() + 2);
    }
    EXPECT_EQ(rows[0][2 + col::status], "status");
    EXPECT_EQ(rows[1][2 + col::status], "converged");
    EXPECT_EQ(rows[2][2 + col::label], "B");
    EXPECT_EQ(rows[2][2 + col::status], "no_result");
    EXPECT_EQ(rows[2][2 + col::note], "rank 1: no results file");
}

// The base case's files of a case with transformers, a DC line and
// switched shunts: every row as wide as its header.
TEST(Columns, BaseCaseFilesFitTheirTables)
{
    REQUIRE_CASES();
    const Network net = build_network(read_raw(cases_dir() + "/ieee300/case.raw"));
    PfOptions opt;
    const BaseCase bc = solve_base_case(net, opt);
    ASSERT_TRUE(bc.sol.converged) << bc.sol.failure;
    expect_table(base_buses_csv(net, bc), base_buses_columns, "base_buses.csv");
    expect_table(base_branches_csv(net, bc, 0), base_branches_columns, "base_branches.csv");
    expect_table(base_dclines_csv(net, bc), base_dclines_columns, "base_dclines.csv");
    expect_table(base_violations_csv(assess(net, bc.on, bc.sol, 0, false)), base_violations_columns,
                 "base_violations.csv");
    expect_table(controls_csv(regulation_rows(net, bc)), base_controls_columns, "base_controls.csv");
}
