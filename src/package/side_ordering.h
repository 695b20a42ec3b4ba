#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "package/package_model.h"

namespace ostrel {

enum class SideAxis { kX, kY };

// The sorted-list entry of pad `index` on its side: the key (X or Y) plus 1e11, in double,
// written "0.000" and right-aligned in 28 characters, followed by the index written "0000".
std::string SideEntry(double key, std::size_t index);

// An entry of the sorted list before it is written: the pad's key and its place on its side in
// file order. The text (SideEntry) is written only where the list is shown.
struct SortEntry {
  float key = 0;
  std::size_t index = 0;

  bool operator==(const SortEntry&) const = default;
};

// The sorted list of a side: as long as the side, so placed on large pages.
using SortList = LargePageVector<SortEntry>;

// The texts of `entries`, in order.
std::vector<std::string> SortEntryTexts(const SortList& entries);

// Orders the four side lists along the die edge: left and right by Y, bottom and top by X, in
// the order left, bottom, right, top; each ascending by its key text (so by the key rounded to
// three decimals), pads with equal key text in file order. Returns the entries of the last one
// ordered (top), which is what the window's sorted list shows after a package read.
SortList OrderSides(Package& package);

}  // namespace ostrel
