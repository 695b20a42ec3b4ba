#include "settings/settings_file.h"

#include "base/numeric.h"
#include "base/text.h"

namespace ostrel {
namespace {

constexpr const char* kLineBreak = "\r\n";

void AppendNumberLine(std::string& out, const char* key, float value) {
  out += key;
  AppendFixed3(out, value);
  out += kLineBreak;
}

// Splits settings text at CR LF, a lone CR or a lone LF.
class SettingsLines {
 public:
  explicit SettingsLines(std::string_view text) : text_(text) {}
  bool Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const std::size_t end = text_.find_first_of("\r\n", pos_);
    if (end == std::string_view::npos) {
      line = text_.substr(pos_);
      pos_ = text_.size();
      return true;
    }
    line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    if (text_[end] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

bool MatchesKey(std::string_view line, std::string_view key) {
  if (line.size() < key.size()) return false;
  return UpperAscii(line.substr(0, key.size())) == key;
}

// Chooses "Default to Die Height" when `value` equals the die height, else "Custom", and shows
// the value in the custom box.
void ReadLoopLine(PanelState& panel, float value, float die_height, int default_option,
                  std::string& box) {
  box = FormatFixed3(value);
  ChooseLoopOption(panel, value == die_height ? default_option : default_option + 1);
}

void ReadFrequencyLine(PanelState& panel, float hz) {
  if (hz < 1000.0f) {
    panel.FQ = kHz;
    panel.FQc = FormatGeneral(hz, 7);
  } else if (hz >= 1e9f) {
    panel.FQ = kGhz;
    panel.FQc = FormatGeneral(Wide(hz) / 1e9, 15);
  } else if (hz >= 1e6f) {
    panel.FQ = kMhz;
    panel.FQc = FormatGeneral(Wide(hz) / 1e6, 15);
  } else {
    panel.FQ = kKhz;
    panel.FQc = FormatGeneral(static_cast<float>(Wide(hz) / 1000.0), 7);
  }
}

}  // namespace

std::string SettingsText(const ParameterSet& params, const std::string& package_path,
                         bool has_stacked_die) {
  std::string out;
  out += "TMVFile=" + FileNameOf(package_path) + kLineBreak;
  out += "Material=" + params.Material + kLineBreak;
  AppendNumberLine(out, "WireDiameter=", params.WireDiameter);
  AppendNumberLine(out, "WireDistance=", params.WireDistance);
  AppendNumberLine(out, "Frequency=", params.Frequency);
  AppendNumberLine(out, "BaseLoopHeight=", params.BaseLoopHeight);
  AppendNumberLine(out, "BaseExtension=", params.BaseExtension);
  if (has_stacked_die) {
    AppendNumberLine(out, "StackLoopHeight=", params.StackLoopHeight);
    AppendNumberLine(out, "StackExtension=", params.StackExtension);
    AppendNumberLine(out, "StichExtension=", params.StichExtension);
  }
  return out;
}

void ReadLCR(std::string_view text, const std::string& settings_path, SettingsTarget& target) {
  if (settings_path.empty()) return;
  const std::string folder = FolderOf(settings_path);
  PanelState& panel = target.panel;
  ParameterSet& params = target.params;
  const Package& package = target.package;
  std::string scratch;
  SettingsLines lines(AsLineText(text, scratch));
  std::string_view line;
  while (lines.Next(line)) {
    if (MatchesKey(line, "TMVFILE=")) {
      target.package_path = folder + std::string(line.substr(8));
      target.read_package();
    } else if (MatchesKey(line, "MATERIAL=")) {
      params.Material = std::string(line.substr(line.size() - 2));
      const std::string m = UpperAscii(params.Material);
      if (m == "AU") panel.M = 0;
      if (m == "AL") panel.M = 1;
      if (m == "CU") panel.M = 2;
    } else if (MatchesKey(line, "WIREDIAMETER=")) {
      const std::string_view value = line.substr(13);
      panel.WDc = std::string(value);
      const float d = ParseNumber(value);
      params.WireDiameter = d;
      int option = kCustomDiameter;
      if (d == 0.5f) option = 0;
      if (d == 0.7f) option = 1;
      if (d == 0.8f) option = 2;
      if (d == 1.0f) option = 3;
      if (d == 1.25f) option = 4;
      if (d == 1.5f) option = 5;
      ChooseDiameterOption(panel, option);
    } else if (MatchesKey(line, "FREQUENCY=")) {
      params.Frequency = ParseNumber(line.substr(10));
      ReadFrequencyLine(panel, params.Frequency);
    } else if (MatchesKey(line, "BASELOOPHEIGHT=")) {
      params.BaseLoopHeight = ParseNumber(line.substr(15));
      ReadLoopLine(panel, params.BaseLoopHeight, package.CompZ, kBaseHeightDefault, panel.LHc[0]);
    } else if (MatchesKey(line, "BASEEXTENSION=")) {
      params.BaseExtension = ParseNumber(line.substr(14));
      ReadLoopLine(panel, params.BaseExtension, package.CompZ, kBaseExtensionDefault, panel.LEc[0]);
    } else if (MatchesKey(line, "STACKLOOPHEIGHT=")) {
      params.StackLoopHeight = ParseNumber(line.substr(16));
      ReadLoopLine(panel, params.StackLoopHeight, package.SdCompZ, kStackHeightDefault,
                   panel.LHc[1]);
    } else if (MatchesKey(line, "STACKEXTENSION=")) {
      const float value = ParseNumber(line.substr(15));
      params.StackExtension = value;
      panel.LEc[1] = FormatFixed3(value);
      if (value == package.SdCompZ) {
        ChooseLoopOption(panel, kStackExtensionDefault);
      } else if (value == kEdgeOfBaseDie) {
        ChooseLoopOption(panel, kStackExtensionEdge);
        panel.LEc[1] = FormatFixed3(package.SdCompZ);
      } else {
        ChooseLoopOption(panel, kStackExtensionCustom);
      }
    } else if (MatchesKey(line, "STICHEXTENSION=")) {
      params.StichExtension = ParseNumber(line.substr(15));
      ReadLoopLine(panel, params.StichExtension, package.SdCompZ, kStitchExtensionDefault,
                   panel.LEc[2]);
    }
  }
}

}  // namespace ostrel
