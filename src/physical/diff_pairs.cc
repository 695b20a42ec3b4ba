#include "physical/diff_pairs.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "base/stage_error.h"
#include "physical/coupling.h"
#include "physical/inductance.h"

namespace ostrel::physical {
namespace {

// |x - y| over their mean.
double Asymmetry(double x, double y) { return std::abs(x - y) / (0.5 * std::abs(x + y)); }

std::string PairName(const Model& model, const WirePair& pair) {
  return model.conductors[pair.positive].name + "/" + model.conductors[pair.negative].name;
}

// Each pair's neighbour: the wire outside it with the largest |k| in `loop` to either of its
// wires (the first in index order among equals), from one pass over the matrix.
void FindNeighbours(const SymmetricMatrix& loop, std::vector<PairFigures>& pairs) {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::size_t> pair_of(loop.n, kNone);
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    for (const std::size_t w : {pairs[k].wires.positive, pairs[k].wires.negative}) {
      if (pair_of[w] != kNone) throw StageError("a wire of two differential pairs");
      pair_of[w] = k;
    }
  }
  const std::vector<double> diagonal = Diagonal(loop);
  const auto consider = [&](std::size_t pair, std::size_t other, double k) {
    if (pair_of[other] == pair || k == 0) return;
    PairFigures& f = pairs[pair];
    const double best = std::abs(f.neighbour_k);
    if (!f.neighbour || std::abs(k) > best || (std::abs(k) == best && other < *f.neighbour)) {
      f.neighbour = other, f.neighbour_k = k;
    }
  };
  ForEachOffDiagonal(loop, [&](std::size_t i, std::size_t j, double value) {
    if (pair_of[i] == kNone && pair_of[j] == kNone) return;
    const double k = CouplingCoefficient(value, diagonal[i], diagonal[j]);
    if (pair_of[i] != kNone) consider(pair_of[i], j, k);
    if (pair_of[j] != kNone) consider(pair_of[j], i, k);
  });
}

}  // namespace

std::vector<PairFigures> DiffPairFigures(const Model& model, const std::vector<WirePair>& pairs,
                                         std::vector<std::string>& notes) {
  const std::size_t n = model.conductors.size();
  std::vector<PairFigures> out;
  if (pairs.empty()) return out;
  for (const WirePair& pair : pairs) {
    if (pair.positive >= n || pair.negative >= n || pair.positive == pair.negative) {
      throw StageError("a differential pair needs two different wires of the model");
    }
    PairFigures f;
    f.wires = pair;
    const Conductor &a = model.conductors[pair.positive], &b = model.conductors[pair.negative];
    const WiresOverPlane l = InductanceOverPlane(a, b, model.options.ground_depth_m);
    // The internal inductance at the first frequency, as the model's loop figures take it.
    const auto internal = [&](std::size_t w) {
      return model.results.empty() ? 0.0 : model.results.front().internal_inductance_h[w];
    };
    const double l11 = l.self_a_h + internal(pair.positive);
    const double l22 = l.self_b_h + internal(pair.negative), l12 = l.mutual_h;
    const double l_diff = l11 + l22 - 2 * l12;  // the differential port, +I / -I
    f.odd_inductance_h = l_diff / 2;
    // Two wires along one path have no differential loop (l_diff 0): their even inductance is
    // then the symmetric form's, which stays finite, and the impedances are left out below.
    f.even_inductance_h = l_diff > 0 ? 2 * (l11 * l22 - l12 * l12) / l_diff : (l11 + l22) / 2 + l12;
    double c_asymmetry = 0;
    if (model.capacitance_f) {
      const SymmetricMatrix& c = *model.capacitance_f;
      const double c11 = c.At(pair.positive, pair.positive);
      const double c22 = c.At(pair.negative, pair.negative),
                   c12 = c.At(pair.positive, pair.negative);
      const double c_common = c11 + c22 + 2 * c12;  // both wires at one potential
      f.odd_capacitance_f = c_common > 0 ? 2 * (c11 * c22 - c12 * c12) / c_common : 0.0;
      f.even_capacitance_f = c_common / 2;
      c_asymmetry = Asymmetry(c11, c22);
      const auto impedance = [](double l_h, double c_f) -> std::optional<double> {
        if (!(l_h > 0 && c_f > 0) || !std::isfinite(l_h / c_f)) return std::nullopt;
        return std::sqrt(l_h / c_f);
      };
      f.z_odd_ohm = impedance(f.odd_inductance_h, *f.odd_capacitance_f);
      f.z_even_ohm = impedance(f.even_inductance_h, *f.even_capacitance_f);
      if (f.z_odd_ohm) f.z_diff_ohm = 2 * *f.z_odd_ohm;
      if (!f.z_odd_ohm || !f.z_even_ohm) {
        notes.push_back("pair " + PairName(model, pair) +
                        ": an odd- or even-mode inductance or capacitance is not positive (the "
                        "wires run along one path?), its impedance left out");
      }
    }
    const double l_asymmetry = Asymmetry(l11, l22);
    if (l_asymmetry > kPairAsymmetry || c_asymmetry > kPairAsymmetry) {
      char text[200];
      std::snprintf(text, sizeof text,
                    ": asymmetric (self inductances %.1f%% apart, self capacitances %.1f%%); its "
                    "odd and even figures are those of the differential and common ports",
                    100 * l_asymmetry, 100 * c_asymmetry);
      notes.push_back("pair " + PairName(model, pair) + text);
    }
    out.push_back(f);
  }
  if (model.loop_inductance_h.n == n) FindNeighbours(model.loop_inductance_h, out);
  if (!model.capacitance_f) {
    notes.push_back("the pairs' capacitances and impedances left out with the capacitance matrix");
  }
  return out;
}

}  // namespace ostrel::physical
