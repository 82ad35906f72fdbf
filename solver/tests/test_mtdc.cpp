// Multi-terminal DC lines: a line of two converters against the same data
// written as a two-terminal line, a three-terminal line's DC currents and
// voltages against its nodal equations solved by hand, the record read in
// every revision layout, the data the model refuses, and a contingency
// that blocks the line.

#include "contingency/changes.h"
#include "contingency/contingency.h"
#include "helpers.h"
#include "network/build.h"
#include "network/dclink.h"
#include "network/mtdc.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "results/results.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

constexpr double deg = M_PI / 180.0;

std::string six_bus(const std::string &rev)
{
    return read_file(std::string(paths::solver_test_data) + "/revisions/six_bus_v" + rev + ".raw");
}

// The six-bus network (revision 33) with `record` in its multi-terminal DC data.
std::string with_mtdc(const std::string &record)
{
    return replaced(six_bus("33"), "0 / END OF MULTI-TERMINAL DC DATA", record + "0 / END OF MULTI-TERMINAL DC DATA");
}

Network network_of(const std::string &text)
{
    std::istringstream in(text);
    return build_network(parse_raw(in, "t.raw"));
}

// A power-controlled line from bus 3 (rectifier, 50 MW) to bus 5 (inverter
// holding 400 kV), RDC 5 ohms, as a two-terminal record and as a
// multi-terminal one.
const std::string lcc_record = "'L1', 1, 5.0, 50.0, 400.0, 300.0, 0.0, 0.0, 'I', 0.0, 20, 1.0\n"
                               "3, 2, 20.0, 10.0, 0.2, 5.0, 138.0, 0.8, 1.0, 1.2, 0.8, 0.01, 0, 0, 0, '1', 0.0\n"
                               "5, 2, 25.0, 18.0, 0.1, 5.0, 69.0, 1.6, 1.0, 1.2, 0.8, 0.01, 0, 0, 0, '1', 0.0\n";
const std::string mtdc_record = "'M1', 2, 2, 1, 1, 5, 300.0, 0\n"
                                "3, 2, 20.0, 10.0, 0.2, 5.0, 138.0, 0.8, 1.0, 1.2, 0.8, 0.01, 50.0, 1.0, 0.0, 1\n"
                                "5, 2, 25.0, 18.0, 0.1, 5.0, 69.0, 1.6, 1.0, 1.2, 0.8, 0.01, 400.0, 1.0, 0.0, 1\n"
                                "1, 3, 1, 1, 'R', 0, 0.0, 1\n"
                                "2, 5, 1, 1, 'I', 0, 0.0, 1\n"
                                "1, 2, '1', 1, 5.0, 0.0\n";

// Three converters on a chain of DC buses 1 - 2 - 3 (10 and 20 ohms): a
// rectifier at DC bus 1, an inverter at DC bus 2 and the voltage-setting
// inverter at DC bus 3 (500 kV). No commutation drop and no tap step, so
// the voltage-setting converter's tap gives SETVL exactly.
NetMtdc three_terminal(int mdc, double order_1, double order_2)
{
    MultiTerminalDc d;
    d.name = "T3";
    d.mdc = mdc;
    d.vconv = 30;
    const LccConverter k{0, 2, 40, 5, 0, 0, 230, 1, 1, 1.5, 0.5, 0, 0};
    for (const auto &[bus, order, gmin] :
         {std::make_tuple(10, order_1, 5.0), std::make_tuple(20, order_2, 5.0), std::make_tuple(30, 500.0, 15.0)}) {
        MtdcConverter c;
        c.k = k;
        c.k.bus = bus;
        c.k.anmn_deg = gmin;
        c.setvl = order;
        d.converters.push_back(c);
    }
    d.buses = {{1, 10, "A", 0, 0, 0}, {2, 20, "B", 0, 0, 0}, {3, 30, "C", 0, 0, 0}};
    d.links = {{1, 2, "1", 10.0, 0}, {2, 3, "1", 20.0, 0}};
    NetMtdc x;
    x.d = d;
    x.bus = {0, 1, 2};
    x.node = {0, 1, 2};
    x.vconv = 2;
    return x;
}

} // namespace

// Two converters and one link are a two-terminal line: solved in the
// six-bus network, the two give the same voltages, converter powers, taps
// and angles.
TEST(MultiTerminalDc, TwoConvertersEqualATwoTerminalLine)
{
    const Network two = network_of(
        replaced(six_bus("33"), "0 / END OF TWO-TERMINAL DC DATA", lcc_record + "0 / END OF TWO-TERMINAL DC DATA"));
    const Network multi = network_of(with_mtdc(mtdc_record));
    ASSERT_EQ(multi.mtdc.size(), 1U);
    PfOptions opt;
    opt.flat_start = true;
    opt.tolerance_pu = 1e-11;
    const BaseCase a = solve_base_case(two, opt);
    const BaseCase b = solve_base_case(multi, opt);
    ASSERT_TRUE(a.sol.converged) << a.sol.failure;
    ASSERT_TRUE(b.sol.converged) << b.sol.failure;
    EXPECT_LE((a.sol.v.vm - b.sol.v.vm).cwiseAbs().maxCoeff(), 1e-9);
    EXPECT_LE((a.sol.v.va - b.sol.v.va).cwiseAbs().maxCoeff(), 1e-9);

    const NetMtdc &x = multi.mtdc[0];
    const LccPoint p =
        lcc_point(two.lcc[0].d, a.sol.v.vm[x.bus[0]], a.sol.v.vm[x.bus[1]], a.sol.sch.taps[0], a.sol.sch.taps[1]);
    const MtdcPoint q = mtdc_point(x, {b.sol.v.vm[x.bus[0]], b.sol.v.vm[x.bus[1]]}, b.sol.sch.taps);
    ASSERT_EQ(p.mode, "power");
    ASSERT_FALSE(q.blocked) << q.why;
    EXPECT_NEAR(q.p_mw[0] / 100, p.pr_mw / 100, 1e-9);
    EXPECT_NEAR(q.p_mw[1] / 100, -p.pi_mw / 100, 1e-9);
    EXPECT_NEAR(q.q_mvar[0] / 100, p.qr_mvar / 100, 1e-9);
    EXPECT_NEAR(q.q_mvar[1] / 100, p.qi_mvar / 100, 1e-9);
    EXPECT_NEAR(q.id_ka[0], p.id_ka, 1e-12);
    EXPECT_NEAR(q.vdc_kv[0], p.vdr_kv, 1e-9);
    EXPECT_NEAR(q.vdc_kv[1], p.vdi_kv, 1e-9);
    EXPECT_NEAR(q.angle_deg[0], p.alpha_deg, 1e-9);
    EXPECT_NEAR(q.angle_deg[1], p.gamma_deg, 1e-9);
    EXPECT_EQ(q.tap[0], p.tap_r);
    EXPECT_EQ(q.tap[1], p.tap_i);
    EXPECT_NEAR(q.vdc_kv[0] * q.id_ka[0], 50.0, 1e-9);

    const std::vector<std::vector<std::string>> rows = csv_rows(base_dclines_csv(multi, b));
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0][0], "M1");
    EXPECT_EQ(rows[0][1], "multi-terminal");
    EXPECT_EQ(rows[0][2], "in service");
    EXPECT_EQ(rows[0][3], "3");
    EXPECT_EQ(rows[0][4], "1");
    EXPECT_EQ(rows[0][16], "power, rectifier");
    EXPECT_EQ(rows[1][16], "DC voltage, inverter");
    EXPECT_NEAR(std::stod(rows[0][5]), -q.p_mw[0], 1e-5);
}

// Current orders of 600 A (rectifier) and 200 A (inverter) with 500 kV held
// at DC bus 3: the links carry 0.6 and 0.4 kA, so V2 = 500 + 20·0.4 = 508
// and V1 = 508 + 10·0.6 = 514 kV, and the voltage-setting inverter takes
// 0.4 kA. With no commutation reactance cos φ = cos α, so Q = |P|·tan α.
TEST(MultiTerminalDc, ThreeTerminalsMeetTheirNodalEquations)
{
    const MtdcPoint c = mtdc_point(three_terminal(2, 600.0, -200.0), {1.0, 1.0, 1.0}, {1.0, 1.0, 1.0});
    ASSERT_FALSE(c.blocked) << c.why;
    EXPECT_EQ(c.mode, "current");
    EXPECT_NEAR(c.vdc_kv[2], 500.0, 1e-9);
    EXPECT_NEAR(c.vdc_kv[1], 508.0, 1e-9);
    EXPECT_NEAR(c.vdc_kv[0], 514.0, 1e-9);
    EXPECT_NEAR(c.id_ka[2], 0.4, 1e-12);
    EXPECT_TRUE(c.rectifier[0]);
    EXPECT_FALSE(c.rectifier[1]);
    EXPECT_FALSE(c.rectifier[2]);
    EXPECT_NEAR(c.p_mw[0], 514.0 * 0.6, 1e-9);
    EXPECT_NEAR(c.p_mw[1], -508.0 * 0.2, 1e-9);
    EXPECT_NEAR(c.p_mw[2], -500.0 * 0.4, 1e-9);
    const double vdo = 2 * 3 * std::sqrt(2.0) / M_PI * 230;
    EXPECT_NEAR(c.angle_deg[0], std::acos(514.0 / vdo) / deg, 1e-9);
    EXPECT_NEAR(c.angle_deg[2], 15.0, 1e-12);
    EXPECT_NEAR(c.tap[2], vdo * std::cos(15 * deg) / 500.0, 1e-12);
    EXPECT_EQ(c.tap[0], 1.0);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR(c.q_mvar[k], std::abs(c.p_mw[k]) * std::tan(c.angle_deg[k] * deg), 1e-9) << k;
    }

    // With commutation reactance at VCONV and its tap held at TPMX, its DC
    // voltage is Vdo·cos γ less the drop N·(3/π)·XC·I_v, and the others
    // follow by Ohm's law as before.
    NetMtdc held = three_terminal(2, 600.0, -200.0);
    held.d.converters[2].k.xc = 10.0;
    held.d.converters[2].k.tmx = 1.1;
    const MtdcPoint h = mtdc_point(held, {1.0, 1.0, 1.0}, {1.0, 1.0, 1.0});
    const double v3 = vdo / 1.1 * std::cos(15 * deg) - 2 * 3 / M_PI * 10.0 * 0.4;
    EXPECT_EQ(h.tap[2], 1.1);
    EXPECT_NEAR(h.vdc_kv[2], v3, 1e-9);
    EXPECT_NEAR(h.vdc_kv[1], v3 + 8.0, 1e-9);
    EXPECT_NEAR(h.vdc_kv[0], v3 + 14.0, 1e-9);

    // A rectifier whose ANGMN..ANGMX band is narrower than one tap step: from
    // below ANGMN its tap steps past the band, and from above ANGMX it
    // stays, so the taps do not hunt from one round to the next.
    NetMtdc narrow = three_terminal(2, 600.0, -200.0);
    narrow.d.converters[0].k.anmx_deg = 34.6;
    narrow.d.converters[0].k.anmn_deg = 34.4;
    narrow.d.converters[0].k.stp = 0.02;
    const MtdcPoint n1 = mtdc_point(narrow, {1.0, 1.0, 1.0}, {1.0, 1.0, 1.0});
    const MtdcPoint n2 = mtdc_point(narrow, {1.0, 1.0, 1.0}, n1.tap);
    EXPECT_NEAR(n1.tap[0], 0.98, 1e-12);
    EXPECT_EQ(n2.tap, n1.tap);
    EXPECT_GT(n2.angle_deg[0], 34.6);
    EXPECT_EQ(n2.note[0], "angle above ANGMX: one tap step would take it below ANGMN");

    // Power orders of 300 MW and 100 MW: each met at its own DC voltage,
    // the links' currents those of Ohm's law.
    const MtdcPoint p = mtdc_point(three_terminal(1, 300.0, -100.0), {1.0, 1.0, 1.0}, {1.0, 1.0, 1.0});
    ASSERT_FALSE(p.blocked) << p.why;
    EXPECT_EQ(p.mode, "power");
    EXPECT_NEAR(p.vdc_kv[0] * p.id_ka[0], 300.0, 1e-9);
    EXPECT_NEAR(p.vdc_kv[1] * p.id_ka[1], 100.0, 1e-9);
    EXPECT_NEAR(p.vdc_kv[2], 500.0, 1e-9);
    EXPECT_NEAR((p.vdc_kv[0] - p.vdc_kv[1]) / 10.0, p.id_ka[0], 1e-12);
    EXPECT_NEAR((p.vdc_kv[1] - p.vdc_kv[2]) / 20.0, p.id_ka[0] - p.id_ka[1], 1e-12);
    EXPECT_NEAR(p.id_ka[2], p.id_ka[0] - p.id_ka[1], 1e-12);

    // An inverter below VCMOD turns the line to current control at the
    // orders' currents at SETVL: 0.6 and 0.2 kA, as above.
    NetMtdc low = three_terminal(1, 300.0, -100.0);
    low.d.vcmod = 501.0;
    const MtdcPoint v = mtdc_point(low, {1.0, 1.0, 1.0}, {1.0, 1.0, 1.0});
    EXPECT_EQ(v.mode, "current (inverter voltage below VCMOD)");
    EXPECT_NEAR(v.vdc_kv[0], 514.0, 1e-9);

    // Inverters drawing more than the rectifier gives leave the
    // voltage-setting converter to rectify: no operating point.
    const MtdcPoint r = mtdc_point(three_terminal(2, 200.0, -600.0), {1.0, 1.0, 1.0}, {1.0, 1.0, 1.0});
    EXPECT_TRUE(r.blocked);
    EXPECT_EQ(r.why, "no operating point: the voltage-setting converter would have to rectify");
}

// The same line in the layouts of revisions 23 (named by number), 30 (no
// MET on the links) and 33 reads the same; MDC 0 blocks it.
TEST(MultiTerminalDc, ReadInEveryRevisionLayout)
{
    const std::string v30 = "'M1', 2, 2, 1, 1, 5, 300.0, 0\n" + mtdc_record.substr(mtdc_record.find('\n') + 1);
    const std::string links_30 = replaced(v30, "1, 2, '1', 1, 5.0, 0.0", "1, 2, '1', 5.0, 0.0");
    const std::string v23 = replaced(links_30, "'M1', 2,", "7, 2,");
    const std::array<std::pair<std::string, std::string>, 3> files{{
        {replaced(six_bus("30"), "0 / END OF MULTI-TERMINAL DC DATA", links_30 + "0 / END OF MULTI-TERMINAL DC DATA"),
         "M1"},
        {replaced(six_bus("23"), "0 / END OF MULTI-TERMINAL DC DATA", v23 + "0 / END OF MULTI-TERMINAL DC DATA"), "7"},
        {with_mtdc(mtdc_record), "M1"},
    }};
    for (const auto &[text, name] : files) {
        std::istringstream in(text);
        const RawCase raw = parse_raw(in, "t.raw");
        ASSERT_EQ(raw.multi_terminal_dc.size(), 1U) << name;
        const MultiTerminalDc &d = raw.multi_terminal_dc[0];
        EXPECT_EQ(d.name, name);
        EXPECT_EQ(d.vconv, 5);
        EXPECT_EQ(d.vcmod, 300.0);
        ASSERT_EQ(d.converters.size(), 2U);
        EXPECT_EQ(d.converters[1].setvl, 400.0);
        EXPECT_EQ(d.converters[0].k.rc, 0.2);
        EXPECT_EQ(d.converters[0].k.stp, 0.01);
        ASSERT_EQ(d.buses.size(), 2U);
        EXPECT_EQ(d.buses[1].ib, 5);
        ASSERT_EQ(d.links.size(), 1U);
        EXPECT_EQ(d.links[0].rdc, 5.0) << name;
    }
    const Network blocked = network_of(with_mtdc(replaced(mtdc_record, "2, 2, 1, 1, 5", "2, 2, 1, 0, 5")));
    ASSERT_EQ(blocked.mtdc.size(), 1U);
    EXPECT_FALSE(blocked.mtdc[0].in_service);
    const BaseCase bc = solve_base_case(blocked, PfOptions{});
    ASSERT_TRUE(bc.sol.converged);
    EXPECT_EQ(csv_rows(base_dclines_csv(blocked, bc))[1][2], "blocked");
}

// Records the reader or the model can not take, each refused with the line
// of the part at fault.
TEST(MultiTerminalDc, RefusesWhatItCanNotTake)
{
    const auto error = [](const std::string &record) {
        const std::string what = input_error_of([&] { network_of(with_mtdc(record)); });
        return what.empty() ? std::string("no error") : what;
    };
    const std::string m1 = "multi-terminal DC line 'M1': ";
    const std::array<std::pair<std::string, std::string>, 13> cases{{
        {mtdc_record, "no error"},
        {replaced(mtdc_record, "'M1', 2, 2,", "'M1', 1, 2,"),
         "t.raw:42: field 2 (NCONV) of the multi-terminal DC record is below 2: a multi-terminal DC line has two "
         "converters or more: '1'"},
        {replaced(mtdc_record, "'M1', 2, 2,", "'M1', 2, 1,"),
         "t.raw:42: field 3 (NDCBS) of the multi-terminal DC record is below NCONV: each converter sits at a DC bus of "
         "its own: '1'"},
        {replaced(mtdc_record, "1, 2, '1', 1, 5.0", "1, 3, '1', 1, 5.0"),
         "t.raw:47: " + m1 + "DC link 1-3-1 names DC bus 3, which is not among the line's DC buses"},
        {replaced(mtdc_record, "2, 5, 1, 1, 'I', 0", "2, 5, 1, 1, 'I', 4"),
         "t.raw:46: " + m1 + "DC bus 2 (IDC2) names DC bus 4, which is not among the line's DC buses"},
        {replaced(mtdc_record, "2, 5, 1, 1, 'I'", "1, 5, 1, 1, 'I'"),
         "t.raw:46: " + m1 + "DC bus 1 is defined twice (first at line 45)"},
        {replaced(mtdc_record, "2, 5, 1, 1, 'I'", "2, 0, 1, 1, 'I'"),
         "t.raw:44: " + m1 + "the converter at AC bus 5 is at 0 DC buses; it must be at exactly one"},
        {replaced(mtdc_record, "1, 1, 5, 300.0", "1, 1, 4, 300.0"),
         "t.raw:42: " + m1 + "VCONV 4 is not the AC bus of one of its converters"},
        {replaced(mtdc_record, "1, 1, 5, 300.0", "1, 3, 5, 300.0"),
         "t.raw:42: " + m1 + "MDC 3 is not 0 (blocked), 1 (power) or 2 (current)"},
        {replaced(mtdc_record, "2, 5, 1, 1, 'I', 0", "2, 5, 1, 1, 'I', 1"),
         "t.raw:46: " + m1 + "DC bus 2 names IDC2: converters between two DC buses are not modelled, only to ground"},
        {replaced(mtdc_record, "400.0, 1.0, 0.0, 1", "400.0, 1.0, 0.0, -1"),
         "t.raw:44: " + m1 + "the converter at bus 5: CNVCOD is negative: negative-pole converters are not modelled"},
        {replaced(mtdc_record, "'1', 1, 5.0, 0.0", "'1', 1, 0.0, 0.0"),
         "t.raw:47: " + m1 + "DC link 1-2-1: RDC must be positive"},
        {mtdc_record.substr(0, mtdc_record.rfind("1, 2, '1'")),
         "t.raw:47: field 1 (IDC) of the multi-terminal DC record is not a DC bus number of 1 or more: '0'"},
    }};
    for (const auto &[record, message] : cases) {
        EXPECT_EQ(error(record), message);
    }
    // A file that ends inside the record.
    const std::string whole = with_mtdc(mtdc_record);
    const std::string cut = whole.substr(0, whole.find("1, 3, 1, 1, 'R'"));
    EXPECT_EQ(input_error_of([&] {
                  std::istringstream in(cut);
                  parse_raw(in, "t.raw");
              }),
              "t.raw:42: " + m1 + "the file ends inside the record: line 4 of 6 is missing");
    // A three-bus DC network whose third bus no link reaches.
    const std::string island = replaced(replaced(mtdc_record, "'M1', 2, 2, 1", "'M1', 2, 3, 1"), "1, 2, '1', 1",
                                        "3, 0, 1, 1, 'X', 0, 0.0, 1\n1, 2, '1', 1");
    EXPECT_EQ(error(island), "t.raw:47: " + m1 + "DC bus 3 is not joined by DC links to the DC bus of VCONV 5");
}

// BLOCK MULTITERMDC takes the line out: the contingency's solution is the
// base case of the network with the line's MDC 0; losing a converter's bus
// blocks the whole line.
TEST(MultiTerminalDc, AContingencyBlocksTheLine)
{
    const Network net = network_of(with_mtdc(mtdc_record));
    const Network off = network_of(with_mtdc(replaced(mtdc_record, "2, 2, 1, 1, 5", "2, 2, 1, 0, 5")));
    PfOptions opt;
    opt.tolerance_pu = 1e-11;
    BaseCase bc = solve_base_case(net, opt);
    const BaseCase ref = solve_base_case(off, opt);
    ASSERT_TRUE(bc.sol.converged);
    ASSERT_TRUE(ref.sol.converged);
    const std::vector<CtgBlock> blocks = cut_ctg_blocks("CONTINGENCY 'M'\nBLOCK MULTITERMDC 'M1'\nEND\nEND\n");
    ASSERT_EQ(blocks.size(), 1U);
    const CtgResult r = solve_contingency(net, bc, blocks[0], opt, bc.ws);
    EXPECT_EQ(r.status, CtgStatus::converged);
    ASSERT_EQ(r.sol.v.vm.size(), ref.sol.v.vm.size());
    EXPECT_LE((r.sol.v.vm - ref.sol.v.vm).cwiseAbs().maxCoeff(), 1e-8);
    EXPECT_LE((r.sol.v.va - ref.sol.v.va).cwiseAbs().maxCoeff(), 1e-8);

    Element e;
    e.kind = Element::Kind::bus;
    e.i = 5;
    EXPECT_EQ(find_outage(net, bc, e).mtdc, std::vector<int>{0});
    e.kind = Element::Kind::mtdc;
    e.id = "M1";
    const Outage o = find_outage(net, bc, e);
    EXPECT_TRUE(o.found);
    EXPECT_EQ(element_name(e), "multi-terminal DC line 'M1'");
}
