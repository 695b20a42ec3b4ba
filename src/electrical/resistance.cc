#include "electrical/resistance.h"

#include <cmath>
#include <limits>
#include <string>

#include "base/numeric.h"
#include "base/stage_error.h"
#include "base/text.h"
#include "electrical/metals.h"
#include "geometry/units.h"

namespace ostrel {

float SinglePi() { return ToSingle(4.0 * std::atan(1.0)); }

float Resistivity(std::string_view material) {
  const Metal* metal = FindMetal(UpperAscii(material));
  return metal != nullptr ? SingleResistivityMohmM(*metal) : 0.0f;
}

WireResistance::WireResistance(const ParameterSet& params) {
  double diameter = 0;  // D, microns
  try {
    diameter = MilsToMicrons(params.WireDiameter);
  } catch (const StageError&) {
    throw StageError("the wire diameter " + FormatFixed3(params.WireDiameter) +
                     " mils is too large to store in microns as a single; give it in mils");
  }
  if (params.Frequency == 0.0f) {
    skip_ = true;
    return;
  }
  if (params.Frequency < 0.0f) {
    throw StageError(
        "the frequency is negative, so the skin depth (0.075 / sqrt(f)) is "
        "undefined");
  }
  const double skin_depth = ToSingle(0.075 / std::sqrt(static_cast<double>(params.Frequency)));
  rho_ = Resistivity(params.Material);
  const double pi = SinglePi();
  // Area of the surface ring, pi delta (D - delta); D in microns and delta in metres stand as
  // they are.
  ring_ = (diameter - skin_depth) * pi * skin_depth;
  per_ring_ = SingleQuotients(ring_);
}

namespace {

// The length and resistance of each segment of `wire`, and their sums.
template <typename Arithmetic>
void SegmentResistances(Wire& wire, double rho, const SingleQuotients& per_ring,
                        float& resistance_sum, float& length_sum) {
  using A = Arithmetic;
  resistance_sum = 0;
  length_sum = 0;
  // A segment's resistance, added to the sums with its length.
  const auto add = [&](WireSegment& seg) {
    seg.Resistance = per_ring(rho * Wide(seg.Length));
    resistance_sum = A::Sum(resistance_sum, seg.Resistance);
    length_sum = A::Sum(length_sum, seg.Length);
  };
  if constexpr (A::kChecked) {
    // Each segment's faults before the next segment's.
    for (WireSegment& seg : wire.Segments) {
      seg.Length = SegmentLength<A>(seg);
      add(seg);
    }
  } else {
    // All the square roots first, one after another with no test between them to wait for.
    for (WireSegment& seg : wire.Segments) seg.Length = SegmentLength<A>(seg);
    for (WireSegment& seg : wire.Segments) add(seg);
  }
}

}  // namespace

template <typename Arithmetic>
void WireResistance::With(Wire& wire) const {
  float resistance_sum = 0;
  float length_sum = 0;
  SegmentResistances<Arithmetic>(wire, rho_, per_ring_, resistance_sum, length_sum);
  wire.Resistance = resistance_sum;
  wire.Length = length_sum;
}
template void WireResistance::With<CheckedArithmetic>(Wire&) const;
template void WireResistance::With<UncheckedArithmetic>(Wire&) const;

void WireResistance::operator()(Wire& wire) const {
  if (skip_) return;
  // First without the checks: a fault leaves an infinity or a NaN that reaches a sum (lengths,
  // and resistances of one sign, never cancel), and the checked pass then names it.
  try {
    With<UncheckedArithmetic>(wire);
    if (std::isfinite(wire.Resistance) && std::isfinite(wire.Length)) return;
  } catch (const StageError&) {
  }
  try {
    With<CheckedArithmetic>(wire);
  } catch (const StageError& e) {
    // A zero ring area means the wire diameter equals the skin depth; anything else is a
    // length or resistance beyond the single range.
    const char* hint = ring_ == 0.0 ? " (the wire diameter equals the skin depth; change the "
                                      "wire diameter or the frequency)"
                                    : " (the wire is too long, or the wire diameter too close "
                                      "to the skin depth, for a result that fits a single)";
    throw StageError("wire " + wire.Name + ": resistance: " + e.reason() + hint, "",
                     wire.SourceLine);
  }
}

void ComputeResistance(WireList& wires, const ParameterSet& params) {
  const WireResistance resistance(params);
  for (Wire& wire : wires) resistance(wire);
}

}  // namespace ostrel
