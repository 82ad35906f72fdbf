// The RAW reader: the shared real cases, the corners of the format, and every
// way a file is refused, each with its exact message.
#include "helpers.h"
#include "io/input_error.h"
#include "network/build.h"
#include "network/network.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "test_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>

namespace {

const std::string cases_dir = std::string(paths::shared_data) + "/cases";

bool have_cases()
{
    struct stat st {};
    return stat(cases_dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string missing_cases()
{
    return "*** SHARED DATA NOT FOUND: " + cases_dir +
           " does not exist; point the CMake cache variable CTGBATCH_SHARED_DIR at the shared data ***";
}

RawCase parse(const std::string &text)
{
    std::istringstream in(text);
    return parse_raw(in, "t.raw");
}

// "FILE:LINE: message" for text that the reader or the network builder
// refuses, "" for text that makes a network.
std::string error_of(const std::string &text)
{
    return input_error_of([&] { build_network(parse(text)); });
}

std::string read_error_of(const std::string &path)
{
    return input_error_of([&] { read_raw(path); });
}

TEST(RawRealCases, ReadWithTheCountsOfTheCaseTable)
{
    if (!have_cases()) {
        GTEST_SKIP() << missing_cases();
    }
    struct Expected {
        const char *name;
        std::size_t buses, lines, transformers, units, units_in_service, tables;
    };
    const Expected cases[] = {
        {"ieee14", 14, 17, 3, 5, 5, 0},
        {"ieee30", 30, 37, 4, 6, 6, 0},
        {"ieee57", 57, 65, 15, 7, 7, 0},
        {"ieee118", 118, 177, 9, 54, 54, 0},
        {"activsg200", 200, 179, 66, 49, 38, 0},
        {"activsg500", 500, 466, 131, 90, 56, 0},
        {"activsg2000", 2000, 2345, 861, 544, 432, 0},
        {"go_network01", 500, 468, 131, 90, 51, 0},
        {"go_617", 617, 723, 130, 94, 43, 53},
        {"go_ieee14_s1", 15, 18, 4, 6, 6, 1},
        {"go_ieee14_s5", 15, 19, 5, 7, 6, 1},
    };
    for (const Expected &x : cases) {
        SCOPED_TRACE(x.name);
        const std::string path = cases_dir + "/" + x.name + "/case.raw";
        RawCase c;
        ASSERT_NO_THROW(c = read_raw(path)) << read_error_of(path);
        EXPECT_EQ(c.file, path);
        EXPECT_EQ(c.buses.size(), x.buses);
        EXPECT_EQ(c.branches.size(), x.lines);
        EXPECT_EQ(c.transformers.size(), x.transformers);
        EXPECT_EQ(c.units.size(), x.units);
        EXPECT_EQ(std::count_if(c.units.begin(), c.units.end(), [](const Unit &u) { return u.status == 1; }),
                  static_cast<std::ptrdiff_t>(x.units_in_service));
        EXPECT_EQ(c.impedance_tables.size(), x.tables);
    }
}

TEST(RawRealCases, FeaturesNamedInTheCaseNotes)
{
    if (!have_cases()) {
        GTEST_SKIP() << missing_cases();
    }
    const RawCase ieee30 = read_raw(cases_dir + "/ieee30/case.raw");
    EXPECT_EQ(ieee30.buses[0].ide, 3);
    EXPECT_NEAR(ieee30.buses[0].va_deg, 98.4316, 1e-9);

    // Two phase shifters (COD -3) use impedance correction tables.
    const RawCase go617 = read_raw(cases_dir + "/go_617/case.raw");
    EXPECT_EQ(std::count_if(go617.transformers.begin(), go617.transformers.end(),
                            [](const Transformer &t) { return t.windings[0].cod == -3 && t.windings[0].tab != 0; }),
              2);

    // 153 switched shunts, 3 of them out of service.
    const RawCase sg2000 = read_raw(cases_dir + "/activsg2000/case.raw");
    ASSERT_EQ(sg2000.switched_shunts.size(), 153U);
    EXPECT_EQ(std::count_if(sg2000.switched_shunts.begin(), sg2000.switched_shunts.end(),
                            [](const SwitchedShunt &s) { return s.status == 0; }),
              3);
}

TEST(RawRealCases, Ieee300HasItsTwoTerminalDcLine)
{
    if (!have_cases()) {
        GTEST_SKIP() << missing_cases();
    }
    const RawCase c = read_raw(cases_dir + "/ieee300/case.raw");
    ASSERT_EQ(c.two_terminal_dc.size(), 1U);
    const TwoTerminalDc &d = c.two_terminal_dc[0];
    EXPECT_EQ(d.name, "1");
    EXPECT_EQ(d.line, 1335);
    EXPECT_EQ(d.mdc, 1);
    EXPECT_EQ(d.setvl, -100.0);
    EXPECT_EQ(d.vschd, 460.0);
    EXPECT_EQ(d.rectifier.bus, 119);
    EXPECT_EQ(d.inverter.bus, 120);
    EXPECT_EQ(d.inverter.anmn_deg, 20.0);
    EXPECT_EQ(d.inverter.tap, 0.935);
    EXPECT_EQ(d.inverter.stp, 0.00625);
}

TEST(RawFormat, ReadsTheCornersOfTheFormat)
{
    const std::string text = "0, 100.0, 33, 0, 0, 60.0 / heading comment, with commas\n"
                             "'Heading, with / slash'\n"
                             "Q 0 heading lines are not records\n"
                             "1 'BUS, ONE /A' 138.0 3 1 1 1 1.02 -1.5\n"         // 4: blanks separate
                             "2,'Two',,,1,1,1,,,1.2,0.8\r\n"                     // 5: empty fields, CR LF
                             "   3,\"THREE\",  230.0 , 2\n"                      // 6
                             "4,'Four',138.0,1 / comment 'with quotes'\n"        // 7
                             "  / a comment line between records\n"              // 8
                             "\n"                                                // 9
                             "0 / END OF BUS DATA, BEGIN LOAD DATA\n"            // 10
                             "2,' A ',1,1,1,10.5,-2.0,,,,3.0\n"                  // 11
                             "0\n"                                               // 12
                             "3,'S1',0,1.5,-20\n"                                // 13
                             "0 / END OF FIXED SHUNT DATA\n"                     // 14
                             "3,'G 1',50.0,,200,-100 ,1.02,0,,,,,,,0,,80,10\n"   // 15
                             "0\n"                                               // 16
                             "1,-2,'1',0.01,0.1,0.02,,,,,,,,0\n"                 // 17
                             "0\n"                                               // 18
                             "1, -4, 0,'T1',1,1,1,0.001,-0.002,2,'XF ONE',1\r\n" // 19
                             "0.002, 0.05, 50.0\r\n"
                             "1.05,138.0,10.0,100,110,120,3,0,1.1,0.9,1.1,0.9,33,7\r\n"
                             "0.0, 0.0\r\n"
                             "1,3,2,'3W',2\n" // 23
                             "0.01,0.1,,0.02,0.2,,0.03,0.3,,1.01,5.0\n"
                             "\n"
                             ",,-30.0\n"
                             "0\n"
                             "0 / END OF TRANSFORMER DATA\n"
                             "1 2 100.0 5.0 'AREA'\n"
                             "0\n0\n0\n"
                             "7, -30.0, 1.1, 0.0, 1.0, 30.0, 1.1, 0, 0\n" // 33
                             "0\n0\n0\n0\n0\n0\n0\n"
                             "4,1,0,0,1.05,0.95,0,100.0,'',25.0,1,25.0\n" // 41
                             "0\n"
                             "Q\n"
                             "junk after the end,, 'with an open quote\n";
    const RawCase c = parse(text);
    EXPECT_EQ(c.file, "t.raw");
    ASSERT_EQ(c.buses.size(), 4U);
    EXPECT_EQ(c.buses[0].name, "BUS, ONE /A");
    EXPECT_EQ(c.buses[0].ide, 3);
    EXPECT_DOUBLE_EQ(c.buses[0].va_deg, -1.5);
    EXPECT_DOUBLE_EQ(c.buses[0].nvhi, 1.1);
    EXPECT_EQ(c.buses[1].line, 5);
    EXPECT_EQ(c.buses[1].ide, 1);
    EXPECT_DOUBLE_EQ(c.buses[1].vm, 1.0);
    EXPECT_DOUBLE_EQ(c.buses[1].evlo, 0.9);
    EXPECT_DOUBLE_EQ(c.buses[1].nvlo, 0.8);
    EXPECT_EQ(c.buses[2].name, "THREE");
    EXPECT_DOUBLE_EQ(c.buses[2].base_kv, 230.0);
    EXPECT_EQ(c.buses[3].line, 7);

    ASSERT_EQ(c.loads.size(), 1U);
    EXPECT_EQ(c.loads[0].id, "A");
    EXPECT_DOUBLE_EQ(c.loads[0].ql, -2.0);
    EXPECT_DOUBLE_EQ(c.loads[0].ip, 0.0);
    EXPECT_DOUBLE_EQ(c.loads[0].yq, 3.0);
    ASSERT_EQ(c.fixed_shunts.size(), 1U);
    EXPECT_EQ(c.fixed_shunts[0].status, 0);
    EXPECT_DOUBLE_EQ(c.fixed_shunts[0].bl, -20.0);

    ASSERT_EQ(c.units.size(), 1U);
    const Unit &u = c.units[0];
    EXPECT_EQ(u.id, "G 1");
    EXPECT_DOUBLE_EQ(u.qb, -100.0);
    EXPECT_DOUBLE_EQ(u.vs, 1.02);
    EXPECT_DOUBLE_EQ(u.mbase, 100.0); // empty: SBASE
    EXPECT_EQ(u.status, 0);
    EXPECT_DOUBLE_EQ(u.pt, 80.0);
    EXPECT_DOUBLE_EQ(u.pb, 10.0);

    ASSERT_EQ(c.branches.size(), 1U);
    EXPECT_EQ(c.branches[0].to, 2); // -2: metered at the far end
    EXPECT_DOUBLE_EQ(c.branches[0].b, 0.02);
    EXPECT_EQ(c.branches[0].status, 0);

    ASSERT_EQ(c.transformers.size(), 2U);
    const Transformer &t2 = c.transformers[0];
    EXPECT_EQ(t2.line, 19);
    EXPECT_EQ(t2.j, 4);
    EXPECT_EQ(t2.ckt, "T1");
    EXPECT_EQ(t2.name, "XF ONE");
    EXPECT_DOUBLE_EQ(t2.mag2, -0.002);
    EXPECT_DOUBLE_EQ(t2.sbase12, 50.0);
    EXPECT_DOUBLE_EQ(t2.windings[0].ang_deg, 10.0);
    EXPECT_DOUBLE_EQ(t2.windings[0].rate[2], 120.0);
    EXPECT_EQ(t2.windings[0].cod, 3);
    EXPECT_EQ(t2.windings[0].tab, 7);
    EXPECT_DOUBLE_EQ(t2.windings[1].windv, 1.0); // WINDV2 0: its default, with a note

    const Transformer &t3 = c.transformers[1];
    EXPECT_EQ(t3.line, 23);
    EXPECT_EQ(t3.k, 2);
    EXPECT_EQ(t3.cw, 2);
    EXPECT_DOUBLE_EQ(t3.sbase23, 100.0);
    EXPECT_DOUBLE_EQ(t3.x31, 0.3);
    EXPECT_DOUBLE_EQ(t3.anstar_deg, 5.0);
    EXPECT_DOUBLE_EQ(t3.windings[0].windv, 138.0); // CW = 2: bus 1's BASKV
    EXPECT_DOUBLE_EQ(t3.windings[1].windv, 230.0); // bus 3's BASKV
    EXPECT_DOUBLE_EQ(t3.windings[1].ang_deg, -30.0);
    EXPECT_DOUBLE_EQ(t3.windings[2].windv, c.buses[1].base_kv); // WINDV3 0, CW = 2: bus 2's BASKV
    EXPECT_EQ(std::count_if(c.notes.begin(), c.notes.end(),
                            [](const std::string &n) { return n.find(" = 0 is read as ") != std::string::npos; }),
              2);

    ASSERT_EQ(c.impedance_tables.size(), 1U);
    EXPECT_EQ(c.impedance_tables[0].number, 7);
    EXPECT_EQ(c.impedance_tables[0].line, 33);
    const std::vector<std::pair<double, double>> points{{-30.0, 1.1}, {0.0, 1.0}, {30.0, 1.1}};
    EXPECT_EQ(c.impedance_tables[0].points, points);

    ASSERT_EQ(c.switched_shunts.size(), 1U);
    EXPECT_EQ(c.switched_shunts[0].line, 41);
    EXPECT_EQ(c.switched_shunts[0].status, 0);
    EXPECT_DOUBLE_EQ(c.switched_shunts[0].binit, 25.0);
}

// A small case that reads and makes a network; each failure below changes
// one thing in it.
const std::string base = "0, 100.0, 33 / base case\n"
                         "heading\n"
                         "\n"
                         "1,'A',138.0,3\n"
                         "2,'B',138.0,1\n"
                         "3,'C',13.8,2\n"
                         "0 / END OF BUS DATA\n"
                         "2,'1',1,1,1,50.0,10.0\n"
                         "0 / END OF LOAD DATA\n"
                         "0 / END OF FIXED SHUNT DATA\n"
                         "1,'1',40.0,0.0,50.0,-50.0,1.0\n"
                         "0 / END OF GENERATOR DATA\n"
                         "1,2,'1',0.01,0.1,0.02\n"
                         "0 / END OF BRANCH DATA\n"
                         "2,3,0,'1',1,1,1,0,0,2,'T',1\n"
                         "0.0,0.05,100.0\n"
                         "1.0,138.0,0.0,0,0,0,0,0,1.1,0.9,1.1,0.9,33,0\n"
                         "1.0,13.8\n"
                         "0 / END OF TRANSFORMER DATA\n"
                         "0 / END OF AREA DATA\n"
                         "0 / END OF TWO-TERMINAL DC DATA\n"
                         "0 / END OF VSC DC DATA\n"
                         "0 / END OF IMPEDANCE CORRECTION DATA\n"
                         "0\n0\n0\n0\n0\n0\n0\n0\n0\n"
                         "Q\n";

std::string edited(std::string text, const std::string &from, const std::string &to)
{
    const std::size_t at = text.find(from);
    return at == std::string::npos ? "pattern not in the text: " + from : text.replace(at, from.size(), to);
}

std::string replaced(const std::string &from, const std::string &to) { return edited(base, from, to); }

std::string first_lines(int n)
{
    std::size_t end = 0;
    for (int i = 0; i < n; ++i) {
        end = base.find('\n', end) + 1;
    }
    return base.substr(0, end);
}

TEST(RawErrors, EachProblemHasItsMessageAndLine)
{
    struct Case {
        const char *name;
        std::string text;
        std::string expected; // "" when the text reads
    };
    const Case cases[] = {
        {"the base case reads", base, ""},
        {"the end of the file after a closing 0", first_lines(19), ""},
        {"Q inside a section ends the data", replaced("2,3,0,'1'", "Q\n2,3,0,'1'"), ""},
        {"empty file", "", "t.raw: the file is empty"},
        {"only blank lines", "  \r\n\n\t\n", "t.raw: the file is empty"},
        {"version 37", replaced("0, 100.0, 33", "0, 100.0, 37"),
         "t.raw:1: RAW version 37 is not supported; revisions 23 to 36 are"},
        {"version 22", replaced("0, 100.0, 33", "0, 100.0, 22"),
         "t.raw:1: RAW version 22 is not supported; revisions 23 to 36 are"},
        {"a change case", replaced("0, 100.0, 33", "1, 100.0, 33"),
         "t.raw:1: IC = 1 (a change case) is not supported; a base case (IC = 0) is"},
        {"SBASE zero", replaced("0, 100.0, 33", "0, 0.0, 33"), "t.raw:1: SBASE must be positive: '0.0'"},
        {"end of file inside the bus data", first_lines(5),
         "t.raw:6: the file ends inside the bus data, before its closing 0 record"},
        {"end of file inside the load data", first_lines(8),
         "t.raw:9: the file ends inside the load data, before its closing 0 record"},
        {"end of file inside a transformer record", first_lines(17),
         "t.raw:15: the file ends inside a transformer record: line 4 of 4 is missing"},
        {"end of file inside a 3-winding record", edited(first_lines(18), "2,3,0,'1'", "2,3,1,'1'"),
         "t.raw:15: the file ends inside a transformer record: line 5 of 5 is missing"},
        {"a letter in a number", replaced("50.0,10.0", "5O.0,10.0"),
         "t.raw:8: field 6 (PL) of the load record is not a number: '5O.0'"},
        {"trailing letters", replaced("0.1,0.02", "4x.5,0.02"),
         "t.raw:13: field 5 (X) of the branch record is not a number: '4x.5'"},
        {"nan", replaced("0.1,0.02", "nan,0.02"), "t.raw:13: field 5 (X) of the branch record is not a number: 'nan'"},
        {"inf", replaced("40.0,0.0", "inf,0.0"),
         "t.raw:11: field 3 (PG) of the generator record is not a number: 'inf'"},
        {"overflow", replaced("40.0,0.0", "1e999,0.0"),
         "t.raw:11: field 3 (PG) of the generator record is not a number: '1e999'"},
        {"negative overflow", replaced("0, 100.0, 33", "0, -1e999, 33"),
         "t.raw:1: field 2 (SBASE) of the case identification record is not a number: '-1e999'"},
        {"NaN in a winding line", replaced("1.0,138.0,0.0", "NaN,138.0,0.0"),
         "t.raw:17: field 1 (WINDV1) of the transformer record is not a number: 'NaN'"},
        {"infinity in a bus voltage", replaced("2,'B',138.0,1", "2,'B',138.0,1,1,1,1,-Infinity"),
         "t.raw:5: field 8 (VM) of the bus record is not a number: '-Infinity'"},
        {"a negative branch rating", replaced("0.1,0.02\n", "0.1,0.02,100.0,-120.0\n"),
         "t.raw:13: field 8 (RATEB) of the branch record is negative: '-120.0'"},
        {"a negative winding rating", replaced("1.0,138.0,0.0,0,0,0", "1.0,138.0,0.0,0,0,-5"),
         "t.raw:17: field 6 (RATC1) of the transformer record is negative: '-5'"},
        {"a rating of 0 is no limit", replaced("0.1,0.02\n", "0.1,0.02,0,0.0,-0\n"), ""},
        {"NVHI below NVLO", replaced("2,'B',138.0,1", "2,'B',138.0,1,1,1,1,1.0,0.0,0.95,1.0"),
         "t.raw:5: bus 2: NVHI = '0.95' is below NVLO = '1.0'"},
        {"EVHI below the default EVLO", replaced("2,'B',138.0,1", "2,'B',138.0,1,1,1,1,1.0,0.0,,,0.85"),
         "t.raw:5: bus 2: EVHI = '0.85' is below EVLO = '0.9'"},
        {"equal voltage limits", replaced("2,'B',138.0,1", "2,'B',138.0,1,1,1,1,1.0,0.0,1.0,1.0,1,1"), ""},
        {"an integer field with a fraction", replaced("1,'A',138.0,3", "1,'A',138.0,3.5"),
         "t.raw:4: field 4 (IDE) of the bus record is not an integer: '3.5'"},
        {"an integer too large for int", replaced("'T',1\n", "'T',3000000000\n"),
         "t.raw:15: field 12 (STAT) of the transformer record is not an integer: '3000000000'"},
        {"a letter in a transformer's third line", replaced("1.0,138.0,0.0", "1.0,138.0,x"),
         "t.raw:17: field 3 (ANG1) of the transformer record is not a number: 'x'"},
        {"an open quote", replaced("'B',138.0", "'B,138.0"),
         "t.raw:5: the quote that opens field 2 of the bus record is not closed"},
        {"IDE 5", replaced("1,'A',138.0,3", "1,'A',138.0,5"), "t.raw:4: bus 1: IDE 5 is not one of 1, 2, 3, 4"},
        {"bus number too large", replaced("2,'B'", "1000000,'B'"),
         "t.raw:5: field 1 (I) of the bus record is not a bus number: '1000000'"},
        {"two buses with one number", replaced("3,'C',13.8,2", "1,'C',13.8,2"),
         "t.raw:6: bus 1 is defined twice (first at line 4)"},
        {"branch to an unknown bus", replaced("1,2,'1',0.01", "1,9,'1',0.01"),
         "t.raw:13: branch names bus 9, which is not in the bus data"},
        {"transformer to an unknown bus", replaced("2,3,0,'1'", "2,8,0,'1'"),
         "t.raw:15: transformer names bus 8, which is not in the bus data"},
        {"no slack bus: a unit's bus becomes the swing", replaced("1,'A',138.0,3", "1,'A',138.0,2"), ""},
        {"a branch of zero impedance is a tie", replaced("1,2,'1',0.01,0.1", "1,2,'1',0.0,-0.0"), ""},
        {"a transformer with zero impedance", replaced("0.0,0.05,100.0", "0.0,0.0,100.0"),
         "t.raw:15: transformer 2-3-1 has zero impedance (R = X = 0)"},
        {"a negative winding ratio", replaced("1.0,13.8\n", "-1.0,13.8\n"),
         "t.raw:15: transformer 2-3-1 has a winding ratio that is not positive"},
        {"no unit in service: the slack is an ideal source",
         replaced("1,'1',40.0,0.0,50.0,-50.0,1.0", "1,'1',40.0,0.0,50.0,-50.0,1.0,,,,,,,,0"), ""},
        {"the only unit at an isolated bus",
         edited(replaced("3,'C',13.8,2", "3,'C',13.8,4"), "1,'1',40.0", "3,'1',40.0"), ""},
        {"a slack bus without a unit", replaced("1,'1',40.0", "2,'1',40.0"), ""},
        {"two slack buses", replaced("3,'C',13.8,2", "3,'C',13.8,3"), ""},
        {"unknown impedance table: ignored, with a note (test_raw_edges.cpp)", replaced("0.9,33,0\n", "0.9,33,4\n"),
         ""},
        {"impedance table T not increasing",
         replaced("0 / END OF IMPEDANCE CORRECTION DATA", "1, 0.9, 1.1, 1.1, 1.0, 1.1, 1.2\n0"),
         "t.raw:23: impedance correction table 1: T3 = '1.1' does not exceed T2 = '1.1'; the T values must increase"},
        {"a FACTS device in an IPFC mode",
         replaced("0 / END OF IMPEDANCE CORRECTION DATA\n0\n0\n0\n0\n0\n",
                  "0 / END OF IMPEDANCE CORRECTION DATA\n0\n0\n0\n0\n0\n'F1',1\n'F2',2,1,5\n"),
         "t.raw:30: FACTS device 'F2': IPFC mode 5 (master, P and Q set-points) is not modelled; an IPFC is a "
         "multi-terminal device"},
        {"a multi-terminal DC record spans its converter, bus and link lines",
         replaced("0 / END OF IMPEDANCE CORRECTION DATA\n0\n",
                  "0 / END OF IMPEDANCE CORRECTION DATA\n'M1',2,2,1,0,3\n1,1\n3,1\n1,1\n2,3\n1,2,'1',1,-5.0\n0\n"),
         ""},
        {"a multi-terminal DC record of one converter",
         replaced("0 / END OF IMPEDANCE CORRECTION DATA\n0\n",
                  "0 / END OF IMPEDANCE CORRECTION DATA\n'M1',1,1,0\n0 converter\n0 bus\n0\n"),
         "t.raw:24: field 2 (NCONV) of the multi-terminal DC record is below 2: a multi-terminal DC line has two "
         "converters or more: '1'"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(error_of(c.text), c.expected) << c.name;
    }
}

TEST(RawErrors, FilesThatCanNotBeRead)
{
    EXPECT_EQ(read_error_of("/nonexistent/case.raw"), "/nonexistent/case.raw: can not open the file");
    const std::string dir = ::testing::TempDir();
    EXPECT_EQ(read_error_of(dir), dir + ": can not read the file: it is a directory");
}

} // namespace

namespace {

// A revision 35 file with what the later revisions bring: @! headings,
// system-wide data, 12 ratings, a switching device, a complex impedance
// table over two lines, a switched shunt with its ID and substation data.
const std::string rev35 = "@!IC,SBASE,REV,XFRRAT,NXFRAT,BASFRQ\n"
                          "0, 100.0, 35, 0, 0, 60.0\n"
                          "heading\n"
                          "\n"
                          "GENERAL, THRSHZ=0.0001, PQBRAK=0.7\n"
                          "NEWTON, ITMXN=20, TOLN=0.1\n"
                          "RATING, 7, \"WINTER\", \"winter emergency\"\n"
                          "0 / END OF SYSTEM-WIDE DATA, BEGIN BUS DATA\n"
                          "@!   I,'NAME', BASKV, IDE\n"
                          "1,\"A, one\",138.0,3\n"
                          "2,'B',138.0,1\n"
                          "3,'C',13.8,1\n"
                          "0 / END OF BUS DATA\n"
                          "2,'1',1,1,1,50.0,10.0,0,0,0,0,1,1,0,0,0,0,'  '\n"
                          "2,'DG',1,1,1,50.0,10.0,0,0,0,0,1,1,0,20.0,5.0,1,'  '\n"
                          "0 / END OF LOAD DATA\n"
                          "0 / END OF FIXED SHUNT DATA\n"
                          "1,'1',40.0,0.0,50.0,-50.0,1.0,0,0,100.0\n"
                          "0 / END OF GENERATOR DATA\n"
                          "1,2,'1',0.01,0.1,0.02,'L1',101,102,103,104,105,106,107,108,109,110,111,112\n"
                          "0 / END OF BRANCH DATA\n"
                          "2,3,'S',0.0001,1,2,3,4,5,6,7,8,9,10,11,12,1,1,1,2,'BRK'\n"
                          "1,3,'T',0.0001,0,0,0,0,0,0,0,0,0,0,0,0,0,1\n"
                          "0 / END OF SYSTEM SWITCHING DEVICE DATA\n"
                          "0 / END OF TRANSFORMER DATA\n"
                          "0 / END OF AREA DATA\n"
                          "0 / END OF TWO-TERMINAL DC DATA\n"
                          "0 / END OF VSC DC LINE DATA\n"
                          "4, 0.9, 1.1, 0.1, 1.0, 1.0, 0.0\n"
                          "   1.1, 0.9, -0.1, 0, 0, 0\n"
                          "0 / END OF IMPEDANCE CORRECTION DATA\n"
                          "0\n0\n0\n0\n0\n0\n"
                          "3,'SH',1,0,1,1.05,0.95,0,0,100,'',25.0,1,1,25.0\n"
                          "0 / END OF SWITCHED SHUNT DATA\n"
                          "0 / END OF GNE DEVICE DATA\n"
                          "0 / END OF INDUCTION MACHINE DATA\n"
                          "1,'SUB 1',0,0\n"
                          "1,'N1',1\n0 / END OF NODE DATA\n"
                          "1,2,'1','SW',1,1,0,0.0001\n0 / END OF SWITCHING DEVICE DATA\n"
                          "1,1,'B','1'\n0 / END OF TERMINAL DATA\n"
                          "0 / END OF SUBSTATION DATA\n"
                          "Q\n";

} // namespace

TEST(RawRevisions, ReadsWhatTheLaterRevisionsBring)
{
    const RawCase c = parse(rev35);
    EXPECT_EQ(c.rev, 35);
    EXPECT_EQ(c.rating_sets, 12);
    EXPECT_EQ(c.rating_names[6], "WINTER");
    const std::vector<std::pair<std::string, std::string>> params = {
        {"GENERAL.THRSHZ", "0.0001"}, {"GENERAL.PQBRAK", "0.7"}, {"NEWTON.ITMXN", "20"}, {"NEWTON.TOLN", "0.1"}};
    EXPECT_EQ(c.solution_parameters, params);
    ASSERT_EQ(c.buses.size(), 3U);
    EXPECT_EQ(c.buses[0].name, "A, one");
    ASSERT_EQ(c.loads.size(), 2U);
    EXPECT_DOUBLE_EQ(c.loads[1].pl, 30.0) << "distributed generation in service nets off the load";
    EXPECT_DOUBLE_EQ(c.loads[1].ql, 5.0);
    ASSERT_EQ(c.branches.size(), 3U);
    EXPECT_DOUBLE_EQ(c.branches[0].rate[0], 101.0);
    EXPECT_DOUBLE_EQ(c.branches[0].rate[11], 112.0);
    EXPECT_DOUBLE_EQ(c.branches[0].gi, 0.0);
    EXPECT_TRUE(c.branches[1].switching_device);
    EXPECT_DOUBLE_EQ(c.branches[1].x, 0.0001);
    EXPECT_DOUBLE_EQ(c.branches[1].rate[6], 7.0);
    EXPECT_EQ(c.branches[1].status, 1);
    EXPECT_EQ(c.branches[2].status, 0) << "an open switching device is out of service";
    ASSERT_EQ(c.impedance_tables.size(), 1U);
    const std::vector<std::pair<double, double>> points = {{0.9, 1.1}, {1.0, 1.0}, {1.1, 0.9}};
    EXPECT_EQ(c.impedance_tables[0].points, points);
    EXPECT_EQ(c.impedance_tables[0].im, (std::vector<double>{0.1, 0.0, -0.1}));
    ASSERT_EQ(c.switched_shunts.size(), 1U);
    EXPECT_EQ(c.switched_shunts[0].id, "SH");
    EXPECT_DOUBLE_EQ(c.switched_shunts[0].binit, 25.0);
    EXPECT_EQ(c.notes, (std::vector<std::string>{"t.raw:42: 1 substation record(s) with node-breaker data read past; "
                                                 "the bus records' model is solved"}));
    EXPECT_EQ(build_network(c).branches.size(), 3U);
}

// Files without REV: the bus records tell the layout, and a note says which.
TEST(RawRevisions, TellsTheRevisionOfAFileWithoutRevFromItsBusRecords)
{
    struct Case {
        const char *bus_record;
        int rev;
    };
    const Case cases[] = {
        {"1, 3, 10.0, 5.0, 0.0, 19.0, 1, 1.02, 0.0, 'A', 138.0, 1", 23},
        {"1, 'A', 138.0, 3, 0.0, 19.0, 1, 1, 1.02, 0.0, 1", 29},
        {"1, 'A', 138.0, 3, 1, 1, 1, 1.02, 0.0, 1.1, 0.9, 1.1, 0.9", 33},
    };
    for (const Case &x : cases) {
        SCOPED_TRACE(x.bus_record);
        std::istringstream in(std::string("0 100.0\nheading\nheading\n") + x.bus_record + "\n0\nQ\n");
        RawCase c;
        try {
            c = parse_raw(in, "t.raw");
        } catch (const InputError &e) {
            FAIL() << where_what(e);
        }
        EXPECT_EQ(c.rev, x.rev);
        EXPECT_EQ(c.notes, (std::vector<std::string>{
                               "t.raw:1: no RAW revision (REV) in the case identification; read as revision " +
                               std::to_string(x.rev) + ", the layout of the bus record at line 4"}));
    }
}

TEST(RawErrors, EachProblemOfTheOtherRevisionsHasItsMessage)
{
    struct Case {
        const char *name;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"a complex impedance table without its 0, 0, 0 point",
         edited(rev35,
                "   1.1, 0.9, -0.1, 0, 0, 0\n0 / END OF IMPEDANCE CORRECTION DATA\n0\n0\n0\n0\n0\n0\n"
                "3,'SH',1,0,1,1.05,0.95,0,0,100,'',25.0,1,1,25.0\n0 / END OF SWITCHED SHUNT DATA\n"
                "0 / END OF GNE DEVICE DATA\n0 / END OF INDUCTION MACHINE DATA\n1,'SUB 1',0,0\n"
                "1,'N1',1\n0 / END OF NODE DATA\n1,2,'1','SW',1,1,0,0.0001\n"
                "0 / END OF SWITCHING DEVICE DATA\n1,1,'B','1'\n0 / END OF TERMINAL DATA\n"
                "0 / END OF SUBSTATION DATA\nQ\n",
                "   1.1, 0.9, -0.1\n"),
         "t.raw:29: the file ends inside impedance correction table 4, before its 0, 0, 0 point"},
        {"a substation cut short", edited(rev35, "0 / END OF TERMINAL DATA\n0 / END OF SUBSTATION DATA\nQ\n", ""),
         "t.raw:47: the file ends inside the data of the substation record at line 42"},
        {"a rating set from the system-wide data beyond 12", edited(rev35, "RATING, 7,", "RATING, 13,"),
         "t.raw:7: field 2 (RATING) of the system-wide record is not a rating set from 1 to 12: '13'"},
        {"a switching device to an unknown bus", edited(rev35, "2,3,'S'", "2,9,'S'"),
         "t.raw:22: system switching device names bus 9, which is not in the bus data"},
        {"a closed switching device of no reactance is a tie", edited(rev35, "2,3,'S',0.0001", "2,3,'S',0"), ""},
        {"a version 23 transformer adjustment of a branch that is not there",
         "0 100.0\nh\nh\n1,3,0,0,0,0,1,1.0,0.0,'A',138.0,1\n2,1,50,10,0,0,1,1.0,0.0,'B',138.0,1\n0\n"
         "1,'1',40,0,50,-50,1.0\n0\n1,2,'1',0.01,0.1,0,0,0,0,1.05,0\n0\n1,3,'1',1,1.1,0.9,1.1,0.9,0.01,0\n0\nQ\n",
         "t.raw:11: transformer adjustment names branch 1-3-1, which is not in the branch data"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(error_of(c.text), c.expected) << c.name;
    }
}

// Records of kinds the solver does not model are read past, with a note,
// when out of service: a blocked DC line (MDC 0), a FACTS device in mode 0
// (one in a mode the solver does not model is refused by name).
TEST(RawRevisions, ReadsPastUnmodelledRecordsOutOfService)
{
    const std::string text = edited(edited(base, "0 / END OF TWO-TERMINAL DC DATA\n",
                                           "'DC1', 0, 5.0, 100.0, 400.0\n2,2,20,10\n3,2,20,10\n"
                                           "0 / END OF TWO-TERMINAL DC DATA\n"),
                                    "0 / END OF IMPEDANCE CORRECTION DATA\n0\n0\n0\n0\n0\n",
                                    "0 / END OF IMPEDANCE CORRECTION DATA\n0\n0\n0\n0\n0\n'F1',2,0,0\n");
    RawCase c;
    ASSERT_NO_THROW(c = parse(text)) << error_of(text);
    EXPECT_EQ(c.notes,
              (std::vector<std::string>{"t.raw:32: 1 FACTS device record(s) out of service (MODE 0) read past"}));
    EXPECT_EQ(error_of(edited(text, "'F1',2,0,0", "'F1',2,3,4")),
              "t.raw:32: FACTS device 'F1': MODE 4 (a constant series voltage) is not modelled");
    // A blocked DC line is read, for what the results and outages say of it.
    ASSERT_EQ(c.two_terminal_dc.size(), 1U);
    EXPECT_EQ(c.two_terminal_dc[0].mdc, 0);
    EXPECT_EQ(c.two_terminal_dc[0].inverter.bus, 3);
    EXPECT_EQ(error_of(text.substr(0, text.find("3,2,20,10"))),
              "t.raw:21: the file ends inside a two-terminal DC line record: line 3 of 3 is missing");
}
