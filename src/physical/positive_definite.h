#pragma once

#include <Eigen/Core>
#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "physical/sparse_cholesky.h"

// Whether a symmetric matrix (inductances, or the unit-diagonal matrix of coupling
// coefficients) is positive definite, and how far its couplings must be scaled down to make it
// so: the Cholesky factorisation A = L L^T goes through exactly when it is.
namespace ostrel::physical {

// The order in which a sparse matrix is factored: as its rows are numbered (a band, such as
// neighbours along a die side, has no fill in that order, and its pivots are those of the band),
// or an approximate minimum degree ordering, which keeps the fill of any pattern small.
enum class PivotOrder { kAsGiven, kFillReducing };

// The Cholesky factorisation of one symmetric matrix with every off-diagonal entry scaled by a
// factor, tried for as many factors as asked: LAPACK's (dense_algebra.h) on a copy for a dense
// matrix; for a sparse one in a fill-reducing order Eigen's SimplicialLLT, or from
// kCholmodFromEntries entries CHOLMOD's (sparse_cholesky.h), and Eigen's SimplicialLLT in the
// order given; the ordering and symbolic factor found once.
// Only the lower triangle, diagonal included, is read.
class ScaledCholesky {
 public:
  // Loading CHOLMOD and the libraries it needs costs a few milliseconds, more than Eigen takes
  // over a sparse matrix of fewer entries (a package of about a thousand wires).
  static constexpr Eigen::Index kCholmodFromEntries = Eigen::Index{1} << 16;

  explicit ScaledCholesky(Eigen::MatrixXd lower);
  ScaledCholesky(Eigen::SparseMatrix<double> lower, PivotOrder order);

  // True when the factorisation of the matrix with its off-diagonal entries times `scale` goes
  // through with every pivot L_jj^2 at or above `min_pivot` (0: the matrix is positive
  // definite).
  bool Holds(double scale, double min_pivot = 0);
  // The same at scale 1, once: a dense matrix is factored where it lies, with no copy.
  bool HoldsOnce(double min_pivot = 0) &&;

 private:
  bool dense_;
  PivotOrder order_ = PivotOrder::kFillReducing;
  Eigen::MatrixXd dense_lower_;
  Eigen::SparseMatrix<double> sparse_lower_;
  Eigen::SimplicialLLT<Eigen::SparseMatrix<double>, Eigen::Lower> amd_llt_;
  std::optional<SparseCholesky> cholmod_;
  Eigen::SimplicialLLT<Eigen::SparseMatrix<double>, Eigen::Lower, Eigen::NaturalOrdering<int>>
      natural_llt_;
};

// The largest s in [0, 1] for which `holds(s)`, when the s that hold form an interval from 0
// (s = 0 leaves the diagonal alone): 1 when it holds there, else found by `steps` halvings.
double LargestHoldingScale(const std::function<bool(double)>& holds, int steps);

// Two rows i != j of a unit-diagonal matrix and their coefficient k (each pair once).
struct Coupling {
  std::size_t i = 0, j = 0;
  double k = 0;
};

// The largest scale s in [0, 1] for which the matrix with unit diagonal and s times the
// coefficients `pairs` keeps every Cholesky pivot at or above `min_pivot`, to 60 bits. Dense
// when the pairs fill an eighth of the matrix (throws StageError when that does not fit in
// memory), else sparse in `order`, so that memory grows with the pairs and their fill.
double PositiveDefiniteScale(std::size_t size, const std::vector<Coupling>& pairs, double min_pivot,
                             PivotOrder order);

}  // namespace ostrel::physical
