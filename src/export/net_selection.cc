#include "export/net_selection.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/stage_error.h"
#include "physical/memory_budget.h"

namespace ostrel {
namespace {

// Glob match with '*' and '?', iterative with one back-tracking point (linear in practice).
bool GlobMatches(std::string_view name, std::string_view pattern) {
  std::size_t n = 0, p = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++n, ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

physical::SymmetricMatrix Restricted(const physical::SymmetricMatrix& matrix,
                                     const std::vector<std::size_t>& kept) {
  physical::SymmetricMatrix out;
  out.n = kept.size();
  out.dense = matrix.dense;
  if (matrix.dense) {
    physical::CheckDenseFits(physical::DenseBytes(out.n, out.n, sizeof(double)),
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

}  // namespace

std::vector<std::string_view> NetPatterns(std::string_view patterns) {
  std::vector<std::string_view> out;
  while (true) {
    const std::size_t comma = patterns.find(',');
    out.push_back(Trimmed(patterns.substr(0, comma)));
    if (comma == std::string_view::npos) return out;
    patterns.remove_prefix(comma + 1);
  }
}

bool MatchesNetPattern(std::string_view name, std::string_view patterns) {
  const std::vector<std::string_view> list = NetPatterns(patterns);
  return std::any_of(list.begin(), list.end(),
                     [name](std::string_view pattern) { return GlobMatches(name, pattern); });
}

void CheckNetPatterns(const std::vector<std::string>& names, std::string_view patterns) {
  if (Trimmed(patterns).empty()) return;
  for (const std::string_view pattern : NetPatterns(patterns)) {
    const bool matched = std::any_of(names.begin(), names.end(), [pattern](const auto& name) {
      return GlobMatches(name, pattern);
    });
    if (!matched) {
      throw StageError("--nets: the pattern '" + std::string(pattern) + "' matches none of the " +
                       std::to_string(names.size()) + " wires");
    }
  }
}

physical::Model SelectNets(const physical::Model& model, std::string_view patterns) {
  if (Trimmed(patterns).empty()) return model;
  std::vector<std::string> names;
  for (const auto& wire : model.conductors) names.push_back(wire.name);
  CheckNetPatterns(names, patterns);
  std::vector<std::size_t> kept;
  for (std::size_t w = 0; w < model.conductors.size(); ++w) {
    if (MatchesNetPattern(model.conductors[w].name, patterns)) kept.push_back(w);
  }
  physical::Model out;
  out.options = model.options;
  out.notes = model.notes;
  for (const std::size_t w : kept) out.conductors.push_back(model.conductors[w]);
  if (model.partial_inductance_h) {
    out.partial_inductance_h = Restricted(*model.partial_inductance_h, kept);
  }
  out.loop_inductance_h = Restricted(model.loop_inductance_h, kept);
  if (model.capacitance_f) out.capacitance_f = Restricted(*model.capacitance_f, kept);
  for (const physical::FrequencyResult& r : model.results) {
    physical::FrequencyResult s;
    s.frequency_hz = r.frequency_hz;
    for (const std::size_t w : kept) {
      s.resistance_ohm.push_back(r.resistance_ohm[w]);
      s.internal_inductance_h.push_back(r.internal_inductance_h[w]);
    }
    out.results.push_back(std::move(s));
  }
  return out;
}

}  // namespace ostrel
