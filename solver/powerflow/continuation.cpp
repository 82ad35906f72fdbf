#include "powerflow/continuation.h"

#include "powerflow/newton.h"

#include <algorithm>
#include <cmath>
#include <utility>

int unrealistic_bus(const BusSchedule &sch, const Voltages &v, const PfOptions &opt)
{
    int worst = -1;
    double out = 0; // pu beyond the range
    for (Eigen::Index i = 0; i < v.vm.size(); ++i) {
        if (sch.kind[static_cast<std::size_t>(i)] == BusKind::off) {
            continue;
        }
        const double vm = v.vm[i];
        const double beyond = std::max(opt.min_realistic_vm_pu - vm, vm - opt.max_realistic_vm_pu);
        if (beyond > out || (!std::isfinite(vm) && worst < 0)) {
            out = std::isfinite(vm) ? beyond : out;
            worst = static_cast<int>(i);
        }
    }
    return worst;
}

namespace {

// What the path's points share: R0 split into its P and Q parts, pu.
struct PathData {
    std::vector<double> r0p, r0q;
};

// Y_λ = Y_1 + (1 − λ)·D on y1's pattern.
Ybus ybus_at(const OutagePath &p, double lambda)
{
    Ybus y = p.y1;
    if (!p.d.empty()) {
        std::complex<double> *val = y.valuePtr();
        for (std::size_t e = 0; e < p.d.size(); ++e) {
            val[e] += (1 - lambda) * p.d[e];
        }
    }
    return y;
}

// The schedule at λ, from the bus kinds and held states of the point last
// solved: S_sched + (1 − λ)·R0 as pg and (pq buses not held) qgen, the
// reactive limits moved from qmax0/qmin0 to sch's, and a held bus's qgen
// at its limit there.
BusSchedule schedule_at(const OutagePath &p, const PathData &pd, const BusSchedule &last,
                        const std::vector<signed char> &held, double lambda)
{
    BusSchedule s = last;
    const double rest = 1 - lambda;
    const bool limits = !p.qmax0.empty();
    for (std::size_t i = 0; i < s.kind.size(); ++i) {
        const BusKind k = s.kind[i];
        if (k == BusKind::pq || k == BusKind::pv || k == BusKind::reg) {
            s.pg[i] = p.sch.pg[i] + rest * pd.r0p[i];
        }
        if (limits) {
            s.qmax[i] = p.sch.qmax[i] + rest * (p.qmax0[i] - p.sch.qmax[i]);
            s.qmin[i] = p.sch.qmin[i] + rest * (p.qmin0[i] - p.sch.qmin[i]);
        }
        if (held[i] != 0) {
            s.qgen[i] = held[i] > 0 ? s.qmax[i] : s.qmin[i];
        } else if (k == BusKind::pq) {
            s.qgen[i] = p.sch.qgen[i] + rest * pd.r0q[i];
        }
    }
    return s;
}

// R0 = F_0(V_start): the mismatch of the outage's buses at the start with
// the admittance before the outage.
PathData path_data(const OutagePath &p, NewtonWorkspace &ws)
{
    int worst = -1;
    const Ybus y0 = ybus_at(p, 0);
    mismatch(*p.net, y0, p.sch, p.v, ws, worst);
    const auto n = static_cast<Eigen::Index>(p.sch.kind.size());
    PathData pd;
    pd.r0p.assign(ws.f.data(), ws.f.data() + n);
    pd.r0q.assign(ws.f.data() + n, ws.f.data() + 2 * n);
    return pd;
}

// The weak spot at a solved point s of λ: the pq bus of the most negative
// d|V|/dλ, dx/dλ = −J⁻¹·∂H/∂λ with ∂H/∂λ = H(V, 1) − H(V, 0) (H is linear
// in λ). Where no bus falls, the pq bus of the lowest |V|. False when the
// Jacobian there is singular.
bool weak_spot(const OutagePath &p, const PathData &pd, const PfSolution &s, double lambda, NewtonWorkspace &ws,
               PathResult &r)
{
    const Network &net = *p.net;
    int worst = -1;
    mismatch(net, ybus_at(p, 1), schedule_at(p, pd, s.sch, s.held, 1), s.v, ws, worst);
    const Eigen::VectorXd h1 = ws.f;
    mismatch(net, ybus_at(p, 0), schedule_at(p, pd, s.sch, s.held, 0), s.v, ws, worst);
    const Eigen::VectorXd dh = h1 - ws.f;
    const Ybus y = ybus_at(p, lambda);
    mismatch(net, y, s.sch, s.v, ws, worst);
    jacobian(net, y, s.sch, s.v, ws);
    if (!factor_jacobian(ws)) {
        return false;
    }
    ws.dx = dh;
    const auto n = static_cast<Eigen::Index>(s.sch.kind.size());
    klu_solve(ws.symbolic.get(), ws.numeric.get(), static_cast<int>(2 * n), 1, ws.dx.data(), ws.common.get());
    double fastest = 0;
    double lowest = INFINITY;
    int low_bus = -1;
    for (Eigen::Index i = 0; i < n; ++i) {
        if (s.sch.kind[static_cast<std::size_t>(i)] != BusKind::pq) {
            continue;
        }
        const double rate = -ws.dx[n + i]; // d|V|/dλ
        if (rate < fastest) {
            fastest = rate;
            r.weak_bus = static_cast<int>(i);
        }
        if (s.v.vm[i] < lowest) {
            lowest = s.v.vm[i];
            low_bus = static_cast<int>(i);
        }
    }
    if (r.weak_bus < 0) {
        r.weak_bus = low_bus;
    }
    r.weak_vm = r.weak_bus >= 0 ? s.v.vm[r.weak_bus] : 0;
    return true;
}

} // namespace

PathResult follow_outage(const OutagePath &p, const PfOptions &opt, NewtonWorkspace &ws, const PathSolve &solve)
{
    const PathData pd = path_data(p, ws);
    PathResult r;
    r.sol.v = p.v;
    r.sol.sch = p.sch;
    r.sol.held = p.held;
    r.sol.converged = true;
    double step = 0.25;
    double failed = 2;     // the smallest λ that has failed
    int failures_here = 0; // and how often
    // Each failure halves the step down to the resolution and each success
    // moves on by a quarter of that at least: far fewer points than this.
    constexpr int max_points = 1000;
    while (r.lambda < 1 && r.solves < max_points) {
        double t = std::min(1.0, r.lambda + step);
        if (t >= failed) {
            // A point that failed twice from further away is tried again
            // only from within the resolution; until then the path halves
            // the way to it.
            const bool near = failed - r.lambda <= continuation_resolution;
            t = failures_here >= 2 && !near ? (r.lambda + failed) / 2 : failed;
        }
        PfSolution s = solve(ybus_at(p, t), schedule_at(p, pd, r.sol.sch, r.sol.held, t), r.sol.held, r.sol.v);
        ++r.solves;
        r.iterations += s.iterations;
        if (s.converged && unrealistic_bus(s.sch, s.v, opt) < 0) {
            r.lambda = t;
            r.sol = std::move(s);
            if (t >= failed) { // solved from nearer than it failed from
                failed = 2;
                failures_here = 0;
            }
            continue;
        }
        if (t - r.lambda <= continuation_resolution) {
            break;
        }
        if (t < failed) {
            failed = t;
            failures_here = 0;
        }
        ++failures_here;
        step = std::min(step, t - r.lambda) / 2;
    }
    if (r.lambda < 1) {
        r.singular = !weak_spot(p, pd, r.sol, r.lambda, ws, r) && r.lambda == 0;
    }
    return r;
}
