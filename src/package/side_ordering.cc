#include "package/side_ordering.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numeric>
#include <utility>

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

// Lists that ordering a side needs, kept from side to side.
struct SideScratch {
  LargePageVector<std::pair<std::uint64_t, std::size_t>> plain;  // key in thousandths, position
  std::vector<Key> keys;
  SideList order;  // becomes a side's list, and that side's old list the next order
  std::string text;
};

// Orders the positions of `side` by the numbers of their key texts, when every key + 1e11 is a
// number from 0 up to 1e12: such texts are digits right-aligned behind blanks, and a blank
// sorts before a digit, so their byte order is the order of the numbers they write (equal
// texts, equal numbers). The positions in order are then the second members of `plain`.
// Returns false for any other key.
bool OrderByPlainKeys(const PadList& pads, const SideList& side, SideAxis axis,
                      SideScratch& scratch) {
  auto& plain = scratch.plain;
  plain.resize(side.size());
  for (std::size_t i = 0; i < side.size(); ++i) {
    // The position some pads on is fetched while this one is used (see SidePitch).
    if (i + 16 < side.size()) __builtin_prefetch(&pads[side[i + 16]]);
    const BondPad& pad = pads[side[i]];
    const double key = static_cast<double>(axis == SideAxis::kY ? pad.Y : pad.X) + kKeyOffset;
    if (!(key >= 0.0) || !ExactThousandths(key, plain[i].first)) return false;
    plain[i].second = i;
  }
  // Equal keys by position: file order stays. A side is mostly listed in order already, one
  // way or the other; keys that fall throughout are all different, so turned round they are
  // the one order a sort would give.
  const auto falls = [](const auto& a, const auto& b) { return a.first > b.first; };
  if (std::adjacent_find(plain.begin(), plain.end(), std::not_fn(falls)) == plain.end()) {
    std::reverse(plain.begin(), plain.end());
  } else if (!std::is_sorted(plain.begin(), plain.end())) {
    std::sort(plain.begin(), plain.end());
  }
  return true;
}

// Orders the positions of `side` by the byte order of their key texts.
void OrderByKeyTexts(const PadList& pads, const SideList& side, SideAxis axis,
                     SideScratch& scratch) {
  const std::size_t n = side.size();
  std::vector<Key>& keys = scratch.keys;
  keys.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const BondPad& pad = pads[side[i]];
    WriteKeyText(axis == SideAxis::kY ? pad.Y : pad.X, keys[i], scratch.text);
  }
  SideList& order = scratch.order;
  order.resize(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Equal texts keep their input order.
  std::sort(order.begin(), order.end(), [&keys](std::size_t a, std::size_t b) {
    const int by_text = std::memcmp(keys[a].data(), keys[b].data(), kKeyWidth);
    return by_text < 0 || (by_text == 0 && a < b);
  });
}

// Orders `side` (indices into `pads`) by its key texts; with `entries`, also gives the sorted
// list's entries.
void OrderSideBy(const PadList& pads, SideList& side, SideAxis axis, SideScratch& scratch,
                 SortList* entries) {
  const bool plain = OrderByPlainKeys(pads, side, axis, scratch);
  if (!plain) OrderByKeyTexts(pads, side, axis, scratch);
  // The position in file order of the pad that comes k-th.
  const auto position = [&](std::size_t k) {
    return plain ? scratch.plain[k].second : scratch.order[k];
  };
  if (entries != nullptr) {
    entries->reserve(side.size());
    for (std::size_t k = 0; k < side.size(); ++k) {
      const std::size_t i = position(k);
      const BondPad& pad = pads[side[i]];
      entries->push_back({axis == SideAxis::kY ? pad.Y : pad.X, i});
    }
  }
  // Position k takes the pad that was at position(k).
  if (plain) {
    for (auto& entry : scratch.plain) entry.second = side[entry.second];
    for (std::size_t k = 0; k < side.size(); ++k) side[k] = scratch.plain[k].second;
  } else {
    for (std::size_t& i : scratch.order) i = side[i];
    side.swap(scratch.order);
  }
}

}  // namespace

std::string SideEntry(double key, std::size_t index) { return KeyText(key) + IndexText(index); }

std::vector<std::string> SortEntryTexts(const SortList& entries) {
  std::vector<std::string> texts;
  texts.reserve(entries.size());
  for (const SortEntry& e : entries) texts.push_back(SideEntry(e.key, e.index));
  return texts;
}

SortList OrderSides(Package& package) {
  SideScratch scratch;
  OrderSideBy(package.ChipPads, package.LeftPads, SideAxis::kY, scratch, nullptr);
  OrderSideBy(package.ChipPads, package.BottomPads, SideAxis::kX, scratch, nullptr);
  OrderSideBy(package.ChipPads, package.RightPads, SideAxis::kY, scratch, nullptr);
  SortList entries;
  OrderSideBy(package.ChipPads, package.TopPads, SideAxis::kX, scratch, &entries);
  return entries;
}

}  // namespace ostrel
