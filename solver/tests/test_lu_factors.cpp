// The Jacobian's factors as taken out of KLU: the two triangular solves
// together solve J0, and the sparse solves the chord corrections use give
// what the dense ones give, everywhere.

#include "network/network.h"
#include "powerflow/solve.h"
#include "raw/raw.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

// The largest |a − b| over a dense vector a and a sparse b (zero off its
// positions).
double sparse_diff(const std::vector<double> &a, const SparseVec &b)
{
    std::vector<double> full(a.size(), 0.0);
    for (std::size_t k = 0; k < b.i.size(); ++k) {
        full[static_cast<std::size_t>(b.i[k])] += b.x[k];
    }
    double d = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        d = std::max(d, std::abs(a[k] - full[k]));
    }
    return d;
}

TEST(LuFactors, SolveTheJacobianAndAgreeWithTheirSparseSolves)
{
    REQUIRE_CASES();
    const Network net = build_network(read_raw(cases_dir() + "/activsg2000/case.raw"));
    BaseCase bc = solve_base_case(net, PfOptions{});
    ASSERT_TRUE(bc.sol.converged);
    const LuFactors &f = bc.chord.lu;
    ASSERT_FALSE(f.empty());
    const auto &j0 = bc.ws.pat.j; // left holding J0 by the factorization
    const auto n = static_cast<std::size_t>(f.n);
    ASSERT_EQ(j0.rows(), f.n);

    // Q·U⁻¹·L⁻¹·P·R⁻¹·b solves J0·x = b.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Eigen::VectorXd b(f.n), t(f.n), x(f.n);
    for (Eigen::Index i = 0; i < b.size(); ++i) {
        b[i] = u(rng);
    }
    lower_solve(f, b.data(), t.data());
    upper_solve(f, t.data(), x.data());
    EXPECT_LT((j0 * x - b).cwiseAbs().maxCoeff(), 1e-9 * b.cwiseAbs().maxCoeff() * x.cwiseAbs().maxCoeff());

    SparseWork w;
    std::uniform_int_distribution<int> pick(0, f.n - 1);
    for (int trial = 0; trial < 20; ++trial) {
        // A column of G against the dense forward solve of a unit vector.
        const int row = pick(rng);
        SparseVec g;
        lower_column(f, row, 2.5, w, g);
        std::vector<double> e(n, 0.0), dense(n, 0.0);
        e[static_cast<std::size_t>(row)] = 2.5;
        lower_solve(f, e.data(), dense.data());
        EXPECT_LT(sparse_diff(dense, g), 1e-12) << "row " << row;
        EXPECT_LT(g.i.size(), n / 4) << "a column of G should reach few of the factors' columns";

        // A row of H: h·t = d·Q·U⁻¹·t for any t, d here a row of J0.
        SparseVec d;
        const int r = pick(rng);
        for (int c = 0; c < f.n; ++c) {
            if (const double v = j0.coeff(r, c); v != 0.0) {
                d.i.push_back(c);
                d.x.push_back(v);
            }
        }
        SparseVec h;
        upper_row(f, d, w, h);
        Eigen::VectorXd tt(f.n), tc(f.n), xx(f.n);
        for (Eigen::Index i = 0; i < tt.size(); ++i) {
            tt[i] = u(rng);
        }
        tc = tt;
        upper_solve(f, tc.data(), xx.data());
        double want = 0, got = 0;
        for (std::size_t k = 0; k < d.i.size(); ++k) {
            want += d.x[k] * xx[d.i[k]];
        }
        for (std::size_t k = 0; k < h.i.size(); ++k) {
            got += h.x[k] * tt[h.i[k]];
        }
        EXPECT_NEAR(got, want, 1e-9 * std::max(1.0, std::abs(want))) << "row " << r;
    }
    // The scratch is left zero between solves.
    EXPECT_TRUE(std::all_of(w.x.begin(), w.x.end(), [](double v) { return v == 0.0; }));
}

} // namespace
