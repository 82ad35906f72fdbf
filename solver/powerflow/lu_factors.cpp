#include "powerflow/lu_factors.h"

#include <algorithm>

namespace {

// U's rows as the columns of Uᵀ, the diagonal kept apart.
void transpose_upper(LuFactors &f)
{
    const int n = f.n;
    f.udiag.assign(static_cast<std::size_t>(n), 0.0);
    f.utp.assign(static_cast<std::size_t>(n) + 1, 0);
    for (int j = 0; j < n; ++j) {
        for (int e = f.up[j]; e < f.up[j + 1] - 1; ++e) {
            ++f.utp[static_cast<std::size_t>(f.ui[e]) + 1];
        }
        f.udiag[static_cast<std::size_t>(j)] = f.ux[static_cast<std::size_t>(f.up[j + 1] - 1)];
    }
    for (int j = 0; j < n; ++j) {
        f.utp[j + 1] += f.utp[j];
    }
    f.uinv.resize(f.udiag.size());
    for (std::size_t j = 0; j < f.udiag.size(); ++j) {
        f.uinv[j] = 1.0 / f.udiag[j];
    }
    f.uti.resize(static_cast<std::size_t>(f.utp[n]));
    f.utx.resize(static_cast<std::size_t>(f.utp[n]));
    std::vector<int> at(f.utp.begin(), f.utp.end() - 1);
    for (int j = 0; j < n; ++j) {
        for (int e = f.up[j]; e < f.up[j + 1] - 1; ++e) {
            const int k = at[f.ui[e]]++;
            f.uti[k] = j;
            f.utx[k] = f.ux[e];
        }
    }
}

// Marks (value ≥ 0, its place in li) the rows of L's column c below its
// diagonal in at, or clears them back to −1.
void mark_column(const LuFactors &f, int c, std::vector<int> &at, bool clear)
{
    for (int e = f.lp[c] + 1; e < f.lp[c + 1]; ++e) {
        at[f.li[e]] = clear ? -1 : e;
    }
}

// Whether L's columns j and j+1 have the same rows below j+1 (KLU leaves
// a column's rows unsorted), column j+1's rows marked in at.
bool lower_pair(const LuFactors &f, int j, const std::vector<int> &at)
{
    int shared = 0;
    for (int e = f.lp[j] + 1; e < f.lp[j + 1]; ++e) {
        const int r = f.li[e];
        if (r != j + 1) {
            if (at[r] < 0) {
                return false;
            }
            ++shared;
        }
    }
    return shared == f.lp[j + 2] - f.lp[j + 1] - 1;
}

// Whether U's rows j and j+1 have the same columns right of j+1 (ut's
// columns hold them in order).
bool upper_pair(const LuFactors &f, int j)
{
    int a = f.utp[j];
    if (a < f.utp[j + 1] && f.uti[a] == j + 1) {
        ++a;
    }
    return std::equal(f.uti.begin() + a, f.uti.begin() + f.utp[j + 1], f.uti.begin() + f.utp[j + 1],
                      f.uti.begin() + f.utp[j + 2]);
}

// Block j's rows of L below it (two: with column j+1's values, its rows
// marked in at), and L(j+1, j) for a pair.
double add_lower_block(LuFactors &f, int j, bool two, const std::vector<int> &at)
{
    double l21 = 0;
    for (int e = f.lp[j] + 1; e < f.lp[j + 1]; ++e) {
        const int r = f.li[e];
        if (two && r == j + 1) {
            l21 = f.lx[e];
        } else {
            f.lb.push_back({Pair{f.lx[e], two ? f.lx[at[r]] : 0.0}, r});
        }
    }
    return l21;
}

// Block j's columns of U right of it (two: with row j+1's values), and
// U(j, j+1) for a pair.
double add_upper_block(LuFactors &f, int j, bool two)
{
    double u12 = 0;
    int a = f.utp[j];
    if (two && a < f.utp[j + 1] && f.uti[a] == j + 1) {
        u12 = f.utx[a++];
    }
    for (int e = a; e < f.utp[j + 1]; ++e) {
        f.ub.push_back({Pair{f.utx[e], two ? f.utx[f.utp[j + 1] + (e - a)] : 0.0}, f.uti[e]});
    }
    return u12;
}

// The blocks of one or two columns the dense solves go by (see LuFactors).
void pair_blocks(LuFactors &f)
{
    const int n = f.n;
    std::vector<int> at(static_cast<std::size_t>(n), -1);
    for (int j = 0; j < n;) {
        if (j + 1 < n) {
            mark_column(f, j + 1, at, false);
        }
        const bool two = j + 1 < n && lower_pair(f, j, at) && upper_pair(f, j);
        f.bj.push_back(j);
        f.lbp.push_back(static_cast<int>(f.lb.size()));
        f.ubp.push_back(static_cast<int>(f.ub.size()));
        f.l21.push_back(add_lower_block(f, j, two, at));
        f.u12.push_back(add_upper_block(f, j, two));
        if (j + 1 < n) {
            mark_column(f, j + 1, at, true);
        }
        j += two ? 2 : 1;
    }
    f.bj.push_back(n);
    f.lbp.push_back(static_cast<int>(f.lb.size()));
    f.ubp.push_back(static_cast<int>(f.ub.size()));
}

// The nodes reachable from b's nonzeros in the graph of M (lower
// triangular, by columns; an edge j → i for each M_ij ≠ 0, i ≠ j), into
// w.order with every j after all it reaches: a depth-first search.
void reach(int n, const int *cp, const int *ci, const SparseVec &b, SparseWork &w)
{
    if (w.x.size() != static_cast<std::size_t>(n)) {
        w.x.assign(static_cast<std::size_t>(n), 0.0);
        w.mark.assign(static_cast<std::size_t>(n), 0);
        w.stack.resize(static_cast<std::size_t>(n));
        w.next.resize(static_cast<std::size_t>(n));
        w.stamp = 0;
    }
    if (++w.stamp == 0) {
        std::fill(w.mark.begin(), w.mark.end(), 0);
        w.stamp = 1;
    }
    w.order.clear();
    for (const int s : b.i) {
        if (w.mark[s] == w.stamp) {
            continue;
        }
        int top = 0;
        w.stack[0] = s;
        w.next[0] = cp[s];
        w.mark[s] = w.stamp;
        while (top >= 0) {
            const int j = w.stack[top];
            int e = w.next[top];
            while (e < cp[j + 1] && (ci[e] == j || w.mark[ci[e]] == w.stamp)) {
                ++e;
            }
            if (e < cp[j + 1]) {
                w.next[top] = e + 1;
                const int i = ci[e];
                w.mark[i] = w.stamp;
                ++top;
                w.stack[top] = i;
                w.next[top] = cp[i];
            } else {
                w.order.push_back(j);
                --top;
            }
        }
    }
}

// x = M⁻¹·b for M lower triangular, held by columns (cp, ci, cx) with its
// diagonal either among a column's entries and equal to 1 (diag null) or
// in diag and not among them. Only the columns of the nodes x reaches
// (reach) are used, in reverse of the search's order (Gilbert and Peierls).
void sparse_lower(int n, const int *cp, const int *ci, const double *cx, const double *diag, const SparseVec &b,
                  SparseWork &w, SparseVec &out)
{
    reach(n, cp, ci, b, w);
    for (std::size_t k = 0; k < b.i.size(); ++k) {
        w.x[b.i[k]] += b.x[k];
    }
    for (auto it = w.order.rbegin(); it != w.order.rend(); ++it) {
        const int j = *it;
        const double xj = diag == nullptr ? w.x[j] : w.x[j] / diag[j];
        w.x[j] = xj;
        for (int e = cp[j]; e < cp[j + 1]; ++e) {
            if (ci[e] != j) {
                w.x[ci[e]] -= cx[e] * xj;
            }
        }
    }
    out.i.assign(w.order.begin(), w.order.end());
    out.x.resize(out.i.size());
    for (std::size_t k = 0; k < out.i.size(); ++k) {
        out.x[k] = w.x[out.i[k]];
        w.x[out.i[k]] = 0.0;
    }
}

} // namespace

bool extract_factors(klu_numeric *numeric, klu_symbolic *symbolic, klu_common *common, LuFactors &f)
{
    f = LuFactors{};
    if (numeric == nullptr || symbolic == nullptr || numeric->nblocks != 1) {
        return false;
    }
    const int n = symbolic->n;
    const auto sz = static_cast<std::size_t>(n);
    LuFactors g;
    g.n = n;
    g.lp.resize(sz + 1);
    g.up.resize(sz + 1);
    g.li.resize(static_cast<std::size_t>(numeric->lnz));
    g.lx.resize(static_cast<std::size_t>(numeric->lnz));
    g.ui.resize(static_cast<std::size_t>(numeric->unz));
    g.ux.resize(static_cast<std::size_t>(numeric->unz));
    g.p.resize(sz);
    g.q.resize(sz);
    g.rs.resize(sz);
    if (klu_extract(numeric, symbolic, g.lp.data(), g.li.data(), g.lx.data(), g.up.data(), g.ui.data(), g.ux.data(),
                    nullptr, nullptr, nullptr, g.p.data(), g.q.data(), g.rs.data(), nullptr, common) == 0) {
        return false;
    }
    for (int j = 0; j < n; ++j) {
        if (g.lp[j] >= g.lp[j + 1] || g.li[g.lp[j]] != j || g.up[j] >= g.up[j + 1] || g.ui[g.up[j + 1] - 1] != j) {
            return false;
        }
    }
    g.pinv.resize(sz);
    g.qinv.resize(sz);
    g.rinv.resize(sz);
    for (int k = 0; k < n; ++k) {
        g.pinv[g.p[k]] = k;
        g.qinv[g.q[k]] = k;
        g.rinv[k] = 1.0 / g.rs[k];
    }
    transpose_upper(g);
    pair_blocks(g);
    f = std::move(g);
    return true;
}

void lower_solve(const LuFactors &f, const double *b, double *t)
{
    // By the scales' reciprocals: a product per row, not a division.
    for (int k = 0; k < f.n; ++k) {
        t[k] = b[f.p[k]] * f.rinv[k];
    }
    // By blocks: a pair's two columns update each row as the columns one
    // after the other would, in the same order.
    const int blocks = static_cast<int>(f.bj.size()) - 1;
    for (int s = 0; s < blocks; ++s) {
        const int j = f.bj[s];
        const double tj = t[j];
        const BlockEntry *e = f.lb.data() + f.lbp[s];
        const BlockEntry *end = f.lb.data() + f.lbp[s + 1];
        if (f.bj[s + 1] - j == 1) {
            for (; tj != 0.0 && e < end; ++e) {
                t[e->i] -= e->x[0] * tj;
            }
            continue;
        }
        if (tj != 0.0) {
            t[j + 1] -= f.l21[s] * tj;
        }
        const Pair tp = {tj, t[j + 1]};
        if (tp[0] == 0.0 && tp[1] == 0.0) {
            continue;
        }
        for (; e < end; ++e) {
            const Pair d = e->x * tp;
            double &ti = t[e->i];
            ti = ti - d[0] - d[1];
        }
    }
}

void upper_solve(const LuFactors &f, double *t, double *x)
{
    // By U's rows, each a sum into one value, and by the diagonal's
    // reciprocals: by U's columns, with a division each, this took twice
    // as long on the 10,000-bus case. A pair's two rows are summed side by
    // side; row j takes U(j, j+1)·t(j+1) last, once t(j+1) is known.
    for (int s = static_cast<int>(f.bj.size()) - 2; s >= 0; --s) {
        const int j = f.bj[s];
        const BlockEntry *e = f.ub.data() + f.ubp[s];
        const BlockEntry *end = f.ub.data() + f.ubp[s + 1];
        if (f.bj[s + 1] - j == 1) {
            double sum = t[j];
            for (; e < end; ++e) {
                sum -= e->x[0] * t[e->i];
            }
            t[j] = sum * f.uinv[j];
            x[f.q[j]] = t[j];
            continue;
        }
        Pair sum = {t[j], t[j + 1]};
        for (; e < end; ++e) {
            sum -= e->x * t[e->i];
        }
        t[j + 1] = sum[1] * f.uinv[j + 1];
        t[j] = (sum[0] - f.u12[s] * t[j + 1]) * f.uinv[j];
        x[f.q[j]] = t[j];
        x[f.q[j + 1]] = t[j + 1];
    }
}

void lower_column(const LuFactors &f, int row, double value, SparseWork &w, SparseVec &g)
{
    const int k = f.pinv[static_cast<std::size_t>(row)];
    const SparseVec b{{k}, {value / f.rs[static_cast<std::size_t>(k)]}};
    sparse_lower(f.n, f.lp.data(), f.li.data(), f.lx.data(), nullptr, b, w, g);
}

void upper_row(const LuFactors &f, const SparseVec &d, SparseWork &w, SparseVec &h)
{
    SparseVec b;
    b.i.reserve(d.i.size());
    for (const int c : d.i) {
        b.i.push_back(f.qinv[static_cast<std::size_t>(c)]);
    }
    b.x = d.x;
    sparse_lower(f.n, f.utp.data(), f.uti.data(), f.utx.data(), f.udiag.data(), b, w, h);
}
