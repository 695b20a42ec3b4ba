#pragma once

#include "physical/physical_model.h"

// The last step of the model before anything is written: every figure finite, every wire's
// resistance positive and rising with frequency, the inductance matrices symmetric with
// couplings |k| <= 1 and positive definite once each group of coincident wires is one row, the
// capacitance matrix with Maxwell's signs and positive definite.
namespace ostrel::physical {

// Checks `model` and repairs what a stated rule can repair, adding a note that names the wires
// and the size of the change: an inductance matrix that is not positive definite has all its
// couplings scaled down by the one largest factor that makes it so; a positive coupling
// capacitance is set to 0; a wire whose capacitance row sums below 0 gets the difference added to
// its capacitance to ground. Throws StageError naming the wire and the figure for what cannot be
// repaired (a figure that is not finite, a resistance that is not positive).
void CheckAndRepair(Model& model);

// True when the symmetric matrix is positive definite (a Cholesky factorisation, Eigen's dense
// LLT or, for a sparse matrix, its sparse LLT on the kept pattern), with coincident wires first
// reduced to one row each.
bool PositiveDefinite(const SymmetricMatrix& m,
                      const std::vector<std::vector<std::size_t>>& coincident);

}  // namespace ostrel::physical
