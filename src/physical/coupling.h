#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "physical/physical_model.h"

// Coupling coefficients of a symmetric inductance matrix and each wire's strongest neighbour.
namespace ostrel::physical {

// k_ij = L_ij / sqrt(L_ii L_jj): the mutual inductance over the geometric mean of the two self
// inductances (|k| <= 1 for any passive pair).
inline double CouplingCoefficient(double l_ij, double l_ii, double l_jj) {
  return l_ij / std::sqrt(l_ii * l_jj);
}

// A wire's self inductance at one frequency: its entry on the external matrix's diagonal
// (partial or loop) plus its internal inductance there, henries.
inline double SelfInductanceH(double external_self_h, const FrequencyResult& at, std::size_t w) {
  return external_self_h + at.internal_inductance_h[w];
}

// Entry (i, j) of one matrix of a proximity correction: 0 where it keeps none, and everywhere for
// a correction left empty (size 0: a model made without the proximity effect).
inline double CorrectionAt(const SymmetricMatrix& m, std::size_t i, std::size_t j) {
  return m.n == 0 ? 0.0 : m.At(i, j);
}

// A wire's resistance at one frequency with its own term of a proximity correction (partial or
// loop): R(f) + dR_ii(f), ohms.
inline double ResistanceOhm(const FrequencyResult& at, const ProximityCorrection& c,
                            std::size_t w) {
  return at.resistance_ohm[w] + CorrectionAt(c.delta_resistance_ohm, w, w);
}

// A wire's self inductance at one frequency with its own term of the proximity correction of the
// same kind as the external entry: L_ii + L_int(f) + dL_ii(f), henries.
inline double SelfInductanceH(double external_self_h, const FrequencyResult& at,
                              const ProximityCorrection& c, std::size_t w) {
  return SelfInductanceH(external_self_h, at, w) + CorrectionAt(c.delta_inductance_h, w, w);
}

// The diagonal of a symmetric matrix (0 where a sparse one keeps no entry).
std::vector<double> Diagonal(const SymmetricMatrix& m);

// Calls visit(i, j, value) for every kept entry below the diagonal (i > j), row by row.
template <typename Visit>
void ForEachOffDiagonal(const SymmetricMatrix& m, Visit&& visit) {
  if (m.dense) {
    for (std::size_t i = 0; i < m.n; ++i) {
      const double* row = &m.values[i * m.n];
      for (std::size_t j = 0; j < i; ++j) visit(i, j, row[j]);
    }
  } else {
    for (const SymmetricMatrix::Entry& e : m.entries) {
      if (e.i != e.j) visit(e.i, e.j, e.value);
    }
  }
}

// The wire whose coupling coefficient with wire i is largest in magnitude, per wire (the first
// in index order among equals); `index` is n (the number of wires) for a wire coupled to no
// other.
struct Neighbour {
  std::size_t index = 0;
  double k = 0;
};
std::vector<Neighbour> StrongestNeighbours(const SymmetricMatrix& m);

// The coupling coefficients among `wires`, in their order: a row-major square of their count,
// 1 on the diagonal, 0 where the matrix keeps no entry. Throws StageError for a wire beyond the
// matrix.
std::vector<double> CouplingsAmong(const SymmetricMatrix& m, const std::vector<std::size_t>& wires);

}  // namespace ostrel::physical
