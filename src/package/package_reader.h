#pragma once

#include <istream>
#include <string>
#include <string_view>

#include "package/package_model.h"

namespace ostrel {

// Reads a package description file into `package`: the header section up to and including the
// first COMPZ line, then the records (CBP, SD_CBP, SBP, WB, STCH, RING, SRING, SRSEG, DAP).
// The lists must be empty on entry (Package::ResetLists); header values not named by the file
// keep their values. Unknown lines are ignored; SBP, WB and SRSEG lines find their pad or ring
// by exact name among the lines read before them (first match; base die before stacked die).
// An SRSEG or DAP number that is not a number throws StageError naming `file` and the line;
// the lists then keep what was read before that line. The side lists are filled but not
// ordered (see OrderSides).
void ParsePackage(std::string_view text, Package& package, const std::string& file);
void ParsePackage(std::istream& in, Package& package, const std::string& file);

}  // namespace ostrel
