#include "physical/low_rank.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "physical/vector3.h"

namespace ostrel::physical {

double Box::Diameter() const { return Norm(hi - lo); }

double Box::DistanceTo(const Box& other) const {
  const auto gap = [](double lo_a, double hi_a, double lo_b, double hi_b) {
    return std::max({0.0, lo_b - hi_a, lo_a - hi_b});
  };
  return Norm({gap(lo.x, hi.x, other.lo.x, other.hi.x), gap(lo.y, hi.y, other.lo.y, other.hi.y),
               gap(lo.z, hi.z, other.lo.z, other.hi.z)});
}

void Box::Add(const Point3& p) {
  lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
  hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
}

void Box::Add(const Box& other) {
  Add(other.lo);
  Add(other.hi);
}

ClusterTree BuildClusterTree(const std::vector<Box>& boxes, std::size_t leaf_size) {
  ClusterTree tree;
  const std::size_t n = boxes.size();
  tree.order.resize(n);
  for (std::size_t i = 0; i < n; ++i) tree.order[i] = i;
  const auto centre = [&](std::size_t i) { return 0.5 * (boxes[i].lo + boxes[i].hi); };
  tree.nodes.push_back({0, n, {}, 0});
  leaf_size = std::max<std::size_t>(leaf_size, 1);
  // Nodes are appended as they are split, so the index walks the tree breadth first.
  for (std::size_t k = 0; k < tree.nodes.size(); ++k) {
    const std::size_t begin = tree.nodes[k].begin, end = tree.nodes[k].end;
    Box box = boxes[tree.order[begin]];
    Box centres{centre(tree.order[begin]), centre(tree.order[begin])};
    for (std::size_t a = begin; a < end; ++a) {
      box.Add(boxes[tree.order[a]]);
      centres.Add(centre(tree.order[a]));
    }
    tree.nodes[k].box = box;
    if (end - begin <= leaf_size) continue;
    const Point3 extent = centres.hi - centres.lo;
    const int axis = extent.x >= extent.y && extent.x >= extent.z ? 0
                     : extent.y >= extent.z                       ? 1
                                                                  : 2;
    const auto coordinate = [&](std::size_t i) {
      const Point3 c = centre(i);
      return axis == 0 ? c.x : axis == 1 ? c.y : c.z;
    };
    const std::size_t middle = begin + (end - begin) / 2;
    std::nth_element(tree.order.begin() + std::ptrdiff_t(begin),
                     tree.order.begin() + std::ptrdiff_t(middle),
                     tree.order.begin() + std::ptrdiff_t(end), [&](std::size_t a, std::size_t b) {
                       const double ca = coordinate(a), cb = coordinate(b);
                       return ca < cb || (ca == cb && a < b);
                     });
    tree.nodes[k].first_child = tree.nodes.size();
    tree.nodes.push_back({begin, middle, {}, 0});
    tree.nodes.push_back({middle, end, {}, 0});
  }
  return tree;
}

namespace {

void CollectBlocks(const ClusterTree& tree, double eta, std::size_t a, std::size_t b,
                   std::vector<MatrixBlock>& out) {
  const ClusterTree::Node &na = tree.nodes[a], &nb = tree.nodes[b];
  const bool leaf_a = na.first_child == 0, leaf_b = nb.first_child == 0;
  if (a == b) {
    if (leaf_a) {
      out.push_back({a, a, false});
      return;
    }
    const std::size_t c0 = na.first_child, c1 = c0 + 1;
    CollectBlocks(tree, eta, c0, c0, out);
    CollectBlocks(tree, eta, c1, c0, out);
    CollectBlocks(tree, eta, c1, c1, out);
    return;
  }
  const double da = na.box.Diameter(), db = nb.box.Diameter();
  if (std::max(da, db) <= eta * na.box.DistanceTo(nb.box)) {
    out.push_back({a, b, true});
    return;
  }
  if (leaf_a && leaf_b) {
    out.push_back({a, b, false});
    return;
  }
  if (!leaf_a && (leaf_b || da >= db)) {
    CollectBlocks(tree, eta, na.first_child, b, out);
    CollectBlocks(tree, eta, na.first_child + 1, b, out);
  } else {
    CollectBlocks(tree, eta, a, nb.first_child, out);
    CollectBlocks(tree, eta, a, nb.first_child + 1, out);
  }
}

}  // namespace

std::vector<MatrixBlock> LowerBlocks(const ClusterTree& tree, double eta) {
  std::vector<MatrixBlock> out;
  if (!tree.nodes.empty() && tree.nodes[0].end > 0) CollectBlocks(tree, eta, 0, 0, out);
  return out;
}

std::optional<LowRank> CrossApproximation(
    std::size_t rows, std::size_t cols,
    const std::function<void(std::size_t, std::vector<double>&)>& row,
    const std::function<void(std::size_t, std::vector<double>&)>& col, double tolerance,
    std::size_t max_rank) {
  LowRank m;
  std::vector<bool> row_used(rows, false), col_used(cols, false);
  std::vector<double> r(cols), c(rows);
  std::size_t pivot_row = rows / 2, rows_tried = 0;
  double first_pivot = 0;
  while (rows_tried < rows) {
    row(pivot_row, r);
    row_used[pivot_row] = true;
    ++rows_tried;
    for (std::size_t l = 0; l < m.rank; ++l) {
      const double ul = m.u[l * rows + pivot_row];
      for (std::size_t j = 0; j < cols; ++j) r[j] -= ul * m.v[l * cols + j];
    }
    std::size_t pivot_col = cols;
    double largest = 0;
    for (std::size_t j = 0; j < cols; ++j) {
      if (!col_used[j] && std::abs(r[j]) > largest) largest = std::abs(r[j]), pivot_col = j;
    }
    if (pivot_col == cols || largest <= 1e-13 * first_pivot) {
      // This row is already represented, but for rounding: go on with the first row not yet
      // tried.
      pivot_row = std::find(row_used.begin(), row_used.end(), false) - row_used.begin();
      continue;
    }
    if (m.rank == max_rank) return std::nullopt;
    col_used[pivot_col] = true;
    const double delta = r[pivot_col];
    if (m.rank == 0) first_pivot = largest;
    col(pivot_col, c);
    for (std::size_t l = 0; l < m.rank; ++l) {
      const double vl = m.v[l * cols + pivot_col];
      for (std::size_t i = 0; i < rows; ++i) c[i] -= vl * m.u[l * rows + i];
    }
    double norm_u = 0, norm_v = 0;
    for (double& x : r) x /= delta, norm_v += x * x;
    for (double x : c) norm_u += x * x;
    m.u.insert(m.u.end(), c.begin(), c.end());
    m.v.insert(m.v.end(), r.begin(), r.end());
    ++m.rank;
    if (std::sqrt(norm_u * norm_v) <= tolerance) break;
    std::size_t next = rows;
    largest = -1;
    for (std::size_t i = 0; i < rows; ++i) {
      if (!row_used[i] && std::abs(c[i]) > largest) largest = std::abs(c[i]), next = i;
    }
    if (next == rows) break;
    pivot_row = next;
  }
  return m;
}

double LowRankEntry(const LowRank& m, std::size_t rows, std::size_t cols, std::size_t r,
                    std::size_t c) {
  double sum = 0;
  for (std::size_t l = 0; l < m.rank; ++l) sum += m.u[l * rows + r] * m.v[l * cols + c];
  return sum;
}

}  // namespace ostrel::physical
