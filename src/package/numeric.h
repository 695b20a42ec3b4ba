#pragma once

// Checked arithmetic for the estimation. Every stored value is a single; the formulas run in
// double. A division by zero, the logarithm of zero or a negative number, the square root of a
// negative number and a result too large for a single are faults that end the command with a
// StageError instead of leaving an infinity or NaN in a result.
namespace ostrel {

// Rounds a double to the nearest single. Throws StageError when the value is not finite or
// too large to store as a single.
float ToSingle(double value);

// numerator / denominator; throws StageError when the denominator is 0 (0 / 0 included).
double CheckedDivide(double numerator, double denominator);

// Natural logarithm; throws StageError for an argument of zero or less.
double CheckedLog(double value);

// Square root; throws StageError for a negative argument.
double CheckedSqrt(double value);

}  // namespace ostrel
