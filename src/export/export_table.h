#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "export/exports.h"
#include "physical/physical_model.h"

// Every file a run can export, one row each: the ostrel-cli option that asks for it and its
// help, the window's Export menu entry and file dialog, and how its text is made. ostrel-cli's
// options, its --help (and so its manual page and bash completion) and the window's menu are all
// read from these rows: a new export is its writer plus one row.
namespace ostrel {

// The choices of a run that shape some exports.
struct ExportChoices {
  SpiceInductance spice_inductance = SpiceInductance::kAc;
  bool spice_broadband = false;  // loop SPICE: R-L ladders and capacitances
  std::string nets;              // wire name patterns of the package models (empty: every wire)
  double loss_tangent = 0;       // of the dielectric, for Touchstone
  std::string date;              // YYYY-MM-DD, for the IBIS header
};

// What the exports of one estimation are made from.
struct ExportSource {
  const ExportHeader& header;
  const Package& package;
  const WireList& wires;
  const ExportChoices& choices;
  // The physical model of the wires, when an export asked for needs it; `selected` is it with
  // only the wires that `choices.nets` chooses (the model itself when it is empty).
  const physical::Model* model = nullptr;
  const physical::Model* selected = nullptr;
  physical::Progress progress{};  // hears a long computation
};

// An export's text and what the user should know about it, one sentence per note. A large
// binary file is instead written piece by piece, while it is made, by `write` (then set, and
// `text` empty): it reads the ExportSource's model, which must outlive it.
struct ExportResult {
  std::string text;
  std::vector<std::string> notes;
  std::function<void(const std::function<void(std::string_view)>& out)> write{};
};

// The part of the help an export is listed in.
enum class ExportGroup { kEstimation, kPhysicalModel };

struct ExportKind {
  std::string_view option;      // "--csv"
  std::string_view value_name;  // "PATH"
  std::string_view help;        // its lines in the help, without the option column
  ExportGroup group = ExportGroup::kEstimation;
  bool stdout_allowed = true;                           // a PATH of - is standard output
  bool (*needs_model)(const ExportChoices&) = nullptr;  // needs the physical model
  // The window's Export menu: its caption and the file dialog's title, filter and file name
  // suffix. An empty caption: not offered by the window.
  std::string_view menu_caption{}, dialog_title{}, dialog_filter{}, suffix{};
  // The text for the file `path` (an IBIS file is named inside). Throws StageError.
  ExportResult (*make)(const ExportSource& source, const std::string& path) = nullptr;
};

// Every export, in the order a run makes them and lists their paths.
std::span<const ExportKind> ExportKinds();

// The export asked for by `option`, or nullptr.
const ExportKind* FindExportKind(std::string_view option);

}  // namespace ostrel
