#pragma once

#include <cmath>
#include <string_view>
#include <vector>

#include "base/numeric.h"
#include "geometry/parameter_set.h"
#include "geometry/units.h"
#include "geometry/wire.h"

namespace ostrel {

// Pi as the estimation uses it: 4 atan(1), rounded to a single.
float SinglePi();

// Length of a segment in microns: each coordinate difference rounded to a single, the squares
// and their root in double, the root rounded to a single.
template <typename Arithmetic = CheckedArithmetic>
float SegmentLength(const WireSegment& s) {
  using A = Arithmetic;
  const double dx = A::Difference(s.X1, s.X2);
  const double dy = A::Difference(s.Y1, s.Y2);
  const double dz = A::Difference(s.Z1, s.Z2);
  return A::Single(std::sqrt(dx * dx + dy * dy + dz * dz));
}

// Resistivity in mOhm m of a wire material ("AU", "AL", "CU" after upper-casing; 0 otherwise),
// from the table of electrical/metals.h.
float Resistivity(std::string_view material);

// Skin-effect resistance of every segment and wire at the working frequency:
//   R = rho len / ((D - delta) pi delta),  delta = 0.075 / sqrt(f)  (metres),
// with D the wire diameter in microns; also stores segment and wire lengths. At a frequency of
// exactly 0 nothing is computed and every length and resistance stays as it is.
void ComputeResistance(WireList& wires, const ParameterSet& params);

// ComputeResistance one wire at a time: the parameters are checked once (throwing as
// ComputeResistance does before any wire), then each wire is computed as ComputeResistance
// computes it, with the same faults.
class WireResistance {
 public:
  explicit WireResistance(const ParameterSet& params);
  void operator()(Wire& wire) const;
  // `wire` computed with the arithmetic A alone, its faults A's own (CheckedArithmetic throws,
  // UncheckedArithmetic may leave an infinity or a NaN). The call above takes UncheckedArithmetic
  // first and CheckedArithmetic only where that meets a fault, which holds only while the two
  // give the same bits: a test holds them to it.
  template <typename Arithmetic>
  void With(Wire& wire) const;
  // True when each wire's segments get their Length (SegmentLength) here: at any frequency
  // but 0.
  bool StoresLengths() const { return !skip_; }

 private:
  bool skip_ = false;              // a frequency of exactly 0: nothing is computed
  double rho_ = 0;                 // resistivity, mOhm m
  double ring_ = 0;                // area of the surface ring
  SingleQuotients per_ring_{0.0};  // quotients by ring_
};

}  // namespace ostrel
