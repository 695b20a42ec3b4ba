#pragma once

#include <cstddef>

#include "physical/physical_model.h"

// The integrals of 1/R over straight pieces of wire that both the partial inductances
// (Ruehli: Lp = mu0 / (4 pi) (t1 . t2) N) and the potential coefficients of piece charges
// (P = N / (4 pi eps l1 l2)) are made of. Lengths in metres; N in metres.
namespace ostrel::physical {

// sum over k of w_k / s_k for N distances s_k > 0, as one quotient (sum over k of w_k times the
// product of the other distances, over the product of all) where N quotients would be: the Gauss
// rules' square roots and quotients share the processor's divider, which bounds their sums. With
// no term negative nothing cancels: as exact as the N quotients, to a few units in the last place.
// N up to 4 keeps the products of the distances of a package in range.
template <std::size_t N>
[[gnu::always_inline]] inline double WeightedInverseSum(const double (&s)[N],
                                                        const double (&w)[N]) {
  static_assert(N >= 1 && N <= 4);
  double before[N], after[N];  // the products of the distances before and after each
  before[0] = 1;
  for (std::size_t k = 1; k < N; ++k) before[k] = before[k - 1] * s[k - 1];
  after[N - 1] = 1;
  for (std::size_t k = N - 1; k > 0; --k) after[k - 1] = after[k] * s[k];
  double numerator = 0;
  for (std::size_t k = 0; k < N; ++k) numerator += w[k] * (before[k] * after[k]);
  return numerator / (before[N - 1] * s[N - 1]);
}

// N = integral over piece a, integral over piece b of dl_a dl_b / |r_a - r_b|, for two
// filaments (the axes of two pieces) a0-a1 and b0-b1 in any relative position: parallel,
// collinear, skew, touching at a vertex. Pieces that cross are not expected.
double FilamentPairIntegral(const Point3& a0, const Point3& a1, const Point3& b0, const Point3& b1);

// N of two pieces of different wires that touch, overlap or pass closer than the sum of their
// radii, where the filament integral of their axes grows without bound (collinear pieces that
// overlap diverge). The current sits on the two wires' surfaces: the kernel is 1 / sqrt(R^2 +
// spread^2), R the distance between the axes, with `spread_m` from CrossSectionSpread. For two
// long parallel wires this is exactly the surface-current mutual (their cross-sections' geometric
// mean distance); for coincident wires of one radius it is the surface self term of the piece.
double FilamentPairIntegral(const Point3& a0, const Point3& a1, const Point3& b0, const Point3& b1,
                            double spread_m);

// The spread of the kernel above for two round wires of radii ra, rb whose axes pass `gap_m`
// apart: sqrt(g^2 - gap^2), g the geometric mean distance of the two circles of surface current
// at that distance (the mean over circle a of ln max(|p - centre b|, rb)). 0 from gap >= ra + rb
// on, where the circles lie outside each other and g = gap; max(ra, rb) at gap 0.
double CrossSectionSpread(double gap_m, double ra_m, double rb_m);

// The shortest distance between the segments a0-a1 and b0-b1, and the closest points on each.
struct SegmentApproach {
  double distance_m = 0;
  Point3 on_a, on_b;
};
SegmentApproach ClosestApproach(const Point3& a0, const Point3& a1, const Point3& b0,
                                const Point3& b1);

// N of a straight piece of length l with itself, with its current (or charge) on the surface of
// a round wire of radius a: the mean of 1/R between the axis and the surface.
double SurfaceSelfIntegral(double length_m, double radius_m);

}  // namespace ostrel::physical
