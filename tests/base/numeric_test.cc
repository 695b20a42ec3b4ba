#include "base/numeric.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "base/stage_error.h"

namespace ostrel {
namespace {

// What the division gives: the single's bits, or the fault's text.
std::string Divided(double numerator, double divisor) {
  try {
    return std::to_string(
        std::bit_cast<std::uint32_t>(ToSingle(CheckedDivide(numerator, divisor))));
  } catch (const StageError& e) {
    return e.what();
  }
}

std::string ByInverse(const SingleQuotients& quotients, double numerator) {
  try {
    return std::to_string(std::bit_cast<std::uint32_t>(quotients(numerator)));
  } catch (const StageError& e) {
    return e.what();
  }
}

// Quotients by one divisor round to the single the division rounds to, faults included, where
// a product with the inverse could round the other way: quotients halfway between two singles
// and within a few doubles of halfway, ties to even, subnormal and overflowing singles,
// divisors without a normal inverse, and zero.
TEST(SingleQuotientsTest, RoundAsTheDivision) {
  const double divisors[] = {3.0,    -7.0,  2.0,       0.1, 1.9634954e-9, 123.456,
                             1e-310, 1e300, 0x1p-1001, 0.0, 1.0 / 3.0,    -0.7};
  std::mt19937_64 random(5);
  int checked = 0;
  for (const double divisor : divisors) {
    SCOPED_TRACE(divisor);
    const SingleQuotients quotients(divisor);
    std::vector<double> numerators = {0.0,
                                      -0.0,
                                      1.0,
                                      1e-50 * divisor,
                                      1e40 * divisor,
                                      3.4e38 * divisor,
                                      NAN,
                                      INFINITY,
                                      (16777216.0 + 1) * divisor,
                                      (8388608.0 + 0.5) * divisor,
                                      (8388609.0 + 0.5) * divisor};
    for (int i = 0; i < 2000; ++i) {
      // Near halfway between a random single and the next, times the divisor.
      const float f = std::ldexp(1.0f + static_cast<float>(random() % (1u << 23)) * 0x1p-23f,
                                 static_cast<int>(random() % 80) - 40);
      const double halfway = (static_cast<double>(f) + std::nextafter(f, 2 * f)) / 2;
      const double numerator = halfway * divisor;
      numerators.push_back(std::nextafter(numerator, i % 3 == 0 ? -1e300 : 1e300));
      numerators.push_back(numerator);
    }
    for (const double numerator : numerators) {
      EXPECT_EQ(ByInverse(quotients, numerator), Divided(numerator, divisor)) << numerator;
      ++checked;
    }
  }
  EXPECT_GT(checked, 40000);
}

// What a single operation gives: the single's bits, or the fault's text.
template <typename Operation>
std::string Single(Operation operation) {
  try {
    return std::to_string(std::bit_cast<std::uint32_t>(operation()));
  } catch (const StageError& e) {
    return e.what();
  }
}

// Sums and differences of singles made on singles round as the double result rounded to a
// single, faults included: operands far apart in size (the smaller below half an ulp of the
// larger, or just above), equal and opposite, subnormal, overflowing, NaN, and random ones.
TEST(SingleSumTest, RoundsAsTheDoubleSum) {
  std::vector<float> values = {0.0f,          -0.0f,  1.0f,    -1.0f,          0x1p-24f, 0x1p-25f,
                               3e38f,         -3e38f, 1e-45f,  1e-40f,         NAN,      123.456f,
                               0x1.000002p0f, 1e30f,  -1e-30f, 0x1.fffffep127f};
  std::mt19937_64 random(9);
  for (int i = 0; i < 300; ++i) {
    const float mantissa = 1.0f + static_cast<float>(random() % (1u << 23)) * 0x1p-23f;
    values.push_back((random() % 2 ? -1.0f : 1.0f) *
                     std::ldexp(mantissa, static_cast<int>(random() % 100) - 50));
  }
  for (const float a : values) {
    for (const float b : values) {
      ASSERT_EQ(Single([&] { return SingleSum(a, b); }),
                Single([&] { return ToSingle(Wide(a) + Wide(b)); }))
          << a << " + " << b;
      ASSERT_EQ(Single([&] { return SingleDifference(a, b); }),
                Single([&] { return ToSingle(Wide(a) - Wide(b)); }))
          << a << " - " << b;
    }
  }
}

}  // namespace
}  // namespace ostrel
