#pragma once

#include <vector>

#include "physical/physical_model.h"

// Wires that come too close: the pairs whose surfaces are nearer than a clearance, for a check
// of the bonding plan (a wire sweeping into its neighbour, a stitch crossing a wire).
namespace ostrel::physical {

// Every pair of wires whose surfaces come within `clearance_m` (>= 0; 0 lists the pairs that
// touch or overlap, to within a nanometre): surface distance = shortest distance between the
// two paths (polylines) less both radii, negative when the wires overlap. One entry per pair,
// at its closest approach; for two parallel runs, the middle of their common stretch. A pair
// with an end of one path on an end of the other (two wires from one pad, a stitch landing on
// a ball, a wire bonded twice; within 1 nm plus 1e-3 of the thinner radius) is `joined`; its
// clearance is still that of the whole pair, which is the overlap at the shared bond point.
// Sorted closest first, then by wire indices. Wires are paired through a plan grid of their
// path pieces, so the cost grows with the wires, not with their pairs.
// Throws StageError for a negative or non-finite clearance or a path point that is not finite.
std::vector<Clearance> CheckClearance(const std::vector<Conductor>& conductors, double clearance_m);

}  // namespace ostrel::physical
