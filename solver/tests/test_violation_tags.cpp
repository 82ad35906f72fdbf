// Contingency violations told new, worse or same against the base case,
// end to end: the real vandrelsolve in a fresh folder per test, on a
// network whose radial branch 5-6 is overloaded before any outage; the
// options' refusals; ctgreport's reading of an earlier version's
// violations file.

#include "cli/options.h"
#include "helpers.h"
#include "report/report.h"
#include "results/columns.h"
#include "results/violation_tags.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Bus 6 hangs off bus 5 by 5-6, rated 15 MVA in every set: its 20 MW,
// 5 Mvar load overloads it in the base case. 4-5 is rated so that it
// holds in the base case and not with 1-5 open.
const char *const radial = R"(0, 100.00, 33, 0, 0, 60.00 / radial overload
SIX-BUS TEST CASE
HAND WRITTEN
1,'ONE', 138.0, 3, 1, 1, 1, 1.02, 0.0
2,'TWO', 138.0, 2, 1, 1, 1, 1.01, -2.0
3,'THREE', 138.0, 1, 2, 1, 1, 1.0, -4.0
4,'FOUR', 69.0, 1, 2, 1, 1, 1.0, -5.0
5,'FIVE', 69.0, 1, 1, 1, 1, 1.0, -3.0
6,'SIX', 69.0, 1, 1, 1, 1, 1.0, -4.0
0 / END OF BUS DATA, BEGIN LOAD DATA
3,'1',1,2,1, 90.0, 30.0, 0,0,0,0, 1,1
4,'1',1,2,1, 40.0, 10.0, 0,0,0,0, 1,1
5,'1',1,1,1, 20.0, 5.0, 0,0,0,0, 1,1
6,'1',1,1,1, 20.0, 5.0, 0,0,0,0, 1,1
0 / END OF LOAD DATA, BEGIN FIXED SHUNT DATA
0 / END OF FIXED SHUNT DATA, BEGIN GENERATOR DATA
1,'1', 50.0, 0.0, 200.0, -200.0, 1.02, 0, 100.0, 0,1,0,0,1,1,100, 300, 0
2,'1', 60.0, 0.0, 200.0, -200.0, 1.01, 0, 100.0, 0,1,0,0,1,1,100, 300, 0
0 / END OF GENERATOR DATA, BEGIN BRANCH DATA
1, 2,'1', 0.01, 0.1, 0.02, 100, 100, 100
2, 3,'1', 0.01, 0.1, 0.02, 100, 100, 100
1, 3,'1', 0.01, 0.1, 0.02, 100, 100, 100
3, 4,'1', 0.01, 0.05, 0.0, 100, 100, 100
2, 4,'1', 0.02, 0.2, 0.0, 100, 100, 100
1, 5,'1', 0.01, 0.1, 0.0, 100, 100, 100
4, 5,'1', 0.02, 0.2, 0.0, RATING_4_5
5, 6,'1', 0.01, 0.05, 0.0, 15, 15, 15
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

const char *const outages = "CONTINGENCY more 5\nINCREASE BUS 6 LOAD BY 5 PERCENT\nEND\n"
                            "CONTINGENCY more 15\nINCREASE BUS 6 LOAD BY 15 PERCENT\nEND\n"
                            "CONTINGENCY open 1-5\nOPEN BRANCH FROM BUS 1 TO BUS 5 CKT 1\nEND\nEND\n";

const std::string command = driver_command_line(2);

double field(const std::vector<std::string> &row, std::size_t i) { return std::stod(row.at(i)); }

// The tag the rules give an overload from its value, limit and base value.
std::string expected_tag(double value, double limit, double base, double fraction)
{
    if (!(base > limit)) {
        return "new";
    }
    return value > base * (1 + fraction) ? "worse" : "same";
}

class ViolationTags : public ::testing::Test {
protected:
    SolverLayout dir{"violation_tags_test"};
    const fs::path root = dir.root;

    void SetUp() override
    {
        write_file(root / "work_dir/case_subctg0.con", outages);
        write_file(root / "work_dir/case.con", outages);
        write_file(root / "work_dir/case.json", R"({"name": "radial"})");
        write_raw("100, 100, 100");
    }

    void write_raw(const std::string &rating_4_5) const
    {
        write_file(root / "work_dir/case.raw", replaced(radial, "RATING_4_5", rating_4_5));
    }

    int run(const std::string &program, const std::string &args) const { return dir.run_in_start(program, args); }
    std::string err() const { return dir.err(); }
    std::string work(const std::string &name) const { return dir.work(name); }

    // The base case's flow of branch from-to in MVA: its loading against
    // RATEA (`rate`) in base_branches.csv.
    double base_mva(const std::string &from, const std::string &to, double rate) const
    {
        for (const auto &row : csv_rows(work("base_branches.csv"))) {
            if (row.at(0) == from && row.at(1) == to) {
                return field(row, column_of(base_branches_columns, "loading_pct")) * rate / 100;
            }
        }
        ADD_FAILURE() << "no base flow of " << from << "-" << to;
        return 0;
    }

    // The overloads of the violations file as "label element" -> row.
    std::map<std::string, std::vector<std::string>> overloads() const
    {
        std::map<std::string, std::vector<std::string>> found;
        for (const auto &row : csv_rows(work("case_subctg0.violations.csv"))) {
            EXPECT_EQ(row.size(), violations_columns.size());
            if (row.at(vcol::kind) == "overload") {
                found[row.at(vcol::label) + " " + row.at(vcol::element)] = row;
            }
        }
        return found;
    }
};

} // namespace

// 5-6 is overloaded in the base case: 5 % more load at bus 6 leaves it
// same, 15 % more makes it worse; opening 1-5 overloads 4-5, which held in
// the base case: new. Each base_value is the base case's flow in MVA, and
// each tag follows from value, limit and base_value.
TEST_F(ViolationTags, TellsNewWorseAndSameFromTheBaseCase)
{
    ASSERT_EQ(run(paths::vandrelsolve, command), 0) << err();
    const double base_4_5 = base_mva("4", "5", 100);
    const double base_5_6 = base_mva("5", "6", 15);
    ASSERT_GT(base_5_6, 15.0);
    // 4-5's flow with 1-5 open: its value against a rating of 1 MVA.
    write_raw("1, 1, 1");
    ASSERT_EQ(run(paths::vandrelsolve, command), 0) << err();
    const double open_4_5 = field(overloads().at("open 1-5 4-5-1"), vcol::value);
    ASSERT_GT(open_4_5, base_4_5 * 1.05);
    // 4-5 rated halfway between its base flow and that one.
    const double rate_4_5 = (base_4_5 + open_4_5) / 2;
    write_raw(std::to_string(rate_4_5) + ", " + std::to_string(rate_4_5) + ", " + std::to_string(rate_4_5));
    ASSERT_EQ(run(paths::vandrelsolve, command), 0) << err();
    auto found = overloads();
    const std::map<std::string, std::string> tags = {
        {"more 5 5-6-1", "same"}, {"more 15 5-6-1", "worse"}, {"open 1-5 4-5-1", "new"}, {"open 1-5 5-6-1", "same"}};
    EXPECT_EQ(found.size(), tags.size());
    for (const auto &[key, tag] : tags) {
        ASSERT_EQ(found.count(key), 1U) << key;
        const auto &row = found.at(key);
        const bool on_4_5 = row.at(vcol::element) == "4-5-1";
        const double base = on_4_5 ? base_4_5 : base_5_6;
        EXPECT_NEAR(field(row, vcol::base_value), base, 1e-4 * base) << key;
        EXPECT_EQ(row.at(vcol::tag), tag) << key;
        EXPECT_EQ(row.at(vcol::tag),
                  expected_tag(field(row, vcol::value), field(row, vcol::limit), field(row, vcol::base_value), 0.10))
            << key;
    }
    const double more_5 = field(found.at("more 5 5-6-1"), vcol::value) / base_5_6;
    const double more_15 = field(found.at("more 15 5-6-1"), vcol::value) / base_5_6;
    EXPECT_NEAR(more_5, 1.05, 0.02);
    EXPECT_NEAR(more_15, 1.15, 0.02);

    // A worse margin above 15 % makes the second same; new_or_worse then
    // writes only the new one, the results' counts unchanged.
    write_file(root / "start/options.json", R"({"worse_flow_fraction": 0.2, "report_violations": "new_or_worse"})");
    ASSERT_EQ(run(paths::vandrelsolve, command), 0) << err();
    found = overloads();
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found.begin()->first, "open 1-5 4-5-1");
    EXPECT_EQ(found.begin()->second.at(vcol::tag), "new");
    for (const auto &row : csv_rows(work("case_subctg0.results.csv"))) {
        EXPECT_EQ(row.at(col::overloads), row.at(col::label) == "open 1-5" ? "2" : "1") << row.at(col::label);
    }

    // ctgreport counts the tags, and lists new and worse first on the page.
    write_file(root / "start/options.json", "{}\n");
    ASSERT_EQ(run(paths::vandrelsolve, command), 0) << err();
    ASSERT_EQ(run(paths::ctgreport, "../work_dir/"), 0) << err();
    const std::string out = read_file(root / "out");
    EXPECT_NE(out.find("  tagged new "), std::string::npos) << out;
    const std::string page = work("report.html");
    const auto at = [&page](const std::string &s) { return page.find(s); };
    ASSERT_NE(at("<td>worse</td>"), std::string::npos);
    EXPECT_LT(at("<td>worse</td>"), at("<td>same</td>"));
    EXPECT_LT(at("<td>new</td>"), at("<td>same</td>"));

    // The same run's violations file cut to the earlier version's six
    // columns: read, its violations untagged.
    std::string six = header_line(violations_columns);
    six.resize(six.find(",base_value"));
    six += "\n";
    for (const auto &row : csv_rows(work("case_subctg0.violations.csv"))) {
        six +=
            row.at(0) + "," + row.at(1) + "," + row.at(2) + "," + row.at(3) + "," + row.at(4) + "," + row.at(5) + "\n";
    }
    write_file(root / "work_dir/case_subctg0.violations.csv", six);
    ASSERT_EQ(run(paths::ctgreport, "../work_dir/ --no-html"), 0) << err();
    EXPECT_NE(read_file(root / "out").find("  untagged "), std::string::npos) << read_file(root / "out");
    EXPECT_EQ(csv_rows(work("violations.csv")).size(), tags.size());
}

// The options' refusals name the key and what it takes.
TEST(ViolationTagOptions, RefusesValuesOutOfRange)
{
    const std::map<std::string, std::string> refused = {
        {R"({"worse_flow_fraction": -0.1})", "o.json: option 'worse_flow_fraction' must be a number of at least 0"},
        {R"({"worse_vm_pu": "0.01"})", "o.json: option 'worse_vm_pu' must be a number of at least 0"},
        {R"({"report_violations": "new"})", "o.json: option 'report_violations' must be \"all\" or \"new_or_worse\""},
        {R"({"report_violations": true})", "o.json: option 'report_violations' must be \"all\" or \"new_or_worse\""}};
    for (const auto &[text, message] : refused) {
        EXPECT_EQ(input_error_of([&text = text] { parse_options(text, "o.json"); }), message) << text;
    }
    const PfOptions opt = parse_options(R"({"worse_flow_fraction": 0, "worse_vm_pu": 0.01, "report_violations":
        "new_or_worse"})",
                                        "o.json");
    EXPECT_EQ(opt.worse_flow_fraction, 0.0);
    EXPECT_EQ(opt.worse_vm_pu, 0.01);
    EXPECT_TRUE(opt.report_new_or_worse);
    EXPECT_FALSE(parse_options("{}", "o.json").report_new_or_worse);
}

// A violations file of the earlier version (six columns) is read by its
// header, base_value and tag empty; a record of another width is refused
// with the file and line.
TEST(ViolationTagFiles, ReadsAnEarlierVersionsViolationsFile)
{
    std::vector<std::vector<std::string>> records;
    std::string why;
    const std::string six = "index,label,kind,element,value,limit\n";
    ASSERT_TRUE(parse_violations(six + "1,a,overload,1-2-1,120,100\n", "v.csv", records, why)) << why;
    ASSERT_EQ(records.size(), 1U);
    ASSERT_EQ(records[0].size(), violations_columns.size());
    EXPECT_EQ(records[0][vcol::limit], "100");
    EXPECT_EQ(records[0][vcol::base_value], "");
    EXPECT_EQ(records[0][vcol::tag], "");
    EXPECT_FALSE(parse_violations(six + "1,a,overload,1-2-1,120,100,90,new\n", "d/v.csv", records, why));
    EXPECT_EQ(why, "d/v.csv:2: not a record of 6 fields");
    const std::string eight = header_line(violations_columns);
    ASSERT_TRUE(parse_violations(eight + "1,a,overload,1-2-1,120,100,90,new\n", "v.csv", records, why)) << why;
    EXPECT_EQ(records.at(0)[vcol::tag], "new");
    EXPECT_FALSE(parse_violations(eight + "1,a,overload,1-2-1,120,100\n", "d/v.csv", records, why));
    EXPECT_EQ(why, "d/v.csv:2: not a record of 8 fields");
}

// Voltages are worse by worse_vm_pu beyond the base case's |V|, in the
// direction of their limit; interfaces by worse_flow_fraction of the base
// case's flow; deviations are always new; an element the base case does
// not have is new, without a base value.
TEST(ViolationTagRules, TagsEachKindAgainstItsOwnLimit)
{
    BaseValues base;
    base.bus_vm = {{"7", 0.93}, {"8", 0.95}, {"9", 1.07}};
    base.interface_mw = {{"CUT", 120.0}};
    Assessment a;
    a.violations = {
        {"low_voltage", "7", 0.928, 0.94},  {"low_voltage", "7", 0.92, 0.94},  {"low_voltage", "8", 0.93, 0.94},
        {"high_voltage", "9", 1.074, 1.06}, {"high_voltage", "9", 1.08, 1.06}, {"high_voltage", "8", 1.07, 1.06},
        {"interface", "CUT", 125, 100},     {"interface", "CUT", 140, 100},    {"interface", "CUT", 150, 130},
        {"voltage_drop", "7", 0.08, 0.05},  {"overload", "1-2-1", 120, 100}};
    PfOptions opt;
    tag_violations(base, opt, a);
    const std::vector<std::string> tags = {"same", "worse", "new", "same", "worse", "new",
                                           "same", "worse", "new", "new",  "new"};
    ASSERT_EQ(a.violations.size(), tags.size());
    for (std::size_t i = 0; i < tags.size(); ++i) {
        EXPECT_EQ(a.violations[i].tag, tags[i]) << i;
    }
    EXPECT_EQ(a.violations[0].base_value, 0.93);
    EXPECT_EQ(a.violations[9].base_value, 0.93);
    EXPECT_TRUE(std::isnan(a.violations[10].base_value));
    opt.worse_vm_pu = 0.001;
    opt.worse_flow_fraction = 0.01;
    tag_violations(base, opt, a);
    EXPECT_EQ(a.violations[0].tag, "worse");
    EXPECT_EQ(a.violations[6].tag, "worse");
}
