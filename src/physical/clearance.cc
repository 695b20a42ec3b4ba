#include "physical/clearance.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>

#include "base/stage_error.h"

namespace ostrel::physical {
namespace {

// Surfaces this close count as touching: rounding of a geometry given in microns, not a gap.
constexpr double kTouchM = 1e-9;
// Side of a plan grid cell. Paths are cut into pieces no longer than a cell in plan, so a piece
// lies in two by two cells (three by three when its reach is wide).
constexpr double kCellM = 250e-6;
// Two segments whose directions make sin^2 of their angle below this are taken as parallel.
constexpr double kParallel = 1e-12;
// Grid cells are counted from this offset so that their indices pack into one 64-bit key.
constexpr double kMaxCellIndex = 1e9;

Point3 Minus(const Point3& a, const Point3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double Dot(const Point3& a, const Point3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double Distance(const Point3& a, const Point3& b) {
  const Point3 d = Minus(a, b);
  return std::sqrt(Dot(d, d));
}
double Clamp01(double value) { return std::clamp(value, 0.0, 1.0); }

// A straight stretch of one wire's path.
struct Segment {
  Point3 from, to;
  std::size_t wire = 0;

  // from + s (to - from), 0 <= s <= 1.
  Point3 At(double s) const {
    return {from.x + s * (to.x - from.x), from.y + s * (to.y - from.y),
            from.z + s * (to.z - from.z)};
  }
};

// The closest points of segments a and b: a.At(s) and b.At(t) minimising their distance
// (Ericson, Real-Time Collision Detection, 5.1.9). Parallel segments meet in the middle of their
// common stretch rather than at an arbitrary end of it.
std::pair<Point3, Point3> ClosestPoints(const Segment& a, const Segment& b) {
  const Point3 d1 = Minus(a.to, a.from), d2 = Minus(b.to, b.from), r = Minus(a.from, b.from);
  const double aa = Dot(d1, d1), ee = Dot(d2, d2), f = Dot(d2, r);
  double s = 0, t = 0;
  if (aa == 0 && ee != 0) {
    t = Clamp01(f / ee);
  } else if (aa != 0) {
    const double c = Dot(d1, r);
    if (ee == 0) {
      s = Clamp01(-c / aa);
    } else {
      const double bb = Dot(d1, d2);
      const double denom = aa * ee - bb * bb;  // |d1|^2 |d2|^2 sin^2(angle)
      if (denom > kParallel * aa * ee) {
        s = Clamp01((bb * f - c * ee) / denom);
      } else {
        // b's ends lie at -c / aa and (bb - c) / aa along a; the middle of the overlap.
        const double lo = std::max(0.0, std::min(-c, bb - c) / aa);
        const double hi = std::min(1.0, std::max(-c, bb - c) / aa);
        s = lo <= hi ? (lo + hi) / 2 : 0;
      }
      t = (bb * s + f) / ee;
      if (t < 0) {
        t = 0;
        s = Clamp01(-c / aa);
      } else if (t > 1) {
        t = 1;
        s = Clamp01((bb - c) / aa);
      }
    }
  }
  return {a.At(s), b.At(t)};
}

// A piece of a segment in the grid, with its box widened by its wire's reach.
struct Piece {
  std::uint32_t segment = 0;
  Point3 lo, hi;
};

bool BoxesMeet(const Piece& p, const Piece& q) {
  return p.lo.x <= q.hi.x && q.lo.x <= p.hi.x && p.lo.y <= q.hi.y && q.lo.y <= p.hi.y &&
         p.lo.z <= q.hi.z && q.lo.z <= p.hi.z;
}

std::int64_t CellIndex(double coordinate_m, double cell_m) {
  const double index = std::floor(coordinate_m / cell_m);
  if (!(std::abs(index) < kMaxCellIndex)) {
    throw StageError("a wire path lies too far out for the clearance check");
  }
  return static_cast<std::int64_t>(index);
}

std::uint64_t CellKey(std::int64_t ix, std::int64_t iy) {
  constexpr auto kOffset = static_cast<std::int64_t>(kMaxCellIndex);
  return static_cast<std::uint64_t>(ix + kOffset) << 32 | static_cast<std::uint64_t>(iy + kOffset);
}

// True when an end of one path lies on an end of the other: the wires share a bond point.
bool SharesBondPoint(const Conductor& a, const Conductor& b) {
  const double tolerance_m = kTouchM + 1e-3 * std::min(a.radius_m, b.radius_m);
  for (const Point3& p : {a.path_m.front(), a.path_m.back()}) {
    for (const Point3& q : {b.path_m.front(), b.path_m.back()}) {
      if (Distance(p, q) <= tolerance_m) return true;
    }
  }
  return false;
}

}  // namespace

std::vector<Clearance> CheckClearance(const std::vector<Conductor>& conductors,
                                      double clearance_m) {
  if (!(clearance_m >= 0) || !std::isfinite(clearance_m)) {
    throw StageError("the clearance between wires must be 0 or more");
  }
  // A wire reaches its radius plus half the clearance: two wires whose widened boxes do not
  // meet are further apart than the clearance.
  auto reach_m = [&](std::size_t wire) {
    return conductors[wire].radius_m + clearance_m / 2 + kTouchM / 2;
  };
  // Each list is counted before it is filled, so that it takes its memory once: on 100,000
  // wires they are 0.1 GB, and grown by doubling they touched twice as much fresh memory, which
  // is most of this check's time.
  std::vector<Segment> segments;
  std::size_t segment_count = 0;
  for (const Conductor& c : conductors)
    segment_count += std::max<std::size_t>(c.path_m.size(), 2) - 1;
  segments.reserve(segment_count);
  double widest_reach_m = 0;
  for (std::size_t w = 0; w < conductors.size(); ++w) {
    const std::vector<Point3>& path = conductors[w].path_m;
    for (const Point3& p : path) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
        throw StageError("wire " + conductors[w].name + " has a path point that is not finite");
      }
    }
    if (path.size() == 1) segments.push_back({path[0], path[0], w});
    for (std::size_t k = 1; k < path.size(); ++k) segments.push_back({path[k - 1], path[k], w});
    widest_reach_m = std::max(widest_reach_m, reach_m(w));
  }
  if (segments.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw StageError("too many wire path pieces for the clearance check");
  }

  // Each segment, cut into pieces no longer than a cell in plan, listed in every cell its
  // widened piece box covers.
  const double cell_m = std::max(kCellM, 2 * widest_reach_m);
  const auto piece_count = [&](const Segment& segment) {
    const double plan_m = std::hypot(segment.to.x - segment.from.x, segment.to.y - segment.from.y);
    return std::max(1.0, std::ceil(plan_m / cell_m));
  };
  std::size_t pieces_in_all = 0;
  for (const Segment& segment : segments) {
    pieces_in_all += static_cast<std::size_t>(piece_count(segment));
  }
  std::vector<Piece> pieces;
  pieces.reserve(pieces_in_all);
  for (std::size_t s = 0; s < segments.size(); ++s) {
    const Segment& segment = segments[s];
    const double reach = reach_m(segment.wire);
    const double count = piece_count(segment);
    for (double k = 0; k < count; ++k) {
      const Point3 p = segment.At(k / count), q = segment.At((k + 1) / count);
      pieces.push_back(
          {static_cast<std::uint32_t>(s),
           {std::min(p.x, q.x) - reach, std::min(p.y, q.y) - reach, std::min(p.z, q.z) - reach},
           {std::max(p.x, q.x) + reach, std::max(p.y, q.y) + reach, std::max(p.z, q.z) + reach}});
    }
  }
  // The cells of each piece's box, as first and last index along x and y.
  const auto cell_range = [&](const Piece& piece) {
    return std::array<std::int64_t, 4>{CellIndex(piece.lo.x, cell_m), CellIndex(piece.hi.x, cell_m),
                                       CellIndex(piece.lo.y, cell_m),
                                       CellIndex(piece.hi.y, cell_m)};
  };
  std::size_t cell_count = 0;
  for (const Piece& piece : pieces) {
    const auto [x0, x1, y0, y1] = cell_range(piece);
    cell_count += static_cast<std::size_t>((x1 - x0 + 1) * (y1 - y0 + 1));
  }
  std::vector<std::pair<std::uint64_t, std::uint32_t>> cells;  // {cell key, piece}
  cells.reserve(cell_count);
  for (std::size_t index = 0; index < pieces.size(); ++index) {
    const auto [x0, x1, y0, y1] = cell_range(pieces[index]);
    for (std::int64_t ix = x0; ix <= x1; ++ix) {
      for (std::int64_t iy = y0; iy <= y1; ++iy) {
        cells.emplace_back(CellKey(ix, iy), static_cast<std::uint32_t>(index));
      }
    }
  }
  std::sort(cells.begin(), cells.end());

  // Segment pairs of two wires whose boxes meet in some cell, each pair once ({a, b}, a < b).
  std::vector<std::uint64_t> candidates;
  for (std::size_t begin = 0, end = 0; begin < cells.size(); begin = end) {
    while (end < cells.size() && cells[end].first == cells[begin].first) ++end;
    for (std::size_t i = begin; i < end; ++i) {
      const Piece& p = pieces[cells[i].second];
      for (std::size_t j = i + 1; j < end; ++j) {
        const Piece& q = pieces[cells[j].second];
        if (segments[p.segment].wire == segments[q.segment].wire || !BoxesMeet(p, q)) continue;
        const auto [a, b] = std::minmax(p.segment, q.segment);
        candidates.push_back(static_cast<std::uint64_t>(a) << 32 | b);
      }
    }
  }
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

  // The closest approach of each candidate; segments run in wire order, so a's wire comes first.
  std::vector<Clearance> found;
  for (const std::uint64_t pair : candidates) {
    const Segment& a = segments[pair >> 32];
    const Segment& b = segments[pair & 0xFFFFFFFFu];
    const auto [on_a, on_b] = ClosestPoints(a, b);
    // surface distance = axis distance - r_a - r_b
    const double surface_m =
        Distance(on_a, on_b) - conductors[a.wire].radius_m - conductors[b.wire].radius_m;
    if (!(surface_m <= clearance_m + kTouchM)) continue;
    const Point3 middle{(on_a.x + on_b.x) / 2, (on_a.y + on_b.y) / 2, (on_a.z + on_b.z) / 2};
    found.push_back({a.wire, b.wire, middle, surface_m, false});
  }
  // One entry per wire pair, its closest approach (the first segment pair among equals).
  std::stable_sort(found.begin(), found.end(), [](const Clearance& x, const Clearance& y) {
    return std::tie(x.wire_a, x.wire_b, x.clearance_m) <
           std::tie(y.wire_a, y.wire_b, y.clearance_m);
  });
  found.erase(std::unique(found.begin(), found.end(),
                          [](const Clearance& x, const Clearance& y) {
                            return x.wire_a == y.wire_a && x.wire_b == y.wire_b;
                          }),
              found.end());
  for (Clearance& c : found) {
    c.joined = SharesBondPoint(conductors[c.wire_a], conductors[c.wire_b]);
  }
  std::stable_sort(found.begin(), found.end(), [](const Clearance& x, const Clearance& y) {
    return x.clearance_m < y.clearance_m;
  });
  return found;
}

}  // namespace ostrel::physical
