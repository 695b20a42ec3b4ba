// The impedance of ground and supply nets against the closed forms of two wires: in parallel,
// Z = (Z11 Z22 - Z12^2) / (Z11 + Z22 - 2 Z12); one wire out and the other back, the loop
// Z11 + Z22 - 2 Z12; at DC the current shares by resistance.

#include "physical/net_impedance.h"

#include <gtest/gtest.h>

#include <complex>
#include <numbers>

#include "base/stage_error.h"

namespace ostrel::physical {
namespace {

// Two wires with the given partial matrix and, at each frequency, resistances and internal
// inductances (no proximity correction).
Model TwoWires(double l11, double l22, double l12, const std::vector<FrequencyResult>& results) {
  Model model;
  model.conductors.resize(2);
  model.partial_inductance_h = SymmetricMatrix{2, true, {l11, l12, l12, l22}, {}};
  model.results = results;
  for (FrequencyResult& r : model.results) {
    r.proximity_partial = {{2, false, {}, {}}, {2, false, {}, {}}};
  }
  return model;
}

TEST(NetImpedanceTest, TwoWiresFollowTheirClosedForms) {
  const double f = 1e9, w = 2 * std::numbers::pi * f;
  const Model model = TwoWires(1.0e-9, 1.4e-9, 0.6e-9,
                               {{0, {0.020, 0.060}, {0.05e-9, 0.07e-9}, {}, {}},
                                {f, {0.080, 0.090}, {0.01e-9, 0.02e-9}, {}, {}}});
  const std::vector<NetImpedance> nets =
      NetImpedances(model, {{"W1", true, {0}}, {"BOTH", false, {0, 1}}}, false);
  ASSERT_EQ(nets.size(), 2u);
  // DC: one wire alone, and both sharing by resistance (3 : 1).
  EXPECT_NEAR(nets[0].parallel[0].resistance_ohm, 0.020, 1e-15);
  EXPECT_NEAR(nets[0].parallel[0].inductance_h, 1.05e-9, 1e-21);
  EXPECT_NEAR(nets[1].parallel[0].resistance_ohm, 0.015, 1e-15);
  const double a = 0.75, b = 0.25;  // shares of the current
  EXPECT_NEAR(nets[1].parallel[0].inductance_h,
              a * a * 1.05e-9 + b * b * 1.47e-9 + 2 * a * b * 0.6e-9, 1e-21);
  // At f: the closed forms of the complex impedances.
  const std::complex<double> z11(0.080, w * 1.01e-9), z22(0.090, w * 1.42e-9), z12(0, w * 0.6e-9);
  const std::complex<double> parallel = (z11 * z22 - z12 * z12) / (z11 + z22 - 2.0 * z12);
  EXPECT_NEAR(nets[1].parallel[1].resistance_ohm, parallel.real(), 1e-12);
  EXPECT_NEAR(nets[1].parallel[1].inductance_h, parallel.imag() / w, 1e-21);
  EXPECT_TRUE(nets[1].supply_loop.empty());  // a ground net has no supply loop
  // Nets that share a wire are refused (the loop would short the supply through itself).
  EXPECT_THROW(NetImpedances(model, {{"W1", true, {0}}, {"BOTH", false, {0, 1}}}), StageError);
}

TEST(NetImpedanceTest, SupplyLoopThroughOneGroundWire) {
  const double f = 1e8, w = 2 * std::numbers::pi * f;
  const Model model = TwoWires(1.0e-9, 1.2e-9, 0.7e-9,
                               {{0, {0.02, 0.03}, {0.05e-9, 0.05e-9}, {}, {}},
                                {f, {0.03, 0.04}, {0.04e-9, 0.04e-9}, {}, {}}});
  const std::vector<NetImpedance> nets =
      NetImpedances(model, {{"VDD", true, {0}}, {"VSS", false, {1}}});
  const std::complex<double> loop = std::complex<double>(0.07, w * (1.04e-9 + 1.24e-9 - 1.4e-9));
  EXPECT_NEAR(nets[0].supply_loop[0].resistance_ohm, 0.05, 1e-15);
  EXPECT_NEAR(nets[0].supply_loop[0].inductance_h, 1.05e-9 + 1.25e-9 - 1.4e-9, 1e-21);
  EXPECT_NEAR(nets[0].supply_loop[1].resistance_ohm, loop.real(), 1e-12);
  EXPECT_NEAR(nets[0].supply_loop[1].inductance_h, loop.imag() / w, 1e-21);
}

}  // namespace
}  // namespace ostrel::physical
