#include "physical/low_rank.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace ostrel::physical {
namespace {

std::vector<Box> PointsOnALine(std::size_t n, double pitch) {
  std::vector<Box> boxes;
  for (std::size_t i = 0; i < n; ++i) {
    const Point3 p{pitch * double((i * 7) % n), 0.1 * pitch * double(i % 3), 0};
    boxes.push_back({p, p});
  }
  return boxes;
}

TEST(LowRank, BlocksCoverEveryPairOnceAndFarBlocksAreApart) {
  struct Case {
    std::size_t items, leaf;
    double eta;
  };
  for (const Case& c :
       {Case{1, 4, 1}, Case{7, 1, 1}, Case{100, 8, 1}, Case{257, 16, 2}, Case{300, 32, 0.5}}) {
    SCOPED_TRACE(std::to_string(c.items) + " items, leaves of " + std::to_string(c.leaf));
    const ClusterTree tree = BuildClusterTree(PointsOnALine(c.items, 1.0), c.leaf);
    std::vector<int> covered(c.items * c.items, 0);
    std::size_t far = 0;
    for (const MatrixBlock& b : LowerBlocks(tree, c.eta)) {
      const auto &rows = tree.nodes[b.rows], &cols = tree.nodes[b.cols];
      if (b.far) {
        ++far;
        EXPECT_LE(std::max(rows.box.Diameter(), cols.box.Diameter()),
                  c.eta * rows.box.DistanceTo(cols.box));
      }
      for (std::size_t r = rows.begin; r < rows.end; ++r) {
        for (std::size_t k = cols.begin; k < (b.rows == b.cols ? r : cols.end); ++k) {
          const std::size_t i = tree.order[r], j = tree.order[k];
          ++covered[std::max(i, j) * c.items + std::min(i, j)];
        }
      }
    }
    for (std::size_t i = 0; i < c.items; ++i) {
      for (std::size_t j = 0; j < i; ++j) EXPECT_EQ(covered[i * c.items + j], 1) << i << "," << j;
    }
    if (c.items > 4 * c.leaf) EXPECT_GT(far, 0u);
  }
}

TEST(LowRank, CrossApproximationFindsTheRankAndTheSmoothKernel) {
  // x_r on [0, 1], y_c on [3, 4]: 1/|x - y| is smooth there; a rank-2 matrix and a zero block
  // are found exactly; rows that are already represented are passed over.
  const auto x = [](std::size_t r) { return double(r) / 40; };
  const auto y = [](std::size_t c) { return 3 + double(c) / 30; };
  struct Case {
    const char* name;
    double (*entry)(double, double);
    double tolerance;
    std::size_t rank_at_most;
  };
  const Case cases[] = {
      {"1/|x-y|", [](double a, double b) { return 1 / std::abs(a - b); }, 1e-10, 12},
      {"rank 2", [](double a, double b) { return a * b + 1; }, 1e-14, 2},
      {"zero", [](double, double) { return 0.0; }, 1e-14, 0},
      {"one row", [](double a, double b) { return a == 0.5 ? b : 0.0; }, 1e-14, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<LowRank> m = CrossApproximation(
        41, 31,
        [&](std::size_t r, std::vector<double>& out) {
          for (std::size_t k = 0; k < 31; ++k) out[k] = c.entry(x(r), y(k));
        },
        [&](std::size_t k, std::vector<double>& out) {
          for (std::size_t r = 0; r < 41; ++r) out[r] = c.entry(x(r), y(k));
        },
        c.tolerance, 20);
    ASSERT_TRUE(m.has_value());
    EXPECT_LE(m->rank, c.rank_at_most);
    for (std::size_t r = 0; r < 41; ++r) {
      for (std::size_t k = 0; k < 31; ++k) {
        EXPECT_NEAR(LowRankEntry(*m, 41, 31, r, k), c.entry(x(r), y(k)), 1e-9);
      }
    }
  }
  // A block of full rank is refused once the crosses pass the limit.
  const auto identity = [](std::size_t r, std::vector<double>& out) {
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = r == k ? 1.0 : 0.0;
  };
  EXPECT_FALSE(CrossApproximation(10, 10, identity, identity, 1e-12, 5).has_value());
}

}  // namespace
}  // namespace ostrel::physical
