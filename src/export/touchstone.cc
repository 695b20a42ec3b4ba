// Touchstone S-parameters of the bond wires as coupled ladders.

#include "export/touchstone.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "base/stage_error.h"
#include "physical/memory_budget.h"
#include "base/name_patterns.h"

namespace ostrel {
namespace {

using Complex = std::complex<double>;
using Eigen::MatrixXcd;

// Phase of one ladder section at the highest frequency (rad), and the bounds on the count.
constexpr double kSectionPhase_rad = 0.1;
constexpr std::size_t kMaxSections = 64;
constexpr double kReferenceImpedance_ohm = 50;

// Printable ASCII of `text` (anything else as '?'): Touchstone files are ASCII.
std::string AsciiText(const std::string& text) {
  std::string out;
  for (const char c : text) out += c >= ' ' && c <= '~' ? c : '?';
  return out;
}

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

std::size_t LadderSections(const physical::Model& model) {
  if (!model.capacitance_f || model.results.empty()) return 1;
  std::size_t top = 0;
  for (std::size_t k = 1; k < model.results.size(); ++k) {
    if (model.results[k].frequency_hz > model.results[top].frequency_hz) top = k;
  }
  const physical::FrequencyResult& r = model.results[top];
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

MatrixXcd PortAdmittance(const physical::Model& model, std::size_t k, std::size_t sections,
                         double loss_tangent) {
  if (!model.capacitance_f) {
    throw StageError(
        "S-parameters need the capacitance matrix, which a ground plane at depth 0 or "
        "--no-capacitance leaves out; give --ground-depth above 0 without --no-capacitance");
  }
  const physical::FrequencyResult& r = model.results.at(k);
  const Eigen::Index n = static_cast<Eigen::Index>(model.conductors.size());
  const double omega = 2 * std::numbers::pi * r.frequency_hz;
  const double m = static_cast<double>(sections);
  MatrixXcd z_series(n, n), y_shunt(n, n);
  for (Eigen::Index i = 0; i < n; ++i) {
    for (Eigen::Index j = 0; j < n; ++j) {
      const auto ui = static_cast<std::size_t>(i), uj = static_cast<std::size_t>(j);
      // Series: Z = R(f) + j omega (L_int(f) + L_loop) per wire, j omega L_loop between wires.
      double l_h = model.loop_inductance_h.At(ui, uj);
      double r_ohm = 0;
      if (i == j) {
        l_h += r.internal_inductance_h[ui];
        r_ohm = r.resistance_ohm[ui];
      }
      z_series(i, j) = Complex(r_ohm, omega * l_h) / m;
      // Shunt: Y = (omega tan(delta) + j omega) C, the Maxwell matrix being the nodal one.
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
  // Interleave: port 2i is wire i's pad end (left node), 2i + 1 its finger end (right node).
  MatrixXcd ports(2 * n, 2 * n);
  for (Eigen::Index a = 0; a < 2 * n; ++a) {
    for (Eigen::Index b = 0; b < 2 * n; ++b) {
      ports(a, b) = y((a % 2) * n + a / 2, (b % 2) * n + b / 2);
    }
  }
  return ports;
}

MatrixXcd ScatteringFromAdmittance(const MatrixXcd& y, double z0_ohm) {
  const MatrixXcd identity = MatrixXcd::Identity(y.rows(), y.cols());
  return (identity + z0_ohm * y).partialPivLu().solve(identity - z0_ohm * y);
}

std::string TouchstoneExtension(std::size_t ports) {
  return ".s" + std::to_string(ports) + "p";
}

double TouchstoneBytes(std::size_t ports, std::size_t frequencies) {
  constexpr double kEntryBytes = 48;
  const double p = static_cast<double>(ports);
  return kEntryBytes * p * p * static_cast<double>(frequencies);
}

TouchstoneFile TouchstoneText(const TouchstoneInfo& info, const physical::Model& model,
                              const physical::Progress& progress) {
  const std::size_t ports = 2 * model.conductors.size();
  if (ports > kMaxTouchstonePorts) {
    throw StageError("a Touchstone file of " + std::to_string(model.conductors.size()) +
                     " wires would have " + std::to_string(ports) + " ports, more than the " +
                     std::to_string(kMaxTouchstonePorts) +
                     " a simulator loads; choose wires by name with --nets PATTERN[,PATTERN]");
  }
  if (ports == 0) throw StageError("no wire for a Touchstone file");
  // Per frequency: the n x n series and shunt matrices and the branch admittance, and about four
  // 2n x 2n section, cascade and port matrices alive at once, complex doubles.
  const std::size_t wires = model.conductors.size();
  physical::CheckDenseFits(3 * physical::DenseBytes(wires, wires, sizeof(Complex)) +
                               4 * physical::DenseBytes(ports, ports, sizeof(Complex)),
                           "the S-parameters of " + std::to_string(wires) + " wires");
  if (!(info.loss_tangent >= 0 && info.loss_tangent < 1)) {
    throw StageError("the loss tangent must be at least 0 and below 1");
  }
  TouchstoneFile file;
  file.sections = LadderSections(model);
  std::string& out = file.text;
  out += "! S-parameters of the bond wires of " + AsciiText(info.package_name) + " (settings " +
         AsciiText(info.settings_name) + "), estimated by Ostrel\n";
  out += "! The model covers the bond wires only, not the substrate traces, vias or balls.\n";
  out += "! Each wire: " + std::to_string(file.sections) +
         " coupled pi sections with its exact R(f) and internal inductance L_int(f), the loop\n";
  out += "! inductance matrix over a perfect ground plane " +
         Number(model.options.ground_depth_m * 1e6) +
         " um below the substrate surface and the Maxwell\n";
  out += "! capacitance matrix, relative permittivity " + Number(model.options.eps_r) +
         ", dielectric loss tangent " + Number(info.loss_tangent) + ".\n";
  out += "! Ports referenced to the ground plane, 50 Ohm:\n";
  for (std::size_t i = 0; i < model.conductors.size(); ++i) {
    out += "!   port " + std::to_string(2 * i + 1) + ": pad end of wire " +
           AsciiText(model.conductors[i].name) + "; port " + std::to_string(2 * i + 2) +
           ": its finger (or landing pad) end\n";
  }
  for (const std::string& note : model.notes) out += "! " + AsciiText(note) + "\n";
  out += "# HZ S RI R 50\n";

  std::vector<std::size_t> order(model.results.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return model.results[a].frequency_hz < model.results[b].frequency_hz;
  });
  double last_hz = -1;
  for (std::size_t done = 0; done < order.size(); ++done) {
    if (progress.report) {
      progress.report("Touchstone", static_cast<double>(done) / static_cast<double>(order.size()));
    }
    const std::size_t k = order[done];
    const double f_hz = model.results[k].frequency_hz;
    if (f_hz == last_hz) continue;
    last_hz = f_hz;
    const MatrixXcd s = ScatteringFromAdmittance(
        PortAdmittance(model, k, file.sections, info.loss_tangent), kReferenceImpedance_ohm);
    const auto n = static_cast<Eigen::Index>(ports);
    auto pair = [&](Eigen::Index a, Eigen::Index b) {
      return Number(s(a, b).real()) + " " + Number(s(a, b).imag());
    };
    if (n == 2) {
      // Two-port files keep the order S11 S21 S12 S22 on one line.
      out += Number(f_hz) + " " + pair(0, 0) + " " + pair(1, 0) + " " + pair(0, 1) + " " +
             pair(1, 1) + "\n";
      continue;
    }
    // Row by row, each row on new lines of at most four pairs; the frequency leads the first.
    for (Eigen::Index a = 0; a < n; ++a) {
      for (Eigen::Index b = 0; b < n; ++b) {
        if (b % 4 == 0) out += a == 0 && b == 0 ? Number(f_hz) : std::string(" ");
        out += ' ';
        out += pair(a, b);
        if (b % 4 == 3 || b == n - 1) out += "\n";
      }
    }
  }
  return file;
}

}  // namespace ostrel
