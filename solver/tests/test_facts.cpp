// FACTS devices: each mode the solver models against the same network with
// the device written by hand as the elements it stands for (a unit, loads,
// a branch or a tie), to 1e-9 pu; the base_facts.csv rows; the records of
// the revisions that name and number devices; the modes refused; a
// contingency that takes a device out.

#include "contingency/contingency.h"
#include "helpers.h"
#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/state.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "results/columns.h"
#include "results/facts_csv.h"
#include "results/results.h"
#include "results/units.h"
#include "test_data.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string six_bus(const char *rev = "33")
{
    return read_file(std::string(paths::solver_test_data) + "/revisions/six_bus_v" + rev + ".raw");
}

// A revision-33 FACTS record: NAME I J MODE PDES QDES VSET SHMX TRMX VTMN
// VTMX VSMX IMX LINX RMPCT OWNER SET1 SET2 VSREF REMOT MNAME.
std::string facts_record(const std::string &name, int i, int j, int mode, double pdes, double qdes, double vset,
                         double shmx, double set1 = 0, double set2 = 0, int remot = 0)
{
    std::ostringstream s;
    s.precision(17);
    s << "'" << name << "', " << i << ", " << j << ", " << mode << ", " << pdes << ", " << qdes << ", " << vset << ", "
      << shmx << ", 9999.0, 0.9, 1.1, 1.0, 0.0, 0.05, 100.0, 1, " << set1 << ", " << set2 << ", 0, " << remot
      << ", ''\n";
    return s.str();
}

std::string with_facts(const std::string &records)
{
    return replaced(six_bus(), "0 / END OF FACTS DEVICE DATA", records + "0 / END OF FACTS DEVICE DATA");
}

// The six-bus network with `loads` and `units` records added and bus
// `pv_bus` (0: none) made a generator bus.
std::string by_hand(const std::string &loads, const std::string &units, const std::string &branches, int pv_bus)
{
    std::string t = replaced(six_bus(), "0 / END OF LOAD DATA", loads + "0 / END OF LOAD DATA");
    t = replaced(t, "0 / END OF GENERATOR DATA", units + "0 / END OF GENERATOR DATA");
    t = replaced(t, "0 / END OF BRANCH DATA", branches + "0 / END OF BRANCH DATA");
    if (pv_bus != 0) {
        const std::string at = "     " + std::to_string(pv_bus) + ",'";
        const std::size_t p = t.find(at);
        const std::size_t ide = t.find(",1,", t.find("0000", p));
        t.replace(ide, 3, ",2,");
    }
    return t;
}

// A unit of P = 0, −qmax ≤ Q ≤ qmax at `bus`, holding `ireg` (0: its bus) at vs.
std::string unit_record(int bus, double qmax, double vs, int ireg = 0)
{
    std::ostringstream s;
    s.precision(17);
    s << bus << ",'F', 0.0, 0.0, " << qmax << ", " << -qmax << ", " << vs << ", " << ireg
      << ", 100.0, 0,1,0,0,1,1,100, 0.0, 0.0\n";
    return s.str();
}

std::string load_record(int bus, double p, double q)
{
    std::ostringstream s;
    s.precision(17);
    s << bus << ",'F',1,1,1, " << p << ", " << q << ", 0,0,0,0, 1,1,0\n";
    return s.str();
}

Network network_of(const std::string &text)
{
    std::istringstream in(text);
    return build_network(parse_raw(in, "t.raw"));
}

PfOptions tight()
{
    PfOptions opt;
    opt.flat_start = true;
    opt.tolerance_pu = 1e-11;
    return opt;
}

// The two solutions are the same to 1e-9 pu (and radians) at every RAW
// bus, with the same buses held at a reactive limit.
void expect_same(const Network &a, const BaseCase &x, const Network &b, const BaseCase &y)
{
    ASSERT_TRUE(x.sol.converged) << x.sol.failure;
    ASSERT_TRUE(y.sol.converged) << y.sol.failure;
    ASSERT_EQ(a.raw_buses, b.raw_buses);
    for (int i = 0; i < a.raw_buses; ++i) {
        EXPECT_NEAR(x.sol.v.vm[i], y.sol.v.vm[i], 1e-9) << "bus " << a.buses[i].number;
        EXPECT_NEAR(x.sol.v.va[i], y.sol.v.va[i], 1e-9) << "bus " << a.buses[i].number;
        EXPECT_EQ(x.sol.held[i], y.sol.held[i]) << "bus " << a.buses[i].number;
    }
}

std::vector<std::string> facts_row(const Network &net, const BaseCase &bc, std::size_t k)
{
    const std::vector<std::vector<std::string>> rows = csv_rows(facts_csv(solved_base(net, bc)));
    return k < rows.size() ? rows[k] : std::vector<std::string>{};
}

} // namespace

// A STATCOM (J = 0) is a unit of P = 0 and Q within ±SHMX holding VSET at
// its bus or at REMOT: with the limit not reached, held at its upper limit
// (1.03 pu is out of reach of 10 Mvar at bus 5), at its lower one (0.97 pu
// of 5 Mvar), and holding a remote bus.
TEST(Facts, StatcomEqualsAUnitWithItsReactiveLimits)
{
    struct Case {
        const char *what;
        double vset, shmx;
        int remot;
        const char *limit;
    };
    for (const Case &c :
         {Case{"free", 1.01, 60.0, 0, ""}, Case{"at its limit", 1.03, 10.0, 0, "SHMX"},
          Case{"absorbing at its limit", 0.97, 5.0, 0, "-SHMX"}, Case{"holding bus 4", 1.02, 200.0, 4, ""}}) {
        SCOPED_TRACE(c.what);
        const Network a = network_of(with_facts(facts_record("S1", 5, 0, 1, 0, 0, c.vset, c.shmx, 0, 0, c.remot)));
        const Network b = network_of(by_hand("", unit_record(5, c.shmx, c.vset, c.remot), "", 5));
        const BaseCase x = solve_base_case(a, tight());
        const BaseCase y = solve_base_case(b, tight());
        expect_same(a, x, b, y);
        const std::vector<std::string> row = facts_row(a, x, 0);
        ASSERT_EQ(row.size(), 9U);
        EXPECT_EQ(row[0], "S1");
        EXPECT_EQ(row[3], "");
        EXPECT_EQ(row[4], c.remot != 0 ? "4" : "5");
        const double q = unit_outputs(solved_base(b, y)).back().imag() * 100.0;
        EXPECT_NEAR(std::stod(row[7]), q, 1e-6);
        EXPECT_EQ(row[8], c.limit);
    }
    // REMOT a slack bus: the device holds its own bus, with a warning.
    const Network n = network_of(with_facts(facts_record("S1", 5, 0, 1, 0, 0, 1.01, 60.0, 0, 0, 1)));
    EXPECT_EQ(n.units.back().ireg, 0);
    EXPECT_EQ(n.notes, (std::vector<std::string>{"t.raw:50: FACTS device 'S1' regulates bus 1, which is not an "
                                                 "energised load or generator bus; it holds its own bus"}));
}

// MODE 3: the series element is the branch SET1 + j·SET2 (the shunt element
// holding bus 4 besides); its row gives the power that branch delivers at J.
TEST(Facts, ConstantSeriesImpedanceEqualsALine)
{
    const Network a = network_of(with_facts(facts_record("Z1", 4, 6, 3, 0, 0, 1.0, 50.0, 0.02, 0.15)));
    const Network b = network_of(
        by_hand("", unit_record(4, 50.0, 1.0), "4, 6,'F', 0.02, 0.15, 0.0, 0,0,0, 0,0,0,0,1,1,0,1,1.0\n", 4));
    const BaseCase x = solve_base_case(a, tight());
    const BaseCase y = solve_base_case(b, tight());
    expect_same(a, x, b, y);
    const std::vector<std::string> row = facts_row(a, x, 0);
    ASSERT_EQ(row.size(), 9U);
    const std::complex<double> v4 = std::polar(y.sol.v.vm[3], y.sol.v.va[3]);
    const std::complex<double> v6 = std::polar(y.sol.v.vm[5], y.sol.v.va[5]);
    const std::complex<double> at_j = v6 * std::conj((v4 - v6) / std::complex<double>(0.02, 0.15)) * 100.0;
    EXPECT_NEAR(std::stod(row[5]), at_j.real(), 1e-6);
    EXPECT_NEAR(std::stod(row[6]), at_j.imag(), 1e-6);
    // The branch is the device's, not a branch of the RAW's.
    const std::string branches = base_branches_csv(a, x, 1);
    EXPECT_EQ(branches.find("F"), std::string::npos);
}

// MODE 2: the series element bypassed is a tie between I and J.
TEST(Facts, BypassedSeriesElementIsATie)
{
    const Network a = network_of(with_facts(facts_record("B1", 4, 6, 2, 0, 0, 1.0, 0.0)));
    const Network b = network_of(by_hand("", "", "4, 6,'F', 0.0, 0.0, 0.0, 0,0,0, 0,0,0,0,1,1,0,1,1.0\n", 0));
    ASSERT_EQ(a.tie_nodes.size(), 1U);
    expect_same(a, solve_base_case(a, tight()), b, solve_base_case(b, tight()));
}

// MODE 1: PDES + j·QDES delivered at J and drawn at I, the shunt element
// holding VSET at I: the network with those loads and a unit of P = 0.
TEST(Facts, NormalModeDeliversItsSetPoints)
{
    const Network a = network_of(with_facts(facts_record("U1", 3, 5, 1, 20.0, 5.0, 1.0, 100.0)));
    const Network b =
        network_of(by_hand(load_record(3, 20.0, 5.0) + load_record(5, -20.0, -5.0), unit_record(3, 100.0, 1.0), "", 3));
    const BaseCase x = solve_base_case(a, tight());
    const BaseCase y = solve_base_case(b, tight());
    expect_same(a, x, b, y);
    const std::vector<std::string> row = facts_row(a, x, 0);
    ASSERT_EQ(row.size(), 9U);
    EXPECT_EQ(row[1], "1");
    EXPECT_NEAR(std::stod(row[5]), 20.0, 1e-9);
    EXPECT_NEAR(std::stod(row[6]), 5.0, 1e-9);
    EXPECT_NEAR(x.sol.v.vm[2], 1.0, 1e-9);
}

// A device is named by NAME from revision 31, by its number N before; a
// MODE 0 device is read past with a note.
TEST(Facts, ReadsTheRecordOfEachRevision)
{
    const std::string v30 =
        replaced(six_bus("30"), "0 / END OF FACTS CONTROL DEVICE DATA",
                 "7, 5, 0, 1, 0.0, 0.0, 1.01, 60.0, 9999.0, 0.9, 1.1, 1.0, 0.0, 0.05, 100.0, 1, 0.0, 0.0, 0\n"
                 "0 / END OF FACTS CONTROL DEVICE DATA");
    std::istringstream in30(v30);
    const RawCase c30 = parse_raw(in30, "t.raw");
    ASSERT_EQ(c30.facts.size(), 1U);
    EXPECT_EQ(c30.facts[0].name, "7");
    EXPECT_EQ(c30.facts[0].i, 5);
    EXPECT_DOUBLE_EQ(c30.facts[0].shmx, 60.0);

    // Revision 34: FCREG, MNAME, then the node NREG.
    const std::string v34 = replaced(six_bus("34"), "0 / END OF FACTS CONTROL DEVICE DATA",
                                     "'S 1', 5, 0, 1, 0.0, 0.0, 1.01, 60.0, 9999.0, 0.9, 1.1, 1.0, 0.0, 0.05, 100.0, "
                                     "1, 0.0, 0.0, 0, 4, '', 0\n"
                                     "'OFF', 5, 0, 0\n"
                                     "0 / END OF FACTS CONTROL DEVICE DATA");
    std::istringstream in34(v34);
    const RawCase c34 = parse_raw(in34, "t.raw");
    ASSERT_EQ(c34.facts.size(), 1U);
    EXPECT_EQ(c34.facts[0].name, "S 1");
    EXPECT_EQ(c34.facts[0].remot, 4);
    ASSERT_EQ(c34.notes.size(), 1U);
    EXPECT_NE(c34.notes[0].find("1 FACTS device record(s) out of service (MODE 0) read past"), std::string::npos);

    // Revision 35: FCREG, NREG, MNAME (a file another tool wrote).
    REQUIRE_RAWFILES();
    const RawCase c35 = read_raw(rawfiles_dir() + "/powsybl/full_export.raw");
    ASSERT_EQ(c35.facts.size(), 1U);
    EXPECT_EQ(c35.facts[0].name, "StaticVar-Vl");
    EXPECT_EQ(c35.facts[0].i, 8);
    EXPECT_EQ(c35.facts[0].j, 0);
    EXPECT_EQ(c35.facts[0].remot, 6);
    EXPECT_DOUBLE_EQ(c35.facts[0].vset, 1.02);
    EXPECT_DOUBLE_EQ(c35.facts[0].shmx, 6250.0);
}

// What the model does not take, each refused naming the device and its line.
TEST(Facts, RefusesModesItDoesNotModel)
{
    const auto error = [](const std::string &record) {
        std::istringstream in(with_facts(record));
        const std::string what = input_error_of([&] { build_network(parse_raw(in, "t.raw")); });
        return what.empty() ? std::string("no error") : what;
    };
    const std::string at = "t.raw:50: FACTS device 'X': ";
    EXPECT_EQ(error(facts_record("X", 3, 5, 1, 10, 0, 1.0, 50)), "no error");
    EXPECT_EQ(error(facts_record("X", 3, 5, 4, 10, 0, 1.0, 50)),
              at + "MODE 4 (a constant series voltage) is not modelled");
    EXPECT_EQ(error(facts_record("X", 3, 5, 5, 10, 0, 1.0, 50)),
              at + "IPFC mode 5 (master, P and Q set-points) is not modelled; an IPFC is a multi-terminal device");
    EXPECT_EQ(error(facts_record("X", 3, 5, 6, 10, 0, 1.0, 50)),
              at + "IPFC mode 6 (slave, P and Q set-points) is not modelled; an IPFC is a multi-terminal device");
    EXPECT_EQ(error(facts_record("X", 3, 5, 7, 10, 0, 1.0, 50)),
              at + "IPFC mode 7 (master, constant series voltage) is not modelled; an IPFC is a multi-terminal device");
    EXPECT_EQ(error(facts_record("X", 3, 5, 8, 10, 0, 1.0, 50)),
              at + "IPFC mode 8 (slave, constant series voltage) is not modelled; an IPFC is a multi-terminal device");
    EXPECT_EQ(error(facts_record("X", 3, 5, 9, 10, 0, 1.0, 50)), at + "MODE 9 is not one of 0 to 8");
    EXPECT_EQ(error(facts_record("X", 3, 0, 3, 0, 0, 1.0, 50)),
              at + "MODE 3 needs a series element, and J is 0 (a STATCOM)");
    EXPECT_EQ(error(facts_record("X", 3, 0, 1, 0, 0, 1.0, -5)),
              "t.raw:50: field 8 (SHMX) of the FACTS device record is negative: '-5'");
    EXPECT_EQ(error(facts_record("X", 3, 0, 1, 0, 0, 1.0, 5) + facts_record("X", 4, 0, 1, 0, 0, 1.0, 5)),
              "t.raw:51: FACTS device 'X': the name is given to the FACTS device at line 50 too");
    EXPECT_EQ(error(facts_record("X", 3, 9, 1, 0, 0, 1.0, 5)),
              "t.raw:50: FACTS device 'X' names bus 9, which is not in the bus data");
}

// OPEN FACTS takes every element of the device out: the network solves as
// the RAW without it, for a device of loads and a unit and for one whose
// series element is a tie (the network rebuilt).
TEST(Facts, ContingencyOpensTheDevice)
{
    PfOptions opt = tight();
    opt.flat_start = false;
    const Network without = network_of(six_bus());
    const BaseCase plain = solve_base_case(without, tight());
    for (const std::string &record :
         {facts_record("U1", 3, 5, 1, 20.0, 5.0, 1.0, 100.0), facts_record("U1", 4, 6, 2, 0.0, 0.0, 1.0, 40.0)}) {
        const Network net = network_of(with_facts(record));
        BaseCase bc = solve_base_case(net, tight());
        ASSERT_TRUE(bc.sol.converged);
        const CtgResult r = solve_contingency(net, bc, {"F", "OPEN FACTS 'U1'", 1}, opt, bc.ws);
        ASSERT_EQ(r.status, CtgStatus::converged) << r.note;
        for (int i = 0; i < without.raw_buses; ++i) {
            EXPECT_NEAR(r.sol.v.vm[i], plain.sol.v.vm[i], 1e-9) << "bus " << without.buses[i].number;
            EXPECT_NEAR(r.sol.v.va[i], plain.sol.v.va[i], 1e-9) << "bus " << without.buses[i].number;
        }
        EXPECT_EQ(solve_contingency(net, bc, {"G", "TRIP FACTS NONE", 1}, opt, bc.ws).status, CtgStatus::not_found);
        // Its unit and loads are not the bus's units and loads.
        for (const char *line :
             {"REMOVE UNIT U1 FROM BUS 3", "REMOVE UNIT U1 FROM BUS 4", "REMOVE LOAD U1 FROM BUS 5"}) {
            EXPECT_EQ(solve_contingency(net, bc, {"H", line, 1}, opt, bc.ws).status, CtgStatus::not_found) << line;
        }
    }
    const Element e = parse_element("disconnect facts 'A B'");
    EXPECT_EQ(e.kind, Element::Kind::facts);
    EXPECT_TRUE(same_id(e.id, "A B"));
}

// vandrelsolve writes base_facts.csv for a case with FACTS devices, counts
// the RAW's branches and units alone, and solves OPEN FACTS from a list.
TEST(Facts, VandrelsolveWritesTheDevicesFile)
{
    char tmpl[] = "/tmp/facts_test.XXXXXX";
    const std::filesystem::path root = ::mkdtemp(tmpl);
    write_file((root / "case.raw").string(), with_facts(facts_record("STAT 1", 5, 0, 1, 0, 0, 1.01, 60.0) +
                                                        facts_record("UPFC", 3, 4, 1, 20.0, 5.0, 1.0, 100.0) +
                                                        facts_record("Z", 4, 6, 3, 0, 0, 1.0, 0, 0.02, 0.15)));
    write_file((root / "sub.con").string(), "CONTINGENCY A\nOPEN FACTS 'STAT 1'\nEND\nEND\n");
    write_file((root / "case.json").string(), R"({"name": "six"})");
    write_file((root / "options.json").string(), "{}\n");
    const std::string cmd = "cd '" + root.string() + "' && " + paths::vandrelsolve +
                            " sub.con case.json case.raw . 1 1 1 2 options.json . >out 2>err";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << read_file((root / "err").string());
    EXPECT_NE(read_file((root / "out").string()).find("; 6 buses, 8 branches, 3 units, "), std::string::npos)
        << read_file((root / "out").string());
    const std::string facts = read_file((root / "base_facts.csv").string());
    EXPECT_EQ(facts.substr(0, facts.find('\n') + 1), header_line(base_facts_columns));
    const std::vector<std::vector<std::string>> rows = csv_rows(facts);
    ASSERT_EQ(rows.size(), 3U) << facts;
    EXPECT_EQ(rows[0][0], "STAT 1");
    EXPECT_EQ(rows[1][5], "20");
    EXPECT_EQ(rows[1][6], "5");
    EXPECT_EQ(rows[2][4], "");
    const std::vector<std::vector<std::string>> results = read_csv((root / "sub.results.csv").string());
    ASSERT_EQ(results.size(), 1U);
    EXPECT_EQ(results[0][2], "converged");
    std::filesystem::remove_all(root);
}
