#pragma once

#include <vector>

#include "geometry/parameter_set.h"
#include "geometry/units.h"
#include "geometry/wire.h"
#include "package/package_model.h"

namespace ostrel {

// value (microns) x 0.0001, rounded to a single: centimetres.
float MicronsToCm(float microns);

// Inductance in nH of a straight piece of length `len` at height `h` over a ground plane, wire
// radius `r` (all cm): 2 ln(2h / r) len.
float GroundPlaneInductance(float len, float h, float r);

// The four inductances of every wire (nH), from the segment lengths and wire lengths that
// ComputeResistance stored:
//   Self:   the head (first four segments at the loop height) plus each body piece at its
//           midpoint height over the ground plane, the last two segments taken as one;
//   DC:     2T (ln(2T/r) - 0.75);  AC: 2T (ln(2T/r) - 1);
//   Mutual: 2T (ln(2T/d) - 1 + d/T) with d the wire distance, 0 when T < d;
// T the wire length and r the wire radius, in cm.
void ComputeInductance(WireList& wires, const ParameterSet& params, const Package& package);

// ComputeInductance one wire at a time, each wire computed as ComputeInductance computes it,
// with the same faults. `segment_lengths_stored`: every segment's Length holds its
// SegmentLength already (as WireResistance leaves it when it computes), so it is not computed
// again.
class WireInductance {
 public:
  WireInductance(const ParameterSet& params, const Package& package);
  void operator()(Wire& wire, bool segment_lengths_stored = false) const;
  // `wire` computed with the arithmetic A alone, as WireResistance::With (the call above takes
  // UncheckedArithmetic first and CheckedArithmetic only where that meets a fault).
  template <typename Arithmetic>
  void With(Wire& wire, bool segment_lengths_stored) const;

 private:
  const ParameterSet& params_;
  const Package& package_;
  float r_;  // wire radius, cm
  float d_;  // wire distance, cm
};

}  // namespace ostrel
