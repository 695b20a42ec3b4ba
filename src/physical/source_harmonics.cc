#include "physical/source_harmonics.h"

#include <Eigen/Core>
#include <Eigen/LU>
#include <algorithm>
#include <cmath>
#include <limits>

#include "base/stage_error.h"

namespace ostrel::physical {
namespace {

using Complex = std::complex<double>;
constexpr int kMaxOrders = 40;

// Harmonics of a cylinder whose closest neighbour (centre or image) is `closest_m` away and which
// lies `source_m` from the source. Two cylinders d apart gather their repeated reflections at the
// limit points of the pair, a / (d / 2 + sqrt(d^2 / 4 - a^2)) of a radius from the far centre
// (as HarmonicOrders): the cylinder's series falls as ratio^n. What harmonic n of a cylinder r
// from the source adds to the source's column falls a further (a / r)^(n - 1): the series is
// cut where ratio^n (a / r)^(n - 1) has fallen to `tolerance`.
int Orders(double radius_m, double closest_m, double source_m, double tolerance) {
  if (!(closest_m > 2 * radius_m)) return kMaxOrders;
  const double half = closest_m / 2;
  const double ratio = radius_m / (half + std::sqrt(half * half - radius_m * radius_m));
  const double seen = source_m > 2 * radius_m ? std::log(radius_m / source_m) : 0.0;
  const int orders =
      static_cast<int>(std::ceil((std::log(tolerance) + seen) / (std::log(ratio) + seen)));
  return std::clamp(orders, 1, kMaxOrders);
}

// Adds c * alpha (conjugate false) or c * conj(alpha) (true) to the real rows (re, im) of an
// equation, alpha's real and imaginary parts being the unknowns (x, y).
void AddTerm(Eigen::MatrixXd& m, Eigen::Index row, Eigen::Index col, Complex c, bool conjugate) {
  m(row, col) += c.real();
  m(row + 1, col) += c.imag();
  m(row, col + 1) += conjugate ? c.imag() : -c.imag();
  m(row + 1, col + 1) += conjugate ? -c.real() : c.real();
}

}  // namespace

std::vector<double> SourceHarmonics(const SourceSection& section) {
  const std::vector<Complex>& c = section.centres_m;
  const std::size_t count = c.size();
  const double a = section.radius_m;
  std::vector<double> out(count, 0.0);
  if (count == 0) return out;
  // Harmonics on each cylinder, and where its unknowns start.
  std::vector<int> orders(count);
  std::vector<Eigen::Index> first(count + 1, 0);
  int most = 0;
  for (std::size_t m = 0; m < count; ++m) {
    double closest = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < count; ++k) {
      if (k != m) closest = std::min(closest, std::abs(c[m] - c[k]));
      if (section.plane) closest = std::min(closest, std::abs(c[m] - std::conj(c[k])));
    }
    orders[m] = Orders(a, closest, std::abs(c[m] - c[0]), section.tolerance);
    most = std::max(most, orders[m]);
    first[m + 1] = first[m] + 2 * orders[m];
  }
  // binom(n + l - 1, l), n, l in 1..most.
  Eigen::MatrixXd binom(most + 1, most + 1);
  for (int n = 1; n <= most; ++n) {
    binom(n, 0) = 1;
    for (int l = 1; l <= most; ++l) binom(n, l) = binom(n, l - 1) * (n + l - 1) / l;
  }
  // Harmonic n of cylinder m is Re[alpha (a / (z - c_m))^n], its image -Re[conj(alpha)
  // (a / (z - conj c_m))^n]. The field falling on cylinder k, in its local harmonics
  // Re[beta_l ((z - c_k) / a)^l], is cancelled on its surface by alpha_(k,l) = -conj(beta_l):
  // rows (k, l) hold alpha_(k,l) + conj(beta_l) = 0, two real rows each.
  const Eigen::Index unknowns = first[count];
  Eigen::MatrixXd system = Eigen::MatrixXd::Identity(unknowns, unknowns);
  Eigen::VectorXd rhs = Eigen::VectorXd::Zero(unknowns);
  std::vector<Complex> powers(2 * static_cast<std::size_t>(most) + 1);
  // (a / d)^p for p up to `highest`, the most that the pair of cylinders uses.
  const auto fill_powers = [&](Complex d, int highest) {
    const Complex u = a / d;
    powers[0] = 1;
    for (std::size_t p = 1; p <= static_cast<std::size_t>(highest); ++p) {
      powers[p] = powers[p - 1] * u;
    }
  };
  for (std::size_t k = 0; k < count; ++k) {
    for (std::size_t m = 0; m < count; ++m) {
      for (int image = 0; image < (section.plane ? 2 : 1); ++image) {
        if (image == 0 && m == k) continue;
        fill_powers(c[k] - (image == 1 ? std::conj(c[m]) : c[m]), orders[k] + orders[m]);
        const double sign = image == 1 ? -1.0 : 1.0;
        for (int l = 1; l <= orders[k]; ++l) {
          const Eigen::Index row = first[k] + 2 * (l - 1);
          const double alternate = l % 2 == 0 ? 1.0 : -1.0;
          if (m == 0) {
            // The unit source -ln|z - c_0| (its image +ln|z - conj c_0|): beta_l gains
            // (-1)^l (a / d)^l / l; conj(beta_l) moves to the right-hand side.
            const Complex beta = sign * alternate / l * powers[static_cast<std::size_t>(l)];
            rhs(row) -= beta.real();
            rhs(row + 1) += beta.imag();
          }
          for (int n = 1; n <= orders[m]; ++n) {
            // beta_l gains alpha (or, for the image, -conj(alpha)) times
            // (-1)^l binom(n + l - 1, l) (a / d)^(n + l); conj(beta_l) takes conj(alpha)
            // (for the image, -alpha) times the conjugate factor.
            const Complex f =
                sign * alternate * binom(n, l) * std::conj(powers[static_cast<std::size_t>(n + l)]);
            AddTerm(system, row, first[m] + 2 * (n - 1), f, image == 0);
          }
        }
      }
    }
  }
  const Eigen::VectorXd x = system.partialPivLu().solve(rhs);
  // The mean over a cylinder of a harmonic centred elsewhere is its value at the centre.
  const auto potential_at = [&](Complex z, std::size_t skip) {
    double sum = 0;
    for (std::size_t m = 0; m < count; ++m) {
      for (int image = 0; image < (section.plane ? 2 : 1); ++image) {
        if (image == 0 && m == skip) continue;
        fill_powers(z - (image == 1 ? std::conj(c[m]) : c[m]), orders[m]);
        for (int n = 1; n <= orders[m]; ++n) {
          const Complex alpha(x(first[m] + 2 * (n - 1)), x(first[m] + 2 * (n - 1) + 1));
          const Complex term =
              (image == 1 ? -std::conj(alpha) : alpha) * powers[static_cast<std::size_t>(n)];
          sum += term.real();
        }
      }
    }
    return sum;
  };
  for (std::size_t k = 0; k < count; ++k) out[k] = potential_at(c[k], k);
  for (double v : out) {
    if (!std::isfinite(v)) throw StageError("the harmonic solution of close wires is not finite");
  }
  return out;
}

}  // namespace ostrel::physical
