// vandrelsolve end to end: the real executable in a fresh folder per test,
// with the command line the driver passes. A failed test leaves its folder
// behind and says where.

#include "helpers.h"
#include "results/columns.h"
#include "test_data.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A three-bus network that solves; the failure cases change one piece of it.
const char *const three_bus = R"(0, 100.00, 33, 0, 0, 60.00 / three buses
THREE-BUS TEST CASE
HAND WRITTEN
1,'ONE', 138.0, 3, 1, 1, 1, 1.02, 0.0
2,'TWO', 138.0, 2, 1, 1, 1, 1.01, -2.0
3,'THREE', 138.0, 1, 1, 1, 1, 1.0, -4.0
0 / END OF BUS DATA, BEGIN LOAD DATA
3,'1',1,1,1, 90.0, 30.0, 0,0,0,0, 1,1
0 / END OF LOAD DATA, BEGIN FIXED SHUNT DATA
0 / END OF FIXED SHUNT DATA, BEGIN GENERATOR DATA
1,'1', 50.0, 0.0, 100.0, -100.0, 1.02, 0, 100.0, 0,1,0,0,1,1,100, 200, 0
2,'1', 40.0, 0.0, 100.0, -100.0, 1.01, 0, 100.0, 0,1,0,0,1,1,100, 200, 0
0 / END OF GENERATOR DATA, BEGIN BRANCH DATA
1, 2,'1', 0.01, 0.1, 0.02, 100, 100, 100
2, 3,'1', 0.01, 0.1, 0.02, 100, 100, 100
1, 3,'1', 0.01, 0.1, 0.02, 100, 100, 100
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

class Solver : public ::testing::Test {
protected:
    SolverLayout dir{"vandrelsolve_test"};
    const fs::path root = dir.root;

    void SetUp() override
    {
        write_file(root / "work_dir/case_subctg0.con", "END\n");
        write_file(root / "work_dir/case.json", R"({"name": "three buses"})");
        write_file(root / "work_dir/case.raw", three_bus);
    }

    // Runs the solver from start/ with `args` (default: the driver's own
    // command line with run type 1); returns the exit status.
    int run(const std::string &args = "") const
    {
        return dir.run_in_start(paths::vandrelsolve, args.empty() ? driver_command_line(1) : args);
    }

    std::string err() const { return dir.err(); }
    std::string out() const { return dir.out(); }

    // Files in work_dir other than the inputs.
    std::vector<std::string> outputs() const
    {
        std::vector<std::string> found;
        for (const auto &e : fs::directory_iterator(root / "work_dir")) {
            const std::string name = e.path().filename().string();
            if (name.rfind("case", 0) != 0) {
                found.push_back(name);
            }
        }
        return found;
    }
};

} // namespace

TEST_F(Solver, SolvesTheBaseCaseAndWritesItsFiles)
{
    ASSERT_EQ(run(), 0) << err();
    EXPECT_EQ(err(), "");
    EXPECT_EQ(out().rfind("vandrelsolve: three buses: base case converged in ", 0), 0U) << out();
    EXPECT_NE(out().find("; 3 buses, 3 branches, 2 units, 0 held at a reactive limit, 0 violations\n"),
              std::string::npos)
        << out();
    const std::string buses = read_file(root / "work_dir/base_buses.csv");
    EXPECT_EQ(buses.substr(0, buses.find('\n')), "bus,name,base_kv,vm_pu,va_deg,pg_mw,qg_mvar,pd_mw,qd_mvar");
    EXPECT_NE(buses.find("\n3,THREE,138,"), std::string::npos) << buses;
    EXPECT_NE(buses.find(",90,30\n"), std::string::npos) << "the load at bus 3 is 90 MW, 30 Mvar\n" << buses;
    const std::string branches = read_file(root / "work_dir/base_branches.csv");
    EXPECT_EQ(std::count(branches.begin(), branches.end(), '\n'), 4) << branches;
    std::vector<std::string> files = outputs();
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"base_branches.csv", "base_buses.csv", "base_units.csv",
                                               "base_violations.csv"}));
    EXPECT_EQ(read_file(root / "work_dir/base_units.csv"), header_line(base_units_columns) +
                                                               "1,1,1,50.4639732953,29.1024154412,100,-100,200,0\n"
                                                               "2,1,1,40,-0.56556562994,100,-100,200,0\n");
}

TEST_F(Solver, RefusesAWrongCommandLine)
{
    const std::string good = "a b c d 1 1 1 1 e f";
    for (const std::string &bad : {std::string(), std::string("a b c d 1 1 1 1 e"), good + " g",
                                   std::string("a b c d 1 1 1 3 e f"), std::string("a b c d 1 2 1 1 e f")}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(run(bad.empty() ? "''" : bad), 2);
        EXPECT_EQ(err().rfind("usage: vandrelsolve SUBFILE.con CASE.json CASE.raw DIR 1 1 1 RUNTYPE", 0), 0U) << err();
    }
}

// Bad input: exit 1, one message naming the file and line, what it echoes of
// the input printable, no output file.
TEST_F(Solver, RefusesBadInputWithItsExactMessage)
{
    const std::string raw = "../work_dir//case.raw";
    const std::string opts = "./options.json";
    const std::string settings = "../work_dir//case.json";
    const std::string pl = raw + ":8: field 6 (PL) of the load record is not a number: ";
    struct Case {
        const char *what;
        std::string file; // which input to replace: raw, opts or settings
        std::string text; // its new text
        std::string message;
    };
    const std::vector<Case> cases = {
        {"truncated record", raw,
         std::string(three_bus).substr(0, std::string(three_bus).find("0 / END OF TRANSFORMER")) +
             "1, 3, 0,'2',1,1,1, 0,0,2,'T',1\n0.0, 0.1, 100\n1.0, 0, 0, 100,100,100\n",
         raw + ":18: the file ends inside a transformer record: line 4 of 4 is missing"},
        {"letter in a number", raw, replaced(three_bus, "90.0, 30.0", "9O.0, 30.0"),
         raw + ":8: field 6 (PL) of the load record is not a number: '9O.0'"},
        {"branch to an unknown bus", raw, replaced(three_bus, "2, 3,'1'", "2, 7,'1'"),
         raw + ":15: branch names bus 7, which is not in the bus data"},
        {"no slack bus and no unit in service", raw,
         replaced(replaced(replaced(three_bus, "138.0, 3,", "138.0, 2,"), "1,1,100, 200", "1,0,100, 200"),
                  "1,1,100, 200", "1,0,100, 200"),
         raw + ": no slack bus: no bus has IDE 3, and no unit is in service to be the swing"},
        {"two buses with one number", raw, replaced(three_bus, "3,'THREE'", "2,'THREE'"),
         raw + ":6: bus 2 is defined twice (first at line 5)"},
        {"wrong REV", raw, replaced(three_bus, "100.00, 33,", "100.00, 37,"),
         raw + ":1: RAW version 37 is not supported; revisions 23 to 36 are"},
        {"empty file", raw, "", raw + ": the file is empty"},
        {"options not JSON", opts, "{\n  \"flat_start\": true,\n}\n", opts + ":3: not valid JSON"},
        {"unknown option", opts, R"({"tolerance": 1e-6})", opts + ": unknown option 'tolerance'"},
        {"option of the wrong type", opts, R"({"max_iterations": "20"})",
         opts + ": option 'max_iterations' must be an integer from 1 to 1000000"},
        {"options not an object", opts, "[1, 2]", opts + ": expected a JSON object"},
        {"detail as one label", opts, R"({"detail": "CTG 1"})",
         opts + ": option 'detail' must be a list of contingency labels"},
        {"detail with a number", opts, R"({"detail": ["CTG 1", 2]})",
         opts + ": option 'detail' must be a list of contingency labels"},
        {"remote regulation as a string", opts, R"({"remote_regulation": "no"})",
         opts + ": option 'remote_regulation' must be true or false"},
        {"a negative zero-impedance threshold", opts, R"({"zero_impedance_threshold_pu": -1e-4})",
         opts + ": option 'zero_impedance_threshold_pu' must be a number of at least 0"},
        {"a realistic range upside down", opts, R"({"min_realistic_vm_pu": 1.2, "max_realistic_vm_pu": 1.1})",
         opts + ": option 'min_realistic_vm_pu' must be below 'max_realistic_vm_pu'"},
        {"a realistic range above the default maximum", opts, R"({"min_realistic_vm_pu": 2.5})",
         opts + ": option 'min_realistic_vm_pu' must be below 'max_realistic_vm_pu'"},
        {"a negative realistic minimum", opts, R"({"min_realistic_vm_pu": -0.5})",
         opts + ": option 'min_realistic_vm_pu' must be a number of at least 0"},
        {"a realistic maximum of 0", opts, R"({"max_realistic_vm_pu": 0})",
         opts + ": option 'max_realistic_vm_pu' must be a number above 0"},
        {"a control mode in capitals", opts, R"({"adjust_taps": "Locked"})",
         opts + ": option 'adjust_taps' must be \"locked\", \"base\" or \"all\""},
        {"a control mode as a flag", opts, R"({"adjust_switched_shunts": true})",
         opts + ": option 'adjust_switched_shunts' must be \"locked\", \"base\" or \"all\""},
        {"a control mode no one has", opts, R"({"adjust_phase_shifters": "contingencies"})",
         opts + ": option 'adjust_phase_shifters' must be \"locked\", \"base\" or \"all\""},
        {"a rating set beyond RATEC in a revision 33 file", opts, R"({"base_rating": "7"})",
         opts + ": option 'base_rating' names rating set 7, but " + raw +
             " (RAW revision 33) has rating sets 1 to 3 (RATEA to RATEC)"},
        {"a rating set that no revision has", opts, R"({"contingency_rating": "13"})",
         opts + ": option 'contingency_rating' must be \"A\", \"B\", \"C\" or \"1\" to \"12\""},
        {"a RAW revision no reader has", settings, R"({"raw_version": 22})",
         settings + ": 'raw_version' must be a RAW revision from 23 to 36"},
        {"a RAW revision that is not a number", settings, R"({"raw_version": "33"})",
         settings + ": 'raw_version' must be a RAW revision from 23 to 36"},
        {"a forced revision that does not fit the file", settings, R"({"raw_version": 23})",
         raw + ":4: field 2 (IDE) of the bus record is not a number: 'ONE'"},
        {"a number beyond a double", opts, R"({"tolerance_pu": 1e999})",
         opts + ": not valid JSON: a number is too large"},
        {"an ESC sequence", raw, replaced(three_bus, "90.0,", "9\x1b[2J0.0,"), pl + "'9\\x1b[2J0.0'"},
        {"a control byte", raw,
         replaced(three_bus, "90.0,",
                  "9\x01"
                  "0.0,"),
         pl + "'9\\x010.0'"},
        {"a byte that is not UTF-8", raw,
         replaced(three_bus, "90.0,",
                  "9\xff"
                  "0.0,"),
         pl + "'9\\xff0.0'"},
        {"a UTF-8 sequence cut short", raw, replaced(three_bus, "90.0,", "90.0\xe2\x82,"), pl + "'90.0\\xe2\\x82'"},
        {"valid UTF-8", raw, replaced(three_bus, "90.0,", "9é€0.0,"), pl + "'9é€0.0'"},
        {"an ESC from a JSON escape", opts, R"({"\u001b[31mtolerance": 1})",
         opts + ": unknown option '\\x1b[31mtolerance'"},
        {"a C1 control from a JSON escape", opts, R"({"\u009b2J": 1})", opts + ": unknown option '\\xc2\\x9b2J'"},
        {"valid UTF-8 in JSON", opts, R"({"tolérance": 1})", opts + ": unknown option 'tolérance'"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        dir.clear();
        SetUp();
        write_file(root / "start" / c.file, c.text);
        EXPECT_EQ(run(), 1);
        EXPECT_EQ(err(), "vandrelsolve: " + c.message + "\n");
        EXPECT_TRUE(outputs().empty());
    }
}

// What the console echoes of the input is printable: control bytes and bytes
// that are not UTF-8 as \xNN, valid UTF-8 as it is (the messages' cases are
// in the table above).
TEST_F(Solver, EchoesTheInputInMessagesOnlyAsPrintableText)
{
    write_file(root / "work_dir/case.json", R"({"name": "three\u001b]0;x\u0007 buses"})");
    ASSERT_EQ(run(), 0) << err();
    EXPECT_EQ(out().rfind("vandrelsolve: three\\x1b]0;x\\x07 buses: base case converged in ", 0), 0U) << out();
}

// A file without REV is read as the layout of its bus records, with one
// warning saying so; the case settings can name the revision instead, and
// the twelve ratings of a later revision can be chosen.
TEST_F(Solver, ReadsEveryRevisionAndSaysWhatItAssumed)
{
    const std::string revisions = std::string(paths::solver_test_data) + "/revisions/";
    fs::copy_file(revisions + "six_bus_v23.raw", root / "work_dir/case.raw", fs::copy_options::overwrite_existing);
    ASSERT_EQ(run(), 0) << err();
    EXPECT_EQ(err(), "vandrelsolve: warning: ../work_dir//case.raw:1: no RAW revision (REV) in the case "
                     "identification; read as revision 23, the layout of the bus record at line 4\n");
    write_file(root / "work_dir/case.json", R"({"raw_version": 23})");
    ASSERT_EQ(run(), 0) << err();
    EXPECT_EQ(err(), "");

    fs::copy_file(revisions + "six_bus_v34.raw", root / "work_dir/case.raw", fs::copy_options::overwrite_existing);
    write_file(root / "work_dir/case.json", "{}");
    write_file(root / "start/options.json", R"({"base_rating": "12", "contingency_rating": "7"})");
    ASSERT_EQ(run(), 0) << err();
    EXPECT_EQ(err(), "");
}

TEST_F(Solver, NamesAnInputItCanNotOpenOrRead)
{
    fs::remove(root / "work_dir/case.raw");
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(err(), "vandrelsolve: ../work_dir//case.raw: can not open the file\n");
    fs::create_directory(root / "work_dir/case.raw");
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(err(), "vandrelsolve: ../work_dir//case.raw: can not read the file: it is a directory\n");
    fs::remove(root / "start/options.json");
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(err(), "vandrelsolve: ./options.json: can not open the file\n");
    EXPECT_TRUE(outputs().empty());
}

TEST_F(Solver, ReportsABaseCaseWithoutSolution)
{
    // One Newton step per solve: the RAW's voltages and the DC angles are
    // too far from the solution, load scaling reaches it.
    write_file(root / "start/options.json", R"({"max_iterations": 1})");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(err(), "vandrelsolve: warning: the base case did not solve from the RAW's voltages; the start that "
                     "solved it: load scaling from 75 %\n");
    // 100 times the load: no start solves it.
    write_file(root / "start/options.json", "{}");
    write_file(root / "work_dir/case.raw", replaced(three_bus, "90.0, 30.0", "9000.0, 3000.0"));
    for (const std::string &f : outputs()) {
        fs::remove(root / "work_dir" / f);
    }
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(err().rfind("vandrelsolve: ../work_dir//case.raw: the base case has no solution: no convergence in ", 0),
              0U)
        << err();
    EXPECT_NE(err().find(" iterations (the last Newton solve stopped at max_iterations = 20); it solved neither from "
                         "DC angles nor by load scaling (at most "),
              std::string::npos)
        << err();
    EXPECT_NE(err().find(" % of the load solves); largest mismatch "), std::string::npos) << err();
    EXPECT_TRUE(outputs().empty());
}

namespace {

// The three buses plus a fourth that hangs on bus 3 alone, with a 10 MW load.
std::string four_bus()
{
    std::string raw =
        replaced(three_bus, "0 / END OF BUS DATA", "4,'FOUR', 138.0, 1, 1, 1, 1, 1.0, -5.0\n0 / END OF BUS DATA");
    raw = replaced(raw, "0 / END OF LOAD DATA", "4,'1',1,1,1, 10.0, 2.0, 0,0,0,0, 1,1\n0 / END OF LOAD DATA");
    return replaced(raw, "0 / END OF BRANCH DATA", "3, 4,'1', 0.01, 0.05, 0.0, 100, 100, 20\n0 / END OF BRANCH DATA");
}

} // namespace

// Each block gets its row, in sub-file order, whatever its element line;
// one bad block never stops the others.
TEST_F(Solver, GivesEveryContingencyItsRow)
{
    struct Block {
        std::string label, element, status, note;
    };
    const std::vector<Block> blocks = {
        {"plain", "OPEN BRANCH FROM BUS 1 TO BUS 2 CKT 1", "converged", ""},
        {"reversed, quoted", "open   line from bus 2 to bus 1 circuit '1'", "converged", ""},
        {"no circuit", "TRIP BRANCH FROM BUS 2 TO BUS 3", "converged", ""},
        {"radial", "DISCONNECT LINE FROM BUS 4 TO BUS 3 CKT 1", "converged", "islanded: 1 buses cut off"},
        {"unit", "REMOVE UNIT 1 FROM BUS 2", "converged", ""},
        {"slack unit", "remove machine '1' from bus 1", "converged", "slack moved to bus 2"},
        {"unsupported", "SHORT BRANCH FROM BUS 1 TO BUS 2 CKT 1", "unsupported",
         "element line not understood: 'SHORT BRANCH FROM BUS 1 TO BUS 2 CKT 1'"},
        {"unknown bus", "OPEN BRANCH FROM BUS 1 TO BUS 9 CKT 1", "not_found", "no branch 1-9 ckt 1 in the network"},
        {"unknown circuit", "OPEN BRANCH FROM BUS 1 TO BUS 2 CKT 7", "not_found", "no branch 1-2 ckt 7 in the network"},
        {"unknown unit", "REMOVE UNIT 2 FROM BUS 2", "not_found", "no unit 2 at bus 2 in the network"},
        {"empty", "", "unsupported", "empty element line"},
        {"twice", "OPEN BRANCH FROM BUS 1 TO BUS 3 CKT 1", "converged", ""},
        {"twice", "REMOVE UNIT 1 FROM BUS 2", "converged", ""},
        {"load", "REMOVE LOAD 1 FROM BUS 4", "converged", ""},
        {"closed", "CLOSE BRANCH FROM BUS 1 TO BUS 2", "converged", "already in service"},
        {"negative", "SET BUS 4 LOAD TO -1 MW", "unsupported",
         "a negative amount to set (-1): 'SET BUS 4 LOAD TO -1 MW'"},
    };
    std::string list;
    for (const Block &b : blocks) {
        list += "CONTINGENCY " + b.label + "\n" + b.element + "\nEND\n";
    }
    list += "END\nCONTINGENCY cut short\n"; // a list cut after a header
    write_file(root / "work_dir/case_subctg0.con", list);
    write_file(root / "work_dir/case.raw", four_bus());
    write_file(root / "start/options.json", R"({"contingency_rating": "C"})");

    ASSERT_EQ(run(driver_command_line(2)), 0) << err();
    EXPECT_EQ(err(), "");
    EXPECT_NE(
        out().find("\nvandrelsolve: ../work_dir//case_subctg0.con: 17 contingencies: 10 converged, 0 unrealistic, "
                   "0 no solution, 0 diverged, 1 islanded, 3 not found, 4 unsupported; 2 with violations; results in "
                   "../work_dir/case_subctg0.results.csv\n"),
        std::string::npos)
        << out();
    const auto rows = csv_rows(read_file(root / "work_dir/case_subctg0.results.csv"));
    ASSERT_EQ(rows.size(), blocks.size() + 1);
    for (size_t n = 0; n < rows.size(); ++n) {
        const Block want = n < blocks.size() ? blocks[n] : Block{"cut short", "", "unsupported", "empty element line"};
        SCOPED_TRACE(want.label);
        ASSERT_EQ(rows[n].size(), results_columns.size());
        EXPECT_EQ(rows[n][0], std::to_string(n + 1));
        EXPECT_EQ(rows[n][1], want.label);
        EXPECT_EQ(rows[n][2], want.status);
        EXPECT_EQ(rows[n][16], want.note);
        const bool solved = want.status == "converged";
        EXPECT_EQ(rows[n][5].empty(), !solved) << "lowest voltage";
        EXPECT_EQ(rows[n][13].empty(), want.status == "not_found" || want.status == "unsupported") << "cut off";
        EXPECT_EQ(rows[n][17].empty(), rows[n][13].empty()) << "load lost";
    }
    EXPECT_EQ(rows[3][13] + " " + rows[3][14] + " " + rows[3][17], "1 10 0") << "cut off, not lost";
    EXPECT_EQ(rows[13][13] + " " + rows[13][14] + " " + rows[13][17], "0 0 10") << "lost, not cut off";
    // Losing 2-3 or 1-3 pushes the other one past its 100 MVA RATE C.
    const auto violations = csv_rows(read_file(root / "work_dir/case_subctg0.violations.csv"));
    ASSERT_EQ(violations.size(), 2U);
    EXPECT_EQ(violations[0][0] + " " + violations[0][1] + " " + violations[0][2] + " " + violations[0][3],
              "3 no circuit overload 1-3-1");
    EXPECT_EQ(violations[1][0] + " " + violations[1][1] + " " + violations[1][2] + " " + violations[1][3],
              "12 twice overload 2-3-1");
}

// Labels and notes in the result files are printable too, read back as
// written; the results and violations files hold no control byte but their
// line ends.
TEST_F(Solver, WritesLabelsAndNotesAsPrintableText)
{
    struct Block {
        std::string label, element, shown, status, note; // shown: the label in the file
    };
    const std::vector<Block> blocks = {
        {"esc \x1b[1mbold", "OPEN BRANCH FROM BUS 1 TO BUS 9 CKT \x1b[0m", "esc \\x1b[1mbold", "not_found",
         "no branch 1-9 ckt \\x1b[0m in the network"},
        {"bad \xff byte", "REMOVE UNIT \x01 FROM BUS 2", "bad \\xff byte", "not_found",
         "no unit \\x01 at bus 2 in the network"},
        {"cut \xe2\x82", "OPEN BRANCH FROM BUS 1 TO BUS 2", "cut \\xe2\\x82", "converged", ""},
        {"tab\there, cr\rthere", "OPEN BRANCH FROM BUS 2 TO BUS 3", "tab\\x09here, cr\\x0dthere", "converged", ""},
        {"Zürich – Genève €", "CLOSE\x7f BRANCH", "Zürich – Genève €", "unsupported",
         "element line not understood: 'CLOSE\\x7f BRANCH'"},
    };
    std::string list;
    for (const Block &b : blocks) {
        list += "CONTINGENCY " + b.label + "\n" + b.element + "\nEND\n";
    }
    write_file(root / "work_dir/case_subctg0.con", list + "END\n");
    write_file(root / "work_dir/case.raw", four_bus());

    ASSERT_EQ(run(driver_command_line(2)), 0) << err();
    const std::string results = read_file(root / "work_dir/case_subctg0.results.csv");
    const std::string violations = read_file(root / "work_dir/case_subctg0.violations.csv");
    for (const std::string &text : {results, violations}) {
        EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char c) {
            return (c >= 0 && c < 0x20 && c != '\n') || c == 0x7f;
        })) << text;
    }
    const auto rows = csv_rows(results);
    ASSERT_EQ(rows.size(), blocks.size());
    for (size_t n = 0; n < rows.size(); ++n) {
        SCOPED_TRACE(blocks[n].shown);
        ASSERT_EQ(rows[n].size(), results_columns.size());
        EXPECT_EQ(rows[n][1], blocks[n].shown);
        EXPECT_EQ(rows[n][2], blocks[n].status);
        EXPECT_EQ(rows[n][16], blocks[n].note);
    }
    // Losing 2-3 overloads 1-3 (see above).
    const auto overloads = csv_rows(violations);
    ASSERT_EQ(overloads.size(), 1U);
    EXPECT_EQ(overloads[0][1], blocks[3].shown);
}

// Where the rating is small enough, an outage overloads; the violation
// names the branch, its flow and its rating.
TEST_F(Solver, ListsViolationsWithTheirLimits)
{
    write_file(root / "work_dir/case_subctg0.con",
               "CONTINGENCY loses 1-3\nOPEN BRANCH FROM BUS 1 TO BUS 3\nEND\nEND\n");
    write_file(root / "work_dir/case.raw", replaced(three_bus, "2, 3,'1', 0.01, 0.1, 0.02, 100, 100, 100",
                                                    "2, 3,'1', 0.01, 0.1, 0.02, 100, 100, 60"));
    ASSERT_EQ(run(driver_command_line(2)), 0) << err();
    const auto rows = csv_rows(read_file(root / "work_dir/case_subctg0.violations.csv"));
    ASSERT_EQ(rows.size(), 1U);
    EXPECT_EQ(rows[0][0], "1");
    EXPECT_EQ(rows[0][1], "loses 1-3");
    EXPECT_EQ(rows[0][2], "overload");
    EXPECT_EQ(rows[0][3], "2-3-1");
    EXPECT_GT(std::stod(rows[0][4]), 60.0);
    EXPECT_EQ(rows[0][5], "60");
    const auto results = csv_rows(read_file(root / "work_dir/case_subctg0.results.csv"));
    EXPECT_EQ(results[0][10], "2-3-1");
    EXPECT_EQ(results[0][11], "1");
}

// A sub-file with no contingency gives the headers alone; a missing one is
// bad input. Results of an earlier run never survive a failed one.
TEST_F(Solver, WritesNoStaleOrPartialResults)
{
    ASSERT_EQ(run(driver_command_line(2)), 0) << err();
    EXPECT_EQ(read_file(root / "work_dir/case_subctg0.results.csv"), header_line(results_columns));
    EXPECT_EQ(read_file(root / "work_dir/case_subctg0.violations.csv"),
              "index,label,kind,element,value,limit,base_value,tag\n");

    fs::remove(root / "work_dir/case_subctg0.con");
    EXPECT_EQ(run(driver_command_line(2)), 1);
    EXPECT_EQ(err(), "vandrelsolve: ../work_dir//case_subctg0.con: can not open the file\n");
    EXPECT_FALSE(fs::exists(root / "work_dir/case_subctg0.results.csv"));
    EXPECT_FALSE(fs::exists(root / "work_dir/case_subctg0.violations.csv"));

    write_file(root / "work_dir/case_subctg0.con", "END\n");
    write_file(root / "work_dir/case_subctg0.results.csv", "stale\n");
    write_file(root / "work_dir/case_subctg0.violations.csv", "stale\n");
    write_file(root / "work_dir/case.raw", "");
    EXPECT_EQ(run(driver_command_line(2)), 1);
    EXPECT_FALSE(fs::exists(root / "work_dir/case_subctg0.results.csv"));
    EXPECT_FALSE(fs::exists(root / "work_dir/case_subctg0.violations.csv"));
}

// The tie network in revision 34 (solver/tests/data/ties/): the console says
// what the ties joined; the buses of a node share its voltage; ties are
// rows of the branch file with their loadings; outages of a tie, of an open
// switching device and of a line next to a tie are solved. With a threshold
// of 0 the line of R = X = 0 is refused.
TEST_F(Solver, SolvesBusesJoinedByTiesAsOneNode)
{
    fs::copy_file(std::string(paths::solver_test_data) + "/ties/six_bus_ties_v34.raw", root / "work_dir/case.raw",
                  fs::copy_options::overwrite_existing);
    write_file(root / "work_dir/case_subctg0.con",
               "CONTINGENCY tie\nOPEN BRANCH FROM BUS 7 TO BUS 4 CKT 1\nEND\n"
               "CONTINGENCY open breaker\nOPEN BRANCH FROM BUS 3 TO BUS 7 CKT Z\nEND\n"
               "CONTINGENCY line\nOPEN BRANCH FROM BUS 7 TO BUS 6\nEND\nEND\n");
    ASSERT_EQ(run(driver_command_line(2)), 0) << err();
    EXPECT_EQ(err(),
              "vandrelsolve: warning: 4 tie(s) (lines of |R + jX| below 0.0001 pu, closed switching devices) "
              "join 5 buses into 2 node(s), each solved as one bus\n"
              "vandrelsolve: warning: 1 node(s) hold a loop of ties; the ties of a loop share its flow evenly\n");
    std::map<std::string, std::vector<std::string>> rows;
    for (const auto &row : csv_rows(read_file(root / "work_dir/base_buses.csv"))) {
        rows[row[0]] = row;
    }
    EXPECT_EQ(rows["7"][3] + rows["7"][4] + " " + rows["9"][3] + rows["9"][4],
              rows["4"][3] + rows["4"][4] + " " + rows["2"][3] + rows["2"][4]);
    EXPECT_EQ(rows["7"][7], "25") << "its own load";
    rows.clear();
    for (const auto &row : csv_rows(read_file(root / "work_dir/base_branches.csv"))) {
        rows[row[0] + "-" + row[1] + "-" + row[3]] = row;
    }
    EXPECT_EQ(rows.size(), 12U) << "no row for the open switching device";
    const auto &tie = rows["4-7-1"];
    const double mva =
        std::max(std::hypot(std::stod(tie[5]), std::stod(tie[6])), std::hypot(std::stod(tie[7]), std::stod(tie[8])));
    EXPECT_NEAR(std::stod(tie[9]), 100.0 * mva / 30.0, 1e-9) << "against its RATE1";

    const auto results = csv_rows(read_file(root / "work_dir/case_subctg0.results.csv"));
    ASSERT_EQ(results.size(), 3U);
    EXPECT_EQ(results[0][2] + " " + results[0][6], "converged 7") << "bus 7 alone is the lowest once its tie opens";
    EXPECT_EQ(results[1][2] + " " + results[1][16], "converged already out");
    EXPECT_EQ(results[2][2] + " " + results[2][10], "converged 4-7-1") << "the tie carries bus 7's load alone";

    write_file(root / "start/options.json", R"({"zero_impedance_threshold_pu": 0})");
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(err(), "vandrelsolve: ../work_dir//case.raw:53: branch 4-7-1 has zero impedance (R = X = 0); with "
                     "zero_impedance_threshold_pu above 0 it is a tie\n");
}

// A unit regulating another bus holds it, and base_controls.csv says so;
// with remote_regulation false the unit holds its terminal, with a warning,
// and there is no control to list.
TEST_F(Solver, ListsRemoteRegulationAmongTheControls)
{
    write_file(root / "work_dir/case.raw",
               replaced(three_bus, "40.0, 0.0, 100.0, -100.0, 1.01, 0,", "40.0, 0.0, 100.0, -100.0, 1.01, 3,"));
    ASSERT_EQ(run(), 0) << err();
    EXPECT_EQ(err(), "");
    const std::string controls = read_file(root / "work_dir/base_controls.csv");
    EXPECT_EQ(controls.substr(0, controls.find('\n')),
              "kind,device,winding,regulated_bus,band_low,band_high,value,setting,at_limit,state");
    EXPECT_EQ(controls.find("\nremote_voltage,2,,3,1.01,1.01,1.01,"), controls.find('\n')) << controls;
    EXPECT_NE(controls.find(",0,in_band\n"), std::string::npos) << controls;

    write_file(root / "start/options.json", R"({"remote_regulation": false})");
    ASSERT_EQ(run(), 0) << err();
    EXPECT_EQ(err(), "vandrelsolve: warning: 1 in-service unit(s) name a remote regulated bus (IREG); with "
                     "remote_regulation false, each holds its own terminal at VS\n");
    EXPECT_FALSE(fs::exists(root / "work_dir/base_controls.csv"));
}

// Option detail: the named contingencies get their folder of buses, branches
// and units in the base files' columns; a label with no state is a warning,
// and so is one the whole list lacks, from share 0 only. A new run removes
// the folder of an earlier one.
TEST_F(Solver, WritesTheDetailOfNamedContingencies)
{
    const std::string list = "CONTINGENCY open 1/3\nOPEN BRANCH FROM BUS 1 TO BUS 3 CKT 1\nEND\n"
                             "CONTINGENCY gone\nOPEN BRANCH FROM BUS 1 TO BUS 9 CKT 1\nEND\n"
                             "CONTINGENCY other\nREMOVE UNIT 1 FROM BUS 2\nEND\nEND\n";
    write_file(root / "work_dir/case.con", list);
    write_file(root / "work_dir/case_subctg0.con", list);
    write_file(root / "start/options.json", R"({"detail": ["open 1/3", "gone", "absent"]})");
    ASSERT_EQ(run(driver_command_line(2)), 0) << err();
    EXPECT_EQ(err(), "vandrelsolve: warning: option 'detail' names contingency 'absent', which the contingency list "
                     "does not have\n"
                     "vandrelsolve: warning: no detail for contingency 'gone': its status is not_found, with no "
                     "solved state\n");
    const fs::path detail = root / "work_dir/case_subctg0.detail";
    std::vector<std::string> folders;
    for (const auto &e : fs::directory_iterator(detail)) {
        folders.push_back(e.path().filename().string());
    }
    EXPECT_EQ(folders, std::vector<std::string>{"open_1_3"});
    const std::string buses = read_file(detail / "open_1_3/buses.csv");
    const std::string branches = read_file(detail / "open_1_3/branches.csv");
    const std::string units = read_file(detail / "open_1_3/units.csv");
    EXPECT_EQ(buses.substr(0, buses.find('\n') + 1), header_line(base_buses_columns));
    EXPECT_EQ(units.substr(0, units.find('\n') + 1), header_line(base_units_columns));
    EXPECT_EQ(branches.substr(0, branches.find('\n') + 1), header_line(base_branches_columns));
    const auto rows = csv_rows(branches);
    ASSERT_EQ(rows.size(), 2U) << branches;
    EXPECT_EQ(rows[0][0] + "-" + rows[0][1] + " " + rows[1][0] + "-" + rows[1][1], "1-2 2-3");
    const double mva = std::max(std::hypot(std::stod(rows[1][5]), std::stod(rows[1][6])),
                                std::hypot(std::stod(rows[1][7]), std::stod(rows[1][8])));
    EXPECT_NEAR(std::stod(rows[1][9]), mva, 1e-9) << "against RATEC, 100 MVA";

    const std::string rank1 = replaced(driver_command_line(2), "case_subctg0", "case_subctg1");
    write_file(root / "work_dir/case_subctg1.con", "END\n");
    ASSERT_EQ(run(rank1), 0) << err();
    EXPECT_EQ(err(), "") << "the labels are share 0's to check";

    fs::create_directories(detail / "stale");
    write_file(detail / "stale/buses.csv", "stale\n");
    write_file(root / "start/options.json", "{}\n");
    ASSERT_EQ(run(driver_command_line(2)), 0) << err();
    EXPECT_FALSE(fs::exists(detail));
}

// A base case solved outside the realistic voltage range is a warning that
// names the bus furthest out; the run goes on. A contingency with no
// operating point gets the fraction it solves to, and its detail is the
// state there, the load at that fraction of its change.
TEST_F(Solver, SaysWhenAStateIsNoOperatingPoint)
{
    write_file(root / "start/options.json", R"({"min_realistic_vm_pu": 1.015})");
    ASSERT_EQ(run(), 0) << err();
    EXPECT_EQ(err().rfind("vandrelsolve: warning: the base case is no operating point: bus 3 at 0.9", 0), 0U) << err();
    EXPECT_NE(err().find(" pu, outside the realistic range 1.015 to 2 pu; its files are written as solved\n"),
              std::string::npos)
        << err();
    EXPECT_TRUE(fs::exists(root / "work_dir/base_buses.csv"));

    write_file(root / "work_dir/case_subctg0.con", "CONTINGENCY heavy\nSET BUS 3 LOAD TO 5000 MW\nEND\nEND\n");
    write_file(root / "start/options.json", R"({"detail": ["heavy"]})");
    ASSERT_EQ(run(driver_command_line(2)), 0) << err();
    const auto rows = read_csv((root / "work_dir/case_subctg0.results.csv").string());
    ASSERT_EQ(rows.size(), 1U);
    EXPECT_EQ(rows[0][col::status], "no_solution") << rows[0][col::note];
    const double lambda = std::stod(rows[0][col::solvable_fraction]);
    EXPECT_GT(lambda, 0);
    EXPECT_LT(lambda, 0.2);
    EXPECT_NE(rows[0][col::note].find("; weak spot: bus 3 at "), std::string::npos) << rows[0][col::note];
    const auto buses = read_csv((root / "work_dir/case_subctg0.detail/heavy/buses.csv").string());
    ASSERT_EQ(buses.size(), 3U);
    EXPECT_NEAR(std::stod(buses[2][7]), 90 + lambda * (5000 - 90), 1e-6) << "bus 3's load at the fraction solved";
    EXPECT_NEAR(std::stod(buses[2][5]), 0, 1e-6) << "bus 3 has no unit";
}
