// Generator response end to end, through the real vandrelsolve: the outputs
// after a unit outage in closed form on a lossless network, a contingency's
// state equal to the base case of its own dispatch on the public cases,
// "swing" as the default, the options refused, and the base case's dispatch
// balanced by base_generator_response.

#include "helpers.h"
#include "results/columns.h"
#include "test_data.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Rows = std::vector<std::vector<std::string>>;

// One run layout in a fresh folder; run() calls vandrelsolve as the
// driver's rank 0 does.
class Layout : public SolverLayout {
public:
    Layout() : SolverLayout("response_test") { write_file(root / "work_dir/case.json", "{}"); }

    // Exit status of a run with this RAW, list, options and run type.
    int run(const std::string &raw, const std::string &con, const std::string &options, int run_type) const
    {
        write_file(root / "work_dir/case.raw", raw);
        write_file(root / "work_dir/case_subctg0.con", con);
        write_file(root / "start/options.json", options);
        return run_in_start(paths::vandrelsolve, driver_command_line(run_type));
    }
    Rows results() const { return read_csv(root / "work_dir/case_subctg0.results.csv"); }
    Rows base(const std::string &name) const { return read_csv(root / "work_dir" / name); }
    Rows detail(const std::string &label, const std::string &name) const
    {
        return read_csv(root / "work_dir/case_subctg0.detail" / label / name);
    }
};

double field(const std::vector<std::string> &row, std::size_t i) { return std::stod(row.at(i)); }

std::string trim(const std::string &s)
{
    const auto b = s.find_first_not_of(" '\t");
    const auto e = s.find_last_not_of(" '\t");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// A units file's pg_mw by "BUS-ID".
std::map<std::string, double> unit_pg(const Rows &units)
{
    std::map<std::string, double> pg;
    for (const auto &row : units) {
        pg[row.at(0) + "-" + trim(row.at(1))] = field(row, 3);
    }
    return pg;
}

// A record's comma-separated fields, as they are (blanks kept), and back.
std::vector<std::string> fields_of(const std::string &line)
{
    std::vector<std::string> f;
    std::stringstream ss(line);
    for (std::string x; std::getline(ss, x, ',');) {
        f.push_back(x);
    }
    return f;
}

std::string joined(const std::vector<std::string> &f)
{
    std::string line;
    for (std::size_t i = 0; i < f.size(); ++i) {
        line += (i > 0 ? "," : "") + f[i];
    }
    return line;
}

// The generator records of a RAW text (one line each, revisions 30 to 33),
// each edited in place by edit(bus, id, fields): field 2 PG, 14 STAT, 16
// PT, 17 PB.
template <class Edit> std::string edit_units(const std::string &raw, const Edit &edit)
{
    std::istringstream in(raw);
    std::string out;
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        const std::string t = trim(line);
        if (inside && (t == "0" || t.rfind("0 /", 0) == 0)) {
            inside = false;
        } else if (inside) {
            std::vector<std::string> f = fields_of(line);
            edit(trim(f.at(0)), trim(f.at(1)), f);
            line = joined(f);
        }
        inside = inside || line.find("BEGIN GENERATOR DATA") != std::string::npos;
        out += line + "\n";
    }
    return out;
}

// The bus records of a RAW text of revision 30 to 33, each whose number is
// in `ide` given that IDE; returns the text and the numbers of the buses
// with IDE 3 in it.
std::pair<std::string, std::set<std::string>> with_ide(const std::string &raw,
                                                       const std::map<std::string, std::string> &ide)
{
    std::istringstream in(raw);
    std::string out;
    std::set<std::string> slacks;
    std::string line;
    bool buses = true;
    for (int n = 0; std::getline(in, line); ++n) {
        buses = buses && line.find("END OF BUS DATA") == std::string::npos;
        std::vector<std::string> f = fields_of(line);
        if (buses && n >= 3 && f.size() > 3) {
            const auto to = ide.find(trim(f[0]));
            f[3] = to == ide.end() ? f[3] : to->second;
            line = joined(f);
            if (trim(f[3]) == "3") {
                slacks.insert(trim(f[0]));
            }
        }
        out += line + "\n";
    }
    return {out, slacks};
}

// The blocks of a contingency list, each "CONTINGENCY ... END\n".
std::vector<std::string> con_blocks(const std::string &con)
{
    std::vector<std::string> blocks;
    std::istringstream in(con);
    std::string line;
    std::string block;
    while (std::getline(in, line)) {
        if (trim(line).rfind("CONTINGENCY", 0) == 0) {
            block = line + "\n";
        } else if (!block.empty()) {
            block += line + "\n";
            if (trim(line) == "END") {
                blocks.push_back(block);
                block.clear();
            }
        }
    }
    return blocks;
}

std::string label_of(const std::string &block) { return trim(block.substr(11, block.find('\n') - 11)); }

// ---------------------------------------------------------------------------
// A lossless four-bus network (R = 0, no shunt conductance): the slack's
// unit at bus 1 and one unit at each of buses 2, 3 and 4, 280 MW of load.

struct TestUnit {
    double pg, pt, pb;
    int wmod = 0;
};

std::string four_bus(const std::vector<TestUnit> &u, double slack_pg = 0.0)
{
    std::string gens;
    for (std::size_t i = 0; i < u.size(); ++i) {
        const double pg = i == 0 ? slack_pg : u[i].pg;
        std::ostringstream g;
        g << i + 1 << ",'1', " << pg << ", 0.0, 300.0, -300.0, 1.0, 0, 100.0, 0,1,0,0,1,1,100, " << u[i].pt << ", "
          << u[i].pb << ", 1,1,0,1,0,1,0,1, " << u[i].wmod << ", 1.0\n";
        gens += g.str();
    }
    return "0, 100.00, 33, 0, 0, 60.00 / lossless\nLOSSLESS FOUR BUSES\nHAND WRITTEN\n"
           "1,'ONE', 138.0, 3, 1, 1, 1, 1.0, 0.0\n2,'TWO', 138.0, 2, 1, 1, 1, 1.0, 0.0\n"
           "3,'THREE', 138.0, 2, 1, 1, 1, 1.0, 0.0\n4,'FOUR', 138.0, 2, 1, 1, 1, 1.0, 0.0\n"
           "0 / END OF BUS DATA, BEGIN LOAD DATA\n"
           "2,'1',1,1,1, 100.0, 20.0, 0,0,0,0, 1,1\n3,'1',1,1,1, 120.0, 20.0, 0,0,0,0, 1,1\n"
           "4,'1',1,1,1, 60.0, 20.0, 0,0,0,0, 1,1\n"
           "0 / END OF LOAD DATA, BEGIN FIXED SHUNT DATA\n0 / END OF FIXED SHUNT DATA, BEGIN GENERATOR DATA\n" +
           gens +
           "0 / END OF GENERATOR DATA, BEGIN BRANCH DATA\n"
           "1, 2,'1', 0.0, 0.05, 0.0, 500, 500, 500\n2, 3,'1', 0.0, 0.05, 0.0, 500, 500, 500\n"
           "3, 4,'1', 0.0, 0.05, 0.0, 500, 500, 500\n1, 4,'1', 0.0, 0.05, 0.0, 500, 500, 500\n"
           "1, 3,'1', 0.0, 0.05, 0.0, 500, 500, 500\n"
           "0 / END OF BRANCH DATA, BEGIN TRANSFORMER DATA\n0 / END OF TRANSFORMER DATA\n" +
           "0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\nQ\n";
}

constexpr double total_load_mw = 280.0;

// The units' outputs when `need` MW more is asked of the sharers (index in
// `sharers`, into u; pg0 their outputs before): each at pg0 + its share of
// what the free ones take, its weight over theirs, until it reaches PT; the
// first sharer (the slack's unit) takes what is left beyond every PT.
std::vector<double> shared_up(const std::vector<TestUnit> &u, const std::vector<double> &pg0,
                              const std::vector<int> &sharers, const std::string &mode, double need)
{
    std::vector<double> pg = pg0;
    std::vector<int> free = sharers;
    const auto w = [&](int i) {
        return mode == "pmax" ? u[i].pt : mode == "reserve" ? u[i].pt - pg0[i] : std::fabs(pg0[i]);
    };
    double rest = need;
    while (!free.empty()) {
        double sum = 0;
        for (const int i : free) {
            sum += w(i);
        }
        std::vector<int> still;
        double taken = 0;
        for (const int i : free) {
            if (pg0[i] + w(i) / sum * rest > u[i].pt) {
                pg[i] = u[i].pt;
                taken += u[i].pt - pg0[i];
            } else {
                still.push_back(i);
            }
        }
        if (still.size() == free.size()) {
            for (const int i : free) {
                pg[i] = pg0[i] + w(i) / sum * rest;
            }
            return pg;
        }
        rest -= taken;
        free = still;
    }
    pg[static_cast<std::size_t>(sharers.at(0))] += rest;
    return pg;
}

const char *const remove_unit_4 = "CONTINGENCY LOSE_4\nREMOVE UNIT 1 FROM BUS 4\nEND\nEND\n";

// One outage of unit 4 on the lossless network, with the units' outputs
// expected by shared_up.
struct ClosedForm {
    std::string what, mode;
    std::vector<TestUnit> units;
    std::vector<int> sharers; // the slack's unit first
    std::string note;         // a part the note must have; "" none about the sharing
};

void expect_closed_form(const ClosedForm &c)
{
    SCOPED_TRACE(c.what);
    Layout run;
    ASSERT_EQ(run.run(four_bus(c.units), remove_unit_4,
                      R"({"generator_response": ")" + c.mode + R"(", "detail": ["LOSE_4"]})", 2),
              0)
        << run.err();
    std::vector<double> pg0 = {0, c.units[1].pg, c.units[2].pg, c.units[3].pg};
    pg0[0] = total_load_mw - pg0[1] - pg0[2] - pg0[3];
    std::vector<double> before = pg0;
    before[3] = 0; // the lost unit
    const std::vector<double> want = shared_up(c.units, before, c.sharers, c.mode, c.units[3].pg);
    const auto pg = unit_pg(run.detail("LOSE_4", "units.csv"));
    ASSERT_EQ(pg.size(), 4U);
    double moved = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(pg.at(std::to_string(i + 1) + "-1"), want[i], 1e-6) << "unit at bus " << i + 1;
        moved += i > 0 ? want[i] - pg0[i] : 0.0;
    }
    EXPECT_EQ(pg.at("4-1"), 0.0);
    // The base case's files are those of its own solution, whatever the
    // sharing measured after it.
    EXPECT_NEAR(unit_pg(run.base("base_units.csv")).at("1-1"), pg0[0], 1e-6);
    EXPECT_NEAR(field(run.base("base_buses.csv").at(0), 5), pg0[0], 1e-6);
    const auto row = run.results().at(0);
    EXPECT_EQ(row.at(col::status), "converged");
    if (c.mode == "swing") {
        EXPECT_EQ(row.at(col::response_mw), "");
    } else {
        EXPECT_NEAR(field(row, col::response_mw), moved, 1e-6);
    }
    const std::string &note = row.at(col::note);
    if (c.note.empty()) {
        EXPECT_EQ(note.find("at a limit"), std::string::npos) << note;
        EXPECT_EQ(note.find("reserve exhausted"), std::string::npos) << note;
    } else {
        EXPECT_NE(note.find(c.note), std::string::npos) << note;
    }
}

} // namespace

// Unit 4 (50 MW) lost on the lossless network: the slack's unit and the
// other sharers end at their closed-form shares, limits held and named,
// units without limits or following their resource left alone; with
// "swing" the slack takes it all.
TEST(GeneratorResponse, SharesALostUnitInClosedForm)
{
    const std::vector<TestUnit> base = {{0, 300, 0}, {80, 200, 0}, {60, 100, 10}, {50, 150, 0}};
    auto with = [&base](int i, TestUnit t) {
        std::vector<TestUnit> u = base;
        u[static_cast<std::size_t>(i)] = t;
        return u;
    };
    std::vector<TestUnit> tight = base;
    tight[0].pt = 110;
    tight[1].pt = 90;
    tight[2].pt = 70;
    const std::vector<ClosedForm> cases = {
        {"pmax", "pmax", base, {0, 1, 2}, ""},
        {"reserve", "reserve", base, {0, 1, 2}, ""},
        {"output", "output", base, {0, 1, 2}, ""},
        {"unit 3 held at PT", "pmax", with(2, {60, 65, 10}), {0, 1, 2}, "at a limit: unit 3 '1' (PT)"},
        {"reserve exhausted", "reserve", tight, {0, 1, 2}, "reserve exhausted: 10.0 MW left on the swing"},
        {"PT 9999 left out", "pmax", with(2, {60, 9999, 10}), {0, 1}, ""},
        {"WMOD 1 left out", "output", with(2, {60, 100, 10, 1}), {0, 1}, ""},
        {"no unit with limits",
         "pmax",
         {{0, 9999, 0}, {80, 9999, 0}, {60, 9999, 10}, {50, 9999, 0}},
         {0},
         "no unit shares the change: the swing takes it"},
        {"swing", "swing", base, {0}, ""},
    };
    for (const ClosedForm &c : cases) {
        expect_closed_form(c);
    }
}

namespace {

// A unit outage on a public case: the contingency's state is the base case
// of its own dispatch (every unit at its pg_mw after the outage, the lost
// one out), solved with "swing", to 1e-9 pu; response_mw is what the units
// off the slack moved. Both solved to 1e-11 pu, so that the solves' own
// tolerance does not blur the comparison (at the default 1e-8 pu the two
// differ by up to 2e-9 pu on ieee14).
struct Equivalence {
    std::string name;
    std::string raw;
    std::vector<std::string> blocks;
};

const char *const tight_tolerance = R"({"tolerance_pu": 1e-11, "generator_response": ")";

// The bus a contingency's note says the slack moved to; "" none.
std::string slack_moved_to(const std::string &note)
{
    const std::string part = "slack moved to bus ";
    const auto at = note.find(part);
    return at == std::string::npos ? "" : note.substr(at + part.size(), note.find(';', at) - at - part.size());
}

// The largest differences of |V| and of the angle from the slack's
// (radians) between two bus files, over the buses of `buses`.
std::pair<double, double> largest_differences(const Rows &buses, const Rows &other_buses, const std::string &slack)
{
    std::map<std::string, std::vector<std::string>> other;
    for (const auto &row : other_buses) {
        other[row.at(0)] = row;
    }
    double ref = 0;
    for (const auto &row : buses) {
        ref = row.at(0) == slack ? field(row, 4) - field(other.at(slack), 4) : ref;
    }
    double vm = 0;
    double va = 0;
    for (const auto &row : buses) {
        const auto &o = other.at(row.at(0));
        vm = std::max(vm, std::fabs(field(row, 3) - field(o, 3)));
        va = std::max(va, std::fabs(field(row, 4) - ref - field(o, 4)) * M_PI / 180.0);
    }
    return {vm, va};
}

// The RAW of a contingency's own dispatch: each unit at its pg_mw of
// `units` (the detail's), a unit out there out, the slack where the
// contingency put it. `slacks`: the buses with IDE 3 in it.
std::string own_dispatch(const std::string &raw, const Rows &units, const std::string &note,
                         std::set<std::string> &slacks)
{
    std::map<std::string, std::string> ide;
    const std::string moved_to = slack_moved_to(note);
    if (!moved_to.empty()) {
        for (const std::string &b : with_ide(raw, {}).second) {
            ide[b] = "1";
        }
        ide[moved_to] = "3";
    }
    std::string text;
    std::tie(text, slacks) = with_ide(raw, ide);
    std::map<std::string, std::pair<std::string, std::string>> after; // pg_mw, status
    for (const auto &u : units) {
        after[u.at(0) + "-" + trim(u.at(1))] = {u.at(3), u.at(2)};
    }
    return edit_units(text, [&after](const std::string &bus, const std::string &id, auto &f) {
        const auto &[pg, status] = after.at(bus + "-" + id);
        f.at(2) = pg;
        f.at(14) = status == "0" ? "0" : f.at(14);
    });
}

void expect_base_case_of_own_dispatch(const Equivalence &e, const std::string &mode)
{
    SCOPED_TRACE(e.name + " " + mode);
    Layout run;
    std::string con;
    std::string labels;
    for (const std::string &b : e.blocks) {
        con += b;
        labels += (labels.empty() ? "\"" : ", \"") + label_of(b);
        labels += "\"";
    }
    ASSERT_EQ(run.run(e.raw, con + "END\n", tight_tolerance + mode + R"(", "detail": [)" + labels + "]}", 2), 0)
        << run.err();
    const auto before = unit_pg(run.base("base_units.csv"));
    const Rows results = run.results();
    ASSERT_EQ(results.size(), e.blocks.size());
    for (std::size_t k = 0; k < e.blocks.size(); ++k) {
        const std::string label = label_of(e.blocks[k]);
        SCOPED_TRACE(label);
        ASSERT_EQ(results[k].at(col::status), "converged") << results[k].at(col::note);
        const Rows units = run.detail(label, "units.csv");
        std::set<std::string> slacks;
        const std::string own = own_dispatch(e.raw, units, results[k].at(col::note), slacks);
        double moved = 0;
        for (const auto &u : units) {
            const bool counts = slacks.count(u.at(0)) == 0 && u.at(2) == "1";
            moved += counts ? field(u, 3) - before.at(u.at(0) + "-" + trim(u.at(1))) : 0.0;
        }
        EXPECT_NEAR(field(results[k], col::response_mw), moved, 1e-6);
        Layout again;
        ASSERT_EQ(again.run(own, "END\n", std::string(tight_tolerance) + "swing\"}", 1), 0) << again.err();
        const Rows buses = run.detail(label, "buses.csv");
        ASSERT_FALSE(buses.empty());
        const auto [vm, va] = largest_differences(buses, again.base("base_buses.csv"), *slacks.begin());
        EXPECT_LE(vm, 1e-9);
        EXPECT_LE(va, 1e-9);
    }
}

// ieee14 with limits its units do not have (PT 10000): PT about its MBASE,
// PB 0.
std::string ieee14_with_limits()
{
    const std::map<std::string, std::string> pt = {{"1", "400"}, {"2", "100"}, {"3", "60"}, {"6", "25"}, {"8", "25"}};
    return edit_units(read_file(cases_dir() + "/ieee14/case.raw"),
                      [&pt](const std::string &bus, const std::string &, auto &f) {
                          f.at(16) = pt.at(bus);
                          f.at(17) = "0";
                      });
}

// The blocks of a list that remove a unit in service in `raw`.
std::vector<std::string> unit_outages(const std::string &con, const std::string &raw)
{
    std::set<std::string> on; // "REMOVE UNIT ID FROM BUS B"
    edit_units(raw, [&on](const std::string &bus, const std::string &id, auto &f) {
        if (trim(f.at(14)) == "1") {
            on.insert("REMOVE UNIT " + id + " FROM BUS " + bus);
        }
    });
    std::vector<std::string> found;
    for (const std::string &b : con_blocks(con)) {
        const auto line = b.find('\n') + 1;
        if (on.count(trim(b.substr(line, b.find('\n', line) - line))) > 0) {
            found.push_back(b);
        }
    }
    return found;
}

} // namespace

TEST(GeneratorResponse, ContingencyIsTheBaseCaseOfItsDispatchOnIeee14)
{
    REQUIRE_CASES();
    const Equivalence e{"ieee14", ieee14_with_limits(),
                        unit_outages(read_file(cases_dir() + "/ieee14/case.con"), ieee14_with_limits())};
    ASSERT_EQ(e.blocks.size(), 5U);
    for (const char *mode : {"pmax", "reserve", "output"}) {
        expect_base_case_of_own_dispatch(e, mode);
    }
}

TEST(GeneratorResponse, ContingencyIsTheBaseCaseOfItsDispatchOnActivsg2000)
{
    REQUIRE_CASES();
    const std::string raw = read_file(cases_dir() + "/activsg2000/case.raw");
    std::stringstream header(raw.substr(0, raw.find('\n')));
    std::string rev;
    for (int i = 0; i < 3; ++i) {
        std::getline(header, rev, ',');
    }
    ASSERT_EQ(trim(rev), "33") << "the header's REV";
    const std::vector<std::string> all = unit_outages(read_file(cases_dir() + "/activsg2000/case.con"), raw);
    ASSERT_GE(all.size(), 5U);
    Equivalence e{"activsg2000", raw, {}};
    for (std::size_t k = 0; k < 5; ++k) {
        e.blocks.push_back(all[k * (all.size() - 1) / 4]);
    }
    for (const char *mode : {"pmax", "reserve", "output"}) {
        expect_base_case_of_own_dispatch(e, mode);
    }
}

namespace {

// Two results files alike field by field but solve_ms, response_mw empty.
void expect_same_rows_but_time(const Rows &a, const Rows &b)
{
    const std::size_t solve_ms = column_of(results_columns, "solve_ms");
    ASSERT_EQ(a.size(), b.size());
    ASSERT_GT(a.size(), 5U);
    for (std::size_t k = 0; k < a.size(); ++k) {
        for (std::size_t j = 0; j < a[k].size(); ++j) {
            if (j != solve_ms && j != col::response_mw) {
                EXPECT_EQ(a[k].at(j), b[k].at(j)) << a[k].at(col::label) << " column " << j;
            }
        }
        EXPECT_EQ(b[k].at(col::response_mw), "");
    }
}

} // namespace

// "swing" is the default: the same rows, field by field, as no option, but
// solve_ms and response_mw.
TEST(GeneratorResponse, SwingIsTheDefault)
{
    REQUIRE_CASES();
    for (const char *name : {"ieee14", "activsg2000"}) {
        SCOPED_TRACE(name);
        const std::string raw = read_file(cases_dir() + "/" + name + "/case.raw");
        const std::vector<std::string> blocks = con_blocks(read_file(cases_dir() + "/" + name + "/case.con"));
        std::string con;
        for (std::size_t k = 0; k < blocks.size(); k += 1 + blocks.size() / 60) {
            con += blocks[k];
        }
        con += "END\n";
        Layout plain;
        Layout swing;
        ASSERT_EQ(plain.run(raw, con, "{}", 2), 0) << plain.err();
        ASSERT_EQ(swing.run(raw, con, R"({"generator_response": "swing"})", 2), 0) << swing.err();
        expect_same_rows_but_time(plain.results(), swing.results());
    }
}

TEST(GeneratorResponse, RefusesUnknownModes)
{
    const std::vector<TestUnit> units = {{0, 300, 0}, {80, 200, 0}, {60, 100, 10}, {50, 150, 0}};
    for (const char *key : {"generator_response", "base_generator_response"}) {
        for (const char *value : {R"("Pmax")", R"("none")", "true", "1", R"(["pmax"])", "null"}) {
            SCOPED_TRACE(std::string(key) + " " + value);
            Layout run;
            EXPECT_EQ(run.run(four_bus(units), remove_unit_4, "{\"" + std::string(key) + "\": " + value + "}", 2), 1);
            EXPECT_EQ(run.err(), "vandrelsolve: ./options.json: option '" + std::string(key) +
                                     "' must be \"swing\", \"pmax\", \"reserve\" or \"output\"\n");
            EXPECT_FALSE(fs::exists(run.root / "work_dir/base_buses.csv"));
        }
    }
}

// The load at bus 3 (120 MW) lost where the units can fall by 70 MW in all
// (to PB): each held at PB, the slack's unit 50 MW below its PB.
TEST(GeneratorResponse, LeavesTheSwingWhatTheUnitsCanNotShed)
{
    const std::vector<TestUnit> units = {{0, 200, 50}, {80, 200, 70}, {60, 100, 50}, {50, 150, 40}};
    Layout run;
    ASSERT_EQ(run.run(four_bus(units), "CONTINGENCY LL\nREMOVE LOAD 1 FROM BUS 3\nEND\nEND\n",
                      R"({"generator_response": "reserve", "detail": ["LL"]})", 2),
              0)
        << run.err();
    const auto pg = unit_pg(run.detail("LL", "units.csv"));
    const std::map<std::string, double> want = {{"1-1", 0.0}, {"2-1", 70.0}, {"3-1", 50.0}, {"4-1", 40.0}};
    for (const auto &[unit, mw] : want) {
        EXPECT_NEAR(pg.at(unit), mw, 1e-6) << unit;
    }
    const auto row = run.results().at(0);
    EXPECT_NEAR(field(row, col::response_mw), -30.0, 1e-6);
    EXPECT_EQ(row.at(col::note), "reserve exhausted: -50.0 MW left on the swing; at a limit: unit 1 '1' (PB), unit 2 "
                                 "'1' (PB), unit 3 '1' (PB), unit 4 '1' (PB)");
}

// The RAW's dispatch 40 MW short of the lossless load (the slack's unit at
// 50 MW where the solve needs 90): with base_generator_response "pmax"
// every unit, the slack's too, takes its share by PT.
TEST(GeneratorResponse, BalancesTheBaseCaseDispatch)
{
    const std::vector<TestUnit> units = {{50, 300, 0}, {80, 200, 0}, {60, 100, 10}, {50, 150, 0}};
    Layout run;
    ASSERT_EQ(run.run(four_bus(units, 50.0), "END\n", R"({"base_generator_response": "pmax"})", 1), 0) << run.err();
    const auto pg = unit_pg(run.base("base_units.csv"));
    const std::vector<double> want = shared_up(units, {50, 80, 60, 50}, {0, 1, 2, 3}, "pmax", 40.0);
    double moved = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(pg.at(std::to_string(i + 1) + "-1"), want[i], 1e-6) << "unit at bus " << i + 1;
        moved += i > 0 ? want[i] - units[i].pg : 0.0;
    }
    EXPECT_NEAR(moved, 24.0, 1e-9);
    EXPECT_NE(run.out().find("vandrelsolve: base case: generator response (pmax): units other than the slacks' "
                             "moved 24.0 MW from the RAW's dispatch\n"),
              std::string::npos)
        << run.out();
    Layout swing;
    ASSERT_EQ(swing.run(four_bus(units, 50.0), "END\n", "{}", 1), 0) << swing.err();
    EXPECT_EQ(swing.out().find("generator response"), std::string::npos) << swing.out();
    EXPECT_NEAR(unit_pg(swing.base("base_units.csv")).at("1-1"), 90.0, 1e-6);
}

// Two units at the slack bus of ranges (PT − PB) 200 and 50, so that their
// shares of the slack's output in the base case (32 and 58 MW) move by
// pmax weights (200 : 100) unlike their ranges: each ends at PG0 + α·k.
// The detail's units.csv shares the slack's output by PT − PB instead
// (52 and 63 MW), whatever the sharing gave each unit: enable when it
// shows the sharing's own outputs.
TEST(GeneratorResponse, ShowsTheSlackUnitsAtTheirShares)
{
    const std::vector<TestUnit> units = {{0, 200, 0}, {80, 200, 0}, {60, 100, 10}, {50, 150, 0}};
    const std::string raw =
        replaced(four_bus(units), "0 / END OF GENERATOR DATA",
                 "1,'2', 0, 0.0, 300.0, -300.0, 1.0, 0, 100.0, 0,1,0,0,1,1,100, 100, 50, 1,1,0,1,0,1,0,1, 0, 1.0\n"
                 "0 / END OF GENERATOR DATA");
    Layout run;
    ASSERT_EQ(run.run(raw, remove_unit_4, R"({"generator_response": "pmax", "detail": ["LOSE_4"]})", 2), 0)
        << run.err();
    const auto before = unit_pg(run.base("base_units.csv"));
    EXPECT_NEAR(before.at("1-1"), 32.0, 1e-6);
    EXPECT_NEAR(before.at("1-2"), 58.0, 1e-6);
    const auto pg = unit_pg(run.detail("LOSE_4", "units.csv"));
    EXPECT_NEAR(pg.at("2-1"), 80.0 + 50.0 * 200 / 600, 1e-6);
    EXPECT_NEAR(pg.at("1-1"), 32.0 + 50.0 * 200 / 600, 1e-6);
    EXPECT_NEAR(pg.at("1-2"), 58.0 + 50.0 * 100 / 600, 1e-6);
}
