#pragma once

#include <string>
#include <vector>

// Wires as chains of straight segments. Coordinates are in the path frame: package X, package Y
// with its sign inverted, height Z; all in microns.
namespace ostrel {

struct WireSegment {
  float X1 = 0, Y1 = 0, Z1 = 0;  // start
  float X2 = 0, Y2 = 0, Z2 = 0;  // end
  float Inductance = 0;          // nH; only the head (segment 0) carries one
  float Resistance = 0;          // mOhm
  float Length = 0;              // microns

  bool operator==(const WireSegment&) const = default;
};

struct Wire {
  std::string Name;  // pad name, or "(" + Pad1 + ":" + Pad2 + ")" for a stitch
  bool StackWire = false;   // starts on a stacked-die pad
  bool StitchWire = false;  // stitch wire from the stacked die to the base die
  std::vector<WireSegment> Segments;
  float InductanceDC = 0, InductanceAC = 0, InductanceMutual = 0, InductanceSelf = 0;  // nH
  float Resistance = 0;  // mOhm
  float Length = 0;      // microns
  int SourceLine = 0;    // line of the package file that gave the wire's end points

  bool operator==(const Wire&) const = default;
};

}  // namespace ostrel
