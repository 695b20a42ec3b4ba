#include "physical/cell_grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace ostrel::physical {
namespace {

struct Box {
  Point3 lo, hi;
};

// What the 27 cells around `p` hold, cell by cell in the grid's order and each cell's items in
// the order they were added (`ids[k]` added with box k), worked out from the boxes alone.
std::vector<std::size_t> NearByBoxes(const std::vector<Box>& boxes,
                                     const std::vector<std::size_t>& ids, double cell_m,
                                     const Point3& p) {
  const auto cell = [&](double v) { return std::int64_t(std::floor(v / cell_m)); };
  std::vector<std::size_t> out;
  for (std::int64_t x = cell(p.x) - 1; x <= cell(p.x) + 1; ++x) {
    for (std::int64_t y = cell(p.y) - 1; y <= cell(p.y) + 1; ++y) {
      for (std::int64_t z = cell(p.z) - 1; z <= cell(p.z) + 1; ++z) {
        for (std::size_t k = 0; k < boxes.size(); ++k) {
          const Box& b = boxes[k];
          if (cell(b.lo.x) <= x && x <= cell(b.hi.x) && cell(b.lo.y) <= y && y <= cell(b.hi.y) &&
              cell(b.lo.z) <= z && z <= cell(b.hi.z))
            out.push_back(ids[k]);
        }
      }
    }
  }
  return out;
}

// Boxes on both sides of every axis, long ones over many cells, points among and beyond them,
// each item once per cell or once in all, the items added in the order of their index or in
// another; an empty grid finds nothing.
TEST(CellGrid, FindsWhatTheNearCellsHoldInOrder) {
  constexpr double kCell = 1.0;
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> place(-6.0, 6.0), size(0.0, 3.5);
  for (const bool shuffled : {false, true}) {
    SCOPED_TRACE(shuffled);
    std::vector<Box> boxes;
    std::vector<std::size_t> ids(400);
    for (std::size_t k = 0; k < ids.size(); ++k) ids[k] = k;
    if (shuffled) std::shuffle(ids.begin(), ids.end(), random);
    CellGrid grid(kCell);
    for (std::size_t k = 0; k < ids.size(); ++k) {
      const Point3 lo{place(random), place(random), place(random)};
      const Box box{lo, {lo.x + size(random), lo.y + size(random) / 4, lo.z + size(random) / 8}};
      boxes.push_back(box);
      grid.Add(box.lo, box.hi, ids[k]);
    }
    grid.Seal();
    for (int k = 0; k < 300; ++k) {
      const Point3 p{1.5 * place(random), 1.5 * place(random), 1.5 * place(random)};
      std::vector<std::size_t> found;
      grid.Near(p, [&](std::size_t item) { found.push_back(item); });
      const std::vector<std::size_t> want = NearByBoxes(boxes, ids, kCell, p);
      ASSERT_EQ(found, want) << "at " << p.x << ", " << p.y << ", " << p.z;
      // Once each, where first met.
      std::vector<std::size_t> once, want_once;
      grid.NearCellOnce(grid.CellOf(p), [&](std::size_t item) { once.push_back(item); });
      for (std::size_t item : want) {
        if (std::find(want_once.begin(), want_once.end(), item) == want_once.end())
          want_once.push_back(item);
      }
      ASSERT_EQ(once, want_once) << "at " << p.x << ", " << p.y << ", " << p.z;
    }
  }
  CellGrid empty(kCell);
  empty.Seal();
  std::size_t visits = 0;
  empty.Near({0, 0, 0}, [&](std::size_t) { ++visits; });
  EXPECT_EQ(visits, 0u);
}

}  // namespace
}  // namespace ostrel::physical
