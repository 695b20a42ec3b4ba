#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "physical/physical_model.h"

// Far-field compression of the matrices of the wires: the wires are grouped into a tree of
// clusters by position, the matrix is cut into blocks of cluster pairs, and a block of two
// clusters far apart compared with their size is a smooth function of the wires' positions, of
// low numerical rank. Such a block is found from a few of its rows and columns by adaptive cross
// approximation (Bebendorf, "Approximation of boundary element matrices", 2000) and checked
// against entries computed directly; near blocks are computed entry by entry.
namespace ostrel::physical {

// An axis-aligned box (metres).
struct Box {
  Point3 lo, hi;
  double Diameter() const;
  double DistanceTo(const Box& other) const;
  void Add(const Point3& p);
  void Add(const Box& other);
};

// Items (wires) in tree order: every node is a contiguous run `begin`..`end` of `order`.
struct ClusterTree {
  struct Node {
    std::size_t begin = 0, end = 0;
    Box box;
    std::size_t first_child = 0;  // 0: a leaf; else the children are first_child and the next
  };
  std::vector<std::size_t> order;
  std::vector<Node> nodes;  // nodes[0] is the root
};

// Bisection at the median of the items' box centres along the widest extent of the centres,
// until a node holds at most `leaf_size` items. Deterministic: ties go by item index.
ClusterTree BuildClusterTree(const std::vector<Box>& boxes, std::size_t leaf_size);

// A block of the lower triangle: rows of one node, columns of another, earlier in tree order
// or the same node (then its strict lower triangle alone).
struct MatrixBlock {
  std::size_t rows = 0, cols = 0;  // node indices
  bool far = false;                // the two clusters are apart: compress
};

// The blocks that cover every pair of items once: a pair of nodes is far when the larger of
// their diameters is at most `eta` times their distance, and nodes are split until they are
// far or leaves.
std::vector<MatrixBlock> LowerBlocks(const ClusterTree& tree, double eta);

// A block `rows` x `cols` as u v^T (column-major u: rows x rank, v: cols x rank).
struct LowRank {
  std::size_t rank = 0;
  std::vector<double> u, v;
};

// The adaptive cross approximation with partial pivoting of the rows x cols block whose row r
// and column c `row(r, out)` and `col(c, out)` fill: stops when the newest cross's Frobenius
// norm is at most `tolerance` (absolute); nullopt when that takes more than `max_rank` crosses.
std::optional<LowRank> CrossApproximation(
    std::size_t rows, std::size_t cols,
    const std::function<void(std::size_t, std::vector<double>&)>& row,
    const std::function<void(std::size_t, std::vector<double>&)>& col, double tolerance,
    std::size_t max_rank);

// The entry (r, c) of u v^T.
double LowRankEntry(const LowRank& m, std::size_t rows, std::size_t cols, std::size_t r,
                    std::size_t c);

}  // namespace ostrel::physical
