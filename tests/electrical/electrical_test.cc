#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "base/stage_error.h"
#include "electrical/inductance.h"
#include "electrical/resistance.h"
#include "electrical/wire_spacing.h"
#include "geometry/wire_paths.h"

namespace ostrel {
namespace {

// One wire made of straight pieces through `points` (path frame).
Wire WireThrough(const std::vector<std::array<float, 3>>& points) {
  Wire w;
  w.Name = "W";
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    WireSegment s;
    s.X1 = points[i][0];
    s.Y1 = points[i][1];
    s.Z1 = points[i][2];
    s.X2 = points[i + 1][0];
    s.Y2 = points[i + 1][1];
    s.Z2 = points[i + 1][2];
    w.Segments.push_back(s);
  }
  return w;
}

TEST(ResistanceTest, SkinEffectExamples) {
  struct Row {
    std::string material;
    float frequency;
    float resistance;
  };
  const Row rows[] = {
      {"Au", 1e9f, 128.92734f},
      {"Au", 1e6f, 4.0770516f},
      {"xx", 1e9f, 0.0f},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.material + " " + std::to_string(row.frequency));
    WireList wires{WireThrough({{0, 0, 0}, {1000, 0, 0}})};
    ParameterSet p;
    p.Material = row.material;
    p.WireDiameter = 1.0f;
    p.Frequency = row.frequency;
    ComputeResistance(wires, p);
    EXPECT_FLOAT_EQ(wires[0].Resistance, row.resistance);
    EXPECT_EQ(wires[0].Length, 1000.0f);
  }
  // Copper is recognised in any letter case; the resistance scales with the resistivity.
  EXPECT_EQ(Resistivity("cu"), 1.68e-5f);
  EXPECT_EQ(Resistivity("Al"), 2.82e-5f);
}

TEST(ResistanceTest, LengthIsASingleRunningSumAndZeroFrequencyWritesNothing) {
  WireList wires{WireThrough({{0, 0, 0}, {0.1f, 0, 0}, {0.2f, 0, 0}, {0.3f, 0, 0}}), Wire{}};
  ParameterSet p;
  p.Material = "Au";
  p.WireDiameter = 1;
  p.Frequency = 0;
  ComputeResistance(wires, p);
  EXPECT_EQ(wires[0].Length, 0.0f);
  p.Frequency = 1e6f;
  ComputeResistance(wires, p);
  float sum = 0;
  for (const WireSegment& s : wires[0].Segments) sum += s.Length;  // float additions
  EXPECT_EQ(wires[0].Length, sum);
  EXPECT_EQ(wires[1].Length, 0.0f);
  p.Frequency = -1;
  EXPECT_THROW(ComputeResistance(wires, p), StageError);
}

TEST(InductanceTest, StraightWireExamples) {
  // Six segments: a head of four pieces totalling 0.1 cm, then a body.
  WireList wires{WireThrough({{0, 0, 0},
                              {0, 0, 250},
                              {0, 0, 500},
                              {0, 0, 750},
                              {0, 0, 1000},
                              {0, 0, 1000},
                              {0, 0, 1000}})};
  wires[0].Length = 1000;
  ParameterSet p;
  p.WireDiameter = 1.0f;
  p.WireDistance = 100;
  p.BaseLoopHeight = 150;
  Package pkg;
  ComputeInductance(wires, p, pkg);
  EXPECT_FLOAT_EQ(wires[0].InductanceDC, 0.8618601f);
  EXPECT_FLOAT_EQ(wires[0].InductanceAC, 0.8118601f);
  EXPECT_FLOAT_EQ(wires[0].InductanceMutual, 0.4191465f);
  EXPECT_FLOAT_EQ(wires[0].Segments[0].Inductance, 0.6324361f);
  EXPECT_EQ(wires[0].InductanceSelf, wires[0].Segments[0].Inductance);  // zero-length body

  // Mutual: 0 below the wire distance, 2T ln 2 at exactly the distance.
  p.WireDistance = 1001;
  ComputeInductance(wires, p, pkg);
  EXPECT_EQ(wires[0].InductanceMutual, 0.0f);
  p.WireDistance = 1000;
  ComputeInductance(wires, p, pkg);
  EXPECT_FLOAT_EQ(wires[0].InductanceMutual, static_cast<float>(0.2 * std::log(2.0)));
}

TEST(InductanceTest, BodyHeights) {
  // A body segment lying on the ground plane is taken at the wire radius: 2 ln 2 nH per cm.
  const float r = 0.00127f;
  Wire base =
      WireThrough({{0, 0, 0}, {0, 0, 1}, {0, 0, 2}, {0, 0, 3}, {0, 0, 4}, {0, 0, 0}, {1000, 0, 0}});
  WireList wires{base};
  ParameterSet p;
  p.WireDiameter = 1.0f;
  p.WireDistance = 1;
  p.BaseLoopHeight = 100;
  p.StackLoopHeight = 100;
  Package pkg;
  pkg.CompW = pkg.CompL = 400;
  pkg.CompZ = 200;
  wires[0].Length = 1010;
  ComputeInductance(wires, p, pkg);
  const float head = wires[0].Segments[0].Inductance;
  const double body_len = MicronsToCm(4.0f) + 0.1;  // the last two segments taken together
  EXPECT_NEAR(wires[0].InductanceSelf - head, 2 * std::log(2.0) * body_len, 1e-6);
  EXPECT_EQ(GroundPlaneInductance(0.1f, r, r), static_cast<float>(2 * std::log(2.0) * 0.1f));

  // Stacked-die wire: the base die height comes off while an end lies over the die, which
  // here drives the height below zero.
  WireList stacked{WireThrough(
      {{0, 0, 0}, {0, 0, 1}, {0, 0, 2}, {0, 0, 3}, {0, 0, 4}, {0, 0, 100}, {300, 0, 100}})};
  stacked[0].StackWire = true;
  stacked[0].Length = 400;
  EXPECT_THROW(ComputeInductance(stacked, p, pkg), StageError);
  // Both ends beyond the die edges (an end on the edge counts as beyond): no subtraction.
  WireList off{WireThrough(
      {{0, 0, 0}, {0, 0, 1}, {0, 0, 2}, {0, 0, 3}, {200, 0, 4}, {200, 0, 100}, {500, 0, 100}})};
  off[0].StackWire = true;
  off[0].Length = 400;
  EXPECT_NO_THROW(ComputeInductance(off, p, pkg));
}

TEST(InductanceTest, ArithmeticFaultsAreStageErrors) {
  struct Row {
    const char* what;
    float length, diameter, distance, loop_height;
  };
  const Row rows[] = {
      {"wire length 0", 0, 1, 100, 100},
      {"wire diameter 0", 1000, 0, 100, 100},
      {"wire distance 0", 1000, 1, 0, 100},
      {"loop height 0", 1000, 1, 100, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WireList wires{WireThrough({{0, 0, 0}, {0, 0, 1}, {0, 0, 2}, {0, 0, 3}, {0, 0, 4}})};
    wires[0].Length = row.length;
    ParameterSet p;
    p.WireDiameter = row.diameter;
    p.WireDistance = row.distance;
    p.BaseLoopHeight = row.loop_height;
    EXPECT_THROW(ComputeInductance(wires, p, Package{}), StageError);
  }
}

// Adds pads at `coords` along X (or Y) to the base die; returns their indices.
SideList PadsAt(Package& pkg, const std::vector<float>& coords, bool along_y) {
  SideList side;
  for (float c : coords) {
    side.push_back(pkg.ChipPads.size());
    (along_y ? pkg.ChipPads.emplace_back().Y : pkg.ChipPads.emplace_back().X) = c;
  }
  return side;
}

// Each wire is estimated without the checks first, and that pass is kept where its figures are
// finite: it must give the checked pass's figures bit for bit. Random wires of all three kinds
// over a base die with a die stacked on it (stacked wires run on and off the base die).
TEST(EstimationTest, ThePassWithoutChecksGivesTheCheckedFigures) {
  Package pkg;
  pkg.CompZ = 200;
  pkg.SdCompZ = 150;
  pkg.CompW = pkg.CompL = 3000;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> on_die(-1400, 1400), off_die(1600, 4000), sign(-1, 1);
  const auto end_beyond = [&](float x) { return x < 0 ? -off_die(random) : off_die(random); };
  for (int i = 0; i < 3000; ++i) {
    BondPad& pad = (i % 3 == 0 ? pkg.StackPads : pkg.ChipPads).emplace_back();
    pad.Name = "P" + std::to_string(i);
    pad.BondX1 = on_die(random);
    pad.BondY1 = on_die(random);
    pad.BondZ1 = i % 3 == 0 ? 350 : 200;
    pad.BondX2 = end_beyond(pad.BondX1);
    pad.BondY2 = sign(random) * 1000;
    if (i % 7 == 0)
      pkg.Stitches.push_back(
          {"S", "P", pad.BondX1, pad.BondX1 + 300, pad.BondY1, pad.BondY1 + 80, 350, 200, 0});
  }
  ParameterSet p;
  p.Material = "Au";
  p.WireDiameter = 1;
  p.Frequency = 1e9f;
  p.BaseLoopHeight = 200;
  p.BaseExtension = 250;
  p.StackLoopHeight = 180;
  p.StackExtension = 120;
  p.StichExtension = 100;
  p.WireDistance = 150;
  const WireResistance resistance(p);
  const WireInductance inductance(p, pkg);
  const auto bits = [](float x) { return std::bit_cast<std::uint32_t>(x); };
  int compared = 0, faults = 0;
  for (const Wire& wire : BuildWirePaths(pkg, p)) {
    SCOPED_TRACE(wire.Name);
    Wire checked = wire, unchecked = wire;
    bool checked_fault = false, unchecked_finite = false;
    try {
      resistance.With<CheckedArithmetic>(checked);
      inductance.With<CheckedArithmetic>(checked, true);
    } catch (const StageError&) {
      checked_fault = true;
    }
    try {
      resistance.With<UncheckedArithmetic>(unchecked);
      inductance.With<UncheckedArithmetic>(unchecked, true);
      unchecked_finite = true;
      for (const float x :
           {unchecked.Resistance, unchecked.Length, unchecked.InductanceDC, unchecked.InductanceAC,
            unchecked.InductanceSelf, unchecked.InductanceMutual}) {
        unchecked_finite = unchecked_finite && std::isfinite(x);
      }
    } catch (const StageError&) {
    }
    // A fault of the checked pass (some stacked wires here dip to the base die) is a figure
    // that is not finite without the checks, and only then.
    ASSERT_EQ(unchecked_finite, !checked_fault);
    if (checked_fault) {
      ++faults;
      continue;
    }
    ++compared;
    for (const auto field : {&Wire::Length, &Wire::Resistance, &Wire::InductanceDC,
                             &Wire::InductanceAC, &Wire::InductanceSelf, &Wire::InductanceMutual}) {
      ASSERT_EQ(bits(unchecked.*field), bits(checked.*field));
    }
    for (std::size_t k = 0; k < wire.Segments.size(); ++k) {
      for (const auto field :
           {&WireSegment::Length, &WireSegment::Resistance, &WireSegment::Inductance}) {
        ASSERT_EQ(bits(unchecked.Segments[k].*field), bits(checked.Segments[k].*field)) << k;
      }
    }
  }
  EXPECT_GT(compared, 2000);
  EXPECT_GT(faults, 0);
}

TEST(WireSpacingTest, SidePitchDropsGapsOverTwiceTheMean) {
  struct Row {
    std::vector<float> coords;
    float pitch;
  };
  const Row rows[] = {
      {{0, 100, 200, 300, 700}, 100},  // 400 > 2 x 175 is dropped
      {{0, 100, 200, 300, 500}, 125},  // 200 is not more than 2 x 125: kept
      {{0, 50}, 50},
      {{700, 300, 200, 100, 0}, 100},  // decreasing order gives the same
      {{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 400, 2000}, 10},  // trims twice
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.pitch);
    Package row_pkg;
    const SideList side = PadsAt(row_pkg, row.coords, false);
    EXPECT_EQ(SidePitch(row_pkg.ChipPads, side, false, "top"), row.pitch);
  }
  Package pkg;
  pkg.TopPads = PadsAt(pkg, {0, 100, 200, 300, 700}, false);
  pkg.BottomPads = PadsAt(pkg, {0, 100}, false);
  pkg.LeftPads = PadsAt(pkg, {5, 105}, true);
  pkg.RightPads = PadsAt(pkg, {0, 100, 200}, true);
  EXPECT_EQ(DefaultWireDistance(pkg), 150.0f);
  pkg.RightPads.resize(1);
  EXPECT_THROW(DefaultWireDistance(pkg), StageError);
  pkg.RightPads.clear();
  EXPECT_THROW(DefaultWireDistance(pkg), StageError);
}

}  // namespace
}  // namespace ostrel
