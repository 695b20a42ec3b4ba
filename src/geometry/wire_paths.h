#pragma once

#include <cmath>
#include <cstddef>
#include <functional>
#include <vector>

#include "base/numeric.h"
#include "geometry/parameter_set.h"
#include "geometry/wire.h"
#include "package/package_model.h"

namespace ostrel {

// Most segments one wire may have; a wire whose final run would need more cuts ends the
// estimation with an error instead of growing without bound.
inline constexpr int kMaxSegmentsPerWire = 32767;

// Most memory the wires of one package and their segments may take: about 2 GB. A real
// package of a hundred thousand wires of forty segments each takes a tenth of it; a small
// file whose wires each ask for near kMaxSegmentsPerWire cuts reaches it after some thousands
// of wires and ends with an error instead of growing memory and time without bound.
inline constexpr std::size_t kMaxWireMemoryBytes = std::size_t{2} << 30;

// One point of the path of the wire being built, in the path frame (microns).
struct PathPoint {
  float X = 0, Y = 0, Z = 0;
};

// Straight-line distance between two path points: each coordinate difference rounded to a
// single, the squares summed in double (X, Y, Z), the root rounded to a single.
template <typename Arithmetic = CheckedArithmetic>
float PointDistance(const PathPoint& a, const PathPoint& b) {
  using A = Arithmetic;
  const double dx = A::Difference(a.X, b.X);
  const double dy = A::Difference(a.Y, b.Y);
  const double dz = A::Difference(a.Z, b.Z);
  return A::Single(std::sqrt(dx * dx + dy * dy + dz * dz));
}

// Places a new point at distance `step` from points[a] on the line towards points[b], the last
// point, which moves one slot on. Returns the distance from the new point to the last point.
float InsertPathPoint(std::vector<PathPoint>& points, std::size_t a, std::size_t b, float step);
// The same when PointDistance(points[a], points[b]) is known already: `a_to_b`.
float InsertPathPoint(std::vector<PathPoint>& points, std::size_t a, std::size_t b, float step,
                      float a_to_b);

// The edge-of-base-die extension of a stacked-die pad: the distance from its wire start to the
// base die edge of its side, measured along the line from its finger through the wire start.
// A side other than T, B, L or R (any letter case) gives 0.
float EdgeOfBaseDieExtension(const BondPad& pad, const Package& package);

// The points of one wire's path from its start and end in the package frame, for a loop of
// `height` and `extension` whose final run is cut into pieces of `cut` (as BuildWirePaths makes
// them), made with the arithmetic A alone: BuildWirePaths makes each path without the checks
// first and with them only where that meets a fault, which holds only while both give the same
// points. Throws StageError (or, without the checks, where a value is not finite) as a fault
// of the path itself.
template <typename Arithmetic>
std::vector<PathPoint> WirePathPoints(float x1, float y1, float z1, float x2, float y2, float z2,
                                      float height, float extension, float cut);

// Builds every wire of the package: one per base-die pad with a wire, then one per stacked-die
// pad with a wire, then one per stitch. Each rises from its start, climbs in a rounded bend to
// the loop height, runs at that height for the loop extension towards its landing point and
// drops straight to it; the drop is cut into pieces no longer than the die and loop heights.
// Throws StageError (naming the package line) for a wire whose ends share a plan position, a
// wire past kMaxSegmentsPerWire, or wires and segments that would take more than
// `memory_bound_bytes` in all.
WireList BuildWirePaths(const Package& package, const ParameterSet& params,
                        std::size_t memory_bound_bytes = kMaxWireMemoryBytes);

// The same wires, in the same order and with the same faults, each handed to `each` as soon as
// it is built instead of kept: its segments lie in room that the next wire reuses, so they are
// valid only during the call. The bound on memory counts as if every wire were kept, so a
// package that BuildWirePaths refuses is refused here too. `each` may change the wire.
void ForEachWirePath(const Package& package, const ParameterSet& params,
                     std::size_t memory_bound_bytes, const std::function<void(Wire&)>& each);

}  // namespace ostrel
