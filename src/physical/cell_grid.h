#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <vector>

#include "physical/physical_model.h"

// Items (pieces of wire, their middles) in cubic cells of one size, for finding what lies near a
// point: with cells at least as wide as the distance looked for, it lies in the 27 cells around.
// The items are added, then the grid is sealed once, and only then looked in (from any thread).
namespace ostrel::physical {

class CellGrid {
 public:
  using Cell = std::tuple<std::int64_t, std::int64_t, std::int64_t>;

  explicit CellGrid(double cell_m) : cell_m_(cell_m) {}

  // Item `item` (a small index: the grid keeps a cell for each up to the largest) in every cell
  // the box from `lo` to `hi` touches; each item once.
  void Add(const Point3& lo, const Point3& hi, std::size_t item);

  // Gathers each cell's items, in the order they were added, and indexes the cells.
  void Seal();

  // The cell that holds `p`.
  Cell CellOf(const Point3& p) const {
    return {std::int64_t(std::floor(p.x / cell_m_)), std::int64_t(std::floor(p.y / cell_m_)),
            std::int64_t(std::floor(p.z / cell_m_))};
  }

  // visit(item) for the items of the 27 cells around `p` (an item in several once per cell).
  template <typename Visit>
  void Near(const Point3& p, Visit&& visit) const {
    Scan<false>(CellOf(p), visit);
  }

  // The same for the 27 cells around `cell`, each item once, where the scan above meets it
  // first: the cells are met in the order of their x, then y, then z, so that is the one at the
  // largest of its lowest cell and the scan's.
  template <typename Visit>
  void NearCellOnce(const Cell& cell, Visit&& visit) const {
    Scan<true>(cell, visit);
  }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  template <bool kOnce, typename Visit>
  void Scan(const Cell& cell, Visit& visit) const {
    const auto [cx, cy, cz] = cell;
    for (std::int64_t x = cx - 1; x <= cx + 1; ++x) {
      for (std::int64_t y = cy - 1; y <= cy + 1; ++y) {
        for (std::int64_t z = cz - 1; z <= cz + 1; ++z) {
          const std::size_t at = Find({x, y, z});
          if (at == kNone) continue;
          for (std::size_t k = first_[at]; k < first_[at + 1]; ++k) {
            if constexpr (kOnce) {
              const auto [lx, ly, lz] = lowest_[items_[k]];
              if (x != std::max(lx, cx - 1) || y != std::max(ly, cy - 1) ||
                  z != std::max(lz, cz - 1))
                continue;
            }
            visit(items_[k]);
          }
        }
      }
    }
  }

  static std::uint64_t Hash(const Cell& c) {
    const auto [x, y, z] = c;
    std::uint64_t h = std::uint64_t(x) * 0x9E3779B97F4A7C15u ^
                      std::uint64_t(y) * 0xC2B2AE3D27D4EB4Fu ^
                      std::uint64_t(z) * 0x165667B19E3779F9u;
    h ^= h >> 31;
    return h * 0xBF58476D1CE4E5B9u;
  }

  // The index of `c` among the cells that hold items, or kNone.
  std::size_t Find(const Cell& c) const {
    if (slots_.empty()) return kNone;
    for (std::size_t s = Hash(c) >> shift_;; s = (s + 1) & (slots_.size() - 1)) {
      const std::size_t at = slots_[s];
      if (at == kNone || cells_[at] == c) return at;
    }
  }

  double cell_m_;
  std::vector<std::pair<Cell, std::size_t>> added_;  // until sealed
  std::vector<Cell> cells_;                          // the cells that hold items, in order
  std::vector<std::size_t> first_;                   // cell k's items: [first_[k], first_[k+1])
  std::vector<std::size_t> items_;
  std::vector<Cell> lowest_;        // by item: the lowest cell it was added to
  std::vector<std::size_t> slots_;  // open addressing, a power of two at least twice the cells
  int shift_ = 64;
};

}  // namespace ostrel::physical
