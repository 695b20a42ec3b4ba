#pragma once

#include <Eigen/SparseCore>
#include <memory>

// The Cholesky factorisation of a large sparse symmetric matrix (a package's cut loop inductance
// matrix: 100,000 rows, millions of entries) by CHOLMOD: a fill-reducing ordering found once for
// the pattern, then factorisations column by column where the factor has few operations per
// entry (a package's loop matrix), supernodal ones whose dense blocks go through BLAS where it
// has many. On the loop matrix of 100,100 wires it orders and factors in 1.4 s where Eigen's
// simplicial factorisation takes 4.3 s, most of it in its ordering. The library is loaded when a
// model first needs it, so that runs without the model do not load it (nor the BLAS it brings).
namespace ostrel::physical {

class SparseCholesky {
 public:
  // Orders the pattern of `lower` (the lower triangle, diagonal included, compressed); later
  // factorisations take matrices of this pattern. Throws StageError when the library cannot be
  // loaded or memory runs out.
  explicit SparseCholesky(const Eigen::SparseMatrix<double>& lower);
  ~SparseCholesky();
  SparseCholesky(SparseCholesky&&) noexcept;
  SparseCholesky& operator=(SparseCholesky&&) noexcept;

  // Factors `lower` (the pattern given at construction) as L L^T: true when every pivot L_jj^2
  // is positive and at or above `min_pivot`, false when the matrix is not positive definite.
  // Throws StageError when memory runs out.
  bool Factor(const Eigen::SparseMatrix<double>& lower, double min_pivot);
  // Whether the factor is supernodal (else simplicial): CHOLMOD chooses from the pattern.
  bool Supernodal() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ostrel::physical
