// The nets the pads' types make, on the bundled example (T1, B1, L1 and R1 are VSS, every other
// pad IO; three stitches land on base-die IO pads) and on a package whose pads carry no type.

#include "app/nets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/workspace.h"
#include "base/stage_error.h"

namespace ostrel {
namespace {

struct Expected {
  const char* ground;
  const char* power;
  std::vector<std::string> first_nets;  // "name role count" of the first nets, in order
  std::size_t net_count;
};

std::string Describe(const Net& net) {
  return net.name + " " + RoleName(net.role) + " " + std::to_string(net.wires.size());
}

TEST(NetsTest, RolesFollowThePadTypes) {
  Workspace ws;
  ASSERT_FALSE(StartUp(ws, std::string(OSTREL_EXAMPLES_DIR) + "/AAAc.zv").error);
  EstimateWires(ws);
  const std::vector<std::string> types = WirePadTypes(ws.package, ws.Wires);
  ASSERT_EQ(types.size(), 40u);
  const Expected rows[] = {
      // The default patterns: one ground net of the four VSS wires, 36 signals.
      {"*VSS*,*GND*", "*VDD*,*VCC*", {"VSS ground 4", "T2 signal 1"}, 37},
      // Patterns match in any case; a stitch takes the type of the pad it lands on.
      {"io", "vss", {"VSS power 4", "IO ground 36"}, 2},
      // A ground pattern that matches before the power one wins.
      {"*S*", "VSS", {"VSS ground 4", "T2 signal 1"}, 37},
  };
  for (const Expected& row : rows) {
    SCOPED_TRACE(std::string(row.ground) + " / " + row.power);
    const std::vector<Net> nets = WireNets(ws.Wires, types, {row.ground, row.power});
    ASSERT_EQ(nets.size(), row.net_count);
    for (std::size_t k = 0; k < row.first_nets.size(); ++k) {
      EXPECT_EQ(Describe(nets[k]), row.first_nets[k]);
    }
    std::size_t wires = 0;
    for (const Net& net : nets) wires += net.wires.size();
    EXPECT_EQ(wires, ws.Wires.size());  // every wire in exactly one net
  }
  const std::vector<Net> nets = WireNets(ws.Wires, types, {});
  EXPECT_EQ(NetListText(nets, ws.Wires).substr(0, 28), "VSS\tground\t4\tT1,B1,L1,R1\nT2\t");
  // net:NAME patterns become the names of the wires of the nets NAME matches.
  const struct {
    const char* patterns;
    const char* expanded;  // nullptr: refused
  } patterns[] = {
      {"net:VSS", "T1,B1,L1,R1"},
      {"T2, net:VSS", "T2,T1,B1,L1,R1"},
      {"net:T?", "T2,T3,T4,T5,T6,T7"},
      {"net:vss", nullptr},  // net names match in their own case
      {"net:VDD", nullptr},
  };
  for (const auto& p : patterns) {
    SCOPED_TRACE(p.patterns);
    if (p.expanded == nullptr) {
      EXPECT_THROW(ExpandNetPatterns(p.patterns, nets, ws.Wires), StageError);
    } else {
      EXPECT_EQ(ExpandNetPatterns(p.patterns, nets, ws.Wires), p.expanded);
    }
  }
  // A net map overrides the types of the pads it names; a stitch follows its landing pad.
  const std::vector<NetMapRow> map = ReadNetMap(
      "die,pad,net,role\r\nbase, T2 ,DIFF1,Signal\n\nbase,T3,DIFF1,signal\r\n"
      "base,T4,VDDIO,POWER\nstacked,S1,VSS,ground");
  ASSERT_EQ(map.size(), 4u);
  EXPECT_EQ(map[0], (NetMapRow{false, "T2", "DIFF1", NetRole::kSignal}));
  EXPECT_EQ(map[3], (NetMapRow{true, "S1", "VSS", NetRole::kGround}));
  const std::vector<Net> mapped = WireNets(ws.Wires, types, {.map = map});
  EXPECT_EQ(NetListText(mapped, ws.Wires).substr(0, 68),
            "VSS\tground\t5\tT1,B1,L1,R1,S1\nVDDIO\tpower\t1\tT4\nDIFF1\tsignal\t3\tT2,T3,(S");
  for (const char* bad : {"base,T2,X", "die,pad,net,role\nbottom,T2,X,signal", "base,T2,X,shield",
                          "base,,X,signal"}) {
    EXPECT_THROW(ReadNetMap(bad), StageError) << bad;
  }
  // Without types every wire is a signal of its own, in wire order.
  const std::vector<Net> untyped =
      WireNets(ws.Wires, std::vector<std::string>(ws.Wires.size()), {});
  ASSERT_EQ(untyped.size(), ws.Wires.size());
  for (std::size_t w = 0; w < untyped.size(); ++w) {
    EXPECT_EQ(untyped[w], (Net{ws.Wires[w].Name, NetRole::kSignal, {w}}));
  }
}

}  // namespace
}  // namespace ostrel
