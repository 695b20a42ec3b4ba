#pragma once

#include <string>

#include "physical/internal_ladder.h"

// A wire's internal-impedance ladder (physical/internal_ladder.h) as SPICE elements.
namespace ostrel {

// Appends the ladder as SPICE elements from node `from` to node `to`: R_<token> (R0) from `from`
// to the first inner node, then per rung RS_<token>_<k> and LS_<token>_<k> in parallel between
// inner nodes s_<token>_<k>; values in ohm and henry, exact to the last bit.
void AppendLadderElements(std::string& out, const physical::InternalLadder& ladder,
                          const std::string& token, const std::string& from, const std::string& to);

}  // namespace ostrel
