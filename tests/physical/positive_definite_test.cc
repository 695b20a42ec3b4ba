// The scale of the couplings that keeps a unit-diagonal matrix positive definite, against
// eigenvalues known in closed form, in either pivot order and dense or sparse alike.

#include "physical/positive_definite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>
#include <utility>
#include <vector>

namespace ostrel::physical {
namespace {

TEST(PositiveDefiniteScale, LargestScaleThatKeepsTheMatrixPositive) {
  // A chain of n with coupling k is positive definite while k < 1 / (2 cos(pi / (n + 1))); all
  // three of three coupled (a band of two) have eigenvalues 1 - k twice and 1 + 2k. A chain of
  // 12 is sparse (11 pairs, fewer than an eighth of 144).
  const double chain12 = 1 / (2 * std::cos(std::numbers::pi / 13)) / 0.9;
  std::vector<Coupling> twelve;
  for (std::size_t i = 0; i + 1 < 12; ++i) twelve.push_back({i, i + 1, 0.9});
  const std::tuple<std::size_t, std::vector<Coupling>, double> rows[] = {
      {2, {{0, 1, 0.5}}, 1.0},
      {2, {{0, 1, 1.25}}, 0.8},
      {3, {{0, 1, -0.8}, {1, 2, -0.8}}, 1 / std::sqrt(2.0) / 0.8},
      {4, {{0, 1, 0.7}, {1, 2, 0.7}, {2, 3, 0.7}}, 1 / (2 * std::cos(std::numbers::pi / 5)) / 0.7},
      {3, {}, 1.0},
      {3, {{0, 1, 0.8}, {1, 2, 0.8}, {0, 2, 0.8}}, 1.0},
      {3, {{1, 0, -0.6}, {2, 1, -0.6}, {2, 0, -0.6}}, 1 / 1.2},
      {12, twelve, chain12}};
  for (const auto& [size, pairs, scale] : rows) {
    SCOPED_TRACE(testing::PrintToString(scale));
    for (const PivotOrder order : {PivotOrder::kAsGiven, PivotOrder::kFillReducing}) {
      EXPECT_NEAR(PositiveDefiniteScale(size, pairs, 1e-12, order), scale, 1e-6);
    }
  }
}

// The smallest pivot asked for holds at the scale found and fails just above it: the pivots of a
// chain of two are 1 and 1 - (s k)^2.
TEST(PositiveDefiniteScale, KeepsTheSmallestPivotAskedFor) {
  for (const double min_pivot : {1e-3, 0.1, 0.5}) {
    for (const PivotOrder order : {PivotOrder::kAsGiven, PivotOrder::kFillReducing}) {
      const double scale = PositiveDefiniteScale(2, {{0, 1, 1.2}}, min_pivot, order);
      EXPECT_NEAR(scale, std::sqrt(1 - min_pivot) / 1.2, 1e-12) << min_pivot;
    }
  }
}

// Blocks of wires all coupled with k = -0.6, sparse in a fill-reducing order and large enough
// for CHOLMOD: two large blocks (250 and 400 wires), which it factors by supernodes, and 2,000
// blocks of 10 with one of 12, which it factors column by column. A block's pivots do not depend
// on the order (all its wires alike); the largest block sets the limit and, at half of it, the
// smallest pivot, its last: (1 - c)(1 + (n-1) c) / (1 + (n-2) c).
TEST(ScaledCholesky, SparseBlocksKeepTheirLimitAndSmallestPivot) {
  struct Case {
    std::vector<int> blocks;
    bool supernodal;
  };
  std::vector<int> small(2000, 10);
  small.push_back(12);
  for (const Case& layout : {Case{{250, 400}, true}, Case{small, false}}) {
    std::vector<Eigen::Triplet<double>> triplets;
    int first = 0;
    for (const int n : layout.blocks) {
      for (int i = first; i < first + n; ++i) {
        triplets.emplace_back(i, i, 1.0);
        for (int j = first; j < i; ++j) triplets.emplace_back(i, j, -0.6);
      }
      first += n;
    }
    const double n = *std::max_element(layout.blocks.begin(), layout.blocks.end());
    SCOPED_TRACE(n);
    Eigen::SparseMatrix<double> a(first, first);
    a.setFromTriplets(triplets.begin(), triplets.end());
    ASSERT_GE(a.nonZeros(), ScaledCholesky::kCholmodFromEntries);
    EXPECT_EQ(SparseCholesky(a).Supernodal(), layout.supernodal);
    ScaledCholesky cholesky(a, PivotOrder::kFillReducing);
    const double limit = 1 / (0.6 * (n - 1));
    EXPECT_TRUE(cholesky.Holds(0.999 * limit));
    EXPECT_FALSE(cholesky.Holds(1.001 * limit));
    const double c = -0.6 * 0.5 * limit, last = (1 - c) * (1 + (n - 1) * c) / (1 + (n - 2) * c);
    EXPECT_TRUE(cholesky.Holds(0.5 * limit, 0.999 * last));
    EXPECT_FALSE(cholesky.Holds(0.5 * limit, 1.001 * last));
  }
}

// A general symmetric matrix, dense or sparse, at a scale of its couplings.
TEST(ScaledCholesky, DenseAndSparseAgreeOnEveryScale) {
  // L = [[2, 1.5, 0], [1.5, 2, 1.5], [0, 1.5, 2]]: eigenvalues 2 and 2 +- 1.5 sqrt(2) s, so
  // positive definite while s < 2 / (1.5 sqrt(2)) = 0.9428.
  Eigen::MatrixXd dense(3, 3);
  dense << 2, 0, 0, 1.5, 2, 0, 0, 1.5, 2;
  Eigen::SparseMatrix<double> sparse = dense.sparseView();
  ScaledCholesky d(dense), s(sparse, PivotOrder::kFillReducing);
  for (const double scale : {0.0, 0.5, 0.94, 0.945, 1.0}) {
    const bool want = scale < 2 / (1.5 * std::sqrt(2.0));
    EXPECT_EQ(d.Holds(scale), want) << scale;
    EXPECT_EQ(s.Holds(scale), want) << scale;
  }
  EXPECT_EQ(LargestHoldingScale([](double x) { return x <= 0.25; }, 40), 0.25);
}

TEST(ScaledCholesky, LargeDenseMatricesFactoredByBlocksKeepTheLimit) {
  // n wires all coupled with k = -0.6: eigenvalues 1 + 0.6 s and 1 - 0.6 (n - 1) s, positive
  // definite while s < 1 / (0.6 (n - 1)); sizes around the blocks' edges.
  for (const Eigen::Index n : {1023, 1024, 1300}) {
    SCOPED_TRACE(n);
    Eigen::MatrixXd a = Eigen::MatrixXd::Constant(n, n, -0.6);
    a.diagonal().setOnes();
    ScaledCholesky cholesky(a);
    const double limit = 1 / (0.6 * double(n - 1));
    EXPECT_TRUE(cholesky.Holds(0.999 * limit));
    EXPECT_FALSE(cholesky.Holds(1.001 * limit));
    // At half the limit the last pivot is the smallest: (1 - c)(1 + (n-1) c) / (1 + (n-2) c).
    const double c = -0.6 * 0.5 * limit,
                 last = (1 - c) * (1 + double(n - 1) * c) / (1 + double(n - 2) * c);
    EXPECT_TRUE(cholesky.Holds(0.5 * limit, 0.999 * last));
    EXPECT_FALSE(cholesky.Holds(0.5 * limit, 1.001 * last));
    // Once, in place: the same verdicts.
    for (const double scale : {0.999, 1.001}) {
      Eigen::MatrixXd scaled = Eigen::MatrixXd::Constant(n, n, -0.6 * scale * limit);
      scaled.diagonal().setOnes();
      EXPECT_EQ(ScaledCholesky(scaled).HoldsOnce(), scale < 1);
    }
  }
}

}  // namespace
}  // namespace ostrel::physical
