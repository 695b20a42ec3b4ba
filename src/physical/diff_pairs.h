#pragma once

#include <string>
#include <vector>

#include "physical/physical_model.h"

// Differential pairs: the odd- and even-mode inductance, capacitance and impedance of two wires
// driven against each other, and the pair's strongest coupling to the other wires.
namespace ostrel::physical {

// Self asymmetry above which a pair is noted: the two wires' self inductances or capacitances
// differ by more than this fraction of their mean.
constexpr double kPairAsymmetry = 0.03;

// The figures of each of `pairs` of `model`, in order. Inductance: the two wires over the plane
// without the connectors that close the model's loops (InductanceOverPlane), each diagonal entry
// plus the wire's internal inductance at the model's first frequency. Capacitance: the 2 x 2 block
// of the Maxwell matrix (absent when the model has none). With L and C the 2 x 2 matrices:
//   odd (differential port, currents +I / -I, charges +Q / -Q):
//     L_odd = (L11 + L22 - 2 L12) / 2, C_odd = 2 (C11 C22 - C12^2) / (C11 + C22 + 2 C12)
//   even (common port, both wires at one potential):
//     L_even = 2 (L11 L22 - L12^2) / (L11 + L22 - 2 L12), C_even = (C11 + C22 + 2 C12) / 2
//   Z_odd = sqrt(L_odd / C_odd), Z_even = sqrt(L_even / C_even), Z_diff = 2 Z_odd;
// for a symmetric pair L_odd = L11 - L12, L_even = L11 + L12, C_odd = C11 - C12, C_even = C11 +
// C12. The neighbour comes from the model's loop matrix (the external one, as the table's).
// Sentences for a person go to `notes`: a pair asymmetric by more than kPairAsymmetry, figures
// left out. Throws StageError for a wire index beyond the model or a pair of one wire.
std::vector<PairFigures> DiffPairFigures(const Model& model, const std::vector<WirePair>& pairs,
                                         std::vector<std::string>& notes);

}  // namespace ostrel::physical
