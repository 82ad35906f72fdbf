#include "powerflow/sharing.h"

#include "powerflow/newton.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numeric>

const char *response_name(ResponseMode m)
{
    switch (m) {
    case ResponseMode::swing:
        return "swing";
    case ResponseMode::pmax:
        return "pmax";
    case ResponseMode::reserve:
        return "reserve";
    case ResponseMode::output:
        break;
    }
    return "output";
}

namespace {

// The complex voltages of a solution and Ybus·V: the workspace's where, in
// a solve, its last mismatch was taken at these voltages and this Ybus;
// else computed.
struct AtSolution {
    Eigen::VectorXcd own_vc, own_current;
    const Eigen::VectorXcd *ws_vc = nullptr, *ws_current = nullptr;
    const Eigen::VectorXcd &vc() const { return ws_vc != nullptr ? *ws_vc : own_vc; }
    const Eigen::VectorXcd &current() const { return ws_current != nullptr ? *ws_current : own_current; }
};

AtSolution at_solution(const Ybus &y, const Voltages &v, const NewtonWorkspace *ws)
{
    AtSolution at;
    // Inside a solve, current_of says current is Ybus·vc, and the solve's
    // last mismatch, at its solution, brought vc to v.
    if (ws != nullptr && ws->current_of == &y && ws->vc_at.vm.size() == v.vm.size()) {
        at.ws_vc = &ws->vc;
        at.ws_current = &ws->current;
        return at;
    }
    at.own_vc.resize(v.vm.size());
    for (Eigen::Index i = 0; i < v.vm.size(); ++i) {
        at.own_vc[i] = std::polar(v.vm[i], v.va[i]);
    }
    at.own_current = y * at.own_vc;
    return at;
}

// The net active injection the schedule asks of bus i at |V|: generation
// less constant-power and constant-current load and DC draw (constant
// admittance load is inside Ybus).
double scheduled_net(const Network &net, const BusSchedule &sch, const Voltages &v, int i)
{
    const NetBus &b = net.buses[static_cast<std::size_t>(i)];
    const double pdc = sch.pdc.empty() ? 0.0 : sch.pdc[static_cast<std::size_t>(i)];
    return sch.pg[static_cast<std::size_t>(i)] - b.pd - b.ip * v.vm[i] - pdc;
}

// Σ of every member's output at k: the island's f(k), monotone in k.
double island_output(const Sharing &s, const IslandShare &is, double k)
{
    return std::accumulate(is.members.begin(), is.members.end(), 0.0, [&s, k](double sum, int m) {
        return sum + share_of(s.units[static_cast<std::size_t>(m)], k);
    });
}

// k where no member reaches a limit in moving `need`: |need|/Σa with the
// sign of need; NaN where one would (or none can move).
double unclamped_k(const Sharing &s, const IslandShare &is, double need)
{
    const bool up = need > 0;
    // Where no member reaches its limit, |k| = |need|/Σa at once.
    double sum_a = 0;
    double first_cap = HUGE_VAL;
    for (const int m : is.members) {
        const Sharer &u = s.units[static_cast<std::size_t>(m)];
        const double a = up ? u.a_up : u.a_down;
        const double room = up ? u.hi - u.pg0 : u.pg0 - u.lo;
        if (a > 0 && room > 0) { // one at its limit already moves no further
            sum_a += a;
            first_cap = std::min(first_cap, room / a);
        }
    }
    if (sum_a > 0 && std::fabs(need) / sum_a <= first_cap) {
        return (up ? 1.0 : -1.0) * std::fabs(need) / sum_a;
    }
    return std::nan("");
}

// k moving `need` between the breakpoints where members reach their
// limits; where need is beyond every limit, the k at which the last member
// reaches its limit, with saturated set.
double clamped_k(const Sharing &s, IslandShare &is, double need, bool &saturated)
{
    const bool up = need > 0;
    // Each member moves by a·|k| until |k| = room/a: (|k| at its limit, a),
    // sorted once per direction.
    std::vector<std::pair<double, double>> &caps = up ? is.caps_up : is.caps_down;
    if (caps.empty()) {
        for (const int m : is.members) {
            const Sharer &u = s.units[static_cast<std::size_t>(m)];
            const double a = up ? u.a_up : u.a_down;
            if (a > 0) {
                caps.emplace_back((up ? u.hi - u.pg0 : u.pg0 - u.lo) / a, a);
            }
        }
        std::sort(caps.begin(), caps.end());
    }
    double slope = std::accumulate(caps.begin(), caps.end(), 0.0,
                                   [](double sum, const std::pair<double, double> &c) { return sum + c.second; });
    const double sign = up ? 1.0 : -1.0;
    const double want = std::fabs(need);
    double moved = 0;
    double at = 0;
    for (const auto &[k_cap, a] : caps) {
        if (moved + slope * (k_cap - at) >= want) {
            return sign * (at + (want - moved) / slope);
        }
        moved += slope * (k_cap - at);
        slope -= a;
        at = k_cap;
    }
    saturated = true;
    return sign * at;
}

// k with f(k) = target: at once where no member reaches a limit, else
// between the breakpoints where they do; where the target is beyond every
// limit, the k at which the last member reaches its limit, with saturated
// set.
double solve_k(const Sharing &s, IslandShare &is, double target, bool &saturated)
{
    saturated = false;
    const double base = std::accumulate(is.members.begin(), is.members.end(), 0.0, [&s](double sum, int m) {
        return sum + s.units[static_cast<std::size_t>(m)].pg0;
    });
    const double need = target - base;
    if (need == 0) {
        return 0;
    }
    const double quick = unclamped_k(s, is, need);
    return std::isnan(quick) ? clamped_k(s, is, need, saturated) : quick;
}

// The sharers' outputs at their islands' k into sch.pg (slacks' are free).
void schedule_shares(const Sharing &s, BusSchedule &sch)
{
    for (std::size_t j = 0; j < s.nodes.size(); ++j) {
        sch.pg[static_cast<std::size_t>(s.nodes[j])] = s.node_pg[j];
    }
    for (const Sharer &u : s.units) {
        if (u.slot >= 0) {
            sch.pg[static_cast<std::size_t>(u.node)] +=
                share_of(u, s.islands[static_cast<std::size_t>(u.island)].k) - u.pg0;
        }
    }
}

// Σ F_P over each island's buses but its slacks at the solution: what its
// slacks' output would gain with every other bus's mismatch at 0, so that
// the sharing's balance is not blurred by the solve's own tolerance (on
// thousands of buses the sum is far above it).
std::vector<double> island_residuals(const Network &net, const Sharing &s, const PfSolution &sol, const AtSolution &at)
{
    std::vector<double> sum(s.islands.size(), 0.0);
    for (std::size_t i = 0; i < net.buses.size(); ++i) {
        const int c = s.island_of != nullptr && i < s.island_of->size() ? (*s.island_of)[i] : -1;
        if (c < 0 || sol.sch.kind[i] == BusKind::off || sol.sch.kind[i] == BusKind::slack ||
            net.buses[i].node != static_cast<int>(i)) {
            continue;
        }
        const auto b = static_cast<Eigen::Index>(i);
        const double p = (at.vc()[b] * std::conj(at.current()[b])).real();
        sum[static_cast<std::size_t>(c)] += p - scheduled_net(net, sol.sch, sol.v, static_cast<int>(i));
    }
    return sum;
}

// What the island's members must put out for the slacks' output `slack_gen`
// with every member not at a slack at its share of the current k.
double wanted_output(const Sharing &s, const IslandShare &is, double slack_gen)
{
    double g = slack_gen - is.fixed;
    for (const int m : is.members) {
        const Sharer &u = s.units[static_cast<std::size_t>(m)];
        g += u.slot >= 0 ? share_of(u, is.k) : 0.0;
    }
    return g;
}

} // namespace

namespace {

// The active output of the units at slack node s: Re(S_s) + pd + ip·|V| +
// pdc, pu.
double slack_output(const Network &net, const BusSchedule &sch, const Voltages &v, const AtSolution &at, int s)
{
    const double p = (at.vc()[s] * std::conj(at.current()[s])).real();
    return p + net.buses[static_cast<std::size_t>(s)].pd + net.buses[static_cast<std::size_t>(s)].ip * v.vm[s] +
           (sch.pdc.empty() ? 0.0 : sch.pdc[static_cast<std::size_t>(s)]);
}

} // namespace

void share_slack_p(const Network &net, const std::vector<int> &units, double p, std::vector<double> &out)
{
    bool ranges = true;
    double low = 0;
    double width = 0;
    for (const int u : units) {
        const NetUnit &nu = net.units[static_cast<std::size_t>(u)];
        ranges = ranges && std::isfinite(nu.pt - nu.pb) && nu.pt - nu.pb > 0;
        low += nu.pb;
        width += nu.pt - nu.pb;
    }
    for (const int u : units) {
        const NetUnit &nu = net.units[static_cast<std::size_t>(u)];
        out[static_cast<std::size_t>(u)] =
            ranges ? nu.pb + (p - low) * (nu.pt - nu.pb) / width : p / static_cast<double>(units.size());
    }
}

std::vector<double> solved_unit_outputs(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v)
{
    std::vector<double> out(net.units.size(), 0.0);
    std::vector<std::vector<int>> at_slack(net.buses.size());
    for (std::size_t u = 0; u < net.units.size(); ++u) {
        const NetUnit &nu = net.units[u];
        const auto node = static_cast<std::size_t>(net.buses[static_cast<std::size_t>(nu.bus)].node);
        if (!nu.in_service || sch.kind[node] == BusKind::off) {
            continue;
        }
        if (sch.kind[node] == BusKind::slack) {
            at_slack[node].push_back(static_cast<int>(u));
        } else {
            out[u] = nu.pg;
        }
    }
    const AtSolution at = at_solution(y, v, nullptr);
    for (std::size_t b = 0; b < net.buses.size(); ++b) {
        if (!at_slack[b].empty()) {
            share_slack_p(net, at_slack[b], slack_output(net, sch, v, at, static_cast<int>(b)), out);
        }
    }
    return out;
}

std::vector<double> island_losses(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                                  const std::vector<int> &island)
{
    const int count = island.empty() ? 0 : 1 + *std::max_element(island.begin(), island.end());
    std::vector<double> loss(static_cast<std::size_t>(std::max(count, 0)), 0.0);
    const AtSolution at = at_solution(y, v, nullptr);
    for (std::size_t i = 0; i < net.buses.size(); ++i) {
        if (island[i] >= 0 && sch.kind[i] != BusKind::off && net.buses[i].node == static_cast<int>(i)) {
            const auto b = static_cast<Eigen::Index>(i);
            loss[static_cast<std::size_t>(island[i])] += (at.vc()[b] * std::conj(at.current()[b])).real();
        }
    }
    return loss;
}

double share_of(const Sharer &u, double k)
{
    const double a = k >= 0 ? u.a_up : u.a_down;
    return std::min(u.hi, std::max(u.lo, u.pg0 + a * k));
}

namespace {

// A unit's weight by mode where generation rises (up) or falls.
double weight(ResponseMode mode, const NetUnit &nu, double pg0, bool up)
{
    switch (mode) {
    case ResponseMode::pmax:
        return std::max(0.0, nu.pt);
    case ResponseMode::reserve:
        return std::max(0.0, up ? nu.pt - pg0 : pg0 - nu.pb);
    case ResponseMode::output:
        return std::fabs(pg0);
    case ResponseMode::swing:
        break;
    }
    return 0;
}

// Whether a unit may share: PT above PB, both given, not a plant that
// follows its resource.
bool may_share(const Network &net, const NetUnit &nu)
{
    const double limit = no_limit_mw / net.sbase;
    return nu.pt > nu.pb && nu.pt < limit && nu.pb > -limit && nu.wmod == 0;
}

// Normalises each member's weights by its island's sums.
void normalise(Sharing &s)
{
    for (IslandShare &is : s.islands) {
        double up = 0;
        double down = 0;
        for (const int m : is.members) {
            up += s.units[static_cast<std::size_t>(m)].a_up;
            down += s.units[static_cast<std::size_t>(m)].a_down;
        }
        for (const int m : is.members) {
            Sharer &u = s.units[static_cast<std::size_t>(m)];
            u.a_up = up > 0 ? u.a_up / up : 0.0;
            u.a_down = down > 0 ? u.a_down / down : 0.0;
            // k beyond which every member is at a limit.
            is.k_max = u.a_up > 0 ? std::max(is.k_max, (u.hi - u.pg0) / u.a_up) : is.k_max;
            is.k_min = u.a_down > 0 ? std::min(is.k_min, (u.lo - u.pg0) / u.a_down) : is.k_min;
        }
    }
}

} // namespace

Sharing make_sharing(const Network &net, ResponseMode mode, const std::vector<int> &island, const BusSchedule &sch,
                     const std::vector<double> &pg0, int removed, int changed)
{
    Sharing s;
    s.mode = mode;
    s.island_of = &island;
    s.units.reserve(net.units.size());
    const int count = island.empty() ? 0 : 1 + *std::max_element(island.begin(), island.end());
    s.islands.resize(static_cast<std::size_t>(std::max(count, 0)));
    std::vector<int> units_at(net.buses.size(), 0);
    std::vector<int> slot_of(net.buses.size(), -1);
    for (std::size_t u = 0; u < net.units.size(); ++u) {
        const NetUnit &nu = net.units[u];
        const auto node = net.buses[static_cast<std::size_t>(nu.bus)].node;
        const auto n = static_cast<std::size_t>(node);
        const auto iu = static_cast<int>(u);
        if (!nu.in_service || iu == removed || sch.kind[n] == BusKind::off || island[n] < 0) {
            continue;
        }
        ++units_at[n];
        IslandShare &is = s.islands[static_cast<std::size_t>(island[n])];
        const bool at_slack = sch.kind[n] == BusKind::slack;
        if (iu == changed || !may_share(net, nu)) {
            is.fixed += at_slack ? (iu == changed ? nu.pg : pg0[u]) : 0.0;
            continue;
        }
        Sharer sh;
        sh.unit = iu;
        sh.node = node;
        sh.island = island[n];
        sh.pg0 = pg0[u];
        sh.lo = std::min(nu.pb, sh.pg0);
        sh.hi = std::max(nu.pt, sh.pg0);
        sh.a_up = weight(mode, nu, sh.pg0, true);
        sh.a_down = weight(mode, nu, sh.pg0, false);
        if (!at_slack) {
            if (slot_of[n] < 0) {
                slot_of[n] = static_cast<int>(s.nodes.size());
                s.nodes.push_back(node);
                s.node_pg.push_back(sch.pg[n]);
            }
            sh.slot = slot_of[n];
        }
        is.members.push_back(static_cast<int>(s.units.size()));
        s.units.push_back(sh);
    }
    for (std::size_t i = 0; i < net.buses.size(); ++i) {
        if (sch.kind[i] == BusKind::slack && island[i] >= 0) {
            IslandShare &is = s.islands[static_cast<std::size_t>(island[i])];
            is.slacks.push_back(static_cast<int>(i));
            is.ideal = is.ideal || units_at[i] == 0;
        }
    }
    normalise(s);
    return s;
}

void first_share(const Network &net, const std::vector<int> &island, const std::vector<double> &loss, const Voltages &v,
                 Sharing &s, BusSchedule &sch)
{
    // Each island's slacks, at first, supply its losses less the others' net injection.
    std::vector<double> slack_gen(s.islands.size(), 0.0);
    for (std::size_t c = 0; c < s.islands.size(); ++c) {
        slack_gen[c] = c < loss.size() ? loss[c] : 0.0;
    }
    for (std::size_t i = 0; i < net.buses.size(); ++i) {
        if (island[i] < 0 || sch.kind[i] == BusKind::off || net.buses[i].node != static_cast<int>(i)) {
            continue;
        }
        const auto b = static_cast<int>(i);
        const double net_out = scheduled_net(net, sch, v, b);
        // A slack supplies its own load besides.
        slack_gen[static_cast<std::size_t>(island[i])] +=
            sch.kind[i] == BusKind::slack ? sch.pg[i] - net_out : -net_out;
    }
    for (std::size_t c = 0; c < s.islands.size(); ++c) {
        IslandShare &is = s.islands[c];
        if (is.ideal || is.members.empty()) {
            continue;
        }
        bool saturated = false;
        is.k = solve_k(s, is, wanted_output(s, is, slack_gen[c]), saturated);
    }
    schedule_shares(s, sch);
}

std::vector<double> wanted_outputs(const Network &net, const Ybus &y, const Sharing &s, const PfSolution &sol,
                                   const NewtonWorkspace *ws)
{
    const AtSolution at = at_solution(y, sol.v, ws);
    // ws->f is the mismatch at these voltages where ws->current is theirs.
    const Eigen::VectorXd *f =
        ws != nullptr && at.ws_current != nullptr && ws->f.size() == 2 * sol.v.vm.size() ? &ws->f : nullptr;
    const auto sensitive = [f](const IslandShare &is) {
        return f != nullptr && !is.mu.empty() &&
               std::all_of(is.mu.begin(), is.mu.end(), [f](const std::vector<double> *m) {
                   return m != nullptr && m->size() == static_cast<std::size_t>(f->size());
               });
    };
    const bool all = std::all_of(s.islands.begin(), s.islands.end(), sensitive);
    const std::vector<double> residual =
        all ? std::vector<double>(s.islands.size(), 0.0) : island_residuals(net, s, sol, at);
    std::vector<double> wants(s.islands.size(), 0.0);
    for (std::size_t c = 0; c < s.islands.size(); ++c) {
        const IslandShare &is = s.islands[c];
        const bool by_mu = sensitive(is);
        double gen = by_mu ? 0.0 : residual[c];
        for (std::size_t j = 0; j < is.slacks.size(); ++j) {
            gen += slack_output(net, sol.sch, sol.v, at, is.slacks[j]);
            if (by_mu) {
                gen -= Eigen::Map<const Eigen::VectorXd>(is.mu[j]->data(), f->size()).dot(*f);
            }
        }
        wants[c] = wanted_output(s, is, gen);
    }
    return wants;
}

std::vector<double> slack_sensitivity(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                                      NewtonWorkspace &ws, int s)
{
    const auto n = static_cast<Eigen::Index>(net.buses.size());
    int worst = -1;
    mismatch(net, y, sch, v, ws, worst);
    jacobian(net, y, sch, v, ws);
    auto &j = ws.pat.j;
    klu_common *c = ws.common.get();
    const KluNumeric lu(klu_factor(j.outerIndexPtr(), j.innerIndexPtr(), j.valuePtr(), ws.symbolic.get(), c),
                        KluDeleter{c});
    if (!lu || c->status != KLU_OK) {
        return {};
    }
    // ∇P_s: S_s = V_s·conj(Σ_k Y_sk·V_k), P_s its real part plus the
    // slack's own constant-current load ip·|V_s|.
    //   ∂S_s/∂θ_k  = −j·V_s·conj(Y_sk·V_k)               (k ≠ s)
    //   ∂S_s/∂|V|_k = V_s·conj(Y_sk·V_k)/|V_k|            (k ≠ s)
    //   ∂S_s/∂|V|_s = (V_s·conj(I_s) + V_s·conj(Y_ss·V_s))/|V_s|
    // (θ_s does not move: its row is the identity.)
    std::vector<double> g(static_cast<std::size_t>(2 * n), 0.0);
    const std::complex<double> vs = std::polar(v.vm[s], v.va[s]);
    std::complex<double> is = 0;
    for (Ybus::InnerIterator it(y, s); it; ++it) {
        const auto k = static_cast<int>(it.row());
        is += y.coeff(s, k) * std::polar(v.vm[k], v.va[k]);
    }
    for (Ybus::InnerIterator it(y, s); it; ++it) {
        const auto k = static_cast<int>(it.row());
        const std::complex<double> yv = y.coeff(s, k) * std::polar(v.vm[k], v.va[k]);
        if (k == s) {
            g[static_cast<std::size_t>(n + k)] = ((vs * std::conj(is) + vs * std::conj(yv)) / v.vm[k]).real() +
                                                 net.buses[static_cast<std::size_t>(s)].ip;
            continue;
        }
        g[static_cast<std::size_t>(k)] = (std::complex<double>(0, -1) * vs * std::conj(yv)).real();
        g[static_cast<std::size_t>(n + k)] = (vs * std::conj(yv) / v.vm[k]).real();
    }
    klu_tsolve(ws.symbolic.get(), lu.get(), static_cast<int>(2 * n), 1, g.data(), c);
    mismatch(net, y, sch, v, ws, worst); // ws back at v's mismatch
    return g;
}

double members_output(const Sharing &s, std::size_t island, double k) { return island_output(s, s.islands[island], k); }

void schedule_sharing(const Sharing &s, BusSchedule &sch) { schedule_shares(s, sch); }

void forget_passes(Sharing &s)
{
    for (IslandShare &is : s.islands) {
        is.has_prev = false;
    }
}

ShareStep share_step(const Network &net, const Ybus &y, Sharing &s, PfSolution &sol, const PfOptions &opt,
                     const NewtonWorkspace *ws)
{
    const std::vector<double> wants = wanted_outputs(net, y, s, sol, ws);
    bool settled = true;
    for (std::size_t c = 0; c < s.islands.size(); ++c) {
        IslandShare &is = s.islands[c];
        if (is.ideal || is.members.empty()) {
            is.settled = true;
            continue;
        }
        const double want = wants[c];
        const double h = island_output(s, is, is.k) - want; // the slacks' shortfall from their shares
        bool saturated = false;
        const double k_fixed = solve_k(s, is, want, saturated);
        is.exhausted = saturated;
        is.left = saturated ? want - island_output(s, is, k_fixed) : 0.0;
        is.settled = saturated ? k_fixed == is.k : std::fabs(h) <= opt.tolerance_pu;
        if (is.settled) {
            continue;
        }
        settled = false;
        // A secant step on h(k) where the last two passes give one, else
        // the loss-free balance's step over the losses' share (slope).
        double k = k_fixed;
        if (!saturated && !is.has_prev) {
            k = std::min(is.k_max, std::max(is.k_min, is.k + (k_fixed - is.k) / is.slope));
        }
        if (!saturated && is.has_prev && h != is.h_prev) {
            const double secant = is.k - h * (is.k - is.k_prev) / (h - is.h_prev);
            k = std::isfinite(secant) ? std::min(is.k_max, std::max(is.k_min, secant)) : k_fixed;
        }
        is.k_prev = is.k;
        is.h_prev = h;
        is.has_prev = !saturated;
        is.k = k;
    }
    if (settled) {
        return ShareStep::settled;
    }
    if (s.passes == max_share_passes) {
        sol.converged = false;
        sol.failure = "generator response did not settle in " + std::to_string(max_share_passes) + " passes";
        return ShareStep::gave_up;
    }
    ++s.passes;
    schedule_shares(s, sol.sch);
    return ShareStep::again;
}

PfSolution settle_sharing(const Network &net, const Ybus &y, Sharing &s, PfSolution first, const PfOptions &opt,
                          const ShareSolve &solve)
{
    PfSolution sol = std::move(first);
    while (sol.converged && share_step(net, y, s, sol, opt, nullptr) == ShareStep::again) {
        const int iterations = sol.iterations;
        const int chord = sol.chord_steps;
        const int factorizations = sol.factorizations;
        sol = solve(std::move(sol.sch), std::move(sol.held), std::move(sol.v));
        sol.iterations += iterations;
        sol.chord_steps += chord;
        sol.factorizations += factorizations;
    }
    return sol;
}

double response_mw(const Network &net, const Sharing &s)
{
    const double moved = std::accumulate(s.units.begin(), s.units.end(), 0.0, [&s](double sum, const Sharer &u) {
        return u.slot >= 0 ? sum + share_of(u, s.islands[static_cast<std::size_t>(u.island)].k) - u.pg0 : sum;
    });
    return moved * net.sbase;
}

namespace {

// "unit 101 '1' (PT), ..." for the sharers held at a limit (at most five,
// then ", and N more"); empty where none is.
std::string units_at_limits(const Network &net, const Sharing &s)
{
    std::string text;
    int count = 0;
    for (const Sharer &u : s.units) {
        const double k = s.islands[static_cast<std::size_t>(u.island)].k;
        const double a = k >= 0 ? u.a_up : u.a_down;
        const double free = u.pg0 + a * k;
        if (a <= 0 || k == 0 || (free < u.hi && free > u.lo) || ++count > 5) {
            continue;
        }
        const NetUnit &nu = net.units[static_cast<std::size_t>(u.unit)];
        text += std::string(count > 1 ? ", " : "") + "unit " +
                std::to_string(net.buses[static_cast<std::size_t>(nu.bus)].number) + " '" + nu.id + "' (" +
                (free >= u.hi ? "PT" : "PB") + ")";
    }
    return count > 5 ? text + ", and " + std::to_string(count - 5) + " more" : text;
}

} // namespace

std::string sharing_note(const Network &net, const Sharing &s)
{
    std::string note;
    const auto add = [&note](const std::string &more) { note += (note.empty() ? "" : "; ") + more; };
    double left = 0;
    bool exhausted = false;
    bool alone = false;
    for (const IslandShare &is : s.islands) {
        exhausted = exhausted || is.exhausted;
        left += is.exhausted ? is.left : 0.0;
        alone = alone || (!is.slacks.empty() && (is.ideal || is.members.empty()));
    }
    if (exhausted) {
        char mw[64];
        std::snprintf(mw, sizeof mw, "%.1f", left * net.sbase);
        add(std::string("reserve exhausted: ") + mw + " MW left on the swing");
    }
    const std::string limits = units_at_limits(net, s);
    if (!limits.empty()) {
        add("at a limit: " + limits);
    }
    if (alone) {
        add("no unit shares the change: the swing takes it");
    }
    return note;
}
