#include "geometry/wire_paths.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "base/stage_error.h"

namespace ostrel {
namespace {

BondPad PadWithWire(const std::string& name, float x1, float y1, float z1, float x2, float y2,
                    float z2) {
  BondPad pad;
  pad.Name = name;
  pad.BondX1 = x1;
  pad.BondY1 = y1;
  pad.BondZ1 = z1;
  pad.BondX2 = x2;
  pad.BondY2 = y2;
  pad.BondZ2 = z2;
  return pad;
}

TEST(WirePathsTest, BaseDieWireIsCutIntoPiecesOfTheCutLength) {
  Package pkg;
  pkg.CompZ = 200;
  pkg.ChipPads.push_back(PadWithWire("P1", 100, 0, 200, 1100, 0, 0));
  ParameterSet params;
  params.BaseLoopHeight = 100;
  params.BaseExtension = 200;
  const WireList wires = BuildWirePaths(pkg, params);
  ASSERT_EQ(wires.size(), 1u);
  const Wire& w = wires[0];
  ASSERT_EQ(w.Segments.size(), 8u);
  const float expected[][3] = {{100, 0, 200},       {100, 0, 240},     {110, 0, 260},
                               {120, 0, 280},       {160, 0, 300},     {300, 0, 300},
                               {580.90, 0, 194.66}, {861.80, 0, 89.33}};
  for (std::size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(w.Segments[i].X1, expected[i][0], 0.01);
    EXPECT_EQ(w.Segments[i].Y1, 0.0f);
    EXPECT_NEAR(w.Segments[i].Z1, expected[i][2], 0.01);
    if (i > 0) EXPECT_EQ(w.Segments[i].X1, w.Segments[i - 1].X2);
  }
  EXPECT_EQ(w.Segments[7].X2, 1100.0f);
  EXPECT_EQ(w.Segments[7].Z2, 0.0f);
  PathPoint a{w.Segments[7].X1, w.Segments[7].Y1, w.Segments[7].Z1};
  PathPoint b{w.Segments[7].X2, w.Segments[7].Y2, w.Segments[7].Z2};
  EXPECT_NEAR(PointDistance(a, b), 254.40, 0.01);
}

// Paths are made without the checks first; that pass must give the checked pass's points bit
// for bit. A wire at a slant (its x and y direction both fractions) and random wires of every
// side, length, loop and cut.
TEST(WirePathsTest, ThePassWithoutChecksGivesTheCheckedPoints) {
  struct Ends {
    float x1, y1, z1, x2, y2, z2, height, extension, cut;
  };
  std::vector<Ends> wires = {{-20976.25f, 31.25f, 200, -21686.25f, 46.25f, 0, 200, 250, 400}};
  std::mt19937 random(11);
  std::uniform_real_distribution<float> at(-30000, 30000), reach(-2000, 2000), height(0, 600);
  for (int i = 0; i < 20000; ++i) {
    const float x = at(random), y = at(random);
    wires.push_back({x, y, height(random), x + reach(random), y + reach(random), height(random),
                     height(random) + 1, height(random), height(random) + 50});
  }
  for (const Ends& w : wires) {
    const auto path = [&](auto arithmetic) {
      return WirePathPoints<decltype(arithmetic)>(w.x1, w.y1, w.z1, w.x2, w.y2, w.z2, w.height,
                                                  w.extension, w.cut);
    };
    const std::vector<PathPoint> checked = path(CheckedArithmetic{});
    const std::vector<PathPoint> unchecked = path(UncheckedArithmetic{});
    ASSERT_EQ(unchecked.size(), checked.size());
    for (std::size_t k = 0; k < checked.size(); ++k) {
      SCOPED_TRACE(testing::Message() << "wire from " << w.x1 << ", " << w.y1 << " point " << k);
      ASSERT_EQ(std::bit_cast<std::uint32_t>(unchecked[k].X),
                std::bit_cast<std::uint32_t>(checked[k].X));
      ASSERT_EQ(std::bit_cast<std::uint32_t>(unchecked[k].Y),
                std::bit_cast<std::uint32_t>(checked[k].Y));
      ASSERT_EQ(std::bit_cast<std::uint32_t>(unchecked[k].Z),
                std::bit_cast<std::uint32_t>(checked[k].Z));
    }
  }
}

TEST(WirePathsTest, KindsOrderNamesAndSkippedPads) {
  Package pkg;
  pkg.CompZ = 200;
  pkg.SdCompZ = 150;
  pkg.StackPads.push_back(PadWithWire("S1", 0, 100, 350, 0, 300, 0));
  pkg.ChipPads.push_back(PadWithWire("NoWire", 0, 0, 200, 500, 500, 0));
  pkg.ChipPads.push_back(PadWithWire("P1", 10, 10, 200, 500, 500, 0));
  Stitch s;
  s.Pad1 = "A1";
  s.Pad2 = "B7";
  s.X2 = 300;  // a stitch at (0, 0) is still built
  pkg.Stitches.push_back(s);
  ParameterSet params;
  params.BaseLoopHeight = 0.5f;  // raised to 1 for base-die wires
  params.StackLoopHeight = 100;
  params.StackExtension = 50;
  params.StichExtension = 0;
  const WireList wires = BuildWirePaths(pkg, params);
  ASSERT_EQ(wires.size(), 3u);
  EXPECT_EQ(wires[0].Name, "P1");
  EXPECT_FALSE(wires[0].StackWire || wires[0].StitchWire);
  EXPECT_EQ(wires[0].Segments[4].Z2, 201.0f);  // loop height 1 over the pad
  EXPECT_EQ(wires[1].Name, "S1");
  EXPECT_TRUE(wires[1].StackWire);
  EXPECT_EQ(wires[2].Name, "(A1:B7)");
  EXPECT_TRUE(wires[2].StitchWire);
  // Package (0, 100) to (0, 300) runs along -Y in the path frame.
  EXPECT_EQ(wires[1].Segments[4].X2, 0.0f);
  EXPECT_EQ(wires[1].Segments[4].Y2, -150.0f);
  // Extension 0: points 1 to 5 stand straight above the start.
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(wires[2].Segments[i].X2, 0.0f);
  EXPECT_EQ(wires[2].Segments.size(), 6u);  // final run of 300 is not longer than S = 400
}

TEST(WirePathsTest, EdgeOfBaseDieExtension) {
  Package pkg;
  pkg.CompW = 2000;
  pkg.CompL = 2000;
  struct Row {
    std::string side;
    float bx, by, fx, fy, extension;
  };
  const Row rows[] = {
      {"L", -900, 0, -1500, 0, 100}, {"T", 50, 900, 50, 1500, 100}, {"r", 900, 0, 1500, 0, 100},
      {"B", 0, -600, 0, -1500, 400}, {"X", -900, 0, -1500, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.side);
    BondPad pad = PadWithWire("S", row.bx, row.by, 350, row.fx, row.fy, 0);
    pad.Side = row.side;
    pad.FingerX = row.fx;
    pad.FingerY = row.fy;
    EXPECT_EQ(EdgeOfBaseDieExtension(pad, pkg), row.extension);
  }
  BondPad level = PadWithWire("S", -900, 0, 350, -1500, 0, 0);
  level.Side = "T";
  level.FingerX = -1500;  // py = 0: no distance along Y
  EXPECT_THROW(EdgeOfBaseDieExtension(level, pkg), StageError);
}

TEST(WirePathsTest, FaultsNameTheWireAndItsLine) {
  Package pkg;
  pkg.CompZ = 200;
  pkg.SourceFile = "pkg.tmv";
  BondPad pad = PadWithWire("P9", 10, 10, 200, 10, 10, 0);
  pad.BondLine = 42;
  pkg.ChipPads.push_back(pad);
  ParameterSet params;
  params.BaseLoopHeight = 100;
  try {
    BuildWirePaths(pkg, params);
    FAIL() << "no error";
  } catch (const StageError& e) {
    EXPECT_EQ(e.file(), "pkg.tmv");
    EXPECT_EQ(e.line(), 42);
    EXPECT_NE(e.reason().find("P9"), std::string::npos);
  }
  // A cut length of a hundredth of a micron would need far too many segments.
  pkg.ChipPads[0] = PadWithWire("P9", 10, 10, 0.005f, 5000, 10, 0);
  pkg.CompZ = -99.99f;
  EXPECT_THROW(BuildWirePaths(pkg, params), StageError);
  // A cut length of zero or less makes no cut.
  pkg.CompZ = -500;
  EXPECT_EQ(BuildWirePaths(pkg, params)[0].Segments.size(), 6u);
}

}  // namespace
}  // namespace ostrel
