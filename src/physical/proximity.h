#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "physical/physical_model.h"

// The proximity effect: near another conductor the current of a wire crowds to one side, which
// raises its resistance, lowers its inductance and gives wires a mutual resistance. Along each
// wire, stations at most 0.1 mm apart take the cross-section of the wires that run beside
// it (within the reach, at most 30 degrees off parallel) and of their images in the ground plane
// where the wire runs level; the eddy currents on those round wires are solved exactly in 2-D
// (cylinder_harmonics.h) and the change of the per-length impedance is summed along the wire.
namespace ostrel::physical {

struct ProximitySettings {
  // Neighbours whose centre lines come closer than this many diameters count (the single-pair
  // correction of the resistance falls to 0.5% at 10 diameters).
  double reach_diameters = 10;
  // Longest step between stations along a wire.
  double station_m = 100e-6;
  // Below this pitch (centre to centre, in diameters) the figures are noted as outside the stated
  // accuracy: the harmonic series converge ever more slowly towards touching wires.
  double accurate_diameters = 1.25;
};

struct ProximityResult {
  // One per frequency, in the order given.
  std::vector<ProximityCorrection> partial, loop;
  std::vector<std::string> notes;
};

// The corrections for `frequencies_hz`, in the wire order of `conductors` (a coincident group
// carries the correction of its one path on every wire of it). The plane lies `ground_depth_m`
// below the substrate surface. Throws StageError when cancelled.
ProximityResult ComputeProximity(const std::vector<Conductor>& conductors, double ground_depth_m,
                                 const std::vector<double>& frequencies_hz,
                                 const std::vector<std::vector<std::size_t>>& coincident,
                                 const Progress& progress = {},
                                 const ProximitySettings& settings = {});

}  // namespace ostrel::physical
