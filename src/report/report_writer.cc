#include "report/report_writer.h"

#include <string_view>

#include "base/large_pages.h"
#include "base/numeric.h"
#include "base/text.h"

namespace ostrel {
namespace {

constexpr std::size_t kFieldWidth = 12;
constexpr std::string_view kLineBreak = "\r\n";

void AppendValueField(std::string& out, float value) {
  AppendFixed3Field(out, value, kFieldWidth);
}

// label (23 characters) + value field + unit text (with its leading space) + CR LF.
void AppendNumberLine(std::string& out, std::string_view label, float value,
                      std::string_view unit) {
  out += label;
  AppendValueField(out, value);
  out += unit;
  out += kLineBreak;
}

void AppendLine(std::string& out, const std::string& text) {
  out += text;
  out += kLineBreak;
}

}  // namespace

std::string ValueField(float value) {
  std::string out;
  AppendValueField(out, value);
  return out;
}

std::pair<float, const char*> ScaledFrequency(float hz) {
  static constexpr const char* kUnits[] = {"hz", "Khz", "Mhz", "Ghz"};
  float f = hz;
  int unit = 0;
  for (int i = 0; i < 3; ++i) {
    if (f >= 1000.0f) {
      f = ToSingle(Wide(f) / 1000.0);
      ++unit;
    }
  }
  return {f, kUnits[unit]};
}

namespace {

// Writes the report into `out`; each time `out` holds at least `piece_bytes`, hands it to
// `flush`, which empties it.
template <typename Flush>
void BuildReport(const ReportHeader& header, const std::vector<Wire>& wires, std::string& out,
                 std::size_t piece_bytes, Flush&& flush) {
  const ParameterSet& p = header.Params;
  AppendLine(out, "*Input File: " + header.SettingsName);
  AppendLine(out, "*Output File: " + header.SettingsName + ".doc");
  AppendLine(out, "*");
  AppendLine(out, "*Material: " + std::string(22, ' ') + p.Material);
  const auto [frequency, unit] = ScaledFrequency(p.Frequency);
  AppendNumberLine(out, "*Frequency:            ", frequency, std::string(" ") + unit);
  AppendNumberLine(out, "*Wire Diameter:        ", p.WireDiameter, " Mils");
  AppendNumberLine(out, "*Wire Distance:        ", p.WireDistance, " Microns");
  AppendLine(out, "*");
  AppendNumberLine(out, "*Base Loop Height:     ", p.BaseLoopHeight, " Microns");
  AppendNumberLine(out, "*Base Extension:       ", p.BaseExtension, " Microns");
  if (header.HasStackedDie) {
    AppendLine(out, "*");
    AppendNumberLine(out, "*Stack Loop Height:    ", p.StackLoopHeight, " Microns");
    AppendNumberLine(out, "*Stack Extension:      ", p.StackExtension, " Microns");
  }
  if (header.HasStitches) {
    AppendNumberLine(out, "*Stich Extension:      ", p.StichExtension, " Microns");
  }
  AppendLine(out, "*");
  for (const Wire& w : wires) {
    out += "Pad: ";
    AppendLine(out, w.Name);
    AppendNumberLine(out, "  Length:              ", w.Length, " Microns");
    AppendNumberLine(out, "  Resistance:          ", w.Resistance, " mOhms");
    AppendNumberLine(out, "  Inductance DC:       ", w.InductanceDC, " nH");
    AppendNumberLine(out, "  Inductance AC:       ", w.InductanceAC, " nH");
    AppendNumberLine(out, "  Inductance Self:     ", w.InductanceSelf, " nH");
    AppendNumberLine(out, "  Inductance Mutual:   ", w.InductanceMutual, " nH");
    out += kLineBreak;
    if (out.size() >= piece_bytes) flush(out);
  }
  if (!out.empty()) flush(out);
}

}  // namespace

std::string ReportText(const ReportHeader& header, const std::vector<Wire>& wires) {
  std::string out;
  out.reserve(LargePageRoom(1024 + wires.size() * 330));
  AdviseLargePages(out.data(), out.capacity());
  BuildReport(header, wires, out, std::string::npos, [](std::string&) {});
  return out;
}

void WriteReportPieces(const ReportHeader& header, const std::vector<Wire>& wires,
                       const std::function<void(std::string_view)>& write) {
  // A quarter megabyte at a time: the report is never held whole, so a large one costs no
  // more memory than a small one.
  constexpr std::size_t kPieceBytes = std::size_t{1} << 18;
  std::string out;
  out.reserve(kPieceBytes + 4096);
  BuildReport(header, wires, out, kPieceBytes, [&write](std::string& piece) {
    write(piece);
    piece.clear();
  });
}

void WriteReport(std::ostream& out, const ReportHeader& header, const std::vector<Wire>& wires) {
  WriteReportPieces(header, wires, [&out](std::string_view piece) {
    out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  });
}

}  // namespace ostrel
