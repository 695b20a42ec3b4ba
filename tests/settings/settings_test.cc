#include <gtest/gtest.h>

#include "base/stage_error.h"
#include "settings/panel.h"
#include "settings/settings_file.h"

namespace ostrel {
namespace {

// A panel, parameter set and package that the settings reader writes into; the package read at
// the TMVFile= line gives the die heights 200 and 150 and one stacked pad.
struct Fixture {
  PanelState panel;
  ParameterSet params;
  std::string package_path;
  Package package;
  int package_reads = 0;

  void Read(const std::string& text, const std::string& settings_path = "/work/x.zv") {
    SettingsTarget target{panel, params, package_path, package, [this] {
                            ++package_reads;
                            package.CompZ = 200;
                            package.SdCompZ = 150;
                            package.StackPads.resize(1);
                          }};
    ReadLCR(text, settings_path, target);
  }
};

TEST(ReadLCRTest, KeysSelectOptionsAndFillBoxes) {
  Fixture f;
  f.panel.M = 1;
  f.Read(
      "TMVFile=sub/p.tmv\r\n"
      "material=cu\r\n"
      "WireDiameter=0.70\r\n"
      "WireDistance=999\r\n"
      "FREQUENCY=2450000128.000\r"
      "BaseLoopHeight=200.000\n"
      "BaseExtension=250.000\r\n"
      "StackLoopHeight=150,000\r\n"
      "StackExtension=-1.000\r\n"
      "StichExtension=200.000\r\n"
      "junk line\r\n");
  EXPECT_EQ(f.package_reads, 1);
  EXPECT_EQ(f.package_path, "/work/sub/p.tmv");
  EXPECT_EQ(f.panel.M, 2);
  EXPECT_EQ(f.params.Material, "cu");
  EXPECT_EQ(f.panel.WD, 1);
  EXPECT_EQ(f.panel.WDc, "0.70");
  EXPECT_EQ(f.panel.FQ, kGhz);
  EXPECT_EQ(f.panel.FQc, "2.450000128");
  EXPECT_TRUE(f.panel.LEcEnabled[0]);
  EXPECT_EQ(f.params.WireDistance, 0.0f);  // never read back
}

// A loop line chooses "Default to Die Height" when its value equals the height of its own die
// (base die 200 for the base loop, stacked die 150 for the stacked and stitch loops), otherwise
// Custom; the box shows the value. StackExtension=-1 is the edge of the base die.
TEST(ReadLCRTest, LoopLinesCompareWithTheirOwnDie) {
  const auto lhc = [](PanelState& p, std::size_t i) -> std::string& { return p.LHc[i]; };
  const auto lec = [](PanelState& p, std::size_t i) -> std::string& { return p.LEc[i]; };
  struct Case {
    std::string line;
    int option;
    bool extension;  // box in LEc, else LHc
    std::size_t box;
    std::string text;
  };
  const Case cases[] = {
      {"BaseLoopHeight=200", kBaseHeightDefault, false, 0, "200.000"},
      {"BaseLoopHeight=150", kBaseHeightCustom, false, 0, "150.000"},
      {"BaseExtension=200", kBaseExtensionDefault, true, 0, "200.000"},
      {"BaseExtension=250", kBaseExtensionCustom, true, 0, "250.000"},
      {"StackLoopHeight=150", kStackHeightDefault, false, 1, "150.000"},
      {"StackLoopHeight=200", kStackHeightCustom, false, 1, "200.000"},
      {"StackExtension=150", kStackExtensionDefault, true, 1, "150.000"},
      {"StackExtension=200", kStackExtensionCustom, true, 1, "200.000"},
      {"StackExtension=-1", kStackExtensionEdge, true, 1, "150.000"},
      {"StichExtension=150", kStitchExtensionDefault, true, 2, "150.000"},
      {"StichExtension=200", kStitchExtensionCustom, true, 2, "200.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Fixture f;
    f.Read("TMVFile=p.tmv\r\n" + c.line + "\r\n");
    const auto [first, last] = LoopGroup(c.option);
    for (int i = first; i < last; ++i) EXPECT_EQ(f.panel.LH[i], i == c.option) << i;
    EXPECT_EQ((c.extension ? lec : lhc)(f.panel, c.box), c.text);
  }
}

TEST(ReadLCRTest, FrequencyBoxAndUnit) {
  struct Row {
    std::string value;
    int unit;
    std::string box;
  };
  const Row rows[] = {
      {"999.5", kHz, "999.5"},
      {"1000", kKhz, "1"},
      {"1000000", kMhz, "1"},
      {"2400000000.000", kGhz, "2.4"},
      {"433920.000", kKhz, "433.92"},
      {"2500000.000", kMhz, "2.5"},
      {"0", kHz, "0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    Fixture f;
    f.Read("Frequency=" + row.value + "\r\n");
    EXPECT_EQ(f.panel.FQ, row.unit);
    EXPECT_EQ(f.panel.FQc, row.box);
  }
}

TEST(ReadLCRTest, MaterialAndDiameterEdgeCases) {
  Fixture f;
  f.panel.M = 1;
  f.Read("Material=Au \r\nWireDiameter=2\r\n");
  EXPECT_EQ(f.panel.M, 1);  // "u " selects nothing
  EXPECT_EQ(f.panel.WD, kCustomDiameter);
  EXPECT_TRUE(f.panel.WDcEnabled);
  EXPECT_EQ(f.panel.WDc, "2");
  // Loop lines before the package line compare with the heights known then (0 here).
  Fixture g;
  g.Read("BaseLoopHeight=0\r\nTMVFile=p.tmv\r\nBaseExtension=0\r\n");
  EXPECT_TRUE(g.panel.LH[kBaseHeightDefault]);
  EXPECT_TRUE(g.panel.LH[kBaseExtensionCustom]);
}

TEST(ReadLCRTest, SettingsPathRules) {
  Fixture f;
  f.Read("TMVFile=p.tmv\r\n", "");
  EXPECT_EQ(f.package_reads, 0);
  EXPECT_THROW(f.Read("TMVFile=p.tmv\r\n", "x.zv"), StageError);
  EXPECT_EQ(f.package_reads, 0);
}

TEST(PanelTest, RefreshMapsControlsToParameters) {
  struct Row {
    std::string box;
    int unit;
    float hz;
  };
  const Row rows[] = {{"2.4", kGhz, 2400000000.0f},
                      {"1", kKhz, 1000.0f},
                      {"1,5", kMhz, 1500000.0f},
                      {"2.45", kGhz, 2450000128.0f},
                      {"433.92", kKhz, 433920.0f}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.box);
    PanelState panel;
    ParameterSet params;
    std::string view;
    panel.FQc = row.box;
    panel.FQ = row.unit;
    UpdateVals(panel, params, {200, false, "/w/p.tmv", "/w/x.zv"}, view);
    EXPECT_EQ(params.Frequency, row.hz);
  }
  PanelState panel;
  ParameterSet params;
  std::string view = "kept";
  panel.FQc = "1e30";
  panel.FQ = kGhz;
  EXPECT_THROW(UpdateVals(panel, params, {}, view), StageError);
}

TEST(PanelTest, RefreshWithAndWithoutPackage) {
  PanelState panel;
  ParameterSet params;
  std::string view = "kept";
  UpdateVals(panel, params, {0, false, "", ""}, view);
  EXPECT_EQ(view, "kept");
  EXPECT_EQ(params.Material, "Au");
  EXPECT_EQ(params.WireDiameter, 1.0f);
  EXPECT_EQ(params.Frequency, 1e6f);
  for (int i = 0; i < kFrameCount; ++i) EXPECT_EQ(panel.FrameEnabled[i], i == 5) << i;
  EXPECT_FALSE(panel.MEnabled || panel.WDEnabled || panel.FQEnabled);
  EXPECT_FALSE(panel.CMDEnabled[kProcessData]);
  EXPECT_FALSE(panel.CMDEnabled[kSave]);

  // A package without a stacked die: the stacked rows are off but still give their values.
  ChooseLoopOption(panel, kStackExtensionEdge);
  ChooseDiameterOption(panel, kCustomDiameter);
  panel.WDc = "";
  UpdateVals(panel, params, {200, false, "/w/p.tmv", "/w/x.zv"}, view);
  EXPECT_EQ(params.WireDiameter, 0.0f);
  EXPECT_FALSE(panel.CMDEnabled[kProcessData]);
  EXPECT_TRUE(panel.CMDEnabled[kSave]);
  EXPECT_TRUE(panel.WDcEnabled);
  EXPECT_EQ(params.StackExtension, -1.0f);
  EXPECT_EQ(params.StackLoopHeight, 200.0f);  // "Default to Die Height" is the base die height
  EXPECT_FALSE(panel.LHEnabled[kStackExtensionDefault]);
  EXPECT_TRUE(panel.LHEnabled[kBaseExtensionCustom]);
  EXPECT_FALSE(panel.FrameEnabled[8]);
  EXPECT_EQ(view,
            "TMVFile=p.tmv\r\nMaterial=Au\r\nWireDiameter=0.000\r\nWireDistance=0.000\r\n"
            "Frequency=1000000.000\r\nBaseLoopHeight=200.000\r\nBaseExtension=200.000\r\n");

  panel.WDc = "1.5";
  panel.WtoW = "150";
  UpdateVals(panel, params, {200, true, "/w/p.tmv", ""}, view);
  EXPECT_TRUE(panel.CMDEnabled[kProcessData]);
  EXPECT_FALSE(panel.CMDEnabled[kSave]);
  EXPECT_TRUE(panel.FrameEnabled[9]);
  EXPECT_FALSE(panel.LEcEnabled[1]);  // "Edge of Base Die" keeps the box off
  EXPECT_EQ(view.substr(view.find("WireDistance")),
            "WireDistance=150.000\r\nFrequency=1000000.000\r\n"
            "BaseLoopHeight=200.000\r\nBaseExtension=200.000\r\nStackLoopHeight=200.000\r\n"
            "StackExtension=-1.000\r\nStichExtension=200.000\r\n");
}

TEST(PanelTest, BlockersNameEachCause) {
  ParameterSet p;
  p.WireDiameter = 1;
  p.BaseLoopHeight = 1;
  p.StackLoopHeight = 1;
  p.Frequency = 1;
  EXPECT_TRUE(ProcessDataBlockers(p, "/p.tmv").empty());
  p.StackLoopHeight = 0;
  p.Frequency = -5;
  const auto reasons = ProcessDataBlockers(p, "");
  ASSERT_EQ(reasons.size(), 3u);
  EXPECT_NE(reasons[0].find("TMVFile="), std::string::npos);
  EXPECT_NE(reasons[1].find("StackLoopHeight="), std::string::npos);
  EXPECT_NE(reasons[2].find("-5.000"), std::string::npos);
}

TEST(SettingsRoundTripTest, SaveThenLoadGivesTheValuesBack) {
  Fixture f;
  f.Read("TMVFile=p.tmv\r\n");
  f.panel.M = 2;
  ChooseDiameterOption(f.panel, kCustomDiameter);
  f.panel.WDc = "1.3";
  ChooseLoopOption(f.panel, kBaseHeightCustom);
  f.panel.LHc[0] = "123.4567";
  ChooseLoopOption(f.panel, kStackExtensionCustom);
  f.panel.LEc[1] = "77";
  f.panel.FQ = kGhz;
  f.panel.FQc = "2.45";
  std::string saved;
  UpdateVals(f.panel, f.params, {200, true, f.package_path, "/work/x.zv"}, saved);

  Fixture g;
  g.Read(saved);
  std::string again;
  UpdateVals(g.panel, g.params, {200, true, g.package_path, "/work/x.zv"}, again);
  EXPECT_EQ(again, saved);
  EXPECT_EQ(g.params.BaseLoopHeight, 123.457f);
  EXPECT_EQ(g.panel.FQc, "2.450000128");
}

}  // namespace
}  // namespace ostrel
