#include "physical/model_check.h"

#include <Eigen/Core>
#include <Eigen/SparseCore>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/large_pages.h"
#include "base/stage_error.h"
#include "physical/coupling.h"
#include "physical/positive_definite.h"
#include "physical/wire_groups.h"

namespace ostrel::physical {
namespace {

std::string Figure(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

// The row each wire keeps once every coincident group is one row (its first wire's), or n for
// the group's other wires; `rows` the number of rows.
std::vector<std::size_t> ReducedRows(std::size_t n,
                                     const std::vector<std::vector<std::size_t>>& coincident,
                                     std::size_t& rows) {
  const DistinctWires kept = Distinct(n, coincident);
  std::vector<std::size_t> row(n, n);
  for (std::size_t k = 0; k < kept.first.size(); ++k) row[kept.first[k]] = k;
  rows = kept.first.size();
  return row;
}

// The matrix with every coincident group reduced to one row, ready to be factored at any scale
// of its couplings.
// `shift` (one value a wire, or none) is taken off the diagonal first.
ScaledCholesky ReducedCholesky(const SymmetricMatrix& m,
                               const std::vector<std::vector<std::size_t>>& coincident,
                               const std::vector<double>& shift = {}) {
  std::size_t rows = 0;
  const std::vector<std::size_t> row = ReducedRows(m.n, coincident, rows);
  const auto size = static_cast<Eigen::Index>(rows);
  if (m.dense) {
    // The lower triangle (rows of m, columns of the factor's matrix) copied by tiles of 64 that
    // stay in the cache on both sides, the rows of tiles shared over the threads.
    Eigen::MatrixXd a(size, size);
    // On large pages: the factorisation's block products run over all of it.
    AdviseLargePages(a.data(), static_cast<std::size_t>(a.size()) * sizeof(double));
    constexpr std::size_t kTile = 64;
    const std::size_t tiles = (m.n + kTile - 1) / kTile;
#pragma omp parallel for schedule(dynamic, 1)
    for (std::size_t ti = 0; ti < tiles; ++ti) {
      const std::size_t i0 = ti * kTile, i1 = std::min(m.n, i0 + kTile);
      for (std::size_t j = 0; j < i1; ++j) {
        if (row[j] >= m.n) continue;
        for (std::size_t i = std::max(i0, j); i < i1; ++i) {
          if (row[i] >= m.n) continue;
          a(Eigen::Index(row[i]), Eigen::Index(row[j])) =
              m.values[i * m.n + j] - (i == j && !shift.empty() ? shift[i] : 0);
        }
      }
    }
    return ScaledCholesky(std::move(a));
  }
  // The entries, sorted by row and column, fall into their columns in row order: the columns
  // counted first, then filled, with no list of triplets and no sort (on 100,100 wires the loop
  // matrix has 7 million entries, each copy of them a quarter of a gigabyte of new memory).
  const auto kept = [&](const SymmetricMatrix::Entry& e) {
    return row[e.i] < m.n && row[e.j] < m.n;
  };
  Eigen::SparseMatrix<double> a(size, size);
  int* start = a.outerIndexPtr();
  for (const auto& e : m.entries) {
    if (kept(e)) ++start[row[e.j] + 1];
  }
  for (Eigen::Index c = 0; c < size; ++c) start[c + 1] += start[c];
  const auto entries = static_cast<std::size_t>(start[size]);
  a.data().resize(static_cast<Eigen::Index>(entries));
  AdviseLargePages(a.valuePtr(), entries * sizeof(double));
  AdviseLargePages(a.innerIndexPtr(), entries * sizeof(int));
  std::vector<int> next(start, start + size);
  for (const auto& e : m.entries) {
    if (!kept(e)) continue;
    const int at = next[row[e.j]]++;
    a.innerIndexPtr()[at] = static_cast<int>(row[e.i]);
    a.valuePtr()[at] = e.value - (e.i == e.j && !shift.empty() ? shift[e.i] : 0);
  }
  return ScaledCholesky(std::move(a), PivotOrder::kFillReducing);
}

// Couplings of at least this |k| are kept in the sparse test below.
constexpr double kKeptCoupling = 1e-3;

// Whether dense `m` (each coincident group one row), less `shift` on its diagonal, is positive
// definite by a sparse factorisation alone. In the couplings k_ij = m_ij / sqrt(m_ii m_jj) those
// of |k| >= kKeptCoupling are kept, and each dropped one's |k| is taken off the diagonal of both
// of its rows: the dropped couplings with those magnitudes on the diagonal are a diagonally
// dominant, so positive semidefinite, matrix, and the kept part positive definite makes the whole
// so. True proves it; false says nothing (the dense factorisation decides). Inductance matrices
// whose couplings fall off fast (the loop matrix) pass with a few per cent of their entries.
bool HoldsBySparsePart(const SymmetricMatrix& m,
                       const std::vector<std::vector<std::size_t>>& coincident,
                       const std::vector<double>& shift) {
  if (!m.dense) return false;
  std::size_t rows = 0;
  const std::vector<std::size_t> row = ReducedRows(m.n, coincident, rows);
  std::vector<double> scale(m.n, 0.0), diagonal(rows, 0.0);
  for (std::size_t i = 0; i < m.n; ++i) {
    if (row[i] >= m.n) continue;
    const double d = m.values[i * m.n + i];
    if (!(d > 0)) return false;
    scale[i] = 1 / std::sqrt(d);
    diagonal[row[i]] = 1 - (shift.empty() ? 0.0 : shift[i]) / d;
  }
  std::vector<Eigen::Triplet<double>> triplets;
  for (std::size_t i = 0; i < m.n; ++i) {
    if (row[i] >= m.n) continue;
    for (std::size_t j = 0; j < i; ++j) {
      if (row[j] >= m.n) continue;
      const double k = m.values[i * m.n + j] * scale[i] * scale[j];
      if (std::abs(k) >= kKeptCoupling) {
        triplets.emplace_back(Eigen::Index(row[i]), Eigen::Index(row[j]), k);
      } else {
        diagonal[row[i]] -= std::abs(k);
        diagonal[row[j]] -= std::abs(k);
      }
    }
    // Too many kept couplings save nothing over the dense factorisation.
    if (triplets.size() > rows * rows / 16) return false;
  }
  for (std::size_t r = 0; r < rows; ++r) {
    if (!(diagonal[r] > 0)) return false;
    triplets.emplace_back(Eigen::Index(r), Eigen::Index(r), diagonal[r]);
  }
  const auto size = static_cast<Eigen::Index>(rows);
  Eigen::SparseMatrix<double> a(size, size);
  a.setFromTriplets(triplets.begin(), triplets.end());
  return ScaledCholesky(std::move(a), PivotOrder::kFillReducing).Holds(1.0);
}

// Calls f(i, j, value) for every kept entry of the lower triangle.
template <typename F>
void ForEachLower(const SymmetricMatrix& m, F&& f) {
  if (m.dense) {
    for (std::size_t i = 0; i < m.n; ++i) {
      for (std::size_t j = 0; j <= i; ++j) f(i, j, m.values[i * m.n + j]);
    }
  } else {
    for (const auto& e : m.entries) f(e.i, e.j, e.value);
  }
}

// Whether every row's diagonal entry exceeds the sum of the magnitudes of its other entries:
// then the matrix, and every matrix of some of its rows and the same columns, is positive
// definite (Gershgorin), with no factorisation. A margin of 1e-12 of the diagonal leaves the
// rows that only rounding makes dominant to the factorisation.
bool StrictlyDiagonallyDominant(const SymmetricMatrix& m) {
  std::vector<double> diagonal(m.n, 0.0), off(m.n, 0.0);
  ForEachLower(m, [&](std::size_t i, std::size_t j, double v) {
    if (i == j) {
      diagonal[i] = v;
    } else {
      off[i] += std::abs(v);
      off[j] += std::abs(v);
    }
  });
  for (std::size_t i = 0; i < m.n; ++i) {
    if (!(diagonal[i] * (1 - 1e-12) > off[i])) return false;
  }
  return true;
}

template <typename F>
void ForEachLowerMutable(SymmetricMatrix& m, F&& f) {
  if (m.dense) {
    for (std::size_t i = 0; i < m.n; ++i) {
      for (std::size_t j = 0; j <= i; ++j) {
        f(i, j, m.values[i * m.n + j]);
        m.values[j * m.n + i] = m.values[i * m.n + j];
      }
    }
  } else {
    for (auto& e : m.entries) f(e.i, e.j, e.value);
  }
}

std::string PairText(const Model& model, std::size_t i, std::size_t j) {
  return model.conductors[std::min(i, j)].name + " and " + model.conductors[std::max(i, j)].name;
}

// An inductance matrix: finite, symmetric, positive diagonal, |k| <= 1 and positive definite
// (reduced); a matrix that is not is repaired by scaling its couplings. True when it stays
// positive definite with `margin` (one value a wire) taken off its diagonal: then any change
// that the margin covers leaves it so (see CorrectionMargin).
// What one look over the lower triangle of a matrix finds, row by row: the first entry that is
// not finite, the first that differs from its mirror by more than 1e-12 of sqrt(L_ii L_jj) (none
// in a sparse matrix), and the largest |k| with the first entry that has it. `none` where a row
// has no such entry.
struct RowFindings {
  static constexpr std::size_t none = std::numeric_limits<std::size_t>::max();
  std::vector<std::size_t> not_finite, not_symmetric, k_at;
  std::vector<double> k_max;
};

RowFindings LookOverRows(const SymmetricMatrix& m, const std::vector<double>& diagonal) {
  const std::size_t n = m.n;
  RowFindings f{std::vector<std::size_t>(n, RowFindings::none),
                std::vector<std::size_t>(n, RowFindings::none),
                std::vector<std::size_t>(n, RowFindings::none), std::vector<double>(n, 0.0)};
  const auto visit = [&](std::size_t i, std::size_t j, double v) {
    if (!std::isfinite(v) && f.not_finite[i] == RowFindings::none) f.not_finite[i] = j;
    const double k = i == j ? 0.0 : std::abs(CouplingCoefficient(v, diagonal[i], diagonal[j]));
    if (k > f.k_max[i]) f.k_max[i] = k, f.k_at[i] = j;
  };
  if (!m.dense) {
    for (const auto& e : m.entries) visit(e.i, e.j, e.value);
    return f;
  }
  // Tiles of the lower triangle, each compared with its mirror tile while both are in the
  // cache; a row's tiles are taken from left to right, so its first entries come first.
  constexpr std::size_t kTile = 64;
  const std::size_t tiles = (n + kTile - 1) / kTile;
#pragma omp parallel for schedule(dynamic, 1)
  for (std::size_t ti = 0; ti < tiles; ++ti) {
    const std::size_t i0 = ti * kTile, i1 = std::min(n, i0 + kTile);
    for (std::size_t tj = 0; tj <= ti; ++tj) {
      const std::size_t j0 = tj * kTile, j1 = std::min(n, j0 + kTile);
      for (std::size_t i = i0; i < i1; ++i) {
        const double* row = &m.values[i * n];
        for (std::size_t j = j0; j < std::min(j1, i + 1); ++j) {
          visit(i, j, row[j]);
          if (j < i && f.not_symmetric[i] == RowFindings::none &&
              std::abs(row[j] - m.values[j * n + i]) > 1e-12 * std::sqrt(diagonal[i] * diagonal[j]))
            f.not_symmetric[i] = j;
        }
      }
    }
  }
  return f;
}

// Repairs the cut loop matrix `m` as CutLoop says when it is not positive definite; false when
// it is, and nothing changed.
bool RepairCut(Model& model, SymmetricMatrix& m, const CutLoop& cut) {
  if (PositiveDefinite(m, model.coincident)) return false;
  const std::vector<std::size_t> slot = Distinct(m.n, model.coincident).slot;
  double largest = 0;
  for (auto& e : m.entries) {
    if (slot[e.i] != slot[e.j]) continue;
    if (e.i == e.j) largest = std::max(largest, cut.dropped_h[e.i] / e.value);
    e.value += cut.dropped_h[e.i];
  }
  const bool still = !PositiveDefinite(m, model.coincident);
  model.notes.insert(
      model.notes.begin() + static_cast<std::ptrdiff_t>(std::min(cut.note_at, model.notes.size())),
      "the cut loop matrix was not positive definite: each dropped coupling's "
      "magnitude was added to the diagonal of both of its wires (largest change " +
          std::to_string(100 * largest) + " % of a self inductance)" +
          (still ? "; the matrix is still not positive definite" : ""));
  return true;
}

bool CheckInductance(Model& model, SymmetricMatrix& m, const std::string& what,
                     const std::vector<double>& margin, const CutLoop* cut = nullptr) {
  std::vector<double> diagonal(m.n, 0.0);
  ForEachLower(m, [&](std::size_t i, std::size_t j, double v) {
    if (i == j) diagonal[i] = v;
  });
  const RowFindings found = LookOverRows(m, diagonal);
  for (std::size_t i = 0; i < m.n; ++i) {
    if (found.not_finite[i] != RowFindings::none) {
      throw StageError("the " + what + " inductance of wires " +
                       PairText(model, i, found.not_finite[i]) + " is not finite");
    }
  }
  for (std::size_t i = 0; i < m.n; ++i) {
    if (!(diagonal[i] > 0)) {
      throw StageError("the " + what + " self inductance of wire " + model.conductors[i].name +
                       " is " + Figure(diagonal[i] * 1e9) +
                       " nH: the wire has no length or lies in the ground plane");
    }
  }
  for (std::size_t i = 0; i < m.n; ++i) {
    if (found.not_symmetric[i] != RowFindings::none) {
      throw StageError("the " + what + " inductance matrix is not symmetric at wires " +
                       PairText(model, i, found.not_symmetric[i]));
    }
  }
  double k_max = 0;
  std::size_t at_i = 0, at_j = 0;
  for (std::size_t i = 0; i < m.n; ++i) {
    if (found.k_max[i] > k_max) k_max = found.k_max[i], at_i = i, at_j = found.k_at[i];
  }
  const bool any_margin = std::any_of(margin.begin(), margin.end(), [](double v) { return v > 0; });
  if (k_max <= 1 + 1e-12 && (HoldsBySparsePart(m, model.coincident, margin) ||
                             ReducedCholesky(m, model.coincident, margin).HoldsOnce())) {
    return true;
  }
  // Only now, when the quick proof failed, the cut itself; once repaired, the checks again.
  if (cut != nullptr && !cut->dropped_h.empty() && !m.dense && RepairCut(model, m, *cut)) {
    return CheckInductance(model, m, what, margin);
  }
  ScaledCholesky cholesky = ReducedCholesky(m, model.coincident);
  // Without margins the matrix itself was factored above.
  if (any_margin && k_max <= 1 + 1e-12 && cholesky.Holds(1.0)) return false;
  // Bisection on the one factor of all couplings; 0 leaves the (positive) diagonal alone.
  constexpr int kBits = 40;
  const double lo = LargestHoldingScale(
      [&](double scale) { return scale * k_max <= 1 && cholesky.Holds(scale); }, kBits);
  // Couplings within a coincident group stay 1: the group is one conductor.
  const std::vector<std::size_t> slot = Distinct(m.n, model.coincident).slot;
  ForEachLowerMutable(m, [&](std::size_t i, std::size_t j, double& v) {
    if (slot[i] != slot[j]) v *= lo;
  });
  model.notes.push_back(
      "the " + what +
      " inductance matrix was not positive definite (largest coupling |k| = " + Figure(k_max) +
      ", wires " + PairText(model, at_i, at_j) + "): all couplings scaled by " + Figure(lo));
  return false;
}

// For each wire, the most that any frequency's correction dL, with the wire's internal
// inductance, can take off its diagonal in Gershgorin's sense: max over f of
// sum_j!=i |dL_ij| - dL_ii - L_int,i, or 0. With M the margins, L_int + dL + diag(M) is
// diagonally dominant with a non-negative diagonal, so positive semidefinite: L positive definite
// less diag(M) makes L + L_int + dL positive definite at every frequency.
std::vector<double> CorrectionMargin(const std::vector<FrequencyResult>& results, std::size_t n,
                                     bool loop) {
  std::vector<double> margin(n, 0.0);
  for (const FrequencyResult& r : results) {
    const SymmetricMatrix& d = (loop ? r.proximity_loop : r.proximity_partial).delta_inductance_h;
    std::vector<double> off(n, 0.0), own(n, 0.0);
    for (const auto& e : d.entries) {
      if (e.i == e.j) {
        own[e.i] += e.value;
      } else {
        off[e.i] += std::abs(e.value);
        off[e.j] += std::abs(e.value);
      }
    }
    for (std::size_t i = 0; i < n && i < r.internal_inductance_h.size(); ++i) {
      margin[i] = std::max(margin[i], off[i] - own[i] - r.internal_inductance_h[i]);
    }
  }
  return margin;
}

// `base` plus the diagonal `diagonal` and the sparse correction `delta`, its couplings times
// `scale`, in the form of `base`.
SymmetricMatrix WithCorrection(const SymmetricMatrix& base, const std::vector<double>& diagonal,
                               const SymmetricMatrix& delta, double scale) {
  SymmetricMatrix sum = base;
  // Each entry's parts in this order (the diagonal, the correction, then a sparse base's own),
  // summed from 0 entry by entry after a stable sort.
  std::vector<SymmetricMatrix::Entry> parts;
  parts.reserve(diagonal.size() + delta.entries.size() + (sum.dense ? 0 : sum.entries.size()));
  for (std::size_t i = 0; i < diagonal.size(); ++i) parts.push_back({i, i, diagonal[i]});
  for (const auto& e : delta.entries) {
    parts.push_back({e.i, e.j, e.i == e.j ? e.value : scale * e.value});
  }
  if (!sum.dense) parts.insert(parts.end(), sum.entries.begin(), sum.entries.end());
  std::stable_sort(parts.begin(), parts.end(), [](const auto& x, const auto& y) {
    return std::tie(x.i, x.j) < std::tie(y.i, y.j);
  });
  std::vector<SymmetricMatrix::Entry> added;
  for (std::size_t k = 0; k < parts.size();) {
    double v = 0;
    std::size_t end = k;
    for (; end < parts.size() && parts[end].i == parts[k].i && parts[end].j == parts[k].j; ++end) {
      v += parts[end].value;
    }
    added.push_back({parts[k].i, parts[k].j, v});
    k = end;
  }
  if (sum.dense) {
    for (const auto& e : added) {
      sum.values[e.i * sum.n + e.j] += e.value;
      if (e.i != e.j) sum.values[e.j * sum.n + e.i] += e.value;
    }
    return sum;
  }
  sum.entries = std::move(added);
  return sum;
}

// The proximity corrections of one kind at every frequency: finite; R + dR positive definite
// (its mutual resistances scaled down when not, with a note); L + L_int + dL positive definite
// (its changed couplings dropped when not, with a note), checked at once for all frequencies
// when `l_safe` says the inductance matrix keeps a margin larger than every correction.
void CheckProximity(Model& model, const SymmetricMatrix& l, bool loop, bool l_safe) {
  const std::string what = loop ? "loop" : "partial";
  for (FrequencyResult& r : model.results) {
    ProximityCorrection& c = loop ? r.proximity_loop : r.proximity_partial;
    for (SymmetricMatrix* d : {&c.delta_resistance_ohm, &c.delta_inductance_h}) {
      for (const auto& e : d->entries) {
        if (!std::isfinite(e.value)) {
          throw StageError("the " + what + " proximity correction of wires " +
                           PairText(model, e.i, e.j) + " at " + Figure(r.frequency_hz) +
                           " Hz is not finite");
        }
      }
    }
    if (c.delta_resistance_ohm.entries.empty()) continue;
    const SymmetricMatrix none{c.delta_resistance_ohm.n, false, {}, {}};
    const SymmetricMatrix resistance =
        WithCorrection(none, r.resistance_ohm, c.delta_resistance_ohm, 1.0);
    for (const auto& e : resistance.entries) {
      if (e.i == e.j && !(e.value > 0)) {
        throw StageError("the resistance of wire " + model.conductors[e.i].name + " at " +
                         Figure(r.frequency_hz) + " Hz with its " + what +
                         " proximity correction is " + Figure(e.value * 1e3) + " mOhm");
      }
    }
    // The mutual resistances of the proximity are mostly small against the wires' own: a
    // dominant diagonal proves the matrix positive definite without a factorisation.
    if (!StrictlyDiagonallyDominant(resistance)) {
      ScaledCholesky cholesky = ReducedCholesky(resistance, model.coincident);
      if (!cholesky.Holds(1.0)) {
        const double lo = LargestHoldingScale([&](double s) { return cholesky.Holds(s); }, 40);
        for (auto& e : c.delta_resistance_ohm.entries) e.value *= e.i == e.j ? 1.0 : lo;
        model.notes.push_back("the " + what +
                              " resistance matrix with the proximity correction at " +
                              Figure(r.frequency_hz) +
                              " Hz was not positive definite: its mutual resistances were scaled "
                              "by " +
                              Figure(lo));
      }
    }
    if (l_safe) continue;
    const auto holds = [&](double scale) {
      return ReducedCholesky(
                 WithCorrection(l, r.internal_inductance_h, c.delta_inductance_h, scale),
                 model.coincident)
          .HoldsOnce();
    };
    if (holds(1.0)) continue;
    if (!holds(0.0)) {
      throw StageError("the " + what + " inductance matrix with the proximity correction at " +
                       Figure(r.frequency_hz) + " Hz is not positive definite");
    }
    for (auto& e : c.delta_inductance_h.entries) e.value *= e.i == e.j ? 1.0 : 0.0;
    model.notes.push_back("the " + what + " inductance matrix with the proximity correction at " +
                          Figure(r.frequency_hz) +
                          " Hz was not positive definite: its changes of the couplings were "
                          "left out");
  }
}

// Capacitance: finite, positive diagonal, no positive coupling, rows that sum to 0 or more
// (diagonally dominant, so positive definite).
void CheckCapacitance(Model& model, SymmetricMatrix& c) {
  const std::size_t n = c.n;
  std::vector<double> row_sum(n, 0.0), diagonal(n, 0.0);
  std::size_t clamped = 0;
  double clamped_max = 0;
  std::size_t at_i = 0, at_j = 0;
  ForEachLowerMutable(c, [&](std::size_t i, std::size_t j, double& v) {
    if (!std::isfinite(v)) {
      throw StageError("the capacitance of wires " + PairText(model, i, j) + " is not finite");
    }
    if (i == j) {
      diagonal[i] = v;
      return;
    }
    if (v > 0) {
      ++clamped;
      if (v > clamped_max) clamped_max = v, at_i = i, at_j = j;
      v = 0;
    }
  });
  for (std::size_t i = 0; i < n; ++i) {
    if (!(diagonal[i] > 0)) {
      throw StageError("the capacitance of wire " + model.conductors[i].name + " is " +
                       Figure(diagonal[i] * 1e12) + " pF; it must be positive");
    }
  }
  if (clamped > 0) {
    model.notes.push_back(std::to_string(clamped) +
                          " coupling capacitances came out positive and were set to 0 (largest " +
                          Figure(clamped_max * 1e12) + " pF, " +
                          Figure(clamped_max / std::sqrt(diagonal[at_i] * diagonal[at_j])) +
                          " of the self terms, wires " + PairText(model, at_i, at_j) + ")");
  }
  ForEachLower(c, [&](std::size_t i, std::size_t j, double v) {
    row_sum[i] += v;
    if (i != j) row_sum[j] += v;
  });
  std::size_t raised = 0;
  double raised_max = 0;
  std::size_t raised_at = 0;
  ForEachLowerMutable(c, [&](std::size_t i, std::size_t j, double& v) {
    if (i != j || row_sum[i] >= 0) return;
    ++raised;
    if (-row_sum[i] / v > raised_max) raised_max = -row_sum[i] / v, raised_at = i;
    v -= row_sum[i];
  });
  if (raised > 0) {
    model.notes.push_back(std::to_string(raised) +
                          " wires had couplings larger than their capacitance; their "
                          "capacitance was raised to the sum of its couplings (largest change " +
                          Figure(100 * raised_max) + " %, wire " +
                          model.conductors[raised_at].name + ")");
  }
}

}  // namespace

bool PositiveDefinite(const SymmetricMatrix& m,
                      const std::vector<std::vector<std::size_t>>& coincident) {
  return ReducedCholesky(m, coincident).HoldsOnce();
}

void CheckReturnLoop(const Model& model, const ReturnLoop& loop, double frequency_hz) {
  // Coincident signals, in the loop's own indices.
  std::vector<std::vector<std::size_t>> coincident;
  for (const std::vector<std::size_t>& group : model.coincident) {
    std::vector<std::size_t> rows;
    for (std::size_t a = 0; a < loop.wires.size(); ++a) {
      if (std::find(group.begin(), group.end(), loop.wires[a]) != group.end()) rows.push_back(a);
    }
    if (rows.size() > 1) coincident.push_back(std::move(rows));
  }
  for (const auto& [m, what] : {std::pair(&loop.resistance_ohm, "resistance"),
                                std::pair(&loop.inductance_h, "inductance")}) {
    std::string fault;
    for (std::size_t a = 0; a < m->n && fault.empty(); ++a) {
      for (std::size_t b = 0; b <= a && fault.empty(); ++b) {
        const double x = m->At(a, b);
        if (!std::isfinite(x) || x != m->At(b, a) || (a == b && !(x > 0))) {
          fault = "wire " + model.conductors[loop.wires[a]].name + (a == b ? "" : " with wire ") +
                  (a == b ? "" : model.conductors[loop.wires[b]].name) + " has " + Figure(x);
        }
      }
    }
    if (fault.empty() && !PositiveDefinite(*m, coincident)) fault = "it is not positive definite";
    if (!fault.empty()) {
      throw StageError(std::string("the ") + what + " matrix of the signals' loops through the " +
                       "ground wires at " + Figure(frequency_hz) + " Hz is not physical: " + fault);
    }
  }
}

void CheckAndRepair(Model& model, const CutLoop& cut) {
  for (const FrequencyResult& r : model.results) {
    for (std::size_t i = 0; i < model.conductors.size(); ++i) {
      const Conductor& c = model.conductors[i];
      const double r_dc = DcResistanceOhm(c);
      const double r_f = r.resistance_ohm[i], l_int = r.internal_inductance_h[i];
      if (!(r_dc > 0) || !std::isfinite(r_dc)) {
        throw StageError("wire " + c.name + " has no resistance: its length is " +
                         Figure(c.length_m * 1e6) + " um");
      }
      if (!std::isfinite(r_f) || !std::isfinite(l_int) || !(l_int >= 0) ||
          r_f < r_dc * (1 - 1e-12)) {
        throw StageError("the resistance of wire " + c.name + " at " + Figure(r.frequency_hz) +
                         " Hz is " + Figure(r_f * 1e3) + " mOhm against " + Figure(r_dc * 1e3) +
                         " mOhm at DC");
      }
    }
  }
  // With each wire's margin for the proximity corrections, one factorisation of each inductance
  // matrix (sparse where its couplings allow) covers them at every frequency.
  if (model.partial_inductance_h) {
    const bool safe =
        CheckInductance(model, *model.partial_inductance_h, "partial",
                        CorrectionMargin(model.results, model.conductors.size(), false));
    CheckProximity(model, *model.partial_inductance_h, false, safe);
  } else {
    CheckProximity(model, model.loop_inductance_h, false, true);  // its resistance alone
  }
  const bool safe =
      CheckInductance(model, model.loop_inductance_h, "loop",
                      CorrectionMargin(model.results, model.conductors.size(), true), &cut);
  CheckProximity(model, model.loop_inductance_h, true, safe);
  if (model.capacitance_f) CheckCapacitance(model, *model.capacitance_f);
}

double TenthWavelengthHz(double length_m, double eps_r) {
  return kSpeedOfLightMPerS / (10 * length_m * std::sqrt(eps_r));
}

void NoteElectricalLength(Model& model) {
  double top_hz = 0;
  for (const FrequencyResult& r : model.results) top_hz = std::max(top_hz, r.frequency_hz);
  const std::vector<Conductor>& wires = model.conductors;
  std::size_t longest = wires.size(), passed = 0;
  for (std::size_t i = 0; i < wires.size(); ++i) {
    if (!(top_hz > TenthWavelengthHz(wires[i].length_m, model.options.eps_r))) continue;
    ++passed;
    if (longest == wires.size() || wires[i].length_m > wires[longest].length_m) longest = i;
  }
  if (passed == 0) return;
  const Conductor& c = wires[longest];
  model.notes.push_back(
      "the top frequency " + Figure(top_hz) + " Hz passes " +
      Figure(TenthWavelengthHz(c.length_m, model.options.eps_r)) + " Hz, where the longest wire " +
      c.name + " (" + Figure(c.length_m * 1e3) + " mm) spans a tenth of a wavelength at eps_r " +
      Figure(model.options.eps_r) + " (" + std::to_string(passed) + " of " +
      std::to_string(wires.size()) +
      " wires pass theirs): above it the wires are lines, cut into sections by the Touchstone "
      "and broadband SPICE files, and radiation is left out");
}

}  // namespace ostrel::physical
