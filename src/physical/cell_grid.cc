#include "physical/cell_grid.h"

#include <algorithm>
#include <bit>

namespace ostrel::physical {

void CellGrid::Add(const Point3& lo, const Point3& hi, std::size_t item) {
  const auto [x0, y0, z0] = CellOf(lo);
  const auto [x1, y1, z1] = CellOf(hi);
  if (item >= lowest_.size()) lowest_.resize(item + 1);
  lowest_[item] = {x0, y0, z0};
  for (std::int64_t x = x0; x <= x1; ++x) {
    for (std::int64_t y = y0; y <= y1; ++y) {
      for (std::int64_t z = z0; z <= z1; ++z) added_.push_back({{x, y, z}, item});
    }
  }
}

void CellGrid::Seal() {
  // By cell, each cell's items in the order they came.
  std::stable_sort(added_.begin(), added_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  cells_.clear();
  first_.clear();
  items_.clear();
  items_.reserve(added_.size());
  for (const auto& [cell, item] : added_) {
    if (cells_.empty() || cells_.back() != cell) {
      cells_.push_back(cell);
      first_.push_back(items_.size());
    }
    items_.push_back(item);
  }
  first_.push_back(items_.size());
  added_ = {};
  slots_.clear();
  if (cells_.empty()) return;
  const std::size_t size = std::bit_ceil(2 * cells_.size());
  shift_ = 64 - std::countr_zero(size);
  slots_.assign(size, kNone);
  for (std::size_t k = 0; k < cells_.size(); ++k) {
    std::size_t s = Hash(cells_[k]) >> shift_;
    while (slots_[s] != kNone) s = (s + 1) & (size - 1);
    slots_[s] = k;
  }
}

}  // namespace ostrel::physical
