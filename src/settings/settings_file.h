#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "geometry/parameter_set.h"
#include "package/package_model.h"
#include "settings/panel.h"

// The settings file (".zv"): key=value lines naming the package description file and holding
// the parameter set. Lines end with CR LF.
namespace ostrel {

// The settings text: TMVFile, Material, WireDiameter, WireDistance, Frequency, BaseLoopHeight,
// BaseExtension and, with a stacked die, StackLoopHeight, StackExtension, StichExtension.
// Numbers are written "0.000"; the package file is named without its folder.
std::string SettingsText(const ParameterSet& params, const std::string& package_path,
                         bool has_stacked_die);

// Where the settings reader puts what it reads.
struct SettingsTarget {
  PanelState& panel;
  ParameterSet& params;
  std::string& package_path;
  // The package model; its die heights decide the "Default to Die Height" choices.
  const Package& package;
  // Reads the package named by `package_path` into `package` (called at the TMVFile= line).
  std::function<void()> read_package;
};

// Reads settings text into the panel controls (ReadLCR). Keys are matched upper-cased at the
// start of each line; the value is the rest of the line. A TMVFile= line names the package
// file in the settings file's folder and reads it at once. Lines that match no key, and
// WireDistance= lines, are skipped. Lines end at CR LF, a lone CR or a lone LF; a UTF-8 byte
// order mark before the first line is skipped.
// With an empty `settings_path` nothing is read; a path without a folder throws StageError.
void ReadLCR(std::string_view text, const std::string& settings_path, SettingsTarget& target);

}  // namespace ostrel
