#include "physical/charge_harmonics.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <numbers>
#include <tuple>
#include <unordered_map>

#include "physical/cell_grid.h"
#include "physical/parallel_fault.h"
#include "physical/source_harmonics.h"
#include "physical/vector3.h"

namespace ostrel::physical {
namespace {

using Complex = std::complex<double>;

// Wires more than 30 degrees off parallel are left out: the 2-D picture of parallel round wires
// no longer holds for them, and wires that cross do so over a short length.
const double kParallelCosine = std::cos(std::numbers::pi / 6);
// A piece that climbs steeper than 30 degrees sees no image in the plane: its image runs away.
const double kLevelSine = std::sin(std::numbers::pi / 6);
// Wires whose surfaces come within this fraction of a radius touch: they are one conductor there.
constexpr double kTouching = 1e-9;

// A piece of another wire beside the station: the length of it that runs beside the piece, and
// where its wire crosses the station's cross-section.
struct Beside {
  std::size_t piece = 0, wire = 0;
  double lo_m = 0, hi_m = 0;  // its ends' positions along the piece, from the piece's start
  Complex at;                 // x across, y the height above the plane where the piece runs level
  double distance_m = 0;      // from the piece's axis
  double outside_m = 0;       // how far the crossing lies beyond the piece's ends (0: on it)
};

struct FoundRow {
  std::vector<ChargeHarmonics::Entry> entries;
  std::vector<ClosePair> close;
};

// G(t) = G(-t), G'' = g: the second antiderivative of the axial kernel g, the triangle of half
// width w and unit area.
double Spread2(double t, double w) {
  const double x = std::abs(t);
  return x >= w ? 0.5 * x - w / 6 : (0.5 * w * x * x - x * x * x / 6) / (w * w);
}

// The mean over [0, l] of the kernel's spread of a unit charge even over [lo, hi].
double AxialWeight(double l, double lo, double hi, double w) {
  const double both = Spread2(l - lo, w) - Spread2(-lo, w) - Spread2(l - hi, w) + Spread2(-hi, w);
  return both / (l * (hi - lo));
}

// The row of piece i.
FoundRow PieceRow(const std::vector<ChargePiece>& pieces, const std::vector<Point3>& middles,
                  const std::vector<double>& lengths, std::size_t i, const CellGrid& grid,
                  double depth_m, double eps_f_m, const ChargeHarmonicSettings& settings,
                  double longest_m, SweepStart* start) {
  FoundRow row;
  const ChargePiece& own = pieces[i];
  const double a = own.radius_m;
  const double length = Norm(own.p1 - own.p0);
  if (!(length > 0)) return row;
  const Point3 u = (1 / length) * (own.p1 - own.p0);
  const Point3 mid = middles[i];
  const double height = mid.z + depth_m;
  const bool level = std::abs(u.z) < kLevelSine && height > a * (1 + kTouching);
  // Cross-section axes: level pieces keep x across and y up, so that the plane is y = 0.
  Point3 ex = level ? Cross(u, Point3{0, 0, 1})
                    : Cross(u, std::abs(u.x) < 0.9 ? Point3{1, 0, 0} : Point3{0, 1, 0});
  ex = (1 / Norm(ex)) * ex;
  const Point3 ey = Cross(ex, u);
  const double reach_m = settings.reach_diameters * 2 * a;
  // Pieces of this wire (the ones it runs on through the station) and of the wires beside it,
  // within the reach along it too.
  std::vector<Beside> own_wire, beside;
  beside.reserve(64);  // about 50 at the pitch of a dense package: grown once or not at all
  // (The middles first, squared: most of the grid's pieces lie beyond them.)
  const double within_m = 2 * reach_m + 0.5 * (length + longest_m);
  grid.Near(mid, [&](std::size_t j) {
    const Point3 apart = middles[j] - mid;
    if (Dot(apart, apart) > within_m * within_m) return;
    const ChargePiece& q = pieces[j];
    if (std::abs(q.radius_m - a) > kTouching * a) return;
    const double s0 = Dot(q.p0 - own.p0, u), s1 = Dot(q.p1 - own.p0, u);
    const double q_length = lengths[j];
    if (std::abs(s1 - s0) < kParallelCosine * q_length) return;
    const double lo = std::min(s0, s1), hi = std::max(s0, s1);
    if (hi < -reach_m || lo > length + reach_m) return;
    // Where the line of q crosses the plane normal to the piece through its middle.
    const double t = (0.5 * length - s0) / (s1 - s0);
    const Point3 cross = q.p0 + t * (q.p1 - q.p0);
    const Point3 across = cross - mid;
    // Most pieces that get this far lie beyond the reach: rejected before the root (with a
    // margin over its rounding, so that the comparisons below decide).
    const double distance2 = Dot(across, across);
    const double limit_m = q.wire == own.wire ? a : reach_m;
    if (distance2 > 1.000001 * limit_m * limit_m) return;
    const double distance = std::sqrt(distance2);
    const Complex at(Dot(across, ex), level ? cross.z + depth_m : Dot(across, ey));
    const double outside = q_length * std::max({0.0, -t, t - 1});
    if (q.wire == own.wire) {
      if (distance < a) own_wire.push_back({j, q.wire, lo, hi, at, distance, outside});
    } else if (distance < reach_m && q.conductor != own.conductor) {
      beside.push_back({j, q.wire, lo, hi, at, distance, outside});
    }
  });
  // Each wire crosses the section where its piece that reaches the middle does (else its
  // nearest piece); wires by distance, a tie by index, so that the order does not depend on the
  // grid's.
  std::vector<const Beside*> members_by_distance;
  members_by_distance.reserve(beside.size());
  for (const Beside& b : beside) members_by_distance.push_back(&b);
  std::sort(members_by_distance.begin(), members_by_distance.end(),
            [](const Beside* x, const Beside* y) {
              return std::tie(x->wire, x->outside_m, x->distance_m, x->piece) <
                     std::tie(y->wire, y->outside_m, y->distance_m, y->piece);
            });
  members_by_distance.erase(
      std::unique(members_by_distance.begin(), members_by_distance.end(),
                  [](const Beside* x, const Beside* y) { return x->wire == y->wire; }),
      members_by_distance.end());
  std::sort(members_by_distance.begin(), members_by_distance.end(),
            [](const Beside* x, const Beside* y) {
              return std::tie(x->distance_m, x->wire) < std::tie(y->distance_m, y->wire);
            });
  SourceSection section;
  section.radius_m = a;
  section.plane = level;
  section.centres_m.push_back(Complex(0, level ? height : 0));
  std::vector<std::size_t> wires{own.wire};  // by place in the section
  for (const Beside* b : members_by_distance) {
    // A wire that touches this one, or one already kept, is joined to it here.
    bool clear = !level || b->at.imag() > a * (1 + kTouching);
    const double apart_m = 2 * a * (1 + kTouching);
    for (const Complex& kept : section.centres_m) {
      clear = clear && std::norm(b->at - kept) > apart_m * apart_m;
    }
    if (!clear) continue;
    if (b->distance_m < settings.accurate_diameters * 2 * a) {
      row.close.push_back({own.wire, b->wire, b->distance_m / (2 * a), mid});
    }
    section.centres_m.push_back(b->at);
    wires.push_back(b->wire);
  }
  if (level && height < settings.accurate_height_radii * a) {
    row.close.push_back({own.wire, own.wire, height / a, mid});
  }
  if (section.centres_m.size() == 1 && !level) return row;
  // The closest centre or image to this wire's.
  double own_closest = level ? 2 * height : std::numeric_limits<double>::infinity();
  for (std::size_t k = 1; k < section.centres_m.size(); ++k) {
    own_closest = std::min(own_closest, std::abs(section.centres_m[k] - section.centres_m[0]));
  }
  std::vector<double>* harmonics = nullptr;
  if (start != nullptr) {
    if (start->wires != wires || start->level != level) start->harmonics.clear();
    start->wires = wires;
    start->level = level;
    harmonics = &start->harmonics;
  }
  const std::vector<double> m = SourceHarmonics(section, harmonics);
  const double to_potential = 1 / (2 * std::numbers::pi * eps_f_m);
  // The 2-D correction holds for charge that varies slowly along the wires; charge that varies
  // over less than the wires' spacing induces ever less (the harmonics of charge varying as
  // cos(kx) fall off as K_n(k r) rather than r^-n). The correction of each member is spread along
  // the wire by a triangle as wide as its spacing (the closest centre or image for the wire's
  // own), which keeps it from the finest pieces' short-range variations and P positive definite.
  const auto add = [&](const Beside& b, std::size_t k, double width_m) {
    const double weight = AxialWeight(length, b.lo_m, b.hi_m, std::min(width_m, reach_m));
    if (weight > 0) row.entries.push_back({b.piece, m[k] * to_potential * weight});
  };
  for (const Beside& b : own_wire) add(b, 0, own_closest);
  for (const Beside& b : beside) {
    const auto k = std::find(wires.begin() + 1, wires.end(), b.wire) - wires.begin();
    if (k == std::ssize(wires)) continue;
    const auto place = static_cast<std::size_t>(k);
    add(b, place, std::abs(section.centres_m[place] - section.centres_m[0]));
  }
  std::sort(row.entries.begin(), row.entries.end(),
            [](const auto& x, const auto& y) { return x.piece < y.piece; });
  return row;
}

}  // namespace

namespace {

double Longest(const std::vector<ChargePiece>& pieces) {
  double longest_m = 0;
  for (const ChargePiece& p : pieces) longest_m = std::max(longest_m, Norm(p.p1 - p.p0));
  return longest_m;
}

double Widest(const std::vector<ChargePiece>& pieces) {
  double widest_m = 0;
  for (const ChargePiece& p : pieces) widest_m = std::max(widest_m, p.radius_m);
  return widest_m;
}

}  // namespace

ChargeHarmonicRows::ChargeHarmonicRows(std::vector<ChargePiece> pieces, double depth_m,
                                       double eps_f_m, const ChargeHarmonicSettings& settings)
    : pieces_(std::move(pieces)),
      middles_(pieces_.size()),
      lengths_(pieces_.size()),
      depth_m_(depth_m),
      eps_f_m_(eps_f_m),
      settings_(settings),
      longest_m_(Longest(pieces_)),
      grid_(2 * settings.reach_diameters * 2 * Widest(pieces_) + longest_m_) {
  for (std::size_t p = 0; p < pieces_.size(); ++p) {
    middles_[p] = 0.5 * (pieces_[p].p0 + pieces_[p].p1);
    lengths_[p] = Norm(pieces_[p].p1 - pieces_[p].p0);
    grid_.Add(middles_[p], middles_[p], p);
  }
  grid_.Seal();
}

std::vector<ChargeHarmonics::Entry> ChargeHarmonicRows::Row(std::size_t i,
                                                            std::vector<ClosePair>& close,
                                                            SweepStart* start) const {
  FoundRow row = PieceRow(pieces_, middles_, lengths_, i, grid_, depth_m_, eps_f_m_, settings_,
                          longest_m_, start);
  close.insert(close.end(), row.close.begin(), row.close.end());
  return std::move(row.entries);
}

ChargeHarmonics ComputeChargeHarmonics(const std::vector<ChargePiece>& pieces, double depth_m,
                                       double eps_f_m, const ChargeHarmonicSettings& settings) {
  ChargeHarmonics out;
  out.rows.resize(pieces.size());
  if (pieces.empty()) return out;
  const ChargeHarmonicRows found(pieces, depth_m, eps_f_m, settings);
  std::vector<std::vector<ClosePair>> close(pieces.size());
  ParallelFault fault;
#pragma omp parallel for schedule(dynamic, 32)
  for (std::size_t i = 0; i < pieces.size(); ++i)
    fault.Run([&] { out.rows[i] = found.Row(i, close[i]); });
  fault.Rethrow();
  for (const auto& pairs : close) out.close.insert(out.close.end(), pairs.begin(), pairs.end());
  return out;
}

std::vector<std::string> ChargeHarmonicNotes(std::vector<ClosePair> close,
                                             const std::vector<std::string>& names) {
  return ClosePairNote(std::move(close), names,
                       {" wire runs", " wires run",
                        " closer than 1.25 diameters to another (centre to centre) or 1.5 radii to "
                        "the plane (axis height): their capacitance figures are outside the "
                        "stated accuracy",
                        "(the plane)", "d", "radii"});
}

}  // namespace ostrel::physical
