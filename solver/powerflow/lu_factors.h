// A KLU factorization taken out of KLU, for solves that stop between the
// two triangular halves: the low-rank corrections of chord.h apply there,
// with sparse right-hand sides that reach few of the factors' columns.
#pragma once

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
struct LuFactors {
    int n = 0;
    std::vector<int> lp, li, up, ui, utp, uti;
    std::vector<double> lx, ux, utx, udiag, uinv, rs, rinv;
    std::vector<int> p, q, pinv, qinv;
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
