#pragma once

#include <Eigen/Dense>
#include <cstddef>

#include "physical/physical_model.h"

// The bond wires as a 2N-port network for S-parameters: each wire a ladder of coupled pi
// sections from its pad end to its finger end, every port referenced to the ground plane.
namespace ostrel::physical {

// Ladder sections per wire for the model's highest frequency: each section of the electrically
// longest wire spans at most 0.1 rad (phase constant omega sqrt(L C) of the whole wire, L its
// loop plus internal inductance, C its Maxwell self capacitance), which keeps the lumped
// ladder's phase error below 0.05%; at least 1, at most 64.
std::size_t LadderSections(const Model& model);

// Admittance matrix of the 2N ports at the model's result `k`: each wire as `sections` equal pi
// sections, each section's series impedance (R(f) + j omega L_int(f)) / sections on the
// diagonal plus (dR + j omega (L_loop + dL)) / sections with dR and dL the loop proximity
// correction at that frequency (mutual resistance included), and the shunt admittance (j omega +
// omega tan(delta)) C / sections split half to each end. Port 2i is wire i's pad end, 2i + 1 its
// finger end. Throws StageError when the model has no capacitance or a section cannot be solved (no
// resistance at DC).
Eigen::MatrixXcd PortAdmittance(const Model& model, std::size_t k, std::size_t sections,
                                double loss_tangent);

// Admittance of the ports of a model with return wires at result `k`: every wire as `sections` pi
// sections of the partial matrices (R(f) + j omega L_int(f) on the diagonal, j omega L_partial,
// the partial proximity correction) and the capacitance matrix when there is one, its plane
// joined to the substrate; the ground wires' finger ends joined to the substrate and their pad
// ends to the die's ground D. Ports, referenced to D: 2a the pad end of signal a, 2a + 1 its
// finger end, 2S the substrate. Throws StageError without return wires or the partial matrix.
Eigen::MatrixXcd ReturnPortAdmittance(const Model& model, std::size_t k, std::size_t sections,
                                      double loss_tangent);

// S = (I + Z0 Y)^-1 (I - Z0 Y) with every port referenced to `z0_ohm`.
Eigen::MatrixXcd ScatteringFromAdmittance(const Eigen::MatrixXcd& y, double z0_ohm);

}  // namespace ostrel::physical
