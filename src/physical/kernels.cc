#include "physical/kernels.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "physical/vector3.h"

namespace ostrel::physical {
namespace {

// Below this sine of the angle between two pieces the skew form loses digits (its error grows
// as 1e-16 / sin^2); such pieces are integrated numerically or, when parallel, in closed form.
constexpr double kSkewMinSine = 1e-3;
constexpr double kParallelMaxSine = 1e-12;

// Antiderivative of 1/R for two skew lines, R^2 = s^2 + t^2 - 2 s t cos e + d^2, with s and t
// measured from the feet of the common perpendicular of length d (Grover's filaments in
// different planes; Ruehli's partial inductance without the cos e factor):
//   F = s asinh((t - s cos e) / sqrt(s^2 sin^2 e + d^2))
//     + t asinh((s - t cos e) / sqrt(t^2 sin^2 e + d^2))
//     - (d / sin e) atan((d^2 cos e + s t sin^2 e) / (d R sin e)).
double SkewAntiderivative(double s, double t, double cos_e, double sin_e, double d) {
  const double r = std::sqrt(std::max(s * s + t * t - 2 * s * t * cos_e + d * d, 0.0));
  double f = 0;
  if (s != 0) f += s * std::asinh((t - s * cos_e) / std::hypot(s * sin_e, d));
  if (t != 0) f += t * std::asinh((s - t * cos_e) / std::hypot(t * sin_e, d));
  if (d > 0) f -= d / sin_e * std::atan((d * d * cos_e + s * t * sin_e * sin_e) / (d * r * sin_e));
  return f;
}

// Antiderivative for parallel lines at distance d, x the axial offset (Grover's parallel
// filaments): G(x) = x asinh(x / d) - sqrt(x^2 + d^2); on one line (d = 0), for pieces that do
// not overlap, G(x) = |x| ln|x| (the terms in ln(2 / d) |x| and |x| cancel in the sum).
double ParallelAntiderivative(double x, double d) {
  if (d > 0) return x * std::asinh(x / d) - std::hypot(x, d);
  const double ax = std::abs(x);
  return ax > 0 ? ax * std::log(ax) : 0.0;
}

// Integral of 1/|p - q| over q on the piece b0 + t v, t in [0, l] (v a unit vector): the
// difference of asinh's, written as one logarithm that keeps its digits on either side.
double LineIntegral(const Point3& p, const Point3& b0, const Point3& v, double l) {
  const Point3 w = p - b0;
  const double tau = Dot(w, v);  // foot of p on the line, from b0
  const double r0 = Norm(w);
  const double r1 = Norm(p - (b0 + l * v));
  if (tau <= 0) return std::log((l - tau + r1) / (r0 - tau));
  if (tau >= l) return std::log((tau + r0) / (tau - l + r1));
  const double rho2 = std::max(r0 * r0 - tau * tau, 0.0);  // squared distance to the line
  return std::log((l - tau + r1) * (tau + r0) / rho2);
}

// 15-point Gauss-Kronrod nodes and weights on [-1, 1] (with the embedded 7-point Gauss rule).
constexpr std::array<double, 8> kKronrodNodes = {
    0.991455371120812639206854697526329, 0.949107912342758524526189684047851,
    0.864864423359769072789712788640926, 0.741531185599394439863864773280788,
    0.586087235467691130294144845693013, 0.405845151377397166906606412076961,
    0.207784955007898467600689403773245, 0.0};
constexpr std::array<double, 8> kKronrodWeights = {
    0.022935322010529224963732008058970, 0.063092092629978553290700663189204,
    0.104790010322250183839876322541518, 0.140653259715525918745189590510238,
    0.169004726639267902826583426598550, 0.190350578064785409913256402421014,
    0.204432940075298892414161999234649, 0.209482141084727828012999174891714};
constexpr std::array<double, 4> kGaussWeights = {
    0.129484966168869693270611432679082, 0.279705391489276667901467771423780,
    0.381830050505118944950369775488975, 0.417959183673469387755102040816327};

// Adaptive Gauss-Kronrod integral of LineIntegral along the piece a0 + s u, s in [lo, hi].
double OuterIntegral(const Point3& a0, const Point3& u, double lo, double hi, const Point3& b0,
                     const Point3& v, double l, double tolerance, int depth) {
  const double half = (hi - lo) / 2, mid = (hi + lo) / 2;
  double kronrod = 0, gauss = 0;
  for (std::size_t k = 0; k < kKronrodNodes.size(); ++k) {
    const double x = kKronrodNodes[k] * half;
    const double f_plus = LineIntegral(a0 + (mid + x) * u, b0, v, l);
    const double f_minus = x == 0 ? 0.0 : LineIntegral(a0 + (mid - x) * u, b0, v, l);
    kronrod += kKronrodWeights[k] * (f_plus + f_minus);
    if (k % 2 == 1) gauss += kGaussWeights[k / 2] * (f_plus + f_minus);
  }
  gauss += kGaussWeights[3] * LineIntegral(a0 + mid * u, b0, v, l);
  kronrod *= half;
  gauss *= half;
  // Done at the tolerance, at the rounding floor of the panel, or after 20 halvings (a panel of
  // 1e-6 of the piece).
  const double error = std::abs(kronrod - gauss);
  if (error <= tolerance || error <= 1e-14 * std::abs(kronrod) || depth >= 20) return kronrod;
  return OuterIntegral(a0, u, lo, mid, b0, v, l, tolerance / 2, depth + 1) +
         OuterIntegral(a0, u, mid, hi, b0, v, l, tolerance / 2, depth + 1);
}

// Two pieces from a shared vertex, of lengths l1 and l2 with their far ends r apart (Grover's
// filaments meeting at a point): 2 [l1 atanh(l2 / (l1 + r)) + l2 atanh(l1 / (l2 + r))].
double VertexIntegral(double l1, double l2, double r) {
  return 2 * (l1 * std::atanh(l2 / (l1 + r)) + l2 * std::atanh(l1 / (l2 + r)));
}

}  // namespace

double FilamentPairIntegral(const Point3& a0, const Point3& a1, const Point3& b0,
                            const Point3& b1) {
  const double l1 = Norm(a1 - a0);
  const double l2 = Norm(b1 - b0);
  if (l1 == 0 || l2 == 0) return 0;
  // Pieces of one path meet end to start; any angle but a fold back onto itself has a finite N.
  const double touch = 1e-12 * (l1 + l2);
  const std::array<Point3, 2> a_ends = {a0, a1}, b_ends = {b0, b1};
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      if (Norm(a_ends[i] - b_ends[j]) <= touch) {
        return VertexIntegral(l1, l2, Norm(a_ends[1 - i] - b_ends[1 - j]));
      }
    }
  }
  const Point3 u = (1 / l1) * (a1 - a0);
  const Point3 v = (1 / l2) * (b1 - b0);
  const double cos_e = Dot(u, v);
  const Point3 normal = Cross(u, v);
  const double sin_e = Norm(normal);
  const Point3 w = a0 - b0;
  if (sin_e >= kSkewMinSine) {
    // Feet of the common perpendicular: a0 + s0 u and b0 + t0 v.
    const double wu = Dot(w, u), wv = Dot(w, v);
    const double s0 = (cos_e * wv - wu) / (sin_e * sin_e);
    const double t0 = (wv - cos_e * wu) / (sin_e * sin_e);
    const double d = std::abs(Dot(w, normal)) / sin_e;
    const double sa = -s0, sb = l1 - s0, ta = -t0, tb = l2 - t0;
    return SkewAntiderivative(sb, tb, cos_e, sin_e, d) -
           SkewAntiderivative(sa, tb, cos_e, sin_e, d) -
           SkewAntiderivative(sb, ta, cos_e, sin_e, d) +
           SkewAntiderivative(sa, ta, cos_e, sin_e, d);
  }
  if (sin_e < kParallelMaxSine) {
    // Axial positions along u, measured from b0; b runs along u or against it.
    const double sign = cos_e > 0 ? 1.0 : -1.0;
    const double a_start = Dot(w, u), a_end = a_start + l1;
    const double b_start = 0, b_end = sign * l2;
    const double d = Norm(w - a_start * u);
    const double b_lo = std::min(b_start, b_end), b_hi = std::max(b_start, b_end);
    return ParallelAntiderivative(a_end - b_lo, d) - ParallelAntiderivative(a_end - b_hi, d) -
           ParallelAntiderivative(a_start - b_lo, d) + ParallelAntiderivative(a_start - b_hi, d);
  }
  // Nearly parallel: the inner integral in closed form, the outer one adaptively.
  // Tolerance: 1e-12 of l1 l2 / (distance + l1 + l2), a lower bound of the integral.
  const double lower_bound = l1 * l2 / (Norm(w) + l1 + l2);
  return OuterIntegral(a0, u, 0, l1, b0, v, l2, 1e-12 * lower_bound, 0);
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
