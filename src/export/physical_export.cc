#include "export/physical_export.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>
#include <tuple>

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

// A figure for a file: as the JSON writes it, negative zero as 0; StageError when not finite.
double Figure(double value) {
  if (!std::isfinite(value)) throw StageError("a figure of the physical model is not finite");
  return value == 0 ? 0 : value;
}

// Elements of one type gathered into pieces of 64 KB for the sink.
template <typename T>
class Pieces {
 public:
  explicit Pieces(const ByteSink& out) : out_(out), buffer_(kBytes / sizeof(T)) {}
  void Add(T value) {
    buffer_[count_++] = value;
    if (count_ == buffer_.size()) Flush();
  }
  // Each of `values` times `scale` as Figure gives it, a run at a time: figures (v + 0 is v, and
  // +0 for -0) then one look for any that is not finite.
  void AddFigures(std::span<const double> values, double scale) requires std::same_as<T, double> {
    for (std::size_t at = 0; at < values.size();) {
      const std::size_t run = std::min(buffer_.size() - count_, values.size() - at);
      double* out = buffer_.data() + count_;
      bool finite = true;
      for (std::size_t k = 0; k < run; ++k) {
        const double v = values[at + k] * scale;
        finite &= std::abs(v) <= std::numeric_limits<double>::max();
        out[k] = v + 0.0;
      }
      if (!finite) throw StageError("a figure of the physical model is not finite");
      count_ += run;
      at += run;
      if (count_ == buffer_.size()) Flush();
    }
  }
  void Flush() {
    if (count_ > 0) out_({reinterpret_cast<const char*>(buffer_.data()), count_ * sizeof(T)});
    count_ = 0;
  }

 private:
  static constexpr std::size_t kBytes = std::size_t{1} << 16;
  const ByteSink& out_;
  std::vector<T> buffer_;
  std::size_t count_ = 0;
};

// An array whose elements `fill` adds.
template <typename T>
NpyArray Array(std::string name, std::string descr, std::vector<std::uint64_t> shape,
               std::function<void(Pieces<T>&)> fill) {
  NpyArray array;
  array.name = std::move(name);
  array.descr = std::move(descr);
  array.shape = std::move(shape);
  array.data = [fill = std::move(fill)](const ByteSink& out) {
    Pieces<T> pieces(out);
    fill(pieces);
    pieces.Flush();
  };
  return array;
}

NpyArray Figures(std::string name, std::vector<std::uint64_t> shape,
                 std::function<void(Pieces<double>&)> fill) {
  return Array<double>(std::move(name), "<f8", std::move(shape), std::move(fill));
}

NpyArray Indices(std::string name, std::vector<std::uint64_t> shape,
                 std::function<void(Pieces<std::int64_t>&)> fill) {
  return Array<std::int64_t>(std::move(name), "<i8", std::move(shape), std::move(fill));
}

// One figure (a scalar) or a list of them times `scale`.
NpyArray Scalar(std::string name, double value) {
  return Figures(std::move(name), {}, [value](Pieces<double>& p) { p.Add(Figure(value)); });
}

NpyArray List(std::string name, const std::vector<double>& values, double scale) {
  return Figures(std::move(name), {values.size()},
                 [&values, scale](Pieces<double>& p) { p.AddFigures(values, scale); });
}

// The code points of valid UTF-8.
std::u32string CodePoints(const std::string& utf8) {
  std::u32string out;
  for (std::size_t k = 0; k < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[k]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t m = 1; m < length && k + m < utf8.size(); ++m) {
      c = (c << 6) | (static_cast<unsigned char>(utf8[k + m]) & 0x3F);
    }
    out += c;
    k += length;
  }
  return out;
}

// Names as fixed-width unicode ('<U' as wide as the longest, at least 1), each by the UTF-8 rule
// of the JSON (export/name_text.h).
NpyArray Texts(std::string name, const std::vector<std::string>& texts) {
  std::vector<std::u32string> points;
  std::size_t width = 1;
  for (const std::string& t : texts) {
    points.push_back(CodePoints(NameAsUtf8(t)));
    width = std::max(width, points.back().size());
  }
  return Array<char32_t>(std::move(name), "<U" + std::to_string(width), {texts.size()},
                         [points = std::move(points), width](Pieces<char32_t>& p) {
                           for (const std::u32string& t : points) {
                             for (std::size_t c = 0; c < width; ++c)
                               p.Add(c < t.size() ? t[c] : U'\0');
                           }
                         });
}

// Lists of indices: `name` all of them in order, `name`_start where each list starts (and the
// total at the end).
template <typename Lists, typename ListOf>
void AddLists(std::vector<NpyArray>& arrays, const std::string& name, const Lists& lists,
              ListOf list_of) {
  std::vector<std::int64_t> start = {0};
  for (const auto& item : lists) {
    start.push_back(start.back() + static_cast<std::int64_t>(list_of(item).size()));
  }
  const auto total = static_cast<std::uint64_t>(start.back());
  arrays.push_back(Indices(name, {total}, [&lists, list_of](Pieces<std::int64_t>& p) {
    for (const auto& item : lists) {
      for (const std::size_t index : list_of(item)) p.Add(static_cast<std::int64_t>(index));
    }
  }));
  arrays.push_back(Indices(name + "_start", {start.size()}, [start](Pieces<std::int64_t>& p) {
    for (const std::int64_t s : start) p.Add(s);
  }));
}

// Every entry of a matrix as (i, j, value): the kept ones of a sparse matrix, all of a dense one.
template <typename Visit>
void ForEachEntry(const physical::SymmetricMatrix& m, Visit visit) {
  if (!m.dense) {
    for (const physical::SymmetricMatrix::Entry& e : m.entries) visit(e.i, e.j, e.value);
    return;
  }
  for (std::size_t i = 0; i < m.n; ++i) {
    for (std::size_t j = 0; j < m.n; ++j) visit(i, j, m.values[i * m.n + j]);
  }
}

// A matrix times `scale`: dense as `name` (n x n), sparse as `name`_i, _j and _value.
void AddMatrix(std::vector<NpyArray>& arrays, const std::string& name,
               const physical::SymmetricMatrix& m, double scale) {
  if (m.dense) {
    arrays.push_back(Figures(name, {m.n, m.n},
                             [&m, scale](Pieces<double>& p) { p.AddFigures(m.values, scale); }));
    return;
  }
  const std::uint64_t count = m.entries.size();
  for (const bool row : {true, false}) {
    arrays.push_back(
        Indices(name + (row ? "_i" : "_j"), {count}, [&m, row](Pieces<std::int64_t>& p) {
          for (const auto& e : m.entries) p.Add(static_cast<std::int64_t>(row ? e.i : e.j));
        }));
  }
  arrays.push_back(Figures(name + "_value", {count}, [&m, scale](Pieces<double>& p) {
    for (const auto& e : m.entries) p.Add(Figure(e.value * scale));
  }));
}

// One matrix of every frequency's result, stacked: `name`_f (the frequency's index), _i, _j
// and _value.
void AddStackedMatrices(std::vector<NpyArray>& arrays, const std::string& name,
                        const std::vector<physical::FrequencyResult>& results,
                        physical::ProximityCorrection physical::FrequencyResult::*correction,
                        physical::SymmetricMatrix physical::ProximityCorrection::*matrix,
                        double scale) {
  std::uint64_t count = 0;
  for (const physical::FrequencyResult& r : results) {
    ForEachEntry((r.*correction).*matrix, [&](std::size_t, std::size_t, double) { ++count; });
  }
  const auto each = [&results, correction, matrix](auto visit) {
    for (std::size_t f = 0; f < results.size(); ++f) {
      ForEachEntry((results[f].*correction).*matrix,
                   [&](std::size_t i, std::size_t j, double v) { visit(f, i, j, v); });
    }
  };
  for (const char* field : {"_f", "_i", "_j"}) {
    const char which = field[1];
    arrays.push_back(Indices(name + field, {count}, [each, which](Pieces<std::int64_t>& p) {
      each([&](std::size_t f, std::size_t i, std::size_t j, double) {
        p.Add(static_cast<std::int64_t>(which == 'f' ? f : which == 'i' ? i : j));
      });
    }));
  }
  arrays.push_back(Figures(name + "_value", {count}, [each, scale](Pieces<double>& p) {
    each([&](std::size_t, std::size_t, std::size_t, double v) { p.Add(Figure(v * scale)); });
  }));
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
  std::vector<std::string> notes = model.notes;
  if (const std::string advice = NpzAdvice(model); !advice.empty()) notes.push_back(advice);
  for (std::size_t n = 0; n < notes.size(); ++n) {
    out += n == 0 ? "\n    " : ",\n    ";
    out += JsonString(notes[n]);
  }
  out += notes.empty() ? "]\n}\n" : "\n  ]\n}\n";
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

std::string NpzAdvice(const physical::Model& model) {
  if (model.conductors.size() <= kNpzAdviceWires) return "";
  return "the model of " + std::to_string(model.conductors.size()) +
         " wires is large as JSON text; --physical NAME.npz writes it as NumPy arrays, a "
         "fraction of the size and of the time (docs/physical.md)";
}

bool IsNpzPath(std::string_view path) {
  if (path.size() < 4) return false;
  std::string suffix(path.substr(path.size() - 4));
  for (char& c : suffix) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return suffix == ".npz";
}

void WritePhysicalNpz(const physical::Model& model, const ByteSink& out, std::uint64_t zip64_from) {
  CheckShape(model);
  const std::vector<physical::Conductor>& wires = model.conductors;
  const std::size_t n = wires.size();
  const std::size_t frequencies = model.results.size();
  std::vector<NpyArray> arrays;
  arrays.push_back(List("frequencies_hz", model.options.frequencies_hz, 1.0));
  arrays.push_back(Scalar("ground_depth_um", model.options.ground_depth_m / kMPerUm));
  // The wires' fields, one value (or one list of points) per wire.
  std::vector<std::string> names, kinds;
  std::size_t points = 0;
  for (const physical::Conductor& c : wires) {
    names.push_back(c.name);
    kinds.push_back(KindName(c.kind));
    points += c.path_m.size();
  }
  arrays.push_back(Texts("wires_name", names));
  arrays.push_back(Texts("wires_kind", kinds));
  const auto per_wire = [&](const char* name, double (*figure)(const physical::Conductor&)) {
    arrays.push_back(Figures(name, {n}, [&wires, figure](Pieces<double>& p) {
      for (const physical::Conductor& c : wires) p.Add(Figure(figure(c)));
    }));
  };
  per_wire("wires_diameter_um",
           [](const physical::Conductor& c) { return 2 * c.radius_m / kMPerUm; });
  per_wire("wires_resistivity_ohm_m",
           [](const physical::Conductor& c) { return c.resistivity_ohm_m; });
  arrays.push_back(Figures("wires_path_um", {points, 3}, [&wires](Pieces<double>& p) {
    for (const physical::Conductor& c : wires) {
      for (const physical::Point3& point : c.path_m) {
        for (const double v : {point.x, point.y, point.z}) p.Add(Figure(v / kMPerUm));
      }
    }
  }));
  std::vector<std::int64_t> path_start = {0};
  for (const physical::Conductor& c : wires) {
    path_start.push_back(path_start.back() + static_cast<std::int64_t>(c.path_m.size()));
  }
  arrays.push_back(Indices("wires_path_start", {n + 1}, [path_start](Pieces<std::int64_t>& p) {
    for (const std::int64_t s : path_start) p.Add(s);
  }));
  per_wire("wires_length_um", [](const physical::Conductor& c) { return c.length_m / kMPerUm; });
  per_wire("wires_resistance_dc_mohm",
           [](const physical::Conductor& c) { return physical::DcResistanceOhm(c) * kMohmPerOhm; });
  // The matrices; a partial matrix left out has no array (null in the JSON).
  if (model.partial_inductance_h) {
    AddMatrix(arrays, "inductance_partial_nh", *model.partial_inductance_h, kNhPerH);
  }
  AddMatrix(arrays, "inductance_loop_nh", model.loop_inductance_h, kNhPerH);
  // The results: frequency x wire, the proximity corrections stacked.
  std::vector<double> result_frequencies;
  for (const physical::FrequencyResult& r : model.results) {
    result_frequencies.push_back(r.frequency_hz);
  }
  arrays.push_back(
      Figures("results_frequency_hz", {frequencies}, [result_frequencies](Pieces<double>& p) {
        for (const double f : result_frequencies) p.Add(Figure(f));
      }));
  for (const auto& [name, figure, scale] :
       {std::tuple("results_resistance_mohm", &physical::FrequencyResult::resistance_ohm,
                   kMohmPerOhm),
        std::tuple("results_internal_inductance_nh",
                   &physical::FrequencyResult::internal_inductance_h, kNhPerH)}) {
    arrays.push_back(
        Figures(name, {frequencies, n},
                [&results = model.results, member = figure, factor = scale](Pieces<double>& p) {
                  for (const physical::FrequencyResult& r : results) {
                    for (const double v : r.*member) p.Add(Figure(v * factor));
                  }
                }));
  }
  for (const auto& [kind, correction] :
       {std::pair("proximity_partial", &physical::FrequencyResult::proximity_partial),
        std::pair("proximity_loop", &physical::FrequencyResult::proximity_loop)}) {
    for (const auto& [figure, matrix, scale] :
         {std::tuple("delta_resistance_mohm", &physical::ProximityCorrection::delta_resistance_ohm,
                     kMohmPerOhm),
          std::tuple("delta_inductance_nh", &physical::ProximityCorrection::delta_inductance_h,
                     kNhPerH)}) {
      std::string name = "results_";
      name += kind;
      name += '_';
      name += figure;
      AddStackedMatrices(arrays, name, model.results, correction, matrix, scale);
    }
  }
  if (model.capacitance_f) {
    arrays.push_back(Scalar("eps_r", model.options.eps_r));
    AddMatrix(arrays, "capacitance_pf", *model.capacitance_f, kPfPerF);
  }
  const auto itself = [](const std::vector<std::size_t>& list) -> const std::vector<std::size_t>& {
    return list;
  };
  AddLists(arrays, "coincident", model.coincident, itself);
  AddLists(arrays, "conductors", model.joined_conductors, itself);
  // The clearance list, one row per pair.
  const std::vector<physical::Clearance>& pairs = model.clearance;
  arrays.push_back(Indices("clearance_wires", {pairs.size(), 2}, [&pairs](Pieces<std::int64_t>& p) {
    for (const physical::Clearance& c : pairs) {
      p.Add(static_cast<std::int64_t>(c.wire_a));
      p.Add(static_cast<std::int64_t>(c.wire_b));
    }
  }));
  arrays.push_back(Figures("clearance_at_um", {pairs.size(), 3}, [&pairs](Pieces<double>& p) {
    for (const physical::Clearance& c : pairs) {
      for (const double v : {c.at_m.x, c.at_m.y, c.at_m.z}) p.Add(Figure(v / kMPerUm));
    }
  }));
  arrays.push_back(Figures("clearance_clearance_um", {pairs.size()}, [&pairs](Pieces<double>& p) {
    for (const physical::Clearance& c : pairs) p.Add(Figure(c.clearance_m / kMPerUm));
  }));
  arrays.push_back(Array<std::uint8_t>("clearance_joined", "|b1", {pairs.size()},
                                       [&pairs](Pieces<std::uint8_t>& p) {
                                         for (const physical::Clearance& c : pairs) {
                                           p.Add(c.joined ? 1 : 0);
                                         }
                                       }));
  // The nets: one row per net, their results net x frequency; the supply loop NaN where a net
  // has none (a ground net).
  std::vector<std::string> net_names, roles;
  for (const physical::NetImpedance& net : model.nets) {
    net_names.push_back(net.net.name);
    roles.push_back(net.net.supply ? "power" : "ground");
    if (net.parallel.size() != frequencies ||
        (!net.supply_loop.empty() && net.supply_loop.size() != frequencies)) {
      throw StageError("the physical model does not hold every figure of every net");
    }
  }
  arrays.push_back(Texts("nets_name", net_names));
  arrays.push_back(Texts("nets_role", roles));
  AddLists(arrays, "nets_wires", model.nets,
           [](const physical::NetImpedance& net) -> const std::vector<std::size_t>& {
             return net.net.wires;
           });
  for (const bool loop : {false, true}) {
    for (const bool inductance : {false, true}) {
      std::string name = loop ? "nets_results_supply_loop_" : "nets_results_";
      name += inductance ? "inductance_nh" : "resistance_mohm";
      arrays.push_back(
          Figures(name, {model.nets.size(), frequencies},
                  [&nets = model.nets, frequencies, loop, inductance](Pieces<double>& p) {
                    for (const physical::NetImpedance& net : nets) {
                      const auto& list = loop ? net.supply_loop : net.parallel;
                      for (std::size_t f = 0; f < frequencies; ++f) {
                        if (list.empty()) {
                          p.Add(std::numeric_limits<double>::quiet_NaN());
                          continue;
                        }
                        p.Add(inductance ? Figure(list[f].inductance_h * kNhPerH)
                                         : Figure(list[f].resistance_ohm * kMohmPerOhm));
                      }
                    }
                  }));
    }
  }
  // The differential pairs, one row each; NaN for a figure the JSON gives as null, -1 for no
  // neighbour.
  const std::vector<physical::PairFigures>& diff = model.pairs;
  arrays.push_back(Indices("pairs_wires", {diff.size(), 2}, [&diff](Pieces<std::int64_t>& p) {
    for (const physical::PairFigures& pair : diff) {
      p.Add(static_cast<std::int64_t>(pair.wires.positive));
      p.Add(static_cast<std::int64_t>(pair.wires.negative));
    }
  }));
  using Optional = std::optional<double> (*)(const physical::PairFigures&);
  const std::pair<const char*, Optional> kPairFigures[] = {
      {"pairs_odd_inductance_nh",
       [](const physical::PairFigures& f) -> std::optional<double> {
         return f.odd_inductance_h * kNhPerH;
       }},
      {"pairs_even_inductance_nh",
       [](const physical::PairFigures& f) -> std::optional<double> {
         return f.even_inductance_h * kNhPerH;
       }},
      {"pairs_odd_capacitance_pf",
       [](const physical::PairFigures& f) -> std::optional<double> {
         return f.odd_capacitance_f ? std::optional(*f.odd_capacitance_f * kPfPerF) : std::nullopt;
       }},
      {"pairs_even_capacitance_pf",
       [](const physical::PairFigures& f) -> std::optional<double> {
         return f.even_capacitance_f ? std::optional(*f.even_capacitance_f * kPfPerF)
                                     : std::nullopt;
       }},
      {"pairs_z_odd_ohm", [](const physical::PairFigures& f) { return f.z_odd_ohm; }},
      {"pairs_z_even_ohm", [](const physical::PairFigures& f) { return f.z_even_ohm; }},
      {"pairs_z_diff_ohm", [](const physical::PairFigures& f) { return f.z_diff_ohm; }},
      {"pairs_neighbour_k", [](const physical::PairFigures& f) -> std::optional<double> {
         return f.neighbour ? std::optional(f.neighbour_k) : std::nullopt;
       }}};
  for (const auto& [name, figure] : kPairFigures) {
    arrays.push_back(Figures(name, {diff.size()}, [&diff, get = figure](Pieces<double>& p) {
      for (const physical::PairFigures& pair : diff) {
        const std::optional<double> v = get(pair);
        p.Add(v ? Figure(*v) : std::numeric_limits<double>::quiet_NaN());
      }
    }));
  }
  arrays.push_back(Indices("pairs_neighbour_wire", {diff.size()}, [&diff](Pieces<std::int64_t>& p) {
    for (const physical::PairFigures& pair : diff) {
      p.Add(pair.neighbour ? static_cast<std::int64_t>(*pair.neighbour) : -1);
    }
  }));
  // Where the signals' current returns; through the ground wires, their loops frequency x
  // signal x signal.
  arrays.push_back(Texts("return", {model.options.return_wires ? "wires" : "plane"}));
  if (model.options.return_wires) {
    const std::vector<std::size_t> signals = model.results.empty()
                                                 ? std::vector<std::size_t>{}
                                                 : model.results.front().return_loop.wires;
    const std::size_t s = signals.size();
    for (const physical::FrequencyResult& r : model.results) {
      if (r.return_loop.wires != signals || r.return_loop.resistance_ohm.n != s) {
        throw StageError("the physical model does not hold every loop through the ground wires");
      }
    }
    arrays.push_back(Indices("results_return_loop_wires", {s}, [signals](Pieces<std::int64_t>& p) {
      for (const std::size_t w : signals) p.Add(static_cast<std::int64_t>(w));
    }));
    for (const auto& [name, matrix, scale] :
         {std::tuple("results_return_loop_resistance_mohm", &physical::ReturnLoop::resistance_ohm,
                     kMohmPerOhm),
          std::tuple("results_return_loop_inductance_nh", &physical::ReturnLoop::inductance_h,
                     kNhPerH)}) {
      arrays.push_back(Figures(
          name, {frequencies, s, s},
          [&results = model.results, member = matrix, factor = scale, s](Pieces<double>& p) {
            for (const physical::FrequencyResult& r : results) {
              for (std::size_t a = 0; a < s; ++a) {
                for (std::size_t b = 0; b < s; ++b) {
                  p.Add(Figure((r.return_loop.*member).At(a, b) * factor));
                }
              }
            }
          }));
    }
  }
  arrays.push_back(Texts("notes", model.notes));
  WriteNpz(arrays, out, zip64_from);
}

}  // namespace ostrel
