#include "physical/positive_definite.h"

#include <algorithm>
#include <string>
#include <utility>

#include "physical/dense_algebra.h"
#include "physical/memory_budget.h"

namespace ostrel::physical {
namespace {

// The smallest diagonal entry of a sparse Cholesky factor, read from its storage; 1 for an
// empty matrix.
template <typename Solver>
double SmallestRoot(const Solver& llt) {
  const auto& factor = llt.matrixL().nestedExpression();
  return factor.rows() > 0 ? factor.diagonal().minCoeff() : 1.0;
}

// `lower` with its strictly lower entries times `scale`.
Eigen::SparseMatrix<double> ScaledCopy(const Eigen::SparseMatrix<double>& lower, double scale) {
  Eigen::SparseMatrix<double> a = lower;
  for (Eigen::Index column = 0; column < a.outerSize(); ++column) {
    for (Eigen::SparseMatrix<double>::InnerIterator it(a, column); it; ++it) {
      if (it.row() != it.col()) it.valueRef() = scale * it.value();
    }
  }
  return a;
}

// The Cholesky factor of the lower triangle of `a` in place; false when a pivot is not positive.
// Large matrices go by blocks of columns: each block's diagonal part factored, the rows below
// solved against it, and the columns to its right updated, the last two shared among the
// threads in pieces of fixed size (each piece's arithmetic is one thread's, so the outcome does
// not depend on the thread count). Small ones are factored at once.
bool LowerCholeskyInPlace(Eigen::MatrixXd& a) {
  const Eigen::Index n = a.rows();
  constexpr Eigen::Index kBlock = 256;
  if (n < 4 * kBlock) return FactorLowerInPlace(a);
  for (Eigen::Index k = 0; k < n; k += kBlock) {
    const Eigen::Index kb = std::min(kBlock, n - k), below = n - k - kb;
    if (!FactorLowerInPlace(a.block(k, k, kb, kb))) return false;
    if (below == 0) break;
    const Eigen::Index pieces = (below + kBlock - 1) / kBlock;
#pragma omp parallel for schedule(dynamic, 1)
    for (Eigen::Index p = 0; p < pieces; ++p) {
      const Eigen::Index r = k + kb + p * kBlock, rb = std::min(kBlock, n - r);
      SolveRightLowerTransposed(a.block(k, k, kb, kb), a.block(r, k, rb, kb));
    }
#pragma omp parallel for schedule(dynamic, 1)
    for (Eigen::Index p = 0; p < pieces; ++p) {
      const Eigen::Index j = k + kb + p * kBlock, jb = std::min(kBlock, n - j);
      SubtractProduct(a.block(j, k, n - j, kb), a.block(j, k, jb, kb), a.block(j, j, n - j, jb));
    }
  }
  return true;
}

template <typename Solver>
bool SparseHolds(Solver& llt, const Eigen::SparseMatrix<double>& lower, double scale,
                 double min_pivot) {
  if (scale == 1.0) {
    llt.factorize(lower);
  } else {
    llt.factorize(ScaledCopy(lower, scale));
  }
  if (llt.info() != Eigen::Success) return false;
  const double root = SmallestRoot(llt);
  return root * root >= min_pivot;
}

}  // namespace

ScaledCholesky::ScaledCholesky(Eigen::MatrixXd lower)
    : dense_(true), dense_lower_(std::move(lower)) {}

ScaledCholesky::ScaledCholesky(Eigen::SparseMatrix<double> lower, PivotOrder order)
    : dense_(false), order_(order), sparse_lower_(std::move(lower)) {
  sparse_lower_.makeCompressed();
  if (order_ == PivotOrder::kAsGiven) {
    natural_llt_.analyzePattern(sparse_lower_);
  } else if (sparse_lower_.nonZeros() >= kCholmodFromEntries) {
    cholmod_.emplace(sparse_lower_);
  } else {
    amd_llt_.analyzePattern(sparse_lower_);
  }
}

bool ScaledCholesky::Holds(double scale, double min_pivot) {
  if (!dense_) {
    if (order_ == PivotOrder::kAsGiven) {
      return SparseHolds(natural_llt_, sparse_lower_, scale, min_pivot);
    }
    if (!cholmod_) return SparseHolds(amd_llt_, sparse_lower_, scale, min_pivot);
    return scale == 1.0 ? cholmod_->Factor(sparse_lower_, min_pivot)
                        : cholmod_->Factor(ScaledCopy(sparse_lower_, scale), min_pivot);
  }
  Eigen::MatrixXd work = dense_lower_;
  if (scale != 1.0) work.triangularView<Eigen::StrictlyLower>() *= scale;
  // Factored in place: L overwrites the lower triangle of `work`.
  if (!LowerCholeskyInPlace(work)) return false;
  const double root = work.rows() > 0 ? work.diagonal().minCoeff() : 1.0;
  return root * root >= min_pivot;
}

bool ScaledCholesky::HoldsOnce(double min_pivot) && {
  if (!dense_) return Holds(1.0, min_pivot);
  if (!LowerCholeskyInPlace(dense_lower_)) return false;
  const double root = dense_lower_.rows() > 0 ? dense_lower_.diagonal().minCoeff() : 1.0;
  return root * root >= min_pivot;
}

double LargestHoldingScale(const std::function<bool(double)>& holds, int steps) {
  if (holds(1.0)) return 1.0;
  double good = 0.0, bad = 1.0;
  for (int step = 0; step < steps; ++step) {
    const double mid = (good + bad) / 2;
    (holds(mid) ? good : bad) = mid;
  }
  return good;
}

double PositiveDefiniteScale(std::size_t size, const std::vector<Coupling>& pairs, double min_pivot,
                             PivotOrder order) {
  const auto n = static_cast<Eigen::Index>(size);
  auto row = [](const Coupling& c) { return static_cast<Eigen::Index>(std::max(c.i, c.j)); };
  auto column = [](const Coupling& c) { return static_cast<Eigen::Index>(std::min(c.i, c.j)); };
  std::optional<ScaledCholesky> cholesky;
  if (pairs.size() >= size * size / 8) {
    // The matrix and its copy factored in place.
    CheckDenseFits(2 * DenseBytes(size, size, sizeof(double)),
                   "the dense coupling matrix of " + std::to_string(size) + " SPICE inductors");
    Eigen::MatrixXd a = Eigen::MatrixXd::Identity(n, n);
    for (const Coupling& c : pairs) a(row(c), column(c)) = c.k;
    cholesky.emplace(std::move(a));
  } else {
    std::vector<Eigen::Triplet<double>> triplets;
    triplets.reserve(size + pairs.size());
    for (Eigen::Index i = 0; i < n; ++i) triplets.emplace_back(i, i, 1.0);
    for (const Coupling& c : pairs) triplets.emplace_back(row(c), column(c), c.k);
    Eigen::SparseMatrix<double> a(n, n);
    a.setFromTriplets(triplets.begin(), triplets.end());
    cholesky.emplace(std::move(a), order);
  }
  constexpr int kBits = 60;
  return LargestHoldingScale([&](double s) { return cholesky->Holds(s, min_pivot); }, kBits);
}

}  // namespace ostrel::physical
