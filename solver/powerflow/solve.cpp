#include "powerflow/solve.h"

#include "network/islands.h"
#include "powerflow/flows.h"
#include "powerflow/regulation.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double v_tol = 1e-6; // pu
constexpr double q_tol_mvar = 1e-4;

double q_tol_pu(const Network &net) { return q_tol_mvar / net.sbase; }
constexpr int max_batch_rounds = 10;
constexpr double loose_tolerance_pu = 1e-4;

// The group bus i is a member of, or -1.
int group_of(const Network &net, size_t i) { return net.group_of.empty() ? -1 : net.group_of[i]; }

// How far the units' Qg at free voltage-controlled bus i (a pv bus, or a
// member of a regulation group) lies outside the sum of their limits (≤ 0
// inside them, −∞ at any other bus); dir is +1 above QT, −1 below QB.
double q_violation(const Network &net, const PfSolution &s, const NewtonWorkspace &ws, size_t i, int &dir)
{
    if (s.sch.kind[i] != BusKind::pv && s.sch.kind[i] != BusKind::reg) {
        return -HUGE_VAL;
    }
    const double q = unit_q(net, s.sch, ws, s.v, static_cast<int>(i));
    const double over = q - s.sch.qmax[i];
    const double under = s.sch.qmin[i] - q;
    dir = over >= under ? 1 : -1;
    return std::max(over, under);
}

// How far held bus i lies on the wrong side of its set-point (above VS at
// QT, below VS at QB); −∞ for a bus that is not held or can not be
// released (its QT_sum = QB_sum). A member of a regulation group compares
// its group's regulated bus with the group's VS while every member is
// held; while others are free, the share it would take at their level,
// a_i·Qg_ref/a_ref, with its limit (the wrong side: inside it).
double wrong_side(const Network &net, const PfSolution &s, const NewtonWorkspace &ws, size_t i)
{
    if (s.held[i] == 0 || s.sch.kind[i] == BusKind::off || s.sch.qmax[i] == s.sch.qmin[i]) {
        return -HUGE_VAL;
    }
    const int k = group_of(net, i);
    if (k < 0) {
        const double vm = s.v.vm[static_cast<Eigen::Index>(i)];
        return s.held[i] > 0 ? vm - s.sch.vs[i] : s.sch.vs[i] - vm;
    }
    const RegGroup &g = net.groups[static_cast<std::size_t>(k)];
    const int ref = s.sch.ref[static_cast<std::size_t>(k)];
    if (ref < 0) {
        const double vm = s.v.vm[g.bus];
        return s.held[i] > 0 ? vm - g.vs : g.vs - vm;
    }
    const auto r = static_cast<std::size_t>(ref);
    const bool equal = s.sch.rmpct[r] <= 0;
    const double share = (equal ? 1.0 : s.sch.rmpct[i] / s.sch.rmpct[r]) * unit_q(net, s.sch, ws, s.v, ref);
    return (s.held[i] > 0 ? s.sch.qmax[i] - share : share - s.sch.qmin[i]) * v_tol / q_tol_pu(net);
}

// The free voltage-controlled bus whose Qg lies furthest outside its
// limits, or -1; dir is +1 for QT, -1 for QB.
int worst_q_violation(const Network &net, const PfSolution &s, const NewtonWorkspace &ws, double q_tol, int &dir)
{
    int best = -1;
    double worst = q_tol;
    for (size_t i = 0; i < net.buses.size(); ++i) {
        int d = 0;
        const double v = q_violation(net, s, ws, i, d);
        if (v > worst) {
            worst = v;
            best = static_cast<int>(i);
            dir = d;
        }
    }
    return best;
}

// The held bus furthest on the wrong side of its set-point, or -1.
int worst_wrong_side(const Network &net, const PfSolution &s, const NewtonWorkspace &ws)
{
    int best = -1;
    double worst = v_tol;
    for (size_t i = 0; i < net.buses.size(); ++i) {
        const double w = wrong_side(net, s, ws, i);
        if (w > worst) {
            worst = w;
            best = static_cast<int>(i);
        }
    }
    return best;
}

} // namespace

double unit_q(const Network &net, const BusSchedule &sch, const NewtonWorkspace &ws, const Voltages &v, int i)
{
    // V_i as the last mismatch had it where it has not moved since.
    const bool in_ws = ws.vc_at.vm.size() == v.vm.size() && ws.vc_at.vm[i] == v.vm[i] && ws.vc_at.va[i] == v.va[i];
    const std::complex<double> vi = in_ws ? ws.vc[i] : std::polar(v.vm[i], v.va[i]);
    const double q = (vi * std::conj(ws.current[i])).imag();
    const double qdc = sch.qdc.empty() ? 0.0 : sch.qdc[static_cast<std::size_t>(i)];
    return q + net.buses[i].qd + net.buses[i].iq * v.vm[i] + qdc;
}

std::vector<DcDraw> dc_draws(const Network &net, const BusSchedule &sch, const Voltages &v, std::vector<double> &taps)
{
    taps = sch.taps;
    std::vector<DcDraw> draws;
    const auto off = [&](int b) {
        return sch.kind[static_cast<std::size_t>(net.buses[static_cast<std::size_t>(b)].node)] == BusKind::off;
    };
    for (std::size_t k = 0; k < net.lcc.size(); ++k) {
        const NetLcc &x = net.lcc[k];
        if (!x.in_service || off(x.rbus) || off(x.ibus)) {
            continue;
        }
        const LccPoint p = lcc_point(x.d, v.vm[x.rbus], v.vm[x.ibus], sch.taps[2 * k], sch.taps[2 * k + 1]);
        taps[2 * k] = p.tap_r;
        taps[2 * k + 1] = p.tap_i;
        draws.push_back({x.rbus, std::complex<double>(p.pr_mw, p.qr_mvar) / net.sbase});
        draws.push_back({x.ibus, std::complex<double>(-p.pi_mw, p.qi_mvar) / net.sbase});
    }
    for (const NetVsc &x : net.vsc) {
        if (!x.in_service || off(x.bus[0]) || off(x.bus[1])) {
            continue;
        }
        for (std::size_t k = 0; k < 2; ++k) {
            draws.push_back({x.bus.at(k), -std::complex<double>(x.p_ac.at(k), x.q_ac.at(k)) / net.sbase});
        }
    }
    return draws;
}

double dc_injections(const Network &net, BusSchedule &sch, const Voltages &v)
{
    std::vector<double> taps;
    const std::vector<DcDraw> draws = dc_draws(net, sch, v, taps);
    const bool moved = taps != sch.taps;
    sch.taps = std::move(taps);
    const std::vector<double> pdc = sch.pdc;
    const std::vector<double> qdc = sch.qdc;
    std::fill(sch.pdc.begin(), sch.pdc.end(), 0.0);
    std::fill(sch.qdc.begin(), sch.qdc.end(), 0.0);
    for (const DcDraw &d : draws) {
        // A converter on a bus joined by ties draws at its node's representative.
        const auto at = static_cast<std::size_t>(net.buses[static_cast<std::size_t>(d.bus)].node);
        sch.pdc[at] += d.s.real();
        sch.qdc[at] += d.s.imag();
    }
    if (moved) {
        return HUGE_VAL;
    }
    double change = 0;
    for (std::size_t i = 0; i < pdc.size(); ++i) {
        change = std::max({change, std::abs(pdc[i] - sch.pdc[i]), std::abs(qdc[i] - sch.qdc[i])});
    }
    return change;
}

namespace {

void hold_bus(PfSolution &s, int i, int dir)
{
    s.sch.kind[i] = BusKind::pq;
    s.sch.qgen[i] = dir > 0 ? s.sch.qmax[i] : s.sch.qmin[i];
    s.held[i] = static_cast<signed char>(dir);
    ++s.q_changes;
}

void release_bus(PfSolution &s, int i)
{
    s.sch.kind[i] = BusKind::pv;
    s.v.vm[i] = s.sch.vs[i];
    s.held[i] = 0;
    ++s.q_changes;
}

// Holds bus i at the limit its units broke. A member of a regulation group
// leaves the group's sharing; the others go on holding its regulated bus.
void hold(const Network &net, PfSolution &s, int i, int dir)
{
    hold_bus(s, i, dir);
    if (group_of(net, static_cast<std::size_t>(i)) >= 0) {
        refresh_groups(net, s.sch, s.held, s.v);
    }
}

// Releases held bus i: it holds VS again, or as a member of a regulation
// group, shares in holding its regulated bus at the group's VS.
void release(const Network &net, PfSolution &s, int i)
{
    const int k = group_of(net, static_cast<std::size_t>(i));
    const double vm = s.v.vm[i];
    release_bus(s, i);
    if (k >= 0) {
        if (i != net.groups[static_cast<std::size_t>(k)].bus) {
            s.sch.kind[static_cast<std::size_t>(i)] = BusKind::reg; // its |V| stays an unknown, from where it is
            s.v.vm[i] = vm;
        }
        refresh_groups(net, s.sch, s.held, s.v);
    }
}

// One round of the batch rule: every free bus outside its Q limits is held
// at the limit it broke and every held bus on the wrong side of VS is
// released, all at once. Returns the number of buses changed.
int switch_all(const Network &net, PfSolution &s, const NewtonWorkspace &ws, double q_tol)
{
    int changed = 0;
    for (size_t i = 0; i < net.buses.size(); ++i) {
        int dir = 0;
        if (q_violation(net, s, ws, i, dir) > q_tol) {
            hold(net, s, static_cast<int>(i), dir);
            ++changed;
        } else if (wrong_side(net, s, ws, i) > v_tol) {
            release(net, s, static_cast<int>(i));
            ++changed;
        }
    }
    return changed;
}

// "1 iteration", "N iterations".
std::string iterations_text(int n) { return std::to_string(n) + (n == 1 ? " iteration" : " iterations"); }

// Why the last Newton solve failed, with the steps of the whole solve up to
// here, chord and Newton, every round of the reactive-limit loop: the
// number a results row gives. max_iterations bounds one Newton solve only.
std::string newton_failure(const PfSolution &s, const PfOptions &opt)
{
    const std::string steps = iterations_text(s.iterations);
    if (s.last.singular) {
        return "singular Jacobian after " + steps;
    }
    if (!std::isfinite(s.last.max_mismatch)) {
        return "no convergence in " + steps + " (the last Newton solve stopped on a mismatch that is not finite)";
    }
    return "no convergence in " + steps +
           " (the last Newton solve stopped at max_iterations = " + std::to_string(opt.max_iterations) + ")";
}

// Newton-Raphson from s.v, counted into s.
bool run_newton(const Network &net, const Ybus &y, PfSolution &s, const PfOptions &opt, NewtonWorkspace &ws)
{
    s.last = newton_pf(net, y, s.sch, s.v, opt, ws);
    s.iterations += s.last.iterations;
    s.factorizations += s.last.factorizations;
    return s.last.converged;
}

// The chord steps of one reactive-limit loop: on the base case's factors
// while the bus kinds changed in few rows, then on the loop's own factors
// (make_local_chord_base), taken where the base case's stopped helping.
struct Chords {
    const ChordBase *shared = nullptr;
    ChordState shared_st;
    ChordBase own;
    ChordState own_st;
};

// Chord steps from s.v on `cb`, counted into s. True when they converged;
// otherwise s.v is where they got to if that is nearer a solution than
// `start` (its largest mismatch smaller), else `start`.
bool run_chord(const Network &net, const Ybus &y, PfSolution &s, const PfOptions &opt, NewtonWorkspace &ws,
               const ChordBase &cb, ChordState &st, const Voltages &start)
{
    const ChordResult c = chord_pf(net, y, s.sch, s.v, opt, ws, cb, st);
    s.iterations += c.r.iterations;
    s.chord_steps += c.r.iterations;
    if (c.r.converged) {
        s.last = c.r;
        return true;
    }
    if (!c.tried || c.r.iterations == 0 || !(c.r.max_mismatch < c.first_mismatch)) {
        s.v = start;
    }
    return false;
}

// One solve. With base factors: chord steps on them, or once the bus kinds
// have moved too far from the base case's, on the loop's own factors,
// taken afresh where they stop converging; Newton-Raphson from the same
// start only if those fail too. Without: Newton-Raphson. False with
// s.failure set when it fails.
bool solve_once(const Network &net, const Ybus &y, PfSolution &s, const PfOptions &opt, NewtonWorkspace &ws, Chords &ch)
{
    if (ch.shared != nullptr && !ch.shared->lu.empty()) {
        const Voltages start = s.v;
        const bool own = !ch.own.lu.empty();
        if (run_chord(net, y, s, opt, ws, own ? ch.own : *ch.shared, own ? ch.own_st : ch.shared_st, start)) {
            return true;
        }
        ch.own_st = ChordState{};
        if (make_local_chord_base(net, y, s.sch, s.v, ws, ch.own, ch.own_st)) {
            ++s.factorizations;
            if (run_chord(net, y, s, opt, ws, ch.own, ch.own_st, start)) {
                return true;
            }
        }
        if (run_newton(net, y, s, opt, ws)) {
            return true;
        }
        s.v = start;
    }
    if (!run_newton(net, y, s, opt, ws)) {
        s.failure = newton_failure(s, opt);
    }
    return s.last.converged;
}

// Batch rounds settle most cases in a few solves. Their solves stop at a
// loose tolerance, enough to tell which limits are broken; a tight solve
// follows, then batch rounds on tight solves while any are left (at most
// max_batch_rounds in all). The one-bus-at-a-time rule finishes the rest,
// and any case where the rounds go back and forth.
bool batch_rounds(const Network &net, const Ybus &y, PfSolution &s, const PfOptions &opt, NewtonWorkspace &ws,
                  Chords &ch)
{
    const double q_tol = q_tol_mvar / net.sbase;
    PfOptions loose = opt;
    loose.tolerance_pu = std::max(opt.tolerance_pu, loose_tolerance_pu);
    if (!solve_once(net, y, s, loose, ws, ch)) {
        return false;
    }
    int round = 0;
    for (; round < max_batch_rounds && switch_all(net, s, ws, q_tol) > 0; ++round) {
        if (!solve_once(net, y, s, loose, ws, ch)) {
            return false;
        }
    }
    if (!solve_once(net, y, s, opt, ws, ch)) {
        return false;
    }
    for (; round < max_batch_rounds && switch_all(net, s, ws, q_tol) > 0; ++round) {
        if (!solve_once(net, y, s, opt, ws, ch)) {
            return false;
        }
    }
    return true;
}

// The reactive-limit loop of solve_with_q_limits, its tied buses' voltages
// left where they started.
PfSolution q_limit_loop(const Network &net, const Ybus &y, BusSchedule sch, std::vector<signed char> held, Voltages v,
                        const PfOptions &opt, NewtonWorkspace &ws, const ChordBase *chord)
{
    PfSolution s;
    s.v = std::move(v);
    s.sch = std::move(sch);
    s.held = std::move(held);
    int controlled = 0;
    for (size_t i = 0; i < net.buses.size(); ++i) {
        controlled += (s.sch.kind[i] == BusKind::pv || s.sch.kind[i] == BusKind::reg || s.held[i] != 0) ? 1 : 0;
    }
    const double q_tol = q_tol_mvar / net.sbase;
    Chords ch;
    ch.shared = chord;
    if (!opt.enforce_q_limits) {
        s.converged = solve_once(net, y, s, opt, ws, ch);
        return s;
    }
    if (!batch_rounds(net, y, s, opt, ws, ch)) {
        return s;
    }
    const int batch_changes = s.q_changes;
    for (;;) {
        int dir = 0;
        const int to_hold = worst_q_violation(net, s, ws, q_tol, dir);
        const int to_release = worst_wrong_side(net, s, ws);
        if (to_hold < 0 && to_release < 0) {
            break;
        }
        if (to_hold >= 0) {
            hold(net, s, to_hold, dir);
        }
        if (to_release >= 0) {
            release(net, s, to_release);
        }
        if (s.q_changes - batch_changes > 2 * controlled) {
            s.failure = "reactive limits did not settle after " + std::to_string(s.q_changes) + " changes";
            return s;
        }
        if (!solve_once(net, y, s, opt, ws, ch)) {
            return s;
        }
    }
    s.converged = true;
    return s;
}

constexpr int max_dc_rounds = 30;

// Solves with the DC lines' injections at the AC voltages found, until
// those injections settle (at once where no LCC line is in service).
PfSolution dc_rounds(const Network &net, const Ybus &y, BusSchedule sch, std::vector<signed char> held, Voltages v,
                     const PfOptions &opt, NewtonWorkspace &ws, const ChordBase *chord)
{
    if (std::none_of(net.lcc.begin(), net.lcc.end(), [](const NetLcc &x) { return x.in_service; })) {
        PfSolution s = q_limit_loop(net, y, std::move(sch), std::move(held), std::move(v), opt, ws, chord);
        copy_tied_voltages(net, s.v);
        return s;
    }
    PfSolution total;
    for (int round = 0; round < max_dc_rounds; ++round) {
        PfSolution s = q_limit_loop(net, y, std::move(sch), std::move(held), std::move(v), opt, ws, chord);
        copy_tied_voltages(net, s.v);
        s.iterations += total.iterations;
        s.chord_steps += total.chord_steps;
        s.factorizations += total.factorizations;
        s.q_changes += total.q_changes;
        if (!s.converged || dc_injections(net, s.sch, s.v) <= opt.tolerance_pu) {
            return s;
        }
        s.converged = false;
        sch = s.sch;
        held = s.held;
        v = s.v;
        total = std::move(s);
    }
    total.failure = "the DC lines did not settle in " + std::to_string(max_dc_rounds) + " rounds";
    return total;
}

} // namespace

PfSolution solve_with_q_limits(const Network &net, const Ybus &y, BusSchedule sch, std::vector<signed char> held,
                               Voltages v, const PfOptions &opt, NewtonWorkspace &ws, const ChordBase *chord)
{
    // Every solve starts from its own voltages alone: none of the complex
    // voltages an earlier solve left in the workspace are reused (a
    // contingency's start from those of the base solution, the same for
    // all), and Ybus·V is carried from one step to the next only inside
    // this solve (see NewtonWorkspace::current_of).
    if (chord != nullptr && chord->v0.vm.size() == v.vm.size() && chord->vc0.size() == v.vm.size()) {
        ws.vc = chord->vc0;
        ws.vc_at = chord->v0;
    } else {
        ws.vc_at = Voltages{};
    }
    ws.current_of = nullptr;
    ws.in_solve = true;
    PfSolution s = dc_rounds(net, y, std::move(sch), std::move(held), std::move(v), opt, ws, chord);
    ws.in_solve = false;
    ws.current_of = nullptr;
    return s;
}

BusSchedule base_schedule(const Network &net)
{
    BusSchedule sch;
    for (const NetBus &b : net.buses) {
        sch.kind.push_back(b.kind);
        sch.pg.push_back(b.pg);
        sch.qgen.push_back(b.qg);
        sch.qmax.push_back(b.qmax);
        sch.qmin.push_back(b.qmin);
        sch.vs.push_back(b.vs);
    }
    if (!net.groups.empty()) {
        for (const NetBus &b : net.buses) {
            sch.rmpct.push_back(b.rmpct);
        }
        std::vector<signed char> held(net.buses.size(), 0);
        Voltages v{Eigen::VectorXd::Ones(static_cast<Eigen::Index>(net.buses.size())),
                   Eigen::VectorXd::Zero(static_cast<Eigen::Index>(net.buses.size()))};
        refresh_groups(net, sch, held, v);
    }
    if (!net.lcc.empty() || !net.vsc.empty()) {
        sch.pdc.assign(net.buses.size(), 0.0);
        sch.qdc.assign(net.buses.size(), 0.0);
        for (const NetLcc &x : net.lcc) {
            sch.taps.push_back(x.d.rectifier.tap);
            sch.taps.push_back(x.d.inverter.tap);
        }
        Voltages v{Eigen::VectorXd(net.buses.size()), Eigen::VectorXd(net.buses.size())};
        for (std::size_t i = 0; i < net.buses.size(); ++i) {
            v.vm[static_cast<Eigen::Index>(i)] = net.buses[i].vm0;
            v.va[static_cast<Eigen::Index>(i)] = net.buses[i].va0;
        }
        dc_injections(net, sch, v);
    }
    return sch;
}

BaseCase solve_base_case(const Network &net, const PfOptions &opt)
{
    BaseCase bc;
    bc.elements = index_elements(net);
    bc.on = branches_in_service(net);
    bc.y = make_ybus(net, bc.on);
    bc.flows = flow_table(net, opt.contingency_rating);
    bc.branches_at = bus_branches(net);
    bc.ws = make_workspace(bc.y, net);
    BusSchedule sch = base_schedule(net);

    std::vector<int> island;
    const int count = find_islands(net, bc.on, sch.kind, island, &bc.branches_at);
    const std::vector<char> keep = islands_to_solve(net, island, count);
    for (size_t i = 0; i < net.buses.size(); ++i) {
        if (island[i] >= 0 && keep[static_cast<std::size_t>(island[i])] == 0) {
            sch.kind[i] = BusKind::off;
            island[i] = -1;
            bc.cut_off += static_cast<int>(i) < net.raw_buses ? 1 : 0;
        }
    }
    bc.island = island;
    bc.bridge = find_bridges(net, bc.on, sch.kind);
    Voltages v = initial_voltages(net, sch, opt.flat_start);
    if (std::none_of(net.slacks.begin(), net.slacks.end(), [&sch](int s) { return sch.kind[s] != BusKind::off; })) {
        bc.sol.v = v;
        bc.sol.sch = sch;
        bc.sol.failure = "no island holds a slack bus";
        return bc;
    }
    bc.sol = solve_with_q_limits(net, bc.y, sch, std::vector<signed char>(net.buses.size(), 0), v, opt, bc.ws);
    if (bc.sol.converged) {
        make_chord_base(net, bc.y, bc.sol.sch, bc.sol.v, bc.ws, bc.chord);
    }
    return bc;
}
