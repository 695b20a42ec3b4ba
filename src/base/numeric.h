#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
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

// ToSingle(Wide(a) + Wide(b)) and ToSingle(Wide(a) - Wide(b)), with the same faults, made as
// one operation on singles. The same single: a double carries more than twice a single's
// mantissa plus two bits, so rounding the exact result to a double and then to a single gives
// what rounding it to a single at once gives (double rounding is innocuous then; Figueroa,
// "When is double rounding innocuous?", SIGNUM Newsletter 30, 1995).
inline float SingleSum(float a, float b) {
  const float sum = a + b;
  constexpr float kMax = std::numeric_limits<float>::max();
  if (!(sum <= kMax && sum >= -kMax)) ThrowNotSingle(Wide(sum));
  return sum;
}
inline float SingleDifference(float a, float b) { return SingleSum(a, -b); }

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

// The quotients of one divisor rounded to singles: ToSingle(CheckedDivide(numerator, divisor))
// for each numerator, with its faults, mostly made as the product with the divisor's inverse.
// Such a product lies within 3 ulps of the double nearest the quotient (the inverse and the
// product are each rounded once, the quotient once, each erring by at most 2^-53 of it), so
// the two round to the same single unless the product lies within a few ulps of halfway
// between two singles (its 29 lowest mantissa bits near 2^28), or outside the normal singles;
// there the division is made.
class SingleQuotients {
 public:
  explicit SingleQuotients(double divisor)
      : divisor_(divisor),
        inverse_(std::fabs(divisor) > 0x1p-1000 && std::fabs(divisor) < 0x1p1000 ? 1.0 / divisor
                                                                                 : 0.0) {}

  float operator()(double numerator) const {
    const double product = numerator * inverse_;
    const double magnitude = std::fabs(product);
    if (magnitude >= 0x1p-125 && magnitude <= 0x1p127) {  // false for NaN
      constexpr std::uint64_t kHalfway = std::uint64_t{1} << 28;
      constexpr std::uint64_t kMargin = 16;
      const std::uint64_t low = std::bit_cast<std::uint64_t>(product) & ((kHalfway << 1) - 1);
      if (low - (kHalfway - kMargin) > 2 * kMargin) return static_cast<float>(product);
    }
    return ToSingle(CheckedDivide(numerator, divisor_));
  }

 private:
  double divisor_;
  double inverse_;  // 0 for a divisor of 0 or one whose inverse is no normal double
};

// Square root; throws StageError for a negative argument.
double CheckedSqrt(double value);

// The arithmetic of a formula written once and run two ways: with the checks above, or
// without them for a first pass whose faults leave an infinity or a NaN in place of a throw.
// Both give the same values wherever the checked one does not throw.
struct CheckedArithmetic {
  static constexpr bool kChecked = true;
  static float Single(double value) { return ToSingle(value); }
  static float Sum(float a, float b) { return SingleSum(a, b); }
  static float Difference(float a, float b) { return SingleDifference(a, b); }
  static double Divide(double numerator, double denominator) {
    return CheckedDivide(numerator, denominator);
  }
  static double Log(double value) { return CheckedLog(value); }
};
struct UncheckedArithmetic {
  static constexpr bool kChecked = false;
  // The single is hidden from the optimiser as it is made: GCC 12's vectoriser, given two such
  // singles side by side that are widened again at once (a path's x and y direction), took the
  // doubles they were rounded from instead. The checks' tests of each single kept it from that.
  static float Single(double value) {
    float single = static_cast<float>(value);
#if defined(__GNUC__) && defined(__x86_64__)
    asm("" : "+x"(single));
#elif defined(__GNUC__) && defined(__aarch64__)
    asm("" : "+w"(single));
#elif defined(__GNUC__)
    asm("" : "+m"(single));
#endif
    return single;
  }
  static float Sum(float a, float b) { return a + b; }
  static float Difference(float a, float b) { return a - b; }
  static double Divide(double numerator, double denominator) { return numerator / denominator; }
  static double Log(double value) { return std::log(value); }
};

}  // namespace ostrel
