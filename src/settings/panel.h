#pragma once

#include <array>
#include <string>
#include <vector>

#include "geometry/parameter_set.h"

// The parameter panel's state — chosen options, box texts and enabled states — and its refresh
// UpdateVals, which turns the controls into the parameter set. The window only mirrors this.
namespace ostrel {

// Indices of the loop options LH, one array over five groups.
enum LoopOption : int {
  kBaseHeightDefault = 0,
  kBaseHeightCustom = 1,
  kBaseExtensionDefault = 2,
  kBaseExtensionCustom = 3,
  kStackExtensionDefault = 4,
  kStackExtensionEdge = 5,
  kStackExtensionCustom = 6,
  kStackHeightDefault = 7,
  kStackHeightCustom = 8,
  kStitchExtensionDefault = 9,
  kStitchExtensionCustom = 10,
};
inline constexpr int kLoopOptionCount = 11;

// Frequency unit options FQ: 3 "hz", 0 "Khz", 1 "Mhz", 2 "Ghz".
enum FrequencyOption : int { kKhz = 0, kMhz = 1, kGhz = 2, kHz = 3 };
inline constexpr int kCustomDiameter = 6;  // WD(6) "Custom"

// The commands CMD(0..4).
enum Command : int { kLoad = 0, kCancel = 1, kProcessData = 2, kReset = 3, kSave = 4 };

// Frames F(0..9): 0 Material, 1 Wire Diameter, 2 Base Loop Height, 3 Frequency, 4 (no
// parameter), 5 Work Path, 6 Base Loop Extension, 7 Stitch Loop Extension, 8 Stack Loop Height,
// 9 Stacked Loop Extension.
inline constexpr int kFrameCount = 10;

struct PanelState {
  // Chosen option of each group (-1: none chosen).
  int M = 0;   // material: 0 "Au", 1 "Al", 2 "Cu"
  int WD = 3;  // diameter: 0.5, 0.7, 0.8, 1.0, 1.25, 1.5, Custom
  int FQ = kMhz;
  std::array<bool, kLoopOptionCount> LH{true,  false, true,  false, true, false,
                                        false, true,  false, true,  false};
  // Box texts.
  std::string WDc = "1";
  std::string FQc = "1";
  std::array<std::string, 2> LHc;  // custom base / stack loop height
  std::array<std::string, 3> LEc;  // custom base / stacked / stitch loop extension
  std::string WtoW;                // wire-to-wire distance
  // Enabled states.
  std::array<bool, kFrameCount> FrameEnabled{true, true, true, true, true,
                                             true, true, true, true, true};
  bool MEnabled = true, WDEnabled = true, FQEnabled = true;
  std::array<bool, kLoopOptionCount> LHEnabled{true, true, true, true, true, true,
                                               true, true, true, true, true};
  bool WDcEnabled = false, FQcEnabled = true;
  std::array<bool, 2> LHcEnabled{};
  std::array<bool, 3> LEcEnabled{};
  std::array<bool, 5> CMDEnabled{true, true, true, true, true};

  bool operator==(const PanelState&) const = default;
};

// First and one-past-last LH index of the group that option `i` belongs to.
std::pair<int, int> LoopGroup(int i);

// Makes LH(i) the chosen option of its group and switches its group's custom box (enabled only
// for a "Custom" option), as a click on it does. The caller refreshes.
void ChooseLoopOption(PanelState& panel, int i);

// Makes WD(i) the chosen diameter and enables the custom box only for "Custom", as a click does
// (the refresh follows when the mouse button is released).
void ChooseDiameterOption(PanelState& panel, int i);

// What the refresh needs besides the controls.
struct PanelContext {
  float CompZ = 0;             // base die height; 0 while no package is loaded
  bool HasStackedDie = false;  // the package has stacked-die pads
  std::string PackagePath;
  std::string SettingsPath;
};

// The panel refresh: reads every control into `params` (a group with no chosen option leaves
// its parameter as it is), sets the enabled states, and — while a package is loaded — puts the
// settings text into `view_text`. Throws StageError when the frequency is too large for a single.
void UpdateVals(PanelState& panel, ParameterSet& params, const PanelContext& context,
                std::string& view_text);

// Why Process Data is disabled for these parameters: one sentence per cause, none when enabled.
std::vector<std::string> ProcessDataBlockers(const ParameterSet& params,
                                             const std::string& package_path);

}  // namespace ostrel
