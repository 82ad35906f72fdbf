// Every kind of element line against the network it leaves: a contingency
// gives the same result as the base case of the same RAW edited by hand to
// the network after it, solved from the same start (the base case's
// voltages and held buses). Then how the lines are read.

#include "contingency/contingency.h"
#include "network/build.h"
#include "network/islands.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/dc_rounds.h"
#include "powerflow/remote_regulation.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "test_data.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using Edit = std::function<void(RawCase &)>;

// One contingency of one case: its element line, the RAW the contingency is
// solved on (the case with `before` applied), the RAW of the network after
// it (the case with `after` applied), and the load the line itself takes out.
struct Row {
    std::string line;
    Edit before = [](RawCase &) {};
    Edit after = [](RawCase &) {};
    double lost_mw = 0;
};

std::string number(double x)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", x);
    return buf;
}

// The nth bus (from 0, RAW order) of type 1 with no unit and an in-service
// load drawing MW.
int load_bus(const RawCase &raw, int nth)
{
    for (const Bus &b : raw.buses) {
        const bool unit =
            std::any_of(raw.units.begin(), raw.units.end(), [&b](const Unit &u) { return u.bus == b.number; });
        const bool load = std::any_of(raw.loads.begin(), raw.loads.end(),
                                      [&b](const Load &l) { return l.bus == b.number && l.status != 0 && l.pl > 0; });
        if (b.ide == 1 && !unit && load && nth-- == 0) {
            return b.number;
        }
    }
    ADD_FAILURE() << "no such load bus";
    return 0;
}

double bus_load_mw(const RawCase &raw, int bus)
{
    double p = 0;
    for (const Load &l : raw.loads) {
        p += l.bus == bus && l.status != 0 ? l.pl + l.ip + l.yp : 0.0;
    }
    return p;
}

void scale_loads(RawCase &raw, int bus, double f)
{
    for (Load &l : raw.loads) {
        if (l.bus == bus && l.status != 0) {
            for (double *x : {&l.pl, &l.ql, &l.ip, &l.iq, &l.yp, &l.yq}) {
                *x *= f;
            }
        }
    }
}

// The nth in-service unit of a type 2 bus with 20 MW to spare.
const Unit &spare_unit(const RawCase &raw, int nth)
{
    for (const Unit &u : raw.units) {
        const auto b =
            std::find_if(raw.buses.begin(), raw.buses.end(), [&u](const Bus &x) { return x.number == u.bus; });
        if (u.status != 0 && b->ide == 2 && u.pt - u.pg > 20 && nth-- == 0) {
            return u;
        }
    }
    ADD_FAILURE() << "no such unit";
    return raw.units.front();
}

Unit &unit_of(RawCase &raw, const Unit &u)
{
    return *std::find_if(raw.units.begin(), raw.units.end(), [&u](const Unit &x) { return x.line == u.line; });
}

// Disconnecting a bus: its branches open, its loads, shunts, units and DC
// lines out.
Row disconnect_bus(const RawCase &raw)
{
    const int b = load_bus(raw, 2);
    return {"DISCONNECT BUS " + std::to_string(b), [](RawCase &) {},
            [b](RawCase &r) {
                for (Branch &x : r.branches) {
                    x.status = x.from == b || x.to == b ? 0 : x.status;
                }
                for (Transformer &x : r.transformers) {
                    x.status = x.i == b || x.j == b ? 0 : x.status;
                }
                for (Load &x : r.loads) {
                    x.status = x.bus == b ? 0 : x.status;
                }
                for (FixedShunt &x : r.fixed_shunts) {
                    x.status = x.bus == b ? 0 : x.status;
                }
                for (SwitchedShunt &x : r.switched_shunts) {
                    x.status = x.bus == b ? 0 : x.status;
                }
                for (Unit &x : r.units) {
                    x.status = x.bus == b ? 0 : x.status;
                }
            }};
}

// Closing a line the RAW holds out of service: the case with the sixth
// line out, closed again.
Row close_branch(const RawCase &raw)
{
    const Branch &br = raw.branches.at(5);
    const int line = br.line;
    return {"CLOSE LINE FROM BUS " + std::to_string(br.from) + " TO BUS " + std::to_string(br.to) + " CKT '" + br.ckt +
                "'",
            [line](RawCase &r) {
                for (Branch &x : r.branches) {
                    x.status = x.line == line ? 0 : x.status;
                }
            },
            [line](RawCase &r) {
                for (Branch &x : r.branches) {
                    x.status = x.line == line ? 1 : x.status;
                }
            }};
}

Row remove_load(const RawCase &raw)
{
    const int b = load_bus(raw, 1);
    const Load &l = *std::find_if(raw.loads.begin(), raw.loads.end(), [b](const Load &x) { return x.bus == b; });
    const int line = l.line;
    return {"TRIP LOAD " + l.id + " FROM BUS " + std::to_string(b), [](RawCase &) {},
            [line](RawCase &r) {
                for (Load &x : r.loads) {
                    x.status = x.line == line ? 0 : x.status;
                }
            },
            l.pl + l.ip + l.yp};
}

// Every fixed shunt of the first bus with one in service.
Row remove_shunt(const RawCase &raw)
{
    const auto s = std::find_if(raw.fixed_shunts.begin(), raw.fixed_shunts.end(),
                                [](const FixedShunt &x) { return x.status != 0 && x.bl != 0; });
    EXPECT_NE(s, raw.fixed_shunts.end());
    const int b = s->bus;
    return {"REMOVE SHUNT FROM BUS " + std::to_string(b), [](RawCase &) {},
            [b](RawCase &r) {
                for (FixedShunt &x : r.fixed_shunts) {
                    x.status = x.bus == b ? 0 : x.status;
                }
            }};
}

Row remove_swshunt(const RawCase &raw)
{
    const auto s = std::find_if(raw.switched_shunts.begin(), raw.switched_shunts.end(),
                                [](const SwitchedShunt &x) { return x.status != 0 && x.binit != 0; });
    EXPECT_NE(s, raw.switched_shunts.end());
    const int line = s->line;
    return {"disconnect swshunt '" + s->id + "' from bus " + std::to_string(s->bus), [](RawCase &) {},
            [line](RawCase &r) {
                for (SwitchedShunt &x : r.switched_shunts) {
                    x.status = x.line == line ? 0 : x.status;
                }
            }};
}

Row set_bus_load(const RawCase &raw)
{
    const int b = load_bus(raw, 3);
    const double p0 = bus_load_mw(raw, b);
    const double to = 1.25 * p0;
    return {"SET BUS " + std::to_string(b) + " LOAD TO " + number(to) + " MW", [](RawCase &) {},
            [b, p0, to](RawCase &r) { scale_loads(r, b, to / p0); }};
}

Row increase_bus_load(const RawCase &raw)
{
    const int b = load_bus(raw, 0);
    return {"raise bus " + std::to_string(b) + " load by 15 percent", [](RawCase &) {},
            [b](RawCase &r) { scale_loads(r, b, 1.15); }};
}

Row set_unit(const RawCase &raw)
{
    const Unit &u = spare_unit(raw, 1);
    const double pg = u.pg + 15;
    return {"CHANGE UNIT " + u.id + " AT BUS " + std::to_string(u.bus) + " TO " + number(pg) + " MW", [](RawCase &) {},
            [u, pg](RawCase &r) { unit_of(r, u).pg = pg; }};
}

Row increase_unit(const RawCase &raw)
{
    const Unit &u = spare_unit(raw, 0);
    return {"INCREASE MACHINE " + u.id + " FROM BUS " + std::to_string(u.bus) + " BY 10 PERCENT", [](RawCase &) {},
            [u](RawCase &r) { unit_of(r, u).pg = u.pg * 1.1; }};
}

// Far below PB: clamped there.
Row reduce_unit_to_pb(const RawCase &raw)
{
    const Unit &u = spare_unit(raw, 2);
    return {"REDUCE UNIT " + u.id + " AT BUS " + std::to_string(u.bus) + " BY 1e5 MW", [](RawCase &) {},
            [u](RawCase &r) { unit_of(r, u).pg = u.pb; }};
}

Row block_two_terminal(const RawCase &raw)
{
    const std::string name = raw.two_terminal_dc.at(0).name;
    return {"BLOCK TWOTERMDC '" + name + "'", [](RawCase &) {}, [](RawCase &r) { r.two_terminal_dc.at(0).mdc = 0; }};
}

Row block_vsc(const RawCase &raw)
{
    return {"TRIP VSCDC \"" + raw.vsc_dc.at(0).name + "\"", [](RawCase &) {},
            [](RawCase &r) { r.vsc_dc.at(0).mdc = 0; }};
}

// The six-bus network with a VSC line from bus 3 (holding 40 MW at power
// factor 0.95) to bus 5 (holding the DC voltage and its AC bus at 1.01 pu),
// as in the DC line tests.
RawCase six_bus_vsc(const std::string &file)
{
    RawCase raw = read_raw(file);
    VscDc d;
    d.name = "V1";
    d.mdc = 1;
    d.rdc = 2.0;
    d.converters[0] = {3, 2, 2, -40.0, 0.95, 100.0, 0.0, 50.0, 0.0, 0.0, 30.0, -30.0, 0};
    d.converters[1] = {5, 1, 1, 150.0, 1.01, 200.0, 0.0, 50.0, 0.0, 0.0, 30.0, -30.0, 0};
    raw.vsc_dc.push_back(d);
    return raw;
}

// The edited RAW's network solved from the base case's start: its voltages,
// with the buses held there held at the same limits, every island without a
// slack cut off.
PfSolution solve_from(const Network &n2, const BaseCase &base, const PfOptions &opt, std::vector<char> &on)
{
    on = branches_in_service(n2);
    const Ybus y = make_ybus(n2, on);
    NewtonWorkspace ws = make_workspace(y, n2);
    BusSchedule sch = base_schedule(n2);
    std::vector<int> island;
    const int count = find_islands(n2, on, sch.kind, island);
    const std::vector<char> keep = islands_to_solve(n2, island, count);
    std::vector<signed char> held(n2.buses.size(), 0);
    Voltages v = base.sol.v;
    for (size_t i = 0; i < n2.buses.size(); ++i) {
        const BusKind k = sch.kind[i];
        if (island[i] >= 0 && keep[static_cast<size_t>(island[i])] == 0) {
            sch.kind[i] = BusKind::off;
        } else if (base.sol.held[i] != 0 && (k == BusKind::pv || k == BusKind::reg)) {
            held[i] = base.sol.held[i];
            sch.kind[i] = BusKind::pq;
            sch.qgen[i] = held[i] > 0 ? sch.qmax[i] : sch.qmin[i];
        } else if (k == BusKind::pv || k == BusKind::slack) {
            v.vm[static_cast<Eigen::Index>(i)] = sch.vs[i];
        }
    }
    if (!n2.groups.empty()) {
        refresh_groups(n2, sch, held, v);
    }
    if (!sch.pdc.empty()) {
        sch.taps = sch.taps.size() == base.sol.sch.taps.size() ? base.sol.sch.taps : sch.taps;
        dc_injections(n2, sch, v);
    }
    return solve_with_q_limits(n2, y, sch, held, v, opt, ws);
}

// The contingency's row and solution against the edited RAW's: status,
// what is cut off, every bus voltage to 1e-9 pu, every figure of the
// assessment (loadings, voltages, violations) to 1e-7.
void expect_equivalent(const RawCase &raw, const Row &row, const PfOptions &opt)
{
    SCOPED_TRACE(row.line);
    RawCase before = raw;
    row.before(before);
    const Network net = build_network(before);
    BaseCase base = solve_base_case(net, opt);
    ASSERT_TRUE(base.sol.converged) << base.sol.failure;
    const CtgResult r = solve_contingency(net, base, CtgBlock{"C", row.line, 1}, opt, base.ws);
    ASSERT_EQ(r.status, CtgStatus::converged) << r.note;

    RawCase after = before;
    row.after(after);
    const Network n2 = build_network(after);
    std::vector<char> on2;
    const PfSolution s2 = solve_from(n2, base, opt, on2);
    ASSERT_TRUE(s2.converged) << s2.failure;

    int cut = 0;
    double cut_mw = 0;
    double dv = 0;
    for (int i = 0; i < net.raw_buses; ++i) {
        const bool off = s2.sch.kind[i] == BusKind::off;
        ASSERT_EQ(r.sol.sch.kind[i] == BusKind::off, off) << "bus " << net.buses[i].number;
        if (off && base.sol.sch.kind[i] != BusKind::off) {
            const NetBus &own = net.own.empty() ? net.buses[i] : net.own[i];
            ++cut;
            cut_mw += (own.pd + own.ip + own.yp) * net.sbase;
        }
        if (!off) {
            dv = std::max(dv, std::abs(std::polar(r.sol.v.vm[i], r.sol.v.va[i]) - std::polar(s2.v.vm[i], s2.v.va[i])));
        }
    }
    EXPECT_LE(dv, 1e-9);
    EXPECT_EQ(r.buses_cut_off, cut);
    EXPECT_NEAR(r.load_cut_off_mw, cut_mw, 1e-7);
    EXPECT_NEAR(r.load_lost_mw, row.lost_mw, 1e-7);

    const Assessment a = r.assessment;
    const Assessment b = assess(n2, on2, s2, opt.contingency_rating, true);
    EXPECT_NEAR(a.max_loading, b.max_loading, 1e-7);
    EXPECT_EQ(a.max_loading_branch, b.max_loading_branch);
    EXPECT_EQ(a.min_vm_bus, b.min_vm_bus);
    EXPECT_EQ(a.max_vm_bus, b.max_vm_bus);
    ASSERT_EQ(a.violations.size(), b.violations.size());
    for (size_t k = 0; k < a.violations.size(); ++k) {
        EXPECT_EQ(a.violations[k].element, b.violations[k].element);
        EXPECT_NEAR(a.violations[k].value, b.violations[k].value, 1e-7);
    }
}

} // namespace

// Kinds × cases: each row is solved as a contingency and as the base case of
// the RAW edited to match. The DC lines are the IEEE 300-bus case's
// two-terminal line and a VSC line added to the six-bus network; the tie
// network's rows take out a load of a tied bus, change a unit of a node,
// disconnect a tied bus and close an open tie (joining two nodes); last, a
// closed line brings back a bus the base case cut off.
TEST(ContingencyKinds, EachEqualsTheRawEditedToTheNetworkAfterIt)
{
    REQUIRE_CASES();
    using Make = std::function<Row(const RawCase &)>;
    struct Kind {
        const char *name;
        Make make;
        std::vector<std::string> cases;
    };
    const std::string a2000 = cases_dir() + "/activsg2000/case.raw";
    const std::string ieee14 = cases_dir() + "/ieee14/case.raw";
    const std::string a200 = cases_dir() + "/activsg200/case.raw";
    const std::string six = std::string(paths::solver_test_data) + "/revisions/six_bus_v33.raw";
    const std::string ties = std::string(paths::solver_test_data) + "/ties/six_bus_ties_v33.raw";
    const std::vector<Kind> kinds = {
        {"disconnect bus", disconnect_bus, {a2000, ieee14}},
        {"close branch", close_branch, {a2000, ieee14}},
        {"remove load", remove_load, {a2000, ieee14}},
        {"remove shunt", remove_shunt, {a2000, ieee14}},
        {"remove switched shunt", remove_swshunt, {a2000, a200}},
        {"set bus load", set_bus_load, {a2000, ieee14}},
        {"increase bus load", increase_bus_load, {a2000, ieee14}},
        {"set unit", set_unit, {a2000, ieee14}},
        {"increase unit", increase_unit, {a2000, ieee14}},
        {"reduce unit below PB", reduce_unit_to_pb, {a2000, a200}},
        {"block two-terminal DC", block_two_terminal, {cases_dir() + "/ieee300/case.raw"}},
    };
    PfOptions opt;
    opt.tolerance_pu = 1e-11;
    int rows = 0;
    for (const std::string &file : {a2000, ieee14, a200, cases_dir() + "/ieee300/case.raw"}) {
        const RawCase raw = read_raw(file);
        for (const Kind &k : kinds) {
            if (std::find(k.cases.begin(), k.cases.end(), file) == k.cases.end()) {
                continue;
            }
            SCOPED_TRACE(std::string(k.name) + " in " + file);
            expect_equivalent(raw, k.make(raw), opt);
            ++rows;
        }
    }
    expect_equivalent(six_bus_vsc(six), block_vsc(six_bus_vsc(six)), opt);
    const RawCase tie_raw = read_raw(ties);
    const auto tie_load = [](RawCase &r) { r.loads.at(3).status = 0; };
    expect_equivalent(tie_raw, {"REMOVE LOAD 1 FROM BUS 7", [](RawCase &) {}, tie_load, 25.0}, opt);
    expect_equivalent(
        tie_raw, {"SET UNIT 1 AT BUS 8 TO 60 MW", [](RawCase &) {}, [](RawCase &r) { r.units.at(2).pg = 60; }}, opt);
    expect_equivalent(tie_raw,
                      {"DISCONNECT BUS 7", [](RawCase &) {},
                       [](RawCase &r) {
                           for (Branch &b : r.branches) {
                               b.status = b.from == 7 || b.to == 7 ? 0 : b.status;
                           }
                           r.loads.at(3).status = 0;
                       }},
                      opt);
    expect_equivalent(
        tie_raw,
        {"CLOSE BRANCH FROM BUS 7 TO BUS 3 CKT Z", [](RawCase &) {}, [](RawCase &r) { r.branches.back().status = 1; }},
        opt);
    // Line 7-8 alone joins bus 8 and its unit: out in the RAW, the base case
    // cuts bus 8 off, and closing it brings the bus back.
    const auto line_78 = [](int status) {
        return [status](RawCase &r) {
            for (Branch &b : r.branches) {
                b.status = b.from == 7 && b.to == 8 ? status : b.status;
            }
        };
    };
    expect_equivalent(read_raw(ieee14), {"CLOSE LINE FROM BUS 8 TO BUS 7", line_78(0), line_78(1)}, opt);
    EXPECT_EQ(rows, 21) << "every kind on its cases";
}

// How lines read: every spelling of every kind, the amounts and their
// signs, and lines that have a kind's shape but not its words or values.
TEST(ContingencyKinds, ElementLinesRead)
{
    using K = Element::Kind;
    struct Case {
        const char *line;
        K kind;
        int i, j, k;
        const char *id;
        bool set, percent;
        double amount;
    };
    const std::vector<Case> cases = {
        {"disconnect  bus 12", K::bus, 12, 0, 0, "", false, false, 0},
        {"TRIP BUS 12", K::bus, 12, 0, 0, "", false, false, 0},
        {"TRIP THREEWINDING FROM BUS 1 TO BUS 2 TO BUS 3 CIRCUIT 'T'", K::branch, 1, 2, 3, "T", false, false, 0},
        {"OPEN THREEWINDING BUS 1 TO BUS 2 TO BUS 3", K::branch, 1, 2, 3, "1", false, false, 0},
        {"CLOSE LINE FROM BUS 4 TO BUS 5 CKT 2", K::close_branch, 4, 5, 0, "2", false, false, 0},
        {"remove load \"L 1\" from bus 3", K::load, 3, 0, 0, "L 1", false, false, 0},
        {"DISCONNECT SHUNT FROM BUS 9", K::shunt, 9, 0, 0, "", false, false, 0},
        {"TRIP SWSHUNT 2 FROM BUS 9", K::swshunt, 9, 0, 0, "2", false, false, 0},
        {"BLOCK TWOTERMDC 'DC 1'", K::twotermdc, 0, 0, 0, "DC 1", false, false, 0},
        {"DISCONNECT VSCDC V1", K::vscdc, 0, 0, 0, "V1", false, false, 0},
        {"SET BUS 5 LOAD TO 80 MW", K::bus_load, 5, 0, 0, "", true, false, 80},
        {"change bus 5 load to 110 percent", K::bus_load, 5, 0, 0, "", true, true, 110},
        {"INCREASE BUS 5 LOAD BY 10 MW", K::bus_load, 5, 0, 0, "", false, false, 10},
        {"REDUCE BUS 5 LOAD BY 1.5e1 PERCENT", K::bus_load, 5, 0, 0, "", false, true, -15},
        {"SET MACHINE G FROM BUS 2 TO 0 MW", K::unit_output, 2, 0, 0, "G", true, false, 0},
        {"DECREASE UNIT 1 BUS 2 BY 20 PERCENT", K::unit_output, 2, 0, 0, "1", false, true, -20},
        {"RAISE UNIT 1 AT BUS 2 BY -5 MW", K::unit_output, 2, 0, 0, "1", false, false, -5},
        {"CLOSE THREEWINDING FROM BUS 1 TO BUS 2 TO BUS 3", K::unsupported, 0, 0, 0, "", false, false, 0},
        {"OPEN THREEWINDING FROM BUS 1 TO BUS 2", K::unsupported, 0, 0, 0, "", false, false, 0},
        {"REMOVE BUS 12", K::unsupported, 0, 0, 0, "", false, false, 0},
        {"BLOCK LINE FROM BUS 1 TO BUS 2", K::unsupported, 0, 0, 0, "", false, false, 0},
        {"SET UNIT 1 AT BUS 2 TO 10 PERCENT", K::unsupported, 0, 0, 0, "", false, false, 0},
        {"SET BUS 5 LOAD TO nan MW", K::unsupported, 0, 0, 0, "", false, false, 0},
        {"SET BUS 5 LOAD TO 1e999 MW", K::unsupported, 0, 0, 0, "", false, false, 0},
        {"INCREASE BUS 5 LOAD BY 10", K::unsupported, 0, 0, 0, "", false, false, 0},
        {"SET BUS 5 LOAD BY 10 MW", K::unsupported, 0, 0, 0, "", false, false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const Element e = parse_element(c.line);
        EXPECT_EQ(e.kind, c.kind);
        EXPECT_TRUE(e.why.empty()) << e.why;
        if (c.kind == K::unsupported) {
            continue;
        }
        EXPECT_EQ(std::vector<int>({e.i, e.j, e.k}), std::vector<int>({c.i, c.j, c.k}));
        EXPECT_EQ(e.id, c.id);
        EXPECT_EQ(e.set, c.set);
        EXPECT_EQ(e.percent, c.percent);
        EXPECT_EQ(e.amount, c.amount);
    }
    const Element negative = parse_element("SET UNIT 1 AT BUS 2 TO -10 MW");
    EXPECT_EQ(negative.kind, K::unsupported);
    EXPECT_EQ(negative.why, "a negative amount to set (-10)");
}

// A block of each kind on the IEEE 14-bus case, solved in list order and
// then in reverse on one base case: the same outcome each time, so results
// depend neither on the order of the list nor on how the ranks share it.
TEST(ContingencyKinds, ResultsDoNotDependOnTheOrder)
{
    REQUIRE_CASES();
    const Network net = build_network(read_raw(cases_dir() + "/ieee14/case.raw"));
    BaseCase base = solve_base_case(net, PfOptions());
    ASSERT_TRUE(base.sol.converged);
    const std::vector<std::string> lines = {
        "DISCONNECT BUS 14",
        "CLOSE BRANCH FROM BUS 1 TO BUS 2",
        "REMOVE LOAD 1 FROM BUS 3",
        "REMOVE SHUNT FROM BUS 9",
        "SET BUS 4 LOAD TO 60 MW",
        "INCREASE BUS 9 LOAD BY 20 PERCENT",
        "REMOVE UNIT 1 FROM BUS 3",
        "SET UNIT 1 AT BUS 2 TO 150 MW",
        "DECREASE UNIT 1 AT BUS 2 BY 50 PERCENT",
        "OPEN LINE FROM BUS 4 TO BUS 9",
        "REMOVE SWSHUNT FROM BUS 9",
    };
    std::vector<CtgResult> forward;
    for (const std::string &line : lines) {
        forward.push_back(solve_contingency(net, base, CtgBlock{"C", line, 1}, PfOptions(), base.ws));
    }
    EXPECT_EQ(forward.back().status, CtgStatus::not_found);
    for (size_t n = lines.size(); n-- > 0;) {
        SCOPED_TRACE(lines[n]);
        const CtgResult r = solve_contingency(net, base, CtgBlock{"C", lines[n], 1}, PfOptions(), base.ws);
        ASSERT_EQ(r.status, forward[n].status);
        EXPECT_EQ(r.note, forward[n].note);
        if (r.status == CtgStatus::converged) {
            EXPECT_LE((r.sol.v.vm - forward[n].sol.v.vm).cwiseAbs().maxCoeff(), 1e-12);
            EXPECT_LE((r.sol.v.va - forward[n].sol.v.va).cwiseAbs().maxCoeff(), 1e-12);
        }
    }
}
