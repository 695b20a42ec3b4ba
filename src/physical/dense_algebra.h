#pragma once

#include <Eigen/Core>
#include <mutex>
#include <string>

// Dense Cholesky factorisations and solves of symmetric positive definite matrices (potential
// coefficients, inductances) through LAPACK and BLAS as OpenBLAS provides them: its kernels are
// chosen for the processor at run time, where Eigen's are fixed when the program is built for
// every x86-64 machine. Each call runs on the calling thread alone; callers that want threads
// share out the work themselves, so that no result depends on the thread count.
namespace ostrel::physical {

// Every call into the library (CHOLMOD's factorisations too, which call it) is made while one of
// these lives. OpenBLAS's variant without threads of its own keeps its work buffers in one table
// without a lock: two calls from two threads at once can take the same buffer, and a
// factorisation then comes out wrong (on Debian's libopenblas0-serial about 1 in 300 of 3,200
// factorisations of 64 x 64 matrices on two threads, by up to hundreds). With that variant loaded
// this holds the one lock of the library's calls, so its calls run one at a time; the variant
// with threads (the package's dependency, set to one thread a call) locks its table itself, and
// then this holds nothing.
// Names the library's kernels for this processor in the library's environment variable
// OPENBLAS_CORETYPE, unless it is set already: SkylakeX where the processor and the system run
// AVX-512 (F, DQ, BW, VL), Haswell (on AMD's processors Zen) where they run AVX2 with fused
// multiply-adds, and nothing otherwise. The library knows processors by their model numbers as
// they were at its release (0.3.21 on Debian 12) and gives one it does not know its plain
// x86-64 kernels (Prescott, SSE3): on a Xeon of family 6, model 207, its products and
// factorisations ran at a third of their speed, a fifth of the 100,100-wire model's time. Call it
// at the start of main, before any thread runs (the environment is not safe to change while
// another thread reads it) and before the library is loaded (it reads the variable then).
void ChooseProcessorKernels();

// The name of the kernels the library runs (its openblas_get_corename), loading it.
std::string LinearAlgebraKernels();

class LinearAlgebraCall {
 public:
  LinearAlgebraCall();
  LinearAlgebraCall(const LinearAlgebraCall&) = delete;
  LinearAlgebraCall& operator=(const LinearAlgebraCall&) = delete;

 private:
  std::unique_lock<std::mutex> lock_;
};

// Factors the lower triangle of `a` (column-major, contiguous columns) into L with A = L L^T,
// in place; the strict upper triangle is left as it was. False when a pivot is not positive
// (A is not positive definite); `a` then holds a partial factor.
bool FactorLowerInPlace(Eigen::Ref<Eigen::MatrixXd> a);

// B := B L^-T for the lower-triangular factor `l` (the rows below a factored diagonal block).
void SolveRightLowerTransposed(const Eigen::Ref<const Eigen::MatrixXd>& l,
                               Eigen::Ref<Eigen::MatrixXd> b);

// C := C - A B^T.
void SubtractProduct(const Eigen::Ref<const Eigen::MatrixXd>& a,
                     const Eigen::Ref<const Eigen::MatrixXd>& b, Eigen::Ref<Eigen::MatrixXd> c);

// X := A^-1 X in place, with L from FactorLowerInPlace.
void SolveWithLowerFactor(const Eigen::Ref<const Eigen::MatrixXd>& l,
                          Eigen::Ref<Eigen::MatrixXd> x);

// y += A x, or conj(A) x when `conjugate`, for a complex A (column-major, or a block of such a
// matrix): each element's products added to it column by column in order, the same sums on every
// processor, two columns a pass and with AVX2 where the processor has it (no fused multiply-adds,
// so the bits do not change with the instructions).
void AddComplexProduct(const Eigen::Ref<const Eigen::MatrixXcd>& a,
                       const Eigen::Ref<const Eigen::VectorXcd>& x, Eigen::Ref<Eigen::VectorXcd> y,
                       bool conjugate = false);

}  // namespace ostrel::physical
