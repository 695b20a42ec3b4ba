#pragma once

#include <string>

namespace ostrel {

// The wire parameters of one estimation, as the parameter panel last gave them. Lengths in
// microns, the diameter in mils, the frequency in Hz.
struct ParameterSet {
  std::string Material;  // "Au", "Al" or "Cu"; compared upper-cased
  float WireDiameter = 0;
  float BaseLoopHeight = 0;
  float BaseExtension = 0;
  float StackLoopHeight = 0;
  float StackExtension = 0;  // -1: run to the edge of the base die
  float StichExtension = 0;
  float Frequency = 0;
  float WireDistance = 0;

  bool operator==(const ParameterSet&) const = default;
};

// StackExtension value meaning "run to the edge of the base die".
inline constexpr float kEdgeOfBaseDie = -1.0f;

}  // namespace ostrel
