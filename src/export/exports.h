#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/parameter_set.h"
#include "geometry/wire.h"
#include "package/package_model.h"

// Exports of one estimation for the tools that come after it: a table (CSV), a structured file
// (JSON), a SPICE subcircuit of the wires and an SVG picture of the package. Each takes the
// wires exactly as the estimation left them and returns the whole text; the caller writes it.
// None of them changes the report.
namespace ostrel {

// What an export says about the run besides the wires and the package.
struct ExportHeader {
  std::string SettingsName;  // file name of the settings file (may be empty)
  std::string PackageName;   // file name of the package description file
  ParameterSet Params;
};

// "base-die", "stacked-die" or "stitch".
const char* KindName(WireKind kind);

// The shortest text that reads back as exactly this single ("0.1", "974.40186", "1e+09");
// negative zero is written "0". Throws StageError for infinity or NaN.
std::string RoundTripText(float value);

// A point of a wire in the package frame (microns): the path frame with Y turned back.
struct PackagePoint {
  float X = 0, Y = 0, Z = 0;
  bool operator==(const PackagePoint&) const = default;
};

// First and last point of a wire's path in the package frame; both zero when it has no segments.
std::array<PackagePoint, 2> WireEnds(const Wire& wire);

// Where a wire comes from in the package: the pad (base-die or stacked-die list index) or the
// stitch that gave it.
struct WireOrigin {
  WireKind Kind = WireKind::kBaseDie;
  std::size_t Index = 0;  // into ChipPads, StackPads or Stitches
};

// The origin of every wire, matched the way the estimation builds them (pads with a wire in
// list order, then stitches). Throws StageError when the wires do not belong to this package.
std::vector<WireOrigin> WireOrigins(const Package& package, const WireList& wires);

// CSV (RFC 4180, CR LF lines): a heading row, then one row per wire in report order.
std::string CsvText(const ExportHeader& header, const WireList& wires);

// JSON: file names, parameters and one object per wire in report order.
std::string JsonText(const ExportHeader& header, const WireList& wires);

// Which inductance figure the SPICE inductors carry: one of the estimation's, or the loop or the
// partial inductances of the physical model (SpiceLoopText, export/physical_export.h).
enum class SpiceInductance { kDc, kAc, kSelf, kLoop, kPartial };

// Parses "dc", "ac", "self", "loop" or "partial" (any letter case); false for anything else.
bool ParseSpiceInductance(std::string_view text, SpiceInductance& out);

struct SpiceNetlist {
  std::string Text;
  // What was changed to keep the netlist acceptable to a simulator (couplings scaled down or
  // limited), one sentence each; empty when nothing was.
  std::vector<std::string> Notes;
};

// A subcircuit with one series R-L per wire from its start pad node to its finger (or landing
// pad) node, and K couplings between neighbouring wires of one die side. Throws StageError when
// a wire's inductance is not positive, or for kLoop and kPartial.
SpiceNetlist SpiceText(const ExportHeader& header, const Package& package, const WireList& wires,
                       SpiceInductance inductance);

// SVG: top view of the dies, pads, fingers and every wire (coloured by AC inductance, with a
// legend), and a side view of the first wire of each kind.
std::string SvgText(const ExportHeader& header, const Package& package, const WireList& wires);

}  // namespace ostrel
