#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "physical/physical_model.h"

// Wires that are one conductor: on one path (coincident), or touching.
namespace ostrel::physical {

// Wires whose paths coincide: the same radius, ends within 1e-3 of a radius of each other and
// every corner of each path within that distance of the other path (a wire bonded again over
// itself). Groups of two or more wire indices, ascending, ordered by their first wire. Such wires
// are one conductor in space: the matrices give them couplings of exactly 1 (equal rows).
std::vector<std::vector<std::size_t>> CoincidentGroups(const std::vector<Conductor>& conductors);

// Wires that are one conductor for the capacitance: coincident wires and every pair whose
// surfaces touch or overlap (a clearance of 0 or less), joined transitively. Groups of two or
// more wire indices, ascending.
std::vector<std::vector<std::size_t>> JoinedConductors(
    std::size_t wire_count, const std::vector<std::vector<std::size_t>>& coincident,
    const std::vector<Clearance>& clearance);

// Each wire's place among the distinct wires, when every coincident group is kept once (by its
// first wire): slot[i] for wire i, and the distinct wires' indices in `first`.
struct DistinctWires {
  std::vector<std::size_t> slot;
  std::vector<std::size_t> first;
  std::vector<std::size_t> count;  // wires of each distinct one (1, or its group's size)
};
DistinctWires Distinct(std::size_t wire_count,
                       const std::vector<std::vector<std::size_t>>& coincident);

// The matrix of all wires from that of the distinct wires: entry (i, j) is
// entry(i, j, distinct entry of their slots), in the distinct matrix's form (a sparse one keeps
// the non-zero entries).
SymmetricMatrix Spread(const SymmetricMatrix& distinct, const DistinctWires& kept,
                       const std::function<double(std::size_t, std::size_t, double)>& entry);

}  // namespace ostrel::physical
