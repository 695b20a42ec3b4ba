#include <algorithm>
#include <string>

#include "base/numeric.h"
#include "base/stage_error.h"
#include "base/text.h"
#include "electrical/metals.h"
#include "geometry/units.h"
#include "physical/physical_model.h"
#include "physical/vector3.h"

namespace ostrel::physical {
namespace {

constexpr double kMetresPerMicron = 1e-6;
// Resistivity of the wire metal at room temperature, ohm m (electrical/metals.h).
double ResistivityOhmM(const std::string& material) {
  if (const Metal* metal = FindMetal(UpperAscii(material))) return metal->resistivity_ohm_m;
  throw StageError("the physical model knows no wire metal '" + material + "' (Au, Al or Cu)");
}

// A point of the path frame (microns, Y inverted) in the package frame (metres).
Point3 PackagePoint(float x_um, float y_um, float z_um) {
  return {kMetresPerMicron * Wide(x_um), -kMetresPerMicron * Wide(y_um),
          kMetresPerMicron * Wide(z_um)};
}

}  // namespace

std::vector<Conductor> BuildConductors(const WireList& wires, const ParameterSet& params) {
  const double rho = ResistivityOhmM(params.Material);
  const double radius_m = kMetresPerMil * Wide(params.WireDiameter) / 2;
  if (!(radius_m > 0)) throw StageError("the physical model needs a positive wire diameter");
  std::vector<Conductor> conductors;
  conductors.reserve(wires.size());
  for (const Wire& wire : wires) {
    Conductor c;
    c.name = wire.Name;
    c.kind = KindOf(wire);
    c.radius_m = radius_m;
    c.resistivity_ohm_m = rho;
    c.path_m.reserve(wire.Segments.size() + 1);
    for (const WireSegment& seg : wire.Segments) {
      c.path_m.push_back(PackagePoint(seg.X1, seg.Y1, seg.Z1));
    }
    if (!wire.Segments.empty()) {
      const WireSegment& last = wire.Segments.back();
      c.path_m.push_back(PackagePoint(last.X2, last.Y2, last.Z2));
    }
    for (std::size_t k = 1; k < c.path_m.size(); ++k) {
      c.length_m += Norm(c.path_m[k] - c.path_m[k - 1]);
    }
    conductors.push_back(std::move(c));
  }
  return conductors;
}

double SymmetricMatrix::At(std::size_t i, std::size_t j) const {
  if (i >= n || j >= n) throw StageError("matrix entry outside the matrix");
  if (dense) return values[i * n + j];
  if (i < j) std::swap(i, j);
  const Entry key{i, j, 0};
  const auto it = std::lower_bound(
      entries.begin(), entries.end(), key,
      [](const Entry& a, const Entry& b) { return a.i != b.i ? a.i < b.i : a.j < b.j; });
  return it != entries.end() && it->i == i && it->j == j ? it->value : 0.0;
}

}  // namespace ostrel::physical
