// The IBIS package model of the bond wires.

#include "export/ibis_package.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

#include "base/name_patterns.h"
#include "base/stage_error.h"
#include "ostrel/version.h"

namespace ostrel {
namespace {

// IBIS limits: a line holds at most 80 characters in every IBIS version (later ones allow 120),
// a pin name 5, a model name and the file name 40.
constexpr std::size_t kMaxLine = 80;
constexpr std::size_t kMaxPinName = 5;
constexpr std::size_t kMaxName = 40;
// Finger ends closer than this (metres) are taken as one finger.
constexpr double kSameFinger_m = 0.5e-6;

bool IsPinCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsValidPinName(const std::string& name) {
  return !name.empty() && name.size() <= kMaxPinName &&
         std::all_of(name.begin(), name.end(), IsPinCharacter);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Letters, digits, '_' and '-' of `text`, others as '_', cut to 40 characters; printable ASCII
// only, whatever the package file holds.
std::string AsciiName(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += IsPinCharacter(c) || c == '-' ? c : '_';
    if (out.size() == kMaxName) break;
  }
  return out.empty() ? std::string("package") : out;
}

// Printable ASCII of `text` for the free-text keywords: anything else, and the comment
// character '|', as '?'.
std::string AsciiText(const std::string& text) {
  std::string out;
  for (const char c : text) out += c >= ' ' && c <= '~' && c != '|' ? c : '?';
  return out;
}

// A number with the IBIS scale suffix that puts it in [1, 1000): 46.93215m, 0 for zero.
std::string IbisNumber(double value) {
  static constexpr struct {
    double scale;
    const char* suffix;
  } kScales[] = {{1e6, "M"},  {1e3, "k"},  {1, ""},      {1e-3, "m"},
                 {1e-6, "u"}, {1e-9, "n"}, {1e-12, "p"}, {1e-15, "f"}};
  if (value == 0) return "0";
  if (!std::isfinite(value)) throw StageError("a package model figure is not a finite number");
  const double magnitude = std::fabs(value);
  std::size_t k = 0;
  while (k + 1 < std::size(kScales) && magnitude < kScales[k].scale) ++k;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.7g%s", value / kScales[k].scale, kScales[k].suffix);
  return buffer;
}

// Appends `text` as comment lines ("| " and words up to 80 characters).
void AppendComment(std::string& out, const std::string& text, const char* lead = "| ") {
  std::string line = lead;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(pos, end - pos);
    pos = end + 1;
    if (word.size() > kMaxLine - 2) word = word.substr(0, kMaxLine - 5) + "...";
    if (line.size() > 2 && line.size() + 1 + word.size() > kMaxLine) {
      out += line + "\n";
      line = lead;
    }
    if (line.size() > 2) line += ' ';
    line += word;
  }
  out += line + "\n";
}

// Appends `text` under a text keyword (no leading '|', continuation lines indented).
void AppendText(std::string& out, const std::string& keyword, const std::string& text) {
  std::string body;
  AppendComment(body, text, "  ");
  body.erase(0, 2);  // the first line follows the keyword
  // The keyword and the first line share a line: wrap again if that line is too long.
  const std::size_t first_end = body.find('\n');
  if (keyword.size() + 1 + first_end <= kMaxLine) {
    out += keyword + " " + body;
  } else {
    out += keyword + "\n  " + body;
  }
}

// A symmetric matrix in pin order, its upper triangle kept row by row: for pin i the non-zero
// entries (j >= i, value) by increasing j, the diagonal always. Memory grows with the entries
// kept, not with the square of the pin count.
using UpperRows = std::vector<std::vector<std::pair<std::size_t, double>>>;

// The model's matrix `m` (wire indices) in pin order, plus `diagonal_add` on the diagonal.
UpperRows PinOrderRows(const physical::SymmetricMatrix& m, const std::vector<IbisPin>& pins,
                       const std::vector<double>& diagonal_add) {
  std::vector<std::size_t> position(m.n, pins.size());
  for (std::size_t k = 0; k < pins.size(); ++k) position[pins[k].wire] = k;
  UpperRows rows(pins.size());
  for (std::size_t k = 0; k < pins.size(); ++k) rows[k].push_back({k, diagonal_add[k]});
  auto add = [&](std::size_t wi, std::size_t wj, double value) {
    std::size_t a = position[wi], b = position[wj];
    if (a == pins.size() || b == pins.size() || value == 0) return;
    if (a > b) std::swap(a, b);
    if (a == b) {
      rows[a][0].second += value;
    } else {
      rows[a].push_back({b, value});
    }
  };
  if (m.dense) {
    for (std::size_t i = 0; i < m.n; ++i) {
      for (std::size_t j = 0; j <= i; ++j) add(i, j, m.values[i * m.n + j]);
    }
  } else {
    for (const auto& e : m.entries) add(e.i, e.j, e.value);
  }
  for (auto& row : rows) std::sort(row.begin() + 1, row.end());
  return rows;
}

// A matrix in pin order under its keyword: Banded_matrix with the bandwidth of its farthest
// non-zero entry when the band holds at most twice as many entries as the non-zero ones of the
// upper triangle, Sparse_matrix otherwise.
void AppendMatrix(std::string& out, const char* keyword, const UpperRows& rows,
                  const std::vector<IbisPin>& pins) {
  const std::size_t n = rows.size();
  std::size_t band = 0, non_zero = 0;
  for (std::size_t i = 0; i < n; ++i) {
    band = std::max(band, rows[i].back().first - i);
    non_zero += rows[i].size();
  }
  const std::size_t band_entries = n * (band + 1) - band * (band + 1) / 2;
  const bool banded = band_entries <= 2 * non_zero;
  out += std::string(keyword) + (banded ? " Banded_matrix\n" : " Sparse_matrix\n");
  if (banded) out += "[Bandwidth] " + std::to_string(band) + "\n";
  for (std::size_t i = 0; i < n; ++i) {
    out += "[Row] " + pins[i].name + "\n";
    if (!banded) {
      for (const auto& [j, value] : rows[i]) out += pins[j].name + " " + IbisNumber(value) + "\n";
      continue;
    }
    std::string line;
    auto next = rows[i].begin();
    for (std::size_t j = i; j < n && j <= i + band; ++j) {
      double value = 0;
      if (next != rows[i].end() && next->first == j) value = (next++)->second;
      const std::string text = IbisNumber(value);
      if (!line.empty() && line.size() + 1 + text.size() > kMaxLine) {
        out += line + "\n";
        line.clear();
      }
      line += (line.empty() ? "" : " ") + text;
    }
    out += line + "\n";
  }
}

std::string JoinedNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

std::string FormatHz(double hz) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.6g Hz", hz);
  return buffer;
}

}  // namespace

std::vector<IbisPin> IbisPins(const physical::Model& model) {
  const auto& wires = model.conductors;
  std::vector<std::size_t> order;
  double cx = 0, cy = 0;
  for (std::size_t w = 0; w < wires.size(); ++w) {
    if (wires[w].kind == WireKind::kStitch || wires[w].path_m.empty()) continue;
    order.push_back(w);
    cx += wires[w].path_m.back().x;
    cy += wires[w].path_m.back().y;
  }
  if (order.empty()) return {};
  cx /= static_cast<double>(order.size());
  cy /= static_cast<double>(order.size());
  // Angle from the lower left corner direction (-135 degrees), counter-clockwise, in [0, 2 pi).
  auto angle = [&](std::size_t w) {
    const physical::Point3& end = wires[w].path_m.back();
    double a = std::atan2(end.y - cy, end.x - cx) + 0.75 * std::numbers::pi;
    if (a < 0) a += 2 * std::numbers::pi;
    return a;
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return angle(a) < angle(b); });

  std::vector<IbisPin> pins(order.size());
  std::set<std::string> taken;  // lower case
  for (std::size_t k = 0; k < order.size(); ++k) {
    pins[k].wire = order[k];
    const std::string& name = wires[order[k]].name;
    if (IsValidPinName(name) && taken.insert(Lower(name)).second) pins[k].name = name;
  }
  for (std::size_t k = 0; k < order.size(); ++k) {
    if (!pins[k].name.empty()) continue;
    for (std::size_t number = k + 1;; ++number) {
      const std::string candidate = std::to_string(number);
      if (candidate.size() > kMaxPinName) {
        throw StageError("too many wires for IBIS pin names of at most 5 characters");
      }
      if (taken.insert(candidate).second) {
        pins[k].name = candidate;
        pins[k].renamed = true;
        break;
      }
    }
  }
  return pins;
}

IbisPackage IbisPackageText(const IbisPackageInfo& info, const physical::Model& model) {
  const std::string& file = info.file_name;
  const bool file_ok =
      !file.empty() && file.size() <= kMaxName && file.size() > 4 &&
      file.compare(file.size() - 4, 4, ".pkg") == 0 &&
      std::all_of(file.begin(), file.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
      });
  if (!file_ok) {
    throw StageError("the IBIS package model file name " + file +
                     " must be lower case (letters, digits, '_', '-', '.'), at most 40 "
                     "characters, ending in .pkg");
  }
  if (!model.capacitance_f) {
    throw StageError(
        "the IBIS package model needs the capacitance matrix, which a ground plane at depth 0 "
        "or --no-capacitance leaves out; give --ground-depth above 0 without --no-capacitance");
  }
  if (model.results.empty()) throw StageError("the physical model has no frequency");
  // Returning through the ground wires, the pins are the signals: the ground wires are their
  // return, folded into the loop matrices.
  const std::optional<physical::ReturnWires>& returns = model.options.return_wires;
  std::vector<IbisPin> pins = IbisPins(model);
  if (returns) {
    std::erase_if(pins, [&](const IbisPin& pin) {
      return !std::binary_search(returns->signal_wires.begin(), returns->signal_wires.end(),
                                 pin.wire);
    });
  }
  if (pins.empty()) throw StageError("no wire reaches the substrate, so no package pin is left");

  const std::size_t n = pins.size();
  const physical::FrequencyResult& first = model.results.front();
  std::vector<double> r_dc(n), l_int(n), none(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    const physical::Conductor& wire = model.conductors[pins[i].wire];
    r_dc[i] = physical::DcResistanceOhm(wire);
    l_int[i] = first.internal_inductance_h[pins[i].wire];
  }
  physical::SymmetricMatrix resistance{model.conductors.size(), false, {}, {}};
  physical::SymmetricMatrix inductance = model.loop_inductance_h;
  std::string ground_names;
  if (returns) {
    // At DC the ground wires share the return by conductance: every loop has its own wire's
    // resistance and, in common with every other, that of the ground wires in parallel.
    double conductance_s = 0;
    for (const std::size_t g : returns->ground) {
      conductance_s += 1 / physical::DcResistanceOhm(model.conductors[g]);
      ground_names += (ground_names.empty() ? "" : ", ") + AsciiText(model.conductors[g].name);
    }
    const physical::ReturnLoop& loop = first.return_loop;
    inductance = {model.conductors.size(), false, {}, {}};
    for (std::size_t a = 0; a < loop.wires.size(); ++a) {
      for (std::size_t b = 0; b <= a; ++b) {
        resistance.entries.push_back({loop.wires[a], loop.wires[b], 1 / conductance_s});
        inductance.entries.push_back({loop.wires[a], loop.wires[b], loop.inductance_h.At(a, b)});
      }
    }
    std::fill(l_int.begin(), l_int.end(), 0.0);  // in the loop's figures already
  }

  std::vector<std::string> stitches;
  for (const auto& wire : model.conductors) {
    if (wire.kind == WireKind::kStitch) stitches.push_back(AsciiText(wire.name));
  }
  std::string model_name = AsciiName(info.package_name.substr(0, info.package_name.rfind('.')));
  model_name = AsciiName(model_name + "_bondwires");

  IbisPackage result;
  std::string& out = result.text;
  out += "[IBIS Ver] 5.1\n";
  out += "[File Name] " + file + "\n";
  out += "[File Rev] 1.0\n";
  out += "[Date] " + info.date.substr(0, kMaxName) + "\n";
  AppendText(out, "[Source]",
             "Ostrel " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
                 std::to_string(kVersionRevision) + ", physical model of the bond wires of " +
                 AsciiText(info.package_name) + " (settings " + AsciiText(info.settings_name) +
                 ").");
  std::string notes =
      "The model covers the bond wires only, not the substrate traces, vias or balls. "
      "Resistance: DC resistance of each wire; IBIS package matrices carry no frequency, so "
      "the skin effect is not in them. Inductance: loop inductance of each wire closed by "
      "vertical connectors to a perfect ground plane " +
      IbisNumber(model.options.ground_depth_m * 1e6) +
      " microns below the substrate surface, plus its internal inductance at " +
      FormatHz(first.frequency_hz) +
      ", the first frequency of the run. Capacitance: Maxwell matrix (negative "
      "off-diagonal entries) over the same plane, relative permittivity " +
      IbisNumber(model.options.eps_r) + ".";
  if (returns) {
    notes =
        "The model covers the bond wires only, not the substrate traces, vias or balls. Each "
        "pin's current returns through the ground wires " +
        ground_names +
        " in parallel (their die ends joined, their substrate ends joined, ideal), which "
        "have no pin. Resistance: DC resistance of the loop, the pin's own wire and, common to "
        "every pin, the ground wires in parallel; IBIS package matrices carry no frequency, so "
        "the skin effect is not in them. Inductance: the loop matrix through the ground wires "
        "at " +
        FormatHz(first.frequency_hz) +
        ", the first frequency of the run, internal inductance included. Capacitance: Maxwell "
        "matrix (negative off-diagonal entries) over a ground plane " +
        IbisNumber(model.options.ground_depth_m * 1e6) +
        " microns below the substrate surface, relative permittivity " +
        IbisNumber(model.options.eps_r) + ".";
  }
  for (const std::string& note : model.notes) notes += " " + AsciiText(note);
  AppendText(out, "[Notes]", notes);
  AppendText(out, "[Disclaimer]",
             "Estimated figures of an idealised geometry; check them against a field "
             "solution or a measurement before sign-off.");
  out += "|\n";
  out += "[Define Package Model] " + model_name + "\n";
  out += "[Manufacturer] Unknown\n";
  out += "[OEM] Unknown\n";
  AppendText(out, "[Description]", "Bond wires of " + AsciiText(info.package_name));
  out += "[Number Of Pins] " + std::to_string(n) + "\n";
  // Pin names and what they stand for.
  std::vector<std::string> renamed;
  for (const IbisPin& pin : pins) {
    if (pin.renamed) {
      renamed.push_back(pin.name + " = wire " + AsciiText(model.conductors[pin.wire].name));
    }
  }
  if (!renamed.empty()) {
    AppendComment(out,
                  "Pins named by number (the wire's name is not a valid or unique pin "
                  "name of 1 to 5 letters, digits or '_'): " +
                      JoinedNames(renamed) + ".");
  }
  if (!stitches.empty()) {
    AppendComment(
        out, "Stitch wires (die to die, no package pin) left out: " + JoinedNames(stitches) + ".");
  }
  // Wires landing on one finger: pins sorted by their finger ends, neighbours in that order
  // closer than kSameFinger_m grouped.
  std::vector<std::size_t> by_end(n);
  for (std::size_t k = 0; k < n; ++k) by_end[k] = k;
  auto end_of = [&](std::size_t k) { return model.conductors[pins[k].wire].path_m.back(); };
  std::sort(by_end.begin(), by_end.end(), [&](std::size_t a, std::size_t b) {
    const physical::Point3 pa = end_of(a), pb = end_of(b);
    return std::tie(pa.x, pa.y, pa.z, a) < std::tie(pb.x, pb.y, pb.z, b);
  });
  for (std::size_t first_k = 0; first_k < n;) {
    std::vector<std::string> group{pins[by_end[first_k]].name};
    std::size_t k = first_k + 1;
    for (; k < n; ++k) {
      const physical::Point3 a = end_of(by_end[k - 1]), b = end_of(by_end[k]);
      if (!(std::hypot(a.x - b.x, a.y - b.y, a.z - b.z) < kSameFinger_m)) break;
      group.push_back(pins[by_end[k]].name);
    }
    first_k = k;
    if (group.size() > 1) {
      AppendComment(out, "Pins " + JoinedNames(group) +
                             " are wires landing on one finger: each keeps its own row; "
                             "join them at the package pin.");
    }
  }
  out += "[Pin Numbers]\n";
  for (const IbisPin& pin : pins) out += pin.name + "\n";
  out += "[Model Data]\n";
  out += "| Resistance in Ohm, inductance in H, capacitance in F.\n";
  out += "| Resistance: DC, without the skin effect or the proximity of close wires.\n";
  AppendMatrix(out, "[Resistance Matrix]", PinOrderRows(resistance, pins, r_dc), pins);
  AppendMatrix(out, "[Inductance Matrix]", PinOrderRows(inductance, pins, l_int), pins);
  AppendMatrix(out, "[Capacitance Matrix]", PinOrderRows(*model.capacitance_f, pins, none), pins);
  out += "[End Model Data]\n";
  out += "[End Package Model]\n";
  out += "[End]\n";
  return result;
}

}  // namespace ostrel
