// The IBIS package model, read back by an independent strict reader (ibis_pkg_reader.py) that
// also checks the layout rules, symmetry and positive definiteness.

#include "export/ibis_package.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numbers>

#include "base/stage_error.h"
#include "export_test_support.h"

namespace ostrel {
namespace {

using namespace testing_support;
using physical::SymmetricMatrix;

// Wires with finger ends around a centre: bottom, right, top, left, left again (same finger),
// and one stitch. Loop L_ij = 1 nH * 0.3^|i-j| (positive definite), C sparse.
physical::Model HandModel(const std::vector<SymmetricMatrix::Entry>& c_entries) {
  struct Row {
    const char* name;
    WireKind kind;
    double x_mm, y_mm;
  };
  constexpr WireKind kBase = WireKind::kBaseDie;
  const Row rows[] = {{"T1", kBase, 0, 1},
                      {"LONGNAME1", kBase, 0, -1},
                      {"S1", WireKind::kStitch, 0.2, 0.2},
                      {"t1", WireKind::kStackedDie, 1, 0},
                      {"B2", kBase, -1, 0},
                      {"B3", kBase, -1, 0}};
  physical::Model m;
  const std::size_t n = std::size(rows);
  m.loop_inductance_h.n = n;
  m.results.push_back({1e9, {}, {}});
  for (std::size_t i = 0; i < n; ++i) {
    m.conductors.push_back({rows[i].name,
                            rows[i].kind,
                            {{0, 0, 2e-4}, {rows[i].x_mm * 1e-3, rows[i].y_mm * 1e-3, 0}},
                            12.7e-6,
                            2.2e-8,
                            (1 + 0.1 * double(i)) * 1e-3});
    m.results[0].resistance_ohm.push_back(0.1);
    m.results[0].internal_inductance_h.push_back(1e-12 * double(i + 1));
    for (std::size_t j = 0; j < n; ++j) {
      m.loop_inductance_h.values.push_back(1e-9 * std::pow(0.3, std::abs(double(i) - double(j))));
    }
  }
  SymmetricMatrix c{n, false, {}, {}};
  for (std::size_t i = 0; i < n; ++i) {
    c.entries.push_back({i, i, 1e-13});
    for (const auto& e : c_entries) {
      if (e.i == i) c.entries.push_back(e);
    }
  }
  std::sort(c.entries.begin(), c.entries.end(),
            [](const auto& a, const auto& b) { return std::pair(a.i, a.j) < std::pair(b.i, b.j); });
  m.capacitance_f = c;
  return m;
}

TEST(IbisPins, AroundThePackageAndRenamedByRule) {
  // Lower left first, counter-clockwise; t1 takes its name before T1 does (letter case
  // ignored); invalid or taken names get the first free number from their position on.
  const std::vector<IbisPin> expected = {
      {1, "1", true}, {3, "t1", false}, {0, "3", true}, {4, "B2", false}, {5, "B3", false}};
  EXPECT_EQ(IbisPins(HandModel({})), expected);
}

TEST(IbisPackage, StrictReaderGetsEveryEntryBack) {
  struct Case {
    const char* label;
    std::vector<SymmetricMatrix::Entry> c;
    const char* c_format;
  };
  const Case cases[] = {
      {"neighbour couplings: banded", {{1, 0, -1e-14}, {5, 4, -2e-14}}, "Banded_matrix"},
      // Wires 1 and 5 are the first and last pin: a band would be nearly full.
      {"far coupling only: sparse", {{5, 1, -3e-14}}, "Sparse_matrix"},
  };
  const fs::path dir = ExampleFolder();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const physical::Model model = HandModel(c.c);
    const IbisPackage pkg =
        IbisPackageText({"aaac.pkg", "2026-12-06", "AAAc.tmv", "AAAc.zv"}, model);
    for (const std::string& want : {"[Capacitance Matrix] " + std::string(c.c_format),
                                    std::string("Pins B2, B3 are wires landing on one finger"),
                                    std::string("no package pin) left out: S1.")}) {
      EXPECT_NE(pkg.text.find(want), std::string::npos) << want;
    }
    WriteWholeFile((dir / "aaac.pkg").string(), pkg.text);
    std::string out;
    ASSERT_EQ(
        RunIn(dir,
              "/usr/bin/python3 '" OSTREL_TESTS_SOURCE_DIR "/export/ibis_pkg_reader.py' aaac.pkg",
              out, true),
        0)
        << out;
    std::map<std::string, std::size_t> wire;
    for (const IbisPin& pin : IbisPins(model)) wire[pin.name] = pin.wire;
    std::size_t checked = 0;
    for (const std::string& line : Split(out, "\n")) {
      std::istringstream in(line);
      std::string which, a, b;
      double value = 0;
      ASSERT_TRUE(in >> which >> a >> b >> value) << line;
      const std::size_t i = wire.at(a), j = wire.at(b);
      const physical::Conductor& w = model.conductors[i];
      double want = 0;
      if (which == "R") {
        want = i == j ? w.resistivity_ohm_m * w.length_m / (std::numbers::pi * 12.7e-6 * 12.7e-6)
                      : 0.0;
      } else if (which == "L") {
        want = model.loop_inductance_h.values[i * 6 + j] +
               (i == j ? model.results[0].internal_inductance_h[i] : 0.0);
      } else {
        want = model.capacitance_f->At(i, j);
      }
      EXPECT_NEAR(value, want, 1e-6 * std::fabs(want)) << line;
      ++checked;
    }
    EXPECT_EQ(checked, 3u * 5u * 5u);
  }
}

TEST(IbisPackage, RefusesWhatIbisCannotHold) {
  physical::Model no_c = HandModel({});
  no_c.capacitance_f.reset();
  physical::Model stitches_only = HandModel({});
  for (auto& w : stitches_only.conductors) w.kind = WireKind::kStitch;
  struct Case {
    const char* file;
    const physical::Model* model;
    const char* message;
  };
  const physical::Model good = HandModel({});
  const Case cases[] = {
      {"AAAc.pkg", &good, "lower case"},
      {"aaac.ibs", &good, "ending in .pkg"},
      {"a_name_longer_than_forty_characters_x.pkg", &good, "at most 40"},
      {"aaac.pkg", &no_c, "--ground-depth above 0"},
      {"aaac.pkg", &stitches_only, "no wire reaches the substrate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    try {
      IbisPackageText({c.file, "", "AAAc.tmv", "AAAc.zv"}, *c.model);
      ADD_FAILURE() << "accepted";
    } catch (const StageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace ostrel
