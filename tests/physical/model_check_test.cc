#include "physical/model_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/stage_error.h"
#include "physical/physical_model.h"

namespace ostrel::physical {
namespace {

// Three straight 1 mm gold wires with their DC figures and the given external matrices (nH, pF).
Model ThreeWires(const std::vector<double>& loop_nh, const std::vector<double>& cap_pf) {
  Model m;
  for (const char* name : {"A", "B", "C"}) {
    m.conductors.push_back(
        {name, WireKind::kBaseDie, {{0, 0, 0}, {1e-3, 0, 0}}, 12.7e-6, 2.44e-8, 1e-3});
  }
  const double r_dc = 2.44e-8 * 1e-3 / (std::numbers::pi * 12.7e-6 * 12.7e-6);
  m.results.push_back({0, {r_dc, r_dc, r_dc}, {5e-11, 5e-11, 5e-11}});
  m.loop_inductance_h = {3, true, {}, {}};
  for (double v : loop_nh) m.loop_inductance_h.values.push_back(v * 1e-9);
  m.capacitance_f = SymmetricMatrix{3, true, {}, {}};
  for (double v : cap_pf) m.capacitance_f->values.push_back(v * 1e-12);
  return m;
}

const std::vector<double> kLoop = {1, 0.3, 0.1, 0.3, 1, 0.3, 0.1, 0.3, 1};
const std::vector<double> kCap = {0.05, -0.01, -0.002, -0.01, 0.05, -0.01, -0.002, -0.01, 0.05};

// Each repair rule, and the faults no rule may hide: the note (or the error) names the wires.
TEST(ModelCheck, RepairsByItsRulesAndNamesTheWires) {
  struct Case {
    const char* name;
    std::vector<double> loop, cap;
    std::vector<std::vector<std::size_t>> coincident;
    std::string says;  // in the one note, or in the error
    bool fails;
    double loop_ab, cap_ab, cap_cc;  // expected after the check: L_AB nH, C_AB and C_CC pF
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {"physical as it is", kLoop, kCap, {}, "", false, 0.3, -0.01, 0.05},
      {"A and B on one path",
       {1, 1, 0.1, 1, 1, 0.1, 0.1, 0.1, 1},
       kCap,
       {{0, 1}},
       "",
       false,
       1,
       -0.01,
       0.05},
      {"|k| above 1",
       {1, 1.2, 0.1, 1.2, 1, 0.3, 0.1, 0.3, 1},
       kCap,
       {},
       "wires A and B",
       false,
       0.8,
       -0.01,
       0.05},
      {"positive coupling capacitance",
       kLoop,
       {0.05, 0.004, -0.002, 0.004, 0.05, -0.01, -0.002, -0.01, 0.05},
       {},
       "wires A and B",
       false,
       0.3,
       0,
       0.05},
      {"couplings beyond the capacitance",
       kLoop,
       {0.05, -0.01, -0.002, -0.01, 0.05, -0.03, -0.002, -0.03, 0.02},
       {},
       "wire C",
       false,
       0.3,
       -0.01,
       0.032},
      {"a figure that is not finite",
       {1, nan, 0.1, nan, 1, 0.3, 0.1, 0.3, 1},
       kCap,
       {},
       "inductance of wires A and B is not finite",
       true,
       0,
       0,
       0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Model m = ThreeWires(c.loop, c.cap);
    m.coincident = c.coincident;
    if (c.fails) {
      try {
        CheckAndRepair(m);
        ADD_FAILURE() << "no error";
      } catch (const StageError& e) {
        EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
      }
      continue;
    }
    CheckAndRepair(m);
    ASSERT_EQ(m.notes.size(), c.says.empty() ? 0u : 1u);
    if (!c.says.empty()) EXPECT_NE(m.notes[0].find(c.says), std::string::npos) << m.notes[0];
    // Repaired couplings stay within |k| <= 1 and the matrix positive definite.
    EXPECT_NEAR(m.loop_inductance_h.At(0, 1) * 1e9, c.loop_ab, 0.21);
    EXPECT_LE(m.loop_inductance_h.At(0, 1) * 1e9, c.loop.at(1) < 1.0001 ? c.loop.at(1) : 1.0);
    EXPECT_EQ(m.loop_inductance_h.At(0, 1), m.loop_inductance_h.At(1, 0));
    EXPECT_TRUE(PositiveDefinite(m.loop_inductance_h, m.coincident));
    EXPECT_NEAR(m.capacitance_f->At(0, 1) * 1e12, c.cap_ab, 1e-12);
    EXPECT_NEAR(m.capacitance_f->At(2, 2) * 1e12, c.cap_cc, 1e-12);
  }
}

// A sparse loop matrix whose cut dropped couplings: repaired only when it is not positive definite,
// by the dropped magnitudes on its diagonal, the note where the cut's notes end.
TEST(ModelCheck, RepairsACutLoopMatrixOnlyWhereItIsNotPositiveDefinite) {
  struct Case {
    const char* name;
    double k, dropped_nh;  // k between A and both others; each wire's dropped sum
    double l_aa_nh;        // expected after the check
    std::string says;      // in the note at 1, or none
  };
  const std::vector<Case> cases = {
      {"positive definite as cut", 0.3, 1, 1, ""},
      {"repaired by its dropped couplings", 0.9, 1, 2, "largest change 100.0"},
      {"still not, then scaled", 0.9, 0.1, 1.1, "still not positive definite"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Model m = ThreeWires(kLoop, kCap);
    m.loop_inductance_h = {3, false, {}, {}};
    for (const auto& [i, j, v] : std::vector<std::tuple<std::size_t, std::size_t, double>>{
             {0, 0, 1}, {1, 0, c.k}, {1, 1, 1}, {2, 0, c.k}, {2, 2, 1}}) {
      m.loop_inductance_h.entries.push_back({i, j, v * 1e-9});
    }
    m.notes = {"cut", "later"};
    CheckAndRepair(m, {std::vector<double>(3, c.dropped_nh * 1e-9), 1});
    EXPECT_NEAR(m.loop_inductance_h.At(0, 0) * 1e9, c.l_aa_nh, 1e-12);
    EXPECT_TRUE(PositiveDefinite(m.loop_inductance_h, m.coincident));
    ASSERT_GE(m.notes.size(), 2u);
    EXPECT_EQ(m.notes[0], "cut");
    if (c.says.empty()) {
      EXPECT_EQ(m.notes, (std::vector<std::string>{"cut", "later"}));
    } else {
      EXPECT_NE(m.notes[1].find(c.says), std::string::npos) << m.notes[1];
      EXPECT_EQ(m.notes[2], "later");
    }
  }
}

// The resistance matrix with the proximity's mutual resistances x R between A and both others:
// positive definite while x < 1 / sqrt(2), with a dominant diagonal while x < 1/2.
TEST(ModelCheck, ScalesTheProximityResistanceOnlyWhereItIsNotPositiveDefinite) {
  for (const auto& [x, scaled] : {std::pair{0.3, false}, {0.6, false}, {0.9, true}}) {
    SCOPED_TRACE(x);
    Model m = ThreeWires(kLoop, kCap);
    const double r = m.results[0].resistance_ohm[0];
    m.results[0].proximity_loop.delta_resistance_ohm = {
        3, false, {}, {{1, 0, x * r}, {2, 0, x * r}}};
    m.results[0].proximity_loop.delta_inductance_h.n = 3;
    CheckAndRepair(m);
    ASSERT_EQ(m.notes.size(), scaled ? 1u : 0u);
    const double kept = m.results[0].proximity_loop.delta_resistance_ohm.At(1, 0) / r;
    if (scaled) {
      EXPECT_NE(m.notes[0].find("mutual resistances were scaled"), std::string::npos);
      EXPECT_NEAR(kept, 1 / std::sqrt(2.0), 1e-9);
    } else {
      EXPECT_EQ(kept, x);
    }
  }
}

TEST(ModelCheck, ALargeMatrixNamesItsFirstFaultyPairInRowOrder) {
  // 150 wires, so that the look over the matrix runs over tiles of 64 rows and columns: each
  // case plants two faults, and the error names the pair that comes first row by row.
  struct Case {
    const char* name;
    double value;  // planted at (140, 70) and at (141, 3)
    bool mirror;   // also at (j, i)
    std::string says;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {"not symmetric", 0.2, false, "not symmetric at wires W70 and W140"},
      {"not finite", nan, true, "wires W70 and W140 is not finite"}};
  constexpr std::size_t n = 150;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Model m = ThreeWires(kLoop, kCap);
    m.capacitance_f.reset();
    m.conductors.resize(n, m.conductors[0]);
    for (std::size_t i = 0; i < n; ++i) m.conductors[i].name = "W" + std::to_string(i);
    m.results[0] = {0, std::vector<double>(n, 1.0), std::vector<double>(n, 5e-11)};
    m.loop_inductance_h = {n, true, std::vector<double>(n * n, 0.0), {}};
    for (std::size_t i = 0; i < n; ++i) m.loop_inductance_h.values[i * n + i] = 1e-9;
    for (const auto& [i, j] : {std::pair<std::size_t, std::size_t>{141, 3}, {140, 70}}) {
      m.loop_inductance_h.values[i * n + j] = c.value * 1e-9;
      if (c.mirror) m.loop_inductance_h.values[j * n + i] = c.value * 1e-9;
    }
    try {
      CheckAndRepair(m);
      ADD_FAILURE() << "no error";
    } catch (const StageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace ostrel::physical

namespace ostrel::physical {
namespace {

// Wires of 1, 3 and 2 mm: the 3 mm wire spans a tenth of a wavelength at 9.99 GHz in vacuum and
// at 9.99 / sqrt(3.8) = 5.13 GHz in a dielectric of 3.8; the 2 mm one at 15 and 7.69 GHz.
TEST(ModelCheck, NotesTheFrequencyWhereTheLongestWireReachesATenthOfAWavelength) {
  struct Case {
    double eps_r;
    std::vector<double> frequencies_hz;
    std::string says;  // empty: no note
  };
  const Case cases[] = {
      {1, {1e9, 9.9e9}, ""},
      {1, {1.01e10, 0}, "passes 9.99e+09 Hz, where the longest wire C (3 mm)"},
      {1, {1.6e10}, "eps_r 1 (2 of 3 wires pass theirs)"},
      {3.8, {5.1e9, 1e8}, ""},
      {3.8, {5.2e9}, "passes 5.13e+09 Hz, where the longest wire C"},
      {3.8, {2e10}, "eps_r 3.8 (3 of 3 wires pass theirs)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.eps_r) + " " + std::to_string(c.frequencies_hz.front()));
    Model m;
    m.options.eps_r = c.eps_r;
    for (const auto& [name, length_m] :
         {std::pair("A", 1e-3), std::pair("C", 3e-3), std::pair("B", 2e-3)}) {
      m.conductors.push_back(
          {name, WireKind::kBaseDie, {{0, 0, 0}, {length_m, 0, 0}}, 12.7e-6, 2.44e-8, length_m});
    }
    for (const double f : c.frequencies_hz) m.results.push_back({f, {}, {}});
    NoteElectricalLength(m);
    if (c.says.empty()) {
      EXPECT_TRUE(m.notes.empty()) << m.notes.front();
      continue;
    }
    ASSERT_EQ(m.notes.size(), 1u);
    EXPECT_NE(m.notes[0].find(c.says), std::string::npos) << m.notes[0];
  }
}

}  // namespace
}  // namespace ostrel::physical
