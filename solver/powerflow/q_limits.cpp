#include "powerflow/q_limits.h"

#include "powerflow/ladder.h"
#include "powerflow/remote_regulation.h"
#include "powerflow/sharing.h"

#include <algorithm>
#include <cmath>
#include <string>

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

// Batch rounds settle most cases in a few solves. Their solves stop at a
// loose tolerance, enough to tell which limits are broken; a tight solve
// follows, then batch rounds on tight solves while any are left (at most
// max_batch_rounds in all). The one-bus-at-a-time rule finishes the rest,
// and any case where the rounds go back and forth.
bool batch_rounds(const Network &net, const Ybus &y, PfSolution &s, const PfOptions &opt, NewtonWorkspace &ws,
                  Chords &ch, Sharing *share)
{
    const double q_tol = q_tol_mvar / net.sbase;
    PfOptions loose = opt;
    loose.tolerance_pu = std::max(opt.tolerance_pu, loose_tolerance_pu);
    if (!solve_once(net, y, s, loose, ws, ch)) {
        return false;
    }
    // A sharing's balance, corrected for the remaining mismatch, is already
    // close at a loose solve: its k moves here too, so that the tight solves
    // start near their shares.
    if (share != nullptr) {
        if (share_step(net, y, *share, s, opt, &ws) == ShareStep::gave_up) {
            return false;
        }
        forget_passes(*share);
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

// A pass of the sharing at a settled state (settled at once without one).
ShareStep pass(const Network &net, const Ybus &y, PfSolution &s, const PfOptions &opt, NewtonWorkspace &ws,
               Sharing *share)
{
    return share == nullptr ? ShareStep::settled : share_step(net, y, *share, s, opt, &ws);
}

// Solves, and again after every pass of the sharing that moves it, with no
// reactive limits. True when both settled.
bool solve_sharing(const Network &net, const Ybus &y, PfSolution &s, const PfOptions &opt, NewtonWorkspace &ws,
                   Chords &ch, Sharing *share)
{
    ShareStep step = ShareStep::again;
    while (step == ShareStep::again) {
        if (!solve_once(net, y, s, opt, ws, ch)) {
            return false;
        }
        step = pass(net, y, s, opt, ws, share);
    }
    return step == ShareStep::settled;
}

} // namespace

// The reactive-limit loop of solve_with_q_limits, its tied buses' voltages
// left where they started.
PfSolution q_limit_loop(const Network &net, const Ybus &y, BusSchedule sch, std::vector<signed char> held, Voltages v,
                        const PfOptions &opt, NewtonWorkspace &ws, const ChordBase *chord, Sharing *share)
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
        s.converged = solve_sharing(net, y, s, opt, ws, ch, share);
        return s;
    }
    if (!batch_rounds(net, y, s, opt, ws, ch, share)) {
        return s;
    }
    const int batch_changes = s.q_changes;
    for (;;) {
        int dir = 0;
        const int to_hold = worst_q_violation(net, s, ws, q_tol, dir);
        const int to_release = worst_wrong_side(net, s, ws);
        const ShareStep step = to_hold >= 0 || to_release >= 0 ? ShareStep::again : pass(net, y, s, opt, ws, share);
        if (step != ShareStep::again) {
            s.converged = step == ShareStep::settled;
            return s;
        }
        if (to_hold >= 0) {
            hold(net, s, to_hold, dir);
        }
        if (to_release >= 0) {
            release(net, s, to_release);
        }
        if (s.q_changes - batch_changes > (opt.max_q_changes > 0 ? opt.max_q_changes : 2 * controlled)) {
            s.limits_unsettled = true;
            s.failure = "reactive limits did not settle after " + std::to_string(s.q_changes) + " changes";
            return s;
        }
        if (!solve_once(net, y, s, opt, ws, ch)) {
            return s;
        }
    }
}
