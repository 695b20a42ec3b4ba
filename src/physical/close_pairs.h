#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "physical/physical_model.h"

// Wires that come closer than a part of the model is stated to be accurate for, told in one note.
namespace ostrel::physical {

struct ClosePair {
  std::size_t wire_a = 0, wire_b = 0;  // b == a: the wire against the plane (its image)
  double measure = 0;  // how close, in the unit the note shows; 0 or less: the pair touches
                       // somewhere and is joined there, so it is not listed
  Point3 at;
};

struct ClosePairWording {
  std::string one, many;  // after the count: " wire pair runs", " wire pairs run"
  std::string rest;       // " closer than ...: their ... figures are outside ..."
  std::string plane;      // the name of the plane side, "(its image)"
  std::string pair_unit, plane_unit;
};

// One note (none when no pair is listed): the number of pairs, then the five closest as
// "A/B 1.10 d at (x, y, z)" (microns), each pair once at its closest. `names` by wire index.
std::vector<std::string> ClosePairNote(std::vector<ClosePair> close,
                                       const std::vector<std::string>& names,
                                       const ClosePairWording& wording);

}  // namespace ostrel::physical
