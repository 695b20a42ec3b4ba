#include <gtest/gtest.h>
#include <unistd.h>

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "app/workspace.h"
#include "base/stage_error.h"
#include "package/package_reader.h"
#include "package_generator.h"
#include "physical/accuracy_share.h"
#include "physical/capacitance.h"
#include "physical/clearance.h"
#include "physical/inductance.h"
#include "physical/physical_model.h"
#include "physical/wire_groups.h"
#include "support/random_package.h"

// Random legal packages (stacked dies, stitches onto balls, double bonds, shared fingers,
// duplicated and crossing wires, close pitch) through the same stages as ostrel-cli, and the
// rules every physical model obeys, checked here without the product's own checks.
namespace ostrel::physical {
namespace {

constexpr int kSeeds = 500;
// The generated package whose clusters are checked, and the share of its kept couplings that
// may lie beyond the stated accuracy of the one-system solve.
constexpr long kClusterWires = 300;
constexpr double kBeyondShare = 0.2;  // 16% measured with blocks of 24 wires

using Groups = std::vector<std::vector<std::size_t>>;

Eigen::MatrixXd ToDense(const SymmetricMatrix& m) {
  Eigen::MatrixXd d(m.n, m.n);
  for (std::size_t i = 0; i < m.n; ++i) {
    for (std::size_t j = 0; j < m.n; ++j) d(i, j) = m.dense ? m.values[i * m.n + j] : m.At(i, j);
  }
  return d;
}

// The matrix with one row and column for each group of wires: the first wire of the group.
Eigen::MatrixXd OneRowPerGroup(const Eigen::MatrixXd& m, const Groups& groups) {
  std::vector<bool> dropped(std::size_t(m.rows()), false);
  for (const auto& group : groups) {
    for (std::size_t k = 1; k < group.size() && group[k] < dropped.size(); ++k) {
      dropped[group[k]] = true;
    }
  }
  std::vector<Eigen::Index> kept;
  for (std::size_t i = 0; i < dropped.size(); ++i) {
    if (!dropped[i]) kept.push_back(Eigen::Index(i));
  }
  return m(kept, kept);
}

bool PositiveDefinite(const Eigen::MatrixXd& m) {
  return m.size() == 0 || m.llt().info() == Eigen::Success;
}

// Finite, symmetric, couplings |k| <= 1, positive semi-definite, and positive definite with
// each group of coincident wires as one conductor.
void CheckInductance(const Eigen::MatrixXd& l, const Groups& coincident) {
  ASSERT_TRUE(l.allFinite());
  for (Eigen::Index i = 0; i < l.rows(); ++i) {
    EXPECT_GT(l(i, i), 0) << "wire " << i;
    for (Eigen::Index j = 0; j < i; ++j) {
      const double scale = std::sqrt(l(i, i) * l(j, j));
      EXPECT_NEAR(l(i, j), l(j, i), 1e-12 * scale) << "wires " << i << ", " << j;
      EXPECT_LE(std::abs(l(i, j)) / scale, 1 + 1e-9) << "coupling of wires " << i << ", " << j;
    }
  }
  const Eigen::VectorXd eigen = Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>(l).eigenvalues();
  if (eigen.size() > 0) EXPECT_GE(eigen.minCoeff(), -1e-9 * eigen.maxCoeff());
  EXPECT_TRUE(PositiveDefinite(OneRowPerGroup(l, coincident)));
}

// Each group holds two or more wires, ascending, all of them wires of the model.
void CheckGroups(const Groups& groups, std::size_t wires) {
  for (const auto& group : groups) {
    EXPECT_GE(group.size(), 2u);
    for (std::size_t k = 0; k < group.size(); ++k) {
      EXPECT_LT(group[k], wires);
      if (k > 0) EXPECT_LT(group[k - 1], group[k]);
    }
  }
}

// Wires i and j lie in one group.
bool SameGroup(const Groups& groups, std::size_t i, std::size_t j) {
  for (const auto& group : groups) {
    if (std::count(group.begin(), group.end(), i) && std::count(group.begin(), group.end(), j)) {
      return true;
    }
  }
  return false;
}

// Plan segments a0-a1 and b0-b1 cross at a point inside both.
bool PlanSegmentsCross(float a0x, float a0y, float a1x, float a1y, float b0x, float b0y, float b1x,
                       float b1y) {
  const auto side = [](double px, double py, double qx, double qy, double rx, double ry) {
    return (qx - px) * (ry - py) - (qy - py) * (rx - px);
  };
  return side(a0x, a0y, a1x, a1y, b0x, b0y) * side(a0x, a0y, a1x, a1y, b1x, b1y) < 0 &&
         side(b0x, b0y, b1x, b1y, a0x, a0y) * side(b0x, b0y, b1x, b1y, a1x, a1y) < 0;
}

// Every hard case a random package names is in its file, and a seed always gives one package:
// what the property test below relies on.
TEST(RandomPackage, HoldsTheHardCasesItNames) {
  for (int seed = 0; seed < kSeeds; ++seed) {
    const auto random = testing_support::MakeRandomPackage(std::uint64_t(seed), "r.tmv");
    SCOPED_TRACE("seed " + std::to_string(seed) + ":" + random.features);
    EXPECT_EQ(random.package_text,
              testing_support::MakeRandomPackage(std::uint64_t(seed), "r.tmv").package_text);
    Package p;
    ParsePackage(random.package_text, p, "r.tmv");
    for (const auto* side : {&p.TopPads, &p.BottomPads, &p.LeftPads, &p.RightPads}) {
      EXPECT_GE(side->size(), 2u);
    }
    const std::size_t at = random.settings_text.find("WireDiameter=") + 13;
    const double diameter_um = 25.4 * std::stod(random.settings_text.substr(at));
    bool duplicate = false, double_bond = false, shared = false, crossing = false, close = false;
    for (std::size_t i = 0; i < p.ChipPads.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        const BondPad &a = p.ChipPads[i], &b = p.ChipPads[j];
        const bool start = a.BondX1 == b.BondX1 && a.BondY1 == b.BondY1;
        const bool end = a.BondX2 == b.BondX2 && a.BondY2 == b.BondY2;
        duplicate |= start && end;
        double_bond |= start && !end;
        shared |= end && !start;
        crossing |= PlanSegmentsCross(a.BondX1, a.BondY1, a.BondX2, a.BondY2, b.BondX1, b.BondY1,
                                      b.BondX2, b.BondY2);
        const double pitch = std::hypot(a.X - b.X, a.Y - b.Y);
        close |= pitch > 1.1 * diameter_um - 0.1 && pitch < 3 * diameter_um + 0.1;
      }
    }
    bool on_ball = false, from_ball = false;
    for (const Stitch& s : p.Stitches) {
      for (const BondPad& a : p.ChipPads) {
        on_ball |= s.X2 == a.BondX1 && s.Y2 == a.BondY1;
        from_ball |= s.X1 == a.BondX1 && s.Y1 == a.BondY1;
      }
    }
    const std::pair<const char*, bool> cases[] = {{"duplicate", duplicate},
                                                  {"double-bond", double_bond},
                                                  {"shared-finger", shared},
                                                  {"crossing", crossing},
                                                  {"close-pitch", close},
                                                  {"stitch-on-ball", on_ball},
                                                  {"stitch-from-ball", from_ball},
                                                  {"stitch-ball-to-ball", on_ball && from_ball},
                                                  {"stack", !p.StackPads.empty() && p.SdCompZ > 0}};
    for (const auto& [word, found] : cases) {
      if (random.features.find(word) != std::string::npos) EXPECT_TRUE(found) << word;
    }
  }
}

// The wires of a generated package of `count` wires (a stacked die, stitches onto balls, fingers
// fanned out) through the stages of ostrel-cli; none when it cannot be read.
std::vector<Conductor> GeneratedConductors(long count) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("ostrel_generated_" + std::to_string(::getpid()) + "_" + std::to_string(count));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "g.tmv", std::ios::binary) << bench::PackageText(count);
  std::ofstream(dir / "g.zv", std::ios::binary) << bench::SettingsText("g.tmv");
  Workspace ws;
  const StartUpResult start = StartUp(ws, (dir / "g.zv").string());
  if (!start.error) EstimateWires(ws);
  std::filesystem::remove_all(dir);
  return start.error ? std::vector<Conductor>{} : BuildConductors(ws.Wires, ws.params);
}

// A large generated package (a stacked die, stitches, fingers fanned out) gets its far groups
// compressed: every entry within the stated accuracy of the direct sums.
TEST(GeneratedPackage, CompressedInductanceStaysWithinTheStatedAccuracy) {
  const std::vector<Conductor> wires = GeneratedConductors(1200);
  ASSERT_EQ(wires.size(), 1200u);
  InductanceSettings direct_sums;
  direct_sums.compress_from_wires = 0;
  const InductanceMatrices d = ComputeInductance(wires, 50e-6, 0, {}, direct_sums);
  const InductanceMatrices m = ComputeInductance(wires, 50e-6, 0);
  EXPECT_LE(AccuracyShare(m.loop_h, d.loop_h), 1.0);
  EXPECT_LE(AccuracyShare(*m.partial_h, *d.partial_h), 1.0);
  EXPECT_NE(m.loop_h, d.loop_h);  // compressed indeed
}

// The clustered capacitance of a generated package (a stacked die, stitches onto balls) against
// every wire solved in one system: the diagonals close, and few kept couplings beyond the
// stated accuracy of an entry, 1e-3 |C_ij| + 1e-5 sqrt(C_ii C_jj).
TEST(GeneratedPackage, ClusteredCapacitanceKeepsCloseToTheOneSystemSolve) {
  const std::vector<Conductor> wires = GeneratedConductors(kClusterWires);
  ASSERT_EQ(wires.size(), std::size_t(kClusterWires));
  const Groups joined =
      JoinedConductors(wires.size(), CoincidentGroups(wires), CheckClearance(wires, 0));
  ASSERT_FALSE(joined.empty());  // stitches on balls
  CapacitanceSettings one_system;
  one_system.max_dense_pieces = std::numeric_limits<std::size_t>::max();
  const SymmetricMatrix d = ComputeCapacitance(wires, 50e-6, 1, {}, one_system, joined);
  const SymmetricMatrix c = ComputeCapacitance(wires, 50e-6, 1, {}, {}, joined);
  ASSERT_TRUE(d.dense);
  ASSERT_FALSE(c.dense);
  double worst_diagonal = 0;
  std::size_t couplings = 0, beyond = 0;
  for (const auto& e : c.entries) {
    const double exact = d.At(e.i, e.j);
    if (e.i == e.j) {
      worst_diagonal = std::max(worst_diagonal, std::abs(e.value / exact - 1));
      continue;
    }
    ++couplings;
    const double bound = 1e-3 * std::abs(exact) + 1e-5 * std::sqrt(d.At(e.i, e.i) * d.At(e.j, e.j));
    if (std::abs(e.value - exact) > bound) ++beyond;
  }
  RecordProperty("beyond_accuracy", std::to_string(beyond) + " of " + std::to_string(couplings));
  RecordProperty("worst_diagonal", std::to_string(worst_diagonal));
  EXPECT_LE(worst_diagonal, 0.005);
  EXPECT_GT(couplings, 5 * wires.size());  // couplings kept indeed
  EXPECT_LE(double(beyond), kBeyondShare * double(couplings))
      << beyond << " of " << couplings << ", worst diagonal " << worst_diagonal;
}

class RandomPackageTest : public ::testing::TestWithParam<int> {};

TEST_P(RandomPackageTest, GetsAFiniteSymmetricPassiveModel) {
  const int seed = GetParam();
  const testing_support::RandomPackage random =
      testing_support::MakeRandomPackage(std::uint64_t(seed), "r.tmv");
  SCOPED_TRACE("seed " + std::to_string(seed) + ":" + random.features);
  const auto dir = std::filesystem::temp_directory_path() /
                   ("ostrel_property_" + std::to_string(::getpid()) + "_" + std::to_string(seed));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "r.tmv", std::ios::binary) << random.package_text;
  std::ofstream(dir / "r.zv", std::ios::binary) << random.settings_text;
  Workspace ws;
  const StartUpResult start = StartUp(ws, (dir / "r.zv").string());
  Model model;
  try {
    if (start.error) throw *start.error;
    EstimateWires(ws);
  } catch (const StageError& e) {
    // Only what the report accepts must get a model (a wire drawn too flat for the report's
    // own inductance formulas, say).
    std::filesystem::remove_all(dir);
    GTEST_SKIP() << "the report refuses it: " << e.what();
  }
  try {
    Options options;
    options.frequencies_hz = {0, 1e9};
    model = ComputeModel(ws.Wires, ws.params, options);
  } catch (const StageError& e) {
    std::filesystem::remove_all(dir);
    FAIL() << "seed " << seed << ": a legal package got no model: " << e.what();
  }
  std::filesystem::remove_all(dir);

  const std::size_t n = model.conductors.size();
  ASSERT_EQ(n, ws.Wires.size());
  ASSERT_EQ(model.results.size(), 2u);
  const FrequencyResult &dc = model.results[0], &ac = model.results[1];
  for (const FrequencyResult* r : {&dc, &ac}) {
    ASSERT_EQ(r->resistance_ohm.size(), n);
    ASSERT_EQ(r->internal_inductance_h.size(), n);
  }
  for (std::size_t i = 0; i < n; ++i) {
    SCOPED_TRACE("wire " + model.conductors[i].name);
    EXPECT_GT(dc.resistance_ohm[i], 0);
    EXPECT_TRUE(std::isfinite(ac.resistance_ohm[i]));
    EXPECT_GE(ac.resistance_ohm[i], dc.resistance_ohm[i]);
    for (const FrequencyResult* r : {&dc, &ac}) {
      EXPECT_TRUE(std::isfinite(r->internal_inductance_h[i]) && r->internal_inductance_h[i] > 0);
    }
  }
  CheckGroups(model.coincident, n);
  CheckGroups(model.joined_conductors, n);
  // A wire bonded twice is one conductor; wires sharing a bond point (a ball, a pad, a finger)
  // touch, so they are joined.
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      const auto &a = model.conductors[i].path_m, &b = model.conductors[j].path_m;
      SCOPED_TRACE("wires " + model.conductors[j].name + ", " + model.conductors[i].name);
      if (a == b) EXPECT_TRUE(SameGroup(model.coincident, j, i));
      for (const Point3& p : {a.front(), a.back()}) {
        if (p == b.front() || p == b.back()) EXPECT_TRUE(SameGroup(model.joined_conductors, j, i));
      }
    }
  }
  for (const Clearance& c : model.clearance) {
    EXPECT_LT(c.wire_a, c.wire_b);
    EXPECT_LT(c.wire_b, n);
    EXPECT_TRUE(std::isfinite(c.clearance_m));
  }

  const Eigen::MatrixXd loop = ToDense(model.loop_inductance_h);
  const Eigen::MatrixXd partial =
      model.partial_inductance_h ? ToDense(*model.partial_inductance_h) : Eigen::MatrixXd();
  {
    SCOPED_TRACE("loop inductance");
    CheckInductance(loop, model.coincident);
  }
  if (model.partial_inductance_h) {
    SCOPED_TRACE("partial inductance");
    CheckInductance(ToDense(*model.partial_inductance_h), model.coincident);
  }
  // The loop matrix with each wire's internal inductance is the total one: positive definite
  // even for coincident wires, since each has an inside of its own.
  for (const FrequencyResult* r : {&dc, &ac}) {
    const Eigen::VectorXd internal =
        Eigen::Map<const Eigen::VectorXd>(r->internal_inductance_h.data(), Eigen::Index(n));
    Eigen::MatrixXd total = loop;
    total.diagonal() += internal;
    EXPECT_TRUE(PositiveDefinite(total)) << "total inductance at " << r->frequency_hz << " Hz";
  }
  // With the proximity corrections (none at DC): R + dR positive definite with no wire losing
  // resistance, L + L_int + dL positive definite, each coincident group one conductor.
  for (const FrequencyResult* r : {&dc, &ac}) {
    for (const auto& [kind, c, l] : {std::tuple("loop", &r->proximity_loop, &loop),
                                     std::tuple("partial", &r->proximity_partial,
                                                model.partial_inductance_h ? &partial : nullptr)}) {
      SCOPED_TRACE(std::string(kind) + " proximity at " + std::to_string(r->frequency_hz) + " Hz");
      const Eigen::MatrixXd dr = ToDense(c->delta_resistance_ohm),
                            dl = ToDense(c->delta_inductance_h);
      if (r->frequency_hz == 0) {
        EXPECT_EQ(dr.cwiseAbs().maxCoeff() + dl.cwiseAbs().maxCoeff(), 0);
        continue;
      }
      Eigen::MatrixXd resistance = dr;
      for (std::size_t i = 0; i < n; ++i) {
        resistance(Eigen::Index(i), Eigen::Index(i)) += r->resistance_ohm[i];
        EXPECT_GE(dr(Eigen::Index(i), Eigen::Index(i)), -1e-12 * r->resistance_ohm[i])
            << "wire " << i;
      }
      EXPECT_TRUE(resistance.allFinite() &&
                  PositiveDefinite(OneRowPerGroup(resistance, model.coincident)));
      if (l == nullptr) continue;
      Eigen::MatrixXd total = *l + dl;
      total.diagonal() +=
          Eigen::Map<const Eigen::VectorXd>(r->internal_inductance_h.data(), Eigen::Index(n));
      EXPECT_TRUE(total.allFinite() && PositiveDefinite(OneRowPerGroup(total, model.coincident)));
    }
  }

  SCOPED_TRACE("capacitance");
  ASSERT_TRUE(model.capacitance_f.has_value());
  // Maxwell matrix: own charge positive, induced charges negative, no wire holding more
  // induced charge than its own (the rest ends on the ground).
  const Eigen::MatrixXd c = ToDense(*model.capacitance_f);
  ASSERT_TRUE(c.allFinite());
  for (Eigen::Index i = 0; i < c.rows(); ++i) {
    EXPECT_GT(c(i, i), 0) << "wire " << i;
    EXPECT_GE(c.row(i).sum(), -1e-9 * c(i, i)) << "wire " << i;
    for (Eigen::Index j = 0; j < i; ++j) {
      EXPECT_LE(c(i, j), 1e-9 * std::sqrt(c(i, i) * c(j, j))) << "wires " << i << ", " << j;
      EXPECT_NEAR(c(i, j), c(j, i), 1e-9 * std::sqrt(c(i, i) * c(j, j)));
    }
  }
  // Wires joined into one conductor share one potential: one row for each such group.
  EXPECT_TRUE(PositiveDefinite(OneRowPerGroup(c, model.joined_conductors)));
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomPackageTest, ::testing::Range(0, kSeeds));

}  // namespace
}  // namespace ostrel::physical
