#include "powerflow/newton.h"

#include "powerflow/pair.h"
#include "powerflow/regulation.h"

#include <Eigen/SparseLU>

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
    }
    r.converged = true;
    return r;
}

namespace {

// Flat-start angles: the slacks' angles carried through the network, each
// phase shifter turning it by its shift: θ_t = θ_f − φ across a branch whose
// ratio a = t·e^{jφ} sits at its from end. Without this a case with large
// shifts (a 150° winding-angle convention) starts far from any solution.
std::vector<double> flat_angles(const Network &net)
{
    const std::size_t n = net.buses.size();
    std::vector<std::vector<std::pair<int, double>>> next(n); // (bus, angle step)
    for (const NetBranch &br : net.branches) {
        if (br.in_service) {
            next[br.f].emplace_back(br.t, -br.shift);
            next[br.t].emplace_back(br.f, br.shift);
        }
    }
    std::vector<double> va(n, net.buses[net.slack].va0);
    std::vector<char> seen(n, 0);
    std::vector<int> queue = net.slacks;
    for (const int s : net.slacks) {
        seen[s] = 1;
        va[s] = net.buses[s].va0;
    }
    for (std::size_t k = 0; k < queue.size(); ++k) {
        const int i = queue[k];
        for (const auto &[j, step] : next[i]) {
            if (seen[j] == 0) {
                seen[j] = 1;
                va[j] = va[i] + step;
                queue.push_back(j);
            }
        }
    }
    return va;
}

// One branch of the DC power flow below: b·(θ_i − θ_k − φ) at each end
// whose angle is unknown (row ≥ 0), the known angles and the shift moved to
// the right-hand side.
void stamp_dc_branch(const NetBranch &br, const std::vector<int> &row, const std::vector<double> &va,
                     std::vector<Eigen::Triplet<double, int>> &trip, Eigen::VectorXd &rhs)
{
    const double bb = -br.ys.imag() / br.tap;
    const std::array<int, 2> ends{br.f, br.t};
    for (int e = 0; e < 2; ++e) {
        const int i = ends.at(e);
        const int k = ends.at(1 - e);
        if (row[i] < 0) {
            continue;
        }
        trip.emplace_back(row[i], row[i], bb);
        rhs[row[i]] += (e == 0 ? 1.0 : -1.0) * bb * br.shift; // the shift counts from the from end
        if (row[k] >= 0) {
            trip.emplace_back(row[i], row[k], -bb);
        } else {
            rhs[row[i]] += bb * va[static_cast<std::size_t>(k)];
        }
    }
}

// Flat-start angles: the DC power flow from the slacks' angles (with
// several slack buses the only start that respects every fixed angle; at
// 10,000 buses Newton-Raphson from the angles of flat_angles alone takes
// more than 20 steps),
//   Σ_k b_ik·(θ_i − θ_k − φ_ik) = P_i,  b = −Im(ys)/tap,
// P_i the scheduled generation less the load and shunt conductance at 1 pu,
// slack angles fixed at their RAW values. Buses not energised keep `va`,
// and so does every bus where the system can not be solved.
void dc_angles(const Network &net, const BusSchedule &sch, std::vector<double> &va)
{
    const auto n = static_cast<int>(net.buses.size());
    std::vector<int> row(static_cast<std::size_t>(n), -1);
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const BusKind k = sch.kind[i];
        row[i] = k != BusKind::off && k != BusKind::slack && k != BusKind::tied ? m++ : -1;
    }
    if (m == 0) {
        return; // every bus is a slack's or off: nothing to solve for
    }
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(m);
    for (int i = 0; i < n; ++i) {
        if (row[i] >= 0) {
            const NetBus &b = net.buses[i];
            rhs[row[i]] = sch.pg[i] - b.pd - b.ip - b.yp - b.gs - (sch.pdc.empty() ? 0.0 : sch.pdc[i]);
        }
    }
    std::vector<Eigen::Triplet<double, int>> trip;
    for (const NetBranch &br : net.branches) {
        if (br.in_service && !br.tie && sch.kind[br.f] != BusKind::off && sch.kind[br.t] != BusKind::off) {
            stamp_dc_branch(br, row, va, trip, rhs);
        }
    }
    Eigen::SparseMatrix<double> bmat(m, m);
    bmat.setFromTriplets(trip.begin(), trip.end());
    const Eigen::SparseLU<Eigen::SparseMatrix<double>> lu(bmat);
    const Eigen::VectorXd theta = lu.info() == Eigen::Success ? Eigen::VectorXd(lu.solve(rhs)) : Eigen::VectorXd();
    if (lu.info() != Eigen::Success || theta.size() != m || !theta.allFinite()) {
        return;
    }
    for (int i = 0; i < n; ++i) {
        va[static_cast<std::size_t>(i)] = row[i] >= 0 ? theta[row[i]] : va[static_cast<std::size_t>(i)];
    }
}

} // namespace

Voltages initial_voltages(const Network &net, const BusSchedule &sch, bool flat_start)
{
    const auto n = static_cast<Eigen::Index>(net.buses.size());
    Voltages v{Eigen::VectorXd(n), Eigen::VectorXd(n)};
    std::vector<double> flat = flat_start ? flat_angles(net) : std::vector<double>();
    if (flat_start) {
        dc_angles(net, sch, flat);
    }
    for (Eigen::Index i = 0; i < n; ++i) {
        const NetBus &b = net.buses[i];
        v.vm[i] = flat_start ? 1.0 : b.vm0;
        v.va[i] = flat_start ? flat[static_cast<std::size_t>(i)] : b.va0;
        if (sch.kind[i] == BusKind::pv || sch.kind[i] == BusKind::slack) {
            v.vm[i] = sch.vs[i];
        }
        if (sch.kind[i] == BusKind::slack) {
            v.va[i] = b.va0;
        }
    }
    // A bus regulated by units elsewhere starts at its set-point.
    for (std::size_t k = 0; k < net.groups.size(); ++k) {
        if (!sch.vhold.empty() && sch.vhold[k] >= 0) {
            v.vm[net.groups[k].bus] = net.groups[k].vs;
        }
    }
    copy_tied_voltages(net, v);
    return v;
}

void copy_tied_voltages(const Network &net, Voltages &v)
{
    for (const TieNode &node : net.tie_nodes) {
        for (const int b : node.buses) {
            v.vm[b] = v.vm[node.rep];
            v.va[b] = v.va[node.rep];
        }
    }
}
