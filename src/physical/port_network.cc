// The coupled ladders of the bond wires as a network of ports: admittance and scattering.

#include "physical/port_network.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <string>

#include "base/stage_error.h"
#include "physical/coupling.h"
#include "physical/model_selection.h"

namespace ostrel::physical {
namespace {

using Complex = std::complex<double>;
using Eigen::MatrixXcd;

// Phase of one ladder section at the highest frequency (rad), and the bound on the count.
constexpr double kSectionPhase_rad = 0.1;
constexpr std::size_t kMaxSections = 64;

std::string Number(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.12g", value == 0 ? 0.0 : value);
  return buffer;
}

// Y of two 2N-ports in cascade, the right nodes of `a` joined to the left nodes of `b`:
// with a = [[A1, B1], [C1, D1]] and b = [[A2, B2], [C2, D2]] and X = (D1 + A2)^-1, the joined
// nodes eliminated give [[A1 - B1 X C1, -B1 X B2], [-C2 X C1, D2 - C2 X B2]].
MatrixXcd Cascade(const MatrixXcd& a, const MatrixXcd& b) {
  const Eigen::Index n = a.rows() / 2;
  const Eigen::PartialPivLU<MatrixXcd> x(a.bottomRightCorner(n, n) + b.topLeftCorner(n, n));
  const MatrixXcd x_c1 = x.solve(a.bottomLeftCorner(n, n));
  const MatrixXcd x_b2 = x.solve(b.topRightCorner(n, n));
  MatrixXcd y(2 * n, 2 * n);
  y.topLeftCorner(n, n) = a.topLeftCorner(n, n) - a.topRightCorner(n, n) * x_c1;
  y.topRightCorner(n, n) = -a.topRightCorner(n, n) * x_b2;
  y.bottomLeftCorner(n, n) = -b.bottomLeftCorner(n, n) * x_c1;
  y.bottomRightCorner(n, n) = b.bottomRightCorner(n, n) - b.bottomLeftCorner(n, n) * x_b2;
  return y;
}

}  // namespace

std::size_t LadderSections(const Model& model) {
  if (!model.capacitance_f || model.results.empty()) return 1;
  std::size_t top = 0;
  for (std::size_t k = 1; k < model.results.size(); ++k) {
    if (model.results[k].frequency_hz > model.results[top].frequency_hz) top = k;
  }
  const FrequencyResult& r = model.results[top];
  double phase_rad = 0;
  for (std::size_t i = 0; i < model.conductors.size(); ++i) {
    const double l_h = model.loop_inductance_h.At(i, i) + r.internal_inductance_h[i];
    const double c_f = model.capacitance_f->At(i, i);
    // Electrical length of the wire as a line: beta l = omega sqrt(L C).
    phase_rad = std::max(phase_rad, 2 * std::numbers::pi * r.frequency_hz * std::sqrt(l_h * c_f));
  }
  const double count = std::ceil(phase_rad / kSectionPhase_rad);
  return static_cast<std::size_t>(std::clamp(count, 1.0, double(kMaxSections)));
}

namespace {

// Admittance of the 2N wire ends, the pad ends first (node i) and the finger ends after (node
// N + i), referenced to the plane: each wire `sections` equal pi sections of the loop matrices
// or, with `partial`, of the partial ones (the wires alone, no plane in the series impedance).
MatrixXcd LadderAdmittance(const Model& model, std::size_t k, std::size_t sections,
                           double loss_tangent, bool partial) {
  const FrequencyResult& r = model.results.at(k);
  const Eigen::Index n = static_cast<Eigen::Index>(model.conductors.size());
  const double omega = 2 * std::numbers::pi * r.frequency_hz;
  const double m = static_cast<double>(sections);
  const SymmetricMatrix& external = partial ? *model.partial_inductance_h : model.loop_inductance_h;
  const ProximityCorrection& proximity = partial ? r.proximity_partial : r.proximity_loop;
  MatrixXcd z_series(n, n), y_shunt = MatrixXcd::Zero(n, n);
  for (Eigen::Index i = 0; i < n; ++i) {
    for (Eigen::Index j = 0; j < n; ++j) {
      const auto ui = static_cast<std::size_t>(i), uj = static_cast<std::size_t>(j);
      // Series: Z = R(f) + j omega (L_int(f) + L_ext) per wire, j omega L_ext between wires,
      // plus the proximity correction dR + j omega dL in full (mutual resistance too).
      double l_h = external.At(ui, uj) + CorrectionAt(proximity.delta_inductance_h, ui, uj);
      double r_ohm = CorrectionAt(proximity.delta_resistance_ohm, ui, uj);
      if (i == j) {
        l_h += r.internal_inductance_h[ui];
        r_ohm += r.resistance_ohm[ui];
      }
      z_series(i, j) = Complex(r_ohm, omega * l_h) / m;
      // Shunt: Y = (omega tan(delta) + j omega) C, the Maxwell matrix being the nodal one.
      if (!model.capacitance_f) continue;
      const double c_f = model.capacitance_f->At(ui, uj);
      y_shunt(i, j) = Complex(omega * loss_tangent * c_f, omega * c_f) / m;
    }
  }
  const Eigen::PartialPivLU<MatrixXcd> lu(z_series);
  if (!(std::abs(lu.determinant()) > 0)) {
    throw StageError("a ladder section of the wires has no impedance at " + Number(r.frequency_hz) +
                     " Hz");
  }
  const MatrixXcd y_branch = lu.inverse();
  MatrixXcd section(2 * n, 2 * n);
  section.topLeftCorner(n, n) = y_branch + y_shunt / 2.0;
  section.bottomRightCorner(n, n) = y_branch + y_shunt / 2.0;
  section.topRightCorner(n, n) = -y_branch;
  section.bottomLeftCorner(n, n) = -y_branch;
  MatrixXcd y = section;
  for (std::size_t s = 1; s < sections; ++s) y = Cascade(y, section);
  return y;
}

}  // namespace

MatrixXcd PortAdmittance(const Model& model, std::size_t k, std::size_t sections,
                         double loss_tangent) {
  if (!model.capacitance_f) {
    throw StageError(
        "S-parameters need the capacitance matrix, which a ground plane at depth 0 or "
        "--no-capacitance leaves out; give --ground-depth above 0 without --no-capacitance");
  }
  const MatrixXcd y = LadderAdmittance(model, k, sections, loss_tangent, false);
  const Eigen::Index n = y.rows() / 2;
  // Interleave: port 2i is wire i's pad end (left node), 2i + 1 its finger end (right node).
  MatrixXcd ports(2 * n, 2 * n);
  for (Eigen::Index a = 0; a < 2 * n; ++a) {
    for (Eigen::Index b = 0; b < 2 * n; ++b) {
      ports(a, b) = y((a % 2) * n + a / 2, (b % 2) * n + b / 2);
    }
  }
  return ports;
}

MatrixXcd ReturnPortAdmittance(const Model& model, std::size_t k, std::size_t sections,
                               double loss_tangent) {
  if (!model.options.return_wires || !model.partial_inductance_h) {
    throw StageError("ports through the ground wires need them and the partial inductance matrix");
  }
  const std::vector<std::size_t>& signals = model.options.return_wires->signal_wires;
  const std::vector<std::size_t>& ground = model.options.return_wires->ground;
  if (signals.size() + ground.size() < model.conductors.size()) {
    // A wire in neither set (a ground stitch between the die grids) carries no current: left
    // open, out of the network.
    std::vector<std::size_t> used = signals;
    used.insert(used.end(), ground.begin(), ground.end());
    std::sort(used.begin(), used.end());
    return ReturnPortAdmittance(SelectWires(model, used), k, sections, loss_tangent);
  }
  const MatrixXcd y = LadderAdmittance(model, k, sections, loss_tangent, true);
  const Eigen::Index n = y.rows() / 2, s = Eigen::Index(signals.size());
  // Node map: each signal's two ends stay (2a, 2a + 1); the ground wires' pad ends become one
  // node D (2s); their finger ends join the substrate, the plane's potential: the reference.
  constexpr Eigen::Index kReference = -1;
  std::vector<Eigen::Index> to(std::size_t(2 * n), kReference);
  for (Eigen::Index a = 0; a < s; ++a) {
    to[signals[std::size_t(a)]] = 2 * a;
    to[std::size_t(n) + signals[std::size_t(a)]] = 2 * a + 1;
  }
  for (const std::size_t g : ground) to[g] = 2 * s;
  MatrixXcd nodes = MatrixXcd::Zero(2 * s + 1, 2 * s + 1);
  for (Eigen::Index a = 0; a < 2 * n; ++a) {
    if (to[std::size_t(a)] == kReference) continue;
    for (Eigen::Index b = 0; b < 2 * n; ++b) {
      if (to[std::size_t(b)] != kReference)
        nodes(to[std::size_t(a)], to[std::size_t(b)]) += y(a, b);
    }
  }
  // Referenced to D instead: the indefinite matrix over the nodes and the substrate (rows and
  // columns summing to zero), D's row and column struck out; the substrate is the last port.
  MatrixXcd indefinite(2 * s + 2, 2 * s + 2);
  indefinite.topLeftCorner(2 * s + 1, 2 * s + 1) = nodes;
  indefinite.topRightCorner(2 * s + 1, 1) = -nodes.rowwise().sum();
  indefinite.bottomLeftCorner(1, 2 * s + 1) = -nodes.colwise().sum();
  indefinite(2 * s + 1, 2 * s + 1) = nodes.sum();
  MatrixXcd ports(2 * s + 1, 2 * s + 1);
  const auto kept = [s](Eigen::Index a) { return a < 2 * s ? a : a + 1; };
  for (Eigen::Index a = 0; a <= 2 * s; ++a) {
    for (Eigen::Index b = 0; b <= 2 * s; ++b) ports(a, b) = indefinite(kept(a), kept(b));
  }
  return ports;
}

MatrixXcd ScatteringFromAdmittance(const MatrixXcd& y, double z0_ohm) {
  const MatrixXcd identity = MatrixXcd::Identity(y.rows(), y.cols());
  return (identity + z0_ohm * y).partialPivLu().solve(identity - z0_ohm * y);
}

}  // namespace ostrel::physical
