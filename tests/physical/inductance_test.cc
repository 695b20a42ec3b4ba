#include <omp.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/stage_error.h"
#include "physical/inductance.h"
#include "physical/kernels.h"

namespace ostrel::physical {
namespace {

constexpr double kMu0 = 4e-7 * std::numbers::pi;
constexpr double kRadius = 12.7e-6;

Conductor Straight(Point3 a, Point3 b, int cuts = 1) {
  Conductor c{"W", 0, {}, kRadius, 2.44e-8, 0};
  for (int k = 0; k <= cuts; ++k) {
    const double t = double(k) / cuts;
    c.path_m.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)});
  }
  return c;
}

// A fan of bond-wire-like paths (rise, bend, level run, drop), 60 um pitch, spreading slightly.
std::vector<Conductor> Fan(int n) {
  const double shape_um[][2] = {{0, 200}, {0, 280}, {8, 340}, {30, 390}, {90, 400}, {700, 400},
                                {950, 120}, {1000, 0}};
  std::vector<Conductor> fan;
  for (int i = 0; i < n; ++i) {
    Conductor c{"W" + std::to_string(i), 0, {}, kRadius, 2.44e-8, 0};
    const double angle = 0.004 * i;
    for (const auto& p : shape_um) {
      c.path_m.push_back({1e-6 * p[0] * std::cos(angle), 60e-6 * i + 1e-6 * p[0] * std::sin(angle),
                          1e-6 * p[1]});
    }
    fan.push_back(c);
  }
  return fan;
}

TEST(Inductance, StraightWiresMatchRosaGroverAndTheWireOverAPlane) {
  const double l = 2e-3;
  struct Case { const char* name; std::vector<Conductor> wires; double ground_m, expected_h, tol;
                bool loop; std::size_t i, j; };
  // Grover, parallel wires at distance d: M = mu0 l / (2 pi) [asinh(l / d) - sqrt(1 + d^2 / l^2)
  // + d / l]; Rosa (surface current): L = mu0 l / (2 pi) [asinh(l / a) - sqrt(1 + a^2 / l^2) + a / l].
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
      {"self, cut in 5000", {Straight({0, 0, 0}, {l, 0, 0}, 5000)}, 0, grover(kRadius), 1e-9,
       false, 0, 0},
      {"mutual at 60 um", {Straight({0, 0, 0}, {l, 0, 0}), Straight({0, 60e-6, 0}, {l, 60e-6, 0})},
       0, grover(60e-6), 1e-9, false, 1, 0},
      {"mutual at 1 mm, cut", {Straight({0, 0, 0}, {l, 0, 0}, 7),
                               Straight({0, 1e-3, 0}, {l, 1e-3, 0}, 3)}, 0, grover(1e-3), 1e-9,
       false, 1, 0},
      {"loop over the plane", {Straight({0, 0, h}, {far_l, 0, h})}, depth, over_plane, 2e-3, true,
       0, 0},
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

TEST(Inductance, SparseLoopKeepsEveryCouplingAboveTheCutoffAndNoThreadCountChangesIt) {
  const std::vector<Conductor> fan = Fan(150);
  const double cutoff = 0.01;
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

TEST(Inductance, HostileCutsAreMergedAndCancelStops) {
  // A rise, a bend and a drop cut into 32767 pieces.
  std::vector<Point3> path = {{0, 0, 2e-4}, {0, 0, 4e-4}, {1e-4, 0, 4e-4}};
  for (int k = 1; k <= 32767; ++k) path.push_back({1e-4 + 1e-3 * k / 32767, 0, 4e-4 * (1 - k / 32767.0)});
  EXPECT_EQ(MergedVertices(path, 1e-7).size(), 4u);
  std::atomic<bool> cancel = true;
  EXPECT_THROW(ComputeInductance(Fan(3), 50e-6, 0, {nullptr, &cancel}), StageError);
}

}  // namespace
}  // namespace ostrel::physical
