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

std::string ReportText(const ReportHeader& header, const std::vector<Wire>& wires) {
  const ParameterSet& p = header.Params;
  std::string out;
  out.reserve(LargePageRoom(1024 + wires.size() * 330));
  AdviseLargePages(out.data(), out.capacity());
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
  }
  return out;
}

void WriteReport(std::ostream& out, const ReportHeader& header, const std::vector<Wire>& wires) {
  const std::string text = ReportText(header, wires);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace ostrel
