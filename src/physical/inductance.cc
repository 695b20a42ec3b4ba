#include "physical/inductance.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "base/large_pages.h"
#include "base/stage_error.h"
#include "physical/kernels.h"
#include "physical/low_rank.h"
#include "physical/memory_budget.h"
#include "physical/parallel_fault.h"
#include "physical/vector3.h"
#include "physical/wire_groups.h"

namespace ostrel::physical {
namespace {

// A straight piece of a path, with the sense of its current.
struct Piece {
  Point3 a, b;  // from a to b, the sense of the current
  Point3 u;     // unit vector a -> b
  Point3 centre;
  double length = 0;
  std::array<Point3, 2> gauss2;  // the 2-point Gauss-Legendre nodes along the piece
};

// Gauss-Legendre nodes and weights on [-1, 1].
constexpr std::array<double, 2> kGauss2Nodes = {-0.577350269189625764509148780502,
                                                0.577350269189625764509148780502};
constexpr std::array<double, 4> kGauss4Nodes = {
    -0.861136311594052575223946488893, -0.339981043584856264802665759103,
    0.339981043584856264802665759103, 0.861136311594052575223946488893};
constexpr double kGauss4Weights[4] = {
    0.347854845137453857373063949222, 0.652145154862546142626936050778,
    0.652145154862546142626936050778, 0.347854845137453857373063949222};
constexpr std::array<double, 8> kGauss8Nodes = {
    -0.960289856497536231683560868569, -0.796666477413626739591553936476,
    -0.525532409916328985817739049189, -0.183434642495649804939476142360,
    0.183434642495649804939476142360,  0.525532409916328985817739049189,
    0.796666477413626739591553936476,  0.960289856497536231683560868569};
constexpr std::array<double, 8> kGauss8Weights = {
    0.101228536290376259152531354310, 0.222381034453374470544355994426,
    0.313706645877887287337962201987, 0.362683783378361982965150449277,
    0.362683783378361982965150449277, 0.313706645877887287337962201987,
    0.222381034453374470544355994426, 0.101228536290376259152531354310};

// The n-point rule's nodes and weights for n = 1, 2, 4, 8.
template <std::size_t n>
struct GaussRule;
template <>
struct GaussRule<1> {
  static constexpr std::array<double, 1> nodes = {0.0}, weights = {2.0};
};
template <>
struct GaussRule<2> {
  static constexpr std::array<double, 2> nodes = kGauss2Nodes, weights = {1.0, 1.0};
};
template <>
struct GaussRule<4> {
  static constexpr std::array<double, 4> nodes = kGauss4Nodes,
                                         weights = {kGauss4Weights[0], kGauss4Weights[1],
                                                    kGauss4Weights[2], kGauss4Weights[3]};
};
template <>
struct GaussRule<8> {
  static constexpr std::array<double, 8> nodes = kGauss8Nodes, weights = kGauss8Weights;
};

// The point of piece p at node t of [-1, 1].
Point3 NodePoint(const Piece& p, double t) { return p.centre + (0.5 * p.length * t) * p.u; }

Piece MakePiece(const Point3& a, const Point3& b) {
  Piece p;
  p.a = a, p.b = b;
  p.centre = 0.5 * (a + b);
  p.length = Norm(b - a);
  p.u = (1 / p.length) * (b - a);
  for (std::size_t i = 0; i < 2; ++i) p.gauss2[i] = NodePoint(p, kGauss2Nodes[i]);
  return p;
}

// A wire closed to the ground plane: an up connector from the plane to the wire's start, the
// wire's pieces, a down connector from its end to the plane; and the images of all of them in
// the plane, each in the sense its image current flows (horizontal parts reversed).
struct WireLoop {
  std::vector<Piece> pieces;
  std::size_t wire_begin = 0, wire_end = 0;  // the wire's own pieces within `pieces`
  std::vector<Piece> images;
  double radius_m = 0;
  Point3 centre;       // of the wire's plan extent
  double reach_m = 0;  // every piece and image lies within this distance of `centre` in plan
  double area_m2 = 0;  // area of the closed loop (wire, connectors, return along the plane)
  // For wire pairs so far apart that every piece pair takes the 1-point rule: the middles and
  // length-weighted directions of the pieces, then of the images, coordinate by coordinate so
  // that a piece's terms against all of another wire's are computed side by side; a bounding
  // sphere of both.
  std::vector<double> middle_x, middle_y, middle_z, moment_x, moment_y, moment_z;
  Point3 sphere_centre;
  double sphere_radius_m = 0, longest_m = 0;
};

double PointToSegment(const Point3& p, const Point3& a, const Point3& b) {
  const Point3 ab = b - a;
  const double len2 = Dot(ab, ab);
  const double t = len2 > 0 ? std::clamp(Dot(p - a, ab) / len2, 0.0, 1.0) : 0.0;
  return Norm(p - (a + t * ab));
}

// `posts`: the vertical connectors from the wire's ends down to the plane close the loop; without
// them the path is the wire alone over the plane (its image still mirrored in the plane).
WireLoop BuildLoop(const Conductor& c, double depth_m, bool posts = true) {
  WireLoop loop;
  loop.radius_m = c.radius_m;
  if (c.path_m.size() < 2) return loop;
  const auto plane = [&](const Point3& p) { return Point3{p.x, p.y, -depth_m}; };
  const auto mirror = [&](const Point3& p) { return Point3{p.x, p.y, -2 * depth_m - p.z}; };
  const Point3 start = c.path_m.front(), end = c.path_m.back();
  if (posts && start.z > -depth_m) loop.pieces.push_back(MakePiece(plane(start), start));
  loop.wire_begin = loop.pieces.size();
  const std::vector<std::size_t> keep = MergedVertices(c.path_m, 0.01 * c.radius_m);
  for (std::size_t k = 1; k < keep.size(); ++k) {
    const Point3 &a = c.path_m[keep[k - 1]], &b = c.path_m[keep[k]];
    if (Norm(b - a) > 0) loop.pieces.push_back(MakePiece(a, b));
  }
  loop.wire_end = loop.pieces.size();
  if (posts && end.z > -depth_m) loop.pieces.push_back(MakePiece(end, plane(end)));
  for (const Piece& p : loop.pieces) loop.images.push_back(MakePiece(mirror(p.b), mirror(p.a)));
  // Plan extent and loop area (half the cross products around the closed polygon).
  double x_lo = start.x, x_hi = start.x, y_lo = start.y, y_hi = start.y;
  for (const Point3& p : c.path_m) {
    x_lo = std::min(x_lo, p.x), x_hi = std::max(x_hi, p.x);
    y_lo = std::min(y_lo, p.y), y_hi = std::max(y_hi, p.y);
  }
  loop.centre = {(x_lo + x_hi) / 2, (y_lo + y_hi) / 2, 0};
  loop.reach_m = std::hypot(x_hi - x_lo, y_hi - y_lo) / 2 + c.radius_m;
  Point3 twice_area;
  const Point3 origin = plane(start);
  for (const Piece& p : loop.pieces) twice_area = twice_area + Cross(p.a - origin, p.b - origin);
  loop.area_m2 = Norm(twice_area) / 2;
  Point3 sum;
  for (const auto* list : {&loop.pieces, &loop.images}) {
    for (const Piece& p : *list) {
      const Point3 moment = p.length * p.u;
      loop.middle_x.push_back(p.centre.x), loop.moment_x.push_back(moment.x);
      loop.middle_y.push_back(p.centre.y), loop.moment_y.push_back(moment.y);
      loop.middle_z.push_back(p.centre.z), loop.moment_z.push_back(moment.z);
      loop.longest_m = std::max(loop.longest_m, p.length);
      sum = sum + p.centre;
    }
  }
  loop.sphere_centre = (1.0 / double(loop.middle_x.size())) * sum;
  for (const Piece& p : loop.pieces) {
    for (const Point3& e : {p.a, p.b}) {
      loop.sphere_radius_m = std::max(loop.sphere_radius_m, Norm(e - loop.sphere_centre));
    }
  }
  for (const Piece& p : loop.images) {
    for (const Point3& e : {p.a, p.b}) {
      loop.sphere_radius_m = std::max(loop.sphere_radius_m, Norm(e - loop.sphere_centre));
    }
  }
  return loop;
}

// The 16 terms w_i w_j / |r_i - s_j|: the distances side by side (coordinate by coordinate, as
// NodePoint and Norm compute them), each row's four inverses summed as one quotient
// (WeightedInverseSum; the four rows side by side), the rows in order: compiled for AVX2 as
// well, chosen when the program starts, with the same bits on any processor.
[[gnu::target_clones("avx2", "default")]] double GaussPair4(const Piece& p, const Piece& q) {
  double rx[4], ry[4], rz[4], sx[4], sy[4], sz[4];
  for (std::size_t i = 0; i < 4; ++i) {
    const double tp = 0.5 * p.length * kGauss4Nodes[i], tq = 0.5 * q.length * kGauss4Nodes[i];
    rx[i] = p.centre.x + tp * p.u.x, ry[i] = p.centre.y + tp * p.u.y,
    rz[i] = p.centre.z + tp * p.u.z;
    sx[i] = q.centre.x + tq * q.u.x, sy[i] = q.centre.y + tq * q.u.y,
    sz[i] = q.centre.z + tq * q.u.z;
  }
  double sum = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    double apart[4];
    for (std::size_t j = 0; j < 4; ++j) {
      const double dx = rx[i] - sx[j], dy = ry[i] - sy[j], dz = rz[i] - sz[j];
      apart[j] = std::sqrt(dx * dx + dy * dy + dz * dz);
    }
    sum += kGauss4Weights[i] * WeightedInverseSum(apart, kGauss4Weights);
  }
  return sum * p.length * q.length / 4;
}

// The 2-point rule (unit weights) from the pieces' own nodes: its four terms side by side, then
// summed in order (as GaussPair4, for AVX2 too).
[[gnu::target_clones("avx2", "default")]] double GaussPair2(const Piece& p, const Piece& q) {
  double term[4];
  for (std::size_t i = 0; i < 2; ++i) {
    for (std::size_t j = 0; j < 2; ++j) {
      const Point3 &r = p.gauss2[i], &s = q.gauss2[j];
      const double dx = r.x - s.x, dy = r.y - s.y, dz = r.z - s.z;
      term[2 * i + j] = 1 / std::sqrt(dx * dx + dy * dy + dz * dz);
    }
  }
  double sum = 0;
  for (const double t : term) sum += t;
  return sum * p.length * q.length / 4;
}

// The product of the n-point rule along p and the m-point rule along q (n >= m): p's nodes
// coordinate by coordinate (as NodePoint computes them), then for each of q's nodes p's
// weighted inverses side by side, summed four at a time as one quotient (WeightedInverseSum).
template <std::size_t n, std::size_t m>
[[gnu::always_inline]] inline double GaussProductBody(const Piece& p, const Piece& q) {
  constexpr std::size_t kBlock = std::min<std::size_t>(n, 4);
  double rx[n], ry[n], rz[n];
  for (std::size_t i = 0; i < n; ++i) {
    const double t = 0.5 * p.length * GaussRule<n>::nodes[i];
    rx[i] = p.centre.x + t * p.u.x, ry[i] = p.centre.y + t * p.u.y, rz[i] = p.centre.z + t * p.u.z;
  }
  double sum = 0;
  for (std::size_t j = 0; j < m; ++j) {
    const Point3 s = NodePoint(q, GaussRule<m>::nodes[j]);
    double column = 0;
    for (std::size_t first = 0; first < n; first += kBlock) {
      double apart[kBlock], weight[kBlock];
      for (std::size_t i = 0; i < kBlock; ++i) {
        const double dx = rx[first + i] - s.x, dy = ry[first + i] - s.y, dz = rz[first + i] - s.z;
        apart[i] = std::sqrt(dx * dx + dy * dy + dz * dz);
        weight[i] = GaussRule<n>::weights[first + i];
      }
      column += WeightedInverseSum(apart, weight);
    }
    sum += GaussRule<m>::weights[j] * column;
  }
  return sum * p.length * q.length / 4;
}

// The rules of n points along p and m < n along q, each its own function (for AVX2 too, as
// GaussPair4); 2 by 1 the most frequent, from the pieces' own nodes.
double GaussPair2By1(const Piece& p, const Piece& q) {
  return (1 / Norm(p.gauss2[0] - q.centre) + 1 / Norm(p.gauss2[1] - q.centre)) * p.length *
         q.length / 2;
}
[[gnu::target_clones("avx2", "default")]] double GaussPair4By1(const Piece& p, const Piece& q) {
  return GaussProductBody<4, 1>(p, q);
}
[[gnu::target_clones("avx2", "default")]] double GaussPair4By2(const Piece& p, const Piece& q) {
  return GaussProductBody<4, 2>(p, q);
}
[[gnu::target_clones("avx2", "default")]] double GaussPair8By1(const Piece& p, const Piece& q) {
  return GaussProductBody<8, 1>(p, q);
}
[[gnu::target_clones("avx2", "default")]] double GaussPair8By2(const Piece& p, const Piece& q) {
  return GaussProductBody<8, 2>(p, q);
}
[[gnu::target_clones("avx2", "default")]] double GaussPair8By4(const Piece& p, const Piece& q) {
  return GaussProductBody<8, 4>(p, q);
}
[[gnu::target_clones("avx2", "default")]] double GaussPair8By8(const Piece& p, const Piece& q) {
  return GaussProductBody<8, 8>(p, q);
}

// The product rule of n points along p and m along q, n and m of 1, 2, 4, 8 (not both 1).
double GaussProduct(const Piece& p, int n, const Piece& q, int m) {
  using PairRule = double (*)(const Piece&, const Piece&);
  // By the rules' points, more then fewer, as powers of two.
  static const PairRule rules[4][4] = {
      {},
      {GaussPair2By1, GaussPair2},
      {GaussPair4By1, GaussPair4By2, GaussPair4},
      {GaussPair8By1, GaussPair8By2, GaussPair8By4, GaussPair8By8}};
  const auto power = [](int points) { return std::bit_width(unsigned(points)) - 1; };
  return n >= m ? rules[power(n)][power(m)](p, q) : rules[power(m)][power(n)](q, p);
}

// The least apart / l from which a piece takes 1, 2, 4 and 8 points, where every point of the
// other piece lies at least `apart` from the piece's middle. Along the piece the kernel's
// singularities then lie outside the ellipse with foci at the piece's ends and semi-major axis
// `apart`, which bounds the rule's error, the worst where the other piece is short and in line.
// Each piece takes its own points, so a short piece beside a long one takes fewer, and a long one
// beside a short one 8 where two long ones need the closed form; beside a piece of 4 or more points
// the other takes 1 point only from farther out, so that a near pair keeps the accuracy of the
// 4-point rule.
using RuleStarts = std::array<double, 4>;
constexpr RuleStarts kRuleStarts = {12, 2, 1.2, 0.6};
constexpr RuleStarts kNearRuleStarts = {22, 2, 1.2, 0.6};

int RulePoints(double apart, double l, const RuleStarts& from) {
  return apart >= from[0] * l   ? 1
         : apart >= from[1] * l ? 2
         : apart >= from[2] * l ? 4
         : apart >= from[3] * l ? 8
                                : 0;
}

// N of two pieces: Gauss-Legendre product rules when far (each piece's points by RulePoints;
// with D the distance of the centres, the other piece lies at least D - l_other / 2 from a
// piece's middle), the closed form when near. The rules' largest errors over random pieces
// are in docs/physical.md.
// With `d` the distance of the pieces' centres.
inline double PieceIntegralAt(const Piece& p, const Piece& q, double d, bool exact_only) {
  if (exact_only) return FilamentPairIntegral(p.a, p.b, q.a, q.b);
  // Both pieces at the points the longer one asks for, against D: 1 from 12 l, 2 from 2 l, 4
  // from 1.2 l; where the pieces' own points cost fewer terms, those.
  const double l = std::max(p.length, q.length);
  const int n_both = d >= 12 * l ? 1 : d >= 2 * l ? 2 : d >= 1.2 * l ? 4 : 0;
  if (n_both == 1) return p.length * q.length / d;
  const double apart_p = d - 0.5 * q.length, apart_q = d - 0.5 * p.length;
  int np = RulePoints(apart_p, p.length, kRuleStarts);
  int nq = RulePoints(apart_q, q.length, kRuleStarts);
  if (np == 1 && nq == 1) return p.length * q.length / d;
  if (np > 0 && nq > 0 && np != nq && std::max(np, nq) >= 4) {
    if (np < nq) {
      np = RulePoints(apart_p, p.length, kNearRuleStarts);
    } else {
      nq = RulePoints(apart_q, q.length, kNearRuleStarts);
    }
  }
  if (n_both > 0 && (np == 0 || nq == 0 || n_both * n_both <= np * nq)) {
    return n_both == 2 ? GaussPair2(p, q) : GaussPair4(p, q);
  }
  if (np > 0 && nq > 0) return GaussProduct(p, np, q, nq);
  return FilamentPairIntegral(p.a, p.b, q.a, q.b);
}

double PieceIntegral(const Piece& p, const Piece& q, bool exact_only) {
  return PieceIntegralAt(p, q, Norm(p.centre - q.centre), exact_only);
}

// (u_p . u_q) N for two pieces of one wire's closed path (or of the path and its image) that
// continue each other head to tail. The filament integral at the shared vertex counts the
// current as if on the axis; for a straight continuation the surface current gives exactly
// [S(l1 + l2) - S(l1) - S(l2)] / 2, which differs by about -a. The difference is weighted by the
// cosine of the turn: whole for a straight run, none at a right angle or sharper.
double ContinuingTerm(const Piece& p, const Piece& q, double radius_m) {
  const double c = Dot(p.u, q.u);
  const double filament = FilamentPairIntegral(p.a, p.b, q.a, q.b);
  if (c <= 0) return c * filament;
  const double l1 = p.length, l2 = q.length;
  const double surface = (SurfaceSelfIntegral(l1 + l2, radius_m) -
                          SurfaceSelfIntegral(l1, radius_m) - SurfaceSelfIntegral(l2, radius_m)) /
                         2;
  const double filament_straight = l1 * std::log((l1 + l2) / l1) + l2 * std::log((l1 + l2) / l2);
  return c * (filament + c * (surface - filament_straight));
}

bool Continues(const Piece& p, const Piece& q) {
  const double touch = 1e-12 * (p.length + q.length);
  return Norm(p.b - q.a) <= touch || Norm(q.b - p.a) <= touch;
}

struct PairSums {
  double partial = 0, loop = 0;  // henries
};

// Partial self (the wire's pieces) and loop self (closed path and its image) of one wire:
// surface self terms of each piece plus all piece-to-piece terms (Ruehli's partial inductance).
PairSums SelfInductance(const WireLoop& w, bool exact_only) {
  const auto path_sum = [&](std::size_t begin, std::size_t end) {
    double sum = 0;
    for (std::size_t p = begin; p < end; ++p) {
      sum += SurfaceSelfIntegral(w.pieces[p].length, w.radius_m);
      for (std::size_t q = p + 1; q < end; ++q) {
        const Piece &a = w.pieces[p], &b = w.pieces[q];
        sum += 2 * (Continues(a, b) ? ContinuingTerm(a, b, w.radius_m)
                                    : Dot(a.u, b.u) * PieceIntegral(a, b, exact_only));
      }
    }
    return sum;
  };
  // The closed path with its image: Lp(P, P) - Lp(P, mirror(P)), the image terms in the sense
  // of the image current.
  double images = 0;
  for (const Piece& a : w.pieces) {
    for (const Piece& b : w.images) {
      images += Continues(a, b) ? ContinuingTerm(a, b, w.radius_m)
                                : Dot(a.u, b.u) * PieceIntegral(a, b, exact_only);
    }
  }
  return {kMu0Over4PiHPerM * path_sum(w.wire_begin, w.wire_end),
          kMu0Over4PiHPerM * (path_sum(0, w.pieces.size()) + images)};
}

// N of pieces of two different wires: where their surfaces come closer than the sum of the
// radii (wires from one pad, a stitch on a ball, wires that cross), the surface-current kernel of
// FilamentPairIntegral with the spread of their closest approach; otherwise PieceIntegral.
[[gnu::noinline]] double ContactIntegral(const Piece& p, double rp, const Piece& q, double rq,
                                         double d, bool exact_only, int depth = 0) {
  const double contact = rp + rq;
  const double gap = ClosestApproach(p.a, p.b, q.a, q.b).distance_m;
  if (!(gap < contact)) return PieceIntegralAt(p, q, d, exact_only);
  // Pieces that meet at an angle touch only near one point: the longer one is halved until the
  // halves that touch are a few radii long, so that the surface kernel's spread stays where the
  // wires meet and the rest takes the filament integral. Parallel pieces keep it all along.
  const Piece& longer = p.length >= q.length ? p : q;
  const Piece& other = p.length >= q.length ? q : p;
  const double r_longer = p.length >= q.length ? rp : rq, r_other = p.length >= q.length ? rq : rp;
  if (Norm(Cross(p.u, q.u)) > 0.05 && longer.length > 2 * contact && depth < 24) {
    const Point3 middle = 0.5 * (longer.a + longer.b);
    double sum = 0;
    for (const Piece& half : {MakePiece(longer.a, middle), MakePiece(middle, longer.b)}) {
      sum += ContactIntegral(half, r_longer, other, r_other, Norm(half.centre - other.centre),
                             exact_only, depth + 1);
    }
    return sum;
  }
  return FilamentPairIntegral(p.a, p.b, q.a, q.b, CrossSectionSpread(gap, rp, rq));
}

// With `d` the distance of the pieces' middles.
inline double WirePairIntegral(const Piece& p, double rp, const Piece& q, double rq, double d,
                               bool exact_only) {
  if (d < 0.5 * (p.length + q.length) + rp + rq)
    return ContactIntegral(p, rp, q, rq, d, exact_only);
  return PieceIntegralAt(p, q, d, exact_only);
}

// The distances from `centre` to the middles first .. first + count of v's pieces and images.
// Compiled for AVX2 as well, chosen when the program starts: the same operations in the same
// order element by element, so the same bits on any processor.
[[gnu::target_clones("avx2", "default")]] void CentreDistances(const Point3& centre,
                                                               const WireLoop& v, std::size_t first,
                                                               std::size_t count, double* out) {
  const double *x = &v.middle_x[first], *y = &v.middle_y[first], *z = &v.middle_z[first];
  for (std::size_t k = 0; k < count; ++k) {
    const double dx = centre.x - x[k], dy = centre.y - y[k], dz = centre.z - z[k];
    out[k] = std::sqrt(dx * dx + dy * dy + dz * dz);
  }
}

// The 1-point terms (m_p . m_q) / |c_p - c_q| of piece p of w against v's pieces and images
// first .. first + count (as CentreDistances, for AVX2 too).
[[gnu::target_clones("avx2", "default")]] void OnePointTerms(const WireLoop& w, std::size_t p,
                                                             const WireLoop& v, std::size_t first,
                                                             std::size_t count, double* out) {
  const double x = w.middle_x[p], y = w.middle_y[p], z = w.middle_z[p];
  const double mx = w.moment_x[p], my = w.moment_y[p], mz = w.moment_z[p];
  const double *vx = &v.middle_x[first], *vy = &v.middle_y[first], *vz = &v.middle_z[first];
  const double *vmx = &v.moment_x[first], *vmy = &v.moment_y[first], *vmz = &v.moment_z[first];
  for (std::size_t k = 0; k < count; ++k) {
    const double dx = x - vx[k], dy = y - vy[k], dz = z - vz[k];
    out[k] = (mx * vmx[k] + my * vmy[k] + mz * vmz[k]) / std::sqrt(dx * dx + dy * dy + dz * dz);
  }
}

// Partial and loop mutual of two different wires; without `loop_too` the partial alone (the
// same sums, so the same bits, with the connectors and images left out).
template <bool loop_too = true>
PairSums MutualInductance(const WireLoop& w, const WireLoop& v, bool exact_only) {
  double partial = 0, loop = 0;
  const double gap =
      Norm(w.sphere_centre - v.sphere_centre) - w.sphere_radius_m - v.sphere_radius_m;
  const std::size_t p_begin = loop_too ? 0 : w.wire_begin;
  const std::size_t p_end = loop_too ? w.pieces.size() : w.wire_end;
  if (!exact_only && gap >= 12 * std::max(w.longest_m, v.longest_m)) {
    // Every piece pair is at least 12 piece lengths apart: the 1-point rule of PieceIntegral
    // for all of them, (l_p u_p . l_q u_q) / D.
    const std::size_t q_begin = loop_too ? 0 : v.wire_begin;
    const std::size_t q_end = loop_too ? v.middle_x.size() : v.wire_end;
    constexpr std::size_t kRun = 32;
    std::array<double, kRun> terms;
    for (std::size_t p = p_begin; p < p_end; ++p) {
      const bool p_wire = p >= w.wire_begin && p < w.wire_end;
      // The terms of a run of v's pieces side by side (no sum among them), then summed in the
      // pieces' order.
      for (std::size_t first = q_begin; first < q_end; first += kRun) {
        const std::size_t count = std::min(kRun, q_end - first);
        OnePointTerms(w, p, v, first, count, terms.data());
        if (loop_too) {
          for (std::size_t k = 0; k < count; ++k) loop += terms[k];
        }
        if (!p_wire) continue;
        // The wires' own pieces of the run.
        const std::size_t q_lo = std::max(first, v.wire_begin);
        const std::size_t q_hi = std::min(first + count, v.wire_end);
        for (std::size_t q = q_lo; q < q_hi; ++q) partial += terms[q - first];
      }
    }
    return {kMu0Over4PiHPerM * partial, kMu0Over4PiHPerM * loop};
  }
  const std::size_t q_begin = loop_too ? 0 : v.wire_begin;
  const std::size_t q_end = loop_too ? v.pieces.size() : v.wire_end;
  const std::size_t images = v.pieces.size();  // the images' middles follow the pieces'
  constexpr std::size_t kRun = 32;
  std::array<double, 2 * kRun> distances;
  for (std::size_t p = p_begin; p < p_end; ++p) {
    const Piece& a = w.pieces[p];
    const bool p_wire = p >= w.wire_begin && p < w.wire_end;
    for (std::size_t first = q_begin; first < q_end; first += kRun) {
      const std::size_t count = std::min(kRun, q_end - first);
      // The distances of the middles for a run of v's pieces (and their images) side by side:
      // all of v's pieces and then all their images in one go where the run holds them all.
      const double* to_piece = distances.data();
      const double* to_image = distances.data() + count;
      if (!loop_too) {
        CentreDistances(a.centre, v, first, count, distances.data());
      } else if (count == images) {
        CentreDistances(a.centre, v, 0, 2 * count, distances.data());
      } else {
        CentreDistances(a.centre, v, first, count, distances.data());
        CentreDistances(a.centre, v, images + first, count, distances.data() + count);
      }
      for (std::size_t k = 0; k < count; ++k) {
        // A piece at a right angle to b can still meet b's image at another angle (tilted
        // pieces): each term is skipped only when its own directions are perpendicular.
        const std::size_t q = first + k;
        const Piece& b = v.pieces[q];
        const double dot = Dot(a.u, b.u);
        if (dot != 0) {
          const double term =
              dot * WirePairIntegral(a, w.radius_m, b, v.radius_m, to_piece[k], exact_only);
          loop += term;
          if (p_wire && q >= v.wire_begin && q < v.wire_end) partial += term;
        }
        if (!loop_too) continue;
        const Piece& image = v.images[q];
        const double image_dot = Dot(a.u, image.u);
        if (image_dot != 0) {
          loop += image_dot *
                  WirePairIntegral(a, w.radius_m, image, v.radius_m, to_image[k], exact_only);
        }
      }
    }
  }
  return {kMu0Over4PiHPerM * partial, kMu0Over4PiHPerM * loop};
}

void Report(const Progress& progress, const char* stage, double fraction) {
  if (progress.cancel && progress.cancel->load()) throw StageError("cancelled");
  if (progress.report) progress.report(stage, fraction);
}

constexpr std::size_t kRowBlock = 64;  // rows between progress reports and cancel checks

// The loop matrix of a package too large for dense matrices: each wire against the wires whose
// plan centres lie within the pair's reach, beyond which a magnetic-dipole estimate of their loop
// coupling, k ~ 8e-7 A_i A_j / (r^3 sqrt(L_ii L_jj)) (the loop and its image as one dipole, with
// a factor 2 to spare), is below the cut-off, and at least four wire spans; couplings |k| <
// cut-off are dropped. Each pair takes its own areas and self inductances: the largest wires'
// reach would pair the common small ones over three times as many partners.
InductanceMatrices SparseLoop(const std::vector<WireLoop>& loops, const std::vector<PairSums>& self,
                              double cutoff, const Progress& progress,
                              const InductanceSettings& settings, std::size_t n) {
  double area_max = 0, loop_min = std::numeric_limits<double>::max(), reach_max = 0;
  for (std::size_t i = 0; i < n; ++i) {
    area_max = std::max(area_max, loops[i].area_m2);
    if (self[i].loop > 0) loop_min = std::min(loop_min, self[i].loop);
    reach_max = std::max(reach_max, loops[i].reach_m);
  }
  const double strength = 8e-7 / std::max(cutoff, 1e-12);
  const double dipole_m = std::cbrt(strength * area_max * area_max / loop_min);
  // The largest reach of any pair.
  const double reach_m = std::max({dipole_m, 4 * reach_max, 1e-6});
  // A pair is within its reach when r^3 <= strength g_i g_j, g = A / sqrt(L) (a wire without a
  // positive self inductance takes the least of the others), or r <= 4 times its larger span.
  std::vector<double> dipole(n);
  for (std::size_t i = 0; i < n; ++i) {
    dipole[i] = loops[i].area_m2 / std::sqrt(self[i].loop > 0 ? self[i].loop : loop_min);
  }
  const auto within_reach = [&](std::size_t i, std::size_t j) {
    const double r = Norm(loops[j].centre - loops[i].centre);
    return r <= std::max(4 * std::max(loops[i].reach_m, loops[j].reach_m), 1e-6) ||
           r * r * r <= strength * dipole[i] * dipole[j];
  };
  // Plan grid of cells of the reach: a wire's partners lie in its own and the 8 cells around.
  const auto cell_of = [&](const Point3& p) {
    return std::pair<std::int64_t, std::int64_t>{std::int64_t(std::floor(p.x / reach_m)),
                                                 std::int64_t(std::floor(p.y / reach_m))};
  };
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::pair(cell_of(loops[a].centre), a) < std::pair(cell_of(loops[b].centre), b);
  });
  const auto cell_range = [&](std::pair<std::int64_t, std::int64_t> cell) {
    const auto lo = std::lower_bound(order.begin(), order.end(), cell, [&](std::size_t a, auto c) {
      return cell_of(loops[a].centre) < c;
    });
    const auto hi = std::upper_bound(
        lo, order.end(), cell, [&](auto c, std::size_t a) { return c < cell_of(loops[a].centre); });
    return std::pair(lo, hi);
  };
  std::vector<std::vector<SymmetricMatrix::Entry>> kept(n);
  // Each dropped coupling's magnitude, added to both of its wires below; the couplings are kept
  // only for one run of rows at a time (a wire can have thousands within the reach).
  std::vector<std::vector<std::pair<std::size_t, double>>> dropped(kRowBlock);
  std::vector<double> dropped_sum(n, 0.0);
  std::size_t dropped_count = 0;
  for (std::size_t block = 0; block < n; block += kRowBlock) {
    Report(progress, "loop inductance", double(block) / double(n));
    const std::size_t block_end = std::min(n, block + kRowBlock);
    ParallelFault fault;
#pragma omp parallel for schedule(dynamic, 1)
    for (std::size_t i = block; i < block_end; ++i)
      fault.Run([&] {
        const auto [cx, cy] = cell_of(loops[i].centre);
        std::vector<std::size_t> partners;
        for (std::int64_t dx = -1; dx <= 1; ++dx) {
          for (std::int64_t dy = -1; dy <= 1; ++dy) {
            const auto [lo, hi] = cell_range({cx + dx, cy + dy});
            for (auto it = lo; it != hi; ++it) {
              if (*it < i && within_reach(i, *it)) {
                partners.push_back(*it);
              }
            }
          }
        }
        std::sort(partners.begin(), partners.end());
        for (std::size_t j : partners) {
          const double m = MutualInductance(loops[i], loops[j], settings.exact_only).loop;
          if (std::abs(m) >= cutoff * std::sqrt(self[i].loop * self[j].loop)) {
            kept[i].push_back({i, j, m});
          } else {
            dropped[i - block].push_back({j, std::abs(m)});
          }
        }
        kept[i].push_back({i, i, self[i].loop});
      });
    fault.Rethrow();
    // In the order of the rows, so that no thread count changes a bit.
    for (std::size_t i = block; i < block_end; ++i) {
      for (const auto& [j, magnitude] : dropped[i - block]) {
        dropped_sum[i] += magnitude;
        dropped_sum[j] += magnitude;
        ++dropped_count;
      }
      dropped[i - block].clear();
    }
  }
  Report(progress, "loop inductance", 1.0);
  InductanceMatrices out;
  SymmetricMatrix& loop = out.loop_h;
  loop.n = n;
  loop.dense = false;
  std::size_t entries = 0;
  for (const auto& row : kept) entries += row.size();
  loop.entries.reserve(entries);  // no room to spare in the largest array of the run
  AdviseLargePages(loop.entries.data(), entries * sizeof(SymmetricMatrix::Entry));
  for (auto& row : kept) {
    loop.entries.insert(loop.entries.end(), row.begin(), row.end());
    row = {};
  }
  out.notes.push_back("the partial inductance matrix is left out: " + std::to_string(n) +
                      " wires are too many for a dense one, and its couplings do not decay "
                      "fast enough to cut");
  out.notes.push_back("loop couplings with |k| < " + std::to_string(cutoff) + " dropped (" +
                      std::to_string(dropped_count) + " pairs within their reach, at most " +
                      std::to_string(reach_m * 1e6) + " um, and all pairs beyond)");
  out.loop_dropped_h = std::move(dropped_sum);
  return out;
}

}  // namespace

std::vector<std::size_t> MergedVertices(const std::vector<Point3>& path, double tolerance_m) {
  if (path.size() < 3) {
    std::vector<std::size_t> all(path.size());
    for (std::size_t k = 0; k < all.size(); ++k) all[k] = k;
    return all;
  }
  // Douglas-Peucker: a run is kept straight when every point lies within the tolerance of the
  // piece between its ends; otherwise it is split at the farthest point.
  std::vector<bool> kept(path.size(), false);
  kept.front() = kept.back() = true;
  std::vector<std::pair<std::size_t, std::size_t>> runs = {{0, path.size() - 1}};
  while (!runs.empty()) {
    const auto [first, last] = runs.back();
    runs.pop_back();
    double farthest = 0;
    std::size_t at = first;
    for (std::size_t k = first + 1; k < last; ++k) {
      const double d = PointToSegment(path[k], path[first], path[last]);
      if (d > farthest) farthest = d, at = k;
    }
    if (farthest > tolerance_m) {
      kept[at] = true;
      runs.push_back({first, at});
      runs.push_back({at, last});
    }
  }
  std::vector<std::size_t> out;
  for (std::size_t k = 0; k < path.size(); ++k) {
    if (kept[k]) out.push_back(k);
  }
  return out;
}

namespace {

// Every piece and image of a wire's loop, thickened by its radius.
Box LoopBox(const WireLoop& w) {
  Box box{w.sphere_centre, w.sphere_centre};
  for (const auto* list : {&w.pieces, &w.images}) {
    for (const Piece& p : *list) box.Add(p.a), box.Add(p.b);
  }
  const Point3 r{w.radius_m, w.radius_m, w.radius_m};
  return {box.lo - r, box.hi + r};
}

// The share of an entry's stated accuracy, 1e-3 |L_ij| + 1e-5 sqrt(L_ii L_jj), that the
// compression may take: the cross approximation stops at this much of the absolute part, and
// every sampled entry must lie within it.
constexpr double kCompressionShare = 0.1;
constexpr std::size_t kSamplesPerBlock = 16;
// Pair sums a far block keeps from its approximation's rows and columns (16 bytes each).
constexpr std::size_t kKeptPairs = std::size_t(1) << 22;

// The mutual terms of the dense matrices, block by block of the cluster tree: near blocks
// entry by entry, far blocks by cross approximation of the partial and of the loop matrix,
// each accepted only when sampled entries agree with the direct sums; else computed directly.
// Every block is computed by one thread from its own data, so no thread count changes a bit.
void CompressedMutuals(const std::vector<WireLoop>& loops, const std::vector<PairSums>& self,
                       const InductanceSettings& settings, const Progress& progress,
                       SymmetricMatrix& partial, SymmetricMatrix& loop) {
  const std::size_t n = loops.size();
  std::vector<Box> boxes(n);
  for (std::size_t i = 0; i < n; ++i) boxes[i] = LoopBox(loops[i]);
  const ClusterTree tree = BuildClusterTree(boxes, settings.leaf_wires);
  const std::vector<MatrixBlock> blocks = LowerBlocks(tree, settings.far_ratio);
  // Each pair as the direct sums take it: the later wire first.
  const auto mutual = [&](std::size_t i, std::size_t j) {
    return i > j ? MutualInductance(loops[i], loops[j], settings.exact_only)
                 : MutualInductance(loops[j], loops[i], settings.exact_only);
  };
  const auto mutual_partial = [&](std::size_t i, std::size_t j) {
    return (i > j ? MutualInductance<false>(loops[i], loops[j], settings.exact_only)
                  : MutualInductance<false>(loops[j], loops[i], settings.exact_only))
        .partial;
  };
  const auto direct = [&](const ClusterTree::Node& a, const ClusterTree::Node& b, bool same) {
    for (std::size_t r = a.begin; r < a.end; ++r) {
      for (std::size_t c = b.begin; c < (same ? r : b.end); ++c) {
        const std::size_t i = tree.order[r], j = tree.order[c];
        const PairSums m = mutual(i, j);
        partial.values[i * n + j] = partial.values[j * n + i] = m.partial;
        loop.values[i * n + j] = loop.values[j * n + i] = m.loop;
      }
    }
  };
  // The block of `m` from the cross approximation of its rows and columns (block-local, filled
  // by `row` and `col`, single entries by `at`), or nothing written when that fails.
  const auto compressed = [&](const ClusterTree::Node& a, const ClusterTree::Node& b,
                              const auto& row, const auto& col, const auto& at, const auto& own,
                              SymmetricMatrix& m) {
    const std::size_t rows = a.end - a.begin, cols = b.end - b.begin;
    double least_a = std::numeric_limits<double>::max(), least_b = least_a;
    for (std::size_t r = a.begin; r < a.end; ++r) least_a = std::min(least_a, own(tree.order[r]));
    for (std::size_t c = b.begin; c < b.end; ++c) least_b = std::min(least_b, own(tree.order[c]));
    const std::optional<LowRank> low = CrossApproximation(
        rows, cols, row, col, kCompressionShare * 1e-5 * std::sqrt(least_a * least_b),
        rows * cols / (rows + cols));
    if (!low) return false;
    // Entries spread over the block, the same ones on every run.
    for (std::size_t s = 0; s < kSamplesPerBlock; ++s) {
      const std::size_t r = (s * 2654435761u + 7) % rows, c = (s * 40503u + 3 * s + 1) % cols;
      const double exact = at(r, c);
      const double scale = std::sqrt(own(tree.order[a.begin + r]) * own(tree.order[b.begin + c]));
      if (!(std::abs(LowRankEntry(*low, rows, cols, r, c) - exact) <=
            kCompressionShare * (1e-3 * std::abs(exact) + 1e-5 * scale))) {
        return false;
      }
    }
    for (std::size_t r = 0; r < rows; ++r) {
      for (std::size_t c = 0; c < cols; ++c) {
        const std::size_t i = tree.order[a.begin + r], j = tree.order[b.begin + c];
        m.values[i * n + j] = m.values[j * n + i] = LowRankEntry(*low, rows, cols, r, c);
      }
    }
    return true;
  };
  // A far block: the loop matrix compressed, or both directly; then the partial matrix
  // compressed, or directly from the wires' own pieces alone (no connectors, no images). The
  // rows and columns the loop matrix's approximation sums hold the partial terms too: they are
  // kept (up to kKeptPairs pairs a block), so that no pair is summed twice and a block that
  // does not compress costs little more than its direct sums.
  const auto far = [&](const ClusterTree::Node& a, const ClusterTree::Node& b) {
    const std::size_t rows = a.end - a.begin, cols = b.end - b.begin;
    const auto pair = [&](std::size_t r, std::size_t c) {
      return mutual(tree.order[a.begin + r], tree.order[b.begin + c]);
    };
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> row_at(rows, kNone), col_at(cols, kNone);  // into `kept`
    std::vector<PairSums> kept;
    const auto known = [&](std::size_t r, std::size_t c) -> const PairSums* {
      if (row_at[r] != kNone) return &kept[row_at[r] + c];
      if (col_at[c] != kNone) return &kept[col_at[c] + r];
      return nullptr;
    };
    const auto both = [&](std::size_t r, std::size_t c) {
      const PairSums* s = known(r, c);
      return s != nullptr ? *s : pair(r, c);
    };
    // Row r (or column c) of the loop matrix, summed and kept the first time it is asked for.
    const auto line = [&](std::size_t length, std::size_t& at, const auto& sum,
                          std::vector<double>& out) {
      if (at == kNone && kept.size() + length <= kKeptPairs) {
        const std::size_t first = kept.size();
        for (std::size_t k = 0; k < length; ++k) kept.push_back(sum(k));
        at = first;
      }
      for (std::size_t k = 0; k < length; ++k)
        out[k] = at != kNone ? kept[at + k].loop : sum(k).loop;
    };
    const auto loop_row = [&](std::size_t r, std::vector<double>& out) {
      line(
          cols, row_at[r], [&](std::size_t c) { return both(r, c); }, out);
    };
    const auto loop_col = [&](std::size_t c, std::vector<double>& out) {
      line(
          rows, col_at[c], [&](std::size_t r) { return both(r, c); }, out);
    };
    const auto loop_at = [&](std::size_t r, std::size_t c) { return both(r, c).loop; };
    const auto partial_at = [&](std::size_t r, std::size_t c) {
      const PairSums* s = known(r, c);
      return s != nullptr ? s->partial
                          : mutual_partial(tree.order[a.begin + r], tree.order[b.begin + c]);
    };
    const auto partial_row = [&](std::size_t r, std::vector<double>& out) {
      for (std::size_t c = 0; c < cols; ++c) out[c] = partial_at(r, c);
    };
    const auto partial_col = [&](std::size_t c, std::vector<double>& out) {
      for (std::size_t r = 0; r < rows; ++r) out[r] = partial_at(r, c);
    };
    const auto loop_self = [&](std::size_t i) { return self[i].loop; };
    const auto partial_self = [&](std::size_t i) { return self[i].partial; };
    const auto write = [&](SymmetricMatrix& m, std::size_t r, std::size_t c, double value) {
      const std::size_t i = tree.order[a.begin + r], j = tree.order[b.begin + c];
      m.values[i * n + j] = m.values[j * n + i] = value;
    };
    if (!compressed(a, b, loop_row, loop_col, loop_at, loop_self, loop)) {
      for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < cols; ++c) {
          const PairSums m = both(r, c);
          write(partial, r, c, m.partial);
          write(loop, r, c, m.loop);
        }
      }
      return;
    }
    if (compressed(a, b, partial_row, partial_col, partial_at, partial_self, partial)) return;
    for (std::size_t r = 0; r < rows; ++r) {
      for (std::size_t c = 0; c < cols; ++c) write(partial, r, c, partial_at(r, c));
    }
  };
  // Blocks in runs, for progress and cancelling; the fraction counts entries.
  double total = 0, done = 0;
  for (const MatrixBlock& b : blocks) {
    total += double(tree.nodes[b.rows].end - tree.nodes[b.rows].begin) *
             double(tree.nodes[b.cols].end - tree.nodes[b.cols].begin);
  }
  constexpr std::size_t kBlocksPerReport = 64;
  for (std::size_t first = 0; first < blocks.size(); first += kBlocksPerReport) {
    Report(progress, "inductance", done / total);
    const std::size_t last = std::min(blocks.size(), first + kBlocksPerReport);
    ParallelFault fault;
#pragma omp parallel for schedule(dynamic, 1)
    for (std::size_t k = first; k < last; ++k)
      fault.Run([&] {
        const ClusterTree::Node &a = tree.nodes[blocks[k].rows], &b = tree.nodes[blocks[k].cols];
        if (blocks[k].far) {
          far(a, b);
        } else {
          direct(a, b, blocks[k].rows == blocks[k].cols);
        }
      });
    fault.Rethrow();
    for (std::size_t k = first; k < last; ++k) {
      done += double(tree.nodes[blocks[k].rows].end - tree.nodes[blocks[k].rows].begin) *
              double(tree.nodes[blocks[k].cols].end - tree.nodes[blocks[k].cols].begin);
    }
  }
}

// Both matrices of wires no two of which coincide; dense or (the loop matrix alone) sparse.
InductanceMatrices DistinctInductance(const std::vector<Conductor>& conductors,
                                      double ground_depth_m, double coupling_cutoff,
                                      const Progress& progress, const InductanceSettings& settings,
                                      bool dense) {
  const std::size_t n = conductors.size();
  std::vector<WireLoop> loops(n);
  std::vector<PairSums> self(n);
  ParallelFault fault;
#pragma omp parallel for schedule(dynamic, 16)
  for (std::size_t i = 0; i < n; ++i)
    fault.Run([&] {
      loops[i] = BuildLoop(conductors[i], ground_depth_m);
      self[i] = SelfInductance(loops[i], settings.exact_only);
    });
  fault.Rethrow();
  InductanceMatrices out;
  if (dense) {
    SymmetricMatrix partial{n, true, std::vector<double>(n * n), {}};
    SymmetricMatrix loop{n, true, std::vector<double>(n * n), {}};
    for (std::size_t i = 0; i < n; ++i) {
      partial.values[i * n + i] = self[i].partial;
      loop.values[i * n + i] = self[i].loop;
    }
    if (settings.compress_from_wires > 0 && n >= settings.compress_from_wires) {
      CompressedMutuals(loops, self, settings, progress, partial, loop);
    } else {
      for (std::size_t block = 0; block < n; block += kRowBlock) {
        Report(progress, "inductance", double(block) / double(n));
        const std::size_t block_end = std::min(n, block + kRowBlock);
#pragma omp parallel for schedule(dynamic, 1)
        for (std::size_t i = block; i < block_end; ++i) {
          for (std::size_t j = 0; j < i; ++j) {
            const PairSums m = MutualInductance(loops[i], loops[j], settings.exact_only);
            partial.values[i * n + j] = partial.values[j * n + i] = m.partial;
            loop.values[i * n + j] = loop.values[j * n + i] = m.loop;
          }
        }
      }
    }
    Report(progress, "inductance", 1.0);
    out.partial_h = std::move(partial);
    out.loop_h = std::move(loop);
    return out;
  }
  return SparseLoop(loops, self, coupling_cutoff, progress, settings, n);
}

}  // namespace

InductanceMatrices ComputeInductance(const std::vector<Conductor>& conductors,
                                     double ground_depth_m, double coupling_cutoff,
                                     const Progress& progress, const InductanceSettings& settings) {
  const std::size_t n = conductors.size();
  const bool dense = n <= settings.max_dense_wires;
  if (dense) {
    CheckDenseFits(
        2 * DenseBytes(n, n, sizeof(double)),
        "the dense partial and loop inductance matrices of " + std::to_string(n) + " wires");
  }
  std::vector<std::vector<std::size_t>> groups = CoincidentGroups(conductors);
  if (groups.empty()) {
    return DistinctInductance(conductors, ground_depth_m, coupling_cutoff, progress, settings,
                              dense);
  }
  // One conductor per group: the first wire stands for the others.
  const DistinctWires kept = Distinct(conductors.size(), groups);
  std::vector<Conductor> distinct;
  for (std::size_t i : kept.first) distinct.push_back(conductors[i]);
  InductanceMatrices d =
      DistinctInductance(distinct, ground_depth_m, coupling_cutoff, progress, settings, dense);
  InductanceMatrices out;
  // Wire i takes the row and column of its distinct wire: a coincident group couples with
  // exactly its self term.
  const auto same = [](std::size_t, std::size_t, double value) { return value; };
  if (d.partial_h) out.partial_h = Spread(*d.partial_h, kept, same);
  out.loop_h = Spread(d.loop_h, kept, same);
  out.notes = std::move(d.notes);
  if (!d.loop_dropped_h.empty()) {
    out.loop_dropped_h.resize(conductors.size());
    for (std::size_t i = 0; i < conductors.size(); ++i) {
      out.loop_dropped_h[i] = d.loop_dropped_h[kept.slot[i]];
    }
  }
  // One note for all groups, naming the first five (a group can hold thousands of wires).
  std::string listed;
  for (std::size_t g = 0; g < std::min<std::size_t>(groups.size(), 5); ++g) {
    listed += g == 0 ? "" : ", ";
    for (std::size_t k = 0; k < std::min<std::size_t>(groups[g].size(), 4); ++k) {
      listed += (k == 0 ? "" : "/") + conductors[groups[g][k]].name;
    }
    if (groups[g].size() > 4) listed += "/+" + std::to_string(groups[g].size() - 4);
  }
  if (groups.size() > 5) listed += " and " + std::to_string(groups.size() - 5) + " more";
  out.notes.push_back(std::to_string(groups.size()) +
                      (groups.size() == 1 ? " group of wires runs" : " groups of wires run") +
                      " along one path (a wire bonded again over itself), each "
                      "one conductor with couplings of 1: " +
                      listed);
  out.coincident = std::move(groups);
  return out;
}

WiresOverPlane InductanceOverPlane(const Conductor& a, const Conductor& b, double ground_depth_m) {
  const WireLoop la = BuildLoop(a, ground_depth_m, false), lb = BuildLoop(b, ground_depth_m, false);
  WiresOverPlane out;
  out.self_a_h = SelfInductance(la, false).loop;
  out.self_b_h = SelfInductance(lb, false).loop;
  out.mutual_h = MutualInductance(la, lb, false).loop;
  return out;
}

}  // namespace ostrel::physical
