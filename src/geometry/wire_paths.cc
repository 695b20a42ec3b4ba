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

// Room for the segments of all wires of a package, and the bound on their memory: segments are
// stored in large blocks, each shared by the lists of the wires stored in it, instead of one
// allocation per wire.
class SegmentStore {
 public:
  // `wire_count` wires are to be stored; they and their segments may take `bound_bytes`.
  SegmentStore(std::size_t wire_count, std::size_t bound_bytes)
      : bound_bytes_(bound_bytes),
        segments_left_((bound_bytes - std::min(bound_bytes, wire_count * sizeof(Wire))) /
                       sizeof(WireSegment)),
        // Real wires have 6 to 10 segments: the first block holds that many for every wire.
        next_block_(std::max<std::size_t>(1024, wire_count * 10)) {}

  // True when `count` more segments stay within the bound.
  bool Fits(std::size_t count) const { return count <= segments_left_; }

  std::size_t bound_bytes() const { return bound_bytes_; }

  // Stores the `count` segments joining points[0 .. count] (count must fit).
  SegmentList Store(const std::vector<PathPoint>& points, std::size_t count) {
    if (room_ - used_ < count) NewBlock(std::max(count, std::min(next_block_, segments_left_)));
    WireSegment* const first = reinterpret_cast<WireSegment*>(block_.get()) + used_;
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
      new (first + i) WireSegment(seg);
    }
    used_ += count;
    segments_left_ -= count;
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

  std::size_t bound_bytes_;
  std::size_t segments_left_;  // what the bound still allows
  std::size_t next_block_;     // segments of the next block
  std::shared_ptr<std::byte[]> block_;
  std::size_t used_ = 0, room_ = 0;
};

// Builds one wire from its start and end in the package frame. `points` is scratch space; the
// segments go to `store`.
Wire BuildWire(Wire wire, float x1, float y1, float z1, float x2, float y2, float z2,
               const LoopShape& loop, std::vector<PathPoint>& points, SegmentStore& store) {
  // Path frame: the package Y with its sign inverted.
  const double xs = x1, ys = -y1, zs = z1;
  const double xe = x2, ye = -y2, ze = z2;

  // Plan direction from the start towards the landing point.
  const double dx = xe - xs;
  const double dy = ye - ys;
  const float d = ToSingle(std::sqrt(dx * dx + dy * dy));
  if (d == 0.0f) {
    throw StageError("its start and end share the plan position (" + FormatFixed3(x1) + ", " +
                     FormatFixed3(y1) + "); move one end of the wire bond");
  }
  const float ux = ToSingle(dx / Wide(d));
  const float uy = ToSingle(dy / Wide(d));

  const double h = loop.height;
  const double e = loop.extension;
  auto at_offset = [&](float offset, double z) {
    return PathPoint{ToSingle(xs + Wide(offset) * Wide(ux)), ToSingle(ys + Wide(offset) * Wide(uy)),
                     ToSingle(z)};
  };
  points.clear();
  points.push_back({static_cast<float>(xs), static_cast<float>(ys), static_cast<float>(zs)});
  points.push_back({static_cast<float>(xs), static_cast<float>(ys), ToSingle(zs + 0.4 * h)});
  points.push_back(at_offset(ToSingle(e / 2 * 0.1), zs + 0.6 * h));
  points.push_back(at_offset(ToSingle(e / 2 * 0.2), zs + 0.8 * h));
  points.push_back(at_offset(ToSingle(e * 0.3), zs + h));
  points.push_back(at_offset(loop.extension, zs + h));
  points.push_back({static_cast<float>(xe), static_cast<float>(ye), static_cast<float>(ze)});

  // Cut the final run into pieces of exactly S from its front; the rest is at most S long.
  // A cut length of zero or less makes no cut.
  std::size_t a = 5;
  float rest = PointDistance(points[5], points[6]);
  // What a run too long for its cut length comes from, for the messages below.
  const float run = rest;
  auto too_many = [&](const std::string& limit) {
    return StageError(limit + ": its final run of " + FormatFixed3(run) +
                      " microns is cut into pieces of at most " + FormatFixed3(loop.cut) +
                      " microns (die heights plus loop height); check the die and loop heights, "
                      "the loop extension and the wire's end points");
  };
  auto too_much_memory = [&] {
    const std::size_t bound = store.bound_bytes();
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
      if (!store.Fits(a + 2)) throw too_much_memory();
      rest = InsertPathPoint(points, a, a + 1, loop.cut);
      ++a;
    }
  }
  if (!store.Fits(a + 1)) throw too_much_memory();
  wire.Segments = store.Store(points, a + 1);
  return wire;
}

}  // namespace

float InsertPathPoint(std::vector<PathPoint>& points, std::size_t a, std::size_t b, float step) {
  const float d = PointDistance(points[a], points[b]);
  const double r = ToSingle(CheckedDivide(step, d));
  const PathPoint pa = points[a];
  const double diff_x = ToSingle(Wide(pa.X) - Wide(points[b].X));
  const double diff_y = ToSingle(Wide(pa.Y) - Wide(points[b].Y));
  const double diff_z = ToSingle(Wide(pa.Z) - Wide(points[b].Z));
  const PathPoint last = points[b];
  points.insert(points.begin() + static_cast<std::ptrdiff_t>(b) + 1, last);
  points[b] = PathPoint{ToSingle(Wide(pa.X) - r * diff_x), ToSingle(Wide(pa.Y) - r * diff_y),
                        ToSingle(Wide(pa.Z) - r * diff_z)};
  return PointDistance(points[b], points[b + 1]);
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

WireList BuildWirePaths(const Package& package, const ParameterSet& params,
                        std::size_t memory_bound_bytes) {
  const std::size_t wire_count =
      package.ChipPads.size() + package.StackPads.size() + package.Stitches.size();
  WireList wires;
  wires.reserve(wire_count);
  std::vector<PathPoint> points;
  points.reserve(16);
  SegmentStore store(wire_count, memory_bound_bytes);

  // A fault names the wire and the package line that gave its end points. Coordinates so far
  // apart that a distance or a point of the loop does not fit a single are such a fault.
  auto guarded = [&](int line, const std::string& name, auto&& build) {
    try {
      build();
    } catch (const StageError& e) {
      std::string reason = "wire " + name + ": " + e.reason();
      if (e.reason().find("too large") != std::string::npos) {
        reason += "; its coordinates, loop height or extension are too large";
      }
      throw StageError(reason, e.file().empty() ? package.SourceFile : e.file(),
                       e.line() > 0 ? e.line() : line);
    }
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
    guarded(pad.BondLine, pad.Name, [&] {
      Wire wire;
      wire.Name = pad.Name;
      wire.SourceLine = pad.BondLine;
      wires.push_back(BuildWire(std::move(wire), pad.BondX1, pad.BondY1, pad.BondZ1, pad.BondX2,
                                pad.BondY2, pad.BondZ2, base, points, store));
    });
  }

  const float stack_cut =
      cut_length(Wide(package.SdCompZ) + Wide(params.StackLoopHeight) + Wide(package.CompZ));
  for (const BondPad& pad : package.StackPads) {
    if (pad.BondX1 == 0.0f && pad.BondY1 == 0.0f) continue;
    guarded(pad.BondLine, pad.Name, [&] {
      const float extension = params.StackExtension == kEdgeOfBaseDie
                                  ? EdgeOfBaseDieExtension(pad, package)
                                  : params.StackExtension;
      Wire wire;
      wire.Name = pad.Name;
      wire.StackWire = true;
      wire.SourceLine = pad.BondLine;
      wires.push_back(BuildWire(std::move(wire), pad.BondX1, pad.BondY1, pad.BondZ1, pad.BondX2,
                                pad.BondY2, pad.BondZ2,
                                {params.StackLoopHeight, extension, stack_cut}, points, store));
    });
  }

  const LoopShape stitch{params.StackLoopHeight, params.StichExtension, stack_cut};
  for (const Stitch& s : package.Stitches) {
    guarded(s.Line, "(" + s.Pad1 + ":" + s.Pad2 + ")", [&] {
      Wire wire;
      wire.Name = "(" + s.Pad1 + ":" + s.Pad2 + ")";
      wire.StitchWire = true;
      wire.SourceLine = s.Line;
      wires.push_back(
          BuildWire(std::move(wire), s.X1, s.Y1, s.Z1, s.X2, s.Y2, s.Z2, stitch, points, store));
    });
  }
  return wires;
}

}  // namespace ostrel
