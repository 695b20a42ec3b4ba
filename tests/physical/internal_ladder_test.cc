// The R-L ladder fitted to a wire's internal impedance: its DC figures, its error over the band
// and its scaling with the length (ngspice's view of it: tests/export/ladder_elements_test.cc).

#include "physical/internal_ladder.h"

#include <gtest/gtest.h>

#include <cmath>

#include "physical/physical_model.h"

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
