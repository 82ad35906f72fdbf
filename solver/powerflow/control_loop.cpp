#include "powerflow/control_loop.h"

#include "network/control_setup.h"
#include "powerflow/chord.h"
#include "powerflow/dc_rounds.h"
#include "powerflow/newton.h"

#include <Eigen/Dense>

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

// Whether units elsewhere hold bus r's voltage now (remote regulation).
bool regulated_by_units(const Network &net, const BusSchedule &sch, int r)
{
    for (std::size_t k = 0; k < net.groups.size(); ++k) {
        if (net.groups[k].bus == r && sch.vhold[k] >= 0) {
            return true;
        }
    }
    return false;
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
    if (c.kind == ControlKind::switched_shunt
            ? off(c.bus)
            : on[static_cast<std::size_t>(c.branch)] == 0 || off(branch_of(net, c).f) || off(branch_of(net, c).t)) {
        return ControlState::off;
    }
    if (holds_voltage(c)) {
        if (off(c.reg)) {
            return ControlState::off;
        }
        const auto r = static_cast<int>(node_of(net, c.reg));
        const BusKind k = s.sch.kind[r];
        if (k == BusKind::pv || k == BusKind::slack || regulated_by_units(net, s.sch, r)) {
            return ControlState::unit_held;
        }
    }
    return ControlState::in_band;
}

// ∂F·δ: the change of the mismatches F = S(V) − S_sched at fixed V when
// control c's setting moves from its own to x, on the rows the Jacobian
// solves (P of pq, pv and reg buses, Q of pq buses; a reg bus's Q row is
// its regulation group's, which the estimate leaves out). A shunt's ΔB adds
// ΔS_k = −j·ΔB·|V_k|²; a winding's stamp change ΔY adds
// ΔS_f = V_f·conj(ΔYff·V_f + ΔYft·V_t) and ΔS_t = V_t·conj(ΔYtf·V_f + ΔYtt·V_t).
Eigen::VectorXd mismatch_change(const Network &net, const NetControl &c, double x, const PfSolution &s)
{
    const auto n = static_cast<Eigen::Index>(net.buses.size());
    Eigen::VectorXd df = Eigen::VectorXd::Zero(2 * n);
    const auto add = [&](Eigen::Index i, std::complex<double> ds) {
        const BusKind k = s.sch.kind[static_cast<std::size_t>(i)];
        df[i] += k == BusKind::pq || k == BusKind::pv || k == BusKind::reg ? ds.real() : 0.0;
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

// The setting change whose effect the sensitivities are taken from.
double probe(const NetControl &c)
{
    if (c.kind == ControlKind::switched_shunt) {
        return 1.0; // Mvar
    }
    return c.kind == ControlKind::phase_shifter ? 1e-2 : 1e-3 * std::max(std::abs(c.setting), 1.0);
}

// S = ∂q/∂u between the controls of `wants` at solution s, the Jacobian of
// s factored in ws: for each control j, Δx = −J⁻¹·ΔF_j for its probe
// change δ_j, and S(i, j) = (q_i at V + Δx, with j's new setting where
// i = j, − q_i)/δ_j.
Eigen::MatrixXd sensitivities(const Network &net, const PfSolution &s, NewtonWorkspace &ws,
                              const std::vector<Want> &wants)
{
    const auto m = static_cast<Eigen::Index>(wants.size());
    const auto n = static_cast<Eigen::Index>(net.buses.size());
    Eigen::MatrixXd sens(m, m);
    for (Eigen::Index j = 0; j < m; ++j) {
        const NetControl &cj = net.controls[static_cast<std::size_t>(wants[static_cast<std::size_t>(j)].c)];
        const double delta = probe(cj);
        Eigen::VectorXd dx = mismatch_change(net, cj, cj.setting + delta, s);
        klu_solve(ws.symbolic.get(), ws.numeric.get(), static_cast<int>(2 * n), 1, dx.data(), ws.common.get());
        const Eigen::VectorXd vm = s.v.vm - dx.tail(n);
        const Eigen::VectorXd va = s.v.va - dx.head(n);
        for (Eigen::Index i = 0; i < m; ++i) {
            const Want &wi = wants[static_cast<std::size_t>(i)];
            const NetControl &ci = net.controls[static_cast<std::size_t>(wi.c)];
            const NetBranch &br = branch_of(net, ci);
            const bool own_winding = i == j && ci.kind != ControlKind::switched_shunt;
            const double q = quantity(net, ci, own_winding ? winding_at(ci, br, ci.setting + delta) : br, vm, va);
            sens(i, j) = (q - wi.value) / delta;
        }
    }
    return sens;
}

// The spacing of a discrete control's positions next to its setting that
// way (the last gap at an end); 0 for a continuous one.
double spacing(const NetControl &c, int way)
{
    if (c.positions.size() < 2) {
        return 0.0;
    }
    auto it = way < 0 ? std::lower_bound(c.positions.begin(), c.positions.end(), c.setting)
                      : std::upper_bound(c.positions.begin(), c.positions.end(), c.setting);
    it = it == c.positions.end() ? it - 1 : it;
    it = it == c.positions.begin() ? it + 1 : it;
    return *it - *(it - 1);
}

// How far the quantity should move: to just inside the edge it crossed, by
// half a position's effect for a discrete control (at most to the band's
// middle), by a small margin for a continuous one. ds: its own sensitivity.
double wanted_change(const NetControl &c, const Want &w, double ds)
{
    const double edge = w.dir > 0 ? c.lo : c.hi;
    const double half = (c.hi - c.lo) / 2.0;
    const int way = ds * w.dir > 0 ? 1 : -1;
    const double inward =
        c.positions.empty() ? (holds_voltage(c) ? v_margin : flow_margin) : std::abs(ds) * spacing(c, way) / 2.0;
    return edge + w.dir * std::min(half, inward) - w.value;
}

// Whether the network gives control c a hold on its quantity: a shift of
// its whole range, at sensitivity ds, moves it by more than the tolerance.
bool effective(const NetControl &c, double ds) { return std::abs(ds) * std::max(c.max - c.min, 1e-9) > tolerance(c); }

// The position of discrete control c nearest `want` among those at least
// one position on from its setting the way `way` says; its setting where
// there is none.
double nearest_position(const NetControl &c, int way, double want)
{
    const double eps = 1e-9 * std::max(1.0, std::abs(c.setting));
    double best = c.setting;
    bool found = false;
    for (const double p : c.positions) {
        const bool beyond = (p - c.setting) * way > eps;
        const bool nearer = !found || std::abs(p - want) < std::abs(best - want);
        best = beyond && nearer ? p : best;
        found = found || beyond;
    }
    return best;
}

// The next setting of control c, wanting to go to `want`, its quantity
// having to go the way `dir` says: a continuous control to `want` within
// its range, a discrete one to the position nearest `want` among those at
// least one position on from its setting that way; its own setting where
// it is at the end of its range that way. One the network gives no hold
// on goes to the end `sign` says.
double next_setting(const NetControl &c, double want, double ds, int dir)
{
    if (!effective(c, ds)) {
        return c.sign * dir > 0 ? c.max : c.min;
    }
    if (c.positions.empty()) {
        return std::clamp(want, c.min, c.max);
    }
    const int way = want > c.setting ? 1 : want < c.setting ? -1 : (ds * dir > 0 ? 1 : -1);
    return nearest_position(c, way, want);
}

// One pass of joint_changes: solves S·Δu = Δq for the controls not
// `fixed`, the fixed ones' changes in du given; a control that would pass
// an end of its range is fixed there. Returns true when one was (the
// others' changes are then cleared for another pass).
bool solve_free(const Network &net, const std::vector<Want> &wants, const Eigen::MatrixXd &sens,
                const Eigen::VectorXd &dq, const Eigen::VectorXd &scale, std::vector<char> &fixed, Eigen::VectorXd &du)
{
    std::vector<Eigen::Index> free;
    for (Eigen::Index i = 0; i < du.size(); ++i) {
        if (fixed[static_cast<std::size_t>(i)] == 0) {
            free.push_back(i);
        }
    }
    const auto k = static_cast<Eigen::Index>(free.size());
    if (k == 0) {
        return false;
    }
    Eigen::MatrixXd a(k, k);
    Eigen::VectorXd rhs(k);
    for (Eigen::Index r = 0; r < k; ++r) {
        const Eigen::Index i = free[static_cast<std::size_t>(r)];
        rhs[r] = dq[i] - sens.row(i).dot(du); // du: the fixed controls' changes only
        for (Eigen::Index col = 0; col < k; ++col) {
            a(r, col) = sens(i, free[static_cast<std::size_t>(col)]) * scale[free[static_cast<std::size_t>(col)]];
        }
    }
    const Eigen::VectorXd z = Eigen::CompleteOrthogonalDecomposition<Eigen::MatrixXd>(a).solve(rhs);
    bool clamped = false;
    for (Eigen::Index r = 0; r < k; ++r) {
        const Eigen::Index i = free[static_cast<std::size_t>(r)];
        const NetControl &c = net.controls[static_cast<std::size_t>(wants[static_cast<std::size_t>(i)].c)];
        du[i] = z[r] * scale[i];
        const double x = std::clamp(c.setting + du[i], c.min, c.max);
        if (x != c.setting + du[i]) {
            du[i] = x - c.setting;
            fixed[static_cast<std::size_t>(i)] = 1;
            clamped = true;
        }
    }
    for (const Eigen::Index i : free) {
        du[i] = clamped && fixed[static_cast<std::size_t>(i)] == 0 ? 0.0 : du[i];
    }
    return clamped;
}

// The setting changes that bring every quantity of `wants` to its target
// at once, S·Δu = Δq, solved in units of each control's position spacing
// (a tenth of its range where continuous) by a complete orthogonal
// decomposition: where several controls hold one bus their rows are the
// same and the least-norm solution shares the change among them. A
// control whose change would take it past the end of its range is held
// there and the rest solved again; one the network gives no hold on is
// left out.
Eigen::VectorXd joint_changes(const Network &net, const std::vector<Want> &wants, const Eigen::MatrixXd &sens)
{
    const auto m = static_cast<Eigen::Index>(wants.size());
    Eigen::VectorXd dq(m);
    Eigen::VectorXd scale(m);
    Eigen::VectorXd du = Eigen::VectorXd::Zero(m);
    std::vector<char> fixed(static_cast<std::size_t>(m), 0);
    for (Eigen::Index i = 0; i < m; ++i) {
        const Want &w = wants[static_cast<std::size_t>(i)];
        const NetControl &c = net.controls[static_cast<std::size_t>(w.c)];
        dq[i] = wanted_change(c, w, sens(i, i));
        const double gap = spacing(c, 1);
        scale[i] = gap > 0 ? gap : std::max(c.max - c.min, 1e-6) / 10.0;
        fixed[static_cast<std::size_t>(i)] = effective(c, sens(i, i)) ? 0 : 1;
    }
    for (Eigen::Index round = 0; round <= m; ++round) {
        if (!solve_free(net, wants, sens, dq, scale, fixed, du)) {
            break;
        }
    }
    return du;
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

// The move of every control of `wants` that can move, jointly
// (joint_changes). Those that can not (at the end of their range) stay
// at_limit in `out`; one whose steps reversed too often is hunted.
std::vector<std::pair<int, double>> plan_moves(Network &net, const Ybus &y, const PfSolution &s, NewtonWorkspace &ws,
                                               const std::vector<Want> &wants, std::vector<Track> &track,
                                               ControlsOutcome &out)
{
    int worst = -1;
    mismatch(net, y, s.sch, s.v, ws, worst);
    jacobian(net, y, s.sch, s.v, ws);
    const auto m = static_cast<Eigen::Index>(wants.size());
    Eigen::MatrixXd sens = Eigen::MatrixXd::Zero(m, m);
    Eigen::VectorXd du = Eigen::VectorXd::Zero(m);
    if (factor_jacobian(ws)) {
        sens = sensitivities(net, s, ws, wants);
        du = joint_changes(net, wants, sens);
    }
    std::vector<std::pair<int, double>> moves;
    for (Eigen::Index i = 0; i < m; ++i) {
        const Want &w = wants[static_cast<std::size_t>(i)];
        const NetControl &c = net.controls[static_cast<std::size_t>(w.c)];
        const double x = next_setting(c, c.setting + du[i], sens(i, i), w.dir);
        if (x == c.setting) {
            continue; // at_limit
        }
        // A discrete control that keeps stepping back and forth stops.
        Track &t = track[static_cast<std::size_t>(w.c)];
        const int way = x > c.setting ? 1 : -1;
        t.reversals += !c.positions.empty() && t.last_dir != 0 && way != t.last_dir ? 1 : 0;
        t.last_dir = way;
        if (t.reversals > max_reversals) {
            t.hunted = true;
            out.state[static_cast<std::size_t>(w.c)] = ControlState::hunted;
            continue;
        }
        moves.emplace_back(w.c, x);
    }
    return moves;
}

// The same moves, cautiously: each a quarter of the way, a discrete
// control to the position nearest that and at least one on.
std::vector<std::pair<int, double>> cautious(const Network &net, std::vector<std::pair<int, double>> moves)
{
    for (auto &[c, x] : moves) {
        const NetControl &ctl = net.controls[static_cast<std::size_t>(c)];
        const double want = ctl.setting + (x - ctl.setting) / 4.0;
        if (ctl.positions.empty()) {
            x = want;
            continue;
        }
        x = nearest_position(ctl, x > ctl.setting ? 1 : -1, want);
    }
    return moves;
}

// Applies the moves; returns the settings they left.
std::vector<std::pair<int, double>> apply_moves(Network &net, Ybus &y, const std::vector<std::pair<int, double>> &moves)
{
    std::vector<std::pair<int, double>> old;
    for (const auto &[c, x] : moves) {
        old.emplace_back(c, net.controls[static_cast<std::size_t>(c)].setting);
        move_control(net, y, c, x);
    }
    return old;
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
        const std::vector<std::pair<int, double>> moves =
            wants.empty() ? std::vector<std::pair<int, double>>() : plan_moves(net, y, s, ws, wants, track, out);
        if (moves.empty()) {
            break;
        }
        if (round == max_rounds) {
            s.converged = false;
            s.failure = "controls did not settle in " + std::to_string(max_rounds) + " rounds";
            return s;
        }
        const std::vector<std::pair<int, double>> old = apply_moves(net, y, moves);
        PfSolution next = solve_with_q_limits(net, y, s.sch, s.held, s.v, opt, ws, chord);
        if (!next.converged) {
            // A large move can take Newton-Raphson out of its reach: the
            // same moves again, a quarter of the way, from the same state.
            add_counts(s, next);
            apply_moves(net, y, old);
            apply_moves(net, y, cautious(net, moves));
            next = solve_with_q_limits(net, y, s.sch, s.held, s.v, opt, ws, chord);
        }
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
    const bool moved = controls_act(net, opt, ControlScope::base_case) ||
                       opt.base_generator_response != ResponseMode::swing; // the state slopes were measured at
    if (bc.sol.converged && controls_act(net, opt, ControlScope::base_case)) {
        bc.sol =
            adjust_controls(net, bc.y, bc.on, std::move(bc.sol), opt, bc.ws, nullptr, ControlScope::base_case, out);
        bc.chord = ChordBase{};
        if (bc.sol.converged) {
            make_chord_base(net, bc.y, bc.sol.sch, bc.sol.v, bc.ws, bc.chord);
            refresh_base_outputs(net, bc);
        }
    }
    if (bc.sol.converged && opt.base_generator_response != ResponseMode::swing) {
        share_base_case(net, bc, opt);
    }
    if (bc.sol.converged && opt.generator_response != ResponseMode::swing && moved) {
        measure_share_slopes(net, bc, opt);
    }
    return bc;
}

std::string controls_note(const Network &base, const Network &after, const ControlsOutcome &out)
{
    int taps = 0;
    int shifters = 0;
    int shunts = 0;
    int at_limit = 0;
    for (std::size_t i = 0; i < after.controls.size(); ++i) {
        if (after.controls[i].setting == base.controls[i].setting) {
            continue;
        }
        at_limit += i < out.state.size() && out.state[i] == ControlState::at_limit ? 1 : 0;
        const ControlKind k = after.controls[i].kind;
        ++(k == ControlKind::switched_shunt ? shunts : k == ControlKind::phase_shifter ? shifters : taps);
    }
    const auto count = [](int n, const char *one, const char *many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::string moved;
    for (const auto &[n, one, many] :
         {std::make_tuple(taps, "tap", "taps"), std::make_tuple(shifters, "phase shifter", "phase shifters"),
          std::make_tuple(shunts, "shunt", "shunts")}) {
        if (n > 0) {
            moved += (moved.empty() ? "" : ", ") + count(n, one, many);
        }
    }
    std::string note = moved.empty() ? std::string() : "controls moved: " + moved;
    const auto more = [&note](const std::string &s) { note += (note.empty() ? "controls: " : "; ") + s; };
    if (at_limit > 0) {
        more(std::to_string(at_limit) + " at a limit");
    }
    if (out.hunted > 0) {
        more(std::to_string(out.hunted) + " hunted");
    }
    return note;
}
