#pragma once

#include <Eigen/Dense>
#include <complex>
#include <cstddef>
#include <string>
#include <vector>

#include "physical/physical_model.h"

// Touchstone 1.x S-parameters of the bond wires: a 2N-port, each wire's pad end (port 2i + 1)
// and finger end (port 2i + 2), referenced to the ground plane, 50 Ohm.
namespace ostrel {

// Most ports a Touchstone file gets: beyond a few hundred ports simulators no longer load the
// file (the data grow with the square of the port count).
constexpr std::size_t kMaxTouchstonePorts = 200;

// Ladder sections per wire for the model's highest frequency: each section of the electrically
// longest wire spans at most 0.1 rad (phase constant omega sqrt(L C) of the whole wire, L its
// loop plus internal inductance, C its Maxwell self capacitance), which keeps the lumped
// ladder's phase error below 0.05%; at least 1, at most 64.
std::size_t LadderSections(const physical::Model& model);

// Admittance matrix of the 2N ports at the model's result `k`: each wire as `sections` equal pi
// sections, each section's series impedance (R(f) + j omega L_int(f)) / sections on the
// diagonal plus j omega L_loop / sections, and the shunt admittance (j omega + omega tan(delta))
// C / sections split half to each end. Throws StageError when the model has no capacitance or a
// section cannot be solved (no resistance at DC).
Eigen::MatrixXcd PortAdmittance(const physical::Model& model, std::size_t k, std::size_t sections,
                                double loss_tangent);

// S = (I + Z0 Y)^-1 (I - Z0 Y) with every port referenced to `z0_ohm`.
Eigen::MatrixXcd ScatteringFromAdmittance(const Eigen::MatrixXcd& y, double z0_ohm);

struct TouchstoneInfo {
  std::string package_name;
  std::string settings_name;
  double loss_tangent = 0;  // of the dielectric, for its conductance omega C tan(delta)
};

struct TouchstoneFile {
  std::string text;
  std::size_t sections = 0;
};

// The whole file: comments naming every port and the model, the option line "# HZ S RI R 50",
// then the frequencies of the run in increasing order (a repeated frequency once). Throws
// StageError above kMaxTouchstonePorts (naming --nets), without capacitance, or for a negative
// loss tangent. `progress` hears the fraction of the frequencies written (stage "Touchstone").
TouchstoneFile TouchstoneText(const TouchstoneInfo& info, const physical::Model& model,
                              const physical::Progress& progress = {});

// The file name extension readers expect of a file of `ports` ports: ".s<ports>p".
std::string TouchstoneExtension(std::size_t ports);

// An upper bound on the bytes of the S-parameter lines of `ports` ports at `frequencies`
// frequencies: 48 bytes for each of the ports^2 entries of a frequency, that is two numbers of
// at most 19 characters and their blanks (40), with each line's break and leading blank and
// each frequency's number spread over the entries.
double TouchstoneBytes(std::size_t ports, std::size_t frequencies);

}  // namespace ostrel
