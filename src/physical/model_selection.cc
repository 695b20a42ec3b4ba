#include "physical/model_selection.h"

#include <string>
#include <utility>
#include <vector>

#include "physical/memory_budget.h"

namespace ostrel::physical {
namespace {

SymmetricMatrix Restricted(const SymmetricMatrix& matrix, const std::vector<std::size_t>& kept) {
  SymmetricMatrix out;
  out.n = kept.size();
  out.dense = matrix.dense;
  if (matrix.dense) {
    CheckDenseFits(DenseBytes(out.n, out.n, sizeof(double)),
                   "the dense matrix of the " + std::to_string(out.n) + " wires chosen");
    out.values.resize(out.n * out.n);
    for (std::size_t i = 0; i < out.n; ++i) {
      for (std::size_t j = 0; j < out.n; ++j) {
        out.values[i * out.n + j] = matrix.values[kept[i] * matrix.n + kept[j]];
      }
    }
    return out;
  }
  std::vector<std::size_t> new_index(matrix.n, matrix.n);
  for (std::size_t k = 0; k < kept.size(); ++k) new_index[kept[k]] = k;
  for (const auto& e : matrix.entries) {
    if (new_index[e.i] == matrix.n || new_index[e.j] == matrix.n) continue;
    // Kept wires stay in order, so i >= j holds for the new indices too.
    out.entries.push_back({new_index[e.i], new_index[e.j], e.value});
  }
  return out;
}

// The wires of `wires` that are kept, as indices among the kept, with the positions they had in
// `wires`.
std::pair<std::vector<std::size_t>, std::vector<std::size_t>> KeptIndices(
    const std::vector<std::size_t>& wires, const std::vector<std::size_t>& new_index,
    std::size_t dropped) {
  std::pair<std::vector<std::size_t>, std::vector<std::size_t>> out;
  for (std::size_t a = 0; a < wires.size(); ++a) {
    if (new_index[wires[a]] == dropped) continue;
    out.first.push_back(new_index[wires[a]]);
    out.second.push_back(a);
  }
  return out;
}

}  // namespace

Model SelectWires(const Model& model, const std::vector<std::size_t>& kept) {
  Model out;
  out.options = model.options;
  out.options.pairs.clear();  // the pairs are figures of the whole model, by its wire indices
  out.notes = model.notes;
  for (const std::size_t w : kept) out.conductors.push_back(model.conductors[w]);
  if (model.partial_inductance_h) {
    out.partial_inductance_h = Restricted(*model.partial_inductance_h, kept);
  }
  out.loop_inductance_h = Restricted(model.loop_inductance_h, kept);
  if (model.capacitance_f) out.capacitance_f = Restricted(*model.capacitance_f, kept);
  std::vector<std::size_t> new_index(model.conductors.size(), model.conductors.size());
  for (std::size_t k = 0; k < kept.size(); ++k) new_index[kept[k]] = k;
  if (model.options.return_wires) {
    out.options.return_wires->ground =
        KeptIndices(model.options.return_wires->ground, new_index, model.conductors.size()).first;
    out.options.return_wires->signal_wires =
        KeptIndices(model.options.return_wires->signal_wires, new_index, model.conductors.size())
            .first;
  }
  for (const FrequencyResult& r : model.results) {
    FrequencyResult s;
    s.frequency_hz = r.frequency_hz;
    for (const std::size_t w : kept) {
      s.resistance_ohm.push_back(r.resistance_ohm[w]);
      s.internal_inductance_h.push_back(r.internal_inductance_h[w]);
    }
    // The corrections of the kept wires as their neighbours, kept or not, make them.
    for (auto [from, to] : {std::pair(&r.proximity_partial, &s.proximity_partial),
                            std::pair(&r.proximity_loop, &s.proximity_loop)}) {
      if (from->delta_resistance_ohm.n == 0) continue;  // a model without the correction
      to->delta_resistance_ohm = Restricted(from->delta_resistance_ohm, kept);
      to->delta_inductance_h = Restricted(from->delta_inductance_h, kept);
    }
    if (!r.return_loop.wires.empty()) {
      const auto [wires, rows] =
          KeptIndices(r.return_loop.wires, new_index, model.conductors.size());
      s.return_loop.wires = wires;
      s.return_loop.resistance_ohm = Restricted(r.return_loop.resistance_ohm, rows);
      s.return_loop.inductance_h = Restricted(r.return_loop.inductance_h, rows);
    }
    out.results.push_back(std::move(s));
  }
  return out;
}

}  // namespace ostrel::physical
