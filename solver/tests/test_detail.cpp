// The units' file and a contingency's detail: how a bus's output is shared
// among its units, the detail folder of a kept state, its name, and which
// labels of option detail are unknown.

#include "contingency/contingency.h"
#include "helpers.h"
#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "results/ctg_results.h"
#include "results/detail.h"
#include "results/results.h"
#include "results/units.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Bus 1 the slack with two units of different active ranges (PT−PB 200 and
// 80); bus 2 holds its voltage with units of reactive ranges 200 and 30 and
// one out of service; bus 3 is a load bus with two units at their QG; bus 4
// is isolated (IDE 4) with a unit; bus 5 holds its voltage with a unit of
// no reactive range beside one of range 40.
const char *const five_bus = R"(0, 100.00, 33, 0, 0, 60.00 / units
UNITS TEST CASE
HAND WRITTEN
1,'ONE', 138.0, 3, 1, 1, 1, 1.02, 0.0
2,'TWO', 138.0, 2, 1, 1, 1, 1.01, -2.0
3,'THREE', 138.0, 1, 1, 1, 1, 1.0, -4.0
4,'FOUR', 138.0, 4, 1, 1, 1, 1.0, 0.0
5,'FIVE', 138.0, 2, 1, 1, 1, 1.0, -4.0
0 / END OF BUS DATA, BEGIN LOAD DATA
3,'1',1,1,1, 150.0, 30.0, 0,0,0,0, 1,1
5,'1',1,1,1, 20.0, 25.0, 0,0,0,0, 1,1
0 / END OF LOAD DATA, BEGIN FIXED SHUNT DATA
0 / END OF FIXED SHUNT DATA, BEGIN GENERATOR DATA
1,'1', 50.0, 0.0, 100.0, -100.0, 1.02, 0, 100.0, 0,1,0,0,1,1,100, 200, 0
1,'2', 30.0, 0.0, 50.0, -20.0, 1.02, 0, 100.0, 0,1,0,0,1,1,100, 100, 20
2,'1', 40.0, 0.0, 100.0, -100.0, 1.01, 0, 100.0, 0,1,0,0,1,1,100, 200, 0
2,'2', 20.0, 0.0, 30.0, 0.0, 1.01, 0, 100.0, 0,1,0,0,1,1,100, 200, 0
2,'3', 25.0, 0.0, 100.0, -100.0, 1.01, 0, 100.0, 0,1,0,0,1,0,100, 200, 0
3,'1', 10.0, 5.0, 100.0, -100.0, 1.0, 0, 100.0, 0,1,0,0,1,1,100, 200, 0
3,'2', 4.0, -2.0, 100.0, -100.0, 1.0, 0, 100.0, 0,1,0,0,1,1,100, 200, 0
4,'1', 10.0, 0.0, 100.0, -100.0, 1.0, 0, 100.0, 0,1,0,0,1,1,100, 200, 0
5,'1', 10.0, 0.0, 30.0, -10.0, 1.0, 0, 100.0, 0,1,0,0,1,1,100, 200, 0
5,'2', 10.0, 0.0, 5.0, 5.0, 1.0, 0, 100.0, 0,1,0,0,1,1,100, 200, 0
0 / END OF GENERATOR DATA, BEGIN BRANCH DATA
1, 2,'1', 0.01, 0.1, 0.02, 100, 100, 100
2, 3,'1', 0.01, 0.1, 0.02, 100, 100, 100
1, 3,'1', 0.01, 0.1, 0.02, 100, 100, 100
3, 5,'1', 0.01, 0.1, 0.02, 100, 100, 100
0 / END OF BRANCH DATA, BEGIN TRANSFORMER DATA
0 / END OF TRANSFORMER DATA
0
0
0
0
0
0
0
0
0
0
0
0
0
Q
)";

// The network solved once, in place (the base case's workspace points into
// its own parts).
struct Case {
    RawCase raw;
    Network net;
    BaseCase bc;
    Case() : raw(parsed()), net(build_network(raw)), bc(solve_base_case(net, PfOptions{})) {}
    static RawCase parsed()
    {
        std::istringstream in(five_bus);
        return parse_raw(in, "units.raw");
    }
};

std::unique_ptr<Case> solved_case()
{
    auto c = std::make_unique<Case>();
    EXPECT_TRUE(c->bc.sol.converged);
    return c;
}

double field(const std::vector<std::string> &row, std::size_t i) { return std::stod(row.at(i)); }

// Units' rows by "BUS-ID"; the columns bus,id,status,pg,qg,qt,qb,pt,pb.
std::map<std::string, std::vector<std::string>> units_by_name(const std::string &csv)
{
    std::map<std::string, std::vector<std::string>> rows;
    for (const auto &row : csv_rows(csv)) {
        rows[row.at(0) + "-" + row.at(1)] = row;
    }
    return rows;
}

// Each bus of a bus file puts out what its units' rows add up to.
void expect_units_add_up(const std::string &buses_csv, const std::string &units_csv)
{
    std::map<std::string, std::pair<double, double>> sum;
    for (const auto &row : csv_rows(units_csv)) {
        sum[row.at(0)].first += field(row, 3);
        sum[row.at(0)].second += field(row, 4);
    }
    for (const auto &row : csv_rows(buses_csv)) {
        SCOPED_TRACE("bus " + row.at(0));
        EXPECT_NEAR(sum[row.at(0)].first, field(row, 5), 1e-8);
        EXPECT_NEAR(sum[row.at(0)].second, field(row, 6), 1e-8);
    }
}

// The fraction of its range (low..high, columns lo and hi) a unit sits at.
double at_fraction(const std::vector<std::string> &row, std::size_t value, std::size_t lo, std::size_t hi)
{
    return (field(row, value) - field(row, lo)) / (field(row, hi) - field(row, lo));
}

fs::path fresh_folder()
{
    char tmpl[] = "/tmp/detail_test.XXXXXX";
    return ::mkdtemp(tmpl);
}

} // namespace

// Known dispatch: a bus's units add up to its row of base_buses.csv; the
// slack's P and a voltage-holding bus's Q put every unit at one fraction of
// its range, equal shares above QB where a range is 0; a load bus's units
// keep their QG; a unit out of service, or of an isolated bus, puts out 0.
TEST(Units, ShareEachBusOutputByTheirRanges)
{
    const auto c = solved_case();
    const std::string units = units_csv(c->raw.units, solved_base(c->net, c->bc));
    EXPECT_EQ(units.substr(0, units.find('\n') + 1), "bus,id,status,pg_mw,qg_mvar,qt_mvar,qb_mvar,pt_mw,pb_mw\n");
    expect_units_add_up(base_buses_csv(c->net, c->bc), units);
    auto u = units_by_name(units);
    ASSERT_EQ(u.size(), 10U) << units;

    EXPECT_NEAR(at_fraction(u["1-1"], 3, 8, 7), at_fraction(u["1-2"], 3, 8, 7), 1e-10) << "slack P by PB..PT";
    EXPECT_NE(u["1-1"][3], "50") << "the slack's units do not keep their PG";
    EXPECT_NEAR(at_fraction(u["2-1"], 4, 6, 5), at_fraction(u["2-2"], 4, 6, 5), 1e-10) << "Q by QB..QT";
    EXPECT_EQ(u["2-1"][3] + " " + u["2-2"][3], "40 20") << "a PV bus's units keep their PG";
    EXPECT_EQ(u["2-3"], (std::vector<std::string>{"2", "3", "0", "0", "0", "100", "-100", "200", "0"}));
    EXPECT_EQ(u["3-1"][4] + " " + u["3-2"][4], "5 -2") << "a load bus's units keep their QG";
    EXPECT_EQ(u["4-1"], (std::vector<std::string>{"4", "1", "1", "0", "0", "100", "-100", "200", "0"}));
    EXPECT_NEAR(field(u["5-1"], 4) - field(u["5-1"], 6), field(u["5-2"], 4) - field(u["5-2"], 6), 1e-9)
        << "equal shares above QB when a range is 0";
}

// A VSC converter holding the voltage of a bus with a unit takes its share
// of the bus's Q first (as base_dclines.csv gives it); the unit the rest.
TEST(Units, LeaveAVoltageHoldingConverterItsShare)
{
    std::string text = read_file(std::string(paths::solver_test_data) + "/revisions/six_bus_v33.raw");
    text = replaced(text, "0 / END OF VSC DC LINE DATA",
                    "'V1', 1, 2.0\n"
                    "3, 2, 2, -40.0, 0.95, 100.0, 0.0, 50.0, 0.0, 0.0, 1.0, 30.0, -30.0, 0, 100.0\n"
                    "5, 1, 1, 150.0, 1.01, 200.0, 0.0, 50.0, 0.0, 0.0, 1.0, 30.0, -30.0, 0, 100.0\n"
                    "0 / END OF VSC DC LINE DATA");
    text = replaced(text, "0 / END OF GENERATOR DATA",
                    "5,'D', 10.0, 0.0, 20.0, -10.0, 1.01, 0, 100.0, 0,1,0,0,1,1,100, 9999, -9999\n"
                    "0 / END OF GENERATOR DATA");
    text = replaced(text, "     5,'EAST 69     ',  69.0000,1,", "     5,'EAST 69     ',  69.0000,2,");
    std::istringstream in(text);
    const RawCase raw = parse_raw(in, "vsc.raw");
    const Network net = build_network(raw);
    const BaseCase bc = solve_base_case(net, PfOptions{});
    ASSERT_TRUE(bc.sol.converged);
    const auto unit = units_by_name(units_csv(raw.units, solved_base(net, bc)))["5-D"];
    const auto converter = csv_rows(base_dclines_csv(net, bc)).at(0);
    for (const auto &bus : csv_rows(base_buses_csv(net, bc))) {
        if (bus.at(0) == "5") {
            EXPECT_NEAR(field(unit, 4) + field(converter, 8), field(bus, 6), 1e-8);
            EXPECT_NE(field(converter, 8), 0.0);
        }
    }
}

// A converged contingency's folder: its buses are the solution's, the
// opened branch has no row, its units add up; a unit it takes out is 0.
// The label "../x" stays inside the folder. No state, no folder, a warning.
TEST(Detail, WritesTheKeptStateOfAContingency)
{
    auto c = solved_case();
    const fs::path root = fresh_folder();
    const std::string dir = (root / "sub.detail").string();
    const CtgBlock open{"../x", "OPEN BRANCH FROM BUS 1 TO BUS 3 CKT 1", 1};
    const CtgResult r = solve_contingency(c->net, c->bc, open, PfOptions{}, c->bc.ws, true);
    ASSERT_EQ(r.status, CtgStatus::converged);
    ASSERT_TRUE(r.state);
    EXPECT_EQ(write_detail(dir, c->raw.units, c->net, c->bc, open, r, 3), "");
    EXPECT_FALSE(fs::exists(root / "x"));
    const fs::path folder = root / "sub.detail/_._x";
    const std::string buses = read_file(folder / "buses.csv");
    for (const auto &row : csv_rows(buses)) {
        const int i = c->net.index.at(std::stoi(row.at(0)));
        EXPECT_NEAR(field(row, 3), r.sol.v.vm[i], 1e-11);
        EXPECT_NEAR(field(row, 4), r.sol.v.va[i] * 180.0 / M_PI, 1e-9);
    }
    const auto branches = csv_rows(read_file(folder / "branches.csv"));
    EXPECT_EQ(branches.size(), 3U);
    for (const auto &row : branches) {
        EXPECT_NE(row.at(0) + "-" + row.at(1), "1-3");
    }
    expect_units_add_up(buses, read_file(folder / "units.csv"));
    fs::remove_all(root);
}

TEST(Detail, ShowsAUnitTakenOutAsOut)
{
    auto c = solved_case();
    const fs::path root = fresh_folder();
    const std::string dir = (root / "sub.detail").string();
    const CtgBlock unit{"unit", "REMOVE UNIT 1 FROM BUS 2", 4};
    const CtgResult ru = solve_contingency(c->net, c->bc, unit, PfOptions{}, c->bc.ws, true);
    ASSERT_EQ(ru.status, CtgStatus::converged);
    EXPECT_EQ(write_detail(dir, c->raw.units, c->net, c->bc, unit, ru, 3), "");
    const std::string units = read_file(root / "sub.detail/unit/units.csv");
    EXPECT_EQ(units_by_name(units)["2-1"],
              (std::vector<std::string>{"2", "1", "0", "0", "0", "100", "-100", "200", "0"}));
    expect_units_add_up(read_file(root / "sub.detail/unit/buses.csv"), units);
    fs::remove_all(root);
}

TEST(Detail, WritesNothingWithoutAState)
{
    auto c = solved_case();
    const fs::path root = fresh_folder();
    const std::string dir = (root / "sub.detail").string();
    const CtgBlock gone{"gone", "OPEN BRANCH FROM BUS 1 TO BUS 9 CKT 1", 7};
    const CtgResult rg = solve_contingency(c->net, c->bc, gone, PfOptions{}, c->bc.ws, true);
    EXPECT_EQ(write_detail(dir, c->raw.units, c->net, c->bc, gone, rg, 3),
              "no detail for contingency 'gone': its status is not_found, with no solved state");
    EXPECT_FALSE(fs::exists(root / "sub.detail/gone"));
    CtgResult diverged;
    diverged.status = CtgStatus::diverged;
    EXPECT_EQ(write_detail(dir, c->raw.units, c->net, c->bc, CtgBlock{"d", "", 0}, diverged, 3),
              "no detail for contingency 'd': its status is diverged, with no solved state");
    fs::remove_all(root);
}

// A state part of the way through an outage: a branch with half its
// admittance in carries half its full-stamp flows.
TEST(Detail, ScalesTheFlowsOfABranchPartlyIn)
{
    auto c = solved_case();
    const fs::path root = fresh_folder();
    std::vector<double> scale(c->net.branches.size(), 1.0);
    scale[2] = 0.5; // 1-3
    CtgResult r;
    r.status = CtgStatus::no_solution;
    r.sol = c->bc.sol;
    r.state = std::make_shared<const CtgState>(CtgState{c->net, c->bc.on, scale, {}});
    ASSERT_EQ(write_detail(root.string(), c->raw.units, c->net, c->bc, CtgBlock{"half", "", 0}, r, 1), "");
    const auto full = csv_rows(base_branches_csv(c->net, c->bc, 1));
    const auto half = csv_rows(read_file(root / "half/branches.csv"));
    ASSERT_EQ(half.size(), full.size());
    for (std::size_t k = 0; k < half.size(); ++k) {
        SCOPED_TRACE(half[k].at(0) + "-" + half[k].at(1));
        const double f = half[k].at(0) + "-" + half[k].at(1) == "1-3" ? 0.5 : 1.0;
        for (std::size_t j = 5; j < 10; ++j) {
            EXPECT_NEAR(field(half[k], j), f * field(full[k], j), 1e-9);
        }
    }
    fs::remove_all(root);
}

// Only bytes safe in any file name are kept; no name escapes its folder,
// is hidden, or is empty.
TEST(Detail, NamesFoldersSafely)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"CTG_BR_1-2.a", "CTG_BR_1-2.a"},
        {"open 1/3", "open_1_3"},
        {"../x", "_._x"},
        {"..", "_."},
        {".", "_"},
        {"", "_"},
        {"a\\b:c*\"d\"", "a_b_c__d_"},
        {"tab\there\n", "tab_here_"},
        {"é", "__"},
        {std::string(300, 'a'), std::string(200, 'a')},
    };
    for (const auto &[label, name] : cases) {
        EXPECT_EQ(detail_folder_name(label), name) << label;
    }
}

// Unknown labels are those missing from the whole list: a driver's share 0
// reads it beside its sub-file, other shares say nothing, and a file of
// another name is a whole list itself.
TEST(Detail, FindsLabelsMissingFromTheWholeList)
{
    const fs::path root = fresh_folder();
    write_file(root / "case.con", "CONTINGENCY a\nOPEN BRANCH FROM BUS 1 TO BUS 2\nEND\n"
                                  "CONTINGENCY b\nOPEN BRANCH FROM BUS 1 TO BUS 3\nEND\nEND\n");
    const std::vector<CtgBlock> share = {CtgBlock{"a", "", 1}};
    const std::vector<std::string> detail = {"b", "c", "a", "c"};
    const std::string dir = root.string() + "/";
    EXPECT_EQ(unknown_detail_labels(detail, dir + "case_subctg0.con", share), (std::vector<std::string>{"c"}));
    EXPECT_TRUE(unknown_detail_labels(detail, dir + "case_subctg3.con", share).empty());
    EXPECT_EQ(unknown_detail_labels(detail, dir + "mine.con", share), (std::vector<std::string>{"b", "c"}));
    EXPECT_TRUE(unknown_detail_labels(detail, dir + "other_subctg0.con", share).empty()) << "no other.con";
    EXPECT_TRUE(unknown_detail_labels({}, dir + "mine.con", share).empty());
    fs::remove_all(root);
}
