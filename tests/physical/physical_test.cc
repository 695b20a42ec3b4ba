#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "base/stage_error.h"
#include "physical/kernels.h"
#include "physical/physical_model.h"
#include "support/python_reference.h"

namespace ostrel::physical {
namespace {

constexpr double kMu0 = 4e-7 * std::numbers::pi;

// The answers of reference.py (mpmath) to the given case lines.
std::vector<std::vector<double>> Reference(const std::vector<std::string>& cases) {
  return testing_support::RunReference(OSTREL_PHYSICAL_REFERENCE, cases);
}

using testing_support::CaseLine;

TEST(InternalImpedance, MatchesTheBesselSolutionFromDcTo100Ghz) {
  struct Case {
    double f_hz, radius_m, rho_ohm_m;
  };
  const std::vector<Case> cases = {
      {0, 12.7e-6, 2.44e-8},     {1e3, 12.7e-6, 2.44e-8},  {1e6, 12.7e-6, 2.44e-8},
      {5e7, 12.7e-6, 2.44e-8},   {1e9, 12.7e-6, 2.44e-8},  {2.3e9, 12.7e-6, 2.44e-8},
      {3.1e9, 12.7e-6, 2.44e-8}, {2e10, 12.7e-6, 2.44e-8}, {1e11, 12.7e-6, 2.44e-8},
      {1e9, 25.4e-6, 1.68e-8},   {2e10, 9e-6, 2.82e-8},    {1.5e9, 9e-6, 2.82e-8}};
  std::vector<std::string> lines;
  for (const Case& c : cases) lines.push_back(CaseLine("zint", {c.f_hz, c.radius_m, c.rho_ohm_m}));
  const auto ref = Reference(lines);
  for (std::size_t k = 0; k < cases.size() && k < ref.size(); ++k) {
    SCOPED_TRACE("f " + std::to_string(cases[k].f_hz) + " a " + std::to_string(cases[k].radius_m));
    const auto z = InternalImpedancePerMetre(cases[k].f_hz, cases[k].radius_m, cases[k].rho_ohm_m);
    EXPECT_NEAR(z.real(), ref[k][0], 1e-9 * ref[k][0]);
    EXPECT_NEAR(z.imag(), ref[k][1], 1e-9 * ref[k][0] + 1e-12);
  }
}

TEST(InternalImpedance, ReachesItsDcAndSkinEffectLimits) {
  const double a = 12.7e-6, rho = 2.44e-8;
  struct Case {
    double f_hz, r_ohm_per_m, l_h_per_m, tolerance;
  };
  const double delta_20g = std::sqrt(rho / (std::numbers::pi * 2e10 * kMu0));
  const double r_hf = rho / (2 * std::numbers::pi * a * delta_20g);
  const std::vector<Case> cases = {
      // DC: R = rho / (pi a^2), L_int = mu0 / (8 pi).
      {1.0, rho / (std::numbers::pi * a * a), kMu0 / (8 * std::numbers::pi), 1e-9},
      // Skin effect: R = X = rho / (2 pi a delta), up to delta / (2 a) = 2%.
      {2e10, r_hf, r_hf / (2 * std::numbers::pi * 2e10), 0.03}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.f_hz);
    const auto z = InternalImpedancePerMetre(c.f_hz, a, rho);
    EXPECT_NEAR(z.real(), c.r_ohm_per_m, c.tolerance * c.r_ohm_per_m);
    EXPECT_NEAR(z.imag() / (2 * std::numbers::pi * c.f_hz), c.l_h_per_m, c.tolerance * c.l_h_per_m);
  }
  EXPECT_THROW(InternalImpedancePerMetre(-1, a, rho), StageError);
}

TEST(FilamentPairIntegral, MatchesQuadratureInEveryRelativePosition) {
  struct Case {
    const char* name;
    Point3 a0, a1, b0, b1;
  };
  const double mm = 1e-3;
  const std::vector<Case> cases = {
      {"skew at right angles",
       {0, 0, 0},
       {mm, 0, 0},
       {0.3 * mm, 0.2 * mm, 0.1 * mm},
       {0.3 * mm, 0.2 * mm, 0.9 * mm}},
      {"general skew",
       {0.1 * mm, -0.2 * mm, 0},
       {0.7 * mm, 0.4 * mm, 0.3 * mm},
       {-0.3 * mm, 0.5 * mm, 0.2 * mm},
       {0.2 * mm, 0.1 * mm, 0.8 * mm}},
      {"parallel at a 60 um pitch",
       {0, 0, 0},
       {mm, 0, 0},
       {0.2 * mm, 60e-6, 0},
       {1.3 * mm, 60e-6, 0}},
      {"parallel, opposite senses",
       {0, 0, 0},
       {mm, 0, 0},
       {0.5 * mm, 60e-6, 0},
       {-0.5 * mm, 60e-6, 0}},
      {"nearly parallel, 2e-4 rad",
       {0, 0, 0},
       {mm, 0, 0},
       {0, 60e-6, 10e-6},
       {mm, 60e-6 + 2e-4 * mm, 10e-6}},
      {"fan-out, 0.02 rad", {0, 0, 0}, {mm, 0, 0}, {0, 60e-6, 0}, {mm, 80e-6, 0}},
      {"collinear with a gap", {0, 0, 0}, {mm, 0, 0}, {1.1 * mm, 0, 0}, {1.5 * mm, 0, 0}},
      {"right-angle corner",
       {0, 0, 0},
       {0.2 * mm, 0, 0},
       {0.2 * mm, 0, 0},
       {0.2 * mm, 0, 0.1 * mm}},
      {"nearly straight joint", {0, 0, 0}, {0.1 * mm, 0, 0}, {0.1 * mm, 0, 0}, {0.2 * mm, 0, 1e-7}},
      {"sharp fold", {0, 0, 0}, {0.1 * mm, 0, 0}, {0.1 * mm, 0, 0}, {0.02 * mm, 0.01 * mm, 0}},
      {"far pair", {0, 0, 0}, {0.1 * mm, 0, 0}, {5 * mm, 3 * mm, 0}, {5 * mm, 3.1 * mm, 0.05 * mm}},
  };
  std::vector<std::string> lines;
  for (const Case& c : cases) {
    lines.push_back(CaseLine("pair", {c.a0.x, c.a0.y, c.a0.z, c.a1.x, c.a1.y, c.a1.z, c.b0.x,
                                      c.b0.y, c.b0.z, c.b1.x, c.b1.y, c.b1.z}));
  }
  const auto ref = Reference(lines);
  for (std::size_t k = 0; k < cases.size() && k < ref.size(); ++k) {
    SCOPED_TRACE(cases[k].name);
    const Case& c = cases[k];
    EXPECT_NEAR(FilamentPairIntegral(c.a0, c.a1, c.b0, c.b1), ref[k][0], 1e-9 * ref[k][0]);
    EXPECT_NEAR(FilamentPairIntegral(c.b1, c.b0, c.a0, c.a1), ref[k][0], 1e-9 * ref[k][0]);
  }
}

TEST(WeightedInverseSum, MatchesTheQuotientsOverAPackagesRangeOfDistances) {
  // From a tenth of a micron (Gauss points of touching pieces) to a metre, mixed in one sum.
  constexpr double w4[4] = {0.35, 0.65, 0.65, 0.35}, w3[3] = {5.0 / 18, 8.0 / 18, 5.0 / 18};
  const std::vector<std::array<double, 4>> fours = {{1e-7, 1e-7, 1e-7, 1e-7},
                                                    {1.0, 1.0, 1.0, 1.0},
                                                    {1e-7, 1.0, 3e-4, 2e-5},
                                                    {25e-6, 26e-6, 24e-6, 25.5e-6},
                                                    {0.8, 1e-7, 0.9, 1e-7}};
  for (const auto& f : fours) {
    const double s4[4] = {f[0], f[1], f[2], f[3]}, s3[3] = {f[0], f[1], f[2]};
    long double sum4 = 0, sum3 = 0;
    for (int k = 0; k < 4; ++k) sum4 += static_cast<long double>(w4[k]) / s4[k];
    for (int k = 0; k < 3; ++k) sum3 += static_cast<long double>(w3[k]) / s3[k];
    SCOPED_TRACE(std::to_string(f[0]) + " " + std::to_string(f[1]) + " " + std::to_string(f[2]));
    EXPECT_NEAR(WeightedInverseSum(s4, w4), sum4, 4e-16 * sum4);
    EXPECT_NEAR(WeightedInverseSum(s3, w3), sum3, 4e-16 * sum3);
  }
}

TEST(SurfaceSelfIntegral, GivesRosasSelfInductanceOfALongWire) {
  // Rosa, surface current: L = mu0 l / (2 pi) (ln(2 l / a) - 1 + a / l), for l >> a.
  struct Case {
    double length_m, radius_m, tolerance;
  };
  const std::vector<Case> cases = {
      {1e-3, 12.7e-6, 1e-4}, {1e-1, 1e-6, 1e-9}, {5e-3, 25.4e-6, 2e-5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length_m);
    const double l = c.length_m, a = c.radius_m;
    const double rosa = kMu0 * l / (2 * std::numbers::pi) * (std::log(2 * l / a) - 1 + a / l);
    EXPECT_NEAR(kMu0 / (4 * std::numbers::pi) * SurfaceSelfIntegral(l, a), rosa,
                c.tolerance * rosa);
  }
  // A piece much shorter than its radius: N -> l^2 / a.
  EXPECT_NEAR(SurfaceSelfIntegral(1e-9, 1e-5), 1e-13, 1e-17);
}

TEST(SymmetricMatrix, ReadsDenseAndSparseAlike) {
  SymmetricMatrix dense{2, true, {1, 2, 2, 5}, {}};
  SymmetricMatrix sparse{3, false, {}, {{0, 0, 1}, {1, 0, 2}, {1, 1, 5}, {2, 2, 7}}};
  struct Case {
    std::size_t i, j;
    double dense, sparse;
  };
  const std::vector<Case> cases = {{0, 0, 1, 1}, {0, 1, 2, 2}, {1, 0, 2, 2}, {1, 1, 5, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.i) + "," + std::to_string(c.j));
    EXPECT_EQ(dense.At(c.i, c.j), c.dense);
    EXPECT_EQ(sparse.At(c.i, c.j), c.sparse);
  }
  EXPECT_EQ(sparse.At(0, 2), 0.0);
  EXPECT_EQ(sparse.At(2, 2), 7.0);
  EXPECT_THROW(sparse.At(3, 0), StageError);
}

}  // namespace
}  // namespace ostrel::physical
