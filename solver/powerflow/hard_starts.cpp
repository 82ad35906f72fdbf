#include "powerflow/hard_starts.h"

#include "powerflow/dc_rounds.h"
#include "powerflow/flat_start.h"
#include "powerflow/newton.h"

#include <algorithm>
#include <array>
#include <complex>
#include <cstdio>

namespace {

// The network with every load times λ (constant power, current and
// admittance alike) and its schedule with every unit's output times λ.
struct Scaled {
    Network net;
    BusSchedule sch;
};

Scaled scaled(const Network &net, const BusSchedule &sch, double lambda)
{
    Scaled s{net, sch};
    for (NetBus &b : s.net.buses) {
        b.pd *= lambda;
        b.qd *= lambda;
        b.ip *= lambda;
        b.iq *= lambda;
        b.yp *= lambda;
        b.yq *= lambda;
    }
    for (std::size_t i = 0; i < s.sch.pg.size(); ++i) {
        s.sch.pg[i] *= lambda;
        s.sch.qgen[i] *= lambda;
    }
    return s;
}

// One full solve of the network scaled by λ from `v` (the DC-angle start
// where v is null). λ = 1 is the network itself, on y and ws.
PfSolution solve_scaled(const Network &net, const Ybus &y, const std::vector<char> &on, const BusSchedule &sch,
                        const PfOptions &opt, NewtonWorkspace &ws, double lambda, const Voltages *v)
{
    const std::vector<signed char> held(net.buses.size(), 0);
    if (lambda >= 1.0) {
        return solve_with_q_limits(net, y, sch, held, v != nullptr ? *v : initial_voltages(net, sch, true), opt, ws);
    }
    const Scaled s = scaled(net, sch, lambda);
    const Ybus ys = make_ybus(s.net, on);
    NewtonWorkspace wss = make_workspace(ys, s.net);
    return solve_with_q_limits(s.net, ys, s.sch, held, v != nullptr ? *v : initial_voltages(s.net, s.sch, true), opt,
                               wss);
}

// Load scaling (see retry_hard_start, step 2). The first loadings tried
// past 10 % and 2 % are heavier: a network whose line charging is large
// against its load may have no solution lightly loaded.
Retried scale_loads(const Network &net, const Ybus &y, const std::vector<char> &on, const BusSchedule &sch,
                    const PfOptions &opt, NewtonWorkspace &ws)
{
    Retried r;
    double from = 0;
    PfSolution last;
    for (const double lambda0 : std::array<double, 5>{0.1, 0.02, 0.25, 0.5, 0.75}) {
        last = solve_scaled(net, y, on, sch, opt, ws, lambda0, nullptr);
        if (last.converged) {
            from = lambda0;
            break;
        }
    }
    if (from == 0) {
        r.sol = std::move(last);
        return r;
    }
    double lambda = from;
    double step = 0.1;
    while (step >= 0.005) {
        const double next = std::min(1.0, lambda + step);
        PfSolution sol = solve_scaled(net, y, on, sch, opt, ws, next, &last.v);
        if (!sol.converged) {
            step /= 2;
            r.sol = std::move(sol);
            continue;
        }
        lambda = next;
        last = std::move(sol);
        if (lambda >= 1.0) {
            r.sol = std::move(last);
            r.start = "load scaling from " + percent(from);
            return r;
        }
        step = std::min(2 * step, 0.25);
    }
    r.reached = lambda;
    return r;
}

// MW or Mvar, to 0.1.
std::string mva(double pu, double sbase)
{
    char s[32];
    std::snprintf(s, sizeof s, "%.1f", pu * sbase);
    return s;
}

} // namespace

std::string q_limit_diagnosis(const Network &net, const Ybus &y, const std::vector<char> &on, const BusSchedule &sch,
                              const PfOptions &opt, NewtonWorkspace &ws)
{
    if (!opt.enforce_q_limits) {
        return "";
    }
    PfOptions free = opt;
    free.enforce_q_limits = false;
    const PfSolution sol = solve_scaled(net, y, on, sch, free, ws, 1.0, nullptr);
    if (!sol.converged) {
        return "";
    }
    // Q of a bus's units: Q_i = Im(V_i·conj((Ybus·V)_i)) + QL + IQ·|V_i|.
    const auto n = static_cast<Eigen::Index>(net.buses.size());
    Eigen::VectorXcd v(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        v[i] = std::polar(sol.v.vm[i], sol.v.va[i]);
    }
    const Eigen::VectorXcd current = y * v;
    int worst = -1;
    double beyond = 1e-6;
    double q_worst = 0;
    for (Eigen::Index i = 0; i < n; ++i) {
        if (sch.kind[i] != BusKind::pv) {
            continue;
        }
        const NetBus &b = net.buses[i];
        const double q = (v[i] * std::conj(current[i])).imag() + b.qd + b.iq * sol.v.vm[i];
        const double past = std::max(q - sch.qmax[i], sch.qmin[i] - q);
        if (past > beyond) {
            beyond = past;
            worst = static_cast<int>(i);
            q_worst = q;
        }
    }
    if (worst < 0) {
        return "";
    }
    const bool high = q_worst > sch.qmax[worst];
    return "; with reactive limits ignored it solves, the units of bus " + std::to_string(net.buses[worst].number) +
           " then giving " + mva(q_worst, net.sbase) + " Mvar against their " + (high ? "QT of " : "QB of ") +
           mva(high ? sch.qmax[worst] : sch.qmin[worst], net.sbase) + " Mvar";
}

std::string percent(double fraction)
{
    char s[32];
    std::snprintf(s, sizeof s, "%.1f", 100 * fraction);
    std::string t(s);
    if (t.size() > 2 && t.compare(t.size() - 2, 2, ".0") == 0) {
        t.resize(t.size() - 2);
    }
    return t + " %";
}

Retried retry_hard_start(const Network &net, const Ybus &y, const std::vector<char> &on, const BusSchedule &sch,
                         const PfOptions &opt, NewtonWorkspace &ws)
{
    if (!opt.flat_start) {
        Retried r;
        r.sol = solve_scaled(net, y, on, sch, opt, ws, 1.0, nullptr);
        if (r.sol.converged) {
            r.start = "DC angles";
            return r;
        }
    }
    return scale_loads(net, y, on, sch, opt, ws);
}
