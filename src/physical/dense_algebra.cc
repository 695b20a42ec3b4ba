#include "physical/dense_algebra.h"

#include <cblas.h>

#include <mutex>

namespace ostrel::physical {
namespace {

extern "C" void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info);

// OpenBLAS built with threads of its own (another variant of the library may be installed in
// its place) would split every call among them: one thread per call here, always.
void OneThreadPerCall() {
  static std::once_flag once;
  std::call_once(once, [] { openblas_set_num_threads(1); });
}

int Size(Eigen::Index n) { return static_cast<int>(n); }

}  // namespace

bool FactorLowerInPlace(Eigen::Ref<Eigen::MatrixXd> a) {
  OneThreadPerCall();
  const int n = Size(a.rows()), lda = Size(a.outerStride());
  if (n == 0) return true;
  int info = 0;
  const char lower = 'L';
  dpotrf_(&lower, &n, a.data(), &lda, &info);
  return info == 0;
}

void SolveRightLowerTransposed(const Eigen::Ref<const Eigen::MatrixXd>& l,
                               Eigen::Ref<Eigen::MatrixXd> b) {
  OneThreadPerCall();
  if (b.size() == 0) return;
  cblas_dtrsm(CblasColMajor, CblasRight, CblasLower, CblasTrans, CblasNonUnit, Size(b.rows()),
              Size(b.cols()), 1.0, l.data(), Size(l.outerStride()), b.data(),
              Size(b.outerStride()));
}

void SubtractProduct(const Eigen::Ref<const Eigen::MatrixXd>& a,
                     const Eigen::Ref<const Eigen::MatrixXd>& b, Eigen::Ref<Eigen::MatrixXd> c) {
  OneThreadPerCall();
  if (c.size() == 0 || a.cols() == 0) return;
  cblas_dgemm(CblasColMajor, CblasNoTrans, CblasTrans, Size(c.rows()), Size(c.cols()),
              Size(a.cols()), -1.0, a.data(), Size(a.outerStride()), b.data(),
              Size(b.outerStride()), 1.0, c.data(), Size(c.outerStride()));
}

void SolveWithLowerFactor(const Eigen::Ref<const Eigen::MatrixXd>& l,
                          Eigen::Ref<Eigen::MatrixXd> x) {
  OneThreadPerCall();
  if (x.size() == 0) return;
  const int n = Size(x.rows()), m = Size(x.cols());
  cblas_dtrsm(CblasColMajor, CblasLeft, CblasLower, CblasNoTrans, CblasNonUnit, n, m, 1.0, l.data(),
              Size(l.outerStride()), x.data(), Size(x.outerStride()));
  cblas_dtrsm(CblasColMajor, CblasLeft, CblasLower, CblasTrans, CblasNonUnit, n, m, 1.0, l.data(),
              Size(l.outerStride()), x.data(), Size(x.outerStride()));
}

}  // namespace ostrel::physical
