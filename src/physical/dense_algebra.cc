#include "physical/dense_algebra.h"

#include <cblas.h>
#include <dlfcn.h>

#include <string>

#include "base/stage_error.h"

namespace ostrel::physical {
namespace {

extern "C" void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info);

// The library's routines, found when the model first needs them: a run that writes the report
// alone neither loads nor starts the library (3.5 ms of processor time at every start).
struct Library {
  decltype(&dpotrf_) potrf = nullptr;
  decltype(&cblas_dtrsm) trsm = nullptr;
  decltype(&cblas_dgemm) gemm = nullptr;
};

template <typename F>
void Find(void* handle, const char* name, F& f) {
  f = reinterpret_cast<F>(::dlsym(handle, name));
  if (f == nullptr) {
    throw StageError(std::string("the linear algebra library OpenBLAS has no ") + name);
  }
}

Library Load() {
  void* handle = ::dlopen("libopenblas.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    throw StageError(std::string("the physical model needs the linear algebra library OpenBLAS "
                                 "(libopenblas.so.0, Debian's libopenblas0): ") +
                     (why != nullptr ? why : "it cannot be loaded"));
  }
  Library library;
  Find(handle, "dpotrf_", library.potrf);
  Find(handle, "cblas_dtrsm", library.trsm);
  Find(handle, "cblas_dgemm", library.gemm);
  // OpenBLAS built with threads of its own (another variant of the library may be installed in
  // place of the serial one) would split every call among them: one thread per call, always.
  void (*set_threads)(int) = nullptr;
  Find(handle, "openblas_set_num_threads", set_threads);
  set_threads(1);
  return library;
}

// Loaded once, by the first thread that asks (a function's static is initialised once).
const Library& Blas() {
  static const Library library = Load();
  return library;
}

int Size(Eigen::Index n) { return static_cast<int>(n); }

}  // namespace

bool FactorLowerInPlace(Eigen::Ref<Eigen::MatrixXd> a) {
  const int n = Size(a.rows()), lda = Size(a.outerStride());
  if (n == 0) return true;
  int info = 0;
  const char lower = 'L';
  Blas().potrf(&lower, &n, a.data(), &lda, &info);
  return info == 0;
}

void SolveRightLowerTransposed(const Eigen::Ref<const Eigen::MatrixXd>& l,
                               Eigen::Ref<Eigen::MatrixXd> b) {
  if (b.size() == 0) return;
  Blas().trsm(CblasColMajor, CblasRight, CblasLower, CblasTrans, CblasNonUnit, Size(b.rows()),
              Size(b.cols()), 1.0, l.data(), Size(l.outerStride()), b.data(),
              Size(b.outerStride()));
}

void SubtractProduct(const Eigen::Ref<const Eigen::MatrixXd>& a,
                     const Eigen::Ref<const Eigen::MatrixXd>& b, Eigen::Ref<Eigen::MatrixXd> c) {
  if (c.size() == 0 || a.cols() == 0) return;
  Blas().gemm(CblasColMajor, CblasNoTrans, CblasTrans, Size(c.rows()), Size(c.cols()),
              Size(a.cols()), -1.0, a.data(), Size(a.outerStride()), b.data(),
              Size(b.outerStride()), 1.0, c.data(), Size(c.outerStride()));
}

void SolveWithLowerFactor(const Eigen::Ref<const Eigen::MatrixXd>& l,
                          Eigen::Ref<Eigen::MatrixXd> x) {
  if (x.size() == 0) return;
  const int n = Size(x.rows()), m = Size(x.cols());
  Blas().trsm(CblasColMajor, CblasLeft, CblasLower, CblasNoTrans, CblasNonUnit, n, m, 1.0, l.data(),
              Size(l.outerStride()), x.data(), Size(x.outerStride()));
  Blas().trsm(CblasColMajor, CblasLeft, CblasLower, CblasTrans, CblasNonUnit, n, m, 1.0, l.data(),
              Size(l.outerStride()), x.data(), Size(x.outerStride()));
}

}  // namespace ostrel::physical
