#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "physical/physical_model.h"

// The Maxwell capacitance matrix of the wires over the ground plane, in a homogeneous dielectric:
// diagonal entries are each wire's capacitance with every other wire grounded, off-diagonal
// entries are negative. Only the wire paths carry charge; the vertical connectors that close the
// inductance loops are part of the return path and are left out.
//
// Method of moments: each wire's path is cut into straight pieces of uniform line charge (finer
// towards the two ends of the wire, where the charge crowds), Galerkin potential coefficients
// P_ij = (N_ij - N_ij') / (4 pi eps l_i l_j) from the 1/R piece integrals of kernels.h, with the
// image of piece j in the plane carrying the opposite charge (N_ij'). The uneven charge around a
// wire near a neighbour or near the plane, its circumferential harmonics, is added to P from the
// exact 2-D solution of the cross-section at each piece (charge_harmonics.h). C = P^-1 summed
// over each wire's pieces, by a Cholesky solve.
namespace ostrel::physical {

// How fine the pieces are and how far couplings reach. The defaults meet the stated accuracy;
// the tests vary them to show convergence.
struct CapacitanceSettings {
  // Longest piece, as a multiple of its height above the ground plane, and an absolute bound.
  double piece_per_height = 0.5;
  double max_piece_m = 150e-6;
  // Pieces at a wire end are this many radii long and grow by `end_growth` towards the middle.
  double end_piece_radii = 1.0;
  double end_growth = 1.6;
  // The circumferential harmonics of the charge of close wires and of wires near the plane; off
  // only to measure what they do.
  bool proximity = true;
  // Wires whose paths are further apart than this do not couple: large packages are solved per
  // cluster of neighbouring wires. Its coupling is folded into each wire's capacitance to ground.
  double cutoff_m = 400e-6;
  // Up to this many pieces in all, every wire is solved in one system (no cut-off).
  std::size_t max_dense_pieces = 1800;
};

// The Maxwell capacitance matrix (farads) of `conductors` over a perfect ground plane
// `ground_depth_m` below the substrate surface (> 0), in a dielectric of relative permittivity
// `eps_r` (>= 1). Dense when the whole package is solved at once, sparse (couplings within the
// cut-off) when it is solved in clusters. Throws StageError on bad arguments, on wires that touch
// each other (the potential matrix is then not positive definite) or when cancelled.
//
// Wires listed together in `joined` (groups of wire indices) touch: they are solved as one
// conductor A, and with w_i each wire's share of A's charge (A at one volt, the others at 0),
// C_ii = w_i C_AA, C_ij = w_i w_j C_AB for wires of different conductors and 0 for wires of one
// conductor, so that the matrix sums back to the conductors' matrix.
//
// With `notes`, it receives the model notes of the run: wires closer than the stated accuracy.
SymmetricMatrix ComputeCapacitance(const std::vector<Conductor>& conductors, double ground_depth_m,
                                   double eps_r, const Progress& progress = {},
                                   const CapacitanceSettings& settings = {},
                                   const std::vector<std::vector<std::size_t>>& joined = {},
                                   std::vector<std::string>* notes = nullptr);

}  // namespace ostrel::physical
