#include "powerflow/controls.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace {

constexpr int max_rounds = 25;
constexpr int max_reversals = 3;
// A quantity this close outside its band counts as inside: pu for a
// voltage, MW or Mvar for a flow.
constexpr double v_tol = 1e-6;
constexpr double flow_tol = 1e-4;
// A continuous control aims this far inside the edge it crossed.
constexpr double v_margin = 1e-4;
constexpr double flow_margin = 1e-2;

ControlMode mode_of(const NetControl &c, const PfOptions &opt)
{
    switch (c.kind) {
    case ControlKind::switched_shunt:
        return opt.adjust_switched_shunts;
    case ControlKind::tap_voltage:
    case ControlKind::tap_reactive:
        return opt.adjust_taps;
    case ControlKind::phase_shifter:
        break;
    }
    return opt.adjust_phase_shifters;
}

bool holds_voltage(const NetControl &c) { return c.reg >= 0; }

double tolerance(const NetControl &c) { return holds_voltage(c) ? v_tol : flow_tol; }

std::size_t node_of(const Network &net, int bus)
{
    return static_cast<std::size_t>(net.buses[static_cast<std::size_t>(bus)].node);
}

// The quantity control c holds at voltages (vm, va), its winding's branch
// being `br`: |V| of the regulated bus, or the flow into the winding at its
// own bus, S_f = V_f·conj(Yff·V_f + Yft·V_t) with the stamp's charging and
// without its end shunts, in MW (COD 3) or Mvar (COD 2).
double quantity(const Network &net, const NetControl &c, const NetBranch &br, const Eigen::VectorXd &vm,
                const Eigen::VectorXd &va)
{
    if (holds_voltage(c)) {
        return vm[static_cast<Eigen::Index>(node_of(net, c.reg))];
    }
    const std::complex<double> vf = std::polar(vm[br.f], va[br.f]);
    const std::complex<double> vt = std::polar(vm[br.t], va[br.t]);
    const BranchStamp st = branch_stamp(br, false);
    const std::complex<double> s = vf * std::conj(st.yff * vf + st.yft * vt) * net.sbase;
    return c.kind == ControlKind::phase_shifter ? s.real() : s.imag();
}

const NetBranch &branch_of(const Network &net, const NetControl &c)
{
    return net.branches[static_cast<std::size_t>(std::max(c.branch, 0))];
}

// Where control c stands in solve s: off, unit_held or locked when it can
// not act; in_band otherwise (the caller then tests its band).
ControlState availability(const Network &net, const std::vector<char> &on, const PfSolution &s, const NetControl &c,
                          bool acts)
{
    if (!acts) {
        return ControlState::locked;
    }
    const auto off = [&](int bus) { return s.sch.kind[node_of(net, bus)] == BusKind::off; };
    if (c.kind == ControlKind::switched_shunt ? off(c.bus)
                                              : on[static_cast<std::size_t>(c.branch)] == 0 ||
                                                    off(branch_of(net, c).f) || off(branch_of(net, c).t)) {
        return ControlState::off;
    }
    if (holds_voltage(c)) {
        if (off(c.reg)) {
            return ControlState::off;
        }
        const BusKind k = s.sch.kind[node_of(net, c.reg)];
        if (k == BusKind::pv || k == BusKind::slack) {
            return ControlState::unit_held;
        }
    }
    return ControlState::in_band;
}

// ∂F·δ: the change of the mismatches F = S(V) − S_sched at fixed V when
// control c's setting moves from its own to x, on the rows the Jacobian
// solves (P of pq and pv buses, Q of pq buses). A shunt's ΔB adds
// ΔS_k = −j·ΔB·|V_k|²; a winding's stamp change ΔY adds
// ΔS_f = V_f·conj(ΔYff·V_f + ΔYft·V_t) and ΔS_t = V_t·conj(ΔYtf·V_f + ΔYtt·V_t).
Eigen::VectorXd mismatch_change(const Network &net, const NetControl &c, double x, const PfSolution &s)
{
    const auto n = static_cast<Eigen::Index>(net.buses.size());
    Eigen::VectorXd df = Eigen::VectorXd::Zero(2 * n);
    const auto add = [&](Eigen::Index i, std::complex<double> ds) {
        const BusKind k = s.sch.kind[static_cast<std::size_t>(i)];
        df[i] += k == BusKind::pq || k == BusKind::pv ? ds.real() : 0.0;
        df[n + i] += k == BusKind::pq ? ds.imag() : 0.0;
    };
    if (c.kind == ControlKind::switched_shunt) {
        const auto k = static_cast<Eigen::Index>(node_of(net, c.bus));
        const double db = (x - c.setting) / net.sbase;
        add(k, std::complex<double>(0.0, -db * s.v.vm[k] * s.v.vm[k]));
        return df;
    }
    const NetBranch &br = branch_of(net, c);
    const BranchStamp a = branch_stamp(br, true);
    const BranchStamp b = branch_stamp(winding_at(c, br, x), true);
    const std::complex<double> vf = std::polar(s.v.vm[br.f], s.v.va[br.f]);
    const std::complex<double> vt = std::polar(s.v.vm[br.t], s.v.va[br.t]);
    add(br.f, vf * std::conj((b.yff - a.yff) * vf + (b.yft - a.yft) * vt));
    add(br.t, vt * std::conj((b.ytf - a.ytf) * vf + (b.ytt - a.ytt) * vt));
    return df;
}

// d(quantity)/d(setting) of control c at solution s, with the Jacobian of
// s factored in ws: Δx = −J⁻¹·ΔF for a small setting change δ, then the
// quantity at V + Δx and the new setting.
double sensitivity(const Network &net, const NetControl &c, const PfSolution &s, NewtonWorkspace &ws)
{
    const double delta = c.kind == ControlKind::switched_shunt  ? 1.0
                         : c.kind == ControlKind::phase_shifter ? 1e-2
                                                                : 1e-3 * std::max(std::abs(c.setting), 1.0);
    Eigen::VectorXd dx = mismatch_change(net, c, c.setting + delta, s);
    const auto n = static_cast<Eigen::Index>(net.buses.size());
    klu_solve(ws.symbolic.get(), ws.numeric.get(), static_cast<int>(2 * n), 1, dx.data(), ws.common.get());
    const Eigen::VectorXd vm = s.v.vm - dx.tail(n);
    const Eigen::VectorXd va = s.v.va - dx.head(n);
    const NetBranch &br = branch_of(net, c);
    const NetBranch moved = c.kind == ControlKind::switched_shunt ? br : winding_at(c, br, c.setting + delta);
    return (quantity(net, c, moved, vm, va) - quantity(net, c, br, s.v.vm, s.v.va)) / delta;
}

// Per control, across the rounds of one outer loop.
struct Track {
    int last_dir = 0; // +1 the setting last went up, −1 down
    int reversals = 0;
    bool hunted = false;
};

// A control outside its band: which way its quantity must go.
struct Want {
    int c = 0;
    int dir = 0;      // +1 up, −1 down
    double value = 0; // the quantity now
};

// The next setting of a control whose quantity must change by dq with
// sensitivity ds (quantity per unit of setting), or its own setting when
// it is at the end of its range that way.
double next_setting(const NetControl &c, double dq, double ds, int dir)
{
    const double range = c.max - c.min;
    // Where the network gives it no hold on the quantity (a shift of its
    // whole range moves it less than the tolerance), it goes to its end in
    // the way `sign` says.
    if (!(std::abs(ds) * std::max(range, 1e-9) > tolerance(c))) {
        return c.sign * dir > 0 ? c.max : c.min;
    }
    const double want = c.setting + dq / ds;
    const int way = ds * dir > 0 ? 1 : -1;
    if (c.positions.empty()) {
        return std::clamp(want, c.min, c.max);
    }
    // The position nearest `want` among those beyond the setting that way.
    const double eps = 1e-9 * std::max(1.0, std::abs(c.setting));
    double best = c.setting;
    for (const double p : c.positions) {
        if ((p - c.setting) * way > eps &&
            (best == c.setting || std::abs(p - want) < std::abs(best - want) - 1e-12 * std::abs(want))) {
            best = p;
        }
    }
    return best;
}

// The spacing of a discrete control's positions next to its setting that
// way (the last gap at an end); 0 for a continuous one.
double spacing(const NetControl &c, int way)
{
    if (c.positions.size() < 2) {
        return 0.0;
    }
    auto it = std::upper_bound(c.positions.begin(), c.positions.end(), c.setting);
    if (way < 0) {
        it = std::lower_bound(c.positions.begin(), c.positions.end(), c.setting);
        it = it == c.positions.begin() ? it + 1 : it;
    } else {
        it = it == c.positions.end() ? it - 1 : it;
        it = it == c.positions.begin() ? it + 1 : it;
    }
    return *it - *(it - 1);
}

// How far the quantity should move: to just inside the edge it crossed, by
// half a position's effect for a discrete control (at most to the band's
// middle), by a small margin for a continuous one.
double wanted_change(const NetControl &c, const Want &w, double ds)
{
    const double edge = w.dir > 0 ? c.lo : c.hi;
    const double half = (c.hi - c.lo) / 2.0;
    const double way = ds * w.dir > 0 ? 1.0 : -1.0;
    const double inward = c.positions.empty() ? (holds_voltage(c) ? v_margin : flow_margin)
                                              : std::abs(ds) * spacing(c, static_cast<int>(way)) / 2.0;
    return edge + w.dir * std::min(half, inward) - w.value;
}

// Applies setting x to control c in the network and in y's values.
void move_control(Network &net, Ybus &y, int c, double x)
{
    const NetControl &ctl = net.controls[static_cast<std::size_t>(c)];
    if (ctl.kind == ControlKind::switched_shunt) {
        const auto k = static_cast<int>(node_of(net, ctl.bus));
        y.coeffRef(k, k) += std::complex<double>(0.0, set_control_setting(net, c, x));
        return;
    }
    const NetBranch &br = branch_of(net, ctl);
    const BranchStamp a = branch_stamp(br, true);
    set_control_setting(net, c, x);
    const BranchStamp b = branch_stamp(br, true);
    y.coeffRef(br.f, br.f) += b.yff - a.yff;
    y.coeffRef(br.f, br.t) += b.yft - a.yft;
    y.coeffRef(br.t, br.f) += b.ytf - a.ytf;
    y.coeffRef(br.t, br.t) += b.ytt - a.ytt;
}

// Finds every control's state and quantity at solution s; those outside
// their band that can still move go into `wants`.
std::vector<Want> survey(const Network &net, const std::vector<char> &on, const PfSolution &s, const PfOptions &opt,
                         ControlScope scope, const std::vector<Track> &track, ControlsOutcome &out)
{
    std::vector<Want> wants;
    const std::size_t m = net.controls.size();
    out.state.assign(m, ControlState::locked);
    out.value.assign(m, std::nan(""));
    for (std::size_t i = 0; i < m; ++i) {
        const NetControl &c = net.controls[i];
        out.state[i] = availability(net, on, s, c, control_acts(c, opt, scope));
        if (out.state[i] == ControlState::off || out.state[i] == ControlState::locked) {
            continue;
        }
        const double q = quantity(net, c, branch_of(net, c), s.v.vm, s.v.va);
        out.value[i] = q;
        const double tol = tolerance(c);
        if (out.state[i] == ControlState::unit_held || (q >= c.lo - tol && q <= c.hi + tol)) {
            continue;
        }
        out.state[i] = track[i].hunted ? ControlState::hunted : ControlState::at_limit;
        if (!track[i].hunted) {
            wants.push_back({static_cast<int>(i), q < c.lo ? 1 : -1, q});
        }
    }
    return wants;
}

void add_counts(PfSolution &s, const PfSolution &before)
{
    s.iterations += before.iterations;
    s.chord_steps += before.chord_steps;
    s.factorizations += before.factorizations;
    s.q_changes += before.q_changes;
}

// Moves every control of `wants` that can move; returns how many did.
// Those that can not (at the end of their range) stay at_limit in `out`.
int move_all(Network &net, Ybus &y, const PfSolution &s, NewtonWorkspace &ws, const std::vector<Want> &wants,
             std::vector<Track> &track, ControlsOutcome &out)
{
    int worst = -1;
    mismatch(net, y, s.sch, s.v, ws, worst);
    jacobian(net, y, s.sch, s.v, ws);
    const bool factored = factor_jacobian(ws);
    // Controls holding the same bus share the change it needs.
    std::map<std::size_t, int> sharing;
    for (const Want &w : wants) {
        const NetControl &c = net.controls[static_cast<std::size_t>(w.c)];
        if (holds_voltage(c)) {
            ++sharing[node_of(net, c.reg)];
        }
    }
    std::vector<std::pair<int, double>> moves;
    for (const Want &w : wants) {
        const NetControl &c = net.controls[static_cast<std::size_t>(w.c)];
        const double ds = factored ? sensitivity(net, c, s, ws) : 0.0;
        const int share = holds_voltage(c) ? sharing[node_of(net, c.reg)] : 1;
        const double x = next_setting(c, wanted_change(c, w, ds) / share, ds, w.dir);
        if (x == c.setting) {
            continue; // at_limit
        }
        Track &t = track[static_cast<std::size_t>(w.c)];
        const int way = x > c.setting ? 1 : -1;
        t.reversals += t.last_dir != 0 && way != t.last_dir ? 1 : 0;
        t.last_dir = way;
        if (t.reversals > max_reversals) {
            t.hunted = true;
            out.state[static_cast<std::size_t>(w.c)] = ControlState::hunted;
            continue;
        }
        moves.emplace_back(w.c, x);
    }
    for (const auto &[c, x] : moves) {
        move_control(net, y, c, x);
    }
    return static_cast<int>(moves.size());
}

} // namespace

const char *control_state_name(ControlState s)
{
    switch (s) {
    case ControlState::in_band:
        return "in_band";
    case ControlState::at_limit:
        return "at_limit";
    case ControlState::hunted:
        return "hunted";
    case ControlState::unit_held:
        return "unit_held";
    case ControlState::off:
        return "off";
    case ControlState::locked:
        break;
    }
    return "locked";
}

bool control_acts(const NetControl &c, const PfOptions &opt, ControlScope scope)
{
    const ControlMode m = mode_of(c, opt);
    return scope == ControlScope::base_case ? m != ControlMode::locked : m == ControlMode::all;
}

bool controls_act(const Network &net, const PfOptions &opt, ControlScope scope)
{
    return std::any_of(net.controls.begin(), net.controls.end(),
                       [&](const NetControl &c) { return control_acts(c, opt, scope); });
}

PfSolution adjust_controls(Network &net, Ybus &y, const std::vector<char> &on, PfSolution s, const PfOptions &opt,
                           NewtonWorkspace &ws, const ChordBase *chord, ControlScope scope, ControlsOutcome &out)
{
    std::vector<Track> track(net.controls.size());
    out = ControlsOutcome{};
    for (int round = 0;; ++round) {
        const std::vector<Want> wants = survey(net, on, s, opt, scope, track, out);
        if (wants.empty() || move_all(net, y, s, ws, wants, track, out) == 0) {
            break;
        }
        if (round == max_rounds) {
            s.converged = false;
            s.failure = "controls did not settle in " + std::to_string(max_rounds) + " rounds";
            return s;
        }
        PfSolution next = solve_with_q_limits(net, y, s.sch, s.held, s.v, opt, ws, chord);
        add_counts(next, s);
        s = std::move(next);
        out.rounds = round + 1;
        if (!s.converged) {
            return s;
        }
    }
    out.hunted = static_cast<int>(std::count(out.state.begin(), out.state.end(), ControlState::hunted));
    out.at_limit = static_cast<int>(std::count(out.state.begin(), out.state.end(), ControlState::at_limit));
    return s;
}

PfSolution solve_with_controls(Network &net, Ybus &y, const std::vector<char> &on, BusSchedule sch,
                               std::vector<signed char> held, Voltages v, const PfOptions &opt, NewtonWorkspace &ws,
                               const ChordBase *chord, ControlScope scope, ControlsOutcome &out)
{
    PfSolution s = solve_with_q_limits(net, y, std::move(sch), std::move(held), std::move(v), opt, ws, chord);
    if (!s.converged) {
        return s;
    }
    return adjust_controls(net, y, on, std::move(s), opt, ws, chord, scope, out);
}

BaseCase solve_base_case_with_controls(Network &net, const PfOptions &opt, ControlsOutcome &out)
{
    BaseCase bc = solve_base_case(net, opt);
    out = ControlsOutcome{};
    if (!bc.sol.converged || !controls_act(net, opt, ControlScope::base_case)) {
        return bc;
    }
    bc.sol = adjust_controls(net, bc.y, bc.on, std::move(bc.sol), opt, bc.ws, nullptr, ControlScope::base_case, out);
    bc.chord = ChordBase{};
    if (bc.sol.converged) {
        make_chord_base(net, bc.y, bc.sol.sch, bc.sol.v, bc.ws, bc.chord);
    }
    return bc;
}

std::string controls_note(const Network &base, const Network &after, const ControlsOutcome &out)
{
    int taps = 0, shifters = 0, shunts = 0;
    for (std::size_t i = 0; i < after.controls.size(); ++i) {
        if (after.controls[i].setting == base.controls[i].setting) {
            continue;
        }
        const ControlKind k = after.controls[i].kind;
        ++(k == ControlKind::switched_shunt ? shunts : k == ControlKind::phase_shifter ? shifters : taps);
    }
    const auto count = [](int n, const char *one, const char *many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::string moved;
    for (const auto &[n, one, many] : {std::make_tuple(taps, "tap", "taps"),
                                       std::make_tuple(shifters, "phase shifter", "phase shifters"),
                                       std::make_tuple(shunts, "shunt", "shunts")}) {
        if (n > 0) {
            moved += (moved.empty() ? "" : ", ") + count(n, one, many);
        }
    }
    std::string note = moved.empty() ? std::string() : "controls moved: " + moved;
    const auto more = [&note](const std::string &s) {
        note += (note.empty() ? "controls: " : "; ") + s;
    };
    if (out.at_limit > 0) {
        more(std::to_string(out.at_limit) + " at a limit");
    }
    if (out.hunted > 0) {
        more(std::to_string(out.hunted) + " hunted");
    }
    return note;
}
