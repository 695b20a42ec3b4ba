#pragma once

#include <cstddef>
#include <vector>

#include "geometry/wire.h"
#include "package/package_model.h"
#include "geometry/parameter_set.h"

namespace ostrel {

// Most segments one wire may have; a wire whose final run would need more cuts ends the
// estimation with an error instead of growing without bound.
inline constexpr int kMaxSegmentsPerWire = 32767;

// Most segments all wires of one package may have together (about 10 MB of segments). Real
// packages stay far below it (thousands of wires of a dozen or two segments each); a small file
// of many long wires with a tiny cut length would otherwise grow memory and time without bound,
// one near-limit wire per line.
inline constexpr std::size_t kMaxSegmentsPerPackage = std::size_t{1} << 18;

// Segments each wire of a package adds to kMaxSegmentsPerPackage. Real wires have 6 to 10, so a
// large real package (100,000 wires) stays inside the limit, while the limit still grows only
// with the number of wire lines in the file, never with the cuts they ask for.
inline constexpr std::size_t kSegmentsPerWireAllowance = 16;

// One point of the path of the wire being built, in the path frame (microns).
struct PathPoint {
  float X = 0, Y = 0, Z = 0;
};

// Straight-line distance between two path points: each coordinate difference rounded to a
// single, the squares summed in double (X, Y, Z), the root rounded to a single.
float PointDistance(const PathPoint& a, const PathPoint& b);

// Places a new point at distance `step` from points[a] on the line towards points[b], the last
// point, which moves one slot on. Returns the distance from the new point to the last point.
float InsertPathPoint(std::vector<PathPoint>& points, std::size_t a, std::size_t b, float step);

// The edge-of-base-die extension of a stacked-die pad: the distance from its wire start to the
// base die edge of its side, measured along the line from its finger through the wire start.
// A side other than T, B, L or R (any letter case) gives 0.
float EdgeOfBaseDieExtension(const BondPad& pad, const Package& package);

// Builds every wire of the package: one per base-die pad with a wire, then one per stacked-die
// pad with a wire, then one per stitch. Each rises from its start, climbs in a rounded bend to
// the loop height, runs at that height for the loop extension towards its landing point and
// drops straight to it; the drop is cut into pieces no longer than the die and loop heights.
// Throws StageError (naming the package line) for a wire whose ends share a plan position, a
// wire past kMaxSegmentsPerWire, or wires past kMaxSegmentsPerPackage plus
// kSegmentsPerWireAllowance per wire in all.
std::vector<Wire> BuildWirePaths(const Package& package, const ParameterSet& params);

}  // namespace ostrel
