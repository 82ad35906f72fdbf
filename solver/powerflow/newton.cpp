#include "powerflow/newton.h"

#include "powerflow/pair.h"
#include "powerflow/remote_regulation.h"

#include <array>
#include <cmath>

using cplx = std::complex<double>;

namespace {
constexpr double reuse_ratio = 0.1;

// Whether (i, k) is in Ybus's pattern.
bool ybus_has(const Ybus &y, int i, int k)
{
    const int *begin = y.innerIndexPtr() + y.outerIndexPtr()[k];
    const int *end = y.innerIndexPtr() + y.outerIndexPtr()[k + 1];
    return std::binary_search(begin, end, i);
}
} // namespace

JacobianPattern jacobian_pattern(const Ybus &y, const Network &net)
{
    const int n = static_cast<int>(y.rows());
    using T = Eigen::Triplet<double, int>;
    std::vector<T> trip;
    trip.reserve(4 * y.nonZeros());
    for (int k = 0; k < n; ++k) {
        for (Ybus::InnerIterator it(y, k); it; ++it) {
            const int i = static_cast<int>(it.row());
            trip.emplace_back(i, k, 0.0);
            trip.emplace_back(i, n + k, 0.0);
            trip.emplace_back(n + i, k, 0.0);
            trip.emplace_back(n + i, n + k, 0.0);
        }
    }
    // Entries of remote regulation that are no Ybus entry's: a Q row's
    // columns θ_k and |V|_k come from Ybus entry (row bus, k).
    std::vector<std::pair<int, int>> extra;
    for (const auto &[row, col] : regulation_pattern(net, y)) {
        const int k = col < n ? col : col - n;
        if (!ybus_has(y, row - n, k)) {
            extra.emplace_back(row, col);
            trip.emplace_back(row, col, 0.0);
        }
    }
    JacobianPattern pat;
    pat.j.resize(2 * static_cast<Eigen::Index>(n), 2 * static_cast<Eigen::Index>(n));
    pat.j.setFromTriplets(trip.begin(), trip.end());
    pat.j.makeCompressed();

    // Position of (row, col) in the value array: a search within the column.
    auto pos = [&pat](int row, int col) {
        const int *begin = pat.j.innerIndexPtr() + pat.j.outerIndexPtr()[col];
        const int *end = pat.j.innerIndexPtr() + pat.j.outerIndexPtr()[col + 1];
        return static_cast<int>(std::lower_bound(begin, end, row) - pat.j.innerIndexPtr());
    };
    const auto nnz = static_cast<size_t>(y.nonZeros());
    pat.p_th.resize(nnz);
    pat.p_vm.resize(nnz);
    pat.q_th.resize(nnz);
    pat.q_vm.resize(nnz);
    size_t e = 0;
    for (int k = 0; k < n; ++k) {
        for (Ybus::InnerIterator it(y, k); it; ++it, ++e) {
            const int i = static_cast<int>(it.row());
            pat.p_th[e] = pos(i, k);
            pat.p_vm[e] = pos(i, n + k);
            pat.q_th[e] = pos(n + i, k);
            pat.q_vm[e] = pos(n + i, n + k);
        }
    }
    // Ybus's pattern is symmetric: (k, i) is in column i, found by a search.
    pat.y_t.resize(nnz);
    e = 0;
    for (int k = 0; k < n; ++k) {
        for (Ybus::InnerIterator it(y, k); it; ++it, ++e) {
            const int i = static_cast<int>(it.row());
            const int *begin = y.innerIndexPtr() + y.outerIndexPtr()[i];
            const int *end = y.innerIndexPtr() + y.outerIndexPtr()[i + 1];
            const int *at = std::lower_bound(begin, end, k);
            pat.y_t[e] = at != end && *at == k ? static_cast<int>(at - y.innerIndexPtr()) : -1;
        }
    }
    std::sort(extra.begin(), extra.end());
    extra.erase(std::unique(extra.begin(), extra.end()), extra.end());
    for (const auto &[row, col] : extra) {
        pat.extra.push_back(pos(row, col));
    }
    return pat;
}

NewtonWorkspace make_workspace(const Ybus &y, const Network &net)
{
    NewtonWorkspace ws;
    ws.pat = jacobian_pattern(y, net);
    ws.common = std::make_unique<klu_common>();
    klu_defaults(ws.common.get());
    // One block: the chord steps work between L and U (lu_factors.h), and
    // a network's Jacobian is irreducible but for its cut-off buses.
    ws.common->btf = 0;
    auto &j = ws.pat.j;
    klu_symbolic *s = klu_analyze(static_cast<int>(j.rows()), j.outerIndexPtr(), j.innerIndexPtr(), ws.common.get());
    ws.symbolic = std::unique_ptr<klu_symbolic, KluDeleter>(s, KluDeleter{ws.common.get()});
    ws.f.resize(j.rows());
    ws.dx.resize(j.rows());
    ws.vc.resize(y.rows());
    ws.current.resize(y.rows());
    ws.numeric = KluNumeric(nullptr, KluDeleter{ws.common.get()});
    return ws;
}

bool factor_jacobian(NewtonWorkspace &ws)
{
    auto &j = ws.pat.j;
    klu_common *c = ws.common.get();
    if (ws.numeric) {
        const bool ok = klu_refactor(j.outerIndexPtr(), j.innerIndexPtr(), j.valuePtr(), ws.symbolic.get(),
                                     ws.numeric.get(), c) != 0 &&
                        c->status == KLU_OK && klu_rcond(ws.symbolic.get(), ws.numeric.get(), c) != 0 &&
                        c->rcond >= 1e-12;
        if (ok) {
            return true;
        }
    }
    ws.numeric =
        KluNumeric(klu_factor(j.outerIndexPtr(), j.innerIndexPtr(), j.valuePtr(), ws.symbolic.get(), c), KluDeleter{c});
    return ws.numeric && c->status == KLU_OK;
}

namespace {

// (a + jb)·z = a·z + b·(j·z), where j·z = (−Im z, Re z): both parts at
// once, with the operations of the product written out, in its order.
Pair times(double a, double b, Pair z) { return a * z + b * Pair{-z[1], z[0]}; }

// current = Ybus·vc, by Ybus's columns, current_i += y_ik·v_k by `times`
// (no guards for infinities, which cost as much as the product here).
void ybus_times(const Ybus &y, const Eigen::VectorXcd &vc, Eigen::VectorXcd &current)
{
    const auto n = static_cast<int>(y.cols());
    const int *outer = y.outerIndexPtr();
    const int *inner = y.innerIndexPtr();
    const auto *yx = reinterpret_cast<const double *>(y.valuePtr());
    const auto *v = reinterpret_cast<const Pair *>(vc.data());
    current.setZero(n);
    auto *c = reinterpret_cast<Pair *>(current.data());
    for (int k = 0; k < n; ++k) {
        const Pair vk = v[k];
        const std::ptrdiff_t end = outer[k + 1];
        for (std::ptrdiff_t e = outer[k]; e < end; ++e) {
            c[inner[e]] += times(yx[2 * e], yx[2 * e + 1], vk);
        }
    }
}

// F from ws.current = Ybus·V (see mismatch).
double power_mismatch(const Network &net, const BusSchedule &sch, const Voltages &v, NewtonWorkspace &ws,
                      int &worst_bus)
{
    const auto n = static_cast<int>(ws.vc.size());
    const Eigen::VectorXcd &vc = ws.vc;
    double worst = 0;
    worst_bus = -1;
    const bool dc = !sch.pdc.empty();
    for (int i = 0; i < n; ++i) {
        const NetBus &b = net.buses[i];
        const BusKind kind = sch.kind[i];
        // S_i = V_i·conj(I_i), written out.
        const double vr = vc[i].real();
        const double vi = vc[i].imag();
        const double ir = ws.current[i].real();
        const double ii = ws.current[i].imag();
        double fp = (vr * ir + vi * ii) - (sch.pg[i] - b.pd - b.ip * v.vm[i]);
        double fq = (vi * ir - vr * ii) - (sch.qgen[i] - b.qd - b.iq * v.vm[i]);
        if (dc) {
            fp += sch.pdc[i];
            fq += sch.qdc[i];
        }
        ws.f[i] = (kind == BusKind::pq || kind == BusKind::pv || kind == BusKind::reg) ? fp : 0.0;
        ws.f[n + i] = kind == BusKind::pq ? fq : 0.0;
        const double m = std::max(std::abs(ws.f[i]), std::abs(ws.f[n + i]));
        if (!(m <= worst)) { // a NaN counts as the worst
            worst = m;
            worst_bus = i;
        }
    }
    if (!net.groups.empty()) {
        int bus = -1;
        const double m = regulation_mismatch(net, sch, v, ws, bus);
        if (!(m <= worst)) {
            worst = m;
            worst_bus = bus;
        }
    }
    return worst;
}

} // namespace

double mismatch(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v, NewtonWorkspace &ws,
                int &worst_bus)
{
    const int n = static_cast<int>(y.rows());
    Eigen::VectorXcd &vc = ws.vc;
    Voltages &at = ws.vc_at;
    if (at.vm.size() != n || vc.size() != n) {
        at.vm.setConstant(n, std::nan(""));
        at.va.setConstant(n, std::nan(""));
        vc.resize(n);
        ws.current_of = nullptr;
    }
    // Only the buses that moved since vc was last brought up to date.
    ws.moved.clear();
    ws.dv.clear();
    for (int i = 0; i < n; ++i) {
        if (v.vm[i] != at.vm[i] || v.va[i] != at.va[i]) {
            const cplx old = vc[i];
            vc[i] = std::polar(v.vm[i], v.va[i]);
            at.vm[i] = v.vm[i];
            at.va[i] = v.va[i];
            ws.moved.push_back(i);
            ws.dv.push_back(vc[i] - old);
        }
    }
    // Ybus·V by the moved buses' columns where they are few: after a
    // change of bus kinds, or between two solves from the same point.
    if (ws.current_of != &y || 8 * ws.moved.size() > static_cast<std::size_t>(n)) {
        return mismatch_at_vc(net, y, sch, v, ws, worst_bus);
    }
    for (std::size_t e = 0; e < ws.moved.size(); ++e) {
        for (Ybus::InnerIterator it(y, ws.moved[e]); it; ++it) {
            ws.current[it.row()] += it.value() * ws.dv[e];
        }
    }
    return power_mismatch(net, sch, v, ws, worst_bus);
}

double mismatch_at_vc(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v, NewtonWorkspace &ws,
                      int &worst_bus)
{
    ybus_times(y, ws.vc, ws.current);
    ws.current_of = ws.in_solve ? &y : nullptr;
    return power_mismatch(net, sch, v, ws, worst_bus);
}

namespace {

// e^{−jd} = c − j·sn for |d| < 1e-2, to within 1e-20, from the Taylor
// series of cos and sin; for one angle or two side by side.
template <typename T> void small_turn(T d, T &c, T &sn)
{
    const T d2 = d * d;
    c = 1.0 - d2 * 0.5 * (1.0 - d2 * (1.0 / 12) * (1.0 - d2 * (1.0 / 30)));
    sn = d * (1.0 - d2 * (1.0 / 6) * (1.0 - d2 * (1.0 / 20) * (1.0 - d2 * (1.0 / 42))));
}

// Bus i's step: θ −= dθ, |V| −= d|V|, and its complex voltage turned and
// scaled, V·(c − j·sn)·|V|new/|V|old, or where the angle moved far (or
// |V| was 0) taken afresh.
void step_bus(Voltages &v, NewtonWorkspace &ws, Eigen::Index i)
{
    const auto n = v.va.size();
    const double d = ws.dx[i];
    const double vm_old = v.vm[i];
    v.va[i] -= d;
    v.vm[i] -= ws.dx[n + i];
    if (std::abs(d) < 1e-2 && vm_old != 0.0) {
        double c = 0;
        double sn = 0;
        small_turn(d, c, sn);
        const double scale = v.vm[i] / vm_old;
        auto &x = reinterpret_cast<Pair &>(ws.vc[i]);
        x = times(c * scale, -sn * scale, x);
    } else {
        ws.vc[i] = std::polar(v.vm[i], v.va[i]);
    }
}

} // namespace

void take_step(Voltages &v, NewtonWorkspace &ws)
{
    // Two buses at a time where both angles moved little: the same
    // operations as step_bus's on each, side by side.
    const auto n = v.va.size();
    double *va = v.va.data();
    double *vm = v.vm.data();
    const double *dx = ws.dx.data();
    auto *vc = reinterpret_cast<Pair *>(ws.vc.data());
    Eigen::Index i = 0;
    for (; i + 1 < n; i += 2) {
        const Pair d = {dx[i], dx[i + 1]};
        const Pair old = {vm[i], vm[i + 1]};
        if (!(std::abs(d[0]) < 1e-2 && std::abs(d[1]) < 1e-2 && old[0] != 0.0 && old[1] != 0.0)) {
            step_bus(v, ws, i);
            step_bus(v, ws, i + 1);
            continue;
        }
        const Pair now = old - Pair{dx[n + i], dx[n + i + 1]};
        va[i] -= d[0];
        va[i + 1] -= d[1];
        vm[i] = now[0];
        vm[i + 1] = now[1];
        Pair c;
        Pair sn;
        small_turn(d, c, sn);
        const Pair scale = now / old;
        const Pair tr = c * scale;
        const Pair ti = -sn * scale;
        vc[i] = times(tr[0], ti[0], vc[i]);
        vc[i + 1] = times(tr[1], ti[1], vc[i + 1]);
    }
    for (; i < n; ++i) {
        step_bus(v, ws, i);
    }
    ws.vc_at = v;
    ws.current_of = nullptr;
}

namespace {

// ∂S_i/∂θ_k and ∂S_i/∂|V|_k for one Ybus entry y_ik (see jacobian).
struct PowerDerivatives {
    cplx dth, dvm;
};

PowerDerivatives power_derivatives(const NetBus &bus_i, cplx yik, cplx vi, cplx vk, cplx vnk, cplx ii, bool diagonal)
{
    PowerDerivatives d{cplx(0, 1) * vi * std::conj(-yik * vk), vi * std::conj(yik * vnk)};
    if (diagonal) {
        d.dth += cplx(0, 1) * vi * std::conj(ii);
        d.dvm += std::conj(ii) * vnk + cplx(bus_i.ip, bus_i.iq);
    }
    return d;
}

// What Ybus entry (i, k) puts at (P_i, θ_k), (P_i, |V|_k), (Q_i, θ_k),
// (Q_i, |V|_k) for bus i of this kind: a row whose quantity is not solved
// for holds its own unknown (a member of a regulation group's Q row is
// filled by regulation_jacobian).
std::array<double, 4> entry_values(BusKind kind, const PowerDerivatives &d, bool diagonal)
{
    const bool p_row = kind == BusKind::pq || kind == BusKind::pv || kind == BusKind::reg;
    const bool q_row = kind == BusKind::pq;
    const double one = diagonal ? 1.0 : 0.0;
    return {p_row ? d.dth.real() : one, p_row ? d.dvm.real() : 0.0, q_row ? d.dth.imag() : 0.0,
            q_row ? d.dvm.imag() : (kind == BusKind::reg ? 0.0 : one)};
}

} // namespace

void jacobian(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v, NewtonWorkspace &ws)
{
    const int n = static_cast<int>(y.rows());
    double *jx = ws.pat.j.valuePtr();
    const cplx *yx = y.valuePtr();
    const int *yp = y.outerIndexPtr();
    const int *yi = y.innerIndexPtr();
    const cplx *vc = ws.vc.data(); // V at v, from the last mismatch call
    for (int k = 0; k < n; ++k) {
        const cplx vk = vc[k];
        const cplx vnk = vk / v.vm[k];
        for (int e = yp[k]; e < yp[k + 1]; ++e) {
            const int i = yi[e];
            const cplx vi = vc[i];
            const PowerDerivatives d = power_derivatives(net.buses[i], yx[e], vi, vk, vnk, ws.current[i], i == k);
            const auto [p_th, p_vm, q_th, q_vm] = entry_values(sch.kind[i], d, i == k);
            jx[ws.pat.p_th[e]] = p_th;
            jx[ws.pat.p_vm[e]] = p_vm;
            jx[ws.pat.q_th[e]] = q_th;
            jx[ws.pat.q_vm[e]] = q_vm;
        }
    }
    if (!net.groups.empty()) {
        regulation_jacobian(net, y, sch, v, ws);
    }
}

bool jacobian_rows(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                   const Eigen::VectorXcd &vc, const JacobianPattern &pat, int i, std::vector<JacobianEntry> &out)
{
    out.clear();
    if (!net.groups.empty() || pat.y_t.size() != static_cast<std::size_t>(y.nonZeros())) {
        return false;
    }
    const int n = static_cast<int>(y.rows());
    const cplx *yx = y.valuePtr();
    const int *yp = y.outerIndexPtr();
    const int *yi = y.innerIndexPtr();
    // Row i of Ybus: the transposes of column i's entries (k, i).
    cplx ii = 0;
    for (int t = yp[i]; t < yp[i + 1]; ++t) {
        if (pat.y_t[static_cast<std::size_t>(t)] < 0) {
            return false;
        }
        ii += yx[pat.y_t[static_cast<std::size_t>(t)]] * vc[yi[t]];
    }
    for (int t = yp[i]; t < yp[i + 1]; ++t) {
        const int k = yi[t];
        const auto e = static_cast<std::size_t>(pat.y_t[static_cast<std::size_t>(t)]);
        const cplx vk = vc[k];
        const PowerDerivatives d =
            power_derivatives(net.buses[static_cast<std::size_t>(i)], yx[e], vc[i], vk, vk / v.vm[k], ii, i == k);
        const auto [p_th, p_vm, q_th, q_vm] = entry_values(sch.kind[static_cast<std::size_t>(i)], d, i == k);
        out.push_back({i, k, pat.p_th[e], p_th});
        out.push_back({i, n + k, pat.p_vm[e], p_vm});
        out.push_back({n + i, k, pat.q_th[e], q_th});
        out.push_back({n + i, n + k, pat.q_vm[e], q_vm});
    }
    return true;
}

NewtonResult newton_pf(const Network &net, const Ybus &y, const BusSchedule &sch, Voltages &v, const PfOptions &opt,
                       NewtonWorkspace &ws)
{
    const int n = static_cast<int>(y.rows());
    NewtonResult r;
    r.max_mismatch = mismatch(net, y, sch, v, ws, r.worst_bus);
    bool refactor = true;
    const double start = r.max_mismatch;
    int slow = 0; // steps in a row that did not halve the mismatch
    while (!(r.max_mismatch <= opt.tolerance_pu)) {
        if (r.iterations >= opt.max_iterations || !std::isfinite(r.max_mismatch)) {
            return r;
        }
        if (refactor) {
            jacobian(net, y, sch, v, ws);
            if (!factor_jacobian(ws)) {
                r.singular = true;
                return r;
            }
            ++r.factorizations;
        }
        ws.dx = ws.f;
        klu_solve(ws.symbolic.get(), ws.numeric.get(), 2 * n, 1, ws.dx.data(), ws.common.get());
        // x ← x − J⁻¹·F
        take_step(v, ws);
        ++r.iterations;
        const double before = r.max_mismatch;
        r.max_mismatch = mismatch_at_vc(net, y, sch, v, ws, r.worst_bus);
        // Close to the solution the Jacobian hardly changes: while a step
        // cuts the mismatch tenfold, the next one reuses its factors.
        refactor = !(r.max_mismatch <= reuse_ratio * before);
        slow = r.max_mismatch > 0.5 * before ? slow + 1 : 0;
        if (opt.give_up_early && (!(r.max_mismatch < start) || slow == 2)) {
            return r;
        }
    }
    r.converged = true;
    return r;
}
