// The impedance of ground and supply nets against the closed forms of two wires: in parallel,
// Z = (Z11 Z22 - Z12^2) / (Z11 + Z22 - 2 Z12); one wire out and the other back, the loop
// Z11 + Z22 - 2 Z12; at DC the current shares by resistance. The signals' loops through ground
// wires against the same forms, and on straight wires against the two-wire line and Grover's
// parallel filaments summed directly.

#include "physical/net_impedance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

#include "base/stage_error.h"
#include "parallel_wires.h"
#include "physical/inductance.h"
#include "physical/proximity.h"

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
                               {{0, {0.020, 0.060}, {0.05e-9, 0.07e-9}, {}, {}, {}},
                                {f, {0.080, 0.090}, {0.01e-9, 0.02e-9}, {}, {}, {}}});
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
                               {{0, {0.02, 0.03}, {0.05e-9, 0.05e-9}, {}, {}, {}},
                                {f, {0.03, 0.04}, {0.04e-9, 0.04e-9}, {}, {}, {}}});
  const std::vector<NetImpedance> nets =
      NetImpedances(model, {{"VDD", true, {0}}, {"VSS", false, {1}}});
  const std::complex<double> loop = std::complex<double>(0.07, w * (1.04e-9 + 1.24e-9 - 1.4e-9));
  EXPECT_NEAR(nets[0].supply_loop[0].resistance_ohm, 0.05, 1e-15);
  EXPECT_NEAR(nets[0].supply_loop[0].inductance_h, 1.05e-9 + 1.25e-9 - 1.4e-9, 1e-21);
  EXPECT_NEAR(nets[0].supply_loop[1].resistance_ohm, loop.real(), 1e-12);
  EXPECT_NEAR(nets[0].supply_loop[1].inductance_h, loop.imag() / w, 1e-21);
}

TEST(ReturnLoopTest, ThroughGroundWiresFollowsTheClosedForms) {
  // Wire 0 the signal, 1 and 2 grounds alike to it: the return splits in halves, and the loop is
  // Z00 - 2 Z01 + (Z11 + Z12) / 2. With wire 2 alone: Z00 + Z22 - 2 Z02.
  const double f = 1e9, w = 2 * std::numbers::pi * f;
  const double l[9] = {1.0e-9, 0.5e-9, 0.5e-9, 0.5e-9, 1.2e-9, 0.4e-9, 0.5e-9, 0.4e-9, 1.2e-9};
  Model model;
  model.conductors.resize(3);
  model.partial_inductance_h = SymmetricMatrix{3, true, {l, l + 9}, {}};
  model.results = {{f, {0.05, 0.07, 0.07}, {0.01e-9, 0.02e-9, 0.02e-9}, {}, {}, {}}};
  model.results[0].proximity_partial = {{3, false, {}, {}}, {3, false, {}, {}}};
  const auto z = [&](int i, int j) {
    return std::complex<double>(
        i == j ? model.results[0].resistance_ohm[i] : 0,
        w * (l[3 * i + j] + (i == j ? model.results[0].internal_inductance_h[i] : 0)));
  };
  const std::complex<double> both = z(0, 0) - 2.0 * z(0, 1) + (z(1, 1) + z(1, 2)) / 2.0;
  const std::complex<double> one = z(0, 0) + z(2, 2) - 2.0 * z(0, 2);
  for (const auto& [ground, expected] : {std::pair(std::vector<std::size_t>{1, 2}, both),
                                         std::pair(std::vector<std::size_t>{2}, one)}) {
    SCOPED_TRACE(ground.size());
    const std::vector<ReturnLoop> loops = ReturnLoops(model, {ground, {0}});
    ASSERT_EQ(loops.size(), 1u);
    EXPECT_NEAR(loops[0].resistance_ohm.At(0, 0), expected.real(), 1e-12);
    EXPECT_NEAR(loops[0].inductance_h.At(0, 0), expected.imag() / w, 1e-21);
  }
  EXPECT_THROW(ReturnLoops(model, {{}, {0}}), StageError);      // no ground wire
  EXPECT_THROW(ReturnLoops(model, {{0, 1}, {0}}), StageError);  // a wire in both sets
}

// Straight wires as the model makes them: partial matrix, exact R(f) and L_int(f), the partial
// proximity correction.
Model StraightWires(std::size_t count, double pitch_d, double frequency_hz) {
  constexpr double kRadius = 12.7e-6, kRho = 2.2e-8, kLength = 2e-3, kDepth = 50e-6;
  Model model;
  model.conductors = ParallelWires(count, pitch_d, 1e-3, kRadius, kRho, kLength, kDepth);
  model.partial_inductance_h = ComputeInductance(model.conductors, kDepth, 0).partial_h;
  const ProximityResult proximity = ComputeProximity(model.conductors, kDepth, {frequency_hz}, {});
  FrequencyResult r;
  r.frequency_hz = frequency_hz;
  for (const Conductor& c : model.conductors) {
    const std::complex<double> z = InternalImpedancePerMetre(frequency_hz, kRadius, kRho);
    r.resistance_ohm.push_back(z.real() * kLength);
    r.internal_inductance_h.push_back((frequency_hz > 0
                                           ? z.imag() / (2 * std::numbers::pi * frequency_hz)
                                           : kDcInternalInductanceHPerM) *
                                      kLength);
  }
  r.proximity_partial = proximity.partial[0];
  model.results = {r};
  return model;
}

TEST(ReturnLoopTest, StraightWiresFollowTheTwoWireLineAndGrover) {
  constexpr double kMu0 = 4e-7 * std::numbers::pi, a = 12.7e-6, l = 2e-3;
  // Grover's mutual inductance of parallel filaments of length l at distance d (a thin tube of
  // radius a for d = a).
  const auto grover = [&](double d) {
    return kMu0 * l / (2 * std::numbers::pi) *
           (std::asinh(l / d) - std::sqrt(1 + d * d / (l * l)) + d / l);
  };
  // A signal and its ground at 1.5 diameters, far in the skin limit (10 GHz, skin depth 0.75
  // um): the wire-pair line, mu0 / pi acosh(s / 2a) per metre with the currents crowded by
  // proximity, plus the ends of two wires Grover's sums give, plus both internal inductances,
  // each raised by crowding as the resistance is, by (s / 2a) / sqrt((s / 2a)^2 - 1).
  const double s = 3 * a, f = 1e10, x = s / (2 * a);
  const Model pair = StraightWires(2, 1.5, f);
  const double ends = 2 * (grover(a) - grover(s)) - kMu0 * l / std::numbers::pi * std::log(s / a);
  const double line = kMu0 * l / std::numbers::pi * std::acosh(x) + ends +
                      2 * pair.results[0].internal_inductance_h[0] * x / std::sqrt(x * x - 1);
  const ReturnLoop loop = ReturnLoops(pair, {{1}, {0}})[0];
  // Stated: 0.3% (terms of order skin depth over radius); ln(s/a) in place of acosh(s/2a) would
  // be 12% off, the internal terms without crowding 1%.
  EXPECT_NEAR(loop.inductance_h.At(0, 0) / line, 1, 0.003);
  // Three supply wires in parallel at DC: equal resistances share the current in thirds, so
  // L = (1/9) sum of the partial matrix (Grover, summed directly) + L_int / 3.
  const Model three = StraightWires(3, 3, 0);
  double sum = 0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) sum += grover(i == j ? a : 6 * a * std::abs(i - j));
  }
  const NetImpedance net = NetImpedances(three, {{"VDD", true, {0, 1, 2}}}, false)[0];
  EXPECT_NEAR(
      net.parallel[0].inductance_h / (sum / 9 + three.results[0].internal_inductance_h[0] / 3), 1,
      1e-3);
  EXPECT_NEAR(net.parallel[0].resistance_ohm * 3 / three.results[0].resistance_ohm[0], 1, 1e-12);
}

}  // namespace
}  // namespace ostrel::physical
