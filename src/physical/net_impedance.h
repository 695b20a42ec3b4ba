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

// The signals' loops through the ground wires at each frequency of `model` (which must hold its
// partial matrix), one per result, in order. With Z the partial impedance matrix of signals s
// and grounds g, a current vector I_s on the signals drives ground currents
// I_g = Z_gg^-1 (V_g 1 - Z_gs I_s), V_g the one voltage across every ground wire, set by
// 1^T I_g = -1^T I_s; T = [1; T_g] maps I_s to every wire's current and the loop impedance is
// Z_loop = T^T Z T. Above DC R = Re Z_loop and L = Im Z_loop / w; at DC the current shares by
// resistance and L = T^T L T, L the partial plus internal inductance. Throws StageError without a
// ground wire, for a wire in both sets or out of range, or a figure that is not finite.
std::vector<ReturnLoop> ReturnLoops(const Model& model, const ReturnWires& wires);

}  // namespace ostrel::physical
