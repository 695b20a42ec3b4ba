#include "physical/cylinder_harmonics.h"

#include <Eigen/LU>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/stage_error.h"
#include "physical/physical_model.h"

namespace ostrel::physical {
namespace {

// The harmonic series are cut where the slowest of them has fallen to this.
constexpr double kSeriesTolerance = 1e-5;
constexpr int kMaxOrders = 40;

// Index of the coefficient of harmonic n (1..orders) of cylinder m: sense 0 the harmonic
// (a / (z - c))^n, sense 1 its conjugate (a / conj(z - c))^n.
std::size_t Unknown(std::size_t m, int n, int sense, int orders) {
  return (m * 2 + static_cast<std::size_t>(sense)) * static_cast<std::size_t>(orders) +
         static_cast<std::size_t>(n - 1);
}

}  // namespace

std::vector<Complex> WireReflection(double frequency_hz, double radius_m, double resistivity_ohm_m,
                                    int orders) {
  std::vector<Complex> r(static_cast<std::size_t>(std::max(orders, 0)), 0.0);
  if (frequency_hz == 0 || orders <= 0) return r;
  const double omega = 2 * std::numbers::pi * frequency_hz;
  const double a_over_delta = radius_m * std::sqrt(omega * kMu0HPerM / (2 * resistivity_ohm_m));
  const Complex ka(a_over_delta, a_over_delta);
  // h_n = I_n / I_(n-1) from I_(n-1) - I_(n+1) = (2n / z) I_n, that is h_n = 1 / (2n / z +
  // h_(n+1)), run down from far above both n and |ka| where h is negligible (Miller's method).
  const int top = orders + 40 + static_cast<int>(2 * std::abs(ka));
  std::vector<Complex> h(static_cast<std::size_t>(top) + 2, 0.0);
  for (int n = top; n >= 1; --n) {
    h[static_cast<std::size_t>(n)] = 1.0 / (2.0 * n / ka + h[static_cast<std::size_t>(n) + 1]);
  }
  for (int n = 1; n <= orders; ++n) {
    r[static_cast<std::size_t>(n) - 1] =
        -h[static_cast<std::size_t>(n)] * h[static_cast<std::size_t>(n) + 1];
  }
  return r;
}

int HarmonicOrders(double radius_m, double closest_m) {
  if (!(closest_m > 2 * radius_m)) return kMaxOrders;
  // Repeated reflection between two cylinders d apart gathers their fields at the limit points
  // of the pair, a / (d / 2 + sqrt(d^2 / 4 - a^2)) of a radius from the far centre.
  const double half = closest_m / 2;
  const double ratio = radius_m / (half + std::sqrt(half * half - radius_m * radius_m));
  const int orders = static_cast<int>(std::ceil(std::log(kSeriesTolerance) / std::log(ratio)));
  return std::clamp(orders, 1, kMaxOrders);
}

Eigen::MatrixXcd HarmonicCorrection(const CrossSection& section,
                                    const std::vector<Complex>& reflection) {
  const std::size_t count = section.centres_m.size();
  const int orders = static_cast<int>(reflection.size());
  const double a = section.radius_m;
  if (count == 0 || orders == 0) return Eigen::MatrixXcd::Zero(count, count);
  const std::size_t unknowns = 2 * count * static_cast<std::size_t>(orders);
  // binom(n + l - 1, l) for n, l in 1..orders.
  Eigen::MatrixXd binom(orders + 1, orders + 1);
  for (int n = 1; n <= orders; ++n) {
    binom(n, 0) = 1;
    for (int l = 1; l <= orders; ++l) binom(n, l) = binom(n, l - 1) * (n + l - 1) / l;
  }
  // Field on cylinder k's surface, in its local harmonics (z - c_k)^l / a^l (sense 0) and their
  // conjugates (sense 1):  g = A x + B q;  the mean (order 0) from the harmonics: C x.
  Eigen::MatrixXcd A = Eigen::MatrixXcd::Zero(unknowns, unknowns);
  Eigen::MatrixXcd B = Eigen::MatrixXcd::Zero(unknowns, count);
  Eigen::MatrixXcd C = Eigen::MatrixXcd::Zero(count, unknowns);
  std::vector<Complex> powers(2 * static_cast<std::size_t>(orders) + 1);
  // A source at offset d = c_k - c_source with harmonic coefficients (sign * x[m, n, s_from])
  // in sense `analytic` (0) feeding cylinder k's local sense 0 and the conjugate (sense 1) its
  // local sense 1. `from_sense[0]` is the unknown feeding the analytic family.
  const auto add_source = [&](std::size_t k, std::size_t m, Complex d, double sign,
                              const int(&from_sense)[2]) {
    for (int family = 0; family < 2; ++family) {
      const Complex u = a / (family == 0 ? d : std::conj(d));
      powers[0] = 1;
      for (std::size_t p = 1; p < powers.size(); ++p) powers[p] = powers[p - 1] * u;
      for (int l = 1; l <= orders; ++l) {
        const double alternate = l % 2 == 0 ? 1.0 : -1.0;
        // The line source -q ln|z - c| = -q Re log(d + w): its local harmonic l is
        // q (-1)^l (w / d)^l / (2 l) in each family.
        B(Unknown(k, l, family, orders), m) += sign * alternate / (2.0 * l) * powers[l];
        for (int n = 1; n <= orders; ++n) {
          A(Unknown(k, l, family, orders), Unknown(m, n, from_sense[family], orders)) +=
              sign * alternate * binom(n, l) * powers[static_cast<std::size_t>(n + l)];
        }
      }
      for (int n = 1; n <= orders; ++n) {
        C(k, Unknown(m, n, from_sense[family], orders)) += sign * powers[n];
      }
    }
  };
  for (std::size_t k = 0; k < count; ++k) {
    const Complex ck = section.centres_m[k];
    for (std::size_t m = 0; m < count; ++m) {
      if (m != k) add_source(k, m, ck - section.centres_m[m], 1.0, {0, 1});
      if (section.plane) {
        // The image of A(z) is -A(conj z): the conjugate family of m becomes the analytic one
        // of its image and the other way round, with the opposite sign.
        add_source(k, m, ck - std::conj(section.centres_m[m]), -1.0, {1, 0});
      }
    }
  }
  // A field harmonic (r/a)^l e^(j l phi) falling on a cylinder sends out r_l (a/r)^l e^(j l phi):
  // local sense 0, (w / a)^l, is answered in sense 1, (a / conj w)^l, and the other way round.
  Eigen::VectorXcd r_row(unknowns);
  for (std::size_t k = 0; k < count; ++k) {
    for (int s = 0; s < 2; ++s) {
      for (int l = 1; l <= orders; ++l) {
        r_row(Unknown(k, l, s, orders)) = reflection[static_cast<std::size_t>(l) - 1];
      }
    }
  }
  // The unknown x[k, l, 1 - s] answers the local field g[k, l, s]: swap the senses of A's and
  // B's rows so that row (k, l, s') holds the field that x[k, l, s'] answers.
  Eigen::MatrixXcd system = Eigen::MatrixXcd::Identity(unknowns, unknowns);
  Eigen::MatrixXcd rhs(unknowns, count);
  for (std::size_t k = 0; k < count; ++k) {
    for (int s = 0; s < 2; ++s) {
      for (int l = 1; l <= orders; ++l) {
        const std::size_t row = Unknown(k, l, s, orders), from = Unknown(k, l, 1 - s, orders);
        system.row(static_cast<Eigen::Index>(row)) -= r_row(row) * A.row(from);
        rhs.row(static_cast<Eigen::Index>(row)) = r_row(row) * B.row(from);
      }
    }
  }
  const Eigen::MatrixXcd x = system.partialPivLu().solve(rhs);
  const Eigen::MatrixXcd m = C * x;
  if (!m.allFinite()) throw StageError("the harmonic solution of close wires is not finite");
  return 0.5 * (m + m.transpose());
}

}  // namespace ostrel::physical
