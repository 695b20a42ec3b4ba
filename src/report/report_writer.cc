#include "report/report_writer.h"

#include "base/large_pages.h"
#include "base/numeric.h"
#include "base/text.h"

namespace ostrel {
namespace {

constexpr std::size_t kFieldWidth = 12;
constexpr const char* kLineBreak = "\r\n";

// `number` is scratch space for the formatted value, kept by the caller so that the hundreds
// of thousands of values of a large report need no allocation each.
void AppendValueField(std::string& out, float value, std::string& number) {
  number.clear();
  AppendFixed3(number, value);
  if (number.size() >= kFieldWidth) {
    out.append(number, number.size() - kFieldWidth, kFieldWidth);
  } else {
    out.append(kFieldWidth - number.size(), ' ');
    out.append(number);
  }
}

// label (23 characters) + value field + unit text (with its leading space) + CR LF.
void AppendNumberLine(std::string& out, const char* label, float value, const char* unit,
                      std::string& number) {
  out += label;
  AppendValueField(out, value, number);
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
  std::string number;
  AppendValueField(out, value, number);
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
  out.reserve(1024 + wires.size() * 330);
  AdviseLargePages(out.data(), out.capacity());
  std::string n;  // scratch for each formatted number
  n.reserve(64);
  AppendLine(out, "*Input File: " + header.SettingsName);
  AppendLine(out, "*Output File: " + header.SettingsName + ".doc");
  AppendLine(out, "*");
  AppendLine(out, "*Material: " + std::string(22, ' ') + p.Material);
  const auto [frequency, unit] = ScaledFrequency(p.Frequency);
  AppendNumberLine(out, "*Frequency:            ", frequency, (std::string(" ") + unit).c_str(),
                   n);
  AppendNumberLine(out, "*Wire Diameter:        ", p.WireDiameter, " Mils", n);
  AppendNumberLine(out, "*Wire Distance:        ", p.WireDistance, " Microns", n);
  AppendLine(out, "*");
  AppendNumberLine(out, "*Base Loop Height:     ", p.BaseLoopHeight, " Microns", n);
  AppendNumberLine(out, "*Base Extension:       ", p.BaseExtension, " Microns", n);
  if (header.HasStackedDie) {
    AppendLine(out, "*");
    AppendNumberLine(out, "*Stack Loop Height:    ", p.StackLoopHeight, " Microns", n);
    AppendNumberLine(out, "*Stack Extension:      ", p.StackExtension, " Microns", n);
  }
  if (header.HasStitches) {
    AppendNumberLine(out, "*Stich Extension:      ", p.StichExtension, " Microns", n);
  }
  AppendLine(out, "*");
  for (const Wire& w : wires) {
    out += "Pad: ";
    AppendLine(out, w.Name);
    AppendNumberLine(out, "  Length:              ", w.Length, " Microns", n);
    AppendNumberLine(out, "  Resistance:          ", w.Resistance, " mOhms", n);
    AppendNumberLine(out, "  Inductance DC:       ", w.InductanceDC, " nH", n);
    AppendNumberLine(out, "  Inductance AC:       ", w.InductanceAC, " nH", n);
    AppendNumberLine(out, "  Inductance Self:     ", w.InductanceSelf, " nH", n);
    AppendNumberLine(out, "  Inductance Mutual:   ", w.InductanceMutual, " nH", n);
    out += kLineBreak;
  }
  return out;
}

void WriteReport(std::ostream& out, const ReportHeader& header, const std::vector<Wire>& wires) {
  const std::string text = ReportText(header, wires);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace ostrel
