#include "physical/close_pairs.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <tuple>
#include <utility>

namespace ostrel::physical {

std::vector<std::string> ClosePairNote(std::vector<ClosePair> close,
                                       const std::vector<std::string>& names,
                                       const ClosePairWording& wording) {
  // Joined pairs (measure 0 or less) sort first and keep their pair out of the list.
  std::sort(close.begin(), close.end(), [](const ClosePair& x, const ClosePair& y) {
    return std::tie(x.measure, x.wire_a, x.wire_b) < std::tie(y.measure, y.wire_a, y.wire_b);
  });
  std::set<std::pair<std::size_t, std::size_t>> seen;
  std::vector<ClosePair> pairs;
  for (const ClosePair& c : close) {
    if (seen.insert(std::minmax(c.wire_a, c.wire_b)).second && c.measure > 0) pairs.push_back(c);
  }
  if (pairs.empty()) return {};
  std::string text = std::to_string(pairs.size()) +
                     (pairs.size() == 1 ? wording.one : wording.many) + wording.rest;
  constexpr std::size_t kListed = 5;
  for (std::size_t k = 0; k < pairs.size() && k < kListed; ++k) {
    const ClosePair& p = pairs[k];
    const bool plane = p.wire_b == p.wire_a;
    text += k == 0 ? ": " : ", ";
    text += names[p.wire_a] + "/" + (plane ? wording.plane : names[p.wire_b]);
    char figure[128];
    std::snprintf(figure, sizeof figure, " %.2f %s at (%.1f, %.1f, %.1f)", p.measure,
                  (plane ? wording.plane_unit : wording.pair_unit).c_str(), p.at.x * 1e6,
                  p.at.y * 1e6, p.at.z * 1e6);
    text += figure;
  }
  if (pairs.size() > kListed) text += ", ...";
  return {text};
}

}  // namespace ostrel::physical
