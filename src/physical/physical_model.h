#pragma once

#include <atomic>
#include <complex>
#include <cstddef>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/parameter_set.h"
#include "geometry/wire.h"

// The physical model of the bond wires, beside the report's closed-form figures: the exact
// internal impedance of each round wire, the partial and loop inductance matrices of the real
// wire paths over a ground plane, and the capacitance matrix. Double precision and SI units
// inside; microns come in at the edge (BuildConductors) and nH, mOhm, pF go out at the writers.
namespace ostrel::physical {

// A point in the package frame (X, Y as in the package file, Z the height above the substrate
// surface), metres.
struct Point3 {
  double x = 0, y = 0, z = 0;
  bool operator==(const Point3&) const = default;
};

// One wire as a round conductor along its path.
struct Conductor {
  std::string name;  // as in the report
  WireKind kind = WireKind::kBaseDie;
  std::vector<Point3> path_m;  // the polyline exactly as the wire paths build it
  double radius_m = 0;
  double resistivity_ohm_m = 0;
  double length_m = 0;  // along the path

  bool operator==(const Conductor&) const = default;
};

// Permeability of free space: mu0 / (4 pi) = 1e-7 H/m, the value that defined the ampere until
// 2019 (CODATA 2018 gives 1.00000000055 times it). 4 pi times it is
// 4e-7 pi to the last bit.
constexpr double kMu0Over4PiHPerM = 1e-7;
constexpr double kMu0HPerM = 4 * std::numbers::pi * kMu0Over4PiHPerM;
static_assert(kMu0HPerM == 4e-7 * std::numbers::pi);

// Internal inductance per metre of a round wire carrying a uniform (DC) current: mu0 / (8 pi)
// (the magnetic energy inside the wire, L' = mu0 / (8 pi) for any radius).
constexpr double kDcInternalInductanceHPerM = kMu0HPerM / (8 * std::numbers::pi);

// DC resistance per metre of a round wire, R' = rho / (pi a^2), ohm/m.
inline double DcResistancePerMetre(double radius_m, double resistivity_ohm_m) {
  return resistivity_ohm_m / (std::numbers::pi * radius_m * radius_m);
}

// The DC resistance of a conductor, R = rho l / (pi a^2), ohms: the zero-frequency limit of
// InternalImpedancePerMetre times the length.
inline double DcResistanceOhm(const Conductor& c) {
  return DcResistancePerMetre(c.radius_m, c.resistivity_ohm_m) * c.length_m;
}

// The wires of one estimation as conductors, in report order: diameter and metal from the
// parameters, the path turned back into the package frame.
std::vector<Conductor> BuildConductors(const WireList& wires, const ParameterSet& params);

// A symmetric matrix kept either dense (all n * n entries, row-major) or as its lower triangle's
// non-zero entries (i >= j, 0-based), for packages too large for a dense one.
struct SymmetricMatrix {
  struct Entry {
    std::size_t i = 0, j = 0;
    double value = 0;
    bool operator==(const Entry&) const = default;
  };
  std::size_t n = 0;
  bool dense = true;
  std::vector<double> values;  // dense: n * n, row-major
  std::vector<Entry> entries;  // sparse: i >= j, sorted by (i, j)

  double At(std::size_t i, std::size_t j) const;  // 0 for an entry not kept
  bool operator==(const SymmetricMatrix&) const = default;
};

// A ground or supply net of wires (one pad type, or a net map's net), for its impedance as
// one conductor.
struct SharedNet {
  std::string name;
  bool supply = false;  // a supply net (else ground)
  std::vector<std::size_t> wires;
  bool operator==(const SharedNet&) const = default;
};

// R and L of a net at one frequency.
struct NetFigures {
  double resistance_ohm = 0, inductance_h = 0;
  bool operator==(const NetFigures&) const = default;
};

// A net's figures at every frequency of the model.
struct NetImpedance {
  SharedNet net;
  std::vector<NetFigures> parallel;     // per frequency of the model
  std::vector<NetFigures> supply_loop;  // supply nets with ground wires: through all of those
  bool operator==(const NetImpedance&) const = default;
};

// The wires a signal's current returns through instead of the plane: the ground wires, their
// pad ends joined (the die's ground grid) and their finger ends joined (the ring or paddle),
// ideal; and the signal wires whose loops are wanted. Wire indices, ascending, disjoint.
struct ReturnWires {
  std::vector<std::size_t> ground, signal_wires;
  bool operator==(const ReturnWires&) const = default;
};

// The loop matrices of the signal wires closed through the ground wires at one frequency: entry
// (a, b) is the voltage on signal a's loop per current in signal b's, each current going out
// along its wire and back through all ground wires in parallel, shared by their impedances.
struct ReturnLoop {
  std::vector<std::size_t> wires;  // the signal wires, ascending; row a is wires[a]
  SymmetricMatrix resistance_ohm{0, true, {}, {}};
  SymmetricMatrix inductance_h{0, true, {}, {}};
  bool operator==(const ReturnLoop&) const = default;
};

// Two wires driven as a differential pair: `positive` and `negative` are wire indices.
struct WirePair {
  std::size_t positive = 0, negative = 0;
  bool operator==(const WirePair&) const = default;
};

// The odd- and even-mode figures of a differential pair (diff_pairs.h), SI. The figures that need
// the capacitance are absent without it; an impedance is absent where its inductance or
// capacitance is not positive.
struct PairFigures {
  WirePair wires;
  double odd_inductance_h = 0, even_inductance_h = 0;
  std::optional<double> odd_capacitance_f, even_capacitance_f;
  std::optional<double> z_odd_ohm, z_even_ohm, z_diff_ohm;
  // The wire outside the pair most strongly coupled to either of its wires in the loop matrix,
  // and that coupling k = L_ij / sqrt(L_ii L_jj) (the larger in magnitude of its two); absent
  // when no other wire couples to the pair.
  std::optional<std::size_t> neighbour;
  double neighbour_k = 0;
  bool operator==(const PairFigures&) const = default;
};

struct Options {
  std::vector<double> frequencies_hz;  // at least one; 0 is DC
  double ground_depth_m = 50e-6;       // perfect ground plane below the substrate surface
  double eps_r = 1.0;                  // relative permittivity of the homogeneous dielectric
  // Loop couplings with |k| below this may be dropped in packages too large for dense matrices.
  double coupling_cutoff = 1e-3;
  // False leaves the capacitance matrix out: in packages of tens of thousands of wires it takes
  // most of the time, and an inductance study does not need it.
  bool capacitance = true;
  // Pairs of wires whose surfaces come closer than this are listed (0: touching or overlapping).
  double clearance_m = 0;
  // Ground and supply nets whose impedance is wanted (net_impedance.h).
  std::vector<SharedNet> nets;
  // Given: the signals' loops through the package's ground wires (FrequencyResult::return_loop)
  // beside the loop matrix over the plane, which stays as it is.
  std::optional<ReturnWires> return_wires;
  // Differential pairs whose odd- and even-mode figures are wanted (diff_pairs.h).
  std::vector<WirePair> pairs;
};

// Two wires whose surfaces come closer than the clearance asked for.
struct Clearance {
  std::size_t wire_a = 0, wire_b = 0;  // wire indices, wire_a < wire_b
  Point3 at_m;                         // middle of the closest approach, package frame
  double clearance_m = 0;              // surface to surface; negative: the wires overlap
  bool joined = false;                 // they share a bond point by design (a ball, a pad)
  bool operator==(const Clearance&) const = default;
};

// Progress of a long computation and the way to stop it: `report` gets a short stage name and
// the fraction done (0..1); once `cancel` is set the computation throws StageError.
struct Progress {
  std::function<void(std::string_view stage, double fraction)> report;
  const std::atomic<bool>* cancel = nullptr;
};

// What close conductors change in a resistance and an inductance matrix at one frequency: the
// current crowds to the sides of a wire that face away from (or towards) its neighbours. Kept
// sparse, lower triangle (i >= j); the diagonal is added resistance and inductance of each wire,
// the off-diagonal the mutual resistance and the change of the mutual inductance. All zero at DC.
struct ProximityCorrection {
  SymmetricMatrix delta_resistance_ohm{0, false, {}, {}};
  SymmetricMatrix delta_inductance_h{0, false, {}, {}};
  bool operator==(const ProximityCorrection&) const = default;
};

// Per-frequency figures of every wire, in wire order.
struct FrequencyResult {
  double frequency_hz = 0;
  std::vector<double> resistance_ohm;         // the wire alone (exact internal impedance)
  std::vector<double> internal_inductance_h;  // the wire alone
  // The change by close wires of the partial matrices (wires alone) and of the loop matrices
  // (wires over the plane, whose image counts as a close conductor). The impedance of a wire
  // set at this frequency is diag(R + j w L_int) + j w L_ext + (dR + j w dL) of the same kind.
  ProximityCorrection proximity_partial, proximity_loop;
  // With Options::return_wires: the signals' loops through the ground wires (else empty).
  ReturnLoop return_loop;
};

struct Model {
  std::vector<Conductor> conductors;
  Options options;
  std::optional<SymmetricMatrix> partial_inductance_h;  // left out for very large packages
  SymmetricMatrix loop_inductance_h;
  std::optional<SymmetricMatrix> capacitance_f;  // Maxwell matrix; absent at depth 0
  std::vector<FrequencyResult> results;          // one per option frequency, in order
  // Wires whose paths coincide (within 1e-3 of a radius: a wire bonded twice). Each group is one
  // conductor in space: its external couplings are exactly 1, and the exports write it as one
  // branch of its wires in parallel. Groups of two or more wire indices, ascending.
  std::vector<std::vector<std::size_t>> coincident;
  // Wires that touch or overlap (shared bond points included), joined into one conductor for
  // the capacitance: groups of two or more wire indices, ascending.
  std::vector<std::vector<std::size_t>> joined_conductors;
  // Pairs of wires closer than options.clearance_m, ordered by clearance (closest first).
  std::vector<Clearance> clearance;
  // The impedance of each net of options.nets (empty without the partial matrix, with a note).
  std::vector<NetImpedance> nets;
  // The figures of each pair of options.pairs, in that order.
  std::vector<PairFigures> pairs;
  // What was left out or repaired (a dropped matrix, couplings cut, a matrix made positive
  // definite), one sentence each; the writers put them in the file and on stderr.
  std::vector<std::string> notes;
};

// Exact internal impedance per unit length of a straight round wire (ohm/m) at `frequency_hz`
// (0: DC), from the Bessel solution z = k rho J0(ka) / (2 pi a J1(ka)), k = sqrt(-j w mu0 / rho).
std::complex<double> InternalImpedancePerMetre(double frequency_hz, double radius_m,
                                               double resistivity_ohm_m);

// The whole model. Throws StageError on bad options or when cancelled.
Model ComputeModel(const WireList& wires, const ParameterSet& params, const Options& options,
                   const Progress& progress = {});

}  // namespace ostrel::physical
