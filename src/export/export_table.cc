#include "export/export_table.h"

#include <filesystem>

#include "export/ibis_package.h"
#include "export/physical_export.h"
#include "export/touchstone.h"

namespace ostrel {
namespace {

bool Never(const ExportChoices&) { return false; }
bool Always(const ExportChoices&) { return true; }
bool ForLoopSpice(const ExportChoices& choices) {
  return choices.spice_inductance == SpiceInductance::kLoop ||
         choices.spice_inductance == SpiceInductance::kPartial;
}

ExportResult Csv(const ExportSource& s, const std::string&) {
  return {CsvText(s.header, s.wires), {}};
}

ExportResult Json(const ExportSource& s, const std::string&) {
  return {JsonText(s.header, s.wires), {}};
}

ExportResult Spice(const ExportSource& s, const std::string&) {
  SpiceNetlist netlist =
      ForLoopSpice(s.choices)
          ? SpiceLoopText(s.header, s.package, s.wires, *s.model, s.choices.spice_broadband,
                          s.choices.nets,
                          // Returning through the ground wires, the loops over the plane give
                          // way to the wires alone.
                          s.choices.spice_inductance == SpiceInductance::kPartial ||
                              s.model->options.return_wires.has_value())
          : SpiceText(s.header, s.package, s.wires, s.choices.spice_inductance);
  return {std::move(netlist.Text), std::move(netlist.Notes)};
}

ExportResult Svg(const ExportSource& s, const std::string&) {
  return {SvgText(s.header, s.package, s.wires), {}};
}

// JSON, or NumPy .npz for a path ending in .npz.
ExportResult Physical(const ExportSource& s, const std::string& path) {
  ExportResult result;
  if (IsNpzPath(path)) {
    result.write = [&model = *s.model](const ByteSink& out) { WritePhysicalNpz(model, out); };
    return result;
  }
  result.text = PhysicalJsonText(*s.model);
  if (std::string advice = NpzAdvice(*s.model); !advice.empty()) {
    result.notes.push_back(std::move(advice));
  }
  return result;
}

ExportResult Ibis(const ExportSource& s, const std::string& path) {
  const std::string name = std::filesystem::path(path).filename().string();
  IbisPackage file = IbisPackageText(
      {name, s.choices.date, s.header.PackageName, s.header.SettingsName}, *s.selected);
  return {std::move(file.text), std::move(file.notes)};
}

ExportResult Touchstone(const ExportSource& s, const std::string&) {
  return {TouchstoneText({s.header.PackageName, s.header.SettingsName, s.choices.loss_tangent},
                         *s.selected, s.progress)
              .text,
          {}};
}

constexpr ExportKind kKinds[] = {
    {.option = "--csv",
     .value_name = "PATH",
     .help = "also write one CSV row per wire (full precision)",
     .needs_model = Never,
     .menu_caption = "&CSV Table...",
     .dialog_title = "Export CSV File",
     .dialog_filter = "CSV Files|*.csv|All Files|*.*",
     .suffix = "csv",
     .make = Csv},
    {.option = "--json",
     .value_name = "PATH",
     .help = "also write the parameters and wires as JSON",
     .needs_model = Never,
     .menu_caption = "&JSON...",
     .dialog_title = "Export JSON File",
     .dialog_filter = "JSON Files|*.json|All Files|*.*",
     .suffix = "json",
     .make = Json},
    {.option = "--spice",
     .value_name = "PATH",
     .help = "also write a SPICE subcircuit of the wires (R, L, K)",
     .needs_model = ForLoopSpice,
     .menu_caption = "&SPICE Subcircuit...",
     .dialog_title = "Export SPICE Subcircuit",
     .dialog_filter = "SPICE Files|*.cir|All Files|*.*",
     .suffix = "cir",
     .make = Spice},
    {.option = "--physical",
     .value_name = "PATH",
     .help = "also write the physical model as JSON, or as NumPy\n"
             "arrays when PATH ends in .npz",
     .group = ExportGroup::kPhysicalModel,
     .needs_model = Always,
     .make = Physical},
    {.option = "--ibis-pkg",
     .value_name = "PATH",
     .help = "also write an IBIS package model (.pkg, lower-case\n"
             "name): DC resistance, loop inductance, capacitance",
     .group = ExportGroup::kPhysicalModel,
     .stdout_allowed = false,
     .needs_model = Always,
     .make = Ibis},
    {.option = "--touchstone",
     .value_name = "PATH",
     .help = "also write Touchstone S-parameters of the wires' pad\n"
             "and finger ends, 50 Ohm, at the run's frequencies (at\n"
             "most 200 ports); PATH must end in .s<2N>p for its N\n"
             "wires, and the file must fit in the memory available",
     .group = ExportGroup::kPhysicalModel,
     .stdout_allowed = false,
     .needs_model = Always,
     .make = Touchstone},
    {.option = "--svg",
     .value_name = "PATH",
     .help = "also write an SVG picture: top view and side views",
     .needs_model = Never,
     .menu_caption = "S&VG Picture...",
     .dialog_title = "Export SVG Picture",
     .dialog_filter = "SVG Files|*.svg|All Files|*.*",
     .suffix = "svg",
     .make = Svg},
};

}  // namespace

std::span<const ExportKind> ExportKinds() { return kKinds; }

const ExportKind* FindExportKind(std::string_view option) {
  for (const ExportKind& kind : kKinds) {
    if (kind.option == option) return &kind;
  }
  return nullptr;
}

}  // namespace ostrel
