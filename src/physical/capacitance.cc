#include "physical/capacitance.h"

#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "base/stage_error.h"
#include "physical/kernels.h"

namespace ostrel::physical {
namespace {

constexpr double kPi = std::numbers::pi;
// Vacuum permittivity, F/m (CODATA 2018).
constexpr double kEps0 = 8.8541878128e-12;
// Pieces whose centres are further apart than this many piece lengths use a 2 x 2 Gauss rule for
// the 1/R integral: its relative error is below 1e-5 there.
constexpr double kFarPieceLengths = 4.0;
// Sources within this many radii of a piece polarise it (the dipole correction). A neighbour's
// field falls off beyond it; what is cut is below 0.2% of a correction that is itself a few %.
constexpr double kProximityRadii = 40.0;
// Pieces within this many radii of a wire polarise enough to change its row of C.
constexpr double kSampleRadii = 12.0;
// Wires solved together per cluster before their neighbours are added.
constexpr std::size_t kBlockWires = 12;
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
  std::size_t wire = 0;          // index of the wire (in the cluster being solved)
  std::size_t run = 0;           // straight run, numbered over all wires
  double run_s0 = 0, run_s1 = 0;  // positions of p0 and p1 along the run, m
  std::size_t seq = 0;           // position along the wire: consecutive pieces touch
};

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

// Cuts a conductor's path into pieces. The target piece length is the least of: an absolute
// bound, a fraction of the height above the plane (the charge varies on that scale), and a length
// that grows geometrically from `end_piece_radii` radii at either end of the wire (the charge
// crowds towards an open end). Nodes are placed so that each piece spans an equal share of
// the integral of 1/target along the run.
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

// 1/R integral by a 2 x 2 Gauss-Legendre rule on the axes: for well-separated pieces.
double FarIntegral(const Point3& a0, const Point3& a1, double la, const Point3& b0,
                   const Point3& b1, double lb) {
  constexpr double kOff = 0.5 / std::numbers::sqrt3;
  const Point3 pa[2] = {Lerp(a0, a1, 0.5 - kOff), Lerp(a0, a1, 0.5 + kOff)};
  const Point3 pb[2] = {Lerp(b0, b1, 0.5 - kOff), Lerp(b0, b1, 0.5 + kOff)};
  double sum = 0;
  for (const auto& x : pa) {
    for (const auto& y : pb) sum += 1 / Norm(Sub(x, y));
  }
  return sum * 0.25 * la * lb;
}

bool IsFar(const Point3& a0, const Point3& a1, double la, const Point3& b0, const Point3& b1,
           double lb) {
  const double centres_m = Norm(Sub(Lerp(a0, a1, 0.5), Lerp(b0, b1, 0.5)));
  return centres_m > kFarPieceLengths * std::max(la, lb);
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

// The shortest distance between segments a0-a1 and b0-b1, and the vector from the closest
// point of a to that of b (clamped closest points of the two lines).
std::pair<double, Point3> SegmentGap(const Point3& a0, const Point3& a1, const Point3& b0,
                                     const Point3& b1) {
  const Point3 u = Sub(a1, a0), v = Sub(b1, b0), w = Sub(a0, b0);
  const double uu = Dot(u, u), vv = Dot(v, v), uv = Dot(u, v), uw = Dot(u, w), vw = Dot(v, w);
  const double det = uu * vv - uv * uv;
  double s = det > 1e-12 * uu * vv ? std::clamp((uv * vw - vv * uw) / det, 0.0, 1.0) : 0.0;
  double t = std::clamp((vw + s * uv) / vv, 0.0, 1.0);
  s = std::clamp((t * uv - uw) / uu, 0.0, 1.0);
  const Point3 between = Sub(Lerp(b0, b1, t), Lerp(a0, a1, s));
  return {Norm(between), between};
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
    return 0.5 * (RunSelf(s - p, rad) - RunSelf(r - p, rad) - RunSelf(s - q, rad) +
                  RunSelf(r - q, rad));
  }
  if (IsFar(a.p0, a.p1, a.length_m, b.p0, b.p1, b.length_m)) {
    return FarIntegral(a.p0, a.p1, a.length_m, b.p0, b.p1, b.length_m);
  }
  const double reach_m = 0.5 * (a.length_m + b.length_m) + a.radius_m + b.radius_m;
  if (a.wire != b.wire && Norm(Sub(Lerp(a.p0, a.p1, 0.5), Lerp(b.p0, b.p1, 0.5))) < reach_m) {
    // Wires that cross or touch (a stitch over a wire, two wires from one pad) are taken as
    // touching cylinders where they meet: piece b is moved off along the common normal until
    // the axes are a radius sum apart (the 1/R integral of filaments that meet is finite, but
    // beside the surface self terms it would leave P without a positive definite form).
    const auto [gap, from_a] = SegmentGap(a.p0, a.p1, b.p0, b.p1);
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
double ImageIntegral(const Piece& a, const Piece& b, double depth_m) {
  const Point3 b0 = Mirror(b.p0, depth_m), b1 = Mirror(b.p1, depth_m);
  if (IsFar(a.p0, a.p1, a.length_m, b0, b1, b.length_m)) {
    return FarIntegral(a.p0, a.p1, a.length_m, b0, b1, b.length_m);
  }
  return AxisIntegral(a.p0, a.p1, b0, b1);
}

double PointSegmentDistance(const Point3& x, const Point3& p0, const Point3& p1) {
  const Point3 d = Sub(p1, p0);
  const double t = std::clamp(Dot(Sub(x, p0), d) / Dot(d, d), 0.0, 1.0);
  return Norm(Sub(x, Lerp(p0, p1, t)));
}

// Electric field at x of a unit charge spread evenly over the segment p0-p1, times 4 pi eps:
// E = [rho_vec / rho^2 (sB/RB - sA/RA) + t (1/RB - 1/RA)] / l, with sA, sB the ends' positions
// along t from the foot of x and RA, RB their distances.
Point3 SegmentField(const Point3& x, const Point3& p0, const Point3& p1, double length_m) {
  const Point3 t = Scale(Sub(p1, p0), 1 / length_m);
  const Point3 u = Sub(x, p0);
  const double along = Dot(u, t);
  const Point3 rho_vec = Sub(u, Scale(t, along));
  const double rho2 = Dot(rho_vec, rho_vec);
  const double s_a = -along, s_b = length_m - along;
  const double r_a = std::sqrt(s_a * s_a + rho2), r_b = std::sqrt(s_b * s_b + rho2);
  Point3 e = Scale(t, 1 / r_b - 1 / r_a);
  if (rho2 > 0) e = Add(e, Scale(rho_vec, (s_b / r_b - s_a / r_a) / rho2));
  return Scale(e, 1 / length_m);
}

void CheckCancel(const Progress& progress) {
  if (progress.cancel != nullptr && progress.cancel->load()) {
    throw StageError("capacitance computation cancelled");
  }
}

// The potential coefficient matrix (lower triangle, 1/F) of the pieces over the plane.
Eigen::MatrixXd PotentialMatrix(const std::vector<Piece>& pieces, double depth_m,
                                double eps_f_m) {
  const auto n = static_cast<Eigen::Index>(pieces.size());
  Eigen::MatrixXd p = Eigen::MatrixXd::Zero(n, n);
  // P_ij = (N_ij - N_ij') / (4 pi eps l_i l_j): Galerkin potential coefficient with the image
  // (opposite charge) of piece j in the ground plane.
#pragma omp parallel for schedule(dynamic, 8)
  for (Eigen::Index i = 0; i < n; ++i) {
    const Piece& a = pieces[static_cast<std::size_t>(i)];
    for (Eigen::Index j = 0; j <= i; ++j) {
      const Piece& b = pieces[static_cast<std::size_t>(j)];
      const double n_ij = PairIntegral(a, b) - ImageIntegral(a, b, depth_m);
      p(i, j) = n_ij / (4 * kPi * eps_f_m * a.length_m * b.length_m);
    }
  }
  return p;
}

// The dipole correction of the Maxwell matrix (F), to first order. A wire in a transverse field
// E gains the surface charge 2 eps E cos(phi) (a conducting cylinder: dipole moment per length
// alpha E, alpha = 2 pi eps a^2), which lowers the field energy by alpha E^2 / 2 per length.
// With E at piece m the field of the other wires' charges and of all images, the potential
// matrix becomes P - sum_m alpha G_m^T G_m, and C = B^T P^-1 B gains, to first order,
// dC = sum_m alpha (G_m X)^T (G_m X) with X = P^-1 B the piece charges for one volt on each wire.
// This is the first order of the circumferential harmonics: ln(2h/a) becomes acosh(h/a) and the
// ln(s/a) of a close pair acosh(s/2a), to order (a/h)^2 and (a/s)^2.
//
// Only the rows of the first `kept_wires` wires are wanted: pieces further than
// kSampleRadii radii from all of those wires add below 0.03% to them and are skipped.
Eigen::MatrixXd DipoleCorrection(const std::vector<Piece>& pieces, const Eigen::MatrixXd& charges,
                                 std::size_t kept_wires, double depth_m, double eps_f_m) {
  const auto n = static_cast<Eigen::Index>(pieces.size());
  const Eigen::Index w = charges.cols();
  const Eigen::MatrixXd charges_t = charges.transpose();  // a piece's charges as one column
  constexpr double kOff = 0.5 / std::numbers::sqrt3;
  // Per piece (and thread-independent order) its share of dC.
  std::vector<Eigen::MatrixXd> shares(pieces.size());
#pragma omp parallel for schedule(dynamic, 8)
  for (Eigen::Index m = 0; m < n; ++m) {
    const Piece& pm = pieces[static_cast<std::size_t>(m)];
    if (pm.wire >= kept_wires) {
      bool wanted = false;
      const Point3 mid = Lerp(pm.p0, pm.p1, 0.5);
      for (const Piece& pk : pieces) {
        if (pk.wire >= kept_wires) continue;
        const double apart_m = Norm(Sub(mid, Lerp(pk.p0, pk.p1, 0.5)));
        if (apart_m < 0.5 * (pm.length_m + pk.length_m) + kSampleRadii * pm.radius_m) {
          wanted = true;
          break;
        }
      }
      if (!wanted) continue;
    }
    const Point3 t = Scale(Sub(pm.p1, pm.p0), 1 / pm.length_m);
    const double reach_m = kProximityRadii * pm.radius_m;
    const double alpha = 2 * kPi * eps_f_m * pm.radius_m * pm.radius_m;
    // Two Gauss points per piece, each weighted by half its length.
    const double weight = std::sqrt(alpha * 0.5 * pm.length_m) / (4 * kPi * eps_f_m);
    Eigen::MatrixXd share = Eigen::MatrixXd::Zero(w, w);
    for (int g = 0; g < 2; ++g) {
      const Point3 x = Lerp(pm.p0, pm.p1, g == 0 ? 0.5 - kOff : 0.5 + kOff);
      // Field at x for one volt on each wire: w x 3.
      Eigen::MatrixXd field = Eigen::MatrixXd::Zero(w, 3);
      for (Eigen::Index j = 0; j < n; ++j) {
        const Piece& pj = pieces[static_cast<std::size_t>(j)];
        const Point3 centre = Lerp(pj.p0, pj.p1, 0.5);
        const double within_m = reach_m + 0.5 * pj.length_m;
        const bool near = Norm(Sub(x, centre)) < within_m;
        const bool image_near = Norm(Sub(x, Mirror(centre, depth_m))) < within_m;
        if (!near && !image_near) continue;  // neither the piece nor its image reaches x
        Point3 e{};
        bool used = false;
        if (near && pj.wire != pm.wire) {
          const double d = PointSegmentDistance(x, pj.p0, pj.p1);
          // Wires closer than 1.5 radius sums (a gap of half a diameter) are beyond a first-order
          // correction; they occur only where wires cross or share a pad, and are left out.
          if (d < reach_m && d > 1.5 * (pm.radius_m + pj.radius_m)) {
            e = SegmentField(x, pj.p0, pj.p1, pj.length_m);
            used = true;
          }
        }
        const Point3 i0 = Mirror(pj.p0, depth_m), i1 = Mirror(pj.p1, depth_m);
        if (PointSegmentDistance(x, i0, i1) < reach_m) {
          e = Sub(e, SegmentField(x, i0, i1, pj.length_m));
          used = true;
        }
        if (!used) continue;
        const Point3 g_vec = Scale(Sub(e, Scale(t, Dot(e, t))), weight);  // transverse part
        field.col(0) += g_vec.x * charges_t.col(j);
        field.col(1) += g_vec.y * charges_t.col(j);
        field.col(2) += g_vec.z * charges_t.col(j);
      }
      share.noalias() += field * field.transpose();
    }
    shares[static_cast<std::size_t>(m)] = std::move(share);
  }
  Eigen::MatrixXd dc = Eigen::MatrixXd::Zero(w, w);
  for (const auto& share : shares) {
    if (share.size() != 0) dc += share;
  }
  return dc;
}

// The Maxwell matrix (F) of the wires 0..wire_count-1 that `pieces` belong to; the rows of the
// first `kept_wires` are the ones used.
Eigen::MatrixXd SolveCluster(const std::vector<Piece>& pieces, std::size_t wire_count,
                             std::size_t kept_wires, double depth_m, double eps_f_m,
                             bool proximity,
                             const std::vector<std::string>& names) {
  const Eigen::MatrixXd p = PotentialMatrix(pieces, depth_m, eps_f_m);
  if (!p.allFinite()) {
    throw StageError("wires touch or cross each other; their capacitance cannot be computed");
  }
  const Eigen::LLT<Eigen::MatrixXd, Eigen::Lower> llt(p);
  if (llt.info() != Eigen::Success) {
    std::string list;
    for (const auto& name : names) list += (list.empty() ? "" : ", ") + name;
    throw StageError("the potential matrix of wires " + list +
                     " is not positive definite: wires touch or overlap");
  }
  const auto n = static_cast<Eigen::Index>(pieces.size());
  const auto w = static_cast<Eigen::Index>(wire_count);
  Eigen::MatrixXd unit_volts = Eigen::MatrixXd::Zero(n, w);
  for (Eigen::Index i = 0; i < n; ++i) {
    unit_volts(i, static_cast<Eigen::Index>(pieces[static_cast<std::size_t>(i)].wire)) = 1;
  }
  // Piece charges for one volt on each wire in turn; C_km = sum over k's pieces of charge (m).
  const Eigen::MatrixXd charges = llt.solve(unit_volts);
  Eigen::MatrixXd c = unit_volts.transpose() * charges;
  if (proximity) c += DipoleCorrection(pieces, charges, kept_wires, depth_m, eps_f_m);
  return 0.5 * (c + c.transpose());
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

SymmetricMatrix ComputeCapacitance(const std::vector<Conductor>& conductors, double ground_depth_m,
                                   double eps_r, const Progress& progress,
                                   const CapacitanceSettings& settings) {
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
  const double eps_f_m = kEps0 * eps_r;
  const std::size_t wires = conductors.size();

  // Every wire's pieces, numbered 0..wires-1.
  std::vector<std::vector<Piece>> by_wire(wires);
  std::size_t run_id = 0, total_pieces = 0;
  for (std::size_t w = 0; w < wires; ++w) {
    AppendPieces(conductors[w], w, ground_depth_m, settings, run_id, by_wire[w]);
    total_pieces += by_wire[w].size();
  }
  SymmetricMatrix result;
  result.n = wires;
  if (wires == 0) return result;

  auto gather = [&](const std::vector<std::size_t>& members) {
    std::vector<Piece> pieces;
    std::vector<std::string> names;
    for (std::size_t k = 0; k < members.size(); ++k) {
      for (Piece p : by_wire[members[k]]) {
        p.wire = k;
        pieces.push_back(p);
      }
      names.push_back(conductors[members[k]].name);
    }
    return std::make_pair(std::move(pieces), std::move(names));
  };
  auto report = [&](double fraction) {
    if (progress.report) progress.report("capacitance", fraction);
  };

  if (total_pieces <= settings.max_dense_pieces) {
    // Small package: every wire in one system, every coupling kept.
    CheckCancel(progress);
    std::vector<std::size_t> all(wires);
    for (std::size_t w = 0; w < wires; ++w) all[w] = w;
    const auto [pieces, names] = gather(all);
    const Eigen::MatrixXd c =
        SolveCluster(pieces, wires, wires, ground_depth_m, eps_f_m, settings.proximity, names);
    result.dense = true;
    result.values.assign(c.data(), c.data() + c.size());  // symmetric: row = column order
    report(1.0);
    return result;
  }

  // Large package: neighbours are wires whose pieces come within the cut-off.
  std::vector<std::vector<Point3>> points(wires);
  std::vector<Point3> lo(wires), hi(wires);
  for (std::size_t w = 0; w < wires; ++w) {
    for (const auto& p : by_wire[w]) points[w].push_back(p.p0);
    points[w].push_back(by_wire[w].back().p1);
    lo[w] = hi[w] = points[w].front();
    for (const auto& p : points[w]) {
      lo[w] = {std::min(lo[w].x, p.x), std::min(lo[w].y, p.y), std::min(lo[w].z, p.z)};
      hi[w] = {std::max(hi[w].x, p.x), std::max(hi[w].y, p.y), std::max(hi[w].z, p.z)};
    }
  }
  const double cutoff_m = settings.cutoff_m;
  std::vector<std::vector<std::size_t>> neighbours(wires);
  std::vector<std::size_t> order(wires);
  for (std::size_t w = 0; w < wires; ++w) order[w] = w;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return lo[a].x < lo[b].x || (lo[a].x == lo[b].x && a < b);
  });
  for (std::size_t u = 0; u < wires; ++u) {
    const std::size_t a = order[u];
    for (std::size_t v = u + 1; v < wires && lo[order[v]].x <= hi[a].x + cutoff_m; ++v) {
      const std::size_t b = order[v];
      const bool boxes_near = lo[b].y <= hi[a].y + cutoff_m && lo[a].y <= hi[b].y + cutoff_m &&
                              lo[b].z <= hi[a].z + cutoff_m && lo[a].z <= hi[b].z + cutoff_m;
      if (boxes_near && WireDistance(points[a], points[b]) <= cutoff_m) {
        neighbours[a].push_back(b);
        neighbours[b].push_back(a);
      }
    }
  }
  for (auto& list : neighbours) std::sort(list.begin(), list.end());

  // Blocks of up to kBlockWires neighbouring wires, grown from the first wire not yet placed;
  // each block is solved with all its members' neighbours and keeps its members' rows.
  std::vector<std::vector<std::size_t>> blocks;
  {
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
  }
  struct Triplet {
    std::size_t i, j;
    double value;
  };
  std::vector<std::vector<Triplet>> found(blocks.size());
  std::size_t done = 0;
  bool cancelled = false;
  std::string failure;
#pragma omp parallel for schedule(dynamic, 1)
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    bool skip = false;
#pragma omp critical(ostrel_capacitance)
    {
      if (progress.cancel != nullptr && progress.cancel->load()) cancelled = true;
      skip = cancelled || !failure.empty();
    }
    if (skip) continue;
    // The block's members first, then every neighbour of one of them.
    std::vector<std::size_t> cluster = blocks[b];
    for (std::size_t w : blocks[b]) {
      for (std::size_t nb : neighbours[w]) {
        if (std::find(cluster.begin(), cluster.end(), nb) == cluster.end()) cluster.push_back(nb);
      }
    }
    try {
      const auto [pieces, names] = gather(cluster);
      const Eigen::MatrixXd c = SolveCluster(pieces, cluster.size(), blocks[b].size(),
                                             ground_depth_m, eps_f_m, settings.proximity, names);
      for (std::size_t k = 0; k < blocks[b].size(); ++k) {
        const std::size_t i = cluster[k];
        const auto ki = static_cast<Eigen::Index>(k);
        found[b].push_back({i, i, c(ki, ki)});
        for (std::size_t m = 0; m < cluster.size(); ++m) {
          const std::size_t j = cluster[m];
          // Couplings to wires beyond the cut-off are dropped: they stay in the diagonal,
          // as capacitance to ground.
          if (j == i || !std::binary_search(neighbours[i].begin(), neighbours[i].end(), j)) {
            continue;
          }
          found[b].push_back({std::max(i, j), std::min(i, j),
                              c(ki, static_cast<Eigen::Index>(m))});
        }
      }
    } catch (const StageError& e) {
#pragma omp critical(ostrel_capacitance)
      if (failure.empty()) failure = e.reason();
    }
#pragma omp critical(ostrel_capacitance)
    {
      ++done;
      report(static_cast<double>(done) / static_cast<double>(blocks.size()));
    }
  }
  if (cancelled) throw StageError("capacitance computation cancelled");
  if (!failure.empty()) throw StageError(failure);

  // A coupling found from both of its wires' blocks is their mean.
  std::vector<Triplet> all;
  for (const auto& list : found) all.insert(all.end(), list.begin(), list.end());
  std::sort(all.begin(), all.end(), [](const Triplet& a, const Triplet& b) {
    return a.i < b.i || (a.i == b.i && (a.j < b.j || (a.j == b.j && a.value < b.value)));
  });
  result.dense = false;
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

}  // namespace ostrel::physical
