#include "electrical/inductance.h"

#include <cmath>
#include <string>
#include <string_view>

#include "base/numeric.h"
#include "base/stage_error.h"
#include "electrical/resistance.h"

namespace ostrel {
namespace {

// A point lies off the base die on or beyond any of its edges.
bool OffBaseDie(float x, float y, float half_w, float half_l) {
  return x <= -half_w || x >= half_w || y <= -half_l || y >= half_l;
}

// value (microns) x 0.0001, rounded to a single: centimetres.
template <typename A>
float ToCm(float microns) {
  return A::Single(Wide(microns) * 0.0001);
}

// 2 ln(2h / r) len (GroundPlaneInductance).
template <typename A>
float OverGroundPlane(float len, float h, float r) {
  return A::Single(2.0 * A::Log(A::Divide(2.0 * Wide(h), Wide(r))) * Wide(len));
}

// Self inductance of one wire: head plus body pieces over the ground plane.
// With `lengths_stored` the segments' Length fields hold their SegmentLength already.
template <typename A>
float SelfInductance(Wire& wire, const ParameterSet& params, const Package& package, float r,
                     bool lengths_stored) {
  const float comp_z_cm = ToCm<A>(package.CompZ);
  const float half_w = A::Single(Wide(package.CompW) / 2.0);
  const float half_l = A::Single(Wide(package.CompL) / 2.0);
  const bool stacked_loop = wire.StitchWire || wire.StackWire;
  const std::size_t n = wire.Segments.size();
  float self = 0;
  float head_len = 0;
  for (std::size_t j = 0; j < n; ++j) {
    WireSegment& seg = wire.Segments[j];
    float len = ToCm<A>(lengths_stored ? seg.Length : SegmentLength<A>(seg));
    if (j <= 3) {
      // The rise and the bend up to the loop height, taken together at the loop height setting.
      head_len = A::Sum(head_len, len);
      if (j == 3) {
        const float h = ToCm<A>(stacked_loop ? params.StackLoopHeight : params.BaseLoopHeight);
        const float head = OverGroundPlane<A>(head_len, h, r);
        wire.Segments[0].Inductance = head;
        wire.Segments[1].Inductance = 0;
        wire.Segments[2].Inductance = 0;
        self = head;
      }
      continue;
    }
    const bool merge_last = j + 2 == n;
    if (merge_last) {
      const WireSegment& last = wire.Segments[j + 1];
      len = A::Sum(len, ToCm<A>(lengths_stored ? last.Length : SegmentLength<A>(last)));
    }
    // Height of the segment's midpoint over the ground plane.
    float h = ToCm<A>(A::Single(std::fabs((Wide(seg.Z2) + Wide(seg.Z1)) / 2)));
    if (wire.StitchWire) h = A::Difference(h, comp_z_cm);
    if (h < r) h = r;
    if (wire.StackWire && !(OffBaseDie(seg.X1, seg.Y1, half_w, half_l) &&
                            OffBaseDie(seg.X2, seg.Y2, half_w, half_l))) {
      h = A::Difference(h, comp_z_cm);
    }
    self = A::Sum(self, OverGroundPlane<A>(len, h, r));
    if (merge_last) break;
  }
  return self;
}

// The four inductances of `wire` (WireInductance); `step` names each step as it is taken.
template <typename A>
void Inductances(Wire& wire, const ParameterSet& params, const Package& package, float r, float d,
                 bool lengths_stored, const char*& step) {
  step = "self inductance";
  const float self = SelfInductance<A>(wire, params, package, r, lengths_stored);
  const double t = ToCm<A>(wire.Length);
  step = "DC and AC inductance";
  const double log_ratio = A::Log(A::Divide(t, r) * 2);  // ln(2T/r)
  wire.InductanceDC = A::Single(2 * t * (log_ratio - 0.75));
  wire.InductanceAC = A::Single(2 * t * (log_ratio - 1));
  step = "mutual inductance";
  if (t < Wide(d)) {
    wire.InductanceMutual = 0;
  } else {
    wire.InductanceMutual = A::Single(2 * t * (A::Log(A::Divide(2 * t, d)) - 1 + A::Divide(d, t)));
  }
  wire.InductanceSelf = self;
}

// What usually leads to a fault in each step, for the message.
const char* HintFor(std::string_view step) {
  if (step == "self inductance") {
    return "; check that the loop heights and the wire diameter are above 0 and that no "
           "stacked-die wire runs at or below the base die surface";
  }
  if (step == "mutual inductance") return "; the wire distance must be above 0";
  return "; the wire length and the wire diameter must be above 0 (a frequency of 0 leaves "
         "every length at 0)";
}

}  // namespace

float MicronsToCm(float microns) { return ToCm<CheckedArithmetic>(microns); }

float GroundPlaneInductance(float len, float h, float r) {
  return OverGroundPlane<CheckedArithmetic>(len, h, r);
}

WireInductance::WireInductance(const ParameterSet& params, const Package& package)
    : params_(params),
      package_(package),
      r_(ToSingle(Wide(MilsToCm(params.WireDiameter)) / 2.0)),
      d_(MicronsToCm(params.WireDistance)) {}

template <typename Arithmetic>
void WireInductance::With(Wire& wire, bool segment_lengths_stored) const {
  const char* step = "";
  Inductances<Arithmetic>(wire, params_, package_, r_, d_, segment_lengths_stored, step);
}
template void WireInductance::With<CheckedArithmetic>(Wire&, bool) const;
template void WireInductance::With<UncheckedArithmetic>(Wire&, bool) const;

void WireInductance::operator()(Wire& wire, bool segment_lengths_stored) const {
  const char* step = "self inductance";
  // First without the checks; a fault leaves an infinity or a NaN in a result (a sum of such
  // never turns finite), and the checked pass then names it.
  try {
    Inductances<UncheckedArithmetic>(wire, params_, package_, r_, d_, segment_lengths_stored, step);
    if (std::isfinite(wire.InductanceSelf) && std::isfinite(wire.InductanceDC) &&
        std::isfinite(wire.InductanceAC) && std::isfinite(wire.InductanceMutual)) {
      return;
    }
  } catch (const StageError&) {
  }
  try {
    Inductances<CheckedArithmetic>(wire, params_, package_, r_, d_, segment_lengths_stored, step);
  } catch (const StageError& e) {
    throw StageError("wire " + wire.Name + ": " + step + ": " + e.reason() + HintFor(step), "",
                     wire.SourceLine);
  }
}

void ComputeInductance(WireList& wires, const ParameterSet& params, const Package& package) {
  const WireInductance inductance(params, package);
  for (Wire& wire : wires) inductance(wire);
}

}  // namespace ostrel
