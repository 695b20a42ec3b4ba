// The R-L ladder of a wire's internal impedance, simulated by ngspice (AC sweep and a current
// step) against the exact Bessel solution evaluated by mpmath (ladder_check.py).

#include "export/ladder_elements.h"

#include <gtest/gtest.h>

#include "export_test_support.h"

namespace ostrel {
namespace {

using namespace testing_support;

TEST(InternalLadder, NgspiceSeesTheSkinEffectWithin2Percent) {
  struct Case {
    const char* label;
    double radius_m, resistivity_ohm_m, length_m, max_frequency_hz;
  };
  const Case cases[] = {
      {"1-mil gold to 20 GHz", 12.7e-6, 2.2e-8, 1e-3, 2e10},
      {"2-mil copper to 1 GHz", 25.4e-6, 1.7e-8, 3e-3, 1e9},
      {"1.25-mil aluminium to 10 MHz, below the skin effect", 15.9e-6, 2.65e-8, 2e-3, 1e7},
  };
  const fs::path dir = ExampleFolder();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const physical::InternalLadder ladder = physical::FitInternalLadder(
        c.radius_m, c.resistivity_ohm_m, c.length_m, c.max_frequency_hz);
    EXPECT_LE(ladder.max_error, 0.015);
    std::string deck = "ladder\nI1 0 a dc 0 ac 1 pulse(0 1 1n 1p 1p 1 2)\n";
    AppendLadderElements(deck, ladder, "w", "a", "0");
    deck += ".end\n";
    WriteWholeFile((dir / "ladder.cir").string(), deck);
    std::ostringstream args;
    args.precision(17);
    args << c.radius_m << ' ' << c.resistivity_ohm_m << ' ' << c.length_m << ' '
         << c.max_frequency_hz;
    std::string out;
    EXPECT_EQ(
        RunIn(dir,
              "/usr/bin/python3 '" OSTREL_TESTS_SOURCE_DIR "/export/ladder_check.py' ladder.cir " +
                  args.str(),
              out),
        0)
        << out;
  }
}

}  // namespace
}  // namespace ostrel
