#include "base/numeric.h"

#include <cmath>

#include "base/stage_error.h"

namespace ostrel {

void ThrowNotSingle(double value) {
  if (std::isnan(value)) throw StageError("a result is not a number");
  throw StageError("a result is too large to store as a single");
}

void ThrowDivisionByZero() { throw StageError("division by zero"); }

void ThrowLogOfNonPositive() { throw StageError("logarithm of zero or a negative number"); }

double CheckedSqrt(double value) {
  if (value < 0.0) throw StageError("square root of a negative number");
  return std::sqrt(value);
}

}  // namespace ostrel
