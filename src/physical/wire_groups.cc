#include "physical/wire_groups.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "physical/inductance.h"
#include "physical/kernels.h"
#include "physical/vector3.h"

namespace ostrel::physical {

std::vector<std::vector<std::size_t>> CoincidentGroups(const std::vector<Conductor>& conductors) {
  const std::size_t n = conductors.size();
  // Each path as its corners (the cut drop merged), and the wires in order of their start.
  std::vector<std::vector<Point3>> corners(n);
  for (std::size_t i = 0; i < n; ++i) {
    const auto& path = conductors[i].path_m;
    for (std::size_t k : MergedVertices(path, 1e-4 * conductors[i].radius_m)) {
      corners[i].push_back(path[k]);
    }
  }
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < n; ++i) {
    if (!corners[i].empty()) order.push_back(i);
  }
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::pair(corners[a].front().x, a) < std::pair(corners[b].front().x, b);
  });
  const auto near_polyline = [](const Point3& p, const std::vector<Point3>& line, double tol) {
    if (line.size() == 1) return Norm(p - line.front()) <= tol;
    for (std::size_t k = 1; k < line.size(); ++k) {
      if (ClosestApproach(line[k - 1], line[k], p, p).distance_m <= tol) return true;
    }
    return false;
  };
  const auto coincide = [&](std::size_t a, std::size_t b, double tol) {
    const auto &ca = corners[a], &cb = corners[b];
    if (std::abs(conductors[a].radius_m - conductors[b].radius_m) > tol) return false;
    if (Norm(ca.front() - cb.front()) > tol || Norm(ca.back() - cb.back()) > tol) return false;
    return std::all_of(ca.begin(), ca.end(),
                       [&](const Point3& p) { return near_polyline(p, cb, tol); }) &&
           std::all_of(cb.begin(), cb.end(),
                       [&](const Point3& p) { return near_polyline(p, ca, tol); });
  };
  // The wires by the plan cell of their start, cells as wide as the largest tolerance: a wire's
  // candidates start in its own cell or the eight around (a die side's wires share one x).
  double cell_m = 0;
  for (const Conductor& c : conductors) cell_m = std::max(cell_m, 1e-3 * c.radius_m);
  cell_m = std::max(cell_m, 1e-12);
  const auto cell_of = [&](std::size_t i) {
    const Point3& p = corners[i].front();
    return std::pair<std::int64_t, std::int64_t>{std::int64_t(std::floor(p.x / cell_m)),
                                                 std::int64_t(std::floor(p.y / cell_m))};
  };
  std::vector<std::size_t> by_cell = order, rank(n, 0);
  for (std::size_t u = 0; u < order.size(); ++u) rank[order[u]] = u;
  std::sort(by_cell.begin(), by_cell.end(), [&](std::size_t a, std::size_t b) {
    return std::pair(cell_of(a), rank[a]) < std::pair(cell_of(b), rank[b]);
  });
  std::vector<bool> placed(n, false);
  std::vector<std::vector<std::size_t>> groups;
  for (std::size_t u = 0; u < order.size(); ++u) {
    const std::size_t a = order[u];
    if (placed[a]) continue;
    const double tol = 1e-3 * conductors[a].radius_m;
    std::vector<std::size_t> group = {a};
    const auto [cx, cy] = cell_of(a);
    for (std::int64_t dx = -1; dx <= 1; ++dx) {
      for (std::int64_t dy = -1; dy <= 1; ++dy) {
        const std::pair<std::int64_t, std::int64_t> cell{cx + dx, cy + dy};
        auto it = std::lower_bound(by_cell.begin(), by_cell.end(), cell,
                                   [&](std::size_t i, const auto& c) { return cell_of(i) < c; });
        for (; it != by_cell.end() && cell_of(*it) == cell; ++it) {
          // Later in the order of starts, within the tolerance along x: as a sweep along x.
          const std::size_t b = *it;
          if (rank[b] <= u || corners[b].front().x > corners[a].front().x + tol) continue;
          if (!placed[b] && coincide(a, b, tol)) {
            placed[b] = true;
            group.push_back(b);
          }
        }
      }
    }
    if (group.size() > 1) {
      std::sort(group.begin(), group.end());
      groups.push_back(std::move(group));
    }
  }
  std::sort(groups.begin(), groups.end());
  return groups;
}

// Wires that are one conductor for the capacitance: coincident wires and every pair whose
// surfaces touch or overlap, joined transitively (union-find), groups of two or more.
std::vector<std::vector<std::size_t>> JoinedConductors(
    std::size_t n, const std::vector<std::vector<std::size_t>>& coincident,
    const std::vector<Clearance>& clearance) {
  std::vector<std::size_t> parent(n);
  for (std::size_t i = 0; i < n; ++i) parent[i] = i;
  const auto root = [&](std::size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  const auto join = [&](std::size_t a, std::size_t b) {
    a = root(a), b = root(b);
    if (a != b) parent[std::max(a, b)] = std::min(a, b);
  };
  for (const auto& group : coincident) {
    for (std::size_t i : group) join(group.front(), i);
  }
  for (const Clearance& c : clearance) {
    if (c.clearance_m <= 0) join(c.wire_a, c.wire_b);
  }
  std::vector<std::vector<std::size_t>> by_root(n);
  for (std::size_t i = 0; i < n; ++i) by_root[root(i)].push_back(i);
  std::vector<std::vector<std::size_t>> groups;
  for (auto& g : by_root) {
    if (g.size() > 1) groups.push_back(std::move(g));
  }
  return groups;
}

DistinctWires Distinct(std::size_t wire_count,
                       const std::vector<std::vector<std::size_t>>& coincident) {
  DistinctWires d;
  std::vector<std::size_t> first_of(wire_count);
  for (std::size_t i = 0; i < wire_count; ++i) first_of[i] = i;
  for (const auto& group : coincident) {
    for (std::size_t i : group) first_of[i] = group.front();
  }
  d.slot.resize(wire_count);
  for (std::size_t i = 0; i < wire_count; ++i) {
    if (first_of[i] == i) {
      d.slot[i] = d.first.size();
      d.first.push_back(i);
      d.count.push_back(1);
    } else {
      d.slot[i] = d.slot[first_of[i]];
      ++d.count[d.slot[i]];
    }
  }
  return d;
}

SymmetricMatrix Spread(const SymmetricMatrix& distinct, const DistinctWires& kept,
                       const std::function<double(std::size_t, std::size_t, double)>& entry) {
  const std::size_t n = kept.slot.size();
  SymmetricMatrix out;
  out.n = n;
  out.dense = distinct.dense;
  if (distinct.dense) {
    out.values.resize(n * n);
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < n; ++j) {
        out.values[i * n + j] =
            entry(i, j, distinct.values[kept.slot[i] * distinct.n + kept.slot[j]]);
      }
    }
    return out;
  }
  std::vector<std::vector<std::size_t>> members(distinct.n);
  for (std::size_t i = 0; i < n; ++i) members[kept.slot[i]].push_back(i);
  for (const auto& e : distinct.entries) {
    for (std::size_t i : members[e.i]) {
      for (std::size_t j : members[e.j]) {
        if (e.i == e.j && i < j) continue;  // the lower triangle of a group's own block
        const double value = entry(i, j, e.value);
        if (value != 0 || i == j) out.entries.push_back({std::max(i, j), std::min(i, j), value});
      }
    }
  }
  std::sort(out.entries.begin(), out.entries.end(),
            [](const auto& a, const auto& b) { return a.i < b.i || (a.i == b.i && a.j < b.j); });
  return out;
}

}  // namespace ostrel::physical
