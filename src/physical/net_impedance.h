#pragma once

#include <complex>
#include <cstddef>
#include <string>
#include <vector>

#include "physical/physical_model.h"

// Ground and supply nets as conductors: the wires of a net in parallel (pad ends joined, finger
// ends joined: the die's grid and the substrate's ring or plane, ideal), and a supply net's loop
// through the ground wires. From the partial impedance matrix at each frequency,
// Z = diag(R + j w L_int) + j w L_partial + (dR + j w dL) of the partial kind: the current shares
// out between the wires by their impedances, mutual terms included (not L / N).
namespace ostrel::physical {

// Each net's figures at each frequency of `model`, which must hold its partial matrix. At DC the
// current shares by resistance and the inductance is that of the shared current,
// L = i^T (L_partial + L_int) i / I^2; above, R = Re Z and L = Im Z / w of the net's impedance.
// With `loops`, each supply net's loop through all ground wires too; then no wire may be in
// two nets (StageError).
std::vector<NetImpedance> NetImpedances(const Model& model, const std::vector<SharedNet>& nets,
                                        bool loops = true);

}  // namespace ostrel::physical
