#include "physical/dense_algebra.h"

#include <cblas.h>

#include <cstdlib>
#include <string>

#include "base/stage_error.h"
#include "physical/loaded_library.h"

namespace ostrel::physical {
namespace {

extern "C" void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info);

// The library's routines, found when the model first needs them: a run that writes the report
// alone neither loads nor starts the library (3.5 ms of processor time at every start).
struct Library {
  decltype(&dpotrf_) potrf = nullptr;
  decltype(&cblas_dtrsm) trsm = nullptr;
  decltype(&cblas_dgemm) gemm = nullptr;
  char* (*kernels)() = nullptr;
  bool calls_one_at_a_time = false;  // the variant without threads: its buffers take no lock
};

Library Load() {
  const LoadedLibrary blas("libopenblas.so.0", "OpenBLAS", "linear algebra library",
                           "libopenblas0");
  Library library;
  blas.Find("dpotrf_", library.potrf);
  blas.Find("cblas_dtrsm", library.trsm);
  blas.Find("cblas_dgemm", library.gemm);
  blas.Find("openblas_get_corename", library.kernels);
  // OpenBLAS built with threads of its own (another variant of the library may be installed in
  // place of the serial one) would split every call among them: one thread per call, always.
  void (*set_threads)(int) = nullptr;
  blas.Find("openblas_set_num_threads", set_threads);
  set_threads(1);
  // 0: built without threads (and so, as Debian builds it, without locks); 1 or 2: with POSIX
  // or OpenMP threads, whose builds lock the buffers.
  int (*threading)() = nullptr;
  blas.Find("openblas_get_parallel", threading);
  library.calls_one_at_a_time = threading() == 0;
  return library;
}

// Loaded once, by the first thread that asks (a function's static is initialised once).
const Library& Blas() {
  static const Library library = Load();
  return library;
}

// The lock of the library's calls where they must run one at a time: the library's own state,
// which it leaves unguarded, is what it guards.
std::mutex& CallLock() {
  static std::mutex lock;
  return lock;
}

int Size(Eigen::Index n) { return static_cast<int>(n); }

}  // namespace

void ChooseProcessorKernels() {
  constexpr const char* kName = "OPENBLAS_CORETYPE";
  if (std::getenv(kName) != nullptr) return;
  __builtin_cpu_init();
  const char* kernels = nullptr;
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")) {
    kernels = "SkylakeX";
  } else if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
    kernels = __builtin_cpu_is("amd") ? "Zen" : "Haswell";
  }
  if (kernels != nullptr) ::setenv(kName, kernels, 0);
}

std::string LinearAlgebraKernels() {
  const char* name = Blas().kernels();
  return name != nullptr ? name : "";
}

LinearAlgebraCall::LinearAlgebraCall() {
  if (Blas().calls_one_at_a_time) lock_ = std::unique_lock(CallLock());
}

bool FactorLowerInPlace(Eigen::Ref<Eigen::MatrixXd> a) {
  const int n = Size(a.rows()), lda = Size(a.outerStride());
  if (n == 0) return true;
  int info = 0;
  const char lower = 'L';
  const LinearAlgebraCall call;
  Blas().potrf(&lower, &n, a.data(), &lda, &info);
  return info == 0;
}

void SolveRightLowerTransposed(const Eigen::Ref<const Eigen::MatrixXd>& l,
                               Eigen::Ref<Eigen::MatrixXd> b) {
  if (b.size() == 0) return;
  const LinearAlgebraCall call;
  Blas().trsm(CblasColMajor, CblasRight, CblasLower, CblasTrans, CblasNonUnit, Size(b.rows()),
              Size(b.cols()), 1.0, l.data(), Size(l.outerStride()), b.data(),
              Size(b.outerStride()));
}

void SubtractProduct(const Eigen::Ref<const Eigen::MatrixXd>& a,
                     const Eigen::Ref<const Eigen::MatrixXd>& b, Eigen::Ref<Eigen::MatrixXd> c) {
  if (c.size() == 0 || a.cols() == 0) return;
  const LinearAlgebraCall call;
  Blas().gemm(CblasColMajor, CblasNoTrans, CblasTrans, Size(c.rows()), Size(c.cols()),
              Size(a.cols()), -1.0, a.data(), Size(a.outerStride()), b.data(),
              Size(b.outerStride()), 1.0, c.data(), Size(c.outerStride()));
}

void SolveWithLowerFactor(const Eigen::Ref<const Eigen::MatrixXd>& l,
                          Eigen::Ref<Eigen::MatrixXd> x) {
  if (x.size() == 0) return;
  const int n = Size(x.rows()), m = Size(x.cols());
  const LinearAlgebraCall call;
  Blas().trsm(CblasColMajor, CblasLeft, CblasLower, CblasNoTrans, CblasNonUnit, n, m, 1.0, l.data(),
              Size(l.outerStride()), x.data(), Size(x.outerStride()));
  Blas().trsm(CblasColMajor, CblasLeft, CblasLower, CblasTrans, CblasNonUnit, n, m, 1.0, l.data(),
              Size(l.outerStride()), x.data(), Size(x.outerStride()));
}

namespace {

// y += A x, or conj(A) x, on the interleaved real and imaginary parts of `rows` x `cols` A.
// Column j of `a` starts at a + 2 * j * stride (`stride` complex elements apart). Inlined into
// each of the two products below, and so compiled for each of their processors.
template <bool kConjugate>
[[gnu::always_inline]] inline void InterleavedProduct(const double* __restrict a, std::size_t rows,
                                                      std::size_t cols, std::size_t stride,
                                                      const double* __restrict x,
                                                      double* __restrict y) {
  // The imaginary parts of A with their sign: conj(A) x differs from A x in it alone (exact).
  constexpr double kSign = kConjugate ? -1.0 : 1.0;
  std::size_t j = 0;
  for (; j + 1 < cols; j += 2) {
    const double xr0 = x[2 * j], xi0 = x[2 * j + 1], xr1 = x[2 * j + 2], xi1 = x[2 * j + 3];
    const double* a0 = a + 2 * j * stride;
    const double* a1 = a0 + 2 * stride;
    for (std::size_t i = 0; i < rows; ++i) {
      const double r0 = a0[2 * i], i0 = kSign * a0[2 * i + 1], r1 = a1[2 * i],
                   i1 = kSign * a1[2 * i + 1];
      y[2 * i] = (y[2 * i] + (r0 * xr0 - i0 * xi0)) + (r1 * xr1 - i1 * xi1);
      y[2 * i + 1] = (y[2 * i + 1] + (r0 * xi0 + i0 * xr0)) + (r1 * xi1 + i1 * xr1);
    }
  }
  for (; j < cols; ++j) {
    const double xr = x[2 * j], xi = x[2 * j + 1];
    const double* a0 = a + 2 * j * stride;
    for (std::size_t i = 0; i < rows; ++i) {
      const double r0 = a0[2 * i], i0 = kSign * a0[2 * i + 1];
      y[2 * i] += r0 * xr - i0 * xi;
      y[2 * i + 1] += r0 * xi + i0 * xr;
    }
  }
}

[[gnu::target_clones("avx2", "default")]] void AddInterleavedProduct(
    const double* __restrict a, std::size_t rows, std::size_t cols, std::size_t stride,
    const double* __restrict x, double* __restrict y) {
  InterleavedProduct<false>(a, rows, cols, stride, x, y);
}

[[gnu::target_clones("avx2", "default")]] void AddConjugateInterleavedProduct(
    const double* __restrict a, std::size_t rows, std::size_t cols, std::size_t stride,
    const double* __restrict x, double* __restrict y) {
  InterleavedProduct<true>(a, rows, cols, stride, x, y);
}

}  // namespace

void AddComplexProduct(const Eigen::Ref<const Eigen::MatrixXcd>& a,
                       const Eigen::Ref<const Eigen::VectorXcd>& x, Eigen::Ref<Eigen::VectorXcd> y,
                       bool conjugate) {
  if (a.rows() != y.size() || a.cols() != x.size()) {
    throw StageError("a complex product of sizes that do not match");
  }
  const auto* a_parts = reinterpret_cast<const double*>(a.data());
  const auto* x_parts = reinterpret_cast<const double*>(x.data());
  auto* y_parts = reinterpret_cast<double*>(y.data());
  const auto rows = std::size_t(a.rows()), cols = std::size_t(a.cols());
  const auto stride = std::size_t(a.outerStride());
  if (conjugate) {
    AddConjugateInterleavedProduct(a_parts, rows, cols, stride, x_parts, y_parts);
  } else {
    AddInterleavedProduct(a_parts, rows, cols, stride, x_parts, y_parts);
  }
}

}  // namespace ostrel::physical
