#include "powerflow/chord.h"

#include <Eigen/Dense>

#include <cmath>
#include <numeric>

namespace {

constexpr int max_steps = 10;

// Rows R a low-rank correction takes before a factorization of the
// Jacobian where the iterate is serves better. A row costs two sparse
// triangular solves and a row and column of S; S's LU grows as |R|³ and
// chord steps on fresh factors converge faster, so a solve's own factors
// are taken afresh sooner than the base case's are given up. On the
// 10,000-bus case, 60/40 to 400/200 cost the same to within the machine's
// noise; these take fewest factorizations.
constexpr int base_max_rank = 200;
constexpr int own_max_rank = 100;

// Switch slots whose products h_a·g_b a SwitchCache keeps: 32 MB at most.
// The 10,000-bus case uses about a thousand.
constexpr int max_table_slots = 2048;

// A change of kind whose correction the ChordBase holds: pv to pq, pq to pv.
bool switched(BusKind from, BusKind to)
{
    return (from == BusKind::pv && to == BusKind::pq) || (from == BusKind::pq && to == BusKind::pv);
}

// Row r's place in R, added with an empty row of D if new.
int row_place(ChordState &st, int r)
{
    int &k = st.place[static_cast<std::size_t>(r)];
    if (k < 0) {
        k = static_cast<int>(st.rows.size());
        st.rows.push_back(r);
        st.d.emplace_back();
        st.h.push_back(nullptr);
        st.stale.push_back(1);
        st.s_stale.push_back(1);
    }
    return k;
}

// Row r of D: d, its row of H to be taken from it.
void set_d_row(ChordState &st, int r, SparseVec &&d)
{
    if (d.i.empty() && st.place[static_cast<std::size_t>(r)] < 0) {
        return;
    }
    const auto k = static_cast<std::size_t>(row_place(st, r));
    st.d[k] = std::move(d);
    st.stale[k] = 1;
    st.s_stale[k] = 1;
}

// Finds every row where the Jacobian now in ws.pat.j differs from J0 and
// sets D to the differences of every row in R. False when there are more
// than max_rank of them.
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
            if (st.place[static_cast<size_t>(ji[e])] < 0 && jx[e] != cb.j0[static_cast<size_t>(e)]) {
                row_place(st, ji[e]);
            }
        }
    }
    if (st.rows.size() > static_cast<size_t>(cb.max_rank)) {
        return false;
    }
    for (SparseVec &d : st.d) {
        d.i.clear();
        d.x.clear();
    }
    for (int c = 0; c < n2; ++c) {
        for (int e = jp[c]; e < jp[c + 1]; ++e) {
            const int k = st.place[static_cast<size_t>(ji[e])];
            const double delta = jx[e] - cb.j0[static_cast<size_t>(e)];
            if (k >= 0 && delta != 0.0) {
                st.d[static_cast<size_t>(k)].i.push_back(c);
                st.d[static_cast<size_t>(k)].x.push_back(delta);
            }
        }
    }
    std::fill(st.stale.begin(), st.stale.end(), 1);
    std::fill(st.s_stale.begin(), st.s_stale.end(), 1);
    return true;
}

// The buses whose rows of Jc may differ from st's last: those whose kind
// is not st.kinds's and, the first time (st.kinds then J0's), those whose
// row of Ybus or constant-current load is not J0's (st.touched).
std::vector<int> buses_to_update(const Network &net, const Ybus &y, const BusSchedule &sch, const ChordBase &cb,
                                 bool first, ChordState &st)
{
    const auto n = static_cast<std::size_t>(y.rows());
    std::vector<char> mark(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        mark[i] = st.kinds[i] != sch.kind[i] ? 1 : 0;
    }
    if (first) {
        std::vector<char> &touched = st.touched;
        touched.assign(n, 0);
        const std::complex<double> *yx = y.valuePtr();
        const int *yi = y.innerIndexPtr();
        for (std::size_t e = 0; e < cb.y0.size(); ++e) {
            if (yx[e] != cb.y0[e]) {
                touched[static_cast<std::size_t>(yi[e])] = 1;
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            const NetBus &b = net.buses[i];
            if (b.ip != cb.load0[i].real() || b.iq != cb.load0[i].imag()) {
                touched[i] = 1;
            }
            mark[i] = mark[i] != 0 || touched[i] != 0 ? 1 : 0;
        }
    }
    std::vector<int> buses;
    for (std::size_t i = 0; i < n; ++i) {
        if (mark[i] != 0) {
            buses.push_back(static_cast<int>(i));
        }
    }
    return buses;
}

// Bus i's rows of D from its rows of Jc (jacobian_rows): P row into dp,
// Q row into dq, the nonzero differences from J0 only.
void d_rows(const ChordBase &cb, const std::vector<JacobianEntry> &entries, int i, SparseVec &dp, SparseVec &dq)
{
    for (const JacobianEntry &e : entries) {
        const double delta = e.value - cb.j0[static_cast<std::size_t>(e.pos)];
        if (delta != 0.0) {
            SparseVec &d = e.row == i ? dp : dq;
            d.i.push_back(e.col);
            d.x.push_back(delta);
        }
    }
}

// Sets bus i's rows of D from its rows of Jc taken at v (vc: the same as
// complex voltages). False when jacobian_rows can not take them.
bool take_d_rows(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                 const Eigen::VectorXcd &vc, const NewtonWorkspace &ws, const ChordBase &cb, ChordState &st, int i)
{
    if (!jacobian_rows(net, y, sch, v, vc, ws.pat, i, st.entries)) {
        return false;
    }
    SparseVec dp;
    SparseVec dq;
    d_rows(cb, st.entries, i, dp, dq);
    set_d_row(st, i, std::move(dp));
    set_d_row(st, static_cast<int>(y.rows()) + i, std::move(dq));
    return true;
}

// The correction for bus i, whose kind in sch is pv where J0's
// is pq or the other way round and whose rows of Jc differ from J0's in
// its Q row alone: its slot in sc (see SwitchCache), taken now if it was not yet,
// or −1 where it does not apply.
int switch_slot(const Network &net, const Ybus &y, const BusSchedule &sch, const NewtonWorkspace &ws,
                const ChordBase &cb, SwitchCache &sc, ChordState &st, int i)
{
    const auto b = static_cast<std::size_t>(i);
    if (sc.slot.empty() || !switched(cb.kinds0[b], sch.kind[b])) {
        return -1;
    }
    if (sc.slot[b] >= 0) {
        return sc.slot[b];
    }
    if (!jacobian_rows(net, y, sch, cb.v0, cb.vc0, ws.pat, i, st.entries)) {
        return -1;
    }
    const int n = static_cast<int>(y.rows());
    // The P row is J0's but for rounding: its sum for Ybus·V runs in
    // another order than the base case's.
    SparseVec dp;
    SparseVec d;
    d_rows(cb, st.entries, i, dp, d);
    sc.slot[b] = static_cast<int>(sc.switch_g.size());
    lower_column(cb.lu, n + i, 1.0, st.work, sc.switch_g.emplace_back());
    upper_row(cb.lu, d, st.work, sc.switch_h.emplace_back());
    return sc.slot[b];
}

// The rows of D of the buses buses_to_update names, from their rows of Jc
// alone (jacobian_rows). False when that can't be done here or gives more
// than max_rank rows.
bool changed_buses(const Network &net, const Ybus &y, const BusSchedule &sch, const NewtonWorkspace &ws,
                   const ChordBase &cb, SwitchCache &sc, ChordState &st)
{
    const int n = static_cast<int>(y.rows());
    const bool first = st.kinds.empty();
    if (!first && st.touched.size() != sch.kind.size()) {
        st.touched.assign(sch.kind.size(), 1); // not known: every bus may differ from J0
    }
    if (first) {
        if (cb.kinds0.size() != sch.kind.size() || cb.y0.size() != static_cast<std::size_t>(y.nonZeros())) {
            return false;
        }
        st.kinds = cb.kinds0;
    }
    for (const int i : buses_to_update(net, y, sch, cb, first, st)) {
        const auto b = static_cast<std::size_t>(i);
        if (st.touched[b] == 0 && sch.kind[b] == cb.kinds0[b]) { // back to J0's rows
            set_d_row(st, i, SparseVec{});
            set_d_row(st, n + i, SparseVec{});
            continue;
        }
        if (const int slot = st.touched[b] == 0 ? switch_slot(net, y, sch, ws, cb, sc, st, i) : -1; slot >= 0) {
            set_d_row(st, i, SparseVec{});
            const auto k = static_cast<std::size_t>(row_place(st, n + i));
            st.d[k] = SparseVec{};
            st.h[k] = &sc.switch_h[static_cast<std::size_t>(slot)];
            st.stale[k] = 0;
            st.s_stale[k] = 1;
            continue;
        }
        if (!take_d_rows(net, y, sch, cb.v0, cb.vc0, ws, cb, st, i)) {
            st.kinds.clear();
            return false;
        }
    }
    return st.rows.size() <= static_cast<size_t>(cb.max_rank);
}

// The slot the SwitchCache keeps a switch correction in for Jacobian row r
// (a Q row), or −1.
int row_slot(const ChordBase &cb, const SwitchCache &sc, int r)
{
    const int n = cb.lu.n / 2;
    return r >= n && !sc.slot.empty() ? sc.slot[static_cast<std::size_t>(r - n)] : -1;
}

// The slot of the SwitchCache's switch correction that row k of R uses for
// its row of H (of_h) or its column of G, or −1 where it uses its own.
int slot_used(const ChordBase &cb, const SwitchCache &sc, const ChordState &st, std::size_t k, bool of_h)
{
    const int slot = row_slot(cb, sc, st.rows[k]);
    if (slot < 0) {
        return -1;
    }
    const auto at = static_cast<std::size_t>(slot);
    const SparseVec *used = of_h ? st.h[k] : st.g[k];
    return used == (of_h ? &sc.switch_h[at] : &sc.switch_g[at]) ? slot : -1;
}

// Where the SwitchCache keeps h_a·g_b for its switch slots a and b, NaN
// until taken; nullptr where it keeps none (see switch_hg).
double *switch_hg_entry(SwitchCache &sc, int a, int b)
{
    if (a < 0 || b < 0 || a >= max_table_slots || b >= max_table_slots) {
        return nullptr;
    }
    if (sc.switch_hg.size() <= static_cast<std::size_t>(a)) {
        sc.switch_hg.resize(static_cast<std::size_t>(a) + 1);
    }
    std::vector<double> &row = sc.switch_hg[static_cast<std::size_t>(a)];
    if (row.size() <= static_cast<std::size_t>(b)) {
        row.resize(static_cast<std::size_t>(b) + 1, std::nan(""));
    }
    return &row[static_cast<std::size_t>(b)];
}

// h_k·g for S: from the SwitchCache's table where it keeps the product
// (h_slot, g_slot ≥ 0), else a dot product with g scattered into
// st.scatter, the first time one is needed (`scattered`).
double h_times_g(const ChordBase &cb, SwitchCache &sc, ChordState &st, std::size_t k, int h_slot, int g_slot,
                 const SparseVec &g, bool &scattered)
{
    double *kept = switch_hg_entry(sc, h_slot, g_slot);
    if (kept != nullptr && !std::isnan(*kept)) {
        return *kept;
    }
    std::vector<double> &x = st.scatter;
    if (!scattered) {
        x.resize(static_cast<std::size_t>(cb.lu.n), 0.0);
        for (std::size_t e = 0; e < g.i.size(); ++e) {
            x[static_cast<std::size_t>(g.i[e])] = g.x[e];
        }
        scattered = true;
    }
    const double hg = dot(*st.h[k], x.data());
    if (kept != nullptr) {
        *kept = hg;
    }
    return hg;
}

// S_kl = δ_kl + h_k·g_l for every k of the columns l ≥ had (new rows of
// R) and for the rows k in `changed` of the others. Where h_k and g_l are
// both the SwitchCache's switch corrections the product is the same for
// every outage and comes from its table; the others are dot products.
void update_s(const ChordBase &cb, SwitchCache &sc, ChordState &st, Eigen::Index had,
              const std::vector<Eigen::Index> &changed)
{
    const auto m = static_cast<Eigen::Index>(st.rows.size());
    st.s.conservativeResize(m, m);
    std::vector<int> h_slot(static_cast<std::size_t>(m));
    for (std::size_t k = 0; k < h_slot.size(); ++k) {
        h_slot[k] = slot_used(cb, sc, st, k, true);
    }
    std::vector<Eigen::Index> every(static_cast<std::size_t>(m));
    std::iota(every.begin(), every.end(), Eigen::Index{0});
    for (Eigen::Index l = 0; l < m; ++l) {
        const std::vector<Eigen::Index> &rows = l >= had ? every : changed;
        const SparseVec &g = *st.g[static_cast<std::size_t>(l)];
        const int g_slot = slot_used(cb, sc, st, static_cast<std::size_t>(l), false);
        bool scattered = false;
        for (const Eigen::Index k : rows) {
            const auto kk = static_cast<std::size_t>(k);
            st.s(k, l) = (k == l ? 1.0 : 0.0) + h_times_g(cb, sc, st, kk, h_slot[kk], g_slot, g, scattered);
        }
        if (scattered) {
            for (const int i : g.i) {
                st.scatter[static_cast<std::size_t>(i)] = 0.0;
            }
        }
    }
}

// G's columns for the rows added since the last call, H's rows for the
// rows of D that changed (each either the SwitchCache's, taken once, or the
// outage's own), S where either did, and S's LU.
void update_correction(const ChordBase &cb, SwitchCache &sc, ChordState &st)
{
    const LuFactors &f = cb.lu;
    const std::size_t m = st.rows.size();
    const auto had = static_cast<Eigen::Index>(st.g.size());
    for (std::size_t k = st.g.size(); k < m; ++k) {
        const int r = st.rows[k];
        const int slot = row_slot(cb, sc, r);
        if (slot >= 0) {
            st.g.push_back(&sc.switch_g[static_cast<std::size_t>(slot)]);
        } else {
            lower_column(f, r, 1.0, st.work, st.own_g.emplace_back());
            st.g.push_back(&st.own_g.back());
        }
    }
    std::vector<Eigen::Index> changed;
    for (std::size_t k = 0; k < m; ++k) {
        if (st.stale[k] != 0) {
            upper_row(f, st.d[k], st.work, st.own_h.emplace_back());
            st.h[k] = &st.own_h.back();
            st.stale[k] = 0;
        }
        if (st.s_stale[k] != 0) {
            st.s_stale[k] = 0;
            changed.push_back(static_cast<Eigen::Index>(k));
        }
    }
    update_s(cb, sc, st, had, changed);
    st.s_lu.compute(st.s);
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
            w[k] = dot(*st.h[static_cast<std::size_t>(k)], st.t.data());
        }
        const Eigen::VectorXd c = st.s_lu.solve(w);
        for (Eigen::Index l = 0; l < m; ++l) {
            const SparseVec &g = *st.g[static_cast<std::size_t>(l)];
            for (std::size_t e = 0; e < g.i.size(); ++e) {
                st.t[g.i[e]] -= c[l] * g.x[e];
            }
        }
    }
    upper_solve(f, st.t.data(), ws.dx.data());
}

// J0, just filled in ws.pat.j at v, and what it was taken with.
void keep_j0(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v, const NewtonWorkspace &ws,
             ChordBase &cb)
{
    const auto &j = ws.pat.j;
    cb.v0 = v;
    cb.vc0 = ws.vc;
    cb.j0.assign(j.valuePtr(), j.valuePtr() + j.nonZeros());
    cb.kinds0 = sch.kind;
    cb.y0.assign(y.valuePtr(), y.valuePtr() + y.nonZeros());
    cb.load0.clear();
    for (const NetBus &b : net.buses) {
        cb.load0.emplace_back(b.ip, b.iq);
    }
}

// The rows of the buses whose row of Ybus the outage changed, retaken at
// the iterate v (after the first step): there the Jacobian moves most from
// the base solution's, and a chord step with them is nearer Newton's.
void refresh_touched(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                     const NewtonWorkspace &ws, const ChordBase &cb, SwitchCache &sc, ChordState &st)
{
    st.refreshed = true;
    const int n = static_cast<int>(y.rows());
    bool any = false;
    for (int i = 0; i < n; ++i) {
        const auto b = static_cast<std::size_t>(i);
        if (b >= st.touched.size() || st.touched[b] == 0 || sch.kind[b] == BusKind::off) {
            continue;
        }
        if (!take_d_rows(net, y, sch, v, ws.vc, ws, cb, st, i)) {
            return;
        }
        any = true;
    }
    if (any) {
        update_correction(cb, sc, st);
    }
}

// The switch corrections ws keeps for cb, begun afresh where it kept them
// for another ChordBase (or none yet).
SwitchCache &switch_cache(NewtonWorkspace &ws, const ChordBase &cb)
{
    if (ws.switches == nullptr) {
        ws.switches = std::make_shared<SwitchCache>();
    }
    SwitchCache &sc = *ws.switches;
    if (sc.of != &cb) {
        sc = SwitchCache{};
        sc.of = &cb;
        sc.slot.assign(cb.kinds0.size(), -1);
    }
    return sc;
}

} // namespace

bool make_chord_base(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v, NewtonWorkspace &ws,
                     ChordBase &cb)
{
    int worst = -1;
    mismatch(net, y, sch, v, ws, worst);
    jacobian(net, y, sch, v, ws);
    auto &j = ws.pat.j;
    keep_j0(net, y, sch, v, ws, cb);
    cb.max_rank = base_max_rank;
    klu_common *c = ws.common.get();
    const KluNumeric lu(klu_factor(j.outerIndexPtr(), j.innerIndexPtr(), j.valuePtr(), ws.symbolic.get(), c),
                        KluDeleter{c});
    if (!lu || c->status != KLU_OK || !extract_factors(lu.get(), ws.symbolic.get(), c, cb.lu)) {
        return false;
    }
    cb.switches = net.groups.empty();
    ws.switches.reset();
    return true;
}

bool make_local_chord_base(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                           NewtonWorkspace &ws, ChordBase &cb, ChordState &st)
{
    int worst = -1;
    mismatch(net, y, sch, v, ws, worst);
    jacobian(net, y, sch, v, ws);
    const auto &j = ws.pat.j;
    keep_j0(net, y, sch, v, ws, cb);
    cb.max_rank = own_max_rank;
    cb.lu = LuFactors{};
    const bool ok = factor_jacobian(ws) && extract_factors(ws.numeric.get(), ws.symbolic.get(), ws.common.get(), cb.lu);
    // Jc is J0 itself: nothing to correct until the kinds change.
    st = ChordState{};
    st.place.assign(static_cast<std::size_t>(j.rows()), -1);
    st.kinds = sch.kind;
    st.touched.assign(sch.kind.size(), 0); // J0 is this outage's own
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
    SwitchCache &sc = cb.switches ? switch_cache(ws, cb) : st.no_switches;
    NewtonResult &r = out.r;
    r.max_mismatch = mismatch(net, y, sch, v, ws, r.worst_bus);
    out.first_mismatch = r.max_mismatch;
    if (r.max_mismatch <= opt.tolerance_pu) {
        // Nothing to correct: an outage that leaves the solution as it was
        // (a bus with nothing on it cut off), or a change of kind that
        // moved no mismatch beyond the tolerance, costs no correction.
        out.tried = true;
        r.converged = true;
        return out;
    }
    if (!st.ready || st.kinds != sch.kind) {
        st.ready = false;
        st.place.resize(static_cast<std::size_t>(2 * y.rows()), -1);
        // Jc: this outage's Jacobian at the base solution; where only kinds
        // changed since the last, the rows of the buses they changed.
        if (!changed_buses(net, y, sch, ws, cb, sc, st)) {
            if (st.rows.size() > static_cast<std::size_t>(cb.max_rank)) {
                return out;
            }
            int worst = -1;
            ws.vc = cb.vc0;
            ws.vc_at = cb.v0;
            mismatch_at_vc(net, y, sch, cb.v0, ws, worst);
            jacobian(net, y, sch, cb.v0, ws);
            if (!changed_rows(ws, cb, st)) {
                return out;
            }
            r.max_mismatch = mismatch(net, y, sch, v, ws, r.worst_bus); // back at v
        }
        update_correction(cb, sc, st);
        st.kinds = sch.kind;
        st.ready = true;
    }
    out.tried = true;

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
        if (!st.refreshed && !(r.max_mismatch <= opt.tolerance_pu)) {
            refresh_touched(net, y, sch, v, ws, cb, sc, st);
        }
    }
    r.converged = true;
    return out;
}
