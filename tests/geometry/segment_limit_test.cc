// The limit on the segments of all wires of a package: it stops a small file whose few wires
// ask for huge numbers of cuts, and lets a large package of ordinary wires through.

#include <gtest/gtest.h>

#include <string>

#include "geometry/wire_paths.h"
#include "base/stage_error.h"

namespace ostrel {
namespace {

TEST(SegmentLimitTest, GrowsWithTheWiresNotWithTheCuts) {
  struct Row {
    const char* name;
    int wires;
    float die_height;  // CompZ; the cut length is CompZ + the base loop height (1)
    bool fits;
  };
  // Each wire runs 1000 microns in plan from a start 200 microns up: a cut length of 300 makes
  // 9 segments a wire, a cut length of 10 makes 108.
  const Row rows[] = {
      {"40,000 wires of 9 segments: 360,000 in all", 40000, 299.0f, true},
      {"100,000 wires of 9 segments: 900,000 in all", 100000, 299.0f, true},
      {"2,000 wires of 108 segments: 216,000 in all", 2000, 9.0f, true},
      {"3,000 wires of 108 segments: 324,000, above 262,144 + 16 a wire", 3000, 9.0f, false},
  };
  ParameterSet params;
  params.BaseLoopHeight = 1.0f;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Package package;
    package.CompZ = row.die_height;
    package.ChipPads.resize(static_cast<std::size_t>(row.wires));
    for (int i = 0; i < row.wires; ++i) {
      BondPad& pad = package.ChipPads[static_cast<std::size_t>(i)];
      pad.Name = "P" + std::to_string(i);
      pad.BondX1 = static_cast<float>(i);
      pad.BondY1 = 100.0f;
      pad.BondZ1 = 200.0f;
      pad.BondX2 = static_cast<float>(i) + 1000.0f;
      pad.BondY2 = 100.0f;
    }
    if (row.fits) {
      const std::vector<Wire> wires = BuildWirePaths(package, params);
      EXPECT_EQ(wires.size(), static_cast<std::size_t>(row.wires));
    } else {
      try {
        BuildWirePaths(package, params);
        ADD_FAILURE() << "no fault";
      } catch (const StageError& e) {
        EXPECT_NE(std::string(e.what()).find("segments in all"), std::string::npos) << e.what();
      }
    }
  }
}

}  // namespace
}  // namespace ostrel
