#pragma once

#include <cstdint>
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
// ordered (see OrderSides). The text is read as AsLineText gives it: a byte order mark is
// skipped, and lines ended by lone carriage returns read as lines.
void ParsePackage(std::string_view text, Package& package, const std::string& file);

// What a file's bytes come to: files with equal digests hold the same bytes (a 128-bit hash,
// XXH3, so that two different files give the same digest with a chance of 2^-128).
struct ContentDigest {
  std::uint64_t low = 0, high = 0;

  bool operator==(const ContentDigest&) const = default;
};

// ParsePackage on the package description file at `path` (`file` is `path`), read a piece
// at a time: the file is never held whole in memory. Returns the digest of the bytes read.
// Throws StageError when the file cannot be opened or read.
ContentDigest ReadPackageFile(const std::string& path, Package& package);

// The digest of the bytes the file at `path` holds now, read a piece at a time. Throws
// StageError when the file cannot be opened or read.
ContentDigest FileDigest(const std::string& path);

}  // namespace ostrel
