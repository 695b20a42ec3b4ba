#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "physical/physical_model.h"

namespace ostrel::physical {

// Straight wires of `length_m` along x, side by side along y at `pitch_d` diameters, their
// centres `height_m` above a plane `depth_m` below the substrate surface.
inline std::vector<Conductor> ParallelWires(std::size_t count, double pitch_d, double height_m,
                                            double radius_m, double rho_ohm_m, double length_m,
                                            double depth_m) {
  std::vector<Conductor> wires;
  for (std::size_t k = 0; k < count; ++k) {
    const double y = double(k) * pitch_d * 2 * radius_m, z = height_m - depth_m;
    Conductor c;
    c.name = "W" + std::to_string(k + 1);
    c.path_m = {{0, y, z}, {length_m, y, z}};
    c.radius_m = radius_m;
    c.resistivity_ohm_m = rho_ohm_m;
    c.length_m = length_m;
    wires.push_back(c);
  }
  return wires;
}

}  // namespace ostrel::physical
