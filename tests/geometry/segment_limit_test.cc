// The bound on the memory of the wires of a package and their segments: packages of many
// finely cut wires run, and a package past the bound ends with an error that names it.

#include <gtest/gtest.h>

#include <string>

#include "base/stage_error.h"
#include "geometry/wire_paths.h"

namespace ostrel {
namespace {

TEST(SegmentLimitTest, BoundsTheMemoryOfWiresAndSegmentsNotTheirCount) {
  // Each wire runs 1000 microns in plan from a start 200 microns up: a cut length of 300 makes
  // 9 segments a wire, a cut length of 10 makes 107 or 108.
  constexpr std::size_t kDefault = 0;  // bound: kMaxWireMemoryBytes
  struct Row {
    const char* name;
    int wires;
    float die_height;  // CompZ; the cut length is CompZ + the base loop height (1)
    // The bound is kMaxWireMemoryBytes (kDefault), or the memory the wires and their segments
    // take, less this many bytes plus one.
    std::size_t less_bytes_plus_one;
    bool fits;
  };
  const Row rows[] = {
      {"100,000 wires of 9 segments", 100000, 299.0f, kDefault, true},
      {"20,000 wires of about 107 segments: 2,150,000 in all", 20000, 9.0f, kDefault, true},
      {"2,000 wires of about 107 segments in exactly their memory", 2000, 9.0f, 1, true},
      {"the same with one segment's memory less", 2000, 9.0f, sizeof(WireSegment) + 1, false},
      {"the same with a byte less", 2000, 9.0f, 2, false},
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
    std::size_t bound = kMaxWireMemoryBytes;
    if (row.less_bytes_plus_one != kDefault) {
      std::size_t taken = 0;
      for (const Wire& w : BuildWirePaths(package, params)) {
        taken += sizeof(Wire) + w.Segments.size() * sizeof(WireSegment);
      }
      bound = taken - (row.less_bytes_plus_one - 1);
    }
    if (row.fits) {
      const WireList wires = BuildWirePaths(package, params, bound);
      ASSERT_EQ(wires.size(), static_cast<std::size_t>(row.wires));
      EXPECT_GE(wires.back().Segments.size(), row.die_height < 10.0f ? 107u : 9u);
      // Each wire ends on its own finger: no list shares segments with another.
      EXPECT_EQ(wires.front().Segments.back().X2, 1000.0f);
      EXPECT_EQ(wires.back().Segments.back().X2, static_cast<float>(row.wires - 1) + 1000.0f);
    } else {
      try {
        BuildWirePaths(package, params, bound);
        ADD_FAILURE() << "no fault";
      } catch (const StageError& e) {
        EXPECT_NE(std::string(e.what()).find(std::to_string(bound) + " bytes of memory"),
                  std::string::npos)
            << e.what();
      }
    }
  }
}

}  // namespace
}  // namespace ostrel
