#pragma once

#include <cstddef>
#include <vector>

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
// A sparse loop matrix's cut (InductanceMatrices::loop_dropped_h): when the matrix is not
// positive definite, each wire's sum of the magnitudes of its dropped couplings is added to its
// diagonal (and to its coincident wires' shared entries), with a note placed at `note_at` among
// the model's notes. The dropped couplings with those magnitudes on the diagonal are a diagonally
// dominant, so positive semidefinite, matrix: the whole is positive definite when what was kept
// and repaired is. Tested once, with the other checks of the loop matrix.
struct CutLoop {
  std::vector<double> dropped_h;  // empty: nothing was cut
  std::size_t note_at = 0;
};
void CheckAndRepair(Model& model, const CutLoop& cut = {});

// The speed of light in vacuum, m/s (exact by the definition of the metre).
constexpr double kSpeedOfLightMPerS = 299792458.0;

// The frequency at which a wire of `length_m` spans a tenth of the wavelength in the homogeneous
// dielectric, lambda = c / (f sqrt(eps_r)): f = c / (10 l sqrt(eps_r)). Up to it a wire is short
// against the wavelength, and its figures as lumped inductance and capacitance (one section, the
// IBIS matrices, the loop subcircuit) hold; above it a wire is a transmission line, and its
// external inductance starts to depend on frequency through radiation, which no part of the model
// holds.
double TenthWavelengthHz(double length_m, double eps_r);

// Throws StageError, naming the wires and the frequency, unless the loop matrices of the signals
// through the ground wires are finite, symmetric and positive definite.
void CheckReturnLoop(const Model& model, const ReturnLoop& loop, double frequency_hz);

// Adds a note when the model's top frequency passes the tenth-wavelength frequency of its longest
// wire, naming that wire, its length and the frequency, and how many wires pass their own.
void NoteElectricalLength(Model& model);

// True when the symmetric matrix is positive definite (a Cholesky factorisation, dense through
// LAPACK or, for a sparse matrix, Eigen's sparse LLT on the kept pattern), with coincident wires
// first reduced to one row each.
bool PositiveDefinite(const SymmetricMatrix& m,
                      const std::vector<std::vector<std::size_t>>& coincident);

}  // namespace ostrel::physical
