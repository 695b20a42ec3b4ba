#include "physical/sparse_cholesky.h"

#include <cholmod.h>

#include <algorithm>
#include <string>

#include "base/stage_error.h"
#include "physical/dense_algebra.h"
#include "physical/loaded_library.h"

namespace ostrel::physical {
namespace {

// The library's routines, found when the model first factors a sparse matrix.
struct Library {
  decltype(&cholmod_start) start = nullptr;
  decltype(&cholmod_finish) finish = nullptr;
  decltype(&cholmod_analyze) analyze = nullptr;
  decltype(&cholmod_factorize) factorize = nullptr;
  decltype(&cholmod_free_factor) free_factor = nullptr;
};

Library Load() {
  const LoadedLibrary cholmod("libcholmod.so.3", "CHOLMOD", "sparse factorisation library",
                              "libcholmod3");
  Library library;
  cholmod.Find("cholmod_start", library.start);
  cholmod.Find("cholmod_finish", library.finish);
  cholmod.Find("cholmod_analyze", library.analyze);
  cholmod.Find("cholmod_factorize", library.factorize);
  cholmod.Find("cholmod_free_factor", library.free_factor);
  return library;
}

// Loaded once, by the first thread that asks.
const Library& Cholmod() {
  static const Library library = Load();
  return library;
}

// The library's view of `lower`: its arrays as they lie, symmetric with the lower triangle
// stored.
cholmod_sparse View(const Eigen::SparseMatrix<double>& lower) {
  cholmod_sparse a{};
  a.nrow = static_cast<std::size_t>(lower.rows());
  a.ncol = static_cast<std::size_t>(lower.cols());
  a.nzmax = static_cast<std::size_t>(lower.nonZeros());
  a.p = const_cast<int*>(lower.outerIndexPtr());
  a.i = const_cast<int*>(lower.innerIndexPtr());
  a.x = const_cast<double*>(lower.valuePtr());
  a.stype = -1;
  a.itype = CHOLMOD_INT;
  a.xtype = CHOLMOD_REAL;
  a.dtype = CHOLMOD_DOUBLE;
  a.sorted = 1;
  a.packed = 1;
  return a;
}

void ThrowOnFailure(const cholmod_common& common, const char* what) {
  if (common.status == CHOLMOD_OUT_OF_MEMORY) {
    throw StageError(std::string("not enough memory for the sparse factorisation (") + what + ")");
  }
  if (common.status == CHOLMOD_TOO_LARGE) {
    throw StageError(std::string("the sparse factorisation has too many entries for its "
                                 "indices (") +
                     what + ")");
  }
  if (common.status < 0) {
    throw StageError("the sparse factorisation failed (" + std::string(what) + ", status " +
                     std::to_string(common.status) + ")");
  }
}

// The smallest pivot L_jj^2 of a factor: a supernodal factor keeps each supernode's columns as
// a dense block of its rows, column-major, its own columns' rows first; a simplicial one each
// column's diagonal entry first, L_jj (L L^T) or D_jj (L D L^T). 1 for an empty factor.
double SmallestPivot(const cholmod_factor& l) {
  const auto* x = static_cast<const double*>(l.x);
  double pivot = 1.0;
  bool first = true;
  const auto take = [&](double p) {
    pivot = first ? p : std::min(pivot, p);
    first = false;
  };
  if (l.is_super) {
    const auto* super = static_cast<const int*>(l.super);
    const auto* pi = static_cast<const int*>(l.pi);
    const auto* px = static_cast<const int*>(l.px);
    for (std::size_t s = 0; s < l.nsuper; ++s) {
      const int rows = pi[s + 1] - pi[s];
      for (int j = 0; j < super[s + 1] - super[s]; ++j) {
        const double d = x[px[s] + j * rows + j];
        take(d * d);
      }
    }
    return pivot;
  }
  const auto* p = static_cast<const int*>(l.p);
  for (std::size_t j = 0; j < l.n; ++j) {
    const double d = x[p[j]];
    take(l.is_ll ? d * d : d);
  }
  return pivot;
}

}  // namespace

struct SparseCholesky::State {
  cholmod_common common{};
  cholmod_factor* factor = nullptr;

  ~State() {
    if (factor != nullptr) Cholmod().free_factor(&factor, &common);
    Cholmod().finish(&common);
  }
};

SparseCholesky::SparseCholesky(const Eigen::SparseMatrix<double>& lower)
    : state_(std::make_unique<State>()) {
  const Library& library = Cholmod();
  cholmod_common& common = state_->common;
  library.start(&common);
  common.print = 0;  // the outcome is read from the status, never printed
  // Supernodal where the factor has more than 200 operations per entry, else column by column
  // (simplicial, L L^T): the dense blocks of a supernodal factor pay once there are enough
  // operations to fill them. Measured with one BLAS thread on band matrices of 40,000 rows, the
  // two take the same time at about 170 to 250 operations per entry; a package's cut loop
  // matrix has about 110 (the generated 100,100 wires: 0.54 s simplicial, 0.85 to 1.04 s
  // supernodal; 10,000 wires: 0.05 against 0.12 s), a dense block of n wires 2 n / 3.
  common.supernodal = CHOLMOD_AUTO;
  common.supernodal_switch = 200;
  common.final_ll = 1;
  common.quick_return_if_not_posdef = 1;
  if (lower.rows() == 0) return;
  cholmod_sparse a = View(lower);
  state_->factor = library.analyze(&a, &common);
  if (state_->factor == nullptr) ThrowOnFailure(common, "ordering");
}

SparseCholesky::~SparseCholesky() = default;
SparseCholesky::SparseCholesky(SparseCholesky&&) noexcept = default;
SparseCholesky& SparseCholesky::operator=(SparseCholesky&&) noexcept = default;

bool SparseCholesky::Factor(const Eigen::SparseMatrix<double>& lower, double min_pivot) {
  if (state_->factor == nullptr) return true;  // no rows
  cholmod_common& common = state_->common;
  cholmod_sparse a = View(lower);
  {
    const LinearAlgebraCall call;  // its supernodes go through the same library
    Cholmod().factorize(&a, state_->factor, &common);
  }
  ThrowOnFailure(common, "factors");
  if (common.status == CHOLMOD_NOT_POSDEF || state_->factor->minor < state_->factor->n) {
    return false;
  }
  const double pivot = SmallestPivot(*state_->factor);
  return pivot > 0 && pivot >= min_pivot;
}

bool SparseCholesky::Supernodal() const {
  return state_->factor != nullptr && state_->factor->is_super != 0;
}

}  // namespace ostrel::physical
