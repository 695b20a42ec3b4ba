#pragma once

#include "physical/physical_model.h"

// The integrals of 1/R over straight pieces of wire that both the partial inductances
// (Ruehli: Lp = mu0 / (4 pi) (t1 . t2) N) and the potential coefficients of piece charges
// (P = N / (4 pi eps l1 l2)) are made of. Lengths in metres; N in metres.
namespace ostrel::physical {

// N = integral over piece a, integral over piece b of dl_a dl_b / |r_a - r_b|, for two
// filaments (the axes of two pieces) a0-a1 and b0-b1 in any relative position: parallel,
// collinear, skew, touching at a vertex. Pieces that cross are not expected.
double FilamentPairIntegral(const Point3& a0, const Point3& a1, const Point3& b0,
                            const Point3& b1);

// N of a straight piece of length l with itself, with its current (or charge) on the surface of
// a round wire of radius a: the mean of 1/R between the axis and the surface.
double SurfaceSelfIntegral(double length_m, double radius_m);

}  // namespace ostrel::physical
