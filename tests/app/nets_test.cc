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

TEST(NetsTest, PairPatternsPairWiresWhoseWildcardsAgree) {
  const std::vector<std::string> names = {"D0_P",  "D0_N", "D1_P", "D1_N",  "CLK_P",
                                          "CLK_N", "T2",   "T3",   "D1_PP", "X"};
  const struct {
    const char* patterns;
    const char* pairs;  // "positive/negative" wire indices, blank apart
    const char* error;  // a part of the message; nullptr: pairs as above
  } rows[] = {
      {"*_P/*_N", "0/1 2/3 4/5", nullptr},
      {"D?_P/D?_N", "0/1 2/3", nullptr},
      {"T2/T3", "6/7", nullptr},
      {" T3 / T2 ", "7/6", nullptr},  // blanks around each pattern are ignored
      {"T3/T2,CLK_N/CLK_P", "7/6 5/4", nullptr},
      {"*_PP/*_N", "8/3", nullptr},  // D1_PP with D1_N
      {"*_P/*_N,D1_P/D1_N", "", "wire D1_P is in two pairs, D1_P/D1_N and D1_P/D1_N"},
      {"*_P/*_N,*_PP/*_N", "", "wire D1_N is in two pairs, D1_P/D1_N and D1_PP/D1_N"},
      {"*/*", "", "'*/*' pairs none of the 10 wires"},  // a wire never pairs with itself
      {"Q*/R*", "", "'Q*/R*' pairs none"},
      {"T2/T3,Q/R", "", "'Q/R' pairs none"},
      {"D*_P/D?_N", "", "the same * and ?"},
      {"T2", "", "two wire-name patterns P/N"},
      {"T2/", "", "two wire-name patterns P/N"},
      {"T2/T3/X", "", "two wire-name patterns P/N"},
      {"", "", "two wire-name patterns P/N"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.patterns);
    if (row.error != nullptr) {
      try {
        WirePairs(row.patterns, names);
        ADD_FAILURE() << "no error";
      } catch (const StageError& e) {
        EXPECT_NE(std::string(e.what()).find(row.error), std::string::npos) << e.what();
      }
      continue;
    }
    std::string got;
    for (const physical::WirePair& p : WirePairs(row.patterns, names)) {
      got +=
          (got.empty() ? "" : " ") + std::to_string(p.positive) + "/" + std::to_string(p.negative);
    }
    EXPECT_EQ(got, row.pairs);
  }
}

}  // namespace
}  // namespace ostrel
