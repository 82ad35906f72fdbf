// Monitor files: the grammar read into its structs, every error with its
// message and line, and what a file names found in a small network written
// here (two areas, a 2- and a 3-winding transformer, an isolated bus).
#include "helpers.h"
#include "monitor/grammar.h"
#include "monitor/select.h"
#include "network/build.h"
#include "network/network.h"
#include "raw/sections.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using K = MonitorCriterion::Kind;

// Buses: I NAME BASKV IDE AREA ZONE OWNER.
//   1 345 kV area 1 zone 1 owner 1    2 345 kV area 1 zone 2 owner 2
//   3 138 kV area 2 zone 2 owner 1    4 138 kV area 2 zone 3 owner 2
//   5 345 kV area 2 zone 3 owner 3    6 13.8 kV area 2 zone 3 owner 3
//   7 isolated (dropped)
// Lines 1-2, 1-5, 3-4 (circuits 1, 2), 4-5; transformer 2-3; 3-winding 5-4-6 'T'.
const char *const network_raw = R"(0, 100.0, 33
monitor test network

1,'A1',345.0,3,1,1,1
2,'A2',345.0,1,1,2,2
3,'B1',138.0,2,2,2,1
4,'B2',138.0,1,2,3,2
5,'B3',345.0,1,2,3,3
6,'T',13.8,1,2,3,3
7,'X',138.0,4,1,1,1
0
4,'1',1,2,3,50.0,10.0
0
0
1,'1',0.0,0.0,200.0,-200.0,1.0
3,'1',20.0,0.0,30.0,-30.0,1.01
0
1,2,'1',0.01,0.1,0.0
1,5,'1',0.01,0.1,0.0
3,4,'1',0.01,0.1,0.0
3,4,'2',0.01,0.1,0.0
4,5,'1',0.01,0.1,0.0
0
2,3,0,'1',1,1,1,0.0,0.0,2,'TX',1
0.0,0.05,100.0
1.0,0.0,0.0,100,110,120
1.0,0.0
5,4,6,'T',1,1,1,0.0,0.0,2,'TW',1
0.003,0.1,100.0,0.004,0.12,100.0,0.005,0.14,100.0,1.0,0.0
1.0,0.0,0.0,100,110,120
1.0,0.0,0.0,100,110,120
1.0,0.0,0.0,100,110,120
0
Q
)";

Network test_network(const std::string &raw = network_raw)
{
    std::istringstream in(raw);
    return build_network(parse_raw(in, "net.raw"));
}

// Index of the branch stored from bus f to bus t with circuit ckt (a
// winding: its number), -1 when there is none.
int branch(const Network &net, int f, int t, const std::string &ckt, int winding = 0)
{
    for (std::size_t k = 0; k < net.branches.size(); ++k) {
        const NetBranch &b = net.branches[k];
        if (b.from_bus == f && b.to_bus == t && b.ckt == ckt && b.winding == winding) {
            return static_cast<int>(k);
        }
    }
    ADD_FAILURE() << "no branch " << f << "-" << t << " " << ckt;
    return -1;
}

std::set<int> numbers(const Network &net, const std::vector<int> &buses)
{
    std::set<int> s;
    for (const int b : buses) {
        s.insert(net.buses[b].number);
    }
    return s;
}

MonitorFile parse(const std::string &text) { return parse_monitor(text, "mon.txt"); }

} // namespace

TEST(MonitorGrammar, EveryFormInMixedCaseWithCommentsAndBlanks)
{
    const MonitorFile s = parse(R"(/ a study's watch list

SUBSYSTEM 'HV'   / by voltage
	kvRange  200   400.5
END
subsystem ' East '
   area 2
   AREAS 3 4  5
   Zone 7
   zones 8 9
   OWNER 11
   owners 12 13
   bus 101
   BUSES 102 103 / two more
   join 'hv east'
      AREA 2
      kvrange 300 400
   end
End
monitor branches in subsystem 'hv'
MONITOR  TIES  FROM  SUBSYSTEM  'EAST'
Monitor Branch From Bus 101 To Bus 102 Circuit 'A2'
MONITOR BRANCH FROM BUS 101 TO BUS 102 TO BUS 103 CKT 7
MONITOR BRANCH FROM BUS 1 TO BUS 2
MONITOR INTERFACE 'North / South' RATING 1.5e3 mw
   101 102 1
   102 101 'B'   / reversed
   1 2
   1 2 3 T
   monitor ties from area 1 to area 2
   MONITOR TIES FROM SUBSYSTEM 'HV'
END
MONITOR VOLTAGE RANGE SUBSYSTEM 'HV' 0.95 1.05
monitor voltage deviation subsystem 'East' 0.05 0
END
/ after the end, comments and blanks only

)");
    ASSERT_EQ(s.subsystems.size(), 2u);
    const MonitorSubsystem &hv = s.subsystems[0];
    EXPECT_EQ(hv.name, "HV");
    EXPECT_EQ(hv.line, 3);
    ASSERT_EQ(hv.criteria.size(), 1u);
    EXPECT_EQ(hv.criteria[0].kind, K::kv_range);
    EXPECT_EQ(hv.criteria[0].kv_low, 200);
    EXPECT_EQ(hv.criteria[0].kv_high, 400.5);
    const MonitorSubsystem &east = s.subsystems[1];
    EXPECT_EQ(east.name, "East");
    const std::vector<std::pair<K, std::vector<int>>> want = {
        {K::area, {2}},   {K::area, {3, 4, 5}}, {K::zone, {7}},  {K::zone, {8, 9}},
        {K::owner, {11}}, {K::owner, {12, 13}}, {K::bus, {101}}, {K::bus, {102, 103}}};
    ASSERT_EQ(east.criteria.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(east.criteria[i].kind, want[i].first) << i;
        EXPECT_EQ(east.criteria[i].values, want[i].second) << i;
        EXPECT_EQ(east.criteria[i].line, static_cast<int>(7 + i)) << i;
    }
    ASSERT_EQ(east.joins.size(), 1u);
    EXPECT_EQ(east.joins[0].name, "hv east");
    ASSERT_EQ(east.joins[0].criteria.size(), 2u);
    EXPECT_EQ(east.joins[0].criteria[1].kind, K::kv_range);

    ASSERT_EQ(s.branches_in.size(), 1u);
    EXPECT_EQ(s.branches_in[0].subsystem, "hv");
    EXPECT_EQ(s.branches_in[0].line, 20);
    ASSERT_EQ(s.ties_from.size(), 1u);
    EXPECT_EQ(s.ties_from[0].subsystem, "EAST");
    ASSERT_EQ(s.branches.size(), 3u);
    EXPECT_EQ(s.branches[0].i, 101);
    EXPECT_EQ(s.branches[0].j, 102);
    EXPECT_EQ(s.branches[0].k, 0);
    EXPECT_EQ(s.branches[0].ckt, "A2");
    EXPECT_EQ(s.branches[1].k, 103);
    EXPECT_EQ(s.branches[1].ckt, "7");
    EXPECT_EQ(s.branches[2].ckt, "1"); // the circuit left out

    ASSERT_EQ(s.interfaces.size(), 1u);
    const MonitorInterface &f = s.interfaces[0];
    EXPECT_EQ(f.name, "North / South"); // a / inside quotes is no comment
    EXPECT_EQ(f.rating_mw, 1500);
    ASSERT_EQ(f.members.size(), 6u);
    using M = MonitorMember::Kind;
    EXPECT_EQ(f.members[0].kind, M::branch);
    EXPECT_EQ(f.members[1].branch.i, 102);
    EXPECT_EQ(f.members[1].branch.j, 101);
    EXPECT_EQ(f.members[1].branch.ckt, "B");
    EXPECT_EQ(f.members[2].branch.ckt, "1");
    EXPECT_EQ(f.members[3].branch.k, 3);
    EXPECT_EQ(f.members[3].branch.ckt, "T");
    EXPECT_EQ(f.members[4].kind, M::area_ties);
    EXPECT_EQ(f.members[4].from_area, 1);
    EXPECT_EQ(f.members[4].to_area, 2);
    EXPECT_EQ(f.members[5].kind, M::subsystem_ties);
    EXPECT_EQ(f.members[5].subsystem, "HV");

    ASSERT_EQ(s.ranges.size(), 1u);
    EXPECT_EQ(s.ranges[0].vmin, 0.95);
    EXPECT_EQ(s.ranges[0].vmax, 1.05);
    ASSERT_EQ(s.deviations.size(), 1u);
    EXPECT_EQ(s.deviations[0].drop, 0.05);
    EXPECT_EQ(s.deviations[0].rise, 0);
    EXPECT_EQ(s.deviations[0].line, 34);
}

TEST(MonitorGrammar, CarriageReturnsAndAnEmptyJoin)
{
    const MonitorFile s = parse("SUBSYSTEM 'A'\r\n JOIN 'G'\r\n END\r\nEND\r\nEND\r\n");
    ASSERT_EQ(s.subsystems.size(), 1u);
    ASSERT_EQ(s.subsystems[0].joins.size(), 1u);
    EXPECT_TRUE(s.subsystems[0].joins[0].criteria.empty());
}

TEST(MonitorGrammar, ErrorsNameTheFileTheLineAndWhatIsWrong)
{
    const std::string sub = "SUBSYSTEM 'S'\nAREA 1\nEND\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"MONITOR LINES IN SUBSYSTEM 'S'\nEND\n",
         "mon.txt:1: not a monitor file line: 'MONITOR LINES IN SUBSYSTEM 'S''"},
        {"SUBSYSTEM S\nEND\n", "mon.txt:1: not a monitor file line: 'SUBSYSTEM S'"},
        {"SUBSYSTEM ''\nEND\n", "mon.txt:1: not a monitor file line: 'SUBSYSTEM '''"},
        {"SUBSYSTEM 'S'\n  AREA\nEND\nEND\n", "mon.txt:2: not a subsystem criterion: 'AREA'"},
        {"SUBSYSTEM 'S'\n  AREA 1 2\nEND\nEND\n", "mon.txt:2: not a subsystem criterion: 'AREA 1 2'"},
        {"SUBSYSTEM 'S'\n JOIN 'G'\n  JOIN 'H'\n END\nEND\nEND\n", "mon.txt:3: not a JOIN criterion: 'JOIN 'H''"},
        {sub + "MONITOR INTERFACE 'I' RATING 10 MW\n  1 X 1\nEND\nEND\n",
         "mon.txt:5: not an interface member: '1 X 1'"},
        {sub + "MONITOR INTERFACE 'I' RATING 10 MW\n  1 2 3 4 5\nEND\nEND\n",
         "mon.txt:5: not an interface member: '1 2 3 4 5'"},
        {"SUBSYSTEM 'S\nEND\n", "mon.txt:1: a quote is not closed: 'SUBSYSTEM 'S'"},
        {"MONITOR BRANCHES IN SUBSYSTEM 'S'\n" + sub + "END\n", "mon.txt:1: subsystem 'S' is not defined above"},
        {sub + "MONITOR INTERFACE 'I' RATING 10 MW\n MONITOR TIES FROM SUBSYSTEM 'T'\nEND\nEND\n",
         "mon.txt:5: subsystem 'T' is not defined above"},
        {sub + "MONITOR VOLTAGE RANGE SUBSYSTEM 'T' 0.9 1.1\nEND\n", "mon.txt:4: subsystem 'T' is not defined above"},
        {sub + "subsystem 's'\nEND\nEND\n", "mon.txt:4: subsystem 's' is defined twice (first at line 1)"},
        {"MONITOR INTERFACE 'I' RATING 1 MW\nEND\nMONITOR INTERFACE 'i' RATING 1 MW\nEND\nEND\n",
         "mon.txt:3: interface 'i' is defined twice (first at line 1)"},
        {"SUBSYSTEM 'S'\n AREA one\nEND\nEND\n", "mon.txt:2: 'one' is not an area number"},
        {"SUBSYSTEM 'S'\n ZONES 1 0\nEND\nEND\n", "mon.txt:2: '0' is not a zone number"},
        {"SUBSYSTEM 'S'\n OWNER 1.5\nEND\nEND\n", "mon.txt:2: '1.5' is not an owner number"},
        {"SUBSYSTEM 'S'\n BUSES 1 1000000\nEND\nEND\n", "mon.txt:2: '1000000' is not a bus number"},
        {"SUBSYSTEM 'S'\n KVRANGE 1 nan\nEND\nEND\n", "mon.txt:2: 'nan' is not a number"},
        {"SUBSYSTEM 'S'\n KVRANGE 230 115\nEND\nEND\n", "mon.txt:2: KVRANGE: '230' is above '115'"},
        {"MONITOR BRANCH FROM BUS 0 TO BUS 2\nEND\n", "mon.txt:1: '0' is not a bus number"},
        {sub + "MONITOR VOLTAGE RANGE SUBSYSTEM 'S' 1.1 0.9\nEND\n",
         "mon.txt:4: VOLTAGE RANGE: '1.1' is not below '0.9'"},
        {sub + "MONITOR VOLTAGE RANGE SUBSYSTEM 'S' 1 1\nEND\n", "mon.txt:4: VOLTAGE RANGE: '1' is not below '1'"},
        {sub + "MONITOR VOLTAGE RANGE SUBSYSTEM 'S' 0 1\nEND\n", "mon.txt:4: VOLTAGE RANGE: '0' is not above 0"},
        {sub + "MONITOR VOLTAGE DEVIATION SUBSYSTEM 'S' 0.1 -0.1\nEND\n",
         "mon.txt:4: VOLTAGE DEVIATION: '-0.1' is negative"},
        {"MONITOR INTERFACE 'I' RATING -5 MW\nEND\nEND\n", "mon.txt:1: INTERFACE 'I': the rating '-5' is not above 0"},
        {"MONITOR INTERFACE 'I' RATING 0 MW\nEND\nEND\n", "mon.txt:1: INTERFACE 'I': the rating '0' is not above 0"},
        {"END\nAREA 1\n", "mon.txt:2: text after the closing END: 'AREA 1'"},
        {"\nSUBSYSTEM 'S'\n AREA 1\n", "mon.txt:2: SUBSYSTEM 'S' has no END"},
        {"SUBSYSTEM 'S'\n JOIN 'G'\n AREA 1\n", "mon.txt:2: JOIN 'G' has no END"},
        {"MONITOR INTERFACE 'I' RATING 5 MW\n 1 2\n", "mon.txt:1: INTERFACE 'I' has no END"},
        {sub, "mon.txt: the file ends before its closing END"},
        {"", "mon.txt: the file ends before its closing END"},
        {"SUBSYSTEM '\x1b[31m'\nEND\nEND\nX\n", "mon.txt:4: text after the closing END: 'X'"},
        {"MONITOR \x1b[2J\n", "mon.txt:1: not a monitor file line: 'MONITOR \\x1b[2J'"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(input_error_of([&] { (void)parse(c.first); }), c.second) << c.first;
    }
    EXPECT_EQ(input_error_of([] { (void)read_monitor("/nonexistent/mon.txt"); }),
              "/nonexistent/mon.txt: can not open the file");
}

TEST(MonitorSelect, BusesCarryTheirAreaZoneAndOwner)
{
    const Network net = test_network();
    const NetBus &b4 = net.buses[net.index.at(4)];
    EXPECT_EQ(b4.area, 2);
    EXPECT_EQ(b4.zone, 3);
    EXPECT_EQ(b4.owner, 2);
    // The labels never refuse a case: one that is not an integer reads as 1.
    const Network odd = test_network(replaced(network_raw, "4,'B2',138.0,1,2,3,2", "4,'B2',138.0,1,2.5,x,2"));
    EXPECT_EQ(odd.buses[odd.index.at(4)].area, 1);
    EXPECT_EQ(odd.buses[odd.index.at(4)].zone, 1);
    EXPECT_EQ(odd.buses[odd.index.at(4)].owner, 2);
}

TEST(MonitorSelect, SubsystemsByKvRangeBusesAndJoinMatchSetsByHand)
{
    const Network net = test_network();
    const MonitorSelection sel = select_monitored(parse(R"(
SUBSYSTEM 'HV'
  KVRANGE 300 400
END
SUBSYSTEM 'LIST'
  BUSES 1 3 7 99999
END
SUBSYSTEM 'J'
  AREA 1
  JOIN 'area 2 at 138 kV'
    AREA 2
    KVRANGE 100 200
  END
END
SUBSYSTEM 'OWN'
  OWNERS 3 44
  ZONE 2
END
SUBSYSTEM 'GHOST'
  AREA 9
END
END
)"),
                                                  net);
    ASSERT_EQ(sel.subsystems.size(), 5u);
    EXPECT_EQ(numbers(net, sel.subsystems[0].buses), (std::set<int>{1, 2, 5}));
    EXPECT_EQ(numbers(net, sel.subsystems[1].buses), (std::set<int>{1, 3}));
    EXPECT_EQ(numbers(net, sel.subsystems[2].buses), (std::set<int>{1, 2, 3, 4}));
    EXPECT_EQ(numbers(net, sel.subsystems[3].buses), (std::set<int>{2, 3, 5, 6}));
    EXPECT_TRUE(sel.subsystems[4].buses.empty());
    const std::vector<std::string> want = {
        "mon.txt:6: no bus 7 in the network", // isolated, dropped
        "mon.txt:6: no bus 99999 in the network",
        "mon.txt:16: no owner 44 in the network",
        "mon.txt:19: subsystem 'GHOST' holds no bus of the network",
        "mon.txt:20: no area 9 in the network",
    };
    EXPECT_EQ(sel.warnings, want);
}

TEST(MonitorSelect, BranchesInHaveBothEndsInsideTiesExactlyOne)
{
    const Network net = test_network();
    const std::string hv = "SUBSYSTEM 'HV'\n KVRANGE 300 400\nEND\n";
    // The 3-winding unit's star point goes with bus 5 (winding 1): winding 1
    // lies inside HV, windings 2 and 3 cross its edge.
    const MonitorSelection in = select_monitored(parse(hv + "MONITOR BRANCHES IN SUBSYSTEM 'HV'\nEND\n"), net);
    EXPECT_EQ(in.branches,
              (std::vector<int>{branch(net, 1, 2, "1"), branch(net, 1, 5, "1"), branch(net, 5, 4, "T", 1)}));
    const MonitorSelection ties = select_monitored(parse(hv + "MONITOR TIES FROM SUBSYSTEM 'HV'\nEND\n"), net);
    EXPECT_EQ(ties.branches, (std::vector<int>{branch(net, 4, 5, "1"), branch(net, 2, 3, "1"),
                                               branch(net, 5, 4, "T", 2), branch(net, 5, 4, "T", 3)}));
    EXPECT_TRUE(in.warnings.empty());

    const MonitorSelection named = select_monitored(parse(R"(
MONITOR BRANCH FROM BUS 4 TO BUS 3 CIRCUIT 2
MONITOR BRANCH FROM BUS 6 TO BUS 5 TO BUS 4 CKT 't'
MONITOR BRANCH FROM BUS 1 TO BUS 3
MONITOR BRANCH FROM BUS 1 TO BUS 2 TO BUS 5
END
)"),
                                                    net);
    EXPECT_EQ(named.branches, (std::vector<int>{branch(net, 3, 4, "2"), branch(net, 5, 4, "T", 1),
                                                branch(net, 5, 4, "T", 2), branch(net, 5, 4, "T", 3)}));
    const std::vector<std::string> want = {
        "mon.txt:4: no branch from bus 1 to bus 3 circuit 1 in the network",
        "mon.txt:5: no branch from bus 1 to bus 2 to bus 5 circuit 1 in the network"};
    EXPECT_EQ(named.warnings, want);
}

TEST(MonitorSelect, InterfaceMembersTakeTheEndWrittenFirst)
{
    const Network net = test_network();
    const MonitorSelection sel = select_monitored(parse(R"(
SUBSYSTEM 'HV'
  KVRANGE 300 400
END
MONITOR INTERFACE 'AS STORED' RATING 100 MW
  1 2 1
END
MONITOR INTERFACE 'REVERSED' RATING 100 MW
  2 1 1
  6 5 4 T / the winding at bus 6
END
MONITOR INTERFACE 'AREAS' RATING 100 MW
  MONITOR TIES FROM AREA 2 TO AREA 1
  5 1     / already counted, at bus 1
END
MONITOR INTERFACE 'OUT OF HV' RATING 100 MW
  MONITOR TIES FROM SUBSYSTEM 'HV'
  3 9
  MONITOR TIES FROM AREA 1 TO AREA 8
  MONITOR TIES FROM AREA 1 TO AREA 1
END
END
)"),
                                                  net);
    ASSERT_EQ(sel.interfaces.size(), 4u);
    const auto members = [&](std::size_t i) {
        std::vector<std::pair<int, bool>> m;
        for (const InterfaceBranch &b : sel.interfaces[i].members) {
            m.emplace_back(b.branch, b.at_to);
        }
        return m;
    };
    using V = std::vector<std::pair<int, bool>>;
    EXPECT_EQ(members(0), (V{{branch(net, 1, 2, "1"), false}}));
    EXPECT_EQ(members(1), (V{{branch(net, 1, 2, "1"), true}, {branch(net, 5, 4, "T", 3), false}}));
    // Area 2 to area 1: the line 1-5 at bus 5 (its to end), the transformer
    // 2-3 at bus 3 (its to end); the star point is in area 2 with bus 5.
    EXPECT_EQ(members(2), (V{{branch(net, 1, 5, "1"), true}, {branch(net, 2, 3, "1"), true}}));
    EXPECT_EQ(sel.interfaces[2].rating_mw, 100);
    // Out of HV: each tie at its end inside HV, the star point inside.
    EXPECT_EQ(members(3), (V{{branch(net, 4, 5, "1"), true},
                             {branch(net, 2, 3, "1"), false},
                             {branch(net, 5, 4, "T", 2), true},
                             {branch(net, 5, 4, "T", 3), true}}));
    const std::vector<std::string> want = {"mon.txt:18: no branch from bus 3 to bus 9 circuit 1 in the network",
                                           "mon.txt:19: no area 8 in the network",
                                           "mon.txt:20: no tie from area 1 to area 1 in the network"};
    EXPECT_EQ(sel.warnings, want);
}

TEST(MonitorSelect, VoltageCriteriaTheLaterLineOverTheEarlier)
{
    const Network net = test_network();
    const MonitorSelection sel = select_monitored(parse(R"(
SUBSYSTEM 'HV'
  KVRANGE 300 400
END
SUBSYSTEM 'ONE'
  BUS 1
END
MONITOR VOLTAGE RANGE SUBSYSTEM 'HV' 0.95 1.05
MONITOR VOLTAGE RANGE SUBSYSTEM 'one' 0.97 1.03
MONITOR VOLTAGE DEVIATION SUBSYSTEM 'ONE' 0.05 0.04
END
)"),
                                                  net);
    ASSERT_EQ(sel.voltage.size(), net.buses.size());
    const BusVoltageCriteria &b1 = sel.voltage[net.index.at(1)];
    EXPECT_TRUE(b1.range);
    EXPECT_EQ(b1.vmin, 0.97);
    EXPECT_EQ(b1.vmax, 1.03);
    EXPECT_TRUE(b1.deviation);
    EXPECT_EQ(b1.drop, 0.05);
    EXPECT_EQ(b1.rise, 0.04);
    const BusVoltageCriteria &b5 = sel.voltage[net.index.at(5)];
    EXPECT_TRUE(b5.range);
    EXPECT_EQ(b5.vmin, 0.95);
    EXPECT_FALSE(b5.deviation);
    EXPECT_FALSE(sel.voltage[net.index.at(4)].range);
    for (std::size_t b = static_cast<std::size_t>(net.raw_buses); b < net.buses.size(); ++b) {
        EXPECT_FALSE(sel.voltage[b].range) << "star point " << b;
    }
}
