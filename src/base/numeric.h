#pragma once

#include <cmath>
#include <limits>

// Checked arithmetic for the estimation. Every stored value is a single; the formulas run in
// double. A division by zero, the logarithm of zero or a negative number, the square root of a
// negative number and a result too large for a single are faults that end the command with a
// StageError instead of leaving an infinity or NaN in a result.
namespace ostrel {

// A stored single widened for a formula evaluated in double (exact).
constexpr double Wide(float value) { return static_cast<double>(value); }

// Throws the StageError of ToSingle for `value`, which is NaN or beyond the single range.
[[noreturn]] void ThrowNotSingle(double value);

// Rounds a double to the nearest single. Throws StageError when the value is not finite or
// too large to store as a single. Inline: every stored value of every wire goes through it.
inline float ToSingle(double value) {
  const float single = static_cast<float>(value);
  // |single| <= max float is false exactly for NaN and for the infinities.
  constexpr float kMax = std::numeric_limits<float>::max();
  if (!(single <= kMax && single >= -kMax)) ThrowNotSingle(value);
  return single;
}

// Throw the StageErrors of CheckedDivide and CheckedLog.
[[noreturn]] void ThrowDivisionByZero();
[[noreturn]] void ThrowLogOfNonPositive();

// numerator / denominator; throws StageError when the denominator is 0 (0 / 0 included).
inline double CheckedDivide(double numerator, double denominator) {
  if (denominator == 0.0) ThrowDivisionByZero();
  return numerator / denominator;
}

// Natural logarithm; throws StageError for an argument of zero or less.
inline double CheckedLog(double value) {
  if (!(value > 0.0)) ThrowLogOfNonPositive();
  return std::log(value);
}

// Square root; throws StageError for a negative argument.
double CheckedSqrt(double value);

}  // namespace ostrel
