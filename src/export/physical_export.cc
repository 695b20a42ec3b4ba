#include "export/physical_export.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "base/stage_error.h"
#include "base/text.h"
#include "export/exports.h"
#include "export/name_text.h"
#include "physical/coupling.h"

namespace ostrel {
namespace {

// Unit changes at the edge of the model: SI inside, microns, mOhm, nH and pF in the files.
// Metres become microns by dividing by the metres of a micron, which undoes the model's own
// conversion (microns times 1e-6) exactly for most values: 50 um reads back as 50, not as
// 49.99999999999999.
constexpr double kMPerUm = 1e-6;
constexpr double kMohmPerOhm = 1e3;
constexpr double kNhPerH = 1e9;
constexpr double kPfPerF = 1e12;

// The shortest text that reads back as exactly `value` (negative zero as "0").
void AppendNumber(std::string& out, double value) {
  if (!std::isfinite(value)) throw StageError("a figure of the physical model is not finite");
  if (value == 0) value = 0;
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

// [a, b, c] of `values` times `scale`.
void AppendList(std::string& out, const std::vector<double>& values, double scale) {
  out += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ", ";
    AppendNumber(out, values[i] * scale);
  }
  out += ']';
}

// [x, y, z] of a point in microns.
void AppendPoint(std::string& out, const physical::Point3& point_m) {
  out += '[';
  AppendNumber(out, point_m.x / kMPerUm);
  out += ", ";
  AppendNumber(out, point_m.y / kMPerUm);
  out += ", ";
  AppendNumber(out, point_m.z / kMPerUm);
  out += ']';
}

// A symmetric matrix times `scale`: dense as a list of rows, one row a line, or as
// {"sparse": [[i, j, value], ...]} with the kept entries of its lower triangle, one a line.
void AppendMatrix(std::string& out, const physical::SymmetricMatrix& m, double scale) {
  if (m.dense) {
    out += '[';
    for (std::size_t i = 0; i < m.n; ++i) {
      out += i == 0 ? "\n    [" : ",\n    [";
      for (std::size_t j = 0; j < m.n; ++j) {
        if (j > 0) out += ", ";
        AppendNumber(out, m.values[i * m.n + j] * scale);
      }
      out += ']';
    }
    out += m.n == 0 ? "]" : "\n  ]";
    return;
  }
  out += "{\"sparse\": [";
  for (std::size_t e = 0; e < m.entries.size(); ++e) {
    const physical::SymmetricMatrix::Entry& entry = m.entries[e];
    out += e == 0 ? "\n    [" : ",\n    [";
    out += std::to_string(entry.i) + ", " + std::to_string(entry.j) + ", ";
    AppendNumber(out, entry.value * scale);
    out += ']';
  }
  out += m.entries.empty() ? "]}" : "\n  ]}";
}

// A name for a terminal: as UTF-8, with control characters (which could move the cursor or
// start an escape sequence) shown as '?'.
std::string TableName(const std::string& name) {
  std::string out = NameAsUtf8(name);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

// Columns a UTF-8 text takes: one per character (continuation bytes take none).
std::size_t Columns(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string Fixed(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

// Rows of cells as text columns as wide as their widest entry, two blanks apart: the columns
// `left` left-aligned, the others right-aligned; no blanks at the end of a line.
std::string AlignedColumns(const std::vector<std::vector<std::string>>& rows,
                           std::initializer_list<std::size_t> left) {
  std::vector<std::size_t> width(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], Columns(row[c]));
  }
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string pad(width[c] - Columns(row[c]), ' ');
      if (c > 0) line += "  ";
      line += std::find(left.begin(), left.end(), c) != left.end() ? row[c] + pad : pad + row[c];
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out += line + "\n";
  }
  return out;
}

// "3 wire pairs touch or overlap" (clearance 0) or "3 wire pairs closer than 5 um".
std::string PairsText(std::size_t count, double clearance_m) {
  const bool one = count == 1;
  std::string text = std::to_string(count) + (one ? " wire pair " : " wire pairs ");
  if (clearance_m > 0) {
    return text + "closer than " + FormatGeneral(clearance_m / kMPerUm, 6) + " um";
  }
  return text + (one ? "touches or overlaps" : "touch or overlap");
}

// Throws StageError unless every matrix and every per-frequency list has one row or value per
// wire.
void CheckShape(const physical::Model& model) {
  const std::size_t n = model.conductors.size();
  bool fits = model.loop_inductance_h.n == n &&
              (!model.partial_inductance_h || model.partial_inductance_h->n == n) &&
              (!model.capacitance_f || model.capacitance_f->n == n) && !model.results.empty();
  for (const physical::FrequencyResult& r : model.results) {
    fits = fits && r.resistance_ohm.size() == n && r.internal_inductance_h.size() == n;
  }
  for (const physical::Clearance& c : model.clearance) fits = fits && c.wire_b < n;
  for (const physical::PairFigures& p : model.pairs) {
    fits = fits && p.wires.positive < n && p.wires.negative < n && p.neighbour.value_or(0) < n;
  }
  if (!fits) throw StageError("the physical model does not hold every figure of every wire");
}

}  // namespace

std::string PhysicalJsonText(const physical::Model& model) {
  CheckShape(model);
  const std::vector<physical::Conductor>& wires = model.conductors;
  std::string out = "{\n  \"frequencies_hz\": ";
  AppendList(out, model.options.frequencies_hz, 1.0);
  out += ",\n  \"ground_depth_um\": ";
  AppendNumber(out, model.options.ground_depth_m / kMPerUm);
  out += model.options.return_wires ? ",\n  \"return\": \"wires\"" : ",\n  \"return\": \"plane\"";
  out += ",\n  \"wires\": [";
  for (std::size_t w = 0; w < wires.size(); ++w) {
    const physical::Conductor& c = wires[w];
    out += w == 0 ? "\n    {\"name\": " : ",\n    {\"name\": ";
    out += JsonString(c.name);
    out += ", \"kind\": \"";
    out += KindName(c.kind);
    out += "\", \"diameter_um\": ";
    AppendNumber(out, 2 * c.radius_m / kMPerUm);
    out += ", \"resistivity_ohm_m\": ";
    AppendNumber(out, c.resistivity_ohm_m);
    out += ", \"path_um\": [";
    for (std::size_t p = 0; p < c.path_m.size(); ++p) {
      if (p > 0) out += ", ";
      AppendPoint(out, c.path_m[p]);
    }
    out += "], \"length_um\": ";
    AppendNumber(out, c.length_m / kMPerUm);
    out += ", \"resistance_dc_mohm\": ";
    AppendNumber(out, physical::DcResistanceOhm(c) * kMohmPerOhm);
    out += '}';
  }
  out += wires.empty() ? "]" : "\n  ]";
  out += ",\n  \"inductance_partial_nh\": ";
  if (model.partial_inductance_h) {
    AppendMatrix(out, *model.partial_inductance_h, kNhPerH);
  } else {
    out += "null";
  }
  out += ",\n  \"inductance_loop_nh\": ";
  AppendMatrix(out, model.loop_inductance_h, kNhPerH);
  out += ",\n  \"results\": [";
  for (std::size_t f = 0; f < model.results.size(); ++f) {
    const physical::FrequencyResult& r = model.results[f];
    out += f == 0 ? "\n    {\"frequency_hz\": " : ",\n    {\"frequency_hz\": ";
    AppendNumber(out, r.frequency_hz);
    out += ",\n     \"resistance_mohm\": ";
    AppendList(out, r.resistance_ohm, kMohmPerOhm);
    out += ",\n     \"internal_inductance_nh\": ";
    AppendList(out, r.internal_inductance_h, kNhPerH);
    for (const auto& [name, c] : {std::pair("proximity_partial", &r.proximity_partial),
                                  std::pair("proximity_loop", &r.proximity_loop)}) {
      out += ",\n     \"" + std::string(name) + "\": {\"delta_resistance_mohm\": ";
      AppendMatrix(out, c->delta_resistance_ohm, kMohmPerOhm);
      out += ", \"delta_inductance_nh\": ";
      AppendMatrix(out, c->delta_inductance_h, kNhPerH);
      out += '}';
    }
    if (model.options.return_wires) {
      // The signals' loops through the ground wires.
      out += ",\n     \"return_loop\": {\"wires\": [";
      for (std::size_t a = 0; a < r.return_loop.wires.size(); ++a) {
        out += (a > 0 ? ", " : "") + std::to_string(r.return_loop.wires[a]);
      }
      out += "], \"resistance_mohm\": ";
      AppendMatrix(out, r.return_loop.resistance_ohm, kMohmPerOhm);
      out += ", \"inductance_nh\": ";
      AppendMatrix(out, r.return_loop.inductance_h, kNhPerH);
      out += '}';
    }
    out += '}';
  }
  out += model.results.empty() ? "]" : "\n  ]";
  // The capacitance matrix (Maxwell form) and the permittivity it was computed with.
  if (model.capacitance_f) {
    out += ",\n  \"eps_r\": ";
    AppendNumber(out, model.options.eps_r);
    out += ",\n  \"capacitance_pf\": ";
    AppendMatrix(out, *model.capacitance_f, kPfPerF);
  }
  // Wire groups: coincident wires (one path), and wires joined into one conductor by touching.
  for (const auto& [name, groups] : {std::pair("coincident", &model.coincident),
                                     std::pair("conductors", &model.joined_conductors)}) {
    out += ",\n  \"" + std::string(name) + "\": [";
    for (std::size_t g = 0; g < groups->size(); ++g) {
      out += g == 0 ? "[" : ", [";
      for (std::size_t k = 0; k < (*groups)[g].size(); ++k) {
        if (k > 0) out += ", ";
        out += std::to_string((*groups)[g][k]);
      }
      out += ']';
    }
    out += ']';
  }
  // The wire pairs closer than the clearance, closest first.
  out += ",\n  \"clearance\": [";
  for (std::size_t k = 0; k < model.clearance.size(); ++k) {
    const physical::Clearance& c = model.clearance[k];
    out += k == 0 ? "\n    {\"wires\": [" : ",\n    {\"wires\": [";
    out += std::to_string(c.wire_a) + ", " + std::to_string(c.wire_b) + "], \"at_um\": ";
    AppendPoint(out, c.at_m);
    out += ", \"clearance_um\": ";
    AppendNumber(out, c.clearance_m / kMPerUm);
    out += c.joined ? ", \"joined\": true}" : ", \"joined\": false}";
  }
  out += model.clearance.empty() ? "]" : "\n  ]";
  // Ground and supply nets as conductors.
  out += ",\n  \"nets\": [";
  for (std::size_t k = 0; k < model.nets.size(); ++k) {
    const physical::NetImpedance& n = model.nets[k];
    out += k == 0 ? "\n    {\"name\": " : ",\n    {\"name\": ";
    out += JsonString(n.net.name);
    out += n.net.supply ? ", \"role\": \"power\", \"wires\": ["
                        : ", \"role\": \"ground\", \"wires\": [";
    for (std::size_t w = 0; w < n.net.wires.size(); ++w) {
      if (w > 0) out += ", ";
      out += std::to_string(n.net.wires[w]);
    }
    out += "], \"results\": [";
    for (std::size_t f = 0; f < n.parallel.size(); ++f) {
      out += f == 0 ? "\n      {\"frequency_hz\": " : ",\n      {\"frequency_hz\": ";
      AppendNumber(out, model.results[f].frequency_hz);
      const auto figures = [&](const physical::NetFigures& x) {
        out += "\"resistance_mohm\": ";
        AppendNumber(out, x.resistance_ohm * kMohmPerOhm);
        out += ", \"inductance_nh\": ";
        AppendNumber(out, x.inductance_h * kNhPerH);
      };
      out += ", ";
      figures(n.parallel[f]);
      if (f < n.supply_loop.size()) {
        out += ", \"supply_loop\": {";
        figures(n.supply_loop[f]);
        out += '}';
      }
      out += '}';
    }
    out += n.parallel.empty() ? "]}" : "\n    ]}";
  }
  out += model.nets.empty() ? "]" : "\n  ]";
  // Differential pairs: odd- and even-mode figures, null where the model has no capacitance.
  out += ",\n  \"pairs\": [";
  for (std::size_t k = 0; k < model.pairs.size(); ++k) {
    const physical::PairFigures& p = model.pairs[k];
    const auto number = [&](const char* name, const std::optional<double>& value, double scale) {
      out += ", \"";
      out += name;
      out += "\": ";
      if (value) {
        AppendNumber(out, *value * scale);
      } else {
        out += "null";
      }
    };
    out += k == 0 ? "\n    {\"positive\": " : ",\n    {\"positive\": ";
    out += std::to_string(p.wires.positive) + ", \"negative\": " + std::to_string(p.wires.negative);
    out += ", \"positive_name\": " + JsonString(model.conductors[p.wires.positive].name);
    out += ", \"negative_name\": " + JsonString(model.conductors[p.wires.negative].name);
    number("odd_inductance_nh", p.odd_inductance_h, kNhPerH);
    number("even_inductance_nh", p.even_inductance_h, kNhPerH);
    number("odd_capacitance_pf", p.odd_capacitance_f, kPfPerF);
    number("even_capacitance_pf", p.even_capacitance_f, kPfPerF);
    number("z_odd_ohm", p.z_odd_ohm, 1.0);
    number("z_even_ohm", p.z_even_ohm, 1.0);
    number("z_diff_ohm", p.z_diff_ohm, 1.0);
    out += ", \"neighbour\": ";
    if (p.neighbour) {
      out += "{\"wire\": " + std::to_string(*p.neighbour) + ", \"name\": ";
      out += JsonString(model.conductors[*p.neighbour].name) + ", \"k\": ";
      AppendNumber(out, p.neighbour_k);
      out += "}}";
    } else {
      out += "null}";
    }
  }
  out += model.pairs.empty() ? "]" : "\n  ]";
  out += ",\n  \"notes\": [";
  for (std::size_t n = 0; n < model.notes.size(); ++n) {
    out += n == 0 ? "\n    " : ",\n    ";
    out += JsonString(model.notes[n]);
  }
  out += model.notes.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

std::string PhysicalTableText(const physical::Model& model) {
  CheckShape(model);
  const std::vector<physical::Conductor>& wires = model.conductors;
  const physical::FrequencyResult& first = model.results.front();
  const std::vector<physical::Neighbour> neighbours =
      physical::StrongestNeighbours(model.loop_inductance_h);
  char at[48];
  std::snprintf(at, sizeof at, "R_mohm@%gHz", first.frequency_hz);
  std::vector<std::vector<std::string>> rows = {
      {"name", "length_um", "R_dc_mohm", at, "L_partial_nh", "L_loop_nh", "neighbour", "k_loop"}};
  for (std::size_t w = 0; w < wires.size(); ++w) {
    const physical::Conductor& c = wires[w];
    const double r_dc_ohm = physical::DcResistanceOhm(c);
    const physical::Neighbour& nb = neighbours[w];
    const bool coupled = nb.index < wires.size();
    rows.push_back(
        {TableName(c.name), Fixed(c.length_m / kMPerUm, 3), Fixed(r_dc_ohm * kMohmPerOhm, 3),
         Fixed(physical::ResistanceOhm(first, first.proximity_loop, w) * kMohmPerOhm, 3),
         model.partial_inductance_h
             ? Fixed(physical::SelfInductanceH(model.partial_inductance_h->At(w, w), first,
                                               first.proximity_partial, w) *
                         kNhPerH,
                     4)
             : "-",
         Fixed(physical::SelfInductanceH(model.loop_inductance_h.At(w, w), first,
                                         first.proximity_loop, w) *
                   kNhPerH,
               4),
         coupled ? TableName(wires[nb.index].name) : "-", coupled ? Fixed(nb.k, 4) : "-"});
  }
  // Names and neighbours left-aligned, figures right-aligned.
  std::string out = AlignedColumns(rows, {0, 6});
  // The pairs of the clearance list, closest first.
  std::size_t joined = 0;
  for (const physical::Clearance& c : model.clearance) joined += c.joined ? 1 : 0;
  out += '\n';
  out += PairsText(model.clearance.size(), model.options.clearance_m);
  if (joined > 0) out += " (" + std::to_string(joined) + " joined at a bond point)";
  out += '\n';
  if (model.clearance.empty()) return out;
  rows = {{"wire_a", "wire_b", "x_um", "y_um", "z_um", "clearance_um", ""}};
  for (const physical::Clearance& c : model.clearance) {
    rows.push_back({TableName(wires[c.wire_a].name), TableName(wires[c.wire_b].name),
                    Fixed(c.at_m.x / kMPerUm, 3), Fixed(c.at_m.y / kMPerUm, 3),
                    Fixed(c.at_m.z / kMPerUm, 3), Fixed(c.clearance_m / kMPerUm, 3),
                    c.joined ? "joined" : ""});
  }
  return out + AlignedColumns(rows, {0, 1, 6});
}

std::vector<std::string> ClearanceNotes(const physical::Model& model) {
  constexpr std::size_t kListed = 5;
  const std::vector<physical::Conductor>& wires = model.conductors;
  std::vector<std::string> notes;
  for (const bool joined : {false, true}) {
    std::size_t count = 0;
    std::string listed;
    for (const physical::Clearance& c : model.clearance) {
      if (c.joined != joined || ++count > kListed) continue;
      listed += count == 1 ? ": " : ", ";
      listed += TableName(wires[c.wire_a].name);
      listed += '/';
      listed += TableName(wires[c.wire_b].name);
      if (!joined) {
        listed += ' ';
        listed += Fixed(c.clearance_m / kMPerUm, 1);
        listed += " um";
      }
      const double at_m[] = {c.at_m.x, c.at_m.y, c.at_m.z};
      for (int k = 0; k < 3; ++k) {
        listed += k == 0 ? " at (" : ", ";
        listed += Fixed(at_m[k] / kMPerUm, 1);
      }
      listed += ')';
    }
    if (count == 0) continue;
    if (count > kListed) listed += ", ...";
    std::string note = std::to_string(count);
    note += count == 1 ? " wire pair joined at a bond point" : " wire pairs joined at a bond point";
    notes.push_back((joined ? note : PairsText(count, model.options.clearance_m)) + listed);
  }
  return notes;
}

}  // namespace ostrel
