#include "package/side_ordering.h"

#include <algorithm>
#include <numeric>

#include "package/text.h"

namespace ostrel {
namespace {

constexpr std::size_t kKeyWidth = 28;
constexpr double kKeyOffset = 100000000000.0;  // makes every real key positive, same digit count

std::string KeyText(double key) {
  std::string number = FormatFixed3(key + kKeyOffset);
  if (number.size() >= kKeyWidth) return number.substr(number.size() - kKeyWidth);
  return std::string(kKeyWidth - number.size(), ' ') + number;
}

std::string IndexText(std::size_t index) {
  std::string text = std::to_string(index);
  if (text.size() < 4) text.insert(0, 4 - text.size(), '0');
  return text;
}

}  // namespace

std::string SideEntry(double key, std::size_t index) { return KeyText(key) + IndexText(index); }

std::vector<std::string> OrderSide(std::vector<BondPad>& side, SideAxis axis) {
  const std::size_t n = side.size();
  std::vector<std::string> keys(n);
  for (std::size_t i = 0; i < n; ++i) {
    keys[i] = KeyText(axis == SideAxis::kY ? side[i].Y : side[i].X);
  }
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
  std::vector<BondPad> sorted;
  sorted.reserve(n);
  std::vector<std::string> entries;
  entries.reserve(n);
  for (const std::size_t i : order) {
    sorted.push_back(std::move(side[i]));
    entries.push_back(keys[i] + IndexText(i));
  }
  side = std::move(sorted);
  return entries;
}

std::vector<std::string> OrderSides(Package& package) {
  OrderSide(package.LeftPads, SideAxis::kY);
  OrderSide(package.BottomPads, SideAxis::kX);
  OrderSide(package.RightPads, SideAxis::kY);
  return OrderSide(package.TopPads, SideAxis::kX);
}

}  // namespace ostrel
