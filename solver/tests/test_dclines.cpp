// DC lines: the two-terminal model against the solved states stored by the
// tools that wrote the IEEE 300-bus files, its converter equations and
// controls checked against their definitions, and a VSC line against the
// same network with units in place of its converters.

#include "contingency/contingency.h"
#include "helpers.h"
#include "io/input_error.h"
#include "network/build.h"
#include "network/dclink.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/dc_rounds.h"
#include "powerflow/newton.h"
#include "powerflow/state.h"
#include "powerflow/tie_flows.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "test_data.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

constexpr double deg = M_PI / 180.0;

struct Deviation {
    double vm = 0, va_deg = 0;
};

// Largest deviation of the solution from the RAW's stored state, angles
// taken relative to the first slack bus.
Deviation from_stored(const RawCase &raw, const Network &net, const PfSolution &s)
{
    std::map<int, const Bus *> stored;
    for (const Bus &b : raw.buses) {
        stored[b.number] = &b;
    }
    const double s0 = s.v.va[net.slack] / deg - stored[net.buses[net.slack].number]->va_deg;
    Deviation d;
    for (int i = 0; i < net.raw_buses; ++i) {
        const Bus &b = *stored[net.buses[i].number];
        d.vm = std::max(d.vm, std::abs(s.v.vm[i] - b.vm));
        d.va_deg = std::max(d.va_deg, std::abs(s.v.va[i] / deg - s0 - b.va_deg));
    }
    return d;
}

// The IEEE 300-bus data as its RAW gives the DC line 119 -> 120.
TwoTerminalDc ieee300_line()
{
    TwoTerminalDc d;
    d.name = "1";
    d.mdc = 1;
    d.rdc = 6.2;
    d.setvl = -100;
    d.vschd = 460;
    d.vcmod = 300;
    d.delti = 0.1;
    d.rectifier = {119, 4, 20, 15, 0, 6.8, 115, 0.7478, 0.99365, 1.5, 0.51, 0.00625, 0};
    d.inverter = {120, 4, 18, 20, 0, 6.8, 115, 0.7478, 0.935, 1.5, 0.51, 0.00625, 0};
    return d;
}

} // namespace

// The stored state of the IEEE 300-bus case was solved with its DC line
// and with the magnetizing B of its 8 transformers with MAG2 split between
// their two ends, as line charging (the RAW puts it all at bus I, which
// leaves 18 Mvar unbalanced at buses 223, 224 and 237). With that split,
// the solution from a flat start is the stored state; at the stored
// voltages the converters balance their buses whatever the split.
TEST(DcLines, Ieee300ReproducesItsStoredState)
{
    REQUIRE_CASES();
    const RawCase raw = read_raw(cases_dir() + "/ieee300/case.raw");
    Network net = build_network(raw);
    ASSERT_EQ(net.lcc.size(), 1U);
    PfOptions opt;
    opt.flat_start = true;
    const BaseCase as_read = solve_base_case(net, opt);
    ASSERT_TRUE(as_read.sol.converged) << as_read.sol.failure;
    Voltages stored = as_read.sol.v;
    for (int i = 0; i < net.raw_buses; ++i) {
        const Bus &b = raw.buses[static_cast<std::size_t>(i)];
        stored.vm[i] = b.vm;
        stored.va[i] = b.va_deg * deg;
    }
    NewtonWorkspace ws = make_workspace(as_read.y, net);
    int worst = -1;
    mismatch(net, as_read.y, as_read.sol.sch, stored, ws, worst);
    const auto n = static_cast<Eigen::Index>(net.buses.size());
    for (const int bus : {net.lcc[0].rbus, net.lcc[0].ibus}) {
        EXPECT_LE(std::abs(ws.f[bus]) * net.sbase, 0.01) << "P at bus " << net.buses[bus].number;
        if (as_read.sol.sch.kind[bus] == BusKind::pq) {
            EXPECT_LE(std::abs(ws.f[n + bus]) * net.sbase, 0.25) << "Q at bus " << net.buses[bus].number;
        }
    }

    int split = 0;
    for (NetBranch &br : net.branches) {
        if (br.kind == BranchKind::transformer && br.ysh_f.imag() != 0) {
            const double b = br.ysh_f.imag();
            br.ysh_f.imag(b / 2);
            br.ysh_t.imag(br.ysh_t.imag() + b / 2);
            ++split;
        }
    }
    EXPECT_EQ(split, 8);
    const BaseCase bc = solve_base_case(net, opt);
    ASSERT_TRUE(bc.sol.converged) << bc.sol.failure;
    const Deviation d = from_stored(raw, net, bc.sol);
    EXPECT_LE(d.vm, 2e-4);
    EXPECT_LE(d.va_deg, 0.005);
}

// The operating point against the definitions of each control, at AC
// voltages that call for each one in turn.
TEST(DcLines, ConverterEquationsAndControls)
{
    const double k = 3.0 * std::sqrt(2.0) / M_PI;
    {
        SCOPED_TRACE("power at the inverter, tap stepped to VSCHD");
        const TwoTerminalDc d = ieee300_line();
        const LccPoint p = lcc_point(d, 1.0435, 0.99819, 0.99365, 0.9722);
        EXPECT_EQ(p.mode, "power");
        EXPECT_NEAR(p.pi_mw, 100.0, 1e-9);
        EXPECT_NEAR(p.vdr_kv - p.vdi_kv, d.rdc * p.id_ka, 1e-9);
        EXPECT_NEAR(p.pr_mw - p.pi_mw, d.rdc * p.id_ka * p.id_ka, 1e-9);
        EXPECT_EQ(p.gamma_deg, 20.0);
        EXPECT_GE(p.alpha_deg, 15.0);
        EXPECT_LE(p.alpha_deg, 20.0);
        EXPECT_EQ(p.tap_r, 0.99365); // α within its limits: the tap stays
        // Whole steps from the RAW's tap, to the one nearest VSCHD.
        EXPECT_NEAR(std::remainder(p.tap_i - 0.9722, 0.00625), 0.0, 1e-12);
        EXPECT_LE(std::abs(p.vdi_kv - 460.0), 460.0 * 0.00625 / 0.935);
        // Vdi = Vdo·cos γ − NB·(3/π)·XC·Id, Q = P·tan φ with cos φ = Vdi/Vdo.
        const double vdo_i = 4 * k * 0.99819 * 115 * 0.7478 / p.tap_i;
        EXPECT_NEAR(p.vdi_kv, vdo_i * std::cos(20 * deg) - 4 * 3 / M_PI * 6.8 * p.id_ka, 1e-9);
        EXPECT_NEAR(p.qi_mvar, p.pi_mw * std::tan(std::acos(p.vdi_kv / vdo_i)), 1e-9);
    }
    {
        SCOPED_TRACE("power at the rectifier, continuous taps, compounding at the rectifier");
        TwoTerminalDc d = ieee300_line();
        d.setvl = 150;
        d.rcomp = d.rdc;
        d.rectifier.rc = 0.5;
        d.inverter.stp = 0;
        const LccPoint p = lcc_point(d, 1.0, 1.0, 1.0, 1.0);
        EXPECT_NEAR(p.vdr_kv * p.id_ka, 150.0, 1e-9);
        EXPECT_NEAR(p.vdr_kv, 460.0, 1e-9);
        EXPECT_NEAR(p.pr_mw, 150.0 + 2 * 4 * 0.5 * p.id_ka * p.id_ka, 1e-9);
    }
    {
        SCOPED_TRACE("current order");
        TwoTerminalDc d = ieee300_line();
        d.mdc = 2;
        d.setvl = 200;
        const LccPoint p = lcc_point(d, 1.0, 1.0, 1.0, 1.0);
        EXPECT_EQ(p.mode, "current");
        EXPECT_DOUBLE_EQ(p.id_ka, 0.2);
    }
    {
        SCOPED_TRACE("inverter voltage below VCMOD: current at the power order over VSCHD");
        TwoTerminalDc d = ieee300_line();
        d.inverter.tmn = 0.935;
        const LccPoint p = lcc_point(d, 1.0, 0.6, 1.0, 0.935);
        EXPECT_EQ(p.mode, "current (inverter voltage below VCMOD)");
        EXPECT_NEAR(p.id_ka, 100.0 / 460.0, 1e-12);
        EXPECT_LT(p.vdi_kv, d.vcmod);
    }
    {
        SCOPED_TRACE("rectifier at ANMN with its tap at TMN: the inverter controls the current");
        TwoTerminalDc d = ieee300_line();
        d.rectifier.tmn = 0.99;
        const LccPoint p = lcc_point(d, 0.9, 1.0, 0.99365, 0.935);
        EXPECT_NE(p.mode.find("inverter controls the current"), std::string::npos) << p.mode;
        EXPECT_NEAR(p.alpha_deg, 15.0, 1e-9);
        EXPECT_EQ(p.tap_r, 0.99);
        EXPECT_GE(p.gamma_deg, 20.0);
        EXPECT_NEAR(p.vdr_kv - p.vdi_kv, d.rdc * p.id_ka, 1e-9);
    }
}

// A VSC line is, to the AC network, two converters of known active power:
// the one holding the power (bus 3, withdrawing 40 MW at power factor 0.95)
// and the one holding the DC voltage (bus 5, holding 1.01 pu within
// ±30 Mvar). With constant losses (ALOSS 100 and 200 kW, BLOSS 0) the DC
// side has a closed form: the line carries I from bus 5's converter,
//   (150 − 2·I)·I = −40 + 0.1 MW,  P_5 = −(150·I + 0.2) MW.
// The case equals the same network with a load and a unit in their place.
TEST(DcLines, VscLineEqualsALoadAndAUnitAtItsConverters)
{
    const std::string base = read_file(std::string(paths::solver_test_data) + "/revisions/six_bus_v33.raw");
    const std::string vsc = replaced(base, "0 / END OF VSC DC LINE DATA",
                                     "'V1', 1, 2.0\n"
                                     "3, 2, 2, -40.0, 0.95, 100.0, 0.0, 50.0, 0.0, 0.0, 1.0, 30.0, -30.0, 0, 100.0\n"
                                     "5, 1, 1, 150.0, 1.01, 200.0, 0.0, 50.0, 0.0, 0.0, 1.0, 30.0, -30.0, 0, 100.0\n"
                                     "0 / END OF VSC DC LINE DATA");
    const double i = (150.0 - std::sqrt(150.0 * 150.0 + 4 * 2.0 * (40.0 - 0.1))) / (2 * 2.0);
    const double p5 = -(150.0 * i + 0.2);
    const double q3 = 40.0 * std::sqrt(1 - 0.95 * 0.95) / 0.95; // absorbed with the power it withdraws
    std::ostringstream unit;
    unit.precision(17);
    unit << "5,'D', " << p5 << ", 0.0, 30.0, -30.0, 1.01, 0, 100.0, 0,1,0,0,1,1,100, 9999, -9999\n";
    std::ostringstream load;
    load.precision(17);
    load << "3,'D',1,1,1, 40.0, " << q3 << ", 0,0,0,0, 1,1,0\n";
    std::string units = replaced(base, "0 / END OF LOAD DATA", load.str() + "0 / END OF LOAD DATA");
    units = replaced(units, "0 / END OF GENERATOR DATA", unit.str() + "0 / END OF GENERATOR DATA");
    units = replaced(units, "     5,'EAST 69     ',  69.0000,1,", "     5,'EAST 69     ',  69.0000,2,");

    PfOptions opt;
    opt.flat_start = true;
    opt.tolerance_pu = 1e-11;
    std::istringstream a(vsc);
    std::istringstream b(units);
    const Network with_vsc = build_network(parse_raw(a, "vsc.raw"));
    const Network with_units = build_network(parse_raw(b, "units.raw"));
    ASSERT_EQ(with_vsc.vsc.size(), 1U);
    EXPECT_NEAR(with_vsc.vsc[0].p_ac[1], p5, 1e-9);
    EXPECT_NEAR(with_vsc.vsc[0].idc_a, i * 1000, 1e-6);
    const BaseCase x = solve_base_case(with_vsc, opt);
    const BaseCase y = solve_base_case(with_units, opt);
    ASSERT_TRUE(x.sol.converged) << x.sol.failure;
    ASSERT_TRUE(y.sol.converged) << y.sol.failure;
    EXPECT_LE((x.sol.v.vm - y.sol.v.vm).cwiseAbs().maxCoeff(), 1e-9);
    EXPECT_LE((x.sol.v.va - y.sol.v.va).cwiseAbs().maxCoeff(), 1e-9);
    EXPECT_EQ(x.sol.held, y.sol.held);
}

// Data the converter equations can not take, each refused with the line
// of the DC record.
TEST(DcLines, RefusesDataTheModelCanNotTake)
{
    const std::string base = read_file(std::string(paths::solver_test_data) + "/revisions/six_bus_v33.raw");
    const std::string lcc = "'L1', 1, 5.0, 50.0, 400.0, 300.0, 0.0, 0.1, 'I', 0.0, 20, 1.0\n"
                            "3, 2, 20.0, 10.0, 0.0, 5.0, 138.0, 0.8, 1.0, 1.2, 0.8, 0.01, 0, 0, 0, '1', 0.0\n"
                            "5, 2, 25.0, 18.0, 0.0, 5.0, 69.0, 1.6, 1.0, 1.2, 0.8, 0.01, 0, 0, 0, '1', 0.0\n";
    const auto error = [&](const std::string &record) {
        std::istringstream in(
            replaced(base, "0 / END OF TWO-TERMINAL DC DATA", record + "0 / END OF TWO-TERMINAL DC DATA"));
        const std::string what = input_error_of([&] { build_network(parse_raw(in, "t.raw")); });
        return what.empty() ? std::string("no error") : what;
    };
    EXPECT_EQ(error(lcc), "no error");
    const std::string at = "t.raw:39: two-terminal DC line 'L1': ";
    EXPECT_EQ(error(replaced(lcc, "'L1', 1,", "'L1', 3,")), at + "MDC 3 is not 0 (blocked), 1 (power) or 2 (current)");
    EXPECT_EQ(error(replaced(lcc, "400.0, 300.0", "0.0, 300.0")), at + "VSCHD must be positive");
    EXPECT_EQ(error(replaced(lcc, "3, 2, 20.0", "3, 0, 20.0")), at + "rectifier NB must be at least 1");
    EXPECT_EQ(error(replaced(lcc, "69.0, 1.6, 1.0", "69.0, 1.6, 0.0")),
              at + "inverter EBAS, TR, TAP and TMN must be positive, and TMX at least TMN");
    EXPECT_EQ(error(replaced(lcc, "'1', 0.0\n5", "'1', 3.5\n5")),
              at + "rectifier XCAP is not 0: capacitor-commutated converters are not modelled");
}

// The IEEE 300-bus list solves with the DC line in it, and a DC line whose
// inverter bus is cut off draws nothing.
TEST(DcLines, ContingenciesCarryTheDcLine)
{
    REQUIRE_CASES();
    const std::string dir = cases_dir() + "/ieee300";
    const Network net = build_network(read_raw(dir + "/case.raw"));
    const PfOptions opt;
    BaseCase bc = solve_base_case(net, opt);
    ASSERT_TRUE(bc.sol.converged);
    int converged = 0;
    int blocks = 0;
    for (const CtgBlock &b : read_ctg_blocks(dir + "/case.con")) {
        const CtgResult r = solve_contingency(net, bc, b, opt, bc.ws);
        converged += r.status == CtgStatus::converged ? 1 : 0;
        ++blocks;
    }
    // 71 outages of this list have no solution with the DC line blocked too
    // (the case's own weak spots); the DC line adds 3.
    EXPECT_EQ(blocks, 480);
    EXPECT_EQ(converged, 406);

    BusSchedule sch = bc.sol.sch;
    const auto r = static_cast<std::size_t>(net.lcc[0].rbus);
    EXPECT_GT(sch.pdc[r], 0.9);
    sch.kind[static_cast<std::size_t>(net.lcc[0].ibus)] = BusKind::off;
    EXPECT_GT(dc_injections(net, sch, bc.sol.v), 0.9);
    EXPECT_EQ(sch.pdc[r], 0.0);
    EXPECT_EQ(sch.qdc[r], 0.0);
}

// A converter on a bus joined by a tie draws at its node: the six-bus
// network split by ties (solver/tests/data/ties/) with a two-terminal line
// from bus 1 to bus 7 gives the voltages of the network merged by hand
// with the line to bus 4, and tie 4-7 carries what bus 7 draws, the
// inverter's delivery among it.
TEST(DcLines, AConverterOnATiedBusDrawsAtItsNode)
{
    const auto with_line = [](const std::string &file, int inverter) {
        const std::string record = "'L1', 1, 5.0, -40.0, 400.0, 300.0, 0.0, 0.1, 'I', 0.0, 20, 1.0\n"
                                   "1, 2, 20.0, 10.0, 0.0, 5.0, 138.0, 0.8, 1.0, 1.2, 0.8, 0.01, 0, 0, 0, '1', 0.0\n" +
                                   std::to_string(inverter) +
                                   ", 2, 25.0, 18.0, 0.0, 5.0, 69.0, 1.6, 1.0, 1.2, 0.8, 0.01, 0, 0, 0, '1', 0.0\n";
        std::istringstream in(replaced(read_file(std::string(paths::solver_test_data) + file),
                                       "0 / END OF TWO-TERMINAL DC DATA", record + "0 / END OF TWO-TERMINAL DC DATA"));
        return parse_raw(in, file);
    };
    RawCase merged_raw = with_line("/revisions/six_bus_v33.raw", 4);
    FixedShunt tie_charging; // the charging of tie 4-7, B 0.02 pu
    tie_charging.bus = 4;
    tie_charging.id = "T";
    tie_charging.bl = 2.0;
    merged_raw.fixed_shunts.push_back(tie_charging);
    const Network merged = build_network(merged_raw);
    const Network tied = build_network(with_line("/ties/six_bus_ties_v33.raw", 7));
    PfOptions opt;
    opt.flat_start = true;
    const BaseCase m = solve_base_case(merged, opt);
    const BaseCase t = solve_base_case(tied, opt);
    ASSERT_TRUE(m.sol.converged) << m.sol.failure;
    ASSERT_TRUE(t.sol.converged) << t.sol.failure;
    const auto v = [](const BaseCase &bc, const Network &net, int bus) {
        const int i = net.index.at(bus);
        return std::polar(bc.sol.v.vm[i], bc.sol.v.va[i]);
    };
    for (const int bus : {1, 2, 3, 4, 5, 6}) {
        EXPECT_LE(std::abs(v(t, tied, bus) - v(m, merged, bus)), 1e-9) << "bus " << bus;
    }
    EXPECT_LE(std::abs(v(t, tied, 7) - v(m, merged, 4)), 1e-9);

    const std::vector<BranchFlow> flows = branch_flows(tied, t.on, t.sol);
    std::vector<BranchFlow> all = flows;
    fill_tie_flows(tied, t.on, t.sol, -1, all);
    const int i4 = merged.index.at(4);
    const LccPoint p = lcc_point(merged.lcc[0].d, m.sol.v.vm[merged.index.at(1)], m.sol.v.vm[i4], m.sol.sch.taps[0],
                                 m.sol.sch.taps[1]);
    EXPECT_NEAR(p.pi_mw, 40.0, 1e-9);
    std::complex<double> drawn_by_7(0.25 - p.pi_mw / 100.0, 0.08 + p.qi_mvar / 100.0);
    for (std::size_t k = 0; k < tied.branches.size(); ++k) {
        const NetBranch &br = tied.branches[k];
        if (br.from_bus == 7 && br.to_bus == 6) {
            drawn_by_7 += flows[k].from;
        }
        if (br.from_bus == 4 && br.to_bus == 7) {
            EXPECT_LE(std::abs(all[k].to + drawn_by_7), 1e-9);
        }
    }
}
