#include "powerflow/chord.h"

#include <Eigen/Dense>

#include <cmath>

namespace {

constexpr int max_steps = 10;

// Rows R a low-rank correction takes before a factorization of the
// Jacobian where the iterate is serves better. A row costs two sparse
// triangular solves and a row and column of S; S's LU grows as |R|³ and
// chord steps on fresh factors converge faster, so a solve's own factors
// are taken afresh sooner than the base case's are given up.
constexpr int base_max_rank = 200;
constexpr int own_max_rank = 100;

// Adds to st.rows the rows where the Jacobian now in ws.pat.j differs from
// J0, and lists every nonzero difference of those rows in d. False when
// there are more than max_rank of them.
bool changed_rows(const NewtonWorkspace &ws, const ChordBase &cb, ChordState &st)
{
    const auto &j = ws.pat.j;
    const int n2 = static_cast<int>(j.rows());
    const double *jx = j.valuePtr();
    const int *jp = j.outerIndexPtr();
    const int *ji = j.innerIndexPtr();
    st.place.resize(static_cast<size_t>(n2), -1);
    for (int c = 0; c < n2; ++c) {
        for (int e = jp[c]; e < jp[c + 1]; ++e) {
            auto &k = st.place[static_cast<size_t>(ji[e])];
            if (k < 0 && jx[e] != cb.j0[static_cast<size_t>(e)]) {
                k = static_cast<int>(st.rows.size());
                st.rows.push_back(ji[e]);
            }
        }
    }
    if (st.rows.size() > static_cast<size_t>(cb.max_rank)) {
        return false;
    }
    st.d.clear();
    for (int c = 0; c < n2; ++c) {
        for (int e = jp[c]; e < jp[c + 1]; ++e) {
            const int k = st.place[static_cast<size_t>(ji[e])];
            const double delta = jx[e] - cb.j0[static_cast<size_t>(e)];
            if (k >= 0 && delta != 0.0) {
                st.d.push_back({k, c, delta});
            }
        }
    }
    return true;
}

// G's columns for the rows added since the last call, H's rows for D,
// and the LU of S = I + H·G: S_kl = h_k·g_l, each g_l scattered once.
void update_correction(const ChordBase &cb, ChordState &st)
{
    const LuFactors &f = cb.lu;
    const std::size_t m = st.rows.size();
    for (std::size_t k = st.g.size(); k < m; ++k) {
        st.g.emplace_back();
        lower_column(f, st.rows[k], 1.0, st.work, st.g.back());
    }
    std::vector<SparseVec> d(m);
    for (const RowChange &rc : st.d) {
        d[static_cast<std::size_t>(rc.k)].i.push_back(rc.col);
        d[static_cast<std::size_t>(rc.k)].x.push_back(rc.d);
    }
    st.h.resize(m);
    for (std::size_t k = 0; k < m; ++k) {
        upper_row(f, d[k], st.work, st.h[k]);
    }
    st.t.setZero(f.n);
    const auto mm = static_cast<Eigen::Index>(m);
    Eigen::MatrixXd s = Eigen::MatrixXd::Identity(mm, mm);
    for (Eigen::Index l = 0; l < mm; ++l) {
        const SparseVec &g = st.g[static_cast<std::size_t>(l)];
        for (std::size_t e = 0; e < g.i.size(); ++e) {
            st.t[g.i[e]] = g.x[e];
        }
        for (Eigen::Index k = 0; k < mm; ++k) {
            const SparseVec &h = st.h[static_cast<std::size_t>(k)];
            double sum = 0;
            for (std::size_t e = 0; e < h.i.size(); ++e) {
                sum += h.x[e] * st.t[h.i[e]];
            }
            s(k, l) += sum;
        }
        for (const int i : g.i) {
            st.t[i] = 0.0;
        }
    }
    st.s_lu.compute(s);
}

// ws.dx = Jc⁻¹·ws.f = Q·U⁻¹·(t − G·S⁻¹·H·t), t = L⁻¹·P·R⁻¹·ws.f.
void chord_solve(const ChordBase &cb, NewtonWorkspace &ws, ChordState &st)
{
    const LuFactors &f = cb.lu;
    st.t.resize(f.n);
    lower_solve(f, ws.f.data(), st.t.data());
    const auto m = static_cast<Eigen::Index>(st.rows.size());
    if (m > 0) {
        Eigen::VectorXd w(m);
        for (Eigen::Index k = 0; k < m; ++k) {
            const SparseVec &h = st.h[static_cast<std::size_t>(k)];
            double sum = 0;
            for (std::size_t e = 0; e < h.i.size(); ++e) {
                sum += h.x[e] * st.t[h.i[e]];
            }
            w[k] = sum;
        }
        const Eigen::VectorXd c = st.s_lu.solve(w);
        for (Eigen::Index l = 0; l < m; ++l) {
            const SparseVec &g = st.g[static_cast<std::size_t>(l)];
            for (std::size_t e = 0; e < g.i.size(); ++e) {
                st.t[g.i[e]] -= c[l] * g.x[e];
            }
        }
    }
    upper_solve(f, st.t.data(), ws.dx.data());
}

} // namespace

bool make_chord_base(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v, NewtonWorkspace &ws,
                     ChordBase &cb)
{
    int worst = -1;
    mismatch(net, y, sch, v, ws, worst);
    jacobian(net, y, sch, v, ws);
    auto &j = ws.pat.j;
    cb.v0 = v;
    cb.vc0 = ws.vc;
    cb.j0.assign(j.valuePtr(), j.valuePtr() + j.nonZeros());
    cb.max_rank = base_max_rank;
    klu_common *c = ws.common.get();
    const KluNumeric lu(klu_factor(j.outerIndexPtr(), j.innerIndexPtr(), j.valuePtr(), ws.symbolic.get(), c),
                        KluDeleter{c});
    return lu && c->status == KLU_OK && extract_factors(lu.get(), ws.symbolic.get(), c, cb.lu);
}

bool make_local_chord_base(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                           NewtonWorkspace &ws, ChordBase &cb, ChordState &st)
{
    int worst = -1;
    mismatch(net, y, sch, v, ws, worst);
    jacobian(net, y, sch, v, ws);
    const auto &j = ws.pat.j;
    cb.v0 = v;
    cb.vc0 = ws.vc;
    cb.j0.assign(j.valuePtr(), j.valuePtr() + j.nonZeros());
    cb.max_rank = own_max_rank;
    cb.lu = LuFactors{};
    const bool ok = factor_jacobian(ws) && extract_factors(ws.numeric.get(), ws.symbolic.get(), ws.common.get(), cb.lu);
    // Jc is J0 itself: nothing to correct until the kinds change.
    st = ChordState{};
    st.place.assign(static_cast<std::size_t>(j.rows()), -1);
    st.kinds = sch.kind;
    st.ready = true;
    return ok;
}

ChordResult chord_pf(const Network &net, const Ybus &y, const BusSchedule &sch, Voltages &v, const PfOptions &opt,
                     NewtonWorkspace &ws, const ChordBase &cb, ChordState &st)
{
    ChordResult out;
    if (cb.lu.empty()) {
        return out;
    }
    if (!st.ready || st.kinds != sch.kind) {
        st.ready = false;
        // Jc: this outage's Jacobian at the base solution.
        int worst = -1;
        ws.vc = cb.vc0;
        mismatch_at_vc(net, y, sch, cb.v0, ws, worst);
        jacobian(net, y, sch, cb.v0, ws);
        if (!changed_rows(ws, cb, st)) {
            return out;
        }
        update_correction(cb, st);
        st.kinds = sch.kind;
        st.ready = true;
    }
    out.tried = true;

    NewtonResult &r = out.r;
    r.max_mismatch = mismatch(net, y, sch, v, ws, r.worst_bus);
    out.first_mismatch = r.max_mismatch;
    while (!(r.max_mismatch <= opt.tolerance_pu)) {
        if (r.iterations >= max_steps || !std::isfinite(r.max_mismatch)) {
            return out;
        }
        chord_solve(cb, ws, st);
        take_step(v, ws);
        ++r.iterations;
        const double before = r.max_mismatch;
        r.max_mismatch = mismatch_at_vc(net, y, sch, v, ws, r.worst_bus);
        if (!(r.max_mismatch <= 0.5 * before) && !(r.max_mismatch <= opt.tolerance_pu)) {
            return out;
        }
    }
    r.converged = true;
    return out;
}
