#include "geometry/wire_paths.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <new>
#include <string>

#include "base/large_pages.h"
#include "base/numeric.h"
#include "base/stage_error.h"
#include "base/text.h"

namespace ostrel {
namespace {

// What one wire needs besides its end points.
struct LoopShape {
  float height;     // H: loop height above the start
  float extension;  // E: plan run at loop height
  float cut;        // S: longest piece of the final run
};

// The bound on the memory of the wires of a package and their segments, counted as wires are
// built whether they are kept or not.
class SegmentBudget {
 public:
  // `wire_count` wires are to be built; they and their segments may take `bound_bytes`.
  SegmentBudget(std::size_t wire_count, std::size_t bound_bytes)
      : bound_bytes_(bound_bytes),
        segments_left_((bound_bytes - std::min(bound_bytes, wire_count * sizeof(Wire))) /
                       sizeof(WireSegment)) {}

  // True when `count` more segments stay within the bound.
  bool Fits(std::size_t count) const { return count <= segments_left_; }
  // Counts `count` segments (they must fit).
  void Take(std::size_t count) { segments_left_ -= count; }

  std::size_t bound_bytes() const { return bound_bytes_; }
  std::size_t segments_left() const { return segments_left_; }

 private:
  std::size_t bound_bytes_;
  std::size_t segments_left_;  // what the bound still allows
};

// The segments joining points[0 .. count], written at `out`.
void PutSegments(const std::vector<PathPoint>& points, std::size_t count, WireSegment* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const PathPoint& p = points[i];
    const PathPoint& q = points[i + 1];
    WireSegment seg;
    seg.X1 = p.X;
    seg.Y1 = p.Y;
    seg.Z1 = p.Z;
    seg.X2 = q.X;
    seg.Y2 = q.Y;
    seg.Z2 = q.Z;
    new (out + i) WireSegment(seg);
  }
}

// Room for the segments of all wires of a package: segments are stored in large blocks, each
// shared by the lists of the wires stored in it, instead of one allocation per wire.
class SegmentStore {
 public:
  explicit SegmentStore(std::size_t wire_count)
      // Real wires have 6 to 10 segments: the first block holds that many for every wire.
      : next_block_(std::max<std::size_t>(1024, wire_count * 10)) {}

  // Stores the `count` segments joining points[0 .. count]; the bound allows `segments_left`.
  SegmentList Store(const std::vector<PathPoint>& points, std::size_t count,
                    std::size_t segments_left) {
    if (room_ - used_ < count) NewBlock(std::max(count, std::min(next_block_, segments_left)));
    WireSegment* const first = reinterpret_cast<WireSegment*>(block_.get()) + used_;
    PutSegments(points, count, first);
    used_ += count;
    return SegmentList(block_, first, count);
  }

 private:
  void NewBlock(std::size_t segments) {
    // Raw memory, written once in order as wires are stored; a large block lies on large
    // pages whole.
    const std::size_t bytes = segments * sizeof(WireSegment);
    if (bytes < std::size_t{2} << 20) {
      block_ = std::make_shared_for_overwrite<std::byte[]>(bytes);
    } else {
      block_ = std::shared_ptr<std::byte[]>(static_cast<std::byte*>(AllocateLargePageMemory(bytes)),
                                            [](std::byte* p) { FreeLargePageMemory(p); });
    }
    used_ = 0;
    room_ = segments;
    next_block_ = 2 * segments;
  }

  std::size_t next_block_;  // segments of the next block
  std::shared_ptr<std::byte[]> block_;
  std::size_t used_ = 0, room_ = 0;
};

// InsertPathPoint with the arithmetic A.
template <typename A>
float InsertPoint(std::vector<PathPoint>& points, std::size_t a, std::size_t b, float step,
                  float a_to_b) {
  const double r = A::Single(A::Divide(step, a_to_b));
  const PathPoint pa = points[a];
  const double diff_x = A::Difference(pa.X, points[b].X);
  const double diff_y = A::Difference(pa.Y, points[b].Y);
  const double diff_z = A::Difference(pa.Z, points[b].Z);
  const PathPoint last = points[b];
  points.insert(points.begin() + static_cast<std::ptrdiff_t>(b) + 1, last);
  points[b] = PathPoint{A::Single(Wide(pa.X) - r * diff_x), A::Single(Wide(pa.Y) - r * diff_y),
                        A::Single(Wide(pa.Z) - r * diff_z)};
  return PointDistance<A>(points[b], points[b + 1]);
}

// Thrown by the pass without checks where a value is not finite: the checked pass then finds
// the fault and tells it.
struct NotFinite {};

// Builds the path of one wire from its start and end in the package frame into `points` and
// returns its segment count, taken from `budget`; with the arithmetic A (without its checks,
// a value that is not finite throws NotFinite before it could steer the path).
template <typename A>
std::size_t BuildWireWith(float x1, float y1, float z1, float x2, float y2, float z2,
                          const LoopShape& loop, std::vector<PathPoint>& points,
                          SegmentBudget& budget) {
  const auto finite = [](float value) {
    if (!A::kChecked && !std::isfinite(value)) throw NotFinite{};
  };
  // Path frame: the package Y with its sign inverted.
  const double xs = x1, ys = -y1, zs = z1;
  const double xe = x2, ye = -y2, ze = z2;

  // Plan direction from the start towards the landing point.
  const double dx = xe - xs;
  const double dy = ye - ys;
  const float d = A::Single(std::sqrt(dx * dx + dy * dy));
  finite(d);
  if (d == 0.0f) {
    throw StageError("its start and end share the plan position (" + FormatFixed3(x1) + ", " +
                     FormatFixed3(y1) + "); move one end of the wire bond");
  }
  const float ux = A::Single(dx / Wide(d));
  const float uy = A::Single(dy / Wide(d));

  const double h = loop.height;
  const double e = loop.extension;
  auto at_offset = [&](float offset, double z) {
    return PathPoint{A::Single(xs + Wide(offset) * Wide(ux)),
                     A::Single(ys + Wide(offset) * Wide(uy)), A::Single(z)};
  };
  points.clear();
  points.push_back({static_cast<float>(xs), static_cast<float>(ys), static_cast<float>(zs)});
  points.push_back({static_cast<float>(xs), static_cast<float>(ys), A::Single(zs + 0.4 * h)});
  points.push_back(at_offset(A::Single(e / 2 * 0.1), zs + 0.6 * h));
  points.push_back(at_offset(A::Single(e / 2 * 0.2), zs + 0.8 * h));
  points.push_back(at_offset(A::Single(e * 0.3), zs + h));
  points.push_back(at_offset(loop.extension, zs + h));
  points.push_back({static_cast<float>(xe), static_cast<float>(ye), static_cast<float>(ze)});

  // Cut the final run into pieces of exactly S from its front; the rest is at most S long.
  // A cut length of zero or less makes no cut.
  std::size_t a = 5;
  float rest = PointDistance<A>(points[5], points[6]);
  finite(rest);
  // What a run too long for its cut length comes from, for the messages below.
  const float run = rest;
  auto too_many = [&](const std::string& limit) {
    return StageError(limit + ": its final run of " + FormatFixed3(run) +
                      " microns is cut into pieces of at most " + FormatFixed3(loop.cut) +
                      " microns (die heights plus loop height); check the die and loop heights, "
                      "the loop extension and the wire's end points");
  };
  auto too_much_memory = [&] {
    const std::size_t bound = budget.bound_bytes();
    const std::string amount = bound % (std::size_t{1} << 30) == 0
                                   ? std::to_string(bound >> 30) + " GB"
                                   : std::to_string(bound) + " bytes";
    return too_many("the wires of the package and their segments would take more than " + amount +
                    " of memory");
  };
  if (loop.cut > 0.0f) {
    while (rest > loop.cut) {
      if (a + 2 > static_cast<std::size_t>(kMaxSegmentsPerWire)) {
        throw too_many("it would need more than " + std::to_string(kMaxSegmentsPerWire) +
                       " segments");
      }
      if (!budget.Fits(a + 2)) throw too_much_memory();
      // `rest` is the distance from points[a] to the last point, points[a + 1].
      rest = InsertPoint<A>(points, a, a + 1, loop.cut, rest);
      finite(rest);
      ++a;
    }
  }
  if (!budget.Fits(a + 1)) throw too_much_memory();
  for (const PathPoint& p : points) {
    finite(p.X);
    finite(p.Y);
    finite(p.Z);
  }
  return a + 1;
}

// BuildWireWith, first without the checks and, where that meets a value that is not finite or
// a fault, again with them: the same path where all is well, the same fault where it is not.
std::size_t BuildWire(float x1, float y1, float z1, float x2, float y2, float z2,
                      const LoopShape& loop, std::vector<PathPoint>& points,
                      SegmentBudget& budget) {
  try {
    return BuildWireWith<UncheckedArithmetic>(x1, y1, z1, x2, y2, z2, loop, points, budget);
  } catch (const NotFinite&) {
  } catch (const StageError&) {
  }
  return BuildWireWith<CheckedArithmetic>(x1, y1, z1, x2, y2, z2, loop, points, budget);
}

// Builds every wire of the package in order (see BuildWirePaths); hands each to
// `put(wire, points, segment_count)` with its path points, the segments not yet made.
template <typename Put>
void BuildAllWires(const Package& package, const ParameterSet& params,
                   std::size_t memory_bound_bytes, Put&& put) {
  const std::size_t wire_count =
      package.ChipPads.size() + package.StackPads.size() + package.Stitches.size();
  std::vector<PathPoint> points;
  points.reserve(16);
  SegmentBudget budget(wire_count, memory_bound_bytes);

  // A fault names the wire and the package line that gave its end points. Coordinates so far
  // apart that a distance or a point of the loop does not fit a single are such a fault.
  auto guarded = [&](int line, const std::string& name, auto&& build) {
    try {
      return build();
    } catch (const StageError& e) {
      std::string reason = "wire " + name + ": " + e.reason();
      if (e.reason().find("too large") != std::string::npos) {
        reason += "; its coordinates, loop height or extension are too large";
      }
      throw StageError(reason, e.file().empty() ? package.SourceFile : e.file(),
                       e.line() > 0 ? e.line() : line);
    }
  };
  // The wire's path, then the wire with its segments counted against the bound.
  auto finish = [&](Wire& wire, std::size_t count) {
    put(wire, points, count, budget.segments_left());
    budget.Take(count);
  };

  // S: the die heights plus the loop height, in microns.
  auto cut_length = [&](double heights) {
    try {
      return ToSingle(heights);
    } catch (const StageError&) {
      throw StageError(
          "the cut length of the wires' final run (die heights plus loop height) "
          "is too large to store as a single; check COMPZ, SD_COMPZ and the loop "
          "heights",
          package.SourceFile);
    }
  };

  const float base_height = params.BaseLoopHeight < 1.0f ? 1.0f : params.BaseLoopHeight;
  const LoopShape base{base_height, params.BaseExtension,
                       cut_length(Wide(package.CompZ) + Wide(base_height))};
  for (const BondPad& pad : package.ChipPads) {
    if (pad.BondX1 == 0.0f && pad.BondY1 == 0.0f) continue;
    const std::size_t count = guarded(pad.BondLine, pad.Name, [&] {
      return BuildWire(pad.BondX1, pad.BondY1, pad.BondZ1, pad.BondX2, pad.BondY2, pad.BondZ2, base,
                       points, budget);
    });
    Wire wire;
    wire.Name = pad.Name;
    wire.SourceLine = pad.BondLine;
    finish(wire, count);
  }

  const float stack_cut =
      cut_length(Wide(package.SdCompZ) + Wide(params.StackLoopHeight) + Wide(package.CompZ));
  for (const BondPad& pad : package.StackPads) {
    if (pad.BondX1 == 0.0f && pad.BondY1 == 0.0f) continue;
    const std::size_t count = guarded(pad.BondLine, pad.Name, [&] {
      const float extension = params.StackExtension == kEdgeOfBaseDie
                                  ? EdgeOfBaseDieExtension(pad, package)
                                  : params.StackExtension;
      return BuildWire(pad.BondX1, pad.BondY1, pad.BondZ1, pad.BondX2, pad.BondY2, pad.BondZ2,
                       {params.StackLoopHeight, extension, stack_cut}, points, budget);
    });
    Wire wire;
    wire.Name = pad.Name;
    wire.StackWire = true;
    wire.SourceLine = pad.BondLine;
    finish(wire, count);
  }

  const LoopShape stitch{params.StackLoopHeight, params.StichExtension, stack_cut};
  for (const Stitch& s : package.Stitches) {
    Wire wire;
    wire.Name = "(" + s.Pad1 + ":" + s.Pad2 + ")";
    const std::size_t count = guarded(s.Line, wire.Name, [&] {
      return BuildWire(s.X1, s.Y1, s.Z1, s.X2, s.Y2, s.Z2, stitch, points, budget);
    });
    wire.StitchWire = true;
    wire.SourceLine = s.Line;
    finish(wire, count);
  }
}

}  // namespace

float InsertPathPoint(std::vector<PathPoint>& points, std::size_t a, std::size_t b, float step) {
  return InsertPathPoint(points, a, b, step, PointDistance(points[a], points[b]));
}

float InsertPathPoint(std::vector<PathPoint>& points, std::size_t a, std::size_t b, float step,
                      float a_to_b) {
  return InsertPoint<CheckedArithmetic>(points, a, b, step, a_to_b);
}

float EdgeOfBaseDieExtension(const BondPad& pad, const Package& package) {
  const double px = Wide(pad.BondX1) - Wide(pad.FingerX);
  const double py = Wide(pad.BondY1) - Wide(pad.FingerY);
  const double q = ToSingle(std::sqrt(px * px + py * py));
  const double half_l = Wide(package.CompL) / 2.0;
  const double half_w = Wide(package.CompW) / 2.0;
  const std::string side = UpperAscii(pad.Side);
  double g = 0;
  double divisor = 0;
  if (side == "T") {
    g = Wide(pad.BondY1) - half_l;
    divisor = py;
  } else if (side == "B") {
    g = Wide(pad.BondY1) + half_l;
    divisor = py;
  } else if (side == "L") {
    g = Wide(pad.BondX1) + half_w;
    divisor = px;
  } else if (side == "R") {
    g = Wide(pad.BondX1) - half_w;
    divisor = px;
  } else {
    return 0.0f;
  }
  if (divisor == 0.0) {
    throw StageError("its finger and wire start are level across the " + side +
                     " edge, so the distance to the base die edge is undefined; choose " +
                     "a stacked loop extension other than \"Edge of Base Die\"");
  }
  const double ratio = ToSingle(g / divisor);
  return ToSingle(std::fabs(q * ratio));
}

template <typename Arithmetic>
std::vector<PathPoint> WirePathPoints(float x1, float y1, float z1, float x2, float y2, float z2,
                                      float height, float extension, float cut) {
  std::vector<PathPoint> points;
  SegmentBudget budget(1, kMaxWireMemoryBytes);
  try {
    BuildWireWith<Arithmetic>(x1, y1, z1, x2, y2, z2, {height, extension, cut}, points, budget);
  } catch (const NotFinite&) {
    throw StageError("a value of the path is not finite");
  }
  return points;
}
template std::vector<PathPoint> WirePathPoints<CheckedArithmetic>(float, float, float, float, float,
                                                                  float, float, float, float);
template std::vector<PathPoint> WirePathPoints<UncheckedArithmetic>(float, float, float, float,
                                                                    float, float, float, float,
                                                                    float);

WireList BuildWirePaths(const Package& package, const ParameterSet& params,
                        std::size_t memory_bound_bytes) {
  const std::size_t wire_count =
      package.ChipPads.size() + package.StackPads.size() + package.Stitches.size();
  WireList wires;
  wires.reserve(wire_count);
  SegmentStore store(wire_count);
  BuildAllWires(package, params, memory_bound_bytes,
                [&](Wire& wire, const std::vector<PathPoint>& points, std::size_t count,
                    std::size_t segments_left) {
                  wire.Segments = store.Store(points, count, segments_left);
                  wires.push_back(std::move(wire));
                });
  return wires;
}

void ForEachWirePath(const Package& package, const ParameterSet& params,
                     std::size_t memory_bound_bytes, const std::function<void(Wire&)>& each) {
  std::vector<WireSegment> room;
  BuildAllWires(
      package, params, memory_bound_bytes,
      [&](Wire& wire, const std::vector<PathPoint>& points, std::size_t count, std::size_t) {
        if (room.size() < count) room.resize(count);
        PutSegments(points, count, room.data());
        wire.Segments = SegmentList({}, room.data(), count);
        each(wire);
      });
}

}  // namespace ostrel
