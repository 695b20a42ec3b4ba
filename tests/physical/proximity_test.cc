// The proximity correction of long parallel wires against the 2-D eddy-current reference
// (tests/physical/proximity_reference.py, a filament mesh of the cross-sections, independent of
// the harmonic solution), and the rules around it: nothing at DC or beyond the reach, the notes
// below the stated pitch, coincident wires as one conductor.

#include "physical/proximity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "base/stage_error.h"
#include "parallel_wires.h"
#include "physical/cylinder_harmonics.h"
#include "physical/physical_model.h"

namespace ostrel::physical {
namespace {

constexpr double kRadius = 12.7e-6, kRho = 2.2e-8, kLength = 5e-3, kDepth = 50e-6;

std::vector<Conductor> ParallelWires(std::size_t count, double pitch_d, double height_m) {
  return physical::ParallelWires(count, pitch_d, height_m, kRadius, kRho, kLength, kDepth);
}

struct ReferenceCase {
  std::size_t wires = 0;
  double pitch_d = 0, height_radii = 0, frequency_hz = 0;
  std::vector<double> r, l;  // per metre, row by row
};

std::vector<ReferenceCase> ReadReference() {
  std::ifstream in(OSTREL_PROXIMITY_REFERENCE);
  std::vector<ReferenceCase> cases;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    ReferenceCase c;
    fields >> c.wires >> c.pitch_d >> c.height_radii >> c.frequency_hz;
    c.r.resize(c.wires * c.wires);
    c.l.resize(c.wires * c.wires);
    for (double& v : c.r) fields >> v;
    for (double& v : c.l) fields >> v;
    if (fields) cases.push_back(c);
  }
  return cases;
}

// Every case of the reference: two and four wires at 1.25 to 3 diameters, 100 MHz to 10 GHz,
// in free space (the partial correction) and over the plane (the loop correction). Per metre,
// the model's R (internal plus correction) within 1% of the reference, its mutual R within 0.5%
// of the self R, and its inductance (filaments, internal, correction) within 0.2% of the loop
// inductance of the pair, L_ii - L_ij (the mesh itself is good to 0.15% here).
TEST(ProximityTest, MatchesTheCrossSectionReference) {
  const std::vector<ReferenceCase> cases = ReadReference();
  ASSERT_EQ(cases.size(), 28u);
  constexpr double kFieldPerLength = kMu0HPerM / (2 * std::numbers::pi);
  for (const ReferenceCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.wires) + " wires at " + std::to_string(c.pitch_d) + " d, " +
                 std::to_string(c.height_radii) + " radii up, " + std::to_string(c.frequency_hz) +
                 " Hz");
    const bool plane = c.height_radii > 0;
    const std::vector<Conductor> wires =
        ParallelWires(c.wires, c.pitch_d, plane ? c.height_radii * kRadius : 1e-2);
    const ProximityResult result = ComputeProximity(wires, kDepth, {c.frequency_hz}, {});
    const ProximityCorrection& d = plane ? result.loop.front() : result.partial.front();
    const std::complex<double> z = InternalImpedancePerMetre(c.frequency_hz, kRadius, kRho);
    const double omega = 2 * std::numbers::pi * c.frequency_hz;
    // The line currents' inductance per metre (1 m reference, as the mesh), image included.
    const auto filament = [&](std::size_t i, std::size_t j) {
      const double apart = double(i > j ? i - j : j - i) * c.pitch_d * 2 * kRadius;
      const double l = kFieldPerLength * std::log(1 / (i == j ? kRadius : apart));
      const double image = std::hypot(apart, 2 * c.height_radii * kRadius);
      return plane ? l - kFieldPerLength * std::log(1 / image) : l;
    };
    const auto model_l = [&](std::size_t i, std::size_t j) {
      return filament(i, j) + (i == j ? z.imag() / omega : 0) +
             d.delta_inductance_h.At(i, j) / kLength;
    };
    for (std::size_t i = 0; i < c.wires; ++i) {
      const double r_self = c.r[i * c.wires + i];
      for (std::size_t j = 0; j <= i; ++j) {
        const double r = (i == j ? z.real() : 0) + d.delta_resistance_ohm.At(i, j) / kLength;
        if (i == j) {
          EXPECT_NEAR(r, r_self, 0.01 * r_self) << "R of wire " << i;
          continue;
        }
        EXPECT_NEAR(r, c.r[i * c.wires + j], 0.005 * r_self) << "mutual R " << i << ", " << j;
        const double loop_ref = c.l[i * c.wires + i] - c.l[i * c.wires + j];
        EXPECT_NEAR(model_l(i, i) - model_l(i, j), loop_ref, 0.002 * loop_ref)
            << "L_ii - L_ij " << i << ", " << j;
      }
    }
  }
}

// A table of packages of two wires: what the correction holds.
// A thread's scratch holds what the section before it left: a row must come out the same, bit
// for bit, as from a fresh scratch, whether the reflections converge or the system is factorised
// (wires a ten-thousandth of a radius apart, every harmonic reflected whole), and equal to the
// row of the whole correction.
TEST(ProximityTest, ARowDoesNotDependOnTheSectionBefore) {
  const std::vector<Complex> whole(24, Complex(-1.0, 0.0));
  CrossSection before;  // over the plane: every block of its system written
  before.radius_m = kRadius;
  before.plane = true;
  for (int k = 0; k < 5; ++k) before.centres_m.push_back({k * 3 * kRadius, 2 * kRadius});
  struct Row {
    double gap_radii;
    bool plane;
    int wires;
  };
  for (const Row& row : {Row{0.5, false, 3}, Row{1e-4, false, 3}, Row{1e-4, true, 2}}) {
    SCOPED_TRACE(row.gap_radii + row.plane);
    CrossSection section;
    section.radius_m = kRadius;
    section.plane = row.plane;
    for (int k = 0; k < row.wires; ++k) {
      section.centres_m.push_back({k * (2 + row.gap_radii) * kRadius, 3 * kRadius});
    }
    HarmonicScratch fresh, used;
    HarmonicCorrectionRow(before, whole, 0, used);
    const Eigen::VectorXcd alone = HarmonicCorrectionRow(section, whole, 0, fresh);
    const Eigen::VectorXcd after = HarmonicCorrectionRow(section, whole, 0, used);
    ASSERT_EQ(after.size(), alone.size());
    EXPECT_TRUE(after == alone);
    const Eigen::VectorXcd expected = HarmonicCorrection(section, whole).row(0).transpose();
    EXPECT_LE((alone - expected).norm(), 1e-4 * expected.norm());
  }
}

TEST(ProximityTest, ZeroWhereNothingIsCloseAndNotedBelowTheStatedPitch) {
  struct Row {
    const char* what;
    double pitch_d, frequency_hz;
    bool expect_correction, expect_note;
  } const rows[] = {
      {"DC", 1.5, 0, false, false},
      {"beyond the reach", 11, 1e9, false, false},
      {"within the reach", 9, 1e9, true, false},
      {"1.5 diameters", 1.5, 1e9, true, false},
      {"1.1 diameters", 1.1, 1e9, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const ProximityResult result =
        ComputeProximity(ParallelWires(2, row.pitch_d, 1e-2), kDepth, {row.frequency_hz}, {});
    const SymmetricMatrix& dr = result.partial.front().delta_resistance_ohm;
    EXPECT_EQ(!dr.entries.empty(), row.expect_correction);
    EXPECT_EQ(result.notes.size(), row.expect_note ? 1u : 0u);
    if (row.expect_note) EXPECT_NE(result.notes.front().find("W1/W2 1.10 d"), std::string::npos);
    if (row.expect_correction) {
      EXPECT_GT(dr.At(0, 0), 0);
      EXPECT_EQ(dr.At(0, 0), dr.At(1, 1));  // two equal wires, one rule for both
    }
  }
}

// The wires' one parallel loop reports its progress from 0 to 1, never back, on the calling
// thread alone, and a request to cancel made on the way stops it with an error.
TEST(ProximityTest, ReportsProgressInOrderAndStopsWhenCancelled) {
  const std::vector<Conductor> wires = ParallelWires(300, 1.5, 1e-2);
  for (const bool cancel_on_the_way : {false, true}) {
    SCOPED_TRACE(cancel_on_the_way);
    std::vector<double> seen;
    const std::thread::id caller = std::this_thread::get_id();
    bool elsewhere = false;
    std::atomic<bool> cancel = false;
    const Progress progress{[&](std::string_view, double fraction) {
                              elsewhere = elsewhere || std::this_thread::get_id() != caller;
                              seen.push_back(fraction);
                              if (cancel_on_the_way && fraction > 0) cancel = true;
                            },
                            &cancel};
    if (cancel_on_the_way) {
      EXPECT_THROW(ComputeProximity(wires, kDepth, {1e9}, {}, progress), StageError);
      ASSERT_FALSE(seen.empty());
      EXPECT_LT(seen.back(), 1);
      continue;
    }
    ComputeProximity(wires, kDepth, {1e9}, {}, progress);
    EXPECT_FALSE(elsewhere);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 1);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  }
}

// A wire bonded twice over one path is one conductor: both wires carry the path's whole row
// (its correction once, not doubled by the other), and the neighbour sees the one conductor.
TEST(ProximityTest, CoincidentWiresAreOneConductor) {
  std::vector<Conductor> wires = ParallelWires(2, 1.5, 1e-2);
  const ProximityResult alone = ComputeProximity(wires, kDepth, {1e9}, {});
  wires.insert(wires.begin() + 1, wires.front());
  const ProximityResult twice = ComputeProximity(wires, kDepth, {1e9}, {{0, 1}});
  const SymmetricMatrix &a = alone.partial.front().delta_resistance_ohm,
                        &t = twice.partial.front().delta_resistance_ohm;
  for (const auto& [i, j, from_i, from_j] :
       {std::tuple(0, 0, 0, 0), std::tuple(1, 1, 0, 0), std::tuple(1, 0, 0, 0),
        std::tuple(2, 0, 1, 0), std::tuple(2, 1, 1, 0), std::tuple(2, 2, 1, 1)}) {
    EXPECT_DOUBLE_EQ(t.At(i, j), a.At(from_i, from_j)) << i << ", " << j;
  }
}

// A sweep of more frequencies than its nodes interpolates the correction: against each frequency
// solved alone, three wires at 1.5 diameters, 3 radii over the plane, 1 MHz to 20 GHz.
TEST(ProximityTest, SweepsFollowTheFrequenciesSolvedAlone) {
  const std::vector<Conductor> wires = ParallelWires(3, 1.5, 3 * kRadius);
  std::vector<double> sweep;
  for (int k = 0; k <= 60; ++k) sweep.push_back(1e6 * std::pow(2e4, k / 60.0));
  const ProximityResult swept = ComputeProximity(wires, kDepth, sweep, {});
  double worst_r = 0, worst_l = 0;
  for (std::size_t f = 0; f < sweep.size(); ++f) {
    const ProximityResult alone = ComputeProximity(wires, kDepth, {sweep[f]}, {});
    const double r_wire = InternalImpedancePerMetre(sweep[f], kRadius, kRho).real() * kLength;
    for (const auto kind : {&ProximityResult::partial, &ProximityResult::loop}) {
      const ProximityCorrection &s = (swept.*kind)[f], &a = (alone.*kind).front();
      for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j <= i; ++j) {
          worst_r = std::max(
              worst_r,
              std::abs(s.delta_resistance_ohm.At(i, j) - a.delta_resistance_ohm.At(i, j)) / r_wire);
          worst_l = std::max(
              worst_l,
              std::abs(s.delta_inductance_h.At(i, j) - a.delta_inductance_h.At(i, j)) / kLength);
        }
      }
    }
  }
  std::printf("[ sweep    ] worst dR %.2e of the wire's R, worst dL %.2e H/m\n", worst_r, worst_l);
  EXPECT_LT(worst_r, 2e-3);
  EXPECT_LT(worst_l, 1e-10);  // 0.1 nH/m, 0.02% of the per-length inductance
}

}  // namespace
}  // namespace ostrel::physical
