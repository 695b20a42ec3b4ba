// Coupling coefficients and strongest neighbours of an inductance matrix, dense and sparse.

#include "physical/coupling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "base/stage_error.h"

namespace ostrel::physical {
namespace {

// Three wires: L = [[0.7, 0.1, 0], [0.1, 0.6, -0.3], [0, -0.3, 0.5]] nH, dense or sparse; and a
// fourth, coupled to no other, in the sparse one.
SymmetricMatrix Loop(bool sparse) {
  if (sparse) {
    return {4,
            false,
            {},
            {{0, 0, 0.7e-9},
             {1, 0, 0.1e-9},
             {1, 1, 0.6e-9},
             {2, 1, -0.3e-9},
             {2, 2, 0.5e-9},
             {3, 3, 0.4e-9}}};
  }
  return {3, true, {0.7e-9, 0.1e-9, 0.0, 0.1e-9, 0.6e-9, -0.3e-9, 0, -0.3e-9, 0.5e-9}, {}};
}

TEST(Coupling, StrongestNeighbourIsTheSameFromDenseAndSparseMatrices) {
  const double k01 = 0.1 / std::sqrt(0.7 * 0.6), k12 = -0.3 / std::sqrt(0.6 * 0.5);
  for (const bool sparse : {false, true}) {
    SCOPED_TRACE(sparse ? "sparse" : "dense");
    const SymmetricMatrix m = Loop(sparse);
    const std::vector<Neighbour> n = StrongestNeighbours(m);
    ASSERT_EQ(n.size(), m.n);
    // k_12 = -0.5477 beats k_01 = 0.154 for wire 1.
    const std::size_t want_index[] = {1, 2, 1, m.n};
    const double want_k[] = {k01, k12, k12, 0};
    for (std::size_t i = 0; i < m.n; ++i) {
      EXPECT_EQ(n[i].index, want_index[i]) << i;
      EXPECT_NEAR(n[i].k, want_k[i], 1e-12) << i;
    }
    // Wires 2 and 0 in that order: 1 on the diagonal, k_02 = 0 (not kept when sparse).
    EXPECT_EQ(CouplingsAmong(m, {2, 0}), (std::vector<double>{1, 0, 0, 1}));
    const std::vector<double> k = CouplingsAmong(m, {1, 2});
    EXPECT_NEAR(k[1], k12, 1e-12);
    EXPECT_EQ(k[1], k[2]);
    EXPECT_THROW(CouplingsAmong(m, {0, m.n}), StageError);
  }
}

}  // namespace
}  // namespace ostrel::physical
