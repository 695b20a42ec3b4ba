#include <cmath>
#include <iostream>
#include <numbers>

#include "base/stage_error.h"
#include "physical/capacitance.h"
#include "physical/clearance.h"
#include "physical/inductance.h"
#include "physical/physical_model.h"

namespace ostrel::physical {

Model ComputeModel(const WireList& wires, const ParameterSet& params,
                   const Options& options, const Progress& progress) {
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
  // Each frequency only re-evaluates the internal impedance (the matrices are external).
  for (double f : options.frequencies_hz) {
    FrequencyResult r;
    r.frequency_hz = f;
    for (const Conductor& c : model.conductors) {
      const std::complex<double> z = InternalImpedancePerMetre(f, c.radius_m, c.resistivity_ohm_m);
      r.resistance_ohm.push_back(z.real() * c.length_m);
      // L_int = Im z / omega; at DC its limit mu0 / (8 pi) per metre.
      r.internal_inductance_h.push_back(
          f > 0 ? z.imag() / (2 * std::numbers::pi * f) * c.length_m
                : 4e-7 * std::numbers::pi / (8 * std::numbers::pi) * c.length_m);
    }
    model.results.push_back(std::move(r));
  }
  InductanceMatrices l =
      ComputeInductance(model.conductors, options.ground_depth_m, options.coupling_cutoff, progress);
  model.partial_inductance_h = std::move(l.partial_h);
  model.loop_inductance_h = std::move(l.loop_h);
  model.notes = std::move(l.notes);
  model.clearance = CheckClearance(model.conductors, options.clearance_m);
  if (!options.capacitance) {
    model.notes.push_back("capacitance left out on request");
  } else if (options.ground_depth_m > 0 && !model.conductors.empty()) {
    model.capacitance_f = ComputeCapacitance(model.conductors, options.ground_depth_m,
                                             options.eps_r, progress);
  } else if (!model.conductors.empty()) {
    model.notes.push_back(
        "capacitance left out: with the ground plane at depth 0 the wires touch their ground");
  }
  return model;
}

}  // namespace ostrel::physical
