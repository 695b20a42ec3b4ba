// Touchstone S-parameters of the bond wires as coupled ladders.

#include "export/touchstone.h"

#include <algorithm>
#include <complex>
#include <cstdio>
#include <optional>

#include "base/stage_error.h"
#include "physical/memory_budget.h"
#include "physical/port_network.h"

namespace ostrel {
namespace {

using Complex = std::complex<double>;
using Eigen::MatrixXcd;

// Reference impedance of every port.
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

}  // namespace

std::string TouchstoneExtension(std::size_t ports) { return ".s" + std::to_string(ports) + "p"; }

double TouchstoneBytes(std::size_t ports, std::size_t frequencies) {
  constexpr double kEntryBytes = 48;
  const double p = static_cast<double>(ports);
  return kEntryBytes * p * p * static_cast<double>(frequencies);
}

TouchstoneFile TouchstoneText(const TouchstoneInfo& info, const physical::Model& model,
                              const physical::Progress& progress) {
  const std::optional<physical::ReturnWires>& returns = model.options.return_wires;
  const std::size_t ports =
      returns ? 2 * returns->signal_wires.size() + 1 : 2 * model.conductors.size();
  if (ports > kMaxTouchstonePorts) {
    throw StageError("a Touchstone file of " + std::to_string(ports / 2) + " wires would have " +
                     std::to_string(ports) + " ports, more than the " +
                     std::to_string(kMaxTouchstonePorts) +
                     " a simulator loads; choose wires by name with --nets PATTERN[,PATTERN]");
  }
  if (ports == 0 || ports == 1) throw StageError("no wire for a Touchstone file");
  // Per frequency: the n x n series and shunt matrices and the branch admittance, and about four
  // 2n x 2n section, cascade and port matrices alive at once, complex doubles.
  const std::size_t wires = model.conductors.size();
  physical::CheckDenseFits(
      3 * physical::DenseBytes(wires, wires, sizeof(Complex)) +
          4 * physical::DenseBytes(std::max(ports, 2 * wires), std::max(ports, 2 * wires),
                                   sizeof(Complex)),
      "the S-parameters of " + std::to_string(wires) + " wires");
  if (!(info.loss_tangent >= 0 && info.loss_tangent < 1)) {
    throw StageError("the loss tangent must be at least 0 and below 1");
  }
  TouchstoneFile file;
  file.sections = physical::LadderSections(model);
  std::string& out = file.text;
  out += "! S-parameters of the bond wires of " + AsciiText(info.package_name) + " (settings " +
         AsciiText(info.settings_name) + "), estimated by Ostrel\n";
  out += "! The model covers the bond wires only, not the substrate traces, vias or balls.\n";
  if (returns) {
    out += "! Each wire: " + std::to_string(file.sections) +
           " coupled pi sections with its exact R(f) and internal inductance L_int(f), the\n";
    out += "! partial inductance matrix of the wires alone with its proximity correction, mutual\n";
    out += "! resistance included";
    out += model.capacitance_f ? ", and the Maxwell capacitance matrix over a ground plane " +
                                     Number(model.options.ground_depth_m * 1e6) +
                                     " um below\n! the substrate surface, joined to the substrate, "
                                     "relative permittivity " +
                                     Number(model.options.eps_r) + ", loss tangent " +
                                     Number(info.loss_tangent) + ".\n"
                               : "; no capacitance.\n";
    out += "! The current returns through the ground wires:";
    for (const std::size_t g : returns->ground) {
      out += ' ';
      out += AsciiText(model.conductors[g].name);
    }
    out += ";\n! their pad ends joined (the die's ground, the reference of every port) and their\n";
    out += "! finger ends joined (the substrate's ground). Ports, 50 Ohm:\n";
    for (std::size_t a = 0; a < returns->signal_wires.size(); ++a) {
      out += "!   port " + std::to_string(2 * a + 1) + ": pad end of wire " +
             AsciiText(model.conductors[returns->signal_wires[a]].name) + "; port " +
             std::to_string(2 * a + 2) + ": its finger (or landing pad) end\n";
    }
    out += "!   port " + std::to_string(ports) + ": the substrate's ground\n";
  } else {
    out += "! Each wire: " + std::to_string(file.sections) +
           " coupled pi sections with its exact R(f) and internal inductance L_int(f), the loop\n";
    out += "! inductance matrix over a perfect ground plane " +
           Number(model.options.ground_depth_m * 1e6) +
           " um below the substrate surface and the Maxwell\n";
    out += "! capacitance matrix, relative permittivity " + Number(model.options.eps_r) +
           ", dielectric loss tangent " + Number(info.loss_tangent) + ".\n";
    out +=
        "! Series impedance with the loop proximity correction of close wires at each frequency,\n";
    out += "! mutual resistance included.\n";
    out += "! Ports referenced to the ground plane, 50 Ohm:\n";
    for (std::size_t i = 0; i < model.conductors.size(); ++i) {
      out += "!   port " + std::to_string(2 * i + 1) + ": pad end of wire " +
             AsciiText(model.conductors[i].name) + "; port " + std::to_string(2 * i + 2) +
             ": its finger (or landing pad) end\n";
    }
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
    const MatrixXcd s = physical::ScatteringFromAdmittance(
        returns ? physical::ReturnPortAdmittance(model, k, file.sections, info.loss_tangent)
                : physical::PortAdmittance(model, k, file.sections, info.loss_tangent),
        kReferenceImpedance_ohm);
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
