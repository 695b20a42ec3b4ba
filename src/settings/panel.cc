#include "settings/panel.h"

#include "base/numeric.h"
#include "base/stage_error.h"
#include "base/text.h"
#include "settings/settings_file.h"

namespace ostrel {
namespace {

constexpr const char* kMaterials[] = {"Au", "Al", "Cu"};
constexpr float kDiameters[] = {0.5f, 0.7f, 0.8f, 1.0f, 1.25f, 1.5f};

// The custom box that a loop option's group switches, or nullptr.
bool* CustomBoxEnabled(PanelState& panel, int i) {
  switch (LoopGroup(i).first) {
    case kBaseHeightDefault:
      return &panel.LHcEnabled[0];
    case kBaseExtensionDefault:
      return &panel.LEcEnabled[0];
    case kStackExtensionDefault:
      return &panel.LEcEnabled[1];
    case kStackHeightDefault:
      return &panel.LHcEnabled[1];
    case kStitchExtensionDefault:
      return &panel.LEcEnabled[2];
    default:
      return nullptr;
  }
}

// Sets `value` from a loop group: CompZ for its "Default to Die Height" option, the box for
// "Custom"; no chosen option leaves it as it is.
void ReadLoopGroup(const PanelState& panel, int default_option, int custom_option,
                   const std::string& box, float comp_z, float& value) {
  if (panel.LH[static_cast<std::size_t>(default_option)]) {
    value = comp_z;
  } else if (panel.LH[static_cast<std::size_t>(custom_option)]) {
    value = ParseNumber(box);
  }
}

void SetEnabling(PanelState& panel, const PanelContext& context) {
  const bool loaded = context.CompZ != 0.0f;
  panel.FrameEnabled.fill(loaded);
  panel.MEnabled = panel.WDEnabled = panel.FQEnabled = loaded;
  panel.LHEnabled.fill(loaded);
  if (!loaded) {
    panel.WDcEnabled = false;
    panel.LHcEnabled.fill(false);
    panel.LEcEnabled.fill(false);
    panel.FrameEnabled[5] = true;  // the Work Path frame stays usable
    return;
  }
  panel.WDcEnabled = panel.WD == kCustomDiameter;
  panel.LHcEnabled[0] = panel.LH[kBaseHeightCustom];
  panel.LEcEnabled[0] = panel.LH[kBaseExtensionCustom];
  const bool stacked = context.HasStackedDie;
  panel.LHcEnabled[1] = stacked && panel.LH[kStackHeightCustom];
  panel.LEcEnabled[1] = stacked && panel.LH[kStackExtensionCustom];
  panel.LEcEnabled[2] = stacked && panel.LH[kStitchExtensionCustom];
  for (int i = kStackExtensionDefault; i < kLoopOptionCount; ++i) {
    panel.LHEnabled[static_cast<std::size_t>(i)] = stacked;
  }
  panel.FrameEnabled[7] = panel.FrameEnabled[8] = panel.FrameEnabled[9] = stacked;
}

}  // namespace

std::pair<int, int> LoopGroup(int i) {
  if (i < kBaseExtensionDefault) return {kBaseHeightDefault, kBaseExtensionDefault};
  if (i < kStackExtensionDefault) return {kBaseExtensionDefault, kStackExtensionDefault};
  if (i < kStackHeightDefault) return {kStackExtensionDefault, kStackHeightDefault};
  if (i < kStitchExtensionDefault) return {kStackHeightDefault, kStitchExtensionDefault};
  return {kStitchExtensionDefault, kLoopOptionCount};
}

void ChooseLoopOption(PanelState& panel, int i) {
  if (i < 0 || i >= kLoopOptionCount) return;
  const auto [first, last] = LoopGroup(i);
  for (int k = first; k < last; ++k) panel.LH[static_cast<std::size_t>(k)] = k == i;
  const bool custom = i == kBaseHeightCustom || i == kBaseExtensionCustom ||
                      i == kStackExtensionCustom || i == kStackHeightCustom ||
                      i == kStitchExtensionCustom;
  *CustomBoxEnabled(panel, i) = custom;
}

void ChooseDiameterOption(PanelState& panel, int i) {
  panel.WD = i;
  panel.WDcEnabled = i == kCustomDiameter;
}

void UpdateVals(PanelState& panel, ParameterSet& params, const PanelContext& context,
                std::string& view_text) {
  if (panel.M >= 0 && panel.M < 3) params.Material = kMaterials[panel.M];
  if (panel.WD >= 0 && panel.WD < kCustomDiameter) {
    params.WireDiameter = kDiameters[panel.WD];
  } else if (panel.WD == kCustomDiameter) {
    params.WireDiameter = ParseNumber(panel.WDc);
  }
  const float z = context.CompZ;
  ReadLoopGroup(panel, kBaseHeightDefault, kBaseHeightCustom, panel.LHc[0], z,
                params.BaseLoopHeight);
  ReadLoopGroup(panel, kBaseExtensionDefault, kBaseExtensionCustom, panel.LEc[0], z,
                params.BaseExtension);
  if (panel.LH[kStackExtensionEdge]) {
    params.StackExtension = kEdgeOfBaseDie;
  } else {
    ReadLoopGroup(panel, kStackExtensionDefault, kStackExtensionCustom, panel.LEc[1], z,
                  params.StackExtension);
  }
  ReadLoopGroup(panel, kStackHeightDefault, kStackHeightCustom, panel.LHc[1], z,
                params.StackLoopHeight);
  ReadLoopGroup(panel, kStitchExtensionDefault, kStitchExtensionCustom, panel.LEc[2], z,
                params.StichExtension);
  double factor = 0;
  switch (panel.FQ) {
    case kHz:
      factor = 1;
      break;
    case kKhz:
      factor = 1e3;
      break;
    case kMhz:
      factor = 1e6;
      break;
    case kGhz:
      factor = 1e9;
      break;
    default:
      break;
  }
  if (factor != 0) {
    try {
      params.Frequency = ToSingle(Wide(ParseNumber(panel.FQc)) * factor);
    } catch (const StageError&) {
      throw StageError("the frequency " + panel.FQc + " x " + FormatGeneral(factor, 7) +
                       " Hz is too large to store as a single; the Frequency= value must be "
                       "below 3.4e38 Hz");
    }
  }
  params.WireDistance = ParseNumber(panel.WtoW);

  SetEnabling(panel, context);
  if (context.CompZ != 0.0f) {
    view_text = SettingsText(params, context.PackagePath, context.HasStackedDie);
  }
  panel.CMDEnabled[kProcessData] = ProcessDataBlockers(params, context.PackagePath).empty();
  panel.CMDEnabled[kSave] = !context.SettingsPath.empty();
}

std::vector<std::string> ProcessDataBlockers(const ParameterSet& params,
                                             const std::string& package_path) {
  std::vector<std::string> reasons;
  if (package_path.empty()) {
    reasons.push_back(
        "no package description file is named: the settings file needs a "
        "TMVFile= line");
  }
  auto check = [&reasons](float value, const char* what) {
    if (!(value > 0.0f)) {
      reasons.push_back(std::string(what) + " is " + FormatFixed3(value) + ", it must be above 0");
    }
  };
  check(params.WireDiameter, "the wire diameter (WireDiameter=)");
  check(params.BaseLoopHeight, "the base loop height (BaseLoopHeight=)");
  check(params.StackLoopHeight, "the stack loop height (StackLoopHeight=)");
  check(params.Frequency, "the frequency (Frequency=)");
  return reasons;
}

}  // namespace ostrel
