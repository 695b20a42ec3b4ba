#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "physical/physical_model.h"

// Items (pieces of wire, their middles) in cubic cells of one size, for finding what lies near a
// point: with cells at least as wide as the distance looked for, it lies in the 27 cells around.
namespace ostrel::physical {

class CellGrid {
 public:
  explicit CellGrid(double cell_m) : cell_m_(cell_m) {}

  // Item `item` in every cell the box from `lo` to `hi` touches.
  void Add(const Point3& lo, const Point3& hi, std::size_t item) {
    const auto [x0, y0, z0] = CellOf(lo);
    const auto [x1, y1, z1] = CellOf(hi);
    for (std::int64_t x = x0; x <= x1; ++x) {
      for (std::int64_t y = y0; y <= y1; ++y) {
        for (std::int64_t z = z0; z <= z1; ++z) cells_[{x, y, z}].push_back(item);
      }
    }
  }

  // visit(item) for the items of the 27 cells around `p` (an item in several once per cell).
  template <typename Visit>
  void Near(const Point3& p, Visit&& visit) const {
    const auto [cx, cy, cz] = CellOf(p);
    for (std::int64_t x = cx - 1; x <= cx + 1; ++x) {
      for (std::int64_t y = cy - 1; y <= cy + 1; ++y) {
        for (std::int64_t z = cz - 1; z <= cz + 1; ++z) {
          const auto it = cells_.find({x, y, z});
          if (it == cells_.end()) continue;
          for (std::size_t item : it->second) visit(item);
        }
      }
    }
  }

 private:
  using Cell = std::tuple<std::int64_t, std::int64_t, std::int64_t>;
  struct CellHash {
    std::size_t operator()(const Cell& c) const {
      const auto [x, y, z] = c;
      return std::hash<std::int64_t>()(x * 73856093 ^ y * 19349663 ^ z * 83492791);
    }
  };
  Cell CellOf(const Point3& p) const {
    return {std::int64_t(std::floor(p.x / cell_m_)), std::int64_t(std::floor(p.y / cell_m_)),
            std::int64_t(std::floor(p.z / cell_m_))};
  }
  double cell_m_;
  std::unordered_map<Cell, std::vector<std::size_t>, CellHash> cells_;
};

}  // namespace ostrel::physical
