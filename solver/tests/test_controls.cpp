// Switched-shunt and transformer controls: the positions a shunt's blocks
// give, the end state of every control of the public files, and what each
// option mode changes.

#include "cli/options.h"
#include "contingency/contingency.h"
#include "network/build.h"
#include "network/control_setup.h"
#include "network/network.h"
#include "network/ybus.h"
#include "powerflow/base_case.h"
#include "powerflow/control_loop.h"
#include "powerflow/newton.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "results/results.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace {

PfOptions with_controls(ControlMode m)
{
    PfOptions opt;
    opt.adjust_taps = opt.adjust_phase_shifters = opt.adjust_switched_shunts = m;
    return opt;
}

// Control i ended as its state says: in the band at solution v, or at the
// end of its range, or held by units at its regulated bus.
void expect_end_state(const Network &net, const NetControl &c, ControlState st, double value, const PfSolution &sol,
                      bool settings_known)
{
    switch (st) {
    case ControlState::in_band: {
        const double tol = c.reg >= 0 ? 1e-6 : 1e-4;
        const double q = c.reg >= 0 ? sol.v.vm[net.buses[c.reg].node] : value;
        EXPECT_GE(q, c.lo - tol);
        EXPECT_LE(q, c.hi + tol);
        break;
    }
    case ControlState::at_limit:
        EXPECT_TRUE(value < c.lo || value > c.hi) << value;
        if (settings_known) {
            const double lo = c.positions.empty() ? c.min : c.positions.front();
            const double hi = c.positions.empty() ? c.max : c.positions.back();
            EXPECT_TRUE(std::abs(c.setting - lo) < 1e-9 || std::abs(c.setting - hi) < 1e-9) << c.setting;
        }
        break;
    case ControlState::unit_held: {
        const BusKind k = sol.sch.kind[net.buses[c.reg].node];
        EXPECT_TRUE(k == BusKind::pv || k == BusKind::slack);
        break;
    }
    case ControlState::hunted:
    case ControlState::off:
        break;
    case ControlState::locked:
        ADD_FAILURE() << "a control of kind " << control_kind_name(c.kind) << " did not act";
    }
}

} // namespace

// Positions of a switched shunt: ADJM 0 switches the steps of one sign on
// in input order, ADJM 1 reaches every total the steps make; blocks out of
// service (revision 35) take no part; the range is the sum of the reactor
// blocks to the sum of the capacitor blocks.
TEST(Controls, ShuntPositionsFollowTheAdjustmentMethod)
{
    struct Case {
        const char *name;
        int adjm;
        std::vector<ShuntBlock> blocks;
        std::vector<double> want;
    };
    const std::vector<Case> cases = {
        {"capacitors in input order", 0, {{1, 2, 10.0}, {1, 1, 25.0}}, {0, 10, 20, 45}},
        {"capacitors by size", 1, {{1, 2, 10.0}, {1, 1, 25.0}}, {0, 10, 20, 25, 35, 45}},
        {"reactors first, then capacitors", 0, {{1, 1, -30.0}, {1, 2, 10.0}}, {-30, 0, 10, 20}},
        {"a block out of service", 0, {{1, 1, 5.0}, {0, 3, 50.0}, {1, 1, 7.0}}, {0, 5, 12}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RawCase raw;
        raw.file = "t.raw";
        raw.buses.push_back(Bus{1, "ONE", 138.0, 3, 1.0, 0.0});
        SwitchedShunt sh;
        sh.bus = 1;
        sh.modsw = 1;
        sh.adjm = c.adjm;
        sh.vswlo = 0.98;
        sh.vswhi = 1.02;
        sh.blocks = c.blocks;
        raw.switched_shunts.push_back(sh);
        const Network net = build_network(raw);
        ASSERT_EQ(net.controls.size(), 1U);
        const NetControl &ctl = net.controls[0];
        ASSERT_EQ(ctl.positions.size(), c.want.size());
        for (std::size_t k = 0; k < c.want.size(); ++k) {
            EXPECT_NEAR(ctl.positions[k], c.want[k], 1e-9);
        }
        EXPECT_DOUBLE_EQ(ctl.min, c.want.front());
        EXPECT_DOUBLE_EQ(ctl.max, c.want.back());
    }
}

// With taps, phase shifters and shunts adjusted in the base case and in
// every contingency, every control ends in its band, at a limit, held by
// units or off: the base case of every case and RAW file with controls,
// and the contingencies of two lists (ieee300's sampled).
TEST(Controls, EveryControlEndsInItsBandOrAtALimit)
{
    REQUIRE_CASES();
    REQUIRE_RAWFILES();
    const PfOptions opt = with_controls(ControlMode::all);
    std::vector<std::string> files;
    for (const char *name : {"activsg200", "activsg2000", "go_617", "go_network01", "go_ieee14_s1", "ieee300"}) {
        files.push_back(cases_dir() + "/" + name + "/case.raw");
    }
    for (const auto &dir : std::filesystem::directory_iterator(rawfiles_dir())) {
        if (dir.is_directory()) {
            for (const auto &f : std::filesystem::directory_iterator(dir.path())) {
                files.push_back(f.path().string());
            }
        }
    }
    int with_controls_count = 0;
    int controls = 0;
    for (const std::string &file : files) {
        SCOPED_TRACE(file);
        Network net;
        try {
            net = build_network(read_raw(file));
        } catch (const std::exception &) {
            continue; // files refused on purpose
        }
        if (!controls_act(net, opt, ControlScope::base_case)) {
            continue;
        }
        ControlsOutcome out;
        const BaseCase base = solve_base_case_with_controls(net, opt, out);
        if (!base.sol.converged) {
            continue; // as without controls, or a move Newton-Raphson could not follow (reported)
        }
        ++with_controls_count;
        controls += static_cast<int>(net.controls.size());
        ASSERT_EQ(out.state.size(), net.controls.size());
        for (std::size_t i = 0; i < net.controls.size(); ++i) {
            expect_end_state(net, net.controls[i], out.state[i], out.value[i], base.sol, true);
        }
        const std::string dir = std::filesystem::path(file).parent_path().string();
        const int every = file.find("ieee300") != std::string::npos ? 8 : 1;
        if (file.find("go_network01") == std::string::npos && every == 1) {
            continue;
        }
        const std::vector<CtgBlock> blocks = read_ctg_blocks(dir + "/case.con");
        for (std::size_t n = 0; n < blocks.size(); n += static_cast<std::size_t>(every)) {
            SCOPED_TRACE(blocks[n].label);
            NewtonWorkspace &ws = const_cast<BaseCase &>(base).ws;
            const CtgResult r = solve_contingency(net, base, blocks[n], opt, ws);
            if (r.status != CtgStatus::converged) {
                continue;
            }
            ASSERT_EQ(r.controls.state.size(), net.controls.size());
            for (std::size_t i = 0; i < net.controls.size(); ++i) {
                expect_end_state(net, net.controls[i], r.controls.state[i], r.controls.value[i], r.sol, false);
            }
        }
    }
    EXPECT_GE(with_controls_count, 20);
    std::cout << "[ controls ] " << with_controls_count << " files, " << controls << " controls\n";
}

// "locked" changes nothing; "base" adjusts the base case and solves every
// contingency on its settings, exactly as on the RAW with those settings
// written in; "all" adjusts again after an outage. go_network01's shunts
// and go_ieee14_s1's phase shifter (an adjusted branch opened by an
// outage) both move.
TEST(Controls, OptionModesSayWhereControlsAct)
{
    REQUIRE_CASES();
    for (const char *name : {"go_network01", "go_ieee14_s1"}) {
        SCOPED_TRACE(name);
        const std::string dir = cases_dir() + "/" + name;
        const RawCase raw = read_raw(dir + "/case.raw");
        const std::vector<CtgBlock> blocks = read_ctg_blocks(dir + "/case.con");

        // locked: the base case of today, every setting as read.
        Network plain = build_network(raw);
        ControlsOutcome out;
        const BaseCase locked = solve_base_case_with_controls(plain, PfOptions{}, out);
        const BaseCase today = solve_base_case(build_network(raw), PfOptions{});
        EXPECT_EQ(locked.sol.v.vm, today.sol.v.vm);
        EXPECT_EQ(locked.sol.v.va, today.sol.v.va);
        EXPECT_TRUE(out.state.empty());
        for (const NetControl &c : plain.controls) {
            EXPECT_EQ(c.setting, c.read);
        }

        // base: the contingencies of the adjusted network are those of the
        // RAW holding the adjusted settings.
        const PfOptions base_opt = with_controls(ControlMode::base);
        Network adjusted = build_network(raw);
        BaseCase base = solve_base_case_with_controls(adjusted, base_opt, out);
        ASSERT_TRUE(base.sol.converged);
        RawCase written = raw;
        int moved = 0;
        std::size_t k = 0;
        for (SwitchedShunt &sh : written.switched_shunts) {
            const bool acts = sh.status != 0 && (sh.modsw == 1 || sh.modsw == 2) && k < adjusted.controls.size() &&
                              adjusted.controls[k].kind == ControlKind::switched_shunt &&
                              adjusted.controls[k].line == sh.line;
            if (acts) {
                moved += adjusted.controls[k].setting != sh.binit ? 1 : 0;
                sh.binit = adjusted.controls[k++].setting;
            }
        }
        for (const NetControl &c : adjusted.controls) {
            if (c.kind == ControlKind::phase_shifter) {
                for (Transformer &x : written.transformers) {
                    if (x.line == c.line) {
                        moved += x.windings[0].ang_deg != c.setting ? 1 : 0;
                        x.windings[0].ang_deg = c.setting;
                    }
                }
            }
        }
        EXPECT_GT(moved, 0);
        const Network rewritten = build_network(written);
        BaseCase again = solve_base_case(rewritten, PfOptions{});
        ASSERT_TRUE(again.sol.converged);
        EXPECT_LE((again.sol.v.vm - base.sol.v.vm).cwiseAbs().maxCoeff(), 1e-9);
        int all_moved = 0;
        for (std::size_t n = 0; n < blocks.size(); n += 3) {
            SCOPED_TRACE(blocks[n].label);
            const CtgResult b = solve_contingency(adjusted, base, blocks[n], base_opt, base.ws);
            const CtgResult w = solve_contingency(rewritten, again, blocks[n], PfOptions{}, again.ws);
            ASSERT_EQ(b.status, w.status) << b.note << " / " << w.note;
            EXPECT_TRUE(b.controls.state.empty());
            if (b.status == CtgStatus::converged) {
                EXPECT_LE((b.sol.v.vm - w.sol.v.vm).cwiseAbs().maxCoeff(), 1e-7);
                EXPECT_LE((b.sol.v.va - w.sol.v.va).cwiseAbs().maxCoeff(), 1e-7);
            }
            const CtgResult a = solve_contingency(adjusted, base, blocks[n], with_controls(ControlMode::all), base.ws);
            EXPECT_EQ(a.controls.state.size(), adjusted.controls.size());
            all_moved += a.note.find("controls moved") != std::string::npos ? 1 : 0;
        }
        if (std::string(name) == "go_network01") {
            EXPECT_GT(all_moved, 0);
        }
    }
}

// With controls acting after an outage, they move on a copy of the network
// the outage left: a load the contingency trips is out of the network solved
// on, and the state solves that network.
TEST(Controls, ActAfterAnOutageOnTheNetworkItLeaves)
{
    REQUIRE_CASES();
    Network net = build_network(read_raw(cases_dir() + "/go_network01/case.raw"));
    const PfOptions opt = with_controls(ControlMode::all);
    ControlsOutcome out;
    BaseCase base = solve_base_case_with_controls(net, opt, out);
    ASSERT_TRUE(base.sol.converged);
    const int b = net.index.at(427);
    ASSERT_GT(net.buses[static_cast<std::size_t>(b)].pd, 0);
    const CtgResult r = solve_contingency(net, base, CtgBlock{"L", "TRIP LOAD 1 FROM BUS 427", 1}, opt, base.ws, true);
    ASSERT_EQ(r.status, CtgStatus::converged) << r.note;
    ASSERT_TRUE(r.state);
    EXPECT_EQ(r.state->net.buses[static_cast<std::size_t>(b)].pd, 0);
    const Ybus y = make_ybus(r.state->net, r.state->on);
    NewtonWorkspace ws = make_workspace(y, r.state->net);
    int worst = -1;
    EXPECT_LE(mismatch(r.state->net, y, r.sol.sch, r.sol.v, ws, worst), opt.tolerance_pu);
}

// One row per control: device names as the other result files give them,
// an empty value for a control that is off, at_limit from the state.
TEST(Controls, ControlsCsvHasARowPerControl)
{
    const std::vector<ControlRow> rows = {
        {"switched_shunt", "101-1", 0, 101, 0.98, 1.02, 1.01, 45, "in_band"},
        {"tap_voltage", "4-9-1", 0, 9, 0.95, 1.05, 1.07, 1.1, "at_limit"},
        {"phase_shifter", "1-2-3-1", 2, 0, -10, 10, std::nan(""), 5, "off"},
    };
    EXPECT_EQ(controls_csv(rows), "kind,device,winding,regulated_bus,band_low,band_high,value,setting,at_limit,state\n"
                                  "switched_shunt,101-1,,101,0.98,1.02,1.01,45,0,in_band\n"
                                  "tap_voltage,4-9-1,,9,0.95,1.05,1.07,1.1,1,at_limit\n"
                                  "phase_shifter,1-2-3-1,2,,-10,10,,5,0,off\n");
}
