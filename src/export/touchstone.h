#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "physical/physical_model.h"

// Touchstone 1.x S-parameters of the bond wires: a 2N-port, each wire's pad end (port 2i + 1)
// and finger end (port 2i + 2), referenced to the ground plane, 50 Ohm. With return wires, a
// (2S + 1)-port of the S signal wires' ends and the substrate's ground, referenced to the die's.
namespace ostrel {

// Most ports a Touchstone file gets: beyond a few hundred ports simulators no longer load the
// file (the data grow with the square of the port count).
constexpr std::size_t kMaxTouchstonePorts = 200;

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
// StageError above kMaxTouchstonePorts (naming --nets), without capacitance (but with return
// wires, where the capacitance is optional), or for a negative
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
