#include "electrical/resistance.h"

#include <cmath>
#include <string>

#include "package/numeric.h"
#include "package/stage_error.h"
#include "package/text.h"

namespace ostrel {

float SinglePi() { return ToSingle(4.0 * std::atan(1.0)); }

float MilsToMicrons(float mils) { return ToSingle(mils * 25.4); }

float SegmentLength(const WireSegment& s) {
  const double dx = ToSingle(static_cast<double>(s.X1) - s.X2);
  const double dy = ToSingle(static_cast<double>(s.Y1) - s.Y2);
  const double dz = ToSingle(static_cast<double>(s.Z1) - s.Z2);
  return ToSingle(std::sqrt(dx * dx + dy * dy + dz * dz));
}

float Resistivity(std::string_view material) {
  const std::string m = UpperAscii(material);
  if (m == "AU") return 2.44e-5f;
  if (m == "AL") return 2.82e-5f;
  if (m == "CU") return 1.68e-5f;
  return 0.0f;
}

void ComputeResistance(std::vector<Wire>& wires, const ParameterSet& params) {
  const double diameter = MilsToMicrons(params.WireDiameter);  // D, microns
  if (params.Frequency == 0.0f) return;
  if (params.Frequency < 0.0f) {
    throw StageError("the frequency is negative, so the skin depth (0.075 / sqrt(f)) is "
                     "undefined");
  }
  const double skin_depth = ToSingle(0.075 / std::sqrt(static_cast<double>(params.Frequency)));
  const double rho = Resistivity(params.Material);
  const double pi = SinglePi();
  // Area of the surface ring, pi delta (D - delta); D in microns and delta in metres stand as
  // they are.
  const double ring = (diameter - skin_depth) * pi * skin_depth;
  for (Wire& wire : wires) {
    float resistance_sum = 0;
    float length_sum = 0;
    for (WireSegment& seg : wire.Segments) {
      seg.Length = SegmentLength(seg);
      try {
        seg.Resistance = ToSingle(CheckedDivide(rho * seg.Length, ring));
      } catch (const StageError& e) {
        throw StageError("wire " + wire.Name + ": resistance: " + e.reason() +
                         " (the wire diameter equals the skin depth)",
                         "", wire.SourceLine);
      }
      resistance_sum = ToSingle(static_cast<double>(resistance_sum) + seg.Resistance);
      length_sum = ToSingle(static_cast<double>(length_sum) + seg.Length);
    }
    wire.Resistance = resistance_sum;
    wire.Length = length_sum;
  }
}

}  // namespace ostrel
