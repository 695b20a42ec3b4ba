#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "base/stage_error.h"
#include "physical/capacitance.h"
#include "physical/clearance.h"
#include "physical/diff_pairs.h"
#include "physical/inductance.h"
#include "physical/model_check.h"
#include "physical/net_impedance.h"
#include "physical/physical_model.h"
#include "physical/proximity.h"
#include "physical/wire_groups.h"

namespace ostrel::physical {
namespace {

std::vector<Clearance> DistinctClearance(const std::vector<Conductor>& conductors,
                                         const std::vector<std::vector<std::size_t>>& coincident,
                                         double clearance_m) {
  if (coincident.empty()) return CheckClearance(conductors, clearance_m);
  const DistinctWires kept = Distinct(conductors.size(), coincident);
  std::vector<Conductor> distinct;
  distinct.reserve(kept.first.size());
  for (std::size_t i : kept.first) distinct.push_back(conductors[i]);
  std::vector<Clearance> pairs = CheckClearance(distinct, clearance_m);
  // kept.first rises, so the order (closest first, then by wires) holds.
  for (Clearance& c : pairs) c.wire_a = kept.first[c.wire_a], c.wire_b = kept.first[c.wire_b];
  return pairs;
}

// A plane below the substrate surface must pass under every wire, clear of its surface.
void CheckGroundPlane(const std::vector<Conductor>& conductors, double depth_m) {
  if (depth_m == 0) return;  // on the substrate surface, by definition
  for (const Conductor& c : conductors) {
    for (const Point3& p : c.path_m) {
      if (p.z + depth_m >= c.radius_m) continue;
      char text[320];
      std::snprintf(text, sizeof text,
                    "the ground plane %.4g um below the substrate surface %s wire %s, whose "
                    "lowest point is %.4g um above the surface (radius %.4g um): put the plane "
                    "at least %.4g um deep, or at 0 on the surface",
                    depth_m * 1e6, p.z + depth_m < 0 ? "runs above part of" : "touches",
                    c.name.c_str(), p.z * 1e6, c.radius_m * 1e6, (c.radius_m - p.z) * 1e6);
      throw StageError(text);
    }
  }
}

}  // namespace

Model ComputeModel(const WireList& wires, const ParameterSet& params, const Options& options,
                   const Progress& progress) {
  if (options.frequencies_hz.empty()) throw StageError("the physical model needs a frequency");
  for (double f : options.frequencies_hz) {
    if (!(f >= 0) || !std::isfinite(f)) {
      throw StageError("frequencies of the physical model must be 0 (DC) or positive");
    }
  }
  if (!(options.ground_depth_m >= 0) || !std::isfinite(options.ground_depth_m)) {
    throw StageError("the ground plane depth must be 0 or more");
  }
  if (!(options.coupling_cutoff >= 0 && options.coupling_cutoff < 1)) {
    throw StageError("the coupling cut-off must lie in [0, 1)");
  }
  Model model;
  model.conductors = BuildConductors(wires, params);
  model.options = options;
  CheckGroundPlane(model.conductors, options.ground_depth_m);
  // Each frequency only re-evaluates the internal impedance (the matrices are external).
  for (double f : options.frequencies_hz) {
    FrequencyResult r;
    r.frequency_hz = f;
    for (const Conductor& c : model.conductors) {
      const std::complex<double> z = InternalImpedancePerMetre(f, c.radius_m, c.resistivity_ohm_m);
      r.resistance_ohm.push_back(z.real() * c.length_m);
      // L_int = Im z / omega; at DC its limit mu0 / (8 pi) per metre.
      r.internal_inductance_h.push_back(f > 0 ? z.imag() / (2 * std::numbers::pi * f) * c.length_m
                                              : kDcInternalInductanceHPerM * c.length_m);
    }
    model.results.push_back(std::move(r));
  }
  InductanceMatrices l = ComputeInductance(model.conductors, options.ground_depth_m,
                                           options.coupling_cutoff, progress);
  model.partial_inductance_h = std::move(l.partial_h);
  model.loop_inductance_h = std::move(l.loop_h);
  model.notes = std::move(l.notes);
  const CutLoop cut{std::move(l.loop_dropped_h), model.notes.size()};
  model.coincident = std::move(l.coincident);
  // The clearance check lists at least the wires that touch, which are one conductor. A
  // coincident group is checked through its first wire: its own pairs are the group, and a
  // thousand wires bonded over one path would otherwise give half a million pairs.
  ProximityResult proximity = ComputeProximity(model.conductors, options.ground_depth_m,
                                               options.frequencies_hz, model.coincident, progress);
  for (std::size_t f = 0; f < model.results.size(); ++f) {
    model.results[f].proximity_partial = std::move(proximity.partial[f]);
    model.results[f].proximity_loop = std::move(proximity.loop[f]);
  }
  model.notes.insert(model.notes.end(), proximity.notes.begin(), proximity.notes.end());
  model.clearance =
      DistinctClearance(model.conductors, model.coincident, std::max(options.clearance_m, 0.0));
  model.joined_conductors =
      JoinedConductors(model.conductors.size(), model.coincident, model.clearance);
  if (!options.capacitance) {
    model.notes.push_back("capacitance left out on request");
  } else if (options.ground_depth_m > 0 && !model.conductors.empty()) {
    std::vector<std::string> notes;
    model.capacitance_f =
        ComputeCapacitance(model.conductors, options.ground_depth_m, options.eps_r, progress, {},
                           model.joined_conductors, &notes);
    model.notes.insert(model.notes.end(), notes.begin(), notes.end());
  } else if (!model.conductors.empty()) {
    model.notes.push_back(
        "capacitance left out: with the ground plane at depth 0 the wires touch their ground");
  }
  CheckAndRepair(model, cut);
  if (!options.nets.empty() && model.partial_inductance_h) {
    model.nets = NetImpedances(model, options.nets);
  } else if (!options.nets.empty()) {
    model.notes.push_back(
        "the ground and supply nets' impedances left out with the partial "
        "inductance matrix");
  }
  if (options.return_wires && !model.partial_inductance_h) {
    throw StageError(
        "the loops through the ground wires need the partial inductance matrix, which a package "
        "of " +
        std::to_string(model.conductors.size()) + " wires leaves out");
  } else if (options.return_wires) {
    std::vector<ReturnLoop> loops = ReturnLoops(model, *options.return_wires);
    for (std::size_t f = 0; f < loops.size(); ++f) {
      CheckReturnLoop(model, loops[f], model.results[f].frequency_hz);
      model.results[f].return_loop = std::move(loops[f]);
    }
  }
  model.pairs = DiffPairFigures(model, options.pairs, model.notes);
  NoteElectricalLength(model);
  return model;
}

}  // namespace ostrel::physical
