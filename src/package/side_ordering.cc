#include "package/side_ordering.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

#include "base/text.h"

namespace ostrel {
namespace {

constexpr std::size_t kKeyWidth = 28;
constexpr double kKeyOffset = 100000000000.0;  // makes every real key positive, same digit count

using Key = std::array<char, kKeyWidth>;

// The key text: key + 1e11 written "0.000", the last 28 characters of 28 blanks followed by it.
void WriteKeyText(double key, Key& text, std::string& scratch) {
  scratch.clear();
  AppendFixed3(scratch, key + kKeyOffset);
  const std::size_t n = std::min(scratch.size(), kKeyWidth);
  std::fill(text.begin(), text.end() - static_cast<std::ptrdiff_t>(n), ' ');
  std::memcpy(text.data() + (kKeyWidth - n), scratch.data() + (scratch.size() - n), n);
}

std::string KeyText(double key) {
  Key text;
  std::string scratch;
  WriteKeyText(key, text, scratch);
  return std::string(text.data(), text.size());
}

std::string IndexText(std::size_t index) {
  std::string text = std::to_string(index);
  if (text.size() < 4) text.insert(0, 4 - text.size(), '0');
  return text;
}

// Orders `side` by its key texts; with `entries`, also gives the sorted list's entries.
void OrderSideBy(std::vector<BondPad>& side, SideAxis axis, std::vector<std::string>* entries) {
  const std::size_t n = side.size();
  std::vector<Key> keys(n);
  std::string scratch;
  for (std::size_t i = 0; i < n; ++i) {
    WriteKeyText(axis == SideAxis::kY ? side[i].Y : side[i].X, keys[i], scratch);
  }
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Byte order, as the list compares its texts; equal texts keep their input order.
  std::stable_sort(order.begin(), order.end(), [&keys](std::size_t a, std::size_t b) {
    return std::memcmp(keys[a].data(), keys[b].data(), kKeyWidth) < 0;
  });
  if (entries != nullptr) {
    entries->reserve(n);
    for (const std::size_t i : order) {
      entries->push_back(std::string(keys[i].data(), kKeyWidth) + IndexText(i));
    }
  }
  // Position k takes the pad that was at order[k]: each cycle of the permutation is rotated in
  // place, so the side needs no second copy of its pads.
  for (std::size_t start = 0; start < n; ++start) {
    if (order[start] == start) continue;
    BondPad held = std::move(side[start]);
    std::size_t k = start;
    while (order[k] != start) {
      const std::size_t from = order[k];
      side[k] = std::move(side[from]);
      order[k] = k;
      k = from;
    }
    side[k] = std::move(held);
    order[k] = k;
  }
}

}  // namespace

std::string SideEntry(double key, std::size_t index) { return KeyText(key) + IndexText(index); }

std::vector<std::string> OrderSide(std::vector<BondPad>& side, SideAxis axis) {
  std::vector<std::string> entries;
  OrderSideBy(side, axis, &entries);
  return entries;
}

std::vector<std::string> OrderSides(Package& package) {
  OrderSideBy(package.LeftPads, SideAxis::kY, nullptr);
  OrderSideBy(package.BottomPads, SideAxis::kX, nullptr);
  OrderSideBy(package.RightPads, SideAxis::kY, nullptr);
  return OrderSide(package.TopPads, SideAxis::kX);
}

}  // namespace ostrel
