#include "powerflow/chord.h"

#include <Eigen/Dense>

#include <cmath>

namespace {

constexpr int max_steps = 10;

// Rows R a low-rank correction takes before a factorization of the
// Jacobian where the iterate is costs less: Z costs one solve with J0's
// factors per row, a factorization about ten solves' worth (measured on
// the 2,000- and 10,000-bus cases), and chord steps on fresh factors
// converge faster. The base case's factors serve every contingency; a
// solve's own are taken afresh sooner.
constexpr int base_max_rank = 12;
constexpr int own_max_rank = 16;

klu_numeric *factors(const ChordBase &cb) { return cb.lu ? cb.lu.get() : cb.borrowed; }

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

// Extends Z = J0⁻¹·E_R by the columns of the rows added since the last
// call: one solve per new row.
void extend_z(const ChordBase &cb, NewtonWorkspace &ws, ChordState &st)
{
    const auto n2 = static_cast<Eigen::Index>(ws.pat.j.rows());
    const Eigen::Index have = st.z.cols();
    const auto m = static_cast<Eigen::Index>(st.rows.size());
    if (m == have) {
        return;
    }
    st.z.conservativeResize(n2, m);
    st.z.rightCols(m - have).setZero();
    for (Eigen::Index k = have; k < m; ++k) {
        st.z(st.rows[static_cast<size_t>(k)], k) = 1.0;
    }
    klu_solve(ws.symbolic.get(), factors(cb), static_cast<int>(n2), static_cast<int>(m - have), st.z.data() + n2 * have,
              ws.common.get());
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
    cb.lu =
        KluNumeric(klu_factor(j.outerIndexPtr(), j.innerIndexPtr(), j.valuePtr(), ws.symbolic.get(), c), KluDeleter{c});
    if (!cb.lu || c->status != KLU_OK) {
        cb.lu.reset();
        return false;
    }
    return true;
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
    cb.lu.reset();
    cb.max_rank = own_max_rank;
    cb.borrowed = factor_jacobian(ws) ? ws.numeric.get() : nullptr;
    // Jc is J0 itself: nothing to correct until the kinds change.
    st = ChordState{};
    st.place.assign(static_cast<std::size_t>(j.rows()), -1);
    st.kinds = sch.kind;
    st.ready = true;
    return cb.borrowed != nullptr;
}

ChordResult chord_pf(const Network &net, const Ybus &y, const BusSchedule &sch, Voltages &v, const PfOptions &opt,
                     NewtonWorkspace &ws, const ChordBase &cb, ChordState &st)
{
    ChordResult out;
    klu_numeric *lu = factors(cb);
    if (lu == nullptr) {
        return out;
    }
    const int n = static_cast<int>(y.rows());
    const int n2 = 2 * n;
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
        extend_z(cb, ws, st);
        // S = I + D·Z
        const auto m = static_cast<Eigen::Index>(st.rows.size());
        Eigen::MatrixXd s = Eigen::MatrixXd::Identity(m, m);
        for (const RowChange &rc : st.d) {
            s.row(rc.k) += rc.d * st.z.row(rc.col);
        }
        st.s_lu.compute(s);
        st.kinds = sch.kind;
        st.ready = true;
    }
    out.tried = true;
    const Eigen::MatrixXd &z = st.z;
    const auto m = static_cast<Eigen::Index>(st.rows.size());
    klu_common *c = ws.common.get();
    Eigen::VectorXd w(m);

    NewtonResult &r = out.r;
    r.max_mismatch = mismatch(net, y, sch, v, ws, r.worst_bus);
    out.first_mismatch = r.max_mismatch;
    while (!(r.max_mismatch <= opt.tolerance_pu)) {
        if (r.iterations >= max_steps || !std::isfinite(r.max_mismatch)) {
            return out;
        }
        // dx = J0⁻¹F − Z·S⁻¹·D·J0⁻¹F
        ws.dx = ws.f;
        klu_solve(ws.symbolic.get(), lu, n2, 1, ws.dx.data(), c);
        if (m > 0) {
            w.setZero();
            for (const RowChange &rc : st.d) {
                w[rc.k] += rc.d * ws.dx[rc.col];
            }
            ws.dx.noalias() -= z * st.s_lu.solve(w);
        }
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
