#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ui/physical_table.h"

// The package seen from above, without the toolkit: the dies, pads, fingers, rings and die
// attach pads as outlines, each wire's path projected on the substrate plane, and one figure
// per wire that colours it. Package frame, microns, Y up.
namespace ostrel::ui {

// The figure a wire of the plan is coloured by.
enum class PlanQuantity {
  kLoopInductance,  // loop self inductance at the settings frequency, nH
  kResistance,      // R at the model's first frequency, mOhm
  kCoupling,        // |k| to the strongest loop neighbour
  kClearance,       // surface distance to the nearest wire, microns (negative: overlap)
  kRole,            // ground, power or signal: a colour each, no scale
};
inline constexpr PlanQuantity kPlanQuantities[] = {
    PlanQuantity::kLoopInductance, PlanQuantity::kResistance, PlanQuantity::kCoupling,
    PlanQuantity::kClearance, PlanQuantity::kRole};

// A colour that names a kind of wire rather than a place on a scale.
struct PlanCategory {
  std::string name;
  unsigned rgb = 0;  // 0xRRGGBB
};

struct PlanPoint {
  double x = 0, y = 0;
  bool operator==(const PlanPoint&) const = default;
};

struct PlanShape {
  enum class Kind { kRing, kAttachPad, kBaseDie, kStackedDie, kFinger, kPad };
  Kind kind = Kind::kPad;
  PlanPoint lo, hi;    // corners
  double line_um = 0;  // a ring's width, 0 for an outline
  std::string name;
};

struct PlanScene {
  std::vector<PlanShape> shapes;              // back to front
  std::vector<std::vector<PlanPoint>> paths;  // per wire, in wire order
  std::vector<std::string> names;             // per wire
  std::vector<double> values;                 // per wire; NaN: none
  // Per wire an index into `categories` (-1: none) when wires are coloured by kind; then
  // `values` are NaN and there is no scale. Both empty otherwise.
  std::vector<PlanCategory> categories;
  std::vector<int> category;
  std::string label;      // the quantity with its unit
  double lo = 0, hi = 0;  // the finite values' extremes (0, 0 for none)
  // Middles of the closest approach of wires that touch or overlap without sharing a bond point.
  std::vector<PlanPoint> overlaps;
  std::vector<bool> joined;  // per wire: joined to another at a bond point or along its path
  PlanPoint min, max;        // the extent of everything drawn
};

// The colours of the roles, in NetRole order (signal, ground, power): sky blue, black and orange
// of the Okabe-Ito palette, apart by a CIELAB distance of 78 or more under simulated protanopia,
// deuteranopia and tritanopia, and each apart from the white ground and the grey dies.
const std::vector<PlanCategory>& RoleCategories();

// "Loop L @ 1 GHz (nH)", ...
std::string PlanQuantityName(PlanQuantity quantity, const PhysicalTable& table);

PlanScene PlanOf(const PhysicalTable& table, PlanQuantity quantity);

// Where `value` lies on a scale from `lo` to `hi`, 0 to 1: 0.5 for a scale of one value or with
// a bound not finite, NaN for a value not finite; values beyond the bounds are clamped.
double ScaleFraction(double value, double lo, double hi);

// The wire whose path passes nearest (x, y), within `reach` (same units); -1 for none. Of
// coincident paths the first in wire order.
int NearestWire(const PlanScene& scene, PlanPoint at, double reach);

}  // namespace ostrel::ui
