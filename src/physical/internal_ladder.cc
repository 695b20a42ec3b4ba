#include "physical/internal_ladder.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "physical/coupling.h"
#include "physical/physical_model.h"
#include "physical/proximity.h"

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
  out.series_inductance_h *= length_m;
  for (InternalLadder::Rung& rung : out.rungs) {
    rung.r_ohm *= length_m;
    rung.l_h *= length_m;
  }
  return out;
}

std::complex<double> InternalLadder::Impedance(double frequency_hz) const {
  const double omega = 2 * std::numbers::pi * frequency_hz;
  std::complex<double> z(r0_ohm, omega * series_inductance_h);
  for (const Rung& rung : rungs) {
    const std::complex<double> jwt(0, omega * rung.l_h / rung.r_ohm);
    z += rung.r_ohm * jwt / (1.0 + jwt);
  }
  return z;
}

namespace {

// Samples of a series impedance to fit, with the scale of each inductance error.
struct Samples {
  std::vector<double> frequencies_hz, resistance_ohm, inductance_h, inductance_scale_h;
  double dc_resistance_ohm = 0, dc_inductance_h = 0;
};

// The ladder through `samples`: rung corners log-spaced from `low_hz` to `high_hz`, rung
// resistances by non-negative least squares on the relative errors of R and L (L's error over
// its scale), R0 and the DC inductance held exact; with `offset` a series inductance of 0 or
// below may join the rungs. Rungs are added until both errors stay within `target_error`.
InternalLadder FitSamples(const Samples& samples, double low_hz, double high_hz,
                          double target_error, int max_rungs, bool offset) {
  const std::vector<double>& grid = samples.frequencies_hz;
  const double r_dc = samples.dc_resistance_ohm, l_dc = samples.dc_inductance_h;
  InternalLadder best;
  for (int rungs = 1; rungs <= max_rungs; ++rungs) {
    // Rung corner frequencies 1 / (2 pi tau), log-spaced from where the skin depth equals the
    // radius to ten times the top frequency: the rungs above it carry L_int(f) at the top, whose
    // fall as 1 / sqrt(f) a rung's 1 / f^2 can follow only from above.
    std::vector<double> tau(static_cast<std::size_t>(rungs));
    for (int k = 0; k < rungs; ++k) {
      const double f =
          rungs == 1 ? low_hz : low_hz * std::pow(high_hz / low_hz, double(k) / (rungs - 1));
      tau[std::size_t(k)] = 1 / (2 * std::numbers::pi * f);
    }
    // Unknowns: the rung resistances, then (with an offset) minus the series inductance. Rows:
    // relative errors of R and L at each grid frequency, and the DC inductance sum
    // R_k tau_k - offset = L_dc held with a large weight. R0 = R_dc is exact by construction.
    const int unknowns = rungs + (offset ? 1 : 0);
    const Eigen::Index rows = Eigen::Index(2 * grid.size() + 1);
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(rows, unknowns);
    Eigen::VectorXd b(rows);
    for (std::size_t g = 0; g < grid.size(); ++g) {
      const double omega = 2 * std::numbers::pi * grid[g];
      const double r_exact = samples.resistance_ohm[g];
      const double l_scale = samples.inductance_scale_h[g];
      for (int k = 0; k < rungs; ++k) {
        const double wt = omega * tau[std::size_t(k)];
        a(Eigen::Index(2 * g), k) = wt * wt / (1 + wt * wt) / r_exact;
        a(Eigen::Index(2 * g + 1), k) = tau[std::size_t(k)] / (1 + wt * wt) / l_scale;
      }
      if (offset) a(Eigen::Index(2 * g + 1), rungs) = -1 / l_scale;
      b(Eigen::Index(2 * g)) = (r_exact - r_dc) / r_exact;
      b(Eigen::Index(2 * g + 1)) = samples.inductance_h[g] / l_scale;
    }
    constexpr double kDcWeight = 1e3;
    for (int k = 0; k < rungs; ++k) a(rows - 1, k) = kDcWeight * tau[std::size_t(k)] / l_dc;
    if (offset) a(rows - 1, rungs) = -kDcWeight / l_dc;
    b(rows - 1) = kDcWeight;
    // The branch fits scale every column to unit length first: the series inductance's column is
    // some 1e9 times the rungs', which leaves the active-set steps without digits to spare.
    Eigen::VectorXd scale = Eigen::VectorXd::Ones(unknowns);
    if (offset) {
      for (int k = 0; k < unknowns; ++k) scale(k) = 1 / a.col(k).norm();
    }
    const Eigen::VectorXd r =
        NonNegativeLeastSquares(a * scale.asDiagonal(), b).cwiseProduct(scale);

    InternalLadder ladder;
    ladder.r0_ohm = r_dc;
    for (int k = 0; k < rungs; ++k) {
      if (r(k) > 0) ladder.rungs.push_back({r(k), r(k) * tau[std::size_t(k)]});
    }
    if (offset) ladder.series_inductance_h = -r(rungs);
    for (std::size_t g = 0; g < grid.size(); ++g) {
      const double omega = 2 * std::numbers::pi * grid[g];
      const std::complex<double> z = ladder.Impedance(grid[g]);
      ladder.max_error = std::max(
          {ladder.max_error, std::abs(z.real() / samples.resistance_ohm[g] - 1),
           std::abs((z.imag() / omega - samples.inductance_h[g]) / samples.inductance_scale_h[g])});
    }
    if (rungs == 1 || ladder.max_error < best.max_error) best = ladder;
    if (best.max_error <= target_error) break;
  }
  return best;
}

// Frequency at which the skin depth sqrt(rho / (pi f mu0)) equals the radius.
double SkinFrequencyHz(double radius_m, double resistivity_ohm_m) {
  return resistivity_ohm_m / (std::numbers::pi * kMu0HPerM * radius_m * radius_m);
}

// The fitted band's log grid, 25 points a decade from f_skin / 30 to `top_hz`.
std::vector<double> FitGrid(double f_skin, double top_hz) {
  const double f_bottom = f_skin / 30;
  std::vector<double> grid;
  const int points =
      std::max(2, int(std::ceil(kPointsPerDecade * std::log10(top_hz / f_bottom))) + 1);
  for (int k = 0; k < points; ++k) {
    grid.push_back(f_bottom * std::pow(top_hz / f_bottom, double(k) / (points - 1)));
  }
  return grid;
}

}  // namespace

InternalLadder FitInternalLadder(double radius_m, double resistivity_ohm_m, double length_m,
                                 double max_frequency_hz) {
  // Per metre at DC: R_dc' = rho / (pi a^2) and L_int' = mu0 / (8 pi).
  const double f_skin = SkinFrequencyHz(radius_m, resistivity_ohm_m);
  const double f_top = std::max(max_frequency_hz, f_skin / 10);
  Samples samples;
  samples.frequencies_hz = FitGrid(f_skin, f_top);
  samples.dc_resistance_ohm = DcResistancePerMetre(radius_m, resistivity_ohm_m);
  samples.dc_inductance_h = kDcInternalInductanceHPerM;
  for (const double f : samples.frequencies_hz) {
    const std::complex<double> z = InternalImpedancePerMetre(f, radius_m, resistivity_ohm_m);
    samples.resistance_ohm.push_back(z.real());
    samples.inductance_h.push_back(z.imag() / (2 * std::numbers::pi * f));
  }
  samples.inductance_scale_h = samples.inductance_h;
  return LadderOfLength(FitSamples(samples, f_skin, 10 * f_top, kTargetError, kMaxRungs, false),
                        length_m);
}

namespace {

constexpr int kMaxBranchRungs = 24;
// Frequencies a decade at which the proximity correction is computed for a branch fit; between
// them it is interpolated.
constexpr int kProximityPointsPerDecade = 5;

// Cubic Hermite interpolation (Catmull-Rom slopes) of the values `y` at rising knots `x`, at `at`
// within [x.front(), x.back()].
double Interpolate(const std::vector<double>& x, const std::vector<double>& y, double at) {
  const std::size_t n = x.size();
  if (n == 1) return y[0];
  std::size_t k = 0;
  while (k + 2 < n && at > x[k + 1]) ++k;
  const double h = x[k + 1] - x[k];
  const double t = std::clamp((at - x[k]) / h, 0.0, 1.0);
  auto slope = [&](std::size_t i) {
    const std::size_t lo = i == 0 ? 0 : i - 1, hi = i + 1 == n ? i : i + 1;
    return (y[hi] - y[lo]) / (x[hi] - x[lo]);
  };
  const double t2 = t * t, t3 = t2 * t;
  return (2 * t3 - 3 * t2 + 1) * y[k] + (t3 - 2 * t2 + t) * h * slope(k) +
         (-2 * t3 + 3 * t2) * y[k + 1] + (t3 - t2) * h * slope(k + 1);
}

}  // namespace

BranchLadders FitBranchLadders(const Model& model, const std::vector<std::size_t>& in_parallel,
                               double target_error, bool partial) {
  BranchLadders out;
  out.of_wire.resize(model.conductors.size());
  for (const FrequencyResult& r : model.results) out.top_hz = std::max(out.top_hz, r.frequency_hz);
  double f_low = 0, f_high = 0;
  for (std::size_t w = 0; w < model.conductors.size(); ++w) {
    if (in_parallel[w] == 0) continue;
    const Conductor& c = model.conductors[w];
    const double f_skin = SkinFrequencyHz(c.radius_m, c.resistivity_ohm_m);
    f_low = f_low == 0 ? f_skin / 10 : std::min(f_low, f_skin / 10);
    f_high = std::max({f_high, out.top_hz, f_skin / 10});
  }
  if (f_high == 0) return out;
  // The loop proximity correction at log-spaced knots over the whole band of the fits.
  std::vector<double> knots_hz;
  const int knots =
      std::max(2, int(std::ceil(kProximityPointsPerDecade * std::log10(f_high / f_low))) + 1);
  for (int k = 0; k < knots; ++k) {
    knots_hz.push_back(f_low * std::pow(f_high / f_low, double(k) / (knots - 1)));
  }
  const ProximityResult proximity =
      ComputeProximity(model.conductors, model.options.ground_depth_m, knots_hz, model.coincident);
  std::vector<double> log_knots;
  for (const double f : knots_hz) log_knots.push_back(std::log(f));

  for (std::size_t w = 0; w < model.conductors.size(); ++w) {
    if (in_parallel[w] == 0) continue;
    const Conductor& c = model.conductors[w];
    const auto parallel = static_cast<double>(in_parallel[w]);
    // The wire's own Bessel impedance.
    auto own = [&](double f) {
      return InternalImpedancePerMetre(f, c.radius_m, c.resistivity_ohm_m) * c.length_m;
    };
    // The correction's own terms as fractions of the wire's resistance: u = dR / R(f) and
    // v = omega dL / R(f), smooth in log f (u rises as f^2 from 0 to a constant, v as f^3 to a
    // rise with sqrt(f)); below the first knot they follow those powers.
    std::vector<double> u, v;
    for (std::size_t k = 0; k < knots_hz.size(); ++k) {
      const double r_ohm = own(knots_hz[k]).real();
      const double omega = 2 * std::numbers::pi * knots_hz[k];
      const ProximityCorrection& knot = partial ? proximity.partial[k] : proximity.loop[k];
      u.push_back(CorrectionAt(knot.delta_resistance_ohm, w, w) / r_ohm);
      v.push_back(omega * CorrectionAt(knot.delta_inductance_h, w, w) / r_ohm);
    }
    auto target = [&](double f, double& r_ohm, double& l_h, double& l_scale_h) {
      const std::complex<double> z = own(f);
      const double omega = 2 * std::numbers::pi * f;
      double fu = 0, fv = 0;
      if (f < knots_hz.front()) {
        const double x = f / knots_hz.front();
        fu = u.front() * x * x, fv = v.front() * x * x * x;
      } else {
        fu = Interpolate(log_knots, u, std::log(f)), fv = Interpolate(log_knots, v, std::log(f));
      }
      r_ohm = z.real() / parallel + fu * z.real();
      l_scale_h = z.imag() / omega / parallel;
      l_h = l_scale_h + fv * z.real() / omega;
      l_scale_h = std::max(l_scale_h, std::abs(l_h));
    };
    const double f_skin = SkinFrequencyHz(c.radius_m, c.resistivity_ohm_m);
    const double f_top = std::max(out.top_hz, f_skin / 10);
    Samples samples;
    samples.frequencies_hz = FitGrid(f_skin, f_top);
    samples.dc_resistance_ohm = DcResistanceOhm(c) / parallel;
    samples.dc_inductance_h = kDcInternalInductanceHPerM * c.length_m / parallel;
    for (const double f : samples.frequencies_hz) {
      double r_ohm = 0, l_h = 0, l_scale_h = 0;
      target(f, r_ohm, l_h, l_scale_h);
      samples.resistance_ohm.push_back(r_ohm);
      samples.inductance_h.push_back(l_h);
      samples.inductance_scale_h.push_back(l_scale_h);
    }
    InternalLadder ladder =
        FitSamples(samples, f_skin, 10 * f_top, target_error, kMaxBranchRungs, true);
    // The model's own frequencies, where the correction is known without interpolation.
    for (const FrequencyResult& r : model.results) {
      if (!(r.frequency_hz > 0)) continue;
      const double omega = 2 * std::numbers::pi * r.frequency_hz;
      const ProximityCorrection& own_terms = partial ? r.proximity_partial : r.proximity_loop;
      const double r_ohm =
          r.resistance_ohm[w] / parallel + CorrectionAt(own_terms.delta_resistance_ohm, w, w);
      const double l_h =
          r.internal_inductance_h[w] / parallel + CorrectionAt(own_terms.delta_inductance_h, w, w);
      const double l_scale_h = std::max(r.internal_inductance_h[w] / parallel, std::abs(l_h));
      const std::complex<double> z = ladder.Impedance(r.frequency_hz);
      ladder.max_error = std::max({ladder.max_error, std::abs(z.real() / r_ohm - 1),
                                   std::abs((z.imag() / omega - l_h) / l_scale_h)});
    }
    out.max_error = std::max(out.max_error, ladder.max_error);
    out.of_wire[w] = std::move(ladder);
  }
  return out;
}

}  // namespace ostrel::physical
