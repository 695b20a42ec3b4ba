#include "physical/proximity.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <numbers>
#include <set>
#include <tuple>
#include <unordered_map>

#include "base/stage_error.h"
#include "physical/cell_grid.h"
#include "physical/close_pairs.h"
#include "physical/cylinder_harmonics.h"
#include "physical/inductance.h"
#include "physical/parallel_fault.h"
#include "physical/vector3.h"
#include "physical/wire_groups.h"

namespace ostrel::physical {
namespace {

// Neighbours more than 30 degrees off parallel are left out: the 2-D picture of parallel round
// wires no longer holds for them, and wires that cross do so over a short length.
const double kParallelCosine = std::cos(std::numbers::pi / 6);
// A station whose wire climbs steeper than 30 degrees sees no image in the plane: its image runs
// away from it.
const double kLevelSine = std::sin(std::numbers::pi / 6);

struct Piece {
  Point3 a, b, u;
  double length = 0;
  std::size_t wire = 0;              // distinct wire
  bool first = false, last = false;  // the wire's end pieces: the wire stops at a and at b
};

// A wire beside a station: its place in the station's cross-section and the cosine between its
// current and the station wire's.
struct Member {
  std::size_t wire = 0;
  Complex at;  // x across, y the height above the plane
  double cosine = 1;
};

struct Station {
  double length_m = 0;
  Point3 at;
  std::vector<Member> members;  // the station's wire first
  bool level = false;           // the plane's images count
};

// Pieces of all distinct wires in cubic cells of the reach: a station's neighbours lie in the 27
// cells around it.
class PieceGrid {
 public:
  PieceGrid(const std::vector<Piece>& pieces, double cell_m) : pieces_(pieces), cells_(cell_m) {
    for (std::size_t p = 0; p < pieces.size(); ++p) {
      const Point3 &a = pieces[p].a, &b = pieces[p].b;
      cells_.Add({std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)},
                 {std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)}, p);
    }
    cells_.Seal();
  }

  CellGrid::Cell CellOf(const Point3& p) const { return cells_.CellOf(p); }

  template <typename Visit>
  void NearCellOnce(const CellGrid::Cell& cell, Visit&& visit) const {
    cells_.NearCellOnce(cell, [&](std::size_t q) { visit(pieces_[q]); });
  }

 private:
  const std::vector<Piece>& pieces_;
  CellGrid cells_;
};

std::vector<std::vector<Piece>> WirePieces(const std::vector<Conductor>& conductors,
                                           const std::vector<std::size_t>& distinct) {
  std::vector<std::vector<Piece>> wires(distinct.size());
  for (std::size_t w = 0; w < distinct.size(); ++w) {
    const Conductor& c = conductors[distinct[w]];
    const std::vector<std::size_t> keep = MergedVertices(c.path_m, 0.01 * c.radius_m);
    for (std::size_t k = 1; k < keep.size(); ++k) {
      const Point3 &a = c.path_m[keep[k - 1]], &b = c.path_m[keep[k]];
      const double length = Norm(b - a);
      if (!(length > 0)) continue;
      wires[w].push_back({a, b, (1 / length) * (b - a), length, w, false, false});
    }
    if (!wires[w].empty()) wires[w].front().first = wires[w].back().last = true;
  }
  return wires;
}

// Where wire `q.wire` passes the station point `p`: the foot of the perpendicular on the piece,
// or a corner between two of its pieces; not past the wire's ends (it stops there).
bool Passes(const Piece& q, const Point3& p, Point3& foot) {
  const double t = Dot(p - q.a, q.u);
  if ((t < 0 && q.first) || (t > q.length && q.last)) return false;
  foot = q.a + std::clamp(t, 0.0, q.length) * q.u;
  return true;
}

// A piece of another wire that may pass the stations of one cell of a piece: within 30 degrees
// of parallel to it.
struct Candidate {
  const Piece* piece = nullptr;
  double cosine = 1;
  std::size_t found = 0;  // its place in the grid's order
};

// The candidates of the stations in `cell` for a piece of `wire` running along u, grouped by
// their wire (in the order of the wires), otherwise in the grid's order (a piece in several
// cells where it is first met: its later visits would find the same distance).
void FindCandidates(const PieceGrid& grid, const CellGrid::Cell& cell, std::size_t wire,
                    const Point3& u, std::vector<Candidate>& out) {
  out.clear();
  grid.NearCellOnce(cell, [&](const Piece& q) {
    if (q.wire == wire) return;
    const double cosine = Dot(u, q.u);
    if (std::abs(cosine) < kParallelCosine) return;
    out.push_back({&q, cosine, out.size()});
  });
  std::sort(out.begin(), out.end(), [](const Candidate& x, const Candidate& y) {
    return std::tie(x.piece->wire, x.found) < std::tie(y.piece->wire, y.found);
  });
}

// The stations of one wire and the wires beside each.
std::vector<Station> Stations(const std::vector<Piece>& own, const PieceGrid& grid, double radius_m,
                              double depth_m, double reach_m, double step_m,
                              std::vector<ClosePair>& close, double accurate_m) {
  std::vector<Station> stations;
  if (own.empty()) return stations;
  const std::size_t wire = own.front().wire;
  std::vector<std::pair<double, Member>> nearest;
  std::vector<Candidate> candidates;
  for (const Piece& piece : own) {
    const std::size_t steps =
        std::max<std::size_t>(1, std::size_t(std::ceil(piece.length / step_m)));
    const Point3 u = piece.u;
    const bool level = std::abs(u.z) < kLevelSine;
    // Cross-section axes: level wires keep x across and y up, so that the plane is y = 0.
    Point3 ex = level ? Cross(u, Point3{0, 0, 1})
                      : Cross(u, std::abs(u.x) < 0.9 ? Point3{1, 0, 0} : Point3{0, 1, 0});
    ex = (1 / Norm(ex)) * ex;
    const Point3 ey = Cross(ex, u);
    bool found = false;  // candidates of `cell` found
    CellGrid::Cell cell;
    for (std::size_t s = 0; s < steps; ++s) {
      Station st;
      st.length_m = piece.length / double(steps);
      st.at = piece.a + ((double(s) + 0.5) * st.length_m) * u;
      // The images count where they come within the reach.
      st.level =
          level && st.at.z + depth_m > radius_m * (1 + 1e-9) && 2 * (st.at.z + depth_m) < reach_m;
      const double own_y = level ? st.at.z + depth_m : 0;
      st.members.push_back({wire, Complex(0, own_y), 1});
      const CellGrid::Cell here = grid.CellOf(st.at);
      if (!found || here != cell) {
        FindCandidates(grid, here, wire, u, candidates);
        cell = here;
        found = true;
      }
      st.members.reserve(candidates.size() + 1);  // at most one member a candidate
      // The nearest passage of each other wire: the first of its closest.
      nearest.clear();
      for (std::size_t k = 0; k < candidates.size();) {
        const std::size_t other = candidates[k].piece->wire;
        bool passes = false;
        std::pair<double, Member> best;
        for (; k < candidates.size() && candidates[k].piece->wire == other; ++k) {
          const Piece& q = *candidates[k].piece;
          Point3 foot;
          if (!Passes(q, st.at, foot)) continue;
          const Point3 v = foot - st.at;
          const Point3 across = v - Dot(v, u) * u;
          const double distance = Norm(across);
          if (distance >= reach_m || (passes && !(distance < best.first))) continue;
          const Complex at(Dot(across, ex), level ? foot.z + depth_m : Dot(across, ey));
          best = {distance, {other, at, candidates[k].cosine}};
          passes = true;
        }
        if (passes) nearest.push_back(best);
      }
      // In the order of the wires (as found), then sorted by distance.
      std::vector<std::pair<double, Member>>& beside = nearest;
      std::sort(beside.begin(), beside.end(),
                [](const auto& x, const auto& y) { return x.first < y.first; });
      for (const auto& [distance, m] : beside) {
        // A wire that touches this one, or one already kept, is joined to it here.
        bool clear = !st.level || m.at.imag() > radius_m * (1 + 1e-9);
        const double touching = 2 * radius_m * (1 + 1e-9);
        for (const Member& kept : st.members) {
          clear = clear && std::norm(m.at - kept.at) > touching * touching;
        }
        // A pair that touches somewhere (a shared ball, crossing wires) is joined: its stations
        // near the joint are within 1.25 diameters by nature and are not noted.
        if (distance <= 2 * radius_m) close.push_back({wire, m.wire, 0, st.at});  // joined
        if (!clear) continue;
        if (distance < accurate_m)
          close.push_back({wire, m.wire, distance / (2 * radius_m), st.at});
        st.members.push_back(m);
      }
      if (st.level && 2 * own_y < accurate_m) {
        close.push_back({wire, wire, own_y / (2 * radius_m), st.at});  // axis height, d
      }
      stations.push_back(std::move(st));
    }
  }
  return stations;
}

// Harmonics kept: on the station's wire and the wires within kNearDiameters of it, enough for
// kOrderTolerance in the slowest series; farther wires carry kFarOrders. Against all 24
// harmonics on every wire, rows of nine wires at pitches 1.25 to 3 diameters, 100 MHz to 10 GHz,
// over the plane and not, differ by at most 1.6% of the wire's own resistance (1.25 diameters,
// 10 GHz) and 0.2% from 1.5 diameters up.
constexpr double kOrderTolerance = 3e-3;
constexpr double kNearDiameters = 3;
constexpr int kFarOrders = 2;

// What a thread keeps from one station to the next: the cross-section's lists and the solver's
// storage, so that a station allocates nothing.
struct StationScratch {
  CrossSection section;
  HarmonicScratch harmonics;
};

// Row 0 of the harmonic correction of a station's cross-section. A far wire within `far_within_m`
// of the station's own keeps kFarOrders without its nearest neighbour being sought: its nearest
// lies at most that far, where HarmonicOrders, which falls with the distance, gives at least as
// many (0: the reach is so wide that it might not).
Eigen::VectorXcd StationRow(const Station& st, bool plane, double radius_m, double far_within_m,
                            const std::vector<Complex>& reflection, StationScratch& scratch,
                            Eigen::VectorXcd& start) {
  CrossSection& section = scratch.section;
  section.radius_m = radius_m;
  section.plane = plane;
  section.centres_m.clear();
  section.orders.clear();
  for (const Member& m : st.members) section.centres_m.push_back(m.at);
  const double near_m = kNearDiameters * 2 * radius_m;
  for (std::size_t k = 0; k < st.members.size(); ++k) {
    const Complex at = st.members[k].at;
    const double own2 = std::norm(at - st.members[0].at);  // squared
    if (own2 > near_m * near_m && own2 <= far_within_m * far_within_m) {
      section.orders.push_back(kFarOrders);
      continue;
    }
    double closest2 = std::numeric_limits<double>::infinity();  // squared
    for (std::size_t m = 0; m < st.members.size(); ++m) {
      if (m != k) closest2 = std::min(closest2, std::norm(at - st.members[m].at));
      if (plane) closest2 = std::min(closest2, std::norm(at - std::conj(st.members[m].at)));
    }
    int orders = HarmonicOrders(radius_m, std::sqrt(closest2), kOrderTolerance);
    if (own2 > near_m * near_m) orders = std::min(orders, kFarOrders);
    section.orders.push_back(orders);
  }
  return HarmonicCorrectionRow(section, reflection, 0, scratch.harmonics, &start);
}

// A per-length correction M (field units) as an impedance: j w (mu0 / 2 pi) M, ohm/m.
Complex Impedance(double omega, Complex m) {
  return Complex(0, omega) * (kMu0HPerM / (2 * std::numbers::pi)) * m;
}

void Report(const Progress& progress, double fraction) {
  if (progress.cancel && progress.cancel->load()) throw StageError("cancelled");
  if (progress.report) progress.report("proximity", fraction);
}

// The progress of the wires' parallel loop, counted as the wires are done: the thread that
// started the loop (thread 0 of the team) reports the fraction each time `every` more are done,
// so that the report, and with it a request to cancel, is seen on that thread alone and no
// barrier is needed between reports.
class LoopProgress {
 public:
  LoopProgress(std::size_t total, std::size_t every) : total_(total), every_(every) {}

  // Counts one wire done; on thread 0, calls `report(fraction)` when a report is due.
  template <typename ReportFraction>
  void Done(ReportFraction&& report) {
    const std::size_t now = done_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (omp_get_thread_num() != 0 || now < reported_ + every_) return;
    reported_ = now;  // read and written by thread 0 alone
    report(static_cast<double>(now) / static_cast<double>(total_));
  }

 private:
  std::atomic<std::size_t> done_{0};
  std::size_t reported_ = 0;
  const std::size_t total_, every_;
};

// Lower triangle of the symmetric corrections from each wire's rows (the mean of the two rows
// of a pair), spread over coincident wires.
struct Rows {
  std::vector<std::vector<std::pair<std::size_t, Complex>>> partial, loop;  // [wire] -> (j, dZ)
};

ProximityCorrection Assemble(const std::vector<std::vector<std::pair<std::size_t, Complex>>>& rows,
                             const DistinctWires& kept, std::size_t wire_count, double omega) {
  // Each pair's parts (distinct i >= j) in the order of the rows, summed pair by pair in that
  // order after a stable sort: the sums of a map keyed by pair, without its nodes.
  struct Part {
    std::size_t i = 0, j = 0;
    Complex z;
  };
  std::vector<Part> parts;
  std::size_t count = 0;
  for (const auto& row : rows) count += row.size();
  parts.reserve(count);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (const auto& [j, z] : rows[i]) {
      parts.push_back({std::max(i, j), std::min(i, j), i == j ? z : 0.5 * z});
    }
  }
  std::stable_sort(parts.begin(), parts.end(), [](const Part& x, const Part& y) {
    return std::tie(x.i, x.j) < std::tie(y.i, y.j);
  });
  std::vector<std::pair<std::pair<std::size_t, std::size_t>, Complex>> sum;
  for (std::size_t k = 0; k < parts.size();) {
    Complex z = 0;
    std::size_t end = k;
    for (; end < parts.size() && parts[end].i == parts[k].i && parts[end].j == parts[k].j; ++end) {
      z += parts[end].z;
    }
    sum.push_back({{parts[k].i, parts[k].j}, z});
    k = end;
  }
  // Wires of each distinct one.
  std::vector<std::vector<std::size_t>> members(kept.first.size());
  for (std::size_t w = 0; w < wire_count; ++w) members[kept.slot[w]].push_back(w);
  std::vector<SymmetricMatrix::Entry> r, l;
  r.reserve(sum.size());
  l.reserve(sum.size());
  for (const auto& [key, z] : sum) {
    if (z == Complex(0)) continue;
    for (std::size_t a : members[key.first]) {
      for (std::size_t b : members[key.second]) {
        const std::size_t i = std::max(a, b), j = std::min(a, b);
        if (key.first == key.second && a < b) continue;
        r.push_back({i, j, z.real()});
        l.push_back({i, j, z.imag() / omega});
      }
    }
  }
  const auto order = [](const SymmetricMatrix::Entry& x, const SymmetricMatrix::Entry& y) {
    return std::tie(x.i, x.j) < std::tie(y.i, y.j);
  };
  // Already in order unless coincident wires were spread.
  if (!std::is_sorted(r.begin(), r.end(), order)) std::sort(r.begin(), r.end(), order);
  if (!std::is_sorted(l.begin(), l.end(), order)) std::sort(l.begin(), l.end(), order);
  ProximityCorrection c;
  c.delta_resistance_ohm = {wire_count, false, {}, std::move(r)};
  c.delta_inductance_h = {wire_count, false, {}, std::move(l)};
  return c;
}

// A sweep with more frequencies than this many per decade is solved at nodes this far apart
// (in ln f) and interpolated: every entry is a smooth function of ln f, rising from nothing
// (as f^2) to its thin-skin limit over about a decade.
constexpr double kNodesPerDecade = 6;

std::vector<double> SolvedFrequencies(const std::vector<double>& frequencies_hz,
                                      const std::vector<std::size_t>& active) {
  std::vector<double> asked;
  for (std::size_t f : active) asked.push_back(frequencies_hz[f]);
  const auto [lo, hi] = std::minmax_element(asked.begin(), asked.end());
  const double span = std::log(*hi / *lo);
  const auto nodes =
      std::max<std::size_t>(4, std::size_t(std::ceil(span / std::log(10.0) * kNodesPerDecade)) + 1);
  if (asked.size() <= nodes) return asked;
  std::vector<double> out;
  for (std::size_t k = 0; k < nodes; ++k) {
    out.push_back(*lo * std::exp(span * double(k) / double(nodes - 1)));
  }
  out.back() = *hi;
  return out;
}

// The rows at `hz` from the rows at the nodes `solved` (log-spaced): the 4-point Lagrange
// interpolation in ln f of dR / R_wire(f) (R_wire the wire's own per-length resistance) and of dL.
Rows Interpolated(const std::vector<Rows>& rows, const std::vector<double>& solved, double hz,
                  double radius_m, double rho) {
  const std::size_t nodes = solved.size();
  const double step = std::log(solved.back() / solved.front()) / double(nodes - 1);
  const double x = std::log(hz / solved.front()) / step;
  const std::size_t first = std::size_t(std::clamp(std::floor(x) - 1, 0.0, double(nodes - 4)));
  double weight[4];
  for (int a = 0; a < 4; ++a) {
    weight[a] = 1;
    for (int b = 0; b < 4; ++b) {
      if (b != a) weight[a] *= (x - double(first) - b) / double(a - b);
    }
  }
  const auto own_r = [&](double f) { return InternalImpedancePerMetre(f, radius_m, rho).real(); };
  const double omega = 2 * std::numbers::pi * hz, r_here = own_r(hz);
  double r_node[4];
  for (std::size_t a = 0; a < 4; ++a) r_node[a] = own_r(solved[first + a]);
  Rows out;
  for (const auto member : {&Rows::partial, &Rows::loop}) {
    const auto& base = rows[first].*member;
    auto& to = out.*member;
    to = base;
    for (std::size_t i = 0; i < base.size(); ++i) {
      for (std::size_t e = 0; e < base[i].size(); ++e) {
        double r_share = 0, l = 0;
        for (std::size_t a = 0; a < 4; ++a) {
          const double f = solved[first + a];
          const Complex z = (rows[first + a].*member)[i][e].second;
          r_share += weight[a] * z.real() / r_node[a];
          l += weight[a] * z.imag() / (2 * std::numbers::pi * f);
        }
        to[i][e].second = Complex(r_share * r_here, omega * l);
      }
    }
  }
  return out;
}

}  // namespace

ProximityResult ComputeProximity(const std::vector<Conductor>& conductors, double ground_depth_m,
                                 const std::vector<double>& frequencies_hz,
                                 const std::vector<std::vector<std::size_t>>& coincident,
                                 const Progress& progress, const ProximitySettings& settings) {
  ProximityResult result;
  const std::size_t n = conductors.size();
  const ProximityCorrection none{{n, false, {}, {}}, {n, false, {}, {}}};
  result.partial.assign(frequencies_hz.size(), none);
  result.loop.assign(frequencies_hz.size(), none);
  if (n == 0) return result;
  const double radius_m = conductors.front().radius_m;
  const double rho = conductors.front().resistivity_ohm_m;
  for (const Conductor& c : conductors) {
    if (c.radius_m != radius_m || c.resistivity_ohm_m != rho) {
      throw StageError("the proximity correction needs wires of one diameter and metal");
    }
  }
  // Frequencies at which the eddy currents are not negligible.
  std::vector<std::size_t> active;
  for (std::size_t f = 0; f < frequencies_hz.size(); ++f) {
    if (std::abs(WireReflection(frequencies_hz[f], radius_m, rho, 1)[0]) > 1e-9)
      active.push_back(f);
  }
  if (active.empty()) return result;
  const DistinctWires kept = Distinct(n, coincident);
  const std::vector<std::vector<Piece>> wires = WirePieces(conductors, kept.first);
  std::vector<Piece> all;
  for (const auto& w : wires) all.insert(all.end(), w.begin(), w.end());
  const double reach_m = settings.reach_diameters * 2 * radius_m;
  const PieceGrid grid(all, reach_m);
  const std::size_t count = wires.size();
  // The frequencies solved at: those asked for, or, for a sweep of more, nodes at which each
  // entry is interpolated (below).
  const std::vector<double> solved = SolvedFrequencies(frequencies_hz, active);
  // rows[f][i]: wire i's row of the correction at frequency `solved[f]`.
  std::vector<Rows> rows(solved.size());
  for (Rows& r : rows) r.partial.resize(count), r.loop.resize(count);
  std::vector<std::vector<ClosePair>> close(count);
  const double far_within_m =
      HarmonicOrders(radius_m, reach_m, kOrderTolerance) >= kFarOrders ? reach_m : 0;
  // The wires' reflections at each frequency solved at, the same for every wire.
  std::vector<std::vector<Complex>> reflections;
  for (const double hz : solved) reflections.push_back(WireReflection(hz, radius_m, rho, 40));
  // One parallel loop over all wires, with no barrier until the last (a barrier every few wires
  // kept a thread waiting for the other's last wire, and for all of it when the system had set
  // the other aside). The calling thread reports the progress every 64 wires done; every wire
  // looks for a request to cancel and for another wire's fault before it starts.
  LoopProgress done(count, 64);
  Report(progress, 0);
  ParallelFault wire_fault;
#pragma omp parallel
  {
    StationScratch scratch;  // each thread's, reused by its stations
#pragma omp for schedule(dynamic, 1)
    for (std::size_t i = 0; i < count; ++i)
      wire_fault.Run([&] {
        if (wire_fault.Failed()) return;
        if (progress.cancel && progress.cancel->load()) throw StageError("cancelled");
        const std::vector<Station> stations =
            Stations(wires[i], grid, radius_m, ground_depth_m, reach_m, settings.station_m,
                     close[i], settings.accurate_diameters * 2 * radius_m);
        for (std::size_t f = 0; f < solved.size(); ++f) {
          const double omega = 2 * std::numbers::pi * solved[f];
          const std::vector<Complex>& reflected = reflections[f];
          // The row's sums by wire, in the order the wires are first met; `slot`: where each
          // member of the station adds.
          struct Sum {
            std::size_t wire = 0;
            Complex partial, loop;
            bool in_partial = false;
          };
          std::vector<Sum> sums;
          std::vector<std::size_t> slot;
          // The solutions at the previous station: where the same wires run beside, the next
          // starts from them and converges in fewer reflections.
          Eigen::VectorXcd start_partial, start_loop;
          const Station* previous = nullptr;
          for (const Station& st : stations) {
            const bool same_wires =
                previous != nullptr &&
                std::equal(st.members.begin(), st.members.end(), previous->members.begin(),
                           previous->members.end(),
                           [](const Member& x, const Member& y) { return x.wire == y.wire; });
            if (!same_wires) {
              start_partial.resize(0), start_loop.resize(0);
              slot.clear();
              for (const Member& m : st.members) {
                const auto it = std::find_if(sums.begin(), sums.end(),
                                             [&](const Sum& sum) { return sum.wire == m.wire; });
                slot.push_back(static_cast<std::size_t>(it - sums.begin()));
                if (it == sums.end()) sums.push_back({m.wire, {}, {}, false});
              }
            }
            previous = &st;
            Eigen::VectorXcd p, l;
            if (st.members.size() > 1)
              p = StationRow(st, false, radius_m, far_within_m, reflected, scratch, start_partial);
            if (st.level)
              l = StationRow(st, true, radius_m, far_within_m, reflected, scratch, start_loop);
            else
              start_loop.resize(0);
            for (std::size_t k = 0; k < st.members.size(); ++k) {
              const double weight = st.length_m * st.members[k].cosine;
              Sum& sum = sums[slot[k]];
              if (p.size() > 0) {
                sum.partial += weight * Impedance(omega, p(k));
                sum.in_partial = true;
              }
              const Complex lk = st.level ? l(k) : p.size() > 0 ? p(k) : Complex(0);
              sum.loop += weight * Impedance(omega, lk);
            }
          }
          std::sort(sums.begin(), sums.end(),
                    [](const Sum& x, const Sum& y) { return x.wire < y.wire; });
          for (const Sum& sum : sums) {
            if (sum.in_partial) rows[f].partial[i].push_back({sum.wire, sum.partial});
            rows[f].loop[i].push_back({sum.wire, sum.loop});
          }
        }
        done.Done([&](double fraction) { Report(progress, fraction); });
      });
  }
  wire_fault.Rethrow();
  Report(progress, 1);
  for (std::size_t f = 0; f < active.size(); ++f) {
    const double hz = frequencies_hz[active[f]], omega = 2 * std::numbers::pi * hz;
    const bool direct = solved.size() == active.size();
    const Rows at = direct ? Rows{} : Interpolated(rows, solved, hz, radius_m, rho);
    // The partial and the loop correction side by side: each is one sort of its parts.
    ParallelFault fault;
#pragma omp parallel for schedule(static, 1)
    for (int loop = 0; loop < 2; ++loop) {
      fault.Run([&] {
        const auto member = loop == 1 ? &Rows::loop : &Rows::partial;
        const auto into = loop == 1 ? &ProximityResult::loop : &ProximityResult::partial;
        (result.*into)[active[f]] = Assemble(direct ? rows[f].*member : at.*member, kept, n, omega);
      });
    }
    fault.Rethrow();
  }
  std::vector<ClosePair> all_close;
  for (const auto& c : close) all_close.insert(all_close.end(), c.begin(), c.end());
  std::vector<std::string> names;
  for (std::size_t w : kept.first) names.push_back(conductors[w].name);
  result.notes = ClosePairNote(std::move(all_close), names,
                               {" wire pair runs", " wire pairs run",
                                " closer than 1.25 diameters (centre to centre) or 0.625 "
                                "diameters to the plane: their proximity figures are outside the "
                                "stated accuracy",
                                "(the plane)", "d", "d to the plane"});
  return result;
}

}  // namespace ostrel::physical
