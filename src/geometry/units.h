#pragma once

#include "base/numeric.h"

// Mils, the unit of the wire diameter in the settings file, in the units the stages compute in:
// one mil is a thousandth of an inch, 25.4 microns exactly. The estimation converts in single
// precision (every stored value is a single), the physical model and the pictures in double.
namespace ostrel {

constexpr double kMicronsPerMil = 25.4;
// 25.4e-6 written out: 25.4 * 1e-6 rounds to the next double up.
constexpr double kMetresPerMil = 25.4e-6;
constexpr double kCmPerMil = kMicronsPerMil * 1e-4;
static_assert(kCmPerMil == 0.00254);

// value (mils) x 25.4, rounded to a single: microns.
inline float MilsToMicrons(float mils) { return ToSingle(Wide(mils) * kMicronsPerMil); }

// value (mils) x 0.00254, rounded to a single: centimetres.
inline float MilsToCm(float mils) { return ToSingle(Wide(mils) * kCmPerMil); }

}  // namespace ostrel
