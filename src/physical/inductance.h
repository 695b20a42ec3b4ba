#pragma once

#include <cstddef>
#include <vector>

#include "physical/physical_model.h"

// The partial and loop inductance matrices of the wires (external inductance: the current on
// each wire's surface; the internal part comes with the internal impedance).
namespace ostrel::physical {

// How the matrices are computed; the defaults are what ComputeModel uses, the tests change them
// to compare against the exact sums and to exercise the sparse form on small packages.
struct InductanceSettings {
  // Every piece pair by its closed form, no quadrature for far pairs.
  bool exact_only = false;
  // Largest package kept dense: two n x n matrices of doubles within 1.6 GB (10,000 wires).
  std::size_t max_dense_wires = 10000;
  // From this many wires on, the couplings of groups of wires far apart compared with their
  // size are compressed (low_rank.h); 0 never. Groups are far when the larger of their
  // diameters is at most `far_ratio` times their distance.
  std::size_t compress_from_wires = 400;
  double far_ratio = 1.0;
  std::size_t leaf_wires = 32;  // wires of the smallest groups
};

struct InductanceMatrices {
  std::optional<SymmetricMatrix> partial_h;  // left out in the sparse form
  SymmetricMatrix loop_h;
  std::vector<std::string> notes;
  std::vector<std::vector<std::size_t>> coincident;  // CoincidentGroups of the conductors
  // The sparse form's cut: each wire's sum of the magnitudes of its dropped loop couplings
  // (henries), which the model's checks add to the diagonal when the cut matrix is not positive
  // definite (model_check.h); empty in the dense form.
  std::vector<double> loop_dropped_h;
};

// Both matrices of `conductors` over a perfect plane `ground_depth_m` below the substrate surface.
// Dense up to settings.max_dense_wires; beyond, the loop matrix alone, sparse, with couplings
// |k| < coupling_cutoff dropped (their sums in loop_dropped_h). Coincident wires are computed
// once.
InductanceMatrices ComputeInductance(const std::vector<Conductor>& conductors,
                                     double ground_depth_m, double coupling_cutoff,
                                     const Progress& progress = {},
                                     const InductanceSettings& settings = {});

// The external inductance matrix of two wires over the plane `ground_depth_m` below the substrate
// surface, each wire closed by its image in the plane alone (no connectors from its ends down to
// the plane): L_ij = Lp(i, j) - Lp(i, mirror(j)), with the kernels of ComputeInductance.
struct WiresOverPlane {
  double self_a_h = 0, self_b_h = 0, mutual_h = 0;
};
WiresOverPlane InductanceOverPlane(const Conductor& a, const Conductor& b, double ground_depth_m);

// The path of a wire as straight pieces: collinear runs merged (points within 1% of the radius of
// the straight line between the run's ends), so the cost does not depend on how finely the path
// was cut. Indices into `path`, first and last always kept.
std::vector<std::size_t> MergedVertices(const std::vector<Point3>& path, double tolerance_m);

}  // namespace ostrel::physical
