#include "physical/inductance.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "base/stage_error.h"
#include "physical/accuracy_share.h"
#include "physical/kernels.h"
#include "support/python_reference.h"

namespace ostrel::physical {
namespace {

constexpr double kMu0 = 4e-7 * std::numbers::pi;
constexpr double kRadius = 12.7e-6;

Conductor Straight(Point3 a, Point3 b, int cuts = 1) {
  Conductor c{"W", WireKind::kBaseDie, {}, kRadius, 2.44e-8, 0};
  for (int k = 0; k <= cuts; ++k) {
    const double t = double(k) / cuts;
    c.path_m.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)});
  }
  return c;
}

// A fan of bond-wire-like paths (rise, bend, level run, drop), 60 um pitch, spreading slightly.
std::vector<Conductor> Fan(int n) {
  const double shape_um[][2] = {{0, 200},  {0, 280},   {8, 340},   {30, 390},
                                {90, 400}, {700, 400}, {950, 120}, {1000, 0}};
  std::vector<Conductor> fan;
  for (int i = 0; i < n; ++i) {
    Conductor c{"W" + std::to_string(i), WireKind::kBaseDie, {}, kRadius, 2.44e-8, 0};
    const double angle = 0.004 * i;
    for (const auto& p : shape_um) {
      c.path_m.push_back(
          {1e-6 * p[0] * std::cos(angle), 60e-6 * i + 1e-6 * p[0] * std::sin(angle), 1e-6 * p[1]});
    }
    fan.push_back(c);
  }
  return fan;
}

TEST(Inductance, StraightWiresMatchRosaGroverAndTheWireOverAPlane) {
  const double l = 2e-3;
  struct Case {
    const char* name;
    std::vector<Conductor> wires;
    double ground_m, expected_h, tol;
    bool loop;
    std::size_t i, j;
  };
  // Grover, parallel wires at distance d: M = mu0 l / (2 pi) [asinh(l / d) - sqrt(1 + d^2 / l^2)
  // + d / l]; Rosa (surface current): L = mu0 l / (2 pi) [asinh(l / a) - sqrt(1 + a^2 / l^2) + a /
  // l].
  const auto grover = [&](double d) {
    return kMu0 * l / (2 * std::numbers::pi) *
           (std::asinh(l / d) - std::sqrt(1 + d * d / (l * l)) + d / l);
  };
  // A wire h above a plane at distance H: mu0 l / (2 pi) acosh(H / a) per length, ends aside.
  const double h = 100e-6, depth = 50e-6, far_l = 0.2;
  const double over_plane =
      kMu0 * far_l / (2 * std::numbers::pi) * std::acosh((h + depth) / kRadius);
  const std::vector<Case> cases = {
      {"self, one piece", {Straight({0, 0, 0}, {l, 0, 0})}, 0, grover(kRadius), 1e-12, false, 0, 0},
      {"self, cut in 5000",
       {Straight({0, 0, 0}, {l, 0, 0}, 5000)},
       0,
       grover(kRadius),
       1e-9,
       false,
       0,
       0},
      {"mutual at 60 um",
       {Straight({0, 0, 0}, {l, 0, 0}), Straight({0, 60e-6, 0}, {l, 60e-6, 0})},
       0,
       grover(60e-6),
       1e-9,
       false,
       1,
       0},
      {"mutual at 1 mm, cut",
       {Straight({0, 0, 0}, {l, 0, 0}, 7), Straight({0, 1e-3, 0}, {l, 1e-3, 0}, 3)},
       0,
       grover(1e-3),
       1e-9,
       false,
       1,
       0},
      {"loop over the plane",
       {Straight({0, 0, h}, {far_l, 0, h})},
       depth,
       over_plane,
       2e-3,
       true,
       0,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const InductanceMatrices m = ComputeInductance(c.wires, c.ground_m > 0 ? c.ground_m : 1.0, 0);
    const double got = c.loop ? m.loop_h.At(c.i, c.j) : m.partial_h->At(c.i, c.j);
    EXPECT_NEAR(got, c.expected_h, c.tol * c.expected_h);
  }
}

TEST(Inductance, FarPairRulesStayWithinATenthOfAPercentOfTheExactSums) {
  // Two fans, the second 12 mm away, where whole wire pairs take the 1-point rule.
  std::vector<Conductor> fan = Fan(40);
  for (int i = 0; i < 20; ++i) {
    Conductor far = fan[std::size_t(i)];
    for (Point3& p : far.path_m) p.y += 12e-3;
    fan.push_back(far);
  }
  const InductanceMatrices fast = ComputeInductance(fan, 50e-6, 0);
  const InductanceMatrices exact = ComputeInductance(fan, 50e-6, 0, {}, {.exact_only = true});
  for (std::size_t i = 0; i < fan.size(); ++i) {
    for (std::size_t j = 0; j <= i; ++j) {
      SCOPED_TRACE(std::to_string(i) + "," + std::to_string(j));
      for (auto [a, b] : {std::pair(fast.partial_h->At(i, j), exact.partial_h->At(i, j)),
                          std::pair(fast.loop_h.At(i, j), exact.loop_h.At(i, j))}) {
        EXPECT_NEAR(a, b, 1e-3 * std::abs(b) + 1e-16);
      }
    }
  }
}

TEST(Inductance, AShortPieceBesideALongOneKeepsTheRulesAccuracy) {
  // A 1 mm wire and a short one, each one piece, placed where each takes the fewest points its
  // rule allows: the long one 8, 4 or 2 (the short one's nearest point 0.6, 1.2 or 2 lengths
  // from its middle), the short one 1, 2 or 4. In line is the rules' worst; a near pair (the long
  // one at 4 or 8 points) keeps the 4-point rule's 1e-4, a far one the 2-point rule's 8e-4.
  const double l = 1e-3;
  const Conductor long_wire = Straight({0, 0, 0}, {l, 0, 0});
  struct Case {
    const char* name;
    Point3 a, b;
    double tol;
  };
  const double s = 50e-6, c = std::sqrt(0.5) * 100e-6;
  const std::vector<Case> cases = {
      {"in line, 8 by 2", {1.101 * l, 0, 0}, {1.101 * l + s, 0, 0}, 1e-4},
      // 1.6 lengths from the long one's middle, and 12.5 of its own: 2 points for each alone,
      // 4 and 2 together.
      {"in line, 4 by 2", {1.601 * l, 0, 0}, {1.601 * l + s, 0, 0}, 1e-4},
      {"in line, 4 by 1", {1.701 * l, 0, 0}, {1.701 * l + 30e-6, 0, 0}, 1e-4},
      {"in line, 2 by 1", {2.501 * l, 0, 0}, {2.501 * l + s, 0, 0}, 8e-4},
      {"side by side, 8 by 2",
       {0.5 * l - s / 2, 0.626 * l, 0},
       {0.5 * l + s / 2, 0.626 * l, 0},
       1e-4},
      {"at 45 degrees, 8 by 4", {1.12 * l, 0, 0}, {1.12 * l + c, c, 0}, 1e-4},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::vector<Conductor> wires = {long_wire, Straight(k.a, k.b)};
    const InductanceMatrices fast = ComputeInductance(wires, 1.0, 0);
    const InductanceMatrices exact = ComputeInductance(wires, 1.0, 0, {}, {.exact_only = true});
    const double got = fast.partial_h->At(1, 0), want = exact.partial_h->At(1, 0);
    EXPECT_NE(got, want) << "a product rule, not the closed form";
    EXPECT_NEAR(got, want, k.tol * std::abs(want));
  }
}

TEST(Inductance, SparseLoopKeepsEveryCouplingAboveTheCutoffAndNoThreadCountChangesIt) {
  // Every fourth wire two and a half times as long: pairs of short wires reach less far than
  // pairs with a long one.
  std::vector<Conductor> fan = Fan(150);
  for (std::size_t i = 0; i < fan.size(); i += 4) {
    for (Point3& p : fan[i].path_m) p.x *= 2.5;
  }
  const double cutoff = 1e-3;
  const InductanceMatrices dense = ComputeInductance(fan, 50e-6, cutoff);
  omp_set_num_threads(1);
  const InductanceMatrices one = ComputeInductance(fan, 50e-6, cutoff, {}, {.max_dense_wires = 10});
  omp_set_num_threads(2);
  const InductanceMatrices two = ComputeInductance(fan, 50e-6, cutoff, {}, {.max_dense_wires = 10});
  EXPECT_EQ(one.loop_h, two.loop_h);
  EXPECT_FALSE(two.loop_h.dense);
  EXPECT_FALSE(two.partial_h.has_value());
  EXPECT_GE(two.notes.size(), 2u);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < fan.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      const double full = dense.loop_h.At(i, j);
      const double k = full / std::sqrt(dense.loop_h.At(i, i) * dense.loop_h.At(j, j));
      SCOPED_TRACE(std::to_string(i) + "," + std::to_string(j) + " k " + std::to_string(k));
      EXPECT_EQ(two.loop_h.At(i, j), std::abs(k) >= cutoff ? full : 0.0);
      kept += std::abs(k) >= cutoff;
    }
  }
  EXPECT_GT(kept, fan.size());  // the cut keeps real couplings, not just the diagonal
}

TEST(Inductance, FarGroupsCompressWithinTheStatedAccuracyOnAnyThreadCount) {
  // A fan of 160 wires along one die side and a copy turned onto the next side, 3 mm apart:
  // groups far apart along each side and across the corner.
  std::vector<Conductor> wires = Fan(160);
  for (std::size_t i = 0; i < 160; ++i) {
    Conductor turned = wires[i];
    turned.name += "'";
    for (Point3& p : turned.path_m) p = {-p.y - 3e-3, p.x + 1e-3, p.z};
    wires.push_back(turned);
  }
  InductanceSettings direct_sums, compressed;
  direct_sums.compress_from_wires = 0;
  compressed.compress_from_wires = 1;
  compressed.leaf_wires = 8;
  const InductanceMatrices direct = ComputeInductance(wires, 50e-6, 0, {}, direct_sums);
  omp_set_num_threads(1);
  const InductanceMatrices one = ComputeInductance(wires, 50e-6, 0, {}, compressed);
  omp_set_num_threads(2);
  const InductanceMatrices two = ComputeInductance(wires, 50e-6, 0, {}, compressed);
  EXPECT_EQ(one.loop_h, two.loop_h);
  EXPECT_EQ(*one.partial_h, *two.partial_h);
  EXPECT_LE(AccuracyShare(*two.partial_h, *direct.partial_h), 1.0);
  EXPECT_LE(AccuracyShare(two.loop_h, direct.loop_h), 1.0);
  // Compressed indeed: the far entries are not the direct sums' bits.
  EXPECT_NE(two.loop_h, direct.loop_h);
  EXPECT_NE(*two.partial_h, *direct.partial_h);
}

TEST(Inductance, HostileCutsAreMergedAndCancelStops) {
  // A rise, a bend and a drop cut into 32767 pieces.
  std::vector<Point3> path = {{0, 0, 2e-4}, {0, 0, 4e-4}, {1e-4, 0, 4e-4}};
  for (int k = 1; k <= 32767; ++k)
    path.push_back({1e-4 + 1e-3 * k / 32767, 0, 4e-4 * (1 - k / 32767.0)});
  EXPECT_EQ(MergedVertices(path, 1e-7).size(), 4u);
  std::atomic<bool> cancel = true;
  EXPECT_THROW(ComputeInductance(Fan(3), 50e-6, 0, {nullptr, &cancel}), StageError);
}

// Answers of inductance_reference.py (scipy quadrature of surface and image currents).
std::vector<std::vector<double>> SurfaceReference(const std::vector<std::string>& cases) {
  const auto script = std::filesystem::path(__FILE__).parent_path() / "inductance_reference.py";
  return testing_support::RunReference(script.string(), cases);
}

// The numbers of a reference case naming the paths of two wires (metres): count, then points.
std::vector<double> TwoPaths(double first, const Conductor& a, const Conductor& b) {
  std::vector<double> values = {first};
  for (const Conductor* c : {&a, &b}) {
    values.push_back(double(c->path_m.size()));
    for (const Point3& p : c->path_m) values.insert(values.end(), {p.x, p.y, p.z});
  }
  return values;
}

Conductor Path(const std::vector<Point3>& points_um) {
  Conductor c{"W", WireKind::kBaseDie, {}, kRadius, 2.44e-8, 0};
  for (const Point3& p : points_um) c.path_m.push_back({1e-6 * p.x, 1e-6 * p.y, 1e-6 * p.z});
  return c;
}

TEST(Inductance, ParallelWiresUpToCoincidenceMatchTheSurfaceCurrentIntegral) {
  // 1 mm wires whose axes lie 0 to 2 radii apart: their surfaces meet or cross, so the mutual
  // of the surface currents is no filament mutual. Tolerance 0.5%; at distance 0 they are one
  // conductor and the mutual is the self (k = 1).
  const double l = 1e-3;
  const std::vector<double> distances = {0, 0.5 * kRadius, kRadius, 2 * kRadius};
  std::vector<std::string> lines;
  for (double d : distances) lines.push_back(testing_support::CaseLine("tubes", {kRadius, l, d}));
  const auto ref = SurfaceReference(lines);
  for (std::size_t k = 0; k < distances.size() && k < ref.size(); ++k) {
    SCOPED_TRACE("axes " + std::to_string(distances[k] / kRadius) + " radii apart");
    const InductanceMatrices m =
        ComputeInductance({Straight({0, 0, 1e-4}, {l, 0, 1e-4}),
                           Straight({0, distances[k], 1e-4}, {l, distances[k], 1e-4})},
                          50e-6, 0);
    EXPECT_NEAR(m.partial_h->At(1, 0), ref[k][0], 5e-3 * ref[k][0]);
    if (distances[k] == 0)
      EXPECT_NEAR(m.partial_h->At(1, 0), m.partial_h->At(0, 0), 1e-9 * ref[k][0]);
  }
}

TEST(Inductance, CrossSectionSpreadMatchesTheMeanOverTheCircle) {
  // g from the midpoint rule in long double over 200,000 steps of the half turn (error at the
  // kink about 1e-10); tolerance 1e-9 of g. Radii in units of rb.
  struct Case {
    const char* name;
    double gap, ra, rb;
  };
  const std::vector<Case> cases = {{"equal radii, half overlap", 1.0, 1.0, 1.0},
                                   {"equal radii, nearly apart", 1.98, 1.0, 1.0},
                                   {"thin wire beside a thick one", 0.9, 0.3, 1.0},
                                   {"thick wire beside a thin one", 0.7, 2.5, 1.0},
                                   {"thin circle inside the thick one", 0.2, 0.5, 1.0},
                                   {"thick circle round the thin one", 0.1, 1.0, 0.5},
                                   {"one axis", 0.0, 0.8, 1.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    constexpr int kSteps = 200000;
    long double sum = 0;
    for (int k = 0; k < kSteps; ++k) {
      const long double theta = std::numbers::pi_v<long double> * (k + 0.5L) / kSteps;
      const long double r2 = (long double)c.gap * c.gap + (long double)c.ra * c.ra +
                             2.0L * c.gap * c.ra * std::cos(theta);
      sum += 0.5L * std::log(std::max(r2, (long double)c.rb * c.rb));
    }
    const double g = double(std::exp(sum / kSteps));
    const double spread = CrossSectionSpread(c.gap, c.ra, c.rb);
    EXPECT_NEAR(std::sqrt(spread * spread + c.gap * c.gap), g, 1e-9 * g);
  }
  EXPECT_EQ(CrossSectionSpread(2.0, 1.0, 1.0), 0);  // circles that only touch
}

TEST(Inductance, StitchLandingOnABallMatchesTheSurfaceCurrentIntegral) {
  // A wire rises from its ball at the origin and bends away along +x; a stitch comes from
  // elsewhere and drops onto that ball, so the two vertical runs lie on one axis. Tolerance 2%.
  struct Case {
    const char* name;
    double rise_um, drop_um;
  };
  const std::vector<Case> cases = {{"stitch run longer", 120, 180},
                                   {"runs of one height", 150, 150},
                                   {"wire run longer", 200, 100}};
  std::vector<std::vector<Conductor>> pairs;
  std::vector<std::string> lines;
  for (const Case& c : cases) {
    pairs.push_back({Path({{0, 0, 0}, {0, 0, c.rise_um}, {400, 0, c.rise_um + 130}}),
                     Path({{-300, 200, c.drop_um + 120}, {0, 0, c.drop_um}, {0, 0, 0}})});
    lines.push_back(
        testing_support::CaseLine("surface", TwoPaths(kRadius, pairs.back()[0], pairs.back()[1])));
  }
  const auto ref = SurfaceReference(lines);
  for (std::size_t k = 0; k < cases.size() && k < ref.size(); ++k) {
    SCOPED_TRACE(cases[k].name);
    const InductanceMatrices m = ComputeInductance(pairs[k], 50e-6, 0);
    EXPECT_NEAR(m.partial_h->At(1, 0), ref[k][0], 0.02 * std::abs(ref[k][0]));
  }
}

TEST(Inductance, LoopMutualKeepsTheImageOfAPerpendicularPiece) {
  // Two tilted pieces 80 um apart in y: at right angles to each other, the image of the second
  // in the ground plane is parallel to the first and couples to it; the parallel row checks the
  // loop sum itself. Thin-wire loops closed to the plane; tolerance 1e-3 (the far-pair rules).
  struct Case {
    const char* name;
    Conductor a, b;
    double depth_m;
  };
  const std::vector<Case> cases = {{"perpendicular", Path({{0, 0, 100}, {300, 0, 400}}),
                                    Path({{600, 80, 100}, {300, 80, 400}}), 50e-6},
                                   {"perpendicular, deep plane", Path({{0, 0, 100}, {300, 0, 400}}),
                                    Path({{600, 80, 100}, {300, 80, 400}}), 200e-6},
                                   {"parallel", Path({{0, 0, 100}, {300, 0, 400}}),
                                    Path({{0, 80, 100}, {300, 80, 400}}), 50e-6}};
  std::vector<std::string> lines;
  for (const Case& c : cases)
    lines.push_back(testing_support::CaseLine("loop", TwoPaths(c.depth_m, c.a, c.b)));
  const auto ref = SurfaceReference(lines);
  for (std::size_t k = 0; k < cases.size() && k < ref.size(); ++k) {
    SCOPED_TRACE(cases[k].name);
    const InductanceMatrices m = ComputeInductance({cases[k].a, cases[k].b}, cases[k].depth_m, 0);
    EXPECT_NEAR(m.loop_h.At(1, 0), ref[k][0], 1e-3 * std::abs(ref[k][0]));
  }
}

}  // namespace
}  // namespace ostrel::physical
