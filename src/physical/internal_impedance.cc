#include <cmath>
#include <complex>
#include <numbers>

#include "base/stage_error.h"
#include "physical/physical_model.h"

namespace ostrel::physical {
namespace {

using Complex = std::complex<double>;

// Above this a / delta the Hankel expansion is used; its neglected term is exp(-2 a / delta)
// (4e-11 here) and the power series below it loses at most 0.18 a / delta of 16 digits.
constexpr double kAsymptoticRadiusOverSkinDepth = 12.0;

// J0(x) / ((x / 2) J1(x)) from the power series of both,
//   J0 = sum t^m / (m!)^2,  J1 = (x / 2) sum t^m / (m! (m + 1)!),  t = -x^2 / 4.
Complex SeriesRatio(Complex x) {
  const Complex t = -x * x / 4.0;
  Complex term0 = 1.0, term1 = 1.0;  // t^m / (m!)^2 and t^m / (m! (m + 1)!)
  Complex sum0 = 1.0, sum1 = 1.0;
  for (int m = 1; m < 400; ++m) {
    term0 *= t / (double(m) * m);
    term1 *= t / (double(m) * (m + 1));
    sum0 += term0;
    sum1 += term1;
    if (std::abs(term0) < 1e-18 * std::abs(sum0) && std::abs(term1) < 1e-18 * std::abs(sum1)) {
      break;
    }
  }
  return sum0 / sum1;
}

// sum_k i^k a_k(n) / x^k with a_k(n) = (4n^2 - 1)(4n^2 - 9)...(4n^2 - (2k-1)^2) / (k! 8^k): the
// factor of exp(i (x - n pi / 2 - pi / 4)) in Hankel's expansion of H1_n(x), summed up to its
// smallest term.
Complex HankelFactor(int n, Complex x) {
  const double mu = 4.0 * n * n;
  const Complex i_over_8x = Complex(0, 1) / (8.0 * x);
  Complex term = 1.0, sum = 1.0;
  double last = 1.0;
  for (int k = 1; k < 200; ++k) {
    const double odd = 2.0 * k - 1;
    const Complex next = term * (mu - odd * odd) / double(k) * i_over_8x;
    if (std::abs(next) >= last) break;  // the asymptotic series has reached its smallest term
    term = next;
    last = std::abs(term);
    sum += term;
    if (last < 1e-18 * std::abs(sum)) break;
  }
  return sum;
}

}  // namespace

std::complex<double> InternalImpedancePerMetre(double frequency_hz, double radius_m,
                                               double resistivity_ohm_m) {
  if (!(radius_m > 0) || !(resistivity_ohm_m > 0) || !(frequency_hz >= 0) ||
      !std::isfinite(frequency_hz) || !std::isfinite(radius_m)) {
    throw StageError(
        "the internal impedance needs a positive radius and resistivity and a "
        "frequency of 0 or more");
  }
  const double dc_ohm_per_m = DcResistancePerMetre(radius_m, resistivity_ohm_m);
  const double omega = 2 * std::numbers::pi * frequency_hz;
  // Skin depth delta = sqrt(2 rho / (omega mu0)); a / delta = a sqrt(omega mu0 / (2 rho)).
  const double a_over_delta = radius_m * std::sqrt(omega * kMu0HPerM / (2 * resistivity_ohm_m));
  // k a = (1 - j) a / delta, the root of -j omega mu0 / rho whose J's grow as exp(a / delta).
  const Complex ka(a_over_delta, -a_over_delta);
  if (a_over_delta < kAsymptoticRadiusOverSkinDepth) {
    // z = (k rho / (2 pi a)) J0 / J1 = R_dc' (ka / 2) J0(ka) / J1(ka).
    return dc_ohm_per_m * SeriesRatio(ka);
  }
  // With Im(ka) < 0, J_n(ka) = H1_n(ka) / 2 up to exp(-2 a / delta), so
  // J0 / J1 = j A0 / A1 (Hankel's expansion, Abramowitz & Stegun 9.2.7).
  const Complex ratio = Complex(0, 1) * HankelFactor(0, ka) / HankelFactor(1, ka);
  return dc_ohm_per_m * (ka / 2.0) * ratio;
}

}  // namespace ostrel::physical
