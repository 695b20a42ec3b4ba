#include "export/exports.h"

#include <charconv>
#include <cmath>

#include "base/stage_error.h"
#include "export/name_text.h"

namespace ostrel {
namespace {

constexpr const char* kCsvLineBreak = "\r\n";

bool HasWire(const BondPad& pad) { return !(pad.BondX1 == 0 && pad.BondY1 == 0); }

// RFC 4180: a name as UTF-8 (NameAsUtf8); a field holding a comma, a quote, a line break or edge
// blanks is quoted, with its quotes doubled.
std::string CsvField(const std::string& name) {
  const std::string text = NameAsUtf8(name);
  const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return text;
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

const char* KindName(WireKind kind) {
  switch (kind) {
    case WireKind::kBaseDie:
      return "base-die";
    case WireKind::kStackedDie:
      return "stacked-die";
    case WireKind::kStitch:
      return "stitch";
  }
  return "base-die";
}

std::string RoundTripText(float value) {
  if (!std::isfinite(value)) throw StageError("a result to export is not a finite number");
  if (value == 0) value = 0;  // no "-0"
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::array<PackagePoint, 2> WireEnds(const Wire& wire) {
  if (wire.Segments.empty()) return {};
  const WireSegment& first = wire.Segments.front();
  const WireSegment& last = wire.Segments.back();
  return {PackagePoint{first.X1, -first.Y1, first.Z1}, PackagePoint{last.X2, -last.Y2, last.Z2}};
}

std::vector<WireOrigin> WireOrigins(const Package& package, const WireList& wires) {
  std::vector<WireOrigin> origins;
  origins.reserve(wires.size());
  auto add = [&](WireKind kind, std::size_t index, const std::string& name) {
    const std::size_t w = origins.size();
    if (w >= wires.size() || KindOf(wires[w]) != kind || wires[w].Name != name) {
      throw StageError("the wires do not belong to the package read: no wire '" + name +
                       "' at position " + std::to_string(w + 1));
    }
    origins.push_back({kind, index});
  };
  for (std::size_t i = 0; i < package.ChipPads.size(); ++i) {
    if (HasWire(package.ChipPads[i])) add(WireKind::kBaseDie, i, package.ChipPads[i].Name);
  }
  for (std::size_t i = 0; i < package.StackPads.size(); ++i) {
    if (HasWire(package.StackPads[i])) add(WireKind::kStackedDie, i, package.StackPads[i].Name);
  }
  for (std::size_t i = 0; i < package.Stitches.size(); ++i) {
    const Stitch& s = package.Stitches[i];
    add(WireKind::kStitch, i, "(" + s.Pad1 + ":" + s.Pad2 + ")");
  }
  if (origins.size() != wires.size()) {
    throw StageError(
        "the wires do not belong to the package read: " + std::to_string(wires.size()) +
        " wires, the package gives " + std::to_string(origins.size()));
  }
  return origins;
}

std::string CsvText(const ExportHeader& /*header*/, const WireList& wires) {
  std::string out =
      "name,kind,start_x_um,start_y_um,start_z_um,end_x_um,end_y_um,end_z_um,segments,"
      "length_um,resistance_mohm,inductance_dc_nh,inductance_ac_nh,inductance_self_nh,"
      "inductance_mutual_nh";
  out += kCsvLineBreak;
  for (const Wire& w : wires) {
    const auto [start, end] = WireEnds(w);
    out += CsvField(w.Name);
    out += ',';
    out += KindName(KindOf(w));
    for (const float v : {start.X, start.Y, start.Z, end.X, end.Y, end.Z}) {
      out += ',';
      out += RoundTripText(v);
    }
    out += ',';
    out += std::to_string(w.Segments.size());
    for (const float v : {w.Length, w.Resistance, w.InductanceDC, w.InductanceAC, w.InductanceSelf,
                          w.InductanceMutual}) {
      out += ',';
      out += RoundTripText(v);
    }
    out += kCsvLineBreak;
  }
  return out;
}

std::string JsonText(const ExportHeader& header, const WireList& wires) {
  const ParameterSet& p = header.Params;
  auto number = [](float v) { return RoundTripText(v); };
  auto point = [&](const PackagePoint& q) {
    std::string text = "[";
    text.append(number(q.X)).append(", ").append(number(q.Y)).append(", ").append(number(q.Z));
    return text.append("]");
  };
  std::string out = "{\n";
  out += "  \"settings_file\": " + JsonString(header.SettingsName) + ",\n";
  out += "  \"package_file\": " + JsonString(header.PackageName) + ",\n";
  out += "  \"frame\": \"package\",\n";
  out += "  \"parameters\": {\n";
  out += "    \"material\": " + JsonString(p.Material) + ",\n";
  out += "    \"wire_diameter_mils\": " + number(p.WireDiameter) + ",\n";
  out += "    \"frequency_hz\": " + number(p.Frequency) + ",\n";
  out += "    \"wire_distance_um\": " + number(p.WireDistance) + ",\n";
  out += "    \"base_loop_height_um\": " + number(p.BaseLoopHeight) + ",\n";
  out += "    \"base_extension_um\": " + number(p.BaseExtension) + ",\n";
  out += "    \"stack_loop_height_um\": " + number(p.StackLoopHeight) + ",\n";
  out += "    \"stack_extension_um\": " + number(p.StackExtension) + ",\n";
  out += "    \"stitch_extension_um\": " + number(p.StichExtension) + "\n";
  out += "  },\n";
  out += "  \"wires\": [";
  for (std::size_t i = 0; i < wires.size(); ++i) {
    const Wire& w = wires[i];
    const auto [start, end] = WireEnds(w);
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"name\": " + JsonString(w.Name);
    out += ", \"kind\": \"" + std::string(KindName(KindOf(w))) + "\"";
    out += ", \"start_um\": " + point(start);
    out += ", \"end_um\": " + point(end);
    out += ", \"segments\": " + std::to_string(w.Segments.size());
    out += ", \"length_um\": " + number(w.Length);
    out += ", \"resistance_mohm\": " + number(w.Resistance);
    out += ", \"inductance_dc_nh\": " + number(w.InductanceDC);
    out += ", \"inductance_ac_nh\": " + number(w.InductanceAC);
    out += ", \"inductance_self_nh\": " + number(w.InductanceSelf);
    out += ", \"inductance_mutual_nh\": " + number(w.InductanceMutual) + "}";
  }
  out += wires.empty() ? "]\n" : "\n  ]\n";
  out += "}\n";
  return out;
}

}  // namespace ostrel
