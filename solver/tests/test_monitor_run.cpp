// vandrelsolve with a monitor file (CASE.json's "monitor"), end to end: the
// real executable in a fresh folder per test. Interface flows checked
// against the branch flows of the base case's and the detail's files;
// monitored branches, voltage ranges and deviations in the violations;
// warnings and errors of the monitor file.

#include "helpers.h"
#include "results/columns.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Buses 1, 2 and 5 in area 1, buses 3 and 4 in area 2. The ties between
// the areas are 1-3, 2-3, 2-4 (from area 1) and 4-5 (stored from area 2).
const char *const two_areas = R"(0, 100.00, 33, 0, 0, 60.00 / two areas
TWO-AREA TEST CASE
HAND WRITTEN
1,'ONE', 138.0, 3, 1, 1, 1, 1.02, 0.0
2,'TWO', 138.0, 2, 1, 1, 1, 1.01, -2.0
3,'THREE', 138.0, 1, 2, 1, 1, 1.0, -4.0
4,'FOUR', 69.0, 1, 2, 1, 1, 1.0, -5.0
5,'FIVE', 69.0, 1, 1, 1, 1, 1.0, -3.0
0 / END OF BUS DATA, BEGIN LOAD DATA
3,'1',1,2,1, 90.0, 30.0, 0,0,0,0, 1,1
4,'1',1,2,1, 40.0, 10.0, 0,0,0,0, 1,1
5,'1',1,1,1, 20.0, 5.0, 0,0,0,0, 1,1
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
4, 5,'1', 0.02, 0.2, 0.0, 100, 100, 100
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

const char *const outages = "CONTINGENCY open 1-3\nOPEN BRANCH FROM BUS 1 TO BUS 3 CKT 1\nEND\n"
                            "CONTINGENCY open 2-3\nOPEN BRANCH FROM BUS 2 TO BUS 3 CKT 1\nEND\n"
                            "CONTINGENCY unit 2\nREMOVE UNIT 1 FROM BUS 2\nEND\n"
                            "CONTINGENCY gone\nOPEN BRANCH FROM BUS 1 TO BUS 9 CKT 1\nEND\nEND\n";

double field(const std::vector<std::string> &row, std::size_t i) { return std::stod(row.at(i)); }

// One member of an interface: the branch from-to (circuit 1) and the end
// its flow is taken at.
struct Member {
    std::string from, to;
    bool at_to;
};

// The signed sum of the members' active power in a branches file
// (base_branches_columns); `scale` the sum of the terms' magnitudes, for a
// tolerance relative to the printed digits. A member without a row (out
// of service) carries nothing.
std::pair<double, double> member_sum(const std::string &branches_csv, const std::vector<Member> &members)
{
    const std::size_t p_from = column_of(base_branches_columns, "p_from_mw");
    const std::size_t p_to = column_of(base_branches_columns, "p_to_mw");
    double sum = 0;
    double scale = 0;
    for (const auto &row : csv_rows(branches_csv)) {
        for (const Member &m : members) {
            if (row.at(0) == m.from && row.at(1) == m.to && row.at(3) == "1") {
                const double p = field(row, m.at_to ? p_to : p_from);
                sum += p;
                scale += std::fabs(p);
            }
        }
    }
    return {sum, scale};
}

class MonitorRun : public ::testing::Test {
protected:
    SolverLayout dir{"monitor_run_test"};
    const fs::path root = dir.root;

    void SetUp() override
    {
        write_file(root / "work_dir/case_subctg0.con", outages);
        write_file(root / "work_dir/case.json", R"({"name": "two areas", "monitor": "watch.mon"})");
        write_file(root / "work_dir/case.raw", two_areas);
    }

    int run() const { return dir.run_in_start(paths::vandrelsolve, driver_command_line(2)); }
    std::string err() const { return dir.err(); }
    std::string work(const std::string &name) const { return dir.work(name); }

    // The violations of one contingency (by label, "" the base case) as
    // "kind element" -> {value, limit}.
    std::map<std::string, std::pair<double, double>> violations(const std::string &label) const
    {
        std::map<std::string, std::pair<double, double>> found;
        if (label.empty()) {
            for (const auto &row : csv_rows(work("base_violations.csv"))) {
                found[row.at(0) + " " + row.at(1)] = {field(row, 2), field(row, 3)};
            }
            return found;
        }
        for (const auto &row : csv_rows(work("case_subctg0.violations.csv"))) {
            if (row.at(vcol::label) == label) {
                found[row.at(vcol::kind) + " " + row.at(vcol::element)] = {field(row, vcol::value),
                                                                           field(row, vcol::limit)};
            }
        }
        return found;
    }

    // Each bus's |V| in a buses file (base_buses_columns), by number.
    static std::map<std::string, double> vm_of(const std::string &buses_csv)
    {
        std::map<std::string, double> vm;
        for (const auto &row : csv_rows(buses_csv)) {
            vm[row.at(0)] = field(row, column_of(base_buses_columns, "vm_pu"));
        }
        return vm;
    }
};

} // namespace

// Interface flows, base case and every converged contingency, are the
// signed sums of their members' flows in the branch files: the ties from
// area 1 to area 2 (4-5 taken at bus 5), and a member written against its
// branch's order (3 2: the flow into 2-3 at bus 3). An interface over its
// rating is a violation of |flow|; one within is not.
TEST_F(MonitorRun, SumsInterfaceFlowsFromTheirMembersEnds)
{
    write_file(root / "work_dir/watch.mon", "MONITOR INTERFACE 'CUT' RATING 1000 MW\n"
                                            "   MONITOR TIES FROM AREA 1 TO AREA 2\n"
                                            "END\n"
                                            "MONITOR INTERFACE 'REV' RATING 20 MW\n"
                                            "   3 2 1\n"
                                            "   1 2\n"
                                            "END\n"
                                            "END\n");
    write_file(root / "start/options.json", R"({"detail": ["open 1-3", "open 2-3", "unit 2"]})");
    ASSERT_EQ(run(), 0) << err();
    EXPECT_EQ(err(), "");
    const std::map<std::string, std::vector<Member>> members = {
        {"CUT", {{"1", "3", false}, {"2", "3", false}, {"2", "4", false}, {"4", "5", true}}},
        {"REV", {{"2", "3", true}, {"1", "2", false}}}};
    const auto expect_sums = [&](const std::string &branches, const std::string &name, double mw, double rating,
                                 double pct) {
        const auto [sum, scale] = member_sum(branches, members.at(name));
        EXPECT_NEAR(mw, sum, 1e-9 * std::max(1.0, scale)) << name;
        EXPECT_EQ(rating, name == "CUT" ? 1000 : 20);
        EXPECT_NEAR(pct, 100 * std::fabs(mw) / rating, 1e-9);
        EXPECT_GT(std::fabs(mw), 1.0) << name << ": a flow to compare";
    };

    const std::string base = work("base_interfaces.csv");
    EXPECT_EQ(base.substr(0, base.find('\n') + 1), header_line(base_interfaces_columns));
    const auto base_rows = csv_rows(base);
    ASSERT_EQ(base_rows.size(), 2U) << base;
    EXPECT_EQ(base_rows[0][0] + " " + base_rows[1][0], "CUT REV");
    for (const auto &row : base_rows) {
        expect_sums(work("base_branches.csv"), row[0], field(row, 1), field(row, 2), field(row, 3));
        EXPECT_EQ(violations("").count("interface " + row[0]), std::fabs(field(row, 1)) > field(row, 2) ? 1U : 0U);
    }

    const std::string ctg = work("case_subctg0.interfaces.csv");
    EXPECT_EQ(ctg.substr(0, ctg.find('\n') + 1), header_line(interfaces_columns));
    const auto rows = csv_rows(ctg);
    ASSERT_EQ(rows.size(), 6U) << "two rows for each converged contingency, none for 'gone'\n" << ctg;
    int over = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.at(1) + " " + row.at(2));
        const std::string dir = "case_subctg0.detail/" + std::string(row.at(1) == "open 1-3"   ? "open_1-3"
                                                                     : row.at(1) == "open 2-3" ? "open_2-3"
                                                                                               : "unit_2");
        expect_sums(work(dir + "/branches.csv"), row.at(2), field(row, 3), field(row, 4), field(row, 5));
        const auto v = violations(row.at(1));
        const auto found = v.find("interface " + row.at(2));
        if (std::fabs(field(row, 3)) > field(row, 4)) {
            ++over;
            ASSERT_NE(found, v.end());
            EXPECT_NEAR(found->second.first, std::fabs(field(row, 3)), 1e-9 * std::fabs(field(row, 3)));
            EXPECT_EQ(found->second.second, field(row, 4));
        } else {
            EXPECT_EQ(found, v.end());
        }
    }
    EXPECT_GT(over, 0) << "some contingency loads REV beyond its 20 MW";
}

// Only the monitored branches' loadings are checked: with every rating at
// 30 MVA, a monitor of 1-2 and of the branches inside area 2 (3-4) leaves
// the overloads of the others out, in the base case and after outages,
// and max_loading_branch is one of the monitored.
TEST_F(MonitorRun, ChecksOnlyTheMonitoredBranches)
{
    std::string raw = two_areas;
    for (const char *b : {"1, 2,'1', 0.01, 0.1, 0.02", "2, 3,'1', 0.01, 0.1, 0.02", "1, 3,'1', 0.01, 0.1, 0.02",
                          "3, 4,'1', 0.01, 0.05, 0.0", "2, 4,'1', 0.02, 0.2, 0.0"}) {
        raw = replaced(raw, std::string(b) + ", 100, 100, 100", std::string(b) + ", 30, 30, 30");
    }
    write_file(root / "work_dir/case.raw", raw);
    write_file(root / "work_dir/watch.mon", "SUBSYSTEM 'EAST'\n AREA 2\nEND\n"
                                            "MONITOR BRANCHES IN SUBSYSTEM 'EAST'\n"
                                            "MONITOR BRANCH FROM BUS 2 TO BUS 1 CIRCUIT 1\n"
                                            "END\n");
    ASSERT_EQ(run(), 0) << err();
    const auto monitored = [](const std::string &key) {
        return key == "overload 1-2-1" || key == "overload 3-4-1" || key.rfind("overload", 0) != 0;
    };
    int overloads = 0;
    for (const std::string label : {"", "open 1-3", "open 2-3", "unit 2"}) {
        SCOPED_TRACE(label);
        for (const auto &[key, value] : violations(label)) {
            EXPECT_TRUE(monitored(key)) << key;
            overloads += key.rfind("overload", 0) == 0 ? 1 : 0;
        }
    }
    EXPECT_GT(overloads, 0) << "3-4 carries bus 4's load, past 30 MVA";
    int above = 0;
    for (const auto &row : csv_rows(work("base_branches.csv"))) {
        above += field(row, column_of(base_branches_columns, "loading_pct")) > 100 ? 1 : 0;
    }
    EXPECT_GT(above, 1) << "base_branches.csv still gives every loading";
    for (const auto &row : csv_rows(work("case_subctg0.results.csv"))) {
        if (row.at(col::status) == "converged") {
            EXPECT_TRUE(row.at(col::max_loading_branch) == "1-2-1" || row.at(col::max_loading_branch) == "3-4-1")
                << row.at(col::max_loading_branch);
        }
    }
    EXPECT_EQ(work("base_interfaces.csv"), header_line(base_interfaces_columns)) << "no interface, no rows";
}

// A voltage range replaces the buses' own limits (0.9 to 1.1 pu), in the
// base case and after outages, for its subsystem's buses only; a deviation
// limit makes a fall of |V| from the base case a voltage_drop whose value
// is that fall. Deviations count among the voltage violations.
TEST_F(MonitorRun, AppliesVoltageRangesAndDeviations)
{
    write_file(root / "work_dir/watch.mon", "SUBSYSTEM 'LOADS'\n BUSES 3 4\nEND\n"
                                            "SUBSYSTEM 'HV'\n KVRANGE 100 200\nEND\n"
                                            "MONITOR VOLTAGE RANGE SUBSYSTEM 'LOADS' 1.01 1.2\n"
                                            "MONITOR VOLTAGE DEVIATION SUBSYSTEM 'HV' 0.002 0.5\n"
                                            "END\n");
    write_file(root / "start/options.json", R"({"detail": ["open 1-3"]})");
    ASSERT_EQ(run(), 0) << err();
    const auto base_vm = vm_of(work("base_buses.csv"));
    for (const std::string bus : {"3", "4"}) {
        ASSERT_LT(base_vm.at(bus), 1.01) << "below the range's 1.01 pu, within the bus's own 0.9";
        const auto v = violations("");
        ASSERT_EQ(v.count("low_voltage " + bus), 1U) << bus;
        EXPECT_EQ(v.at("low_voltage " + bus).second, 1.01);
    }
    EXPECT_LT(base_vm.at("5"), 1.01);
    EXPECT_EQ(violations("").count("low_voltage 5"), 0U) << "bus 5 keeps its own limits";
    EXPECT_EQ(violations("").count("voltage_drop 3"), 0U) << "no deviation in the base case";

    const auto after = vm_of(work("case_subctg0.detail/open_1-3/buses.csv"));
    const auto v = violations("open 1-3");
    EXPECT_EQ(v.at("low_voltage 4").second, 1.01);
    int drops = 0;
    for (const std::string bus : {"1", "2", "3"}) {
        const double fall = base_vm.at(bus) - after.at(bus);
        const auto found = v.find("voltage_drop " + bus);
        if (fall > 0.002) {
            ++drops;
            ASSERT_NE(found, v.end()) << bus;
            EXPECT_NEAR(found->second.first, fall, 1e-11);
            EXPECT_EQ(found->second.second, 0.002);
        } else {
            EXPECT_EQ(found, v.end()) << bus;
        }
    }
    EXPECT_GT(drops, 0) << "opening 1-3 lowers bus 3";
    EXPECT_EQ(v.count("voltage_drop 4") + v.count("voltage_drop 5"), 0U) << "69 kV buses are not in 'HV'";
    for (const auto &row : csv_rows(work("case_subctg0.results.csv"))) {
        if (row.at(col::label) == "open 1-3") {
            EXPECT_EQ(row.at(col::voltage_violations), std::to_string(v.size()));
        }
    }
}

// What the network lacks is a warning line each; without the monitor key
// a run writes as before, and an earlier run's interface files go.
TEST_F(MonitorRun, WarnsOfWhatTheNetworkLacksAndDropsStaleFiles)
{
    write_file(root / "work_dir/watch.mon", "SUBSYSTEM 'S'\n BUSES 3 99\nEND\n"
                                            "MONITOR BRANCH FROM BUS 1 TO BUS 4\n"
                                            "MONITOR INTERFACE 'X' RATING 10 MW\n 7 8 1\nEND\n"
                                            "END\n");
    ASSERT_EQ(run(), 0) << err();
    EXPECT_EQ(err(), "vandrelsolve: warning: ../work_dir/watch.mon:2: no bus 99 in the network\n"
                     "vandrelsolve: warning: ../work_dir/watch.mon:4: no branch from bus 1 to bus 4 circuit 1 in "
                     "the network\n"
                     "vandrelsolve: warning: ../work_dir/watch.mon:6: no branch from bus 7 to bus 8 circuit 1 in "
                     "the network\n");
    EXPECT_EQ(csv_rows(work("base_interfaces.csv")).at(0).at(1), "0") << "an interface with no member";
    ASSERT_TRUE(fs::exists(root / "work_dir/case_subctg0.interfaces.csv"));

    write_file(root / "work_dir/case.json", R"({"name": "two areas"})");
    ASSERT_EQ(run(), 0) << err();
    EXPECT_EQ(err(), "");
    EXPECT_FALSE(fs::exists(root / "work_dir/base_interfaces.csv"));
    EXPECT_FALSE(fs::exists(root / "work_dir/case_subctg0.interfaces.csv"));
}

// A monitor file that breaks the grammar, or a monitor key that is no
// file name, stops the run with the file and line before anything is
// written, and an earlier run's results are gone.
TEST_F(MonitorRun, RefusesABadMonitorFileAndWritesNothing)
{
    struct Case {
        std::string settings, monitor, message;
    };
    const std::vector<Case> cases = {
        {R"({"monitor": "watch.mon"})", "MONITOR BRANCHES IN SUBSYSTEM 'S'\nEND\n",
         "../work_dir/watch.mon:1: subsystem 'S' is not defined above"},
        {R"({"monitor": "watch.mon"})", "SUBSYSTEM 'S'\n AREA 1\nEND\nWATCH EVERYTHING\nEND\n",
         "../work_dir/watch.mon:4: not a monitor file line: 'WATCH EVERYTHING'"},
        {R"({"monitor": "absent.mon"})", "", "../work_dir/absent.mon: can not open the file"},
        {R"({"monitor": 3})", "", "../work_dir//case.json: 'monitor' must be a file name (a string)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        write_file(root / "work_dir/case.json", c.settings);
        write_file(root / "work_dir/watch.mon", c.monitor);
        write_file(root / "work_dir/case_subctg0.results.csv", "stale\n");
        write_file(root / "work_dir/case_subctg0.interfaces.csv", "stale\n");
        EXPECT_EQ(run(), 1);
        EXPECT_EQ(err(), "vandrelsolve: " + c.message + "\n");
        std::vector<std::string> written;
        for (const auto &e : fs::directory_iterator(root / "work_dir")) {
            const std::string name = e.path().filename().string();
            if (name.rfind("case", 0) != 0 && name != "watch.mon") {
                written.push_back(name);
            }
        }
        EXPECT_EQ(written, std::vector<std::string>{});
        EXPECT_FALSE(fs::exists(root / "work_dir/case_subctg0.results.csv"));
        EXPECT_FALSE(fs::exists(root / "work_dir/case_subctg0.interfaces.csv"));
    }
}
