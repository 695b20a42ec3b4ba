// Fuzz target: the whole estimation on a fuzzed package, in memory: read, side ordering, wire
// spacing default, panel refresh, wire paths, resistance, inductance, the report text and the
// CSV, JSON and SVG exports (valid UTF-8 and free of the characters their formats forbid,
// whatever bytes the pad names hold).
//
// The last byte of the input picks the parameters, so that the fuzzer reaches the arithmetic
// of every loop choice:
//   0: the panel's design state (loops follow the die height, Au, 1.0 mil, 1 MHz);
//   1: the design state with the stacked extension run to the edge of the base die, Cu, 0.7 mil;
//   2: custom loops and wire taken from header values the estimation does not otherwise use
//      (SD_ROTATION base loop height, SD_XOFFSET stack loop height, SD_COMPW base extension,
//      SD_COMPL stacked extension, SD_YOFFSET stitch extension, TECHNOLOGY the frequency in Hz,
//      SD_TECHNOLOGY the wire diameter in mils);
//   3: as 2, with the stacked extension run to the edge of the base die.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"
#include "electrical/inductance.h"
#include "electrical/resistance.h"
#include "electrical/wire_spacing.h"
#include "export/exports.h"
#include "fuzz_checks.h"
#include "geometry/wire_paths.h"
#include "package/package_reader.h"
#include "package/side_ordering.h"
#include "report/report_writer.h"
#include "settings/panel.h"

namespace {

void ChooseParameters(int variant, const ostrel::Package& pkg, ostrel::PanelState& panel) {
  if (variant == 1 || variant == 3) {
    ostrel::ChooseLoopOption(panel, ostrel::kStackExtensionEdge);
  }
  if (variant == 1) {
    panel.M = 2;
    ostrel::ChooseDiameterOption(panel, 1);
    return;
  }
  if (variant < 2) return;
  for (const int option : {ostrel::kBaseHeightCustom, ostrel::kBaseExtensionCustom,
                           ostrel::kStackHeightCustom, ostrel::kStitchExtensionCustom}) {
    ostrel::ChooseLoopOption(panel, option);
  }
  if (variant == 2) ostrel::ChooseLoopOption(panel, ostrel::kStackExtensionCustom);
  panel.LHc[0] = ostrel::FormatFixed3(pkg.SdRotation);
  panel.LHc[1] = ostrel::FormatFixed3(pkg.SdXOffset);
  panel.LEc[0] = ostrel::FormatFixed3(pkg.SdCompW);
  panel.LEc[1] = ostrel::FormatFixed3(pkg.SdCompL);
  panel.LEc[2] = ostrel::FormatFixed3(pkg.SdYOffset);
  panel.FQ = ostrel::kHz;
  panel.FQc = pkg.Technology;
  ostrel::ChooseDiameterOption(panel, ostrel::kCustomDiameter);
  panel.WDc = pkg.SdTechnology;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int variant = data[size - 1] & 3;
  ostrel::Package pkg;
  ostrel::PanelState panel;
  ostrel::ParameterSet params;
  ostrel::WireList wires;
  try {
    ostrel::ParsePackage(text, pkg, "fuzz.tmv");
    ostrel::OrderSides(pkg);
    // A package without two pads on every side has no default distance; a fixed one lets the
    // later stages run on it anyway.
    try {
      panel.WtoW = ostrel::FormatFixed3(ostrel::DefaultWireDistance(pkg));
    } catch (const ostrel::StageError&) {
      panel.WtoW = "150";
    }
    ChooseParameters(variant, pkg, panel);
    std::string view;
    ostrel::UpdateVals(panel, params, {pkg.CompZ, pkg.HasStackedDie(), "fuzz.tmv", "/fuzz/fuzz.zv"},
                       view);
    wires = ostrel::BuildWirePaths(pkg, params, ostrel::fuzz::kWireMemoryBytes);
    ostrel::ComputeResistance(wires, params);
    ostrel::ComputeInductance(wires, params, pkg);
    const std::string report =
        ostrel::ReportText({"fuzz.zv", params, pkg.HasStackedDie(), !pkg.Stitches.empty()}, wires);
    ostrel::fuzz::CheckWires(wires);
    ostrel::fuzz::CheckReport(report);
    const ostrel::ExportHeader header{"fuzz.zv", "fuzz.tmv", params};
    ostrel::fuzz::CheckExportText(ostrel::CsvText(header, wires), "CSV");
    ostrel::fuzz::CheckExportText(ostrel::JsonText(header, wires), "JSON");
    ostrel::fuzz::CheckExportText(ostrel::SvgText(header, pkg, wires), "SVG");
  } catch (const ostrel::StageError& e) {
    ostrel::fuzz::CheckError(e);
  }
  return 0;
}
