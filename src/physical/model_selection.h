#pragma once

#include <cstddef>
#include <vector>

#include "physical/physical_model.h"

namespace ostrel::physical {

// The model restricted to the wires `kept` (ascending indices), in the same order, with the
// rows and columns of every matrix and the per-frequency figures of those wires (the proximity
// corrections as the wires left out still make them, the loops through the ground wires of the
// signals kept); options and notes as they were, the return wires' indices among those kept,
// but no differential pairs (those belong to the whole model). Throws
// StageError when a dense matrix of the chosen wires does not fit in memory.
Model SelectWires(const Model& model, const std::vector<std::size_t>& kept);

}  // namespace ostrel::physical
