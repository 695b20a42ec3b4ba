#include "physical/internal_ladder.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "physical/physical_model.h"

namespace ostrel::physical {
namespace {

constexpr double kTargetError = 0.015;
constexpr int kMaxRungs = 14;
constexpr int kPointsPerDecade = 25;

// Lawson and Hanson's active-set method: x >= 0 minimising |A x - b|.
Eigen::VectorXd NonNegativeLeastSquares(const Eigen::MatrixXd& a, const Eigen::VectorXd& b) {
  const Eigen::Index n = a.cols();
  Eigen::VectorXd x = Eigen::VectorXd::Zero(n);
  std::vector<bool> passive(static_cast<std::size_t>(n), false);
  for (int outer = 0; outer < 10 * n; ++outer) {
    const Eigen::VectorXd w = a.transpose() * (b - a * x);
    Eigen::Index best = -1;
    for (Eigen::Index j = 0; j < n; ++j) {
      if (!passive[std::size_t(j)] && w(j) > 1e-12 * w.cwiseAbs().maxCoeff() &&
          (best < 0 || w(j) > w(best))) {
        best = j;
      }
    }
    if (best < 0) break;
    passive[std::size_t(best)] = true;
    for (int inner = 0; inner < 10 * n; ++inner) {
      std::vector<Eigen::Index> cols;
      for (Eigen::Index j = 0; j < n; ++j) {
        if (passive[std::size_t(j)]) cols.push_back(j);
      }
      Eigen::MatrixXd sub(a.rows(), Eigen::Index(cols.size()));
      for (std::size_t k = 0; k < cols.size(); ++k) sub.col(Eigen::Index(k)) = a.col(cols[k]);
      const Eigen::VectorXd z_sub = sub.colPivHouseholderQr().solve(b);
      if (z_sub.minCoeff() > 0) {
        x.setZero();
        for (std::size_t k = 0; k < cols.size(); ++k) x(cols[k]) = z_sub(Eigen::Index(k));
        break;
      }
      // Step from x towards z as far as every passive entry stays >= 0; drop those at 0.
      double alpha = 1;
      for (std::size_t k = 0; k < cols.size(); ++k) {
        const double z = z_sub(Eigen::Index(k)), xk = x(cols[k]);
        if (z <= 0) alpha = std::min(alpha, xk / (xk - z));
      }
      for (std::size_t k = 0; k < cols.size(); ++k) {
        double& xk = x(cols[k]);
        xk += alpha * (z_sub(Eigen::Index(k)) - xk);
        if (xk <= 1e-15 * z_sub.cwiseAbs().maxCoeff()) {
          xk = 0;
          passive[std::size_t(cols[k])] = false;
        }
      }
    }
  }
  return x;
}

}  // namespace

InternalLadder LadderOfLength(const InternalLadder& per_metre, double length_m) {
  InternalLadder out = per_metre;
  out.r0_ohm *= length_m;
  for (InternalLadder::Rung& rung : out.rungs) {
    rung.r_ohm *= length_m;
    rung.l_h *= length_m;
  }
  return out;
}

std::complex<double> InternalLadder::Impedance(double frequency_hz) const {
  const double omega = 2 * std::numbers::pi * frequency_hz;
  std::complex<double> z = r0_ohm;
  for (const Rung& rung : rungs) {
    const std::complex<double> jwt(0, omega * rung.l_h / rung.r_ohm);
    z += rung.r_ohm * jwt / (1.0 + jwt);
  }
  return z;
}

InternalLadder FitInternalLadder(double radius_m, double resistivity_ohm_m, double length_m,
                                 double max_frequency_hz) {
  // Per metre at DC: R_dc' = rho / (pi a^2) and L_int' = mu0 / (8 pi).
  const double r_dc = DcResistancePerMetre(radius_m, resistivity_ohm_m);
  const double l_dc = kDcInternalInductanceHPerM;
  // Frequency at which the skin depth sqrt(rho / (pi f mu0)) equals the radius.
  const double f_skin = resistivity_ohm_m / (std::numbers::pi * kMu0HPerM * radius_m * radius_m);
  const double f_top = std::max(max_frequency_hz, f_skin / 10);
  const double f_bottom = f_skin / 30;
  std::vector<double> grid;
  const int points =
      std::max(2, int(std::ceil(kPointsPerDecade * std::log10(f_top / f_bottom))) + 1);
  for (int k = 0; k < points; ++k) {
    grid.push_back(f_bottom * std::pow(f_top / f_bottom, double(k) / (points - 1)));
  }
  std::vector<std::complex<double>> exact;
  for (const double f : grid) {
    exact.push_back(InternalImpedancePerMetre(f, radius_m, resistivity_ohm_m));
  }

  InternalLadder best;
  for (int rungs = 1; rungs <= kMaxRungs; ++rungs) {
    // Rung corner frequencies 1 / (2 pi tau), log-spaced from where the skin depth equals the
    // radius to ten times the top frequency: the rungs above it carry L_int(f) at the top, whose
    // fall as 1 / sqrt(f) a rung's 1 / f^2 can follow only from above.
    std::vector<double> tau(static_cast<std::size_t>(rungs));
    const double low = f_skin, high = 10 * f_top;
    for (int k = 0; k < rungs; ++k) {
      const double f = rungs == 1 ? f_skin : low * std::pow(high / low, double(k) / (rungs - 1));
      tau[std::size_t(k)] = 1 / (2 * std::numbers::pi * f);
    }
    // Unknowns: the rung resistances per metre. Rows: relative errors of R and L_int at each
    // grid frequency, and the DC inductance sum R_k tau_k = L_int' held with a large weight.
    // R0 = R_dc' - (nothing at DC from the rungs) is exact by construction.
    const Eigen::Index rows = Eigen::Index(2 * grid.size() + 1);
    Eigen::MatrixXd a(rows, rungs);
    Eigen::VectorXd b(rows);
    for (std::size_t g = 0; g < grid.size(); ++g) {
      const double omega = 2 * std::numbers::pi * grid[g];
      const double r_exact = exact[g].real(), l_exact = exact[g].imag() / omega;
      for (int k = 0; k < rungs; ++k) {
        const double wt = omega * tau[std::size_t(k)];
        a(Eigen::Index(2 * g), k) = wt * wt / (1 + wt * wt) / r_exact;
        a(Eigen::Index(2 * g + 1), k) = tau[std::size_t(k)] / (1 + wt * wt) / l_exact;
      }
      b(Eigen::Index(2 * g)) = (r_exact - r_dc) / r_exact;
      b(Eigen::Index(2 * g + 1)) = 1;
    }
    constexpr double kDcWeight = 1e3;
    for (int k = 0; k < rungs; ++k) a(rows - 1, k) = kDcWeight * tau[std::size_t(k)] / l_dc;
    b(rows - 1) = kDcWeight;
    const Eigen::VectorXd r = NonNegativeLeastSquares(a, b);

    InternalLadder ladder;
    ladder.r0_ohm = r_dc * length_m;
    for (int k = 0; k < rungs; ++k) {
      if (r(k) > 0) {
        ladder.rungs.push_back({r(k) * length_m, r(k) * tau[std::size_t(k)] * length_m});
      }
    }
    for (std::size_t g = 0; g < grid.size(); ++g) {
      const double omega = 2 * std::numbers::pi * grid[g];
      const std::complex<double> z = ladder.Impedance(grid[g]) / length_m;
      ladder.max_error = std::max({ladder.max_error, std::abs(z.real() / exact[g].real() - 1),
                                   std::abs(z.imag() / omega / (exact[g].imag() / omega) - 1)});
    }
    if (rungs == 1 || ladder.max_error < best.max_error) best = ladder;
    if (best.max_error <= kTargetError) break;
  }
  return best;
}

}  // namespace ostrel::physical
