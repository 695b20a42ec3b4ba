#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "physical/physical_model.h"

// The IBIS package model (.pkg file) of the bond wires: one pin per wire that reaches the
// substrate, with the DC resistance, loop inductance and Maxwell capacitance matrices.
namespace ostrel {

// A package pin of the model: the wire it stands for and its IBIS pin name.
struct IbisPin {
  std::size_t wire = 0;  // index into the model's conductors
  std::string name;      // 1 to 5 letters, digits or '_'
  bool renamed = false;  // the wire's own name could not serve
  bool operator==(const IbisPin&) const = default;
};

// The pins in order around the package: every wire except the stitch wires, sorted by the angle
// of its finger end around the centre of all finger ends, counter-clockwise from the lower left
// corner, so that neighbouring wires get neighbouring rows. A wire keeps its own name when that
// is a valid pin name (1 to 5 letters, digits or '_') not yet taken (letter case ignored);
// otherwise it takes the first number from its position in the list on that is free.
std::vector<IbisPin> IbisPins(const physical::Model& model);

struct IbisPackageInfo {
  std::string file_name;     // the .pkg file's own name: lower case, at most 40 characters
  std::string date;          // written under [Date]
  std::string package_name;  // package description file the wires come from
  std::string settings_name;
};

struct IbisPackage {
  std::string text;
  std::vector<std::string> notes;  // what the user should know besides the file, one sentence each
};

// The .pkg file: ASCII, lines of at most 80 characters. Resistance is the DC resistance,
// inductance the external loop matrix plus each wire's internal inductance at the run's first
// frequency, capacitance the Maxwell matrix. Throws StageError when the model has no
// capacitance, no wire reaches the substrate, or the file name breaks the IBIS rules.
IbisPackage IbisPackageText(const IbisPackageInfo& info, const physical::Model& model);

}  // namespace ostrel
