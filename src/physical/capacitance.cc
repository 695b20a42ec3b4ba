#include "physical/capacitance.h"

#include <malloc.h>

#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <numbers>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/large_pages.h"
#include "base/stage_error.h"
#include "physical/charge_harmonics.h"
#include "physical/dense_algebra.h"
#include "physical/kernels.h"
#include "physical/memory_budget.h"
#include "physical/parallel_fault.h"
#include "physical/wire_groups.h"

namespace ostrel::physical {
namespace {

constexpr double kPi = std::numbers::pi;
// Vacuum permittivity, F/m (CODATA 2018).
constexpr double kEps0 = 8.8541878128e-12;
// Pieces whose centres are further apart than this many piece lengths (of the longer piece) use a
// 2 x 2 Gauss rule for the 1/R integral: its relative error is below 5e-5 there (collinear pieces
// are the worst case).
constexpr double kFarPieceLengths = 4.0;
// Closer, down to this many piece lengths apart, a 3 x 3 Gauss rule: error below 1.6e-5.
constexpr double kNearPieceLengths = 2.1;
// Closer still, down to this many piece lengths apart, a 4 x 4 Gauss rule: error below 2e-5.
constexpr double kMidPieceLengths = 1.5;
// Wires solved together per cluster before their neighbours are added.
constexpr std::size_t kBlockWires = 24;
// A wire cut into more pieces than this is not a bond wire.
constexpr std::size_t kMaxPiecesPerWire = 4000;

Point3 Sub(const Point3& a, const Point3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Point3 Add(const Point3& a, const Point3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Point3 Scale(const Point3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(const Point3& a, const Point3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double Norm(const Point3& a) { return std::sqrt(Dot(a, a)); }
Point3 Cross(const Point3& a, const Point3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Point3 Lerp(const Point3& a, const Point3& b, double t) { return Add(a, Scale(Sub(b, a), t)); }

// The mirror image of a point in the ground plane z = -depth.
Point3 Mirror(const Point3& p, double depth_m) { return {p.x, p.y, -2 * depth_m - p.z}; }

// One straight piece of a wire carrying a uniform line charge.
struct Piece {
  Point3 p0, p1;
  double length_m = 0;
  double radius_m = 0;
  std::size_t wire = 0;       // index of the wire (in the cluster being solved)
  std::size_t conductor = 0;  // index of its conductor (wires that touch are one)
  // Wires of the same conductor whose pieces lie inside this one (a stitch's end on a ball,
  // a wire bonded twice): they were dropped, and share this piece's charge.
  std::vector<std::size_t> sharers;
  std::size_t run = 0;            // straight run, numbered over all wires
  double run_s0 = 0, run_s1 = 0;  // positions of p0 and p1 along the run, m
  std::size_t seq = 0;            // position along the wire: consecutive pieces touch
  std::size_t global = 0;         // index among the pieces of all wires (the harmonics' rows)
  // Fixed by p0, p1 and the plane: the middle, the two Gauss points on the axis and the same of
  // the image in the plane (the image axis runs from image[0] to image[1]).
  Point3 mid, gauss[2];
  Point3 image[2], image_mid, image_gauss[2];
};

// Fills the points of `p` fixed by its ends.
void PlacePoints(Piece& p, double depth_m) {
  constexpr double kOff = 0.5 / std::numbers::sqrt3;
  p.mid = Lerp(p.p0, p.p1, 0.5);
  p.gauss[0] = Lerp(p.p0, p.p1, 0.5 - kOff);
  p.gauss[1] = Lerp(p.p0, p.p1, 0.5 + kOff);
  p.image[0] = Mirror(p.p0, depth_m);
  p.image[1] = Mirror(p.p1, depth_m);
  p.image_mid = Lerp(p.image[0], p.image[1], 0.5);
  p.image_gauss[0] = Lerp(p.image[0], p.image[1], 0.5 - kOff);
  p.image_gauss[1] = Lerp(p.image[0], p.image[1], 0.5 + kOff);
}

// The straight runs of a path: zero-length segments dropped, consecutive collinear ones merged.
std::vector<std::pair<Point3, Point3>> StraightRuns(const std::vector<Point3>& path) {
  std::vector<std::pair<Point3, Point3>> runs;
  for (std::size_t k = 0; k + 1 < path.size(); ++k) {
    const Point3 seg = Sub(path[k + 1], path[k]);
    const double seg_m = Norm(seg);
    if (!(seg_m > 1e-12)) continue;
    if (!runs.empty()) {
      const Point3 prev = Sub(runs.back().second, runs.back().first);
      const double prev_m = Norm(prev);
      const Point3 cross = Cross(prev, seg);
      if (Norm(cross) <= 1e-9 * prev_m * seg_m && Dot(prev, seg) > 0 &&
          runs.back().second == path[k]) {
        runs.back().second = path[k + 1];
        continue;
      }
    }
    runs.push_back({path[k], path[k + 1]});
  }
  return runs;
}

// Cuts a conductor's path into pieces (their points fixed by the plane not yet placed). The target
// piece length is the least of: an absolute bound, a fraction of the height above the plane (the
// charge varies on that scale), and a length that grows geometrically from `end_piece_radii` radii
// at either end of the wire (the charge crowds towards an open end). Nodes are placed so that each
// piece spans an equal share of the integral of 1/target along the run.
void AppendPieces(const Conductor& c, std::size_t wire, double depth_m,
                  const CapacitanceSettings& settings, std::size_t& run_id,
                  std::vector<Piece>& out) {
  const auto runs = StraightRuns(c.path_m);
  double total_m = 0;
  for (const auto& r : runs) total_m += Norm(Sub(r.second, r.first));
  const double end_m = settings.end_piece_radii * c.radius_m;
  std::size_t seq = 0;
  const std::size_t first = out.size();
  double s_start = 0;
  for (const auto& r : runs) {
    const double run_m = Norm(Sub(r.second, r.first));
    auto target = [&](double x) {
      const Point3 p = Lerp(r.first, r.second, x / run_m);
      const double from_end = std::min(s_start + x, total_m - s_start - x);
      const double graded = end_m + (settings.end_growth - 1) * std::max(from_end, 0.0);
      const double by_height = settings.piece_per_height * (std::max(p.z, 0.0) + depth_m);
      return std::max(end_m, std::min({settings.max_piece_m, by_height, graded}));
    };
    const int samples = static_cast<int>(std::clamp(std::ceil(4 * run_m / end_m), 8.0, 4096.0));
    std::vector<double> cumulative(static_cast<std::size_t>(samples) + 1, 0.0);
    const double step = run_m / samples;
    for (int k = 0; k < samples; ++k) {
      const double x0 = step * k;
      cumulative[static_cast<std::size_t>(k) + 1] =
          cumulative[static_cast<std::size_t>(k)] +
          0.5 * step * (1 / target(x0) + 1 / target(x0 + step));
    }
    const double share_total = cumulative.back();
    const auto count = static_cast<std::size_t>(std::max(1.0, std::ceil(share_total - 0.25)));
    double prev_x = 0;
    std::size_t k = 0;
    for (std::size_t piece = 1; piece <= count; ++piece) {
      double x = run_m;
      if (piece < count) {
        const double want = share_total * static_cast<double>(piece) / static_cast<double>(count);
        while (k + 1 < cumulative.size() && cumulative[k + 1] < want) ++k;
        const double frac = (want - cumulative[k]) / (cumulative[k + 1] - cumulative[k]);
        x = step * (static_cast<double>(k) + frac);
      }
      Piece p;
      p.p0 = Lerp(r.first, r.second, prev_x / run_m);
      p.p1 = Lerp(r.first, r.second, x / run_m);
      p.length_m = x - prev_x;
      p.radius_m = c.radius_m;
      p.wire = wire;
      p.run = run_id;
      p.run_s0 = prev_x;
      p.run_s1 = x;
      p.seq = seq++;
      out.push_back(p);
      prev_x = x;
    }
    s_start += run_m;
    ++run_id;
  }
  if (out.size() == first) {
    throw StageError("wire " + c.name + " has no length to carry charge");
  }
  if (out.size() - first > kMaxPiecesPerWire) {
    throw StageError("wire " + c.name + " bends too often for the capacitance model");
  }
}

// N of a piece with itself along a straight run: the reduced (axis to surface) 1/R kernel.
double RunSelf(double length_m, double radius_m) {
  return length_m > 0 ? SurfaceSelfIntegral(length_m, radius_m) : 0.0;
}

constexpr double kUnitWeights[4] = {1, 1, 1, 1};

// 1/R integral by a 2 x 2 Gauss-Legendre rule on the axes, from the Gauss points of the two
// pieces: for well-separated pieces.
double FarIntegral(const Point3 (&pa)[2], double la, const Point3 (&pb)[2], double lb) {
  const double apart[4] = {Norm(Sub(pa[0], pb[0])), Norm(Sub(pa[0], pb[1])),
                           Norm(Sub(pa[1], pb[0])), Norm(Sub(pa[1], pb[1]))};
  return WeightedInverseSum(apart, kUnitWeights) * 0.25 * la * lb;
}

// Nodes and weights of the 4-point and the 3-point Gauss-Legendre rule on [0, 1] (Abramowitz and
// Stegun 25.4.30).
constexpr double kMidNode[4] = {0.5 - 0.5 * 0.8611363115940526, 0.5 - 0.5 * 0.3399810435848563,
                                0.5 + 0.5 * 0.3399810435848563, 0.5 + 0.5 * 0.8611363115940526};
constexpr double kMidWeight[4] = {0.5 * 0.3478548451374539, 0.5 * 0.6521451548625461,
                                  0.5 * 0.6521451548625461, 0.5 * 0.3478548451374539};
constexpr double kNearNode[3] = {0.5 - 0.5 * 0.7745966692414834, 0.5,
                                 0.5 + 0.5 * 0.7745966692414834};
constexpr double kNearWeight[3] = {0.5 * 0.5555555555555556, 0.5 * 0.8888888888888888,
                                   0.5 * 0.5555555555555556};

// The N Gauss points of an N x N rule on the axis from p0 to p1, a coordinate per row.
template <int N>
struct GaussNodes {
  double x[3][N];
};
template <int N>
GaussNodes<N> NodesOf(const Point3& p0, const Point3& p1, const double (&node)[N]) {
  GaussNodes<N> m;
  for (int k = 0; k < N; ++k) {
    const Point3 p = Lerp(p0, p1, node[k]);
    m.x[0][k] = p.x;
    m.x[1][k] = p.y;
    m.x[2][k] = p.z;
  }
  return m;
}

// The same by an N x N Gauss-Legendre rule (4 x 4 for pieces kMidPieceLengths to
// kNearPieceLengths apart, 3 x 3 from there to kFarPieceLengths), from the pieces' Gauss points
// (NodesOf; made once per piece, not once per pair).
template <int N>
[[gnu::always_inline]] inline double GaussIntegral(const GaussNodes<N>& a, double la,
                                                   const GaussNodes<N>& b, double lb,
                                                   const double (&weight)[N]) {
  double sum = 0;
  for (int i = 0; i < N; ++i) {
    double apart[N];
    for (int k = 0; k < N; ++k) {
      const double dx = a.x[0][i] - b.x[0][k], dy = a.x[1][i] - b.x[1][k];
      const double dz = a.x[2][i] - b.x[2][k];
      apart[k] = std::sqrt(dx * dx + dy * dy + dz * dz);
    }
    sum += weight[i] * WeightedInverseSum(apart, weight);
  }
  return sum * la * lb;
}

// The two rules in use, compiled for AVX2 as well and chosen when the program starts: the same
// operations in the same order for each element, so the same bits on any processor.
[[gnu::target_clones("avx2", "default")]] double GaussIntegral3(const GaussNodes<3>& a, double la,
                                                                const GaussNodes<3>& b, double lb) {
  return GaussIntegral(a, la, b, lb, kNearWeight);
}
[[gnu::target_clones("avx2", "default")]] double GaussIntegral4(const GaussNodes<4>& a, double la,
                                                                const GaussNodes<4>& b, double lb) {
  return GaussIntegral(a, la, b, lb, kMidWeight);
}

bool IsFar(const Point3& mid_a, double la, const Point3& mid_b, double lb) {
  return Norm(Sub(mid_a, mid_b)) > kFarPieceLengths * std::max(la, lb);
}

// FilamentPairIntegral, with a piece within 1e-3 rad of parallel to the other (but not touching
// it) turned about its middle to be exactly parallel: the change in N is of second order in the
// angle (below 1e-6 relative) and the parallel closed form is exact and fast.
double AxisIntegral(const Point3& a0, const Point3& a1, const Point3& b0, const Point3& b1) {
  const Point3 u = Sub(a1, a0), v = Sub(b1, b0);
  const double lu = Norm(u), lv = Norm(v);
  const double sine = Norm(Cross(u, v)) / (lu * lv);
  const bool touching = a0 == b0 || a0 == b1 || a1 == b0 || a1 == b1;
  if (sine == 0 || sine >= 1e-3 || touching) return FilamentPairIntegral(a0, a1, b0, b1);
  const Point3 mid = Lerp(b0, b1, 0.5);
  const Point3 half = Scale(u, (Dot(u, v) > 0 ? 0.5 : -0.5) * lv / lu);
  return FilamentPairIntegral(a0, a1, Sub(mid, half), Add(mid, half));
}

// A unit vector normal to d.
Point3 AnyNormal(const Point3& d) {
  const Point3 axis = std::abs(d.x) < std::abs(d.y) ? Point3{1, 0, 0} : Point3{0, 1, 0};
  const Point3 n = Cross(d, axis);
  return Scale(n, 1 / Norm(n));
}

// N_ij of two pieces (charges on the wire surfaces, potentials averaged over the pieces).
double PairIntegral(const Piece& a, const Piece& b) {
  if (a.run == b.run) {
    // Same straight run: the reduced kernel exactly, from the self integrals of the spans
    // (inclusion-exclusion over the intervals [p, q] and [r, s], q <= r).
    const Piece& lo = a.run_s0 <= b.run_s0 ? a : b;
    const Piece& hi = a.run_s0 <= b.run_s0 ? b : a;
    const double p = lo.run_s0, q = lo.run_s1, r = hi.run_s0, s = hi.run_s1;
    if (&lo == &hi || (p == r && q == s)) return RunSelf(a.length_m, a.radius_m);
    const double rad = a.radius_m;
    return 0.5 *
           (RunSelf(s - p, rad) - RunSelf(r - p, rad) - RunSelf(s - q, rad) + RunSelf(r - q, rad));
  }
  if (IsFar(a.mid, a.length_m, b.mid, b.length_m)) {
    return FarIntegral(a.gauss, a.length_m, b.gauss, b.length_m);
  }
  const double reach_m = 0.5 * (a.length_m + b.length_m) + a.radius_m + b.radius_m;
  if (a.wire != b.wire && Norm(Sub(a.mid, b.mid)) < reach_m) {
    // Wires that cross or touch (a stitch over a wire, two wires from one pad) are taken as
    // touching cylinders where they meet: piece b is moved off along the common normal until
    // the axes are a radius sum apart (the 1/R integral of filaments that meet is finite, but
    // beside the surface self terms it would leave P without a positive definite form).
    const SegmentApproach approach = ClosestApproach(a.p0, a.p1, b.p0, b.p1);
    const double gap = approach.distance_m;
    const Point3 from_a = Sub(approach.on_b, approach.on_a);
    const double contact_m = a.radius_m + b.radius_m;
    if (gap < contact_m) {
      Point3 normal = Cross(Sub(a.p1, a.p0), Sub(b.p1, b.p0));
      if (Dot(normal, from_a) < 0) normal = Scale(normal, -1);
      if (!(Norm(normal) > 1e-9 * a.length_m * b.length_m)) normal = from_a;
      if (!(Norm(normal) > 0)) normal = AnyNormal(Sub(a.p1, a.p0));
      const Point3 shift = Scale(normal, (contact_m - gap) / Norm(normal));
      return AxisIntegral(a.p0, a.p1, Add(b.p0, shift), Add(b.p1, shift));
    }
  }
  double n = AxisIntegral(a.p0, a.p1, b.p0, b.p1);
  if (a.wire == b.wire && (a.seq + 1 == b.seq || b.seq + 1 == a.seq)) {
    // Touching pieces at a bend: the axes meet, the surfaces do not. Take off the difference
    // between the axis and the surface kernel of the same two pieces laid end to end, which is
    // exact for a straight joint and of the right size (about one radius) for a bent one.
    const double la = a.length_m, lb = b.length_m, rad = a.radius_m;
    const double surface = 0.5 * (RunSelf(la + lb, rad) - RunSelf(la, rad) - RunSelf(lb, rad));
    // Axis kernel of collinear touching filaments: (la + lb) ln(la + lb) - la ln la - lb ln lb.
    const double axis = (la + lb) * std::log(la + lb) - la * std::log(la) - lb * std::log(lb);
    n += surface - axis;
  }
  return n;
}

// N of piece a with the mirror image of piece b.
double ImageIntegral(const Piece& a, const Piece& b) {
  if (IsFar(a.mid, a.length_m, b.image_mid, b.length_m)) {
    return FarIntegral(a.gauss, a.length_m, b.image_gauss, b.length_m);
  }
  return AxisIntegral(a.p0, a.p1, b.image[0], b.image[1]);
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string list;
  for (const auto& name : names) list += (list.empty() ? "" : ", ") + name;
  return list;
}

void CheckCancel(const Progress& progress) {
  if (progress.cancel != nullptr && progress.cancel->load()) {
    throw StageError("capacitance computation cancelled");
  }
}

// Points of many pieces, one row per piece and a column per coordinate.
using PointRows = Eigen::Array<double, Eigen::Dynamic, 3>;

// The far rule's 2 x 2 Gauss sum, (1/4) l_a l_b sum of 1 / |x - y| over the Gauss points x of
// pieces a (rows `first` on: their two points g0, g1 and lengths) and y of piece b (yb, lb),
// element by element, each element's four inverses as one quotient (as FarIntegral). Compiled
// for AVX2 as well, chosen when the program starts: the same operations in the same order for
// each element, so the same bits on any processor.
[[gnu::target_clones("avx2", "default")]] void FarSums(const double* g0x, const double* g0y,
                                                       const double* g0z, const double* g1x,
                                                       const double* g1y, const double* g1z,
                                                       const double* length, std::size_t count,
                                                       const Point3 (&yb)[2], double lb,
                                                       double* out) {
  for (std::size_t k = 0; k < count; ++k) {
    const auto distance = [&](double x, double y, double z, const Point3& p) {
      const double dx = x - p.x, dy = y - p.y, dz = z - p.z;
      return std::sqrt(dx * dx + dy * dy + dz * dz);
    };
    const double apart[4] = {
        distance(g0x[k], g0y[k], g0z[k], yb[0]), distance(g0x[k], g0y[k], g0z[k], yb[1]),
        distance(g1x[k], g1y[k], g1z[k], yb[0]), distance(g1x[k], g1y[k], g1z[k], yb[1])};
    const double sum = WeightedInverseSum(apart, kUnitWeights);
    out[k] = sum * 0.25 * length[k] * lb;
  }
}

// |x - y|^2 for the rows x of `points` from `first` on.
Eigen::ArrayXd SquaredDistances(const PointRows& points, Eigen::Index first, const Point3& y) {
  const Eigen::Index count = points.rows() - first;
  return (points.col(0).tail(count) - y.x).square() + (points.col(1).tail(count) - y.y).square() +
         (points.col(2).tail(count) - y.z).square();
}

// The potential coefficient matrix (lower triangle, 1/F) of the pieces over the plane, written
// into `p` (n x n; the upper triangle is left as it was). False if an entry is not finite.
bool FillPotentialMatrix(const std::vector<Piece>& pieces, double eps_f_m, bool share,
                         Eigen::Ref<Eigen::MatrixXd> p) {
  const auto n = static_cast<Eigen::Index>(pieces.size());
  // The far-pair rule (FarIntegral, IsFar) for a whole column at once, from the pieces' middles
  // and Gauss points as columns; the pairs that are not far are then done one by one.
  PointRows mid(n, 3), gauss0(n, 3), gauss1(n, 3);
  Eigen::ArrayXd length(n), inverse_length(n);
  for (Eigen::Index i = 0; i < n; ++i) {
    const Piece& a = pieces[static_cast<std::size_t>(i)];
    mid.row(i) << a.mid.x, a.mid.y, a.mid.z;
    gauss0.row(i) << a.gauss[0].x, a.gauss[0].y, a.gauss[0].z;
    gauss1.row(i) << a.gauss[1].x, a.gauss[1].y, a.gauss[1].z;
    length(i) = a.length_m;
    inverse_length(i) = 1 / a.length_m;
  }
  auto far_integrals = [&](Eigen::Index first, const Point3(&pb)[2], double lb) {
    Eigen::ArrayXd sums(n - first);
    FarSums(&gauss0(first, 0), &gauss0(first, 1), &gauss0(first, 2), &gauss1(first, 0),
            &gauss1(first, 1), &gauss1(first, 2), &length(first),
            static_cast<std::size_t>(n - first), pb, lb, sums.data());
    return sums;
  };
  std::vector<GaussNodes<4>> nodes(pieces.size()), image_nodes(pieces.size());
  std::vector<GaussNodes<3>> near_nodes(pieces.size()), near_image_nodes(pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    nodes[i] = NodesOf(pieces[i].p0, pieces[i].p1, kMidNode);
    image_nodes[i] = NodesOf(pieces[i].image[0], pieces[i].image[1], kMidNode);
    near_nodes[i] = NodesOf(pieces[i].p0, pieces[i].p1, kNearNode);
    near_image_nodes[i] = NodesOf(pieces[i].image[0], pieces[i].image[1], kNearNode);
  }
  std::vector<char> finite(pieces.size(), 0);
  // P_ij = (N_ij - N_ij') / (4 pi eps l_i l_j): Galerkin potential coefficient with the image
  // (opposite charge) of piece j in the ground plane. Column by column (contiguous in memory).
  ParallelFault fault;
#pragma omp taskloop default(shared) grainsize(8) if (share)
  for (Eigen::Index j = 0; j < n; ++j)
    fault.Run([&] {
      const Piece& b = pieces[static_cast<std::size_t>(j)];
      const Eigen::Index count = n - j;
      // Middle distances squared: the far rule's bound first, then the others only for the
      // pairs within it.
      const Eigen::ArrayXd longer_m = length.tail(count).max(b.length_m);
      const Eigen::ArrayXd far_within2 = (kFarPieceLengths * longer_m).square();
      const Eigen::ArrayXd direct_apart2 = SquaredDistances(mid, j, b.mid);
      const Eigen::ArrayXd image_apart2 = SquaredDistances(mid, j, b.image_mid);
      Eigen::ArrayXd direct = far_integrals(j, b.gauss, b.length_m);
      Eigen::ArrayXd image = far_integrals(j, b.image_gauss, b.length_m);
      const auto at = static_cast<std::size_t>(j);
      for (Eigen::Index k = 0; k < count; ++k) {
        const Piece& a = pieces[static_cast<std::size_t>(j + k)];
        const bool direct_far = a.run != b.run && direct_apart2(k) > far_within2(k);
        const bool image_far = image_apart2(k) > far_within2(k);
        if (direct_far && image_far) continue;
        const auto ak = static_cast<std::size_t>(j + k);
        // Beyond the contact reach of PairIntegral and far from touching.
        const double mid_within_m =
            std::max(kMidPieceLengths * longer_m(k),
                     0.5 * (a.length_m + b.length_m) + a.radius_m + b.radius_m);
        const double near_within_m = std::max(kNearPieceLengths * longer_m(k), mid_within_m);
        const auto rule = [&](double apart2, const GaussNodes<4>& mid_b,
                              const GaussNodes<3>& near_b) {
          return apart2 > near_within_m * near_within_m
                     ? GaussIntegral3(near_nodes[ak], a.length_m, near_b, b.length_m)
                     : GaussIntegral4(nodes[ak], a.length_m, mid_b, b.length_m);
        };
        if (!direct_far) {
          direct(k) = a.run != b.run && direct_apart2(k) > mid_within_m * mid_within_m
                          ? rule(direct_apart2(k), nodes[at], near_nodes[at])
                          : PairIntegral(a, b);
        }
        if (!image_far) {
          image(k) = image_apart2(k) > mid_within_m * mid_within_m
                         ? rule(image_apart2(k), image_nodes[at], near_image_nodes[at])
                         : ImageIntegral(a, b);
        }
      }
      p.col(j).tail(count) =
          (direct - image) * (inverse_length.tail(count) * (1 / (4 * kPi * eps_f_m * b.length_m)));
      finite[static_cast<std::size_t>(j)] = p.col(j).tail(count).allFinite();
    });
  fault.Rethrow();
  return std::find(finite.begin(), finite.end(), 0) == finite.end();
}

// The harmonics rows (charge_harmonics.h) of a cluster's pieces, in the cluster's order.
using PieceRows = std::vector<std::span<const ChargeHarmonics::Entry>>;

// Adds the circumferential harmonics of the charge to the lower triangle of the pieces' potential
// matrix: the mean of the two rows of a pair, for the pairs of the cluster.
void AddHarmonics(const std::vector<Piece>& pieces, const PieceRows& rows,
                  Eigen::Ref<Eigen::MatrixXd> p) {
  // Each piece's index here by its global index, in an open-addressed table (Fibonacci hashing:
  // a cluster's pieces are runs of consecutive global indices, which it spreads over the table),
  // so that a look-up mostly takes one or two probes (a binary search takes about ten, each a
  // branch the processor cannot foresee).
  int bits = 1;
  while ((std::size_t{1} << bits) < 2 * pieces.size()) ++bits;
  const auto slot_of = [&](std::size_t global) {
    return static_cast<std::size_t>((global * 0x9E3779B97F4A7C15ULL) >> (64 - bits));
  };
  const std::size_t mask = (std::size_t{1} << bits) - 1;
  constexpr std::size_t kEmpty = std::numeric_limits<std::size_t>::max();
  std::vector<std::pair<std::size_t, Eigen::Index>> local(mask + 1, {kEmpty, 0});
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    std::size_t at = slot_of(pieces[i].global);
    while (local[at].first != kEmpty) at = (at + 1) & mask;
    local[at] = {pieces[i].global, static_cast<Eigen::Index>(i)};
  }
  const auto find = [&](std::size_t global) {
    for (std::size_t at = slot_of(global);; at = (at + 1) & mask) {
      if (local[at].first == global) return local[at].second;
      if (local[at].first == kEmpty) return Eigen::Index{-1};
    }
  };
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const auto a = static_cast<Eigen::Index>(i);
    for (const ChargeHarmonics::Entry& e : rows[i]) {
      const Eigen::Index b = find(e.piece);
      if (b < 0) continue;
      if (a == b) {
        p(a, a) += e.value;
      } else {
        p(std::max(a, b), std::min(a, b)) += 0.5 * e.value;
      }
    }
  }
}

// The Maxwell matrix (F) of the wires 0..wire_count-1 that `pieces` belong to, with the
// harmonics of the charge when `harmonics` is given. The harmonics are a 2-D correction laid on
// 3-D pieces: where wires come very close over short pieces, or run at a distance that changes
// fast along them, the rows of neighbouring pieces disagree and P can lose its positive definite
// form. Then the cluster is solved without them and `without_harmonics` is set. With `share` the
// work is split into OpenMP tasks of the current team, else the calling thread does it all. Inside
// a parallel region Eigen's products stay on one thread, with the same blocking whatever the thread
// count, so the result does not depend on it.
//
// Only the rows of the first `kept_wires` wires are filled in (and their columns, by symmetry):
// a cluster keeps its block's rows alone, and solving for one volt on the other conductors
// (two thirds of a cluster's) would be thrown away. The charges are solved for the kept wires'
// conductors and for every conductor of several wires (whose wires' shares need its charges); a
// conductor of one wire has the share 1.
Eigen::MatrixXd SolveCluster(const std::vector<Piece>& pieces, std::size_t wire_count,
                             std::size_t conductor_count, std::size_t kept_wires, double eps_f_m,
                             const PieceRows* harmonics, bool share,
                             const std::vector<std::string>& names, bool& without_harmonics) {
  const auto n = static_cast<Eigen::Index>(pieces.size());
  Eigen::MatrixXd p(n, n);
  const auto fill = [&](bool with_harmonics) {
    if (!FillPotentialMatrix(pieces, eps_f_m, share, p)) {
      throw StageError("the potential of wires " + JoinNames(names) +
                       " is not finite: two of their pieces lie on one another");
    }
    if (with_harmonics) AddHarmonics(pieces, *harmonics, p);
  };
  fill(harmonics != nullptr);
  // Factorised in place: P itself is not needed again.
  bool factored = FactorLowerInPlace(p);
  without_harmonics = false;
  if (!factored && harmonics != nullptr) {
    without_harmonics = true;
    fill(false);
    factored = FactorLowerInPlace(p);
  }
  if (!factored) {
    throw StageError("the potential matrix of wires " + JoinNames(names) +
                     " is not positive definite: wires come too close for the capacitance "
                     "model; --no-capacitance leaves it out");
  }
  const auto m = static_cast<Eigen::Index>(conductor_count);
  const auto w_count = static_cast<Eigen::Index>(wire_count);
  // Each wire's conductor (a dropped piece's wire belongs to the conductor of the piece that
  // holds it) and how many wires each conductor has here.
  std::vector<Eigen::Index> conductor_of(wire_count, 0);
  for (const Piece& piece : pieces) {
    conductor_of[piece.wire] = static_cast<Eigen::Index>(piece.conductor);
    for (std::size_t w : piece.sharers)
      conductor_of[w] = static_cast<Eigen::Index>(piece.conductor);
  }
  std::vector<std::size_t> wires_of(conductor_count, 0);
  for (Eigen::Index k : conductor_of) ++wires_of[static_cast<std::size_t>(k)];
  // The conductors solved for, in order, and each one's column (-1: not solved for).
  std::vector<Eigen::Index> column(conductor_count, -1);
  Eigen::Index solved = 0;
  for (std::size_t k = 0; k < conductor_count; ++k) {
    bool kept = wires_of[k] > 1;
    for (std::size_t i = 0; i < kept_wires && !kept; ++i) {
      kept = conductor_of[i] == static_cast<Eigen::Index>(k);
    }
    if (kept) column[k] = solved++;
  }
  Eigen::MatrixXd charges = Eigen::MatrixXd::Zero(n, solved);
  for (Eigen::Index i = 0; i < n; ++i) {
    const std::size_t k = pieces[static_cast<std::size_t>(i)].conductor;
    if (column[k] >= 0) charges(i, column[k]) = 1;
  }
  // Piece charges for one volt on each solved conductor in turn; C_km = sum over k's pieces of
  // charge (m), the mean of C_km and C_mk where both are solved for.
  SolveWithLowerFactor(p, charges);
  Eigen::MatrixXd sums = Eigen::MatrixXd::Zero(m, solved);  // m x solved, in piece order
  for (Eigen::Index i = 0; i < n; ++i) {
    sums.row(static_cast<Eigen::Index>(pieces[static_cast<std::size_t>(i)].conductor)) +=
        charges.row(i);
  }
  const auto c = [&](Eigen::Index a, Eigen::Index b) {
    const Eigen::Index ca = column[static_cast<std::size_t>(a)];
    const Eigen::Index cb = column[static_cast<std::size_t>(b)];
    if (ca >= 0 && cb >= 0) return 0.5 * (sums(a, cb) + sums(b, ca));
    return ca >= 0 ? sums(b, ca) : sums(a, cb);
  };
  // Each wire's share of its conductor's charge with the conductor at one volt; a piece that
  // holds dropped pieces of other wires shares its charge with them equally. A conductor at the
  // highest potential carries charge of one sign only; a piece charge of the other sign (where
  // pieces of touching wires crowd) is an artefact of the pieces and counts as none.
  Eigen::VectorXd share_of = Eigen::VectorXd::Zero(w_count);
  Eigen::VectorXd conductor_total = Eigen::VectorXd::Zero(m);
  for (Eigen::Index i = 0; i < n; ++i) {
    const Piece& piece = pieces[static_cast<std::size_t>(i)];
    const Eigen::Index col = column[piece.conductor];
    if (wires_of[piece.conductor] < 2) continue;
    const double charge = std::max(charges(i, col), 0.0);
    const double q = charge / static_cast<double>(1 + piece.sharers.size());
    share_of(static_cast<Eigen::Index>(piece.wire)) += q;
    for (std::size_t w : piece.sharers) share_of(static_cast<Eigen::Index>(w)) += q;
    conductor_total(static_cast<Eigen::Index>(piece.conductor)) += charge;
  }
  // Wires of different conductors: C_ij = w_i w_j C_AB; of one conductor: C_ii = w_i C_AA and
  // no coupling, so that the matrix sums back to the conductors' matrix.
  Eigen::VectorXd w(w_count);
  for (Eigen::Index i = 0; i < w_count; ++i) {
    const Eigen::Index k = conductor_of[static_cast<std::size_t>(i)];
    w(i) = wires_of[static_cast<std::size_t>(k)] < 2 ? 1.0 : share_of(i) / conductor_total(k);
  }
  Eigen::MatrixXd by_wire = Eigen::MatrixXd::Zero(w_count, w_count);
  for (Eigen::Index i = 0; i < static_cast<Eigen::Index>(kept_wires); ++i) {
    const Eigen::Index a = conductor_of[static_cast<std::size_t>(i)];
    by_wire(i, i) = w(i) * c(a, a);
    for (Eigen::Index j = 0; j < w_count; ++j) {
      const Eigen::Index b = conductor_of[static_cast<std::size_t>(j)];
      if (a != b) by_wire(i, j) = by_wire(j, i) = w(i) * w(j) * c(a, b);
    }
  }
  return by_wire;
}

// Pieces of wires of one conductor that overlap a piece of an earlier wire of it (their axis
// middle within the sum of the radii of its axis) carry no charge of their own: two surfaces in
// one place would make the potential matrix all but singular, and its charges swing from piece
// to piece. The covering piece keeps the charge and shares it with the wire of the dropped
// piece: the two overlapping wires are taken as one round wire there.
void DropCoveredPieces(std::vector<Piece>& pieces) {
  std::vector<Piece> kept;
  kept.reserve(pieces.size());
  for (Piece& piece : pieces) {
    Piece* cover = nullptr;
    for (Piece& k : kept) {
      if (k.conductor != piece.conductor || k.wire == piece.wire) continue;
      const double contact_m = k.radius_m + piece.radius_m;
      if (Norm(Sub(k.mid, piece.mid)) > 0.5 * k.length_m + contact_m) continue;
      if (ClosestApproach(k.p0, k.p1, piece.mid, piece.mid).distance_m < contact_m) {
        cover = &k;
        break;
      }
    }
    if (cover == nullptr) {
      kept.push_back(std::move(piece));
    } else if (std::find(cover->sharers.begin(), cover->sharers.end(), piece.wire) ==
               cover->sharers.end()) {
      cover->sharers.push_back(piece.wire);
    }
  }
  pieces = std::move(kept);
}

// Shortest distance between two wires, from their piece end points (within a piece length).
double WireDistance(const std::vector<Point3>& a, const std::vector<Point3>& b) {
  double best = INFINITY;
  for (const auto& x : a) {
    for (const auto& y : b) best = std::min(best, Norm(Sub(x, y)));
  }
  return best;
}

}  // namespace

namespace {

// Throws StageError unless the plane lies below the substrate surface and under every wire, the
// permittivity is at least 1 and every wire has a radius.
void CheckCapacitanceInputs(const std::vector<Conductor>& conductors, double ground_depth_m,
                            double eps_r) {
  if (!(ground_depth_m > 0) || !std::isfinite(ground_depth_m)) {
    throw StageError("the capacitance needs a ground plane below the substrate surface");
  }
  if (!(eps_r >= 1) || !std::isfinite(eps_r)) {
    throw StageError("the relative permittivity must be at least 1");
  }
  for (const auto& c : conductors) {
    if (!(c.radius_m > 0)) throw StageError("wire " + c.name + " has no radius");
    for (const auto& p : c.path_m) {
      if (p.z < -ground_depth_m) throw StageError("wire " + c.name + " runs below the plane");
    }
  }
}

// The pieces of a set of wires, renumbered for one system: wire k of the set, and its conductor
// among the set's conductors (wires that touch are one).
struct Gathered {
  std::vector<Piece> pieces;
  std::vector<std::string> names;
  std::size_t conductors = 0;
};

// A piece as kept for the whole package: the points fixed by the plane are placed when a cluster
// gathers it (the kept pieces take a third of the room of gathered ones).
struct StoredPiece {
  Point3 p0, p1;
  double length_m = 0, radius_m = 0;
  std::size_t run = 0, seq = 0;
  double run_s0 = 0, run_s1 = 0;
};

// Every wire's pieces and conductor, from which the systems of any set of wires are gathered.
class PieceSource {
 public:
  PieceSource(const std::vector<Conductor>& conductors, double ground_depth_m, double eps_f_m,
              const CapacitanceSettings& settings,
              const std::vector<std::vector<std::size_t>>& joined)
      : conductors_(conductors),
        depth_m_(ground_depth_m),
        first_(1, 0),
        conductor_of_(conductors.size()) {
    // Each wire cut on its own, its runs numbered from 0 and then after the runs of the wires
    // before it; a wire that cannot be cut is reported as in a cut in wire order, the first.
    const std::size_t wires = conductors.size();
    std::vector<std::vector<StoredPiece>> cut(wires);
    std::vector<std::size_t> runs(wires, 0);
    std::vector<std::exception_ptr> fault(wires);
#pragma omp parallel for schedule(dynamic, 256)
    for (std::size_t w = 0; w < wires; ++w) {
      try {
        std::vector<Piece> pieces;
        AppendPieces(conductors[w], w, ground_depth_m, settings, runs[w], pieces);
        cut[w].reserve(pieces.size());
        for (const Piece& p : pieces) {
          cut[w].push_back({p.p0, p.p1, p.length_m, p.radius_m, p.run, p.seq, p.run_s0, p.run_s1});
        }
      } catch (...) {
        fault[w] = std::current_exception();
      }
    }
    std::size_t total = 0;
    for (std::size_t w = 0; w < wires; ++w) {
      if (fault[w]) std::rethrow_exception(fault[w]);
      total += cut[w].size();
    }
    stored_.reserve(total);
    AdviseLargePages(stored_.data(), total * sizeof(StoredPiece));
    std::size_t run_id = 0;
    for (std::size_t w = 0; w < wires; ++w) {
      for (StoredPiece& p : cut[w]) {
        p.run += run_id;
        stored_.push_back(p);
      }
      cut[w] = {};
      run_id += runs[w];
      first_.push_back(stored_.size());
      conductor_of_[w] = w;
    }
    for (const auto& group : joined) {
      for (std::size_t w : group) conductor_of_[w] = group.front();
    }
    if (settings.proximity) {
      std::vector<ChargePiece> all;
      all.reserve(stored_.size());
      for (std::size_t w = 0; w < conductors.size(); ++w) {
        for (const StoredPiece& p : Pieces(w)) {
          all.push_back({p.p0, p.p1, p.radius_m, w, conductor_of_[w]});
        }
      }
      harmonics_.emplace(std::move(all), ground_depth_m, eps_f_m);
    }
  }

  std::size_t total_pieces() const { return stored_.size(); }
  // The harmonics of the charge of every piece (numbered in wire order), or null when they are
  // left out.
  const ChargeHarmonicRows* Harmonics() const { return harmonics_ ? &*harmonics_ : nullptr; }
  std::span<const StoredPiece> Pieces(std::size_t wire) const {
    return {stored_.data() + first_[wire], stored_.data() + first_[wire + 1]};
  }
  // The number of the wire's first piece among the pieces of all wires.
  std::size_t FirstPiece(std::size_t wire) const { return first_[wire]; }
  bool OneConductor(std::size_t a, std::size_t b) const {
    return conductor_of_[a] == conductor_of_[b];
  }
  std::vector<std::string> Notes(const std::vector<ClosePair>& close) const {
    if (!harmonics_) return {};
    std::vector<std::string> names;
    for (const Conductor& c : conductors_) names.push_back(c.name);
    return ChargeHarmonicNotes(close, names);
  }

  // The pieces of `members` in that order, conductors numbered in order of their first wire.
  Gathered Gather(const std::vector<std::size_t>& members) const {
    Gathered g;
    std::vector<std::size_t> seen;  // conductors in order of their first wire in `members`
    for (std::size_t k = 0; k < members.size(); ++k) {
      const auto at = std::find(seen.begin(), seen.end(), conductor_of_[members[k]]);
      const auto local = static_cast<std::size_t>(at - seen.begin());
      if (at == seen.end()) seen.push_back(conductor_of_[members[k]]);
      for (std::size_t global = first_[members[k]]; global < first_[members[k] + 1]; ++global) {
        const StoredPiece& kept = stored_[global];
        Piece p;
        p.p0 = kept.p0;
        p.p1 = kept.p1;
        p.length_m = kept.length_m;
        p.radius_m = kept.radius_m;
        p.wire = k;
        p.conductor = local;
        p.run = kept.run;
        p.run_s0 = kept.run_s0;
        p.run_s1 = kept.run_s1;
        p.seq = kept.seq;
        p.global = global;
        PlacePoints(p, depth_m_);
        g.pieces.push_back(std::move(p));
      }
      g.names.push_back(conductors_[members[k]].name);
    }
    g.conductors = seen.size();
    if (g.conductors < members.size()) {
      // Where wires of one conductor overlap, the wire listed first in the whole package keeps
      // the charge, as in the one-system solve, whichever wire leads the cluster.
      const auto package_order = [&](const Piece& a, const Piece& b) {
        return members[a.wire] < members[b.wire];
      };
      std::stable_sort(g.pieces.begin(), g.pieces.end(), package_order);
      DropCoveredPieces(g.pieces);
      std::stable_sort(g.pieces.begin(), g.pieces.end(),
                       [](const Piece& a, const Piece& b) { return a.wire < b.wire; });
    }
    return g;
  }

 private:
  const std::vector<Conductor>& conductors_;
  double depth_m_;
  std::vector<StoredPiece> stored_;
  std::vector<std::size_t> first_;  // wire w's pieces are stored_[first_[w]] to [first_[w + 1])
  std::vector<std::size_t> conductor_of_;
  std::optional<ChargeHarmonicRows> harmonics_;
};

// The harmonics rows of the wires' pieces, each wire's found by the first cluster that holds it
// and freed after the last one (`users`: how many clusters hold each wire), so that a large
// package never holds the rows of all its pieces at once. A row does not depend on which thread
// finds it, or when.
class WireRows {
 public:
  WireRows(const PieceSource& source, const std::vector<std::size_t>& users)
      : source_(source), wires_(users.size()) {
    for (std::size_t w = 0; w < users.size(); ++w) wires_[w].users = users[w];
  }

  // Finds the rows of the wires of `members` not found yet. A wire that another thread is
  // finding is waited for once the others are done.
  void Acquire(const std::vector<std::size_t>& members) {
    std::vector<std::size_t> busy;
    for (std::size_t w : members) {
      std::unique_lock hold(wires_[w].lock, std::try_to_lock);
      if (!hold.owns_lock()) {
        busy.push_back(w);
      } else {
        FindLocked(w);
      }
    }
    for (std::size_t w : busy) {
      const std::lock_guard hold(wires_[w].lock);
      FindLocked(w);
    }
  }

  // The rows of a cluster's gathered pieces, `members` the cluster's wires; valid until its
  // wires are released.
  PieceRows Rows(const std::vector<Piece>& pieces, const std::vector<std::size_t>& members) const {
    PieceRows rows;
    rows.reserve(pieces.size());
    for (const Piece& piece : pieces) {
      const std::size_t w = members[piece.wire];
      const Wire& wire = wires_[w];
      const std::size_t k = piece.global - source_.FirstPiece(w);
      rows.emplace_back(wire.entries.data() + wire.start[k], wire.start[k + 1] - wire.start[k]);
    }
    return rows;
  }

  // A cluster of `members` is done with their rows; a wire's are freed after its last cluster.
  void Release(const std::vector<std::size_t>& members) {
    for (std::size_t w : members) {
      const std::lock_guard hold(wires_[w].lock);
      if (--wires_[w].users == 0) {
        wires_[w].entries = {};
        wires_[w].start = {};
      }
    }
  }

  // The close pairs of every wire found, in piece order; once every cluster is done.
  std::vector<ClosePair> Close() const {
    std::vector<ClosePair> close;
    for (const Wire& wire : wires_) close.insert(close.end(), wire.close.begin(), wire.close.end());
    return close;
  }

 private:
  struct Wire {
    std::mutex lock;
    std::size_t users = 0;
    bool found = false;
    std::vector<std::size_t> start;  // piece k's row: entries[start[k]] to [start[k + 1])
    std::vector<ChargeHarmonics::Entry> entries;
    std::vector<ClosePair> close;
  };

  // The wire's rows, found under its lock unless they are.
  void FindLocked(std::size_t w) {
    Wire& wire = wires_[w];
    if (wire.found) return;
    const ChargeHarmonicRows& field = *source_.Harmonics();
    const std::size_t first = source_.FirstPiece(w);
    const std::size_t count = source_.Pieces(w).size();
    std::vector<std::vector<ChargeHarmonics::Entry>> rows(count);
    std::size_t entries = 0;
    // The pieces in order along the wire, each section's sweeps starting from the one before.
    SweepStart start;
    for (std::size_t k = 0; k < count; ++k) {
      rows[k] = field.Row(first + k, wire.close, &start);
      entries += rows[k].size();
    }
    wire.start.reserve(count + 1);
    wire.entries.reserve(entries);
    wire.start.push_back(0);
    for (const auto& row : rows) {
      wire.entries.insert(wire.entries.end(), row.begin(), row.end());
      wire.start.push_back(wire.entries.size());
    }
    wire.found = true;
  }

  const PieceSource& source_;
  std::vector<Wire> wires_;
};

// Small package: every wire in one system, every coupling kept, the work shared by the threads.
// `rows` (null without the harmonics) holds one user of every wire.
SymmetricMatrix DenseCapacitance(const PieceSource& source, std::size_t wires, double eps_f_m,
                                 const Progress& progress, WireRows* rows,
                                 std::vector<char>& without_harmonics) {
  CheckCancel(progress);
  std::vector<std::size_t> all(wires);
  for (std::size_t w = 0; w < wires; ++w) all[w] = w;
  const Gathered gathered = source.Gather(all);
  const std::size_t pieces = gathered.pieces.size();
  CheckDenseFits(DenseBytes(pieces, pieces, sizeof(double)) +
                     2 * DenseBytes(pieces, wires, sizeof(double)) +
                     3 * DenseBytes(wires, wires, sizeof(double)),
                 "the capacitance of " + std::to_string(wires) + " wires in one system");
  Eigen::MatrixXd c;
  bool without = false;
  ParallelFault fault;
  PieceRows piece_rows;
  if (rows != nullptr) {
#pragma omp parallel for schedule(dynamic, 1)
    for (std::size_t w = 0; w < wires; ++w) fault.Run([&] { rows->Acquire({w}); });
    fault.Rethrow();
    piece_rows = rows->Rows(gathered.pieces, all);
  }
#pragma omp parallel
#pragma omp single
  fault.Run([&] {
    c = SolveCluster(gathered.pieces, wires, gathered.conductors, wires, eps_f_m,
                     rows != nullptr ? &piece_rows : nullptr, true, gathered.names, without);
  });
  fault.Rethrow();
  if (rows != nullptr) rows->Release(all);
  if (without) without_harmonics.assign(wires, 1);
  SymmetricMatrix result;
  result.n = wires;
  result.dense = true;
  result.values.assign(c.data(), c.data() + c.size());  // symmetric: row = column order
  if (progress.report) progress.report("capacitance", 1.0);
  return result;
}

// Each wire's neighbours: the wires whose piece ends come within `cutoff_m` of its own, found by
// sweeping their bounding boxes along X. Ascending wire indices.
std::vector<std::vector<std::size_t>> NeighbourWires(const PieceSource& source, std::size_t wires,
                                                     double cutoff_m) {
  std::vector<std::vector<Point3>> points(wires);
  std::vector<Point3> lo(wires), hi(wires);
#pragma omp parallel for schedule(dynamic, 1024)
  for (std::size_t w = 0; w < wires; ++w) {
    const std::span<const StoredPiece> pieces = source.Pieces(w);
    for (const auto& p : pieces) points[w].push_back(p.p0);
    points[w].push_back(pieces.back().p1);
    lo[w] = hi[w] = points[w].front();
    for (const auto& p : points[w]) {
      lo[w] = {std::min(lo[w].x, p.x), std::min(lo[w].y, p.y), std::min(lo[w].z, p.z)};
      hi[w] = {std::max(hi[w].x, p.x), std::max(hi[w].y, p.y), std::max(hi[w].z, p.z)};
    }
  }
  std::vector<std::vector<std::size_t>> neighbours(wires);
  std::vector<std::size_t> order(wires);
  for (std::size_t w = 0; w < wires; ++w) order[w] = w;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return lo[a].x < lo[b].x || (lo[a].x == lo[b].x && a < b);
  });
  // The pairs found from each wire in the order of the sweep (shared among the threads), then
  // entered in that order.
  std::vector<std::vector<std::size_t>> near(wires);
#pragma omp parallel for schedule(dynamic, 256)
  for (std::size_t u = 0; u < wires; ++u) {
    const std::size_t a = order[u];
    for (std::size_t v = u + 1; v < wires && lo[order[v]].x <= hi[a].x + cutoff_m; ++v) {
      const std::size_t b = order[v];
      const bool boxes_near = lo[b].y <= hi[a].y + cutoff_m && lo[a].y <= hi[b].y + cutoff_m &&
                              lo[b].z <= hi[a].z + cutoff_m && lo[a].z <= hi[b].z + cutoff_m;
      if (boxes_near && WireDistance(points[a], points[b]) <= cutoff_m) near[u].push_back(b);
    }
  }
  for (std::size_t u = 0; u < wires; ++u) {
    const std::size_t a = order[u];
    for (std::size_t b : near[u]) {
      neighbours[a].push_back(b);
      neighbours[b].push_back(a);
    }
  }
  for (auto& list : neighbours) std::sort(list.begin(), list.end());
  return neighbours;
}

// Blocks of up to kBlockWires neighbouring wires, grown from the first wire not yet placed;
// every wire is in one block.
std::vector<std::vector<std::size_t>> WireBlocks(
    const std::vector<std::vector<std::size_t>>& neighbours) {
  const std::size_t wires = neighbours.size();
  std::vector<std::vector<std::size_t>> blocks;
  std::vector<bool> placed(wires, false);
  for (std::size_t seed = 0; seed < wires; ++seed) {
    if (placed[seed]) continue;
    std::vector<std::size_t> block = {seed};
    placed[seed] = true;
    for (std::size_t k = 0; k < block.size() && block.size() < kBlockWires; ++k) {
      for (std::size_t nb : neighbours[block[k]]) {
        if (block.size() >= kBlockWires) break;
        if (!placed[nb]) {
          placed[nb] = true;
          block.push_back(nb);
        }
      }
    }
    blocks.push_back(std::move(block));
  }
  return blocks;
}

// An entry of the lower triangle as one block found it.
// (Wire numbers as 32 bits: a large package's entries are held twice while they are merged.)
struct Found {
  std::uint32_t i, j;
  double value;
};

// A block's cluster: its members, then every neighbour of one of them.
std::vector<std::size_t> ClusterOf(const std::vector<std::size_t>& block,
                                   const std::vector<std::vector<std::size_t>>& neighbours) {
  std::vector<std::size_t> cluster = block;
  for (std::size_t w : block) {
    for (std::size_t nb : neighbours[w]) {
      if (std::find(cluster.begin(), cluster.end(), nb) == cluster.end()) cluster.push_back(nb);
    }
  }
  return cluster;
}

// The rows of one block's members, solved with their cluster (the block's members first);
// couplings to wires beyond the cut-off are dropped: they stay in the diagonal, as capacitance
// to ground. `rows` (null without the harmonics) counts the cluster among its wires' users.
std::vector<Found> SolveBlock(const PieceSource& source, const std::vector<std::size_t>& block,
                              const std::vector<std::size_t>& cluster,
                              const std::vector<std::vector<std::size_t>>& neighbours,
                              double eps_f_m, WireRows* rows,
                              std::vector<char>& without_harmonics) {
  const Gathered g = source.Gather(cluster);
  PieceRows piece_rows;
  if (rows != nullptr) {
    rows->Acquire(cluster);
    piece_rows = rows->Rows(g.pieces, cluster);
  }
  // One thread per cluster: the clusters share out the work.
  bool without = false;
  const Eigen::MatrixXd c =
      SolveCluster(g.pieces, cluster.size(), g.conductors, block.size(), eps_f_m,
                   rows != nullptr ? &piece_rows : nullptr, false, g.names, without);
  if (rows != nullptr) rows->Release(cluster);
  for (std::size_t w : block) without_harmonics[w] = without ? 1 : 0;  // blocks do not share
  std::vector<Found> found;
  for (std::size_t k = 0; k < block.size(); ++k) {
    const std::size_t i = cluster[k];
    const auto ki = static_cast<Eigen::Index>(k);
    found.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(i), c(ki, ki)});
    for (std::size_t m = 0; m < cluster.size(); ++m) {
      const std::size_t j = cluster[m];
      if (j == i || source.OneConductor(i, j) ||
          !std::binary_search(neighbours[i].begin(), neighbours[i].end(), j)) {
        continue;
      }
      found.push_back({static_cast<std::uint32_t>(std::max(i, j)),
                       static_cast<std::uint32_t>(std::min(i, j)),
                       c(ki, static_cast<Eigen::Index>(m))});
    }
  }
  found.shrink_to_fit();  // kept until every block is solved
  return found;
}

// The order in which the blocks are solved: by the bearing of their first wire's start from the
// middle of all wires' starts, so that the clusters that hold a wire are solved close together in
// time and its harmonics are freed soon after they are found (blocks are made in package order,
// which lists a stacked die's wires long after those of the base die beneath them). The order
// changes no figure.
std::vector<std::size_t> SolveOrder(const PieceSource& source,
                                    const std::vector<std::vector<std::size_t>>& blocks) {
  Point3 middle{0, 0, 0};
  std::size_t wires = 0;
  for (const auto& block : blocks) {
    for (std::size_t w : block) {
      middle = Add(middle, source.Pieces(w).front().p0);
      ++wires;
    }
  }
  middle = Scale(middle, 1 / static_cast<double>(std::max<std::size_t>(wires, 1)));
  std::vector<std::pair<double, std::size_t>> bearing;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const Point3 from = Sub(source.Pieces(blocks[b].front()).front().p0, middle);
    bearing.push_back({std::atan2(from.y, from.x), b});
  }
  std::sort(bearing.begin(), bearing.end());
  std::vector<std::size_t> order;
  for (const auto& [angle, b] : bearing) order.push_back(b);
  return order;
}

// Every block solved, one thread per block, in `order`; progress after each, the first fault or
// a cancel raised once all threads have stopped.
std::vector<std::vector<Found>> SolveBlocks(const PieceSource& source,
                                            const std::vector<std::vector<std::size_t>>& blocks,
                                            const std::vector<std::vector<std::size_t>>& clusters,
                                            const std::vector<std::size_t>& order,
                                            const std::vector<std::vector<std::size_t>>& neighbours,
                                            double eps_f_m, const Progress& progress,
                                            WireRows* rows, std::vector<char>& without_harmonics) {
  std::vector<std::vector<Found>> found(blocks.size());
  std::size_t done = 0;
  bool cancelled = false;
  std::exception_ptr failure;  // the first fault of any cluster, raised after the loop
#pragma omp parallel for schedule(dynamic, 1)
  for (std::size_t k = 0; k < order.size(); ++k) {
    const std::size_t b = order[k];
    bool skip = false;
#pragma omp critical(ostrel_capacitance)
    {
      if (progress.cancel != nullptr && progress.cancel->load()) cancelled = true;
      skip = cancelled || failure;
    }
    if (skip) continue;
    try {
      found[b] =
          SolveBlock(source, blocks[b], clusters[b], neighbours, eps_f_m, rows, without_harmonics);
    } catch (...) {
#pragma omp critical(ostrel_capacitance)
      if (!failure) failure = std::current_exception();
    }
#pragma omp critical(ostrel_capacitance)
    {
      ++done;
      if (progress.report) {
        progress.report("capacitance",
                        static_cast<double>(done) / static_cast<double>(blocks.size()));
      }
    }
  }
  if (cancelled) throw StageError("capacitance computation cancelled");
  if (failure) std::rethrow_exception(failure);
  return found;
}

// The sparse matrix of the entries found: a coupling found from both of its wires' blocks is
// their mean.
SymmetricMatrix MeanOfFound(std::size_t wires, std::vector<std::vector<Found>> found) {
  std::size_t count = 0;
  for (const auto& list : found) count += list.size();
  std::vector<Found> all;
  all.reserve(count);
  for (auto& list : found) {
    all.insert(all.end(), list.begin(), list.end());
    list = {};  // each block's entries freed as soon as they are copied
  }
  std::sort(all.begin(), all.end(), [](const Found& a, const Found& b) {
    return a.i < b.i || (a.i == b.i && (a.j < b.j || (a.j == b.j && a.value < b.value)));
  });
  const auto same = [](const Found& a, const Found& b) { return a.i == b.i && a.j == b.j; };
  std::size_t distinct = 0;
  for (std::size_t k = 0; k < all.size(); ++k) distinct += k == 0 || !same(all[k - 1], all[k]);
  SymmetricMatrix result;
  result.n = wires;
  result.dense = false;
  result.entries.reserve(distinct);
  for (std::size_t k = 0; k < all.size();) {
    std::size_t end = k;
    double sum = 0;
    while (end < all.size() && all[end].i == all[k].i && all[end].j == all[k].j) {
      sum += all[end].value;
      ++end;
    }
    result.entries.push_back({all[k].i, all[k].j, sum / static_cast<double>(end - k)});
    k = end;
  }
  return result;
}

// The Maxwell matrix of wires no two of which coincide: in one system when the pieces are few,
// else per block of neighbouring wires with the neighbours' couplings.
SymmetricMatrix DistinctCapacitance(const std::vector<Conductor>& conductors, double ground_depth_m,
                                    double eps_r, const Progress& progress,
                                    const CapacitanceSettings& settings,
                                    const std::vector<std::vector<std::size_t>>& joined,
                                    std::vector<std::string>* notes) {
  CheckCapacitanceInputs(conductors, ground_depth_m, eps_r);
  const double eps_f_m = kEps0 * eps_r;
  const std::size_t wires = conductors.size();
  std::vector<char> without_harmonics(wires, 0);
  SymmetricMatrix c;
  std::vector<std::vector<Found>> found;  // of the clusters
  std::vector<std::string> harmonic_notes;
  {
    const PieceSource source(conductors, ground_depth_m, eps_f_m, settings, joined);
    if (wires == 0) return SymmetricMatrix{};
    std::optional<WireRows> rows;
    if (source.total_pieces() <= settings.max_dense_pieces) {
      if (source.Harmonics() != nullptr) rows.emplace(source, std::vector<std::size_t>(wires, 1));
      c = DenseCapacitance(source, wires, eps_f_m, progress, rows ? &*rows : nullptr,
                           without_harmonics);
    } else {
      const std::vector<std::vector<std::size_t>> neighbours =
          NeighbourWires(source, wires, settings.cutoff_m);
      const std::vector<std::vector<std::size_t>> blocks = WireBlocks(neighbours);
      std::vector<std::vector<std::size_t>> clusters;
      std::vector<std::size_t> users(wires, 0);
      for (const auto& block : blocks) {
        clusters.push_back(ClusterOf(block, neighbours));
        for (std::size_t w : clusters.back()) ++users[w];
      }
      if (source.Harmonics() != nullptr) rows.emplace(source, users);
      found = SolveBlocks(source, blocks, clusters, SolveOrder(source, blocks), neighbours, eps_f_m,
                          progress, rows ? &*rows : nullptr, without_harmonics);
    }
    if (notes != nullptr && rows) harmonic_notes = source.Notes(rows->Close());
  }  // the pieces and their harmonics freed before the clusters' entries are merged
  if (!found.empty()) {
    c = MeanOfFound(wires, std::move(found));
    // The clusters' matrices, pieces and harmonics were freed on both threads, much of it into
    // the heap of the thread that solved them, where the model's later steps (run on the main
    // thread) cannot take it: hand it back to the system (on 100,100 wires 0.7 GB that the
    // sparse factorisations of the model's checks would otherwise add to).
    malloc_trim(0);
  }
  if (notes != nullptr) {
    *notes = std::move(harmonic_notes);
    std::vector<std::string> left_out;
    for (std::size_t w = 0; w < wires; ++w) {
      if (without_harmonics[w] != 0) left_out.push_back(conductors[w].name);
    }
    if (!left_out.empty()) {
      constexpr std::size_t kListed = 5;
      const bool more = left_out.size() > kListed;
      const std::size_t count = left_out.size();
      left_out.resize(std::min(count, kListed));
      notes->push_back("the harmonics of the charge of close wires are left out for " +
                       std::to_string(count) + (count == 1 ? " wire" : " wires") +
                       " (with them the potential matrix was not positive definite: wires that "
                       "come very close over short pieces): " +
                       JoinNames(left_out) + (more ? ", ..." : ""));
    }
  }
  return c;
}

}  // namespace

SymmetricMatrix ComputeCapacitance(const std::vector<Conductor>& conductors, double ground_depth_m,
                                   double eps_r, const Progress& progress,
                                   const CapacitanceSettings& settings,
                                   const std::vector<std::vector<std::size_t>>& joined,
                                   std::vector<std::string>* notes) {
  const auto coincident = CoincidentGroups(conductors);
  if (coincident.empty()) {
    return DistinctCapacitance(conductors, ground_depth_m, eps_r, progress, settings, joined,
                               notes);
  }
  // A coincident group is solved once, by its first wire, and its charge shared equally: wire i
  // of a group of m_i takes C_ii = D_ii / m_i and C_ij = D_ij / (m_i m_j), which sums back to D.
  const DistinctWires kept = Distinct(conductors.size(), coincident);
  std::vector<Conductor> distinct;
  for (std::size_t i : kept.first) distinct.push_back(conductors[i]);
  std::vector<std::vector<std::size_t>> distinct_joined;
  for (const auto& group : joined) {
    std::vector<std::size_t> slots;
    for (std::size_t i : group) slots.push_back(kept.slot[i]);
    std::sort(slots.begin(), slots.end());
    slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
    if (slots.size() > 1) distinct_joined.push_back(std::move(slots));
  }
  const SymmetricMatrix d = DistinctCapacitance(distinct, ground_depth_m, eps_r, progress, settings,
                                                distinct_joined, notes);
  const auto shared = [&](std::size_t i, std::size_t j, double value) {
    const auto mi = static_cast<double>(kept.count[kept.slot[i]]);
    const auto mj = static_cast<double>(kept.count[kept.slot[j]]);
    return i == j ? value / mi : kept.slot[i] == kept.slot[j] ? 0.0 : value / (mi * mj);
  };
  return Spread(d, kept, shared);
}

}  // namespace ostrel::physical
