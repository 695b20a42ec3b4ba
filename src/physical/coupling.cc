#include "physical/coupling.h"

#include "base/stage_error.h"

namespace ostrel::physical {

std::vector<double> Diagonal(const SymmetricMatrix& m) {
  std::vector<double> d(m.n, 0.0);
  if (m.dense) {
    for (std::size_t i = 0; i < m.n; ++i) d[i] = m.values[i * m.n + i];
  } else {
    for (const SymmetricMatrix::Entry& e : m.entries) {
      if (e.i == e.j) d[e.i] = e.value;
    }
  }
  return d;
}

std::vector<Neighbour> StrongestNeighbours(const SymmetricMatrix& m) {
  const std::size_t n = m.n;
  std::vector<Neighbour> best(n, Neighbour{n, 0.0});
  const std::vector<double> diagonal = Diagonal(m);
  // Each wire's partners come in increasing index order: first in its own row, then as the
  // column of the rows below.
  ForEachOffDiagonal(m, [&](std::size_t i, std::size_t j, double value) {
    const double k = CouplingCoefficient(value, diagonal[i], diagonal[j]);
    if (std::abs(k) > std::abs(best[i].k)) best[i] = {j, k};
    if (std::abs(k) > std::abs(best[j].k)) best[j] = {i, k};
  });
  return best;
}

std::vector<double> CouplingsAmong(const SymmetricMatrix& m,
                                   const std::vector<std::size_t>& wires) {
  const std::size_t n = wires.size();
  std::vector<double> k(n * n, 0.0);
  const std::vector<double> diagonal = Diagonal(m);
  std::vector<std::size_t> position(m.n, n);
  for (std::size_t p = 0; p < n; ++p) {
    if (wires[p] >= m.n) throw StageError("a wire of the side is not in the model");
    position[wires[p]] = p;
    k[p * n + p] = 1.0;
  }
  ForEachOffDiagonal(m, [&](std::size_t i, std::size_t j, double value) {
    const std::size_t a = position[i], b = position[j];
    if (a == n || b == n) return;
    k[a * n + b] = k[b * n + a] = CouplingCoefficient(value, diagonal[i], diagonal[j]);
  });
  return k;
}

}  // namespace ostrel::physical
