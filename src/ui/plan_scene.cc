#include "ui/plan_scene.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "physical/coupling.h"

namespace ostrel::ui {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

PlanShape Centred(PlanShape::Kind kind, double x, double y, double w, double h, std::string name) {
  return {kind, {x - w / 2, y - h / 2}, {x + w / 2, y + h / 2}, 0, std::move(name)};
}

// A pad's or finger's outline: `along` on its die edge, `across` into the die.
PlanShape PadShape(PlanShape::Kind kind, double x, double y, double along, double across,
                   const std::string& side, std::string name) {
  const bool vertical_edge = side == "L" || side == "R" || side == "l" || side == "r";
  return vertical_edge ? Centred(kind, x, y, across, along, std::move(name))
                       : Centred(kind, x, y, along, across, std::move(name));
}

double SegmentDistance(PlanPoint p, PlanPoint a, PlanPoint b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double length2 = dx * dx + dy * dy;
  const double t =
      length2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length2, 0.0, 1.0) : 0.0;
  return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

}  // namespace

const std::vector<PlanCategory>& RoleCategories() {
  static const std::vector<PlanCategory> kRoles = {
      {RoleName(NetRole::kSignal), 0x56b4e9},
      {RoleName(NetRole::kGround), 0x000000},
      {RoleName(NetRole::kPower), 0xe69f00},
  };
  return kRoles;
}

std::string PlanQuantityName(PlanQuantity quantity, const PhysicalTable& table) {
  switch (quantity) {
    case PlanQuantity::kLoopInductance:
      return "Loop L @ " + FrequencyLabel(table.SettingsFrequencyHz()) + " (nH)";
    case PlanQuantity::kResistance:
      return "R @ " + FrequencyLabel(table.model().results.front().frequency_hz) + " (mΩ)";
    case PlanQuantity::kCoupling:
      return "k to the strongest neighbour";
    case PlanQuantity::kClearance:
      return "Clearance to the nearest wire (µm)";
    case PlanQuantity::kRole:
      return "role";
  }
  return {};
}

PlanScene PlanOf(const PhysicalTable& table, PlanQuantity quantity) {
  PlanScene scene;
  const Package& p = table.estimation().package;
  using Kind = PlanShape::Kind;
  for (const AttachPad& pad : p.AttachPads) {
    scene.shapes.push_back({Kind::kAttachPad, {pad.V1, pad.V2}, {pad.V3, pad.V4}, 0, pad.Name});
  }
  for (const Ring& ring : p.Rings) {
    scene.shapes.push_back(
        {Kind::kRing, {ring.X1, ring.Y1}, {ring.X2, ring.Y2}, ring.Value7, ring.Net});
  }
  for (const SegRing& ring : p.SegRings) {
    scene.shapes.push_back(
        {Kind::kRing, {ring.X1, ring.Y1}, {ring.X2, ring.Y2}, ring.Value7, ring.Name});
  }
  if (p.CompW > 0 && p.CompL > 0) {
    scene.shapes.push_back(Centred(Kind::kBaseDie, 0, 0, p.CompW, p.CompL, "base die"));
  }
  if (p.HasStackedDie() && p.SdCompW > 0 && p.SdCompL > 0) {
    // The Y offset is kept with the file's sign inverted.
    const bool turned = std::fmod(std::abs(p.SdRotation), 180.0f) == 90.0f;
    scene.shapes.push_back(Centred(Kind::kStackedDie, p.SdXOffset, -p.SdYOffset,
                                   turned ? p.SdCompL : p.SdCompW, turned ? p.SdCompW : p.SdCompL,
                                   "stacked die"));
  }
  for (const PadList* pads : {&p.ChipPads, &p.StackPads}) {
    for (const BondPad& pad : *pads) {
      // A finger's length (the line's fifth field) runs along the die edge, as the fingers'
      // pitch shows, and its width (the sixth) towards the die.
      if (pad.FingerWidth > 0 || pad.FingerLength > 0) {
        scene.shapes.push_back(PadShape(Kind::kFinger, pad.FingerX, pad.FingerY, pad.FingerLength,
                                        pad.FingerWidth, pad.Side, pad.Name));
      }
    }
  }
  for (const PadList* pads : {&p.ChipPads, &p.StackPads}) {
    for (const BondPad& pad : *pads) {
      scene.shapes.push_back(
          PadShape(Kind::kPad, pad.X, pad.Y, pad.Width, pad.Length, pad.Side, pad.Name));
    }
  }

  const physical::Model& m = table.model();
  const std::size_t n = m.conductors.size();
  for (const physical::Conductor& c : m.conductors) {
    std::vector<PlanPoint> path;
    for (const physical::Point3& point : c.path_m) path.push_back({point.x * 1e6, point.y * 1e6});
    scene.paths.push_back(std::move(path));
    scene.names.push_back(c.name);
  }
  scene.values.assign(n, kNaN);
  for (std::size_t i = 0; i < n; ++i) {
    switch (quantity) {
      case PlanQuantity::kLoopInductance:
        scene.values[i] = table.Value(i, Column::kLoop);
        break;
      case PlanQuantity::kResistance:
        scene.values[i] =
            physical::ResistanceOhm(m.results.front(), m.results.front().proximity_loop, i) * 1e3;
        break;
      case PlanQuantity::kCoupling:
        scene.values[i] = std::abs(table.Value(i, Column::kCoupling));
        break;
      case PlanQuantity::kClearance:
        scene.values[i] = table.NearestClearanceUm(i);
        break;
      case PlanQuantity::kRole:
        break;
    }
  }
  if (quantity == PlanQuantity::kRole) {
    scene.categories = RoleCategories();
    for (std::size_t i = 0; i < n; ++i) {
      scene.category.push_back(static_cast<int>(table.NetOf(i).role));
    }
  }
  scene.label = PlanQuantityName(quantity, table);
  bool first = true;
  for (double v : scene.values) {
    if (!std::isfinite(v)) continue;
    scene.lo = first ? v : std::min(scene.lo, v);
    scene.hi = first ? v : std::max(scene.hi, v);
    first = false;
  }
  scene.joined.assign(n, false);
  for (const auto& group : m.joined_conductors) {
    for (std::size_t wire : group) {
      if (wire < n) scene.joined[wire] = true;
    }
  }
  for (const physical::Clearance& pair : m.clearance) {
    if (!pair.joined) scene.overlaps.push_back({pair.at_m.x * 1e6, pair.at_m.y * 1e6});
  }

  // The extent of every shape and path point that is finite.
  bool any = false;
  auto take = [&](PlanPoint q) {
    if (!std::isfinite(q.x) || !std::isfinite(q.y)) return;
    scene.min = any ? PlanPoint{std::min(scene.min.x, q.x), std::min(scene.min.y, q.y)} : q;
    scene.max = any ? PlanPoint{std::max(scene.max.x, q.x), std::max(scene.max.y, q.y)} : q;
    any = true;
  };
  for (const PlanShape& shape : scene.shapes) take(shape.lo), take(shape.hi);
  for (const auto& path : scene.paths) {
    for (PlanPoint q : path) take(q);
  }
  return scene;
}

double ScaleFraction(double value, double lo, double hi) {
  if (!std::isfinite(value)) return kNaN;
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo)) return 0.5;
  return std::clamp((value - lo) / (hi - lo), 0.0, 1.0);
}

int NearestWire(const PlanScene& scene, PlanPoint at, double reach) {
  int best = -1;
  double best_distance = reach;
  for (std::size_t w = 0; w < scene.paths.size(); ++w) {
    const auto& path = scene.paths[w];
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
      const double d = SegmentDistance(at, path[i], path[i + 1]);
      if (d < best_distance || (best < 0 && d <= best_distance)) {
        best_distance = d;
        best = static_cast<int>(w);
      }
    }
  }
  return best;
}

}  // namespace ostrel::ui
