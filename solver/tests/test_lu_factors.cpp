// The Jacobian's factors as taken out of KLU: the two triangular solves
// together solve J0, and the sparse solves the chord corrections use give
// what the dense ones give, everywhere.

#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/state.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "test_data.h"

#include <Eigen/Dense>
#include <Eigen/SparseCore>
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

// The dense solves go by blocks of two columns where a pair shares its
// pattern and one column elsewhere: a matrix of 2×2 blocks over a random
// graph, with a few entries more that break some pairs, factored by KLU.
TEST(LuFactors, SolveByPairsAndSingleColumnsAlike)
{
    const int buses = 40;
    const int n = 2 * buses;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::uniform_int_distribution<int> pick(0, buses - 1);
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(n, n);
    for (int k = 0; k < 3 * buses; ++k) {
        const int i = pick(rng);
        const int j = pick(rng);
        for (int r = 0; r < 2; ++r) {
            for (int c = 0; c < 2; ++c) {
                a(2 * i + r, 2 * j + c) = u(rng);
                a(2 * j + c, 2 * i + r) = u(rng);
            }
        }
    }
    for (int k = 0; k < 6; ++k) {
        a(2 * pick(rng) + 1, 2 * pick(rng)) = u(rng);
    }
    for (int i = 0; i < n; ++i) {
        a(i, i) = 20.0 + u(rng);
    }
    Eigen::SparseMatrix<double> sa = a.sparseView();
    klu_common c;
    klu_defaults(&c);
    c.btf = 0;
    klu_symbolic *sym = klu_analyze(n, sa.outerIndexPtr(), sa.innerIndexPtr(), &c);
    ASSERT_NE(sym, nullptr);
    klu_numeric *num = klu_factor(sa.outerIndexPtr(), sa.innerIndexPtr(), sa.valuePtr(), sym, &c);
    ASSERT_NE(num, nullptr);
    LuFactors f;
    const bool extracted = extract_factors(num, sym, &c, f);
    klu_free_numeric(&num, &c);
    klu_free_symbolic(&sym, &c);
    ASSERT_TRUE(extracted);

    int pairs = 0;
    int singles = 0;
    for (std::size_t s = 0; s + 1 < f.bj.size(); ++s) {
        (f.bj[s + 1] - f.bj[s] == 2 ? pairs : singles) += 1;
    }
    EXPECT_GT(pairs, buses / 2);
    EXPECT_GT(singles, 0);
    EXPECT_EQ(2 * pairs + singles, n);

    Eigen::VectorXd b(n), t(n), x(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        b[i] = u(rng);
    }
    b[3] = 0.0; // a zero reaches the solves' skips
    lower_solve(f, b.data(), t.data());
    upper_solve(f, t.data(), x.data());
    const Eigen::VectorXd want = a.partialPivLu().solve(b);
    EXPECT_LT((x - want).cwiseAbs().maxCoeff(), 1e-12 * want.cwiseAbs().maxCoeff());
}

} // namespace
