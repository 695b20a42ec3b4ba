#include "package/numeric.h"

#include <cmath>

#include "package/stage_error.h"

namespace ostrel {

float ToSingle(double value) {
  if (std::isnan(value)) throw StageError("a result is not a number");
  const float single = static_cast<float>(value);
  if (std::isinf(single)) throw StageError("a result is too large to store as a single");
  return single;
}

double CheckedDivide(double numerator, double denominator) {
  if (denominator == 0.0) throw StageError("division by zero");
  return numerator / denominator;
}

double CheckedLog(double value) {
  if (!(value > 0.0)) throw StageError("logarithm of zero or a negative number");
  return std::log(value);
}

double CheckedSqrt(double value) {
  if (value < 0.0) throw StageError("square root of a negative number");
  return std::sqrt(value);
}

}  // namespace ostrel
