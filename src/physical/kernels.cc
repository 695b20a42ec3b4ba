#include "physical/kernels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "physical/vector3.h"

namespace ostrel::physical {
namespace {

// Sines of the angle between two pieces below which the skew form is evaluated in extended
// precision, and below which the pieces are taken as parallel.
constexpr double kSkewMinSine = 1e-3;
constexpr double kParallelMaxSine = 1e-8;

// asinh(y1 / h) - asinh(y2 / h) for h > 0, given r_k = sqrt(y_k^2 + h^2), as one logarithm:
// each is ln((|y| + r) / h) with the sign of y (no cancellation in |y| + r, where asinh would
// take a root and ln(1 + x)), and the two quotients are taken together. Its error is a few
// units in the last place of 1, well within what the corners' cancellation leaves of N.
template <typename Real>
Real AsinhDifference(Real y1, Real r1, Real y2, Real r2, Real h) {
  const Real p1 = std::abs(y1) + r1, p2 = std::abs(y2) + r2;
  const Real v = (y1 < 0) == (y2 < 0) ? std::log(p1 / p2) : std::log(p1 / h * (p2 / h));
  return y1 < 0 ? -v : v;
}

// Antiderivative of 1/R for two skew lines, R^2 = s^2 + t^2 - 2 s t cos e + d^2, with s and t
// measured from the feet of the common perpendicular of length d (Grover's filaments in
// different planes; Ruehli's partial inductance without the cos e factor):
//   F = s asinh((t - s cos e) / sqrt(s^2 sin^2 e + d^2))
//     + t asinh((s - t cos e) / sqrt(t^2 sin^2 e + d^2))
//     - (d / sin e) atan((d^2 cos e + s t sin^2 e) / (d R sin e)).
// Its four corners cancel to about 2 eps / sin^2 e of N (eps the precision of Real). The
// corners that share an end share its factor s (or t) and its root sqrt(s^2 sin^2 e + d^2):
// their inverse hyperbolic sines are taken as one difference each, four logarithms in all.
// Returns N of two pieces on skew lines (unit vectors u, v; w = a0 - b0), in the precision Real.
template <typename Real>
double SkewIntegral(const Point3& u, const Point3& v, const Point3& w, double l1, double l2,
                    double spread2) {
  const Real ux = u.x, uy = u.y, uz = u.z, vx = v.x, vy = v.y, vz = v.z;
  const Real cos_e = ux * vx + uy * vy + uz * vz;
  const Real nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
  const Real sin_e = std::sqrt(nx * nx + ny * ny + nz * nz);
  const Real wu = w.x * ux + w.y * uy + w.z * uz, wv = w.x * vx + w.y * vy + w.z * vz;
  // Feet of the common perpendicular: a0 + s0 u and b0 + t0 v.
  const Real s0 = (cos_e * wv - wu) / (sin_e * sin_e);
  const Real t0 = (wv - cos_e * wu) / (sin_e * sin_e);
  const Real d_axes = std::abs(w.x * nx + w.y * ny + w.z * nz) / sin_e;
  const Real d = spread2 > 0 ? std::sqrt(d_axes * d_axes + Real(spread2)) : d_axes;
  struct End {
    Real at, h2, h;
  };
  const auto end = [&](Real x) {
    const Real x2 = x * x * sin_e * sin_e + d * d;
    return End{x, x2, std::sqrt(x2)};
  };
  const End a = end(-s0), b = end(l1 - s0), c = end(-t0), e = end(l2 - t0);
  // At corner (s, t): y = t - s cos e beside s's root, with R = sqrt(y^2 + h_s^2) (the last
  // term's too), and y' = s - t cos e beside t's root.
  struct Corner {
    Real y, r, y_other, r_other;
  };
  const auto corner = [&](const End& s, const End& t) {
    using std::sqrt;
    const Real y = t.at - s.at * cos_e, y_other = s.at - t.at * cos_e;
    return Corner{y, sqrt(y * y + s.h2), y_other, sqrt(y_other * y_other + t.h2)};
  };
  const Corner be = corner(b, e), ae = corner(a, e), bc = corner(b, c), ac = corner(a, c);
  // F(b, e) - F(a, e) - F(b, c) + F(a, c), grouped by the factor s or t of each term.
  Real n = 0;
  if (b.at != 0) n += b.at * AsinhDifference(be.y, be.r, bc.y, bc.r, b.h);
  if (a.at != 0) n -= a.at * AsinhDifference(ae.y, ae.r, ac.y, ac.r, a.h);
  if (e.at != 0) n += e.at * AsinhDifference(be.y_other, be.r_other, ae.y_other, ae.r_other, e.h);
  if (c.at != 0) n -= c.at * AsinhDifference(bc.y_other, bc.r_other, ac.y_other, ac.r_other, c.h);
  if (d > 0) {
    // The corners' inverse tangents of x / y (y > 0) two at a time: atan(x1 / y1) -
    // atan(x2 / y2) = atan2(x1 y2 - x2 y1, y1 y2 + x1 x2), whole, since the difference lies
    // within (-pi, pi).
    const Real dd_cos = d * d * cos_e, sin2 = sin_e * sin_e, d_sin = d * sin_e;
    const auto x = [&](const End& s, const End& t) { return dd_cos + s.at * t.at * sin2; };
    const Real x_be = x(b, e), x_ae = x(a, e), x_bc = x(b, c), x_ac = x(a, c);
    const Real y_be = d_sin * be.r, y_ae = d_sin * ae.r, y_bc = d_sin * bc.r, y_ac = d_sin * ac.r;
    using std::atan2;
    n -= d / sin_e *
         (atan2(x_be * y_ae - x_ae * y_be, y_be * y_ae + x_be * x_ae) -
          atan2(x_bc * y_ac - x_ac * y_bc, y_bc * y_ac + x_bc * x_ac));
  }
  return static_cast<double>(n);
}

// Antiderivative for parallel lines at distance d, x the axial offset (Grover's parallel
// filaments): G(x) = x asinh(x / d) - sqrt(x^2 + d^2); on one line (d = 0), for pieces that do
// not overlap, G(x) = |x| ln|x| (the terms in ln(2 / d) |x| and |x| cancel in the sum).
double ParallelAntiderivative(double x, double d) {
  if (d > 0) return x * std::asinh(x / d) - std::hypot(x, d);
  const double ax = std::abs(x);
  return ax > 0 ? ax * std::log(ax) : 0.0;
}

// Two pieces from a shared vertex, of lengths l1 and l2 with their far ends r apart (Grover's
// filaments meeting at a point): 2 [l1 atanh(l2 / (l1 + r)) + l2 atanh(l1 / (l2 + r))].
double VertexIntegral(double l1, double l2, double r) {
  return 2 * (l1 * std::atanh(l2 / (l1 + r)) + l2 * std::atanh(l1 / (l2 + r)));
}

// Nodes and weights of the n-point Gauss-Legendre rule on [-1, 1], the roots of P_n by Newton's
// method from Tricomi's first guesses.
template <std::size_t n>
struct GaussLegendreRule {
  std::array<double, n> nodes{}, weights{};
  GaussLegendreRule() {
    for (std::size_t i = 0; i < n; ++i) {
      double x = std::cos(std::numbers::pi * (double(i) + 0.75) / (double(n) + 0.5));
      double derivative = 1;
      for (int step = 0; step < 100; ++step) {
        // P_n(x) and P_n'(x) by the three-term recurrence.
        double p0 = 1, p1 = x;
        for (std::size_t k = 2; k <= n; ++k) {
          const double p2 = ((2 * double(k) - 1) * x * p1 - (double(k) - 1) * p0) / double(k);
          p0 = p1, p1 = p2;
        }
        derivative = double(n) * (x * p1 - p0) / (x * x - 1);
        const double dx = p1 / derivative;
        x -= dx;
        if (std::abs(dx) <= 1e-16) break;
      }
      nodes[n - 1 - i] = x;
      weights[n - 1 - i] = 2 / ((1 - x * x) * derivative * derivative);
    }
  }
};
using GaussRule = GaussLegendreRule<32>;

const GaussRule& GaussLegendre32() {
  static const GaussRule rule;
  return rule;
}

}  // namespace

// N with the kernel 1 / sqrt(R^2 + spread2): the filaments' own for spread2 = 0. The kernel
// depends on the axes' common perpendicular d only through d^2, so every closed form holds with
// d^2 + spread2 in place of d^2.
double SpreadPairIntegral(const Point3& a0, const Point3& a1, const Point3& b0, const Point3& b1,
                          double spread2) {
  const double l1 = Norm(a1 - a0);
  const double l2 = Norm(b1 - b0);
  if (l1 == 0 || l2 == 0) return 0;
  if (spread2 == 0) {
    // Pieces of one path meet end to start; any angle but a fold back onto itself has a finite
    // N.
    const double touch = 1e-12 * (l1 + l2);
    const std::array<Point3, 2> a_ends = {a0, a1}, b_ends = {b0, b1};
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 2; ++j) {
        if (Norm(a_ends[i] - b_ends[j]) <= touch) {
          return VertexIntegral(l1, l2, Norm(a_ends[1 - i] - b_ends[1 - j]));
        }
      }
    }
  }
  const Point3 u = (1 / l1) * (a1 - a0);
  const Point3 v = (1 / l2) * (b1 - b0);
  const double cos_e = Dot(u, v);
  const Point3 normal = Cross(u, v);
  const double sin_e = Norm(normal);
  const Point3 w = a0 - b0;
  // Double precision keeps 1e-10 of N down to a sine of 1e-3, extended precision 1e-5 down to
  // 1e-8; closer to parallel the pieces are taken as parallel, which moves N by about
  // sin e * l / d (well below 1e-4 for any pieces of a bond wire's length at a micron apart).
  if (sin_e >= kSkewMinSine) return SkewIntegral<double>(u, v, w, l1, l2, spread2);
  if (sin_e >= kParallelMaxSine) return SkewIntegral<long double>(u, v, w, l1, l2, spread2);
  // Axial positions along u, measured from b0 (b runs along u or against it); d is the distance
  // of b's middle from a's line.
  const double a_start = Dot(w, u), a_end = a_start + l1;
  const double b_end = (cos_e > 0 ? 1.0 : -1.0) * l2;
  const Point3 b_mid = 0.5 * (b0 + b1) - a0;
  const double d_axes = Norm(b_mid - Dot(b_mid, u) * u);
  const double d = std::sqrt(d_axes * d_axes + spread2);
  const double b_lo = std::min(0.0, b_end), b_hi = std::max(0.0, b_end);
  return ParallelAntiderivative(a_end - b_lo, d) - ParallelAntiderivative(a_end - b_hi, d) -
         ParallelAntiderivative(a_start - b_lo, d) + ParallelAntiderivative(a_start - b_hi, d);
}

double FilamentPairIntegral(const Point3& a0, const Point3& a1, const Point3& b0,
                            const Point3& b1) {
  return SpreadPairIntegral(a0, a1, b0, b1, 0);
}

double FilamentPairIntegral(const Point3& a0, const Point3& a1, const Point3& b0, const Point3& b1,
                            double spread_m) {
  return SpreadPairIntegral(a0, a1, b0, b1, spread_m * spread_m);
}

double CrossSectionSpread(double gap_m, double ra_m, double rb_m) {
  if (!(gap_m < ra_m + rb_m)) return 0;
  if (!(gap_m > 0 && ra_m > 0)) return std::max(ra_m, rb_m);
  // ln g = (1 / pi) integral over [0, pi] of ln max(|gap + ra e^(i theta)|, rb). The distance
  // |gap + ra e^(i theta)| falls from gap + ra at 0 to |gap - ra| at pi: it stays above rb up to
  // theta_b, where it meets circle b, and ln rb holds beyond.
  const double cos_b = (rb_m * rb_m - gap_m * gap_m - ra_m * ra_m) / (2 * gap_m * ra_m);
  // Circle a outside circle b all round: the mean of ln|gap + ra e^(i theta)| over the half
  // turn (and by symmetry over the whole turn) is ln max(gap, ra).
  if (cos_b <= -1) return std::sqrt(std::max(ra_m * ra_m - gap_m * gap_m, 0.0));
  const double theta_b = cos_b >= 1 ? 0.0 : std::acos(cos_b);
  // The smooth part by 32-point Gauss-Legendre on [0, theta_b]: its integrand's nearest
  // singularity lies at pi +- i |ln(gap / ra)|, and over radius ratios up to 10 the rule's
  // error stays below 1e-11 of g (an adaptive quadrature in 30 digits for reference).
  const GaussRule& rule = GaussLegendre32();
  double sum = 0;
  for (std::size_t k = 0; k < rule.nodes.size(); ++k) {
    const double theta = 0.5 * theta_b * (rule.nodes[k] + 1);
    const double r2 = gap_m * gap_m + ra_m * ra_m + 2 * gap_m * ra_m * std::cos(theta);
    sum += rule.weights[k] * 0.5 * std::log(r2);
  }
  const double log_g =
      (0.5 * theta_b * sum + (std::numbers::pi - theta_b) * std::log(rb_m)) / std::numbers::pi;
  const double mean_distance = std::exp(log_g);
  return std::sqrt(std::max(mean_distance * mean_distance - gap_m * gap_m, 0.0));
}

SegmentApproach ClosestApproach(const Point3& a0, const Point3& a1, const Point3& b0,
                                const Point3& b1) {
  const Point3 u = a1 - a0, v = b1 - b0, w = a0 - b0;
  const double uu = Dot(u, u), vv = Dot(v, v), uv = Dot(u, v), uw = Dot(u, w), vw = Dot(v, w);
  const double det = uu * vv - uv * uv;
  const auto clamp01 = [](double x) { return std::clamp(x, 0.0, 1.0); };
  double s = det > 1e-12 * uu * vv ? clamp01((uv * vw - vv * uw) / det) : 0.0;
  double t = vv > 0 ? clamp01((vw + s * uv) / vv) : 0.0;
  s = uu > 0 ? clamp01((t * uv - uw) / uu) : 0.0;
  const Point3 on_a = a0 + s * u, on_b = b0 + t * v;
  return {Norm(on_b - on_a), on_a, on_b};
}

double SurfaceSelfIntegral(double length_m, double radius_m) {
  // 2 [l asinh(l / a) - (sqrt(l^2 + a^2) - a)]: a filament on the axis against one on the
  // surface (Rosa's self inductance of a straight round wire with its current on the surface).
  const double l = length_m, a = radius_m;
  if (l <= 0) return 0;
  const double root_minus_a = l * l / (std::hypot(l, a) + a);  // sqrt(l^2 + a^2) - a
  return 2 * (l * std::asinh(l / a) - root_minus_a);
}

}  // namespace ostrel::physical
