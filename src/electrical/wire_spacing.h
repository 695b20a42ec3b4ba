#pragma once

#include <cstddef>
#include <vector>

#include "package/package_model.h"

namespace ostrel {

// Mean pad pitch of one side (`side` indexes `pads`, ordered along the edge; `along_y` picks Y
// over X): the mean gap, then repeatedly the mean of the gaps not larger than twice the mean
// until none is dropped. Throws StageError for fewer than two pads.
float SidePitch(const PadList& pads, const SideList& side, bool along_y, const char* side_name);

// Default wire-to-wire distance in microns: 1.5 times the mean of the four sides' pitches
// (top, bottom, left, right). Every side of the base die needs at least two pads.
float DefaultWireDistance(const Package& package);

}  // namespace ostrel
