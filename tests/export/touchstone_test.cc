// Touchstone S-parameters: read by scikit-rf and checked against ngspice's AC analysis of the
// same coupled ladder (touchstone_check.py), passive and reciprocal; the port limit; --nets.

#include "export/touchstone.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/stage_error.h"
#include "export/physical_export.h"
#include "export_test_support.h"

namespace ostrel {
namespace {

using namespace testing_support;

// `n` parallel 1 mm wires: loop L 0.7 nH, 0.3^|i-j| coupled; Maxwell C 0.1 pF, -0.02 pF to a
// neighbour; R and L_int with a square-root rise above 10 MHz as the skin effect gives.
physical::Model Wires(std::size_t n, const std::vector<double>& frequencies_hz) {
  physical::Model m;
  m.loop_inductance_h = {n, true, {}, {}};
  physical::SymmetricMatrix c{n, true, {}, {}};
  for (std::size_t i = 0; i < n; ++i) {
    const double x = 60e-6 * double(i);
    m.conductors.push_back({"W" + std::to_string(i + 1),
                            WireKind::kBaseDie,
                            {{x, 0, 2e-4}, {x, 1e-3, 0}},
                            12.7e-6,
                            2.2e-8,
                            1e-3});
    for (std::size_t j = 0; j < n; ++j) {
      const double d = std::abs(double(i) - double(j));
      m.loop_inductance_h.values.push_back(0.7e-9 * std::pow(0.3, d));
      c.values.push_back(i == j ? 1e-13 : d == 1 ? -2e-14 : 0.0);
    }
  }
  m.capacitance_f = c;
  for (const double f : frequencies_hz) {
    const double skin = std::max(1.0, std::sqrt(f / 1e7));
    m.results.push_back(
        {f, std::vector<double>(n, 0.05 * skin), std::vector<double>(n, 0.05e-9 / skin)});
  }
  return m;
}

TEST(Touchstone, ScikitRfReadsWhatNgspiceComputes) {
  struct Case {
    std::size_t wires;
    std::vector<double> frequencies_hz;
    double loss_tangent;
    std::size_t sections;
  };
  const Case cases[] = {
      {1, {1e8, 0, 2e9}, 0, 2},         // a two-port, DC included, order restored
      {3, {0, 1e8, 5e9, 2e10}, 0, 11},  // 20 GHz: 0.1 rad per section
      {3, {1e9, 1e10}, 0.02, 6},        // dielectric loss
  };
  const fs::path dir = ExampleFolder();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.wires) + " wires, tan d " + std::to_string(c.loss_tangent));
    const physical::Model model = Wires(c.wires, c.frequencies_hz);
    std::vector<double> heard;
    physical::Progress progress;
    progress.report = [&heard](std::string_view, double fraction) { heard.push_back(fraction); };
    const TouchstoneFile file =
        TouchstoneText({"AAAc.tmv", "AAAc.zv", c.loss_tangent}, model, progress);
    EXPECT_EQ(file.sections, c.sections);
    EXPECT_EQ(heard.size(), c.frequencies_hz.size());
    // The memory bound holds the data lines and is no more than three times what they take.
    const double data = double(file.text.size() - file.text.find("# HZ"));
    const double bound = TouchstoneBytes(2 * c.wires, c.frequencies_hz.size());
    EXPECT_LE(data, bound);
    EXPECT_GE(3 * data, bound);
    const std::string name = "w.s" + std::to_string(2 * c.wires) + "p";
    WriteWholeFile((dir / name).string(), file.text);
    WriteWholeFile((dir / "w.json").string(), PhysicalJsonText(model));
    std::string out;
    EXPECT_EQ(RunIn(dir,
                    "/usr/bin/python3 '" OSTREL_TESTS_SOURCE_DIR "/export/touchstone_check.py' " +
                        name + " w.json " + std::to_string(c.loss_tangent),
                    out),
              0)
        << out;
  }
}

TEST(Touchstone, RefusesTooManyPortsNamingNets) {
  try {
    TouchstoneText({}, Wires(kMaxTouchstonePorts / 2 + 1, {1e9}));
    ADD_FAILURE() << "accepted";
  } catch (const StageError& e) {
    EXPECT_NE(std::string(e.what()).find("--nets"), std::string::npos) << e.what();
  }
  EXPECT_NO_THROW(TouchstoneText({}, Wires(kMaxTouchstonePorts / 2, {0})));
}

// The bundled example end to end: the broadband SPICE subcircuit's wire branches follow the
// exact internal impedance, its node impedances match the Touchstone file's, a current step
// settles to the DC resistance (package_model_check.py); the strict IBIS reader takes the .pkg.
TEST(PackageModels, BundledExampleSpiceTouchstoneAndIbisAgree) {
  const fs::path dir = ExampleFolder();
  RunCli(dir,
         "--sweep 1e7:1e9:3 --physical p.json --spice w.cir --spice-inductance loop "
         "--spice-broadband --touchstone w.s80p --ibis-pkg aaac.pkg");
  std::string out;
  EXPECT_EQ(RunIn(dir,
                  "/usr/bin/python3 '" OSTREL_TESTS_SOURCE_DIR
                  "/export/package_model_check.py' p.json w.cir w.s80p 1e7 1e9",
                  out),
            0)
      << out;
  EXPECT_EQ(
      RunIn(dir,
            "/usr/bin/python3 '" OSTREL_TESTS_SOURCE_DIR "/export/ibis_pkg_reader.py' aaac.pkg",
            out),
      0)
      << out;
  // --nets keeps two wires and only the ports they touch.
  RunCli(dir, "--nets 'T1, T2' --spice n.cir --spice-inductance loop --spice-broadband");
  EXPECT_NE(ReadWholeFile((dir / "n.cir").string()).find(" p_t1 f_t1 p_t2 f_t2 ref\n"),
            std::string::npos);
  fs::remove_all(dir);
}

// Five wires of the bundled example to 20 GHz: the Touchstone file is the coupled ladder with the
// whole loop proximity correction, and ngspice's S-parameters of the sectioned broadband
// subcircuit stay within 0.01 of that ladder without the mutual terms (broadband_check.py).
TEST(PackageModels, BroadbandSubcircuitFollowsTheLadderToTheTopFrequency) {
  const fs::path dir = ExampleFolder();
  RunCli(dir,
         "--sweep 1e8:2e10:5 --nets 'T1,T2,T3,S1,S2' --physical p.json --spice w.cir "
         "--spice-inductance loop --spice-broadband --touchstone w.s10p");
  const std::string netlist = ReadWholeFile((dir / "w.cir").string());
  EXPECT_NE(netlist.find("11 equal sections"), std::string::npos);
  EXPECT_NE(netlist.find("Left out: the mutual resistance"), std::string::npos);
  std::string out;
  EXPECT_EQ(RunIn(dir,
                  "/usr/bin/python3 '" OSTREL_TESTS_SOURCE_DIR
                  "/export/broadband_check.py' p.json w.cir w.s10p",
                  out),
            0)
      << out;
  fs::remove_all(dir);
}

// The bundled example returning through its VSS wires: the loops of the JSON against a nodal
// analysis of the partial network, the Touchstone file (passive, reciprocal, the same loops) and
// ngspice on the partial subcircuit (return_check.py); its ports are the signals' ends and the
// two grounds.
TEST(PackageModels, ReturnThroughTheGroundWiresAgreesThreeWays) {
  const fs::path dir = ExampleFolder();
  RunCli(dir,
         "--return wires --frequencies 1e9,0,1e8 --physical p.json --spice w.cir "
         "--spice-inductance partial --touchstone w.s73p --ibis-pkg r.pkg");
  std::string out;
  EXPECT_EQ(RunIn(dir,
                  "/usr/bin/python3 '" OSTREL_TESTS_SOURCE_DIR
                  "/export/return_check.py' p.json w.s73p w.cir",
                  out),
            0)
      << out;
  // The IBIS model's pins are the signals, read by the strict reader.
  EXPECT_EQ(
      RunIn(dir, "/usr/bin/python3 '" OSTREL_TESTS_SOURCE_DIR "/export/ibis_pkg_reader.py' r.pkg",
            out),
      0)
      << out;
  const std::string ibis = ReadWholeFile((dir / "r.pkg").string());
  EXPECT_NE(ibis.find("[Number Of Pins] 33\n"), std::string::npos);
  const std::string netlist = ReadWholeFile((dir / "w.cir").string());
  EXPECT_NE(netlist.find(" p_s6 f_s6 gnd_die gnd_sub\n"), std::string::npos);
  EXPECT_NE(netlist.find("V_t1_sub f_t1 gnd_sub 0\n"), std::string::npos);
  fs::remove_all(dir);
}

// A package model that cannot be made ends the run before anything is written.
TEST(PackageModels, RefusedExportsLeaveNoFiles) {
  struct Case {
    const char* args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"--ground-depth 0 --touchstone z.s80p", 1, "give --ground-depth above 0"},
      {"--ground-depth 0 --ibis-pkg z.pkg", 1, "give --ground-depth above 0"},
      {"--no-capacitance --touchstone z.s80p", 1, "without --no-capacitance"},
      {"--ibis-pkg Z.pkg", 1, "must be lower case"},
      {"--nets 'T1,ZZ*' --touchstone z.s2p", 2, "'ZZ*' matches none of the 40 wires"},
      {"--return wires --ground 'GND' --physical z.json", 2, "the pads' types make none"},
      {"--return wires --touchstone z.s80p", 2, "ending in .s73p"},
      {"--loss-tangent -1 --touchstone z.s80p", 2, "below 0"},
  };
  const fs::path dir = ExampleFolder();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::string log;
    EXPECT_EQ(RunIn(dir, std::string("'") + OSTREL_CLI_PATH + "' " + c.args + " AAAc.zv", log),
              c.status);
    EXPECT_NE(log.find(c.message), std::string::npos) << log;
    for (const char* name : {"AAAc.zv.doc", "z.s80p", "z.s2p", "z.pkg", "Z.pkg", "z.json"}) {
      EXPECT_FALSE(fs::exists(dir / name)) << name;
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ostrel
