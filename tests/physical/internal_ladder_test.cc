// The R-L ladder fitted to a wire's internal impedance: its DC figures, its error over the band
// and its scaling with the length (ngspice's view of it: tests/export/ladder_elements_test.cc).

#include "physical/internal_ladder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "physical/physical_model.h"
#include "physical/proximity.h"

namespace ostrel::physical {
namespace {

TEST(InternalLadder, HoldsTheDcFiguresAndTheBandWithinItsError) {
  struct Case {
    const char* label;
    double radius_m, resistivity_ohm_m, max_frequency_hz;
    std::size_t most_rungs;
  };
  const Case cases[] = {
      {"1-mil gold to 20 GHz", 12.7e-6, 2.44e-8, 2e10, 9},
      {"2-mil copper to 1 GHz", 25.4e-6, 1.68e-8, 1e9, 14},
      {"1.25-mil aluminium to 10 MHz, below the skin effect", 15.9e-6, 2.82e-8, 1e7, 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const InternalLadder per_metre =
        FitInternalLadder(c.radius_m, c.resistivity_ohm_m, 1.0, c.max_frequency_hz);
    EXPECT_LE(per_metre.max_error, 0.015);
    EXPECT_LE(per_metre.rungs.size(), c.most_rungs);
    // At DC: R0 alone, and the rungs' inductances in series.
    EXPECT_EQ(per_metre.Impedance(0),
              std::complex<double>(DcResistancePerMetre(c.radius_m, c.resistivity_ohm_m)));
    double l_h = 0;
    for (const InternalLadder::Rung& rung : per_metre.rungs) l_h += rung.l_h;
    EXPECT_NEAR(l_h, kDcInternalInductanceHPerM, 0.015 * kDcInternalInductanceHPerM);
    // At the top of the band, against the exact internal impedance.
    const std::complex<double> exact =
        InternalImpedancePerMetre(c.max_frequency_hz, c.radius_m, c.resistivity_ohm_m);
    const std::complex<double> z = per_metre.Impedance(c.max_frequency_hz);
    EXPECT_NEAR(z.real() / exact.real(), 1, 0.015);
    EXPECT_NEAR(z.imag() / exact.imag(), 1, 0.015);
    // 3 mm of the wire: every part three times as large.
    const InternalLadder three = LadderOfLength(per_metre, 3e-3);
    EXPECT_NEAR(std::abs(three.Impedance(1e9) / (3e-3 * per_metre.Impedance(1e9)) - 1.0), 0, 1e-12);
    EXPECT_EQ(three.max_error, per_metre.max_error);
  }
}

}  // namespace
}  // namespace ostrel::physical

namespace ostrel::physical {
namespace {

// Two straight 1 mm gold wires at `height_m` above the substrate, the plane 50 um below, and the
// loop proximity correction the model computes at 1, 5 and 20 GHz.
Model TwoWires(double pitch_m, double height_m, bool coincident) {
  Model m;
  m.options.ground_depth_m = 50e-6;
  for (const double x : {0.0, coincident ? 0.0 : pitch_m}) {
    m.conductors.push_back(
        {"W", WireKind::kBaseDie, {{x, 0, height_m}, {x, 1e-3, height_m}}, 12.7e-6, 2.44e-8, 1e-3});
  }
  if (coincident) m.coincident = {{0, 1}};
  const std::vector<double> frequencies_hz = {1e9, 5e9, 2e10};
  const ProximityResult proximity =
      ComputeProximity(m.conductors, m.options.ground_depth_m, frequencies_hz, m.coincident);
  for (std::size_t k = 0; k < frequencies_hz.size(); ++k) {
    const double f = frequencies_hz[k];
    const std::complex<double> z = InternalImpedancePerMetre(f, 12.7e-6, 2.44e-8) * 1e-3;
    m.results.push_back(
        {f,
         {z.real(), z.real()},
         {z.imag() / (2 * std::numbers::pi * f), z.imag() / (2 * std::numbers::pi * f)},
         {},
         proximity.loop[k]});
  }
  return m;
}

// A branch's ladder against R / p + dR and L_int / p + dL at the model's frequencies, and exact
// at DC, with a series inductance of 0 or below; wires far from each other and from the plane
// get no correction, and their ladder is that of the internal impedance alone.
TEST(BranchLadders, FollowTheWiresOwnProximityTermsWithinHalfAPercent) {
  struct Case {
    const char* label;
    double pitch_m, height_m;
    bool coincident;
    std::size_t parallel;
    bool corrected;  // the model gives the wire a correction
  };
  const Case cases[] = {
      {"two wires at 1.2 diameters", 30.5e-6, 20e-6, false, 1, true},
      {"two wires 0.5 mm apart, each near its image", 500e-6, 20e-6, false, 1, true},
      {"one path bonded twice", 0, 20e-6, true, 2, true},
      {"two wires 0.5 mm apart, 0.5 mm above the plane: no correction", 500e-6, 450e-6, false, 1,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Model m = TwoWires(c.pitch_m, c.height_m, c.coincident);
    const BranchLadders fitted = FitBranchLadders(m, {c.parallel, c.coincident ? 0u : 1u});
    EXPECT_EQ(fitted.top_hz, 2e10);
    EXPECT_LE(fitted.max_error, 0.005);
    const InternalLadder& ladder = fitted.of_wire[0];
    const double p = static_cast<double>(c.parallel);
    EXPECT_NEAR(ladder.Impedance(0).real(), DcResistanceOhm(m.conductors[0]) / p, 1e-12);
    double l_dc_h = ladder.series_inductance_h;
    for (const InternalLadder::Rung& rung : ladder.rungs) l_dc_h += rung.l_h;
    EXPECT_NEAR(l_dc_h, kDcInternalInductanceHPerM * 1e-3 / p, 1e-3 * l_dc_h);
    EXPECT_LE(ladder.series_inductance_h, 0);
    for (const FrequencyResult& r : m.results) {
      const double omega = 2 * std::numbers::pi * r.frequency_hz;
      const double d_r = r.proximity_loop.delta_resistance_ohm.At(0, 0);
      const double d_l = r.proximity_loop.delta_inductance_h.At(0, 0);
      EXPECT_EQ(d_r > 0 && d_l < 0, c.corrected) << d_r << " " << d_l;
      const std::complex<double> z = ladder.Impedance(r.frequency_hz);
      EXPECT_NEAR(z.real() / (r.resistance_ohm[0] / p + d_r), 1, 0.005);
      const double l_h = r.internal_inductance_h[0] / p + d_l;
      EXPECT_NEAR(z.imag() / omega, l_h,
                  0.005 * std::max(std::abs(l_h), r.internal_inductance_h[0] / p));
    }
    // A wire left out has no ladder.
    if (c.coincident) EXPECT_TRUE(fitted.of_wire[1].rungs.empty());
  }
}

}  // namespace
}  // namespace ostrel::physical
