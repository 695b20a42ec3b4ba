#include "physical/clearance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "base/stage_error.h"

namespace ostrel::physical {
namespace {

constexpr double kRadiusUm = 12.7;  // 1-mil wires: two radii are 25.4 um

struct Pair {
  std::size_t a, b;
  Point3 at_um;
  double clearance_um;
  bool joined;
};

struct Case {
  const char* name;
  std::vector<std::vector<Point3>> paths_um;
  double clearance_um;
  std::vector<Pair> want;  // closest first
};

std::vector<Conductor> Wires(const std::vector<std::vector<Point3>>& paths_um) {
  std::vector<Conductor> wires;
  for (const std::vector<Point3>& path_um : paths_um) {
    Conductor c;
    c.name = "W" + std::to_string(wires.size());
    for (const Point3& p : path_um) c.path_m.push_back({p.x * 1e-6, p.y * 1e-6, p.z * 1e-6});
    c.radius_m = kRadiusUm * 1e-6;
    wires.push_back(c);
  }
  return wires;
}

// Wires 1 mm long along x, 200 um above the substrate, at y = `y_um`, from x = `from_um`.
std::vector<Point3> AlongX(double y_um, double from_um = 0) {
  return {{from_um, y_um, 200}, {from_um + 1000, y_um, 200}};
}

TEST(Clearance, FindsEachPairAtItsClosestApproach) {
  const Case cases[] = {
      // Parallel wires: the gap is the pitch less 25.4 um; the place the middle of the run.
      {"overlap by 5 um", {AlongX(0), AlongX(20.4)}, 0, {{0, 1, {500, 10.2, 200}, -5, false}}},
      {"touching", {AlongX(0), AlongX(25.4)}, 0, {{0, 1, {500, 12.7, 200}, 0, false}}},
      {"3 um apart, clearance 0", {AlongX(0), AlongX(28.4)}, 0, {}},
      {"3 um apart, clearance 5",
       {AlongX(0), AlongX(28.4)},
       5,
       {{0, 1, {500, 14.2, 200}, 3, false}}},
      {"3 um apart over x 600..1000",
       {AlongX(0), AlongX(28.4, 600)},
       5,
       {{0, 1, {800, 14.2, 200}, 3, false}}},
      {"closest first, then by wires",
       {AlongX(0), AlongX(28.4), AlongX(-20.4)},
       5,
       {{0, 2, {500, -10.2, 200}, -5, false}, {0, 1, {500, 14.2, 200}, 3, false}}},
      // A wire along y passing 23.4 um above the axis of one along x.
      {"crossing",
       {AlongX(0), {{500, -500, 223.4}, {500, 500, 223.4}}},
       0,
       {{0, 1, {500, 0, 211.7}, -2, false}}},
      // 5 mm diagonals crossing 10 um apart at their middle, 10 grid cells from their ends.
      {"long diagonals crossing",
       {{{0, 0, 200}, {5000, 5000, 200}}, {{0, 5000, 210}, {5000, 0, 210}}},
       0,
       {{0, 1, {2500, 2500, 205}, -15.4, false}}},
      // Bond points shared by design: the overlap is the two radii, at the shared point.
      {"two wires from one pad",
       {{{0, 0, 0}, {1000, 0, 0}}, {{0, 0, 0}, {0, 1000, 0}}},
       0,
       {{0, 1, {0, 0, 0}, -25.4, true}}},
      {"a stitch landing on a ball",
       {{{0, 0, 0}, {1000, 0, 0}}, {{-600, 800, 0}, {0, 0, 0}}},
       0,
       {{0, 1, {0, 0, 0}, -25.4, true}}},
      {"a wire bonded twice", {AlongX(0), AlongX(0)}, 0, {{0, 1, {500, 0, 200}, -25.4, true}}},
      {"a stitch landing 1 um beside a ball",
       {{{0, 0, 0}, {1000, 0, 0}}, {{-600, 800, 0}, {-1, 0, 0}}},
       0,
       {{0, 1, {-0.5, 0, 0}, -24.4, false}}},
      {"far apart", {AlongX(0), AlongX(1000)}, 5, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Clearance> got = CheckClearance(Wires(c.paths_um), c.clearance_um * 1e-6);
    ASSERT_EQ(got.size(), c.want.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
      const Pair& want = c.want[k];
      EXPECT_EQ(got[k].wire_a, want.a);
      EXPECT_EQ(got[k].wire_b, want.b);
      EXPECT_NEAR(got[k].at_m.x, want.at_um.x * 1e-6, 1e-12);
      EXPECT_NEAR(got[k].at_m.y, want.at_um.y * 1e-6, 1e-12);
      EXPECT_NEAR(got[k].at_m.z, want.at_um.z * 1e-6, 1e-12);
      EXPECT_NEAR(got[k].clearance_m, want.clearance_um * 1e-6, 1e-12);
      EXPECT_EQ(got[k].joined, want.joined);
    }
  }
}

TEST(Clearance, RefusesANegativeOrMissingClearance) {
  for (const double clearance_m : {-1e-6, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_THROW(CheckClearance(Wires({AlongX(0)}), clearance_m), StageError);
  }
}

}  // namespace
}  // namespace ostrel::physical
