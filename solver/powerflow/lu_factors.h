// A KLU factorization taken out of KLU, for solves that stop between the
// two triangular halves: the low-rank corrections of chord.h apply there,
// with sparse right-hand sides that reach few of the factors' columns.
#pragma once

#include "powerflow/pair.h"

#include <klu.h>

#include <vector>

// P·(R⁻¹·A)·Q = L·U as klu_extract gives it for a single block (the
// workspace turns KLU's block triangular form off): L unit lower triangular
// with its diagonal first in each column, U upper triangular with its
// diagonal last; p[k] the row of A that is row k of P·A, q[k] the column of
// A that is column k of A·Q, rs[k] the scale of row p[k] (rinv[k] its
// reciprocal, a product per row for the dense solve). ut is U's
// transpose without its diagonal (udiag, and its reciprocals uinv), column
// j holding row j of U.
//
// The dense solves read the same factors by blocks of one or two: block s
// covers columns of L and rows of U bj[s] ≤ j < bj[s+1]. Two where they
// share their pattern beyond the pair, as a bus's angle and magnitude do
// (the ordering keeps them side by side), so that an index read serves two
// products. Block s's rows of L below it are lb[lbp[s] .. lbp[s+1]), each
// with its values in column j and j+1 (x[1] unused in a single), and
// l21[s] = L(j+1, j); its columns of U right of it likewise in ub and ubp,
// u12[s] = U(j, j+1).
struct BlockEntry {
    Pair x;
    int i;
};
struct LuFactors {
    int n = 0;
    std::vector<int> lp, li, up, ui, utp, uti;
    std::vector<double> lx, ux, utx, udiag, uinv, rs, rinv;
    std::vector<int> p, q, pinv, qinv;
    std::vector<int> bj, lbp, ubp;
    std::vector<BlockEntry> lb, ub;
    std::vector<double> l21, u12;
    bool empty() const { return n == 0; }
};

// Copies KLU's factors out. False when KLU holds more than one block or
// the copy fails; f is then empty.
bool extract_factors(klu_numeric *numeric, klu_symbolic *symbolic, klu_common *common, LuFactors &f);

// t = L⁻¹·P·R⁻¹·b (dense, n).
void lower_solve(const LuFactors &f, const double *b, double *t);

// x = Q·U⁻¹·t (dense, n); t is overwritten.
void upper_solve(const LuFactors &f, double *t, double *x);

// A sparse vector: its nonzero positions and their values.
struct SparseVec {
    std::vector<int> i;
    std::vector<double> x;
};

// a·x for a sparse a and a dense x.
inline double dot(const SparseVec &a, const double *x)
{
    double sum = 0;
    for (std::size_t e = 0; e < a.i.size(); ++e) {
        sum += a.x[e] * x[a.i[e]];
    }
    return sum;
}

// The scratch of the sparse solves: a dense vector kept zero between
// calls, marks and the depth-first search's stacks. One per factors' size.
struct SparseWork {
    std::vector<double> x;
    std::vector<int> mark, stack, next, order;
    int stamp = 0;
};

// g = L⁻¹·P·R⁻¹·(value·e_row): the part of A⁻¹·e_row before U, sparse.
// Costs the columns of L that e_row reaches (Gilbert-Peierls), not n.
void lower_column(const LuFactors &f, int row, double value, SparseWork &w, SparseVec &g);

// h with Uᵀ·h = Qᵀ·d, d a row of a matrix over A's columns: h·t is then
// d·Q·U⁻¹·t for any t. Sparse like lower_column.
void upper_row(const LuFactors &f, const SparseVec &d, SparseWork &w, SparseVec &h);
