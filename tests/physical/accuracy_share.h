#pragma once

#include <algorithm>
#include <cmath>

#include "physical/physical_model.h"

namespace ostrel::physical {

// The largest error of `got` against `direct` as a share of the stated accuracy of a
// compressed inductance entry, 1e-3 |L_ij| + 1e-5 sqrt(L_ii L_jj): at most 1 where it holds.
inline double AccuracyShare(const SymmetricMatrix& got, const SymmetricMatrix& direct) {
  double worst = 0;
  for (std::size_t i = 0; i < direct.n; ++i) {
    for (std::size_t j = 0; j <= i; ++j) {
      const double exact = direct.At(i, j);
      const double bound =
          1e-3 * std::abs(exact) + 1e-5 * std::sqrt(direct.At(i, i) * direct.At(j, j));
      worst = std::max(worst, std::abs(got.At(i, j) - exact) / bound);
    }
  }
  return worst;
}

}  // namespace ostrel::physical
