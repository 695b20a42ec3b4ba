#include "electrical/wire_spacing.h"

#include <cmath>
#include <string>
#include <vector>

#include "base/numeric.h"
#include "base/stage_error.h"

namespace ostrel {

float SidePitch(const PadList& pads, const SideList& side, bool along_y, const char* side_name) {
  const std::size_t n = side.size();
  if (n < 2) {
    throw StageError("the " + std::string(side_name) + " side of the base die has " +
                         (n == 0 ? std::string("no pads") : std::string("only one pad")) +
                         "; the default wire distance needs at least two CBP pads on every side",
                     "", n == 1 ? pads[side[0]].PadLine : 0);
  }
  std::vector<float> gaps;
  gaps.reserve(n - 1);
  float sum = 0;
  for (std::size_t k = 0; k + 1 < n; ++k) {
    // The pads lie far apart in a large list, and the loop does little with each: the
    // positions some pads on are fetched while these are used.
    if (k + 16 < n) __builtin_prefetch(&pads[side[k + 16]]);
    const BondPad& pad_a = pads[side[k]];
    const BondPad& pad_b = pads[side[k + 1]];
    const double a = along_y ? pad_a.Y : pad_a.X;
    const double b = along_y ? pad_b.Y : pad_b.X;
    try {
      gaps.push_back(ToSingle(std::fabs(a - b)));
      sum = ToSingle(Wide(sum) + Wide(gaps.back()));
    } catch (const StageError& e) {
      throw StageError("the " + std::string(side_name) + " side of the base die: " + e.reason() +
                           " (pads too far apart for a pitch that fits a single; check the "
                           "pad coordinates)",
                       "", pad_b.PadLine);
    }
  }
  float mean = ToSingle(Wide(sum) / static_cast<double>(n - 1));
  // Drop the gaps larger than twice the mean (a gap in the pad row) until none is dropped.
  // Each pass keeps the gaps in their order, and the mean of the kept ones is their running
  // single-precision sum over the count. The running sums before the first gap a pass drops
  // are those of the pass before, so they are kept beside the gaps and only the rest is
  // summed again: a row whose passes each drop a gap near its end costs one pass, not one
  // per dropped gap. (The number of passes itself is bounded by the single precision of the
  // pad coordinates: gaps that each drop alone must grow by less than their own rounding once
  // a side has some thousands of pads.)
  std::vector<float> running;  // running[i]: sum of gaps[0..i], filled from the second pass
  while (true) {
    const float limit = ToSingle(2.0 * Wide(mean));
    std::size_t first = 0;  // first gap above the limit
    while (first < gaps.size() && gaps[first] <= limit) ++first;
    if (first == gaps.size()) return mean;
    if (running.empty()) {
      running.resize(gaps.size());
      float s = 0;
      for (std::size_t i = 0; i < first; ++i) {
        s = ToSingle(Wide(s) + Wide(gaps[i]));
        running[i] = s;
      }
    }
    float kept_sum = first > 0 ? running[first - 1] : 0.0f;
    std::size_t kept = first;
    for (std::size_t i = first + 1; i < gaps.size(); ++i) {
      if (gaps[i] <= limit) {
        kept_sum = ToSingle(Wide(kept_sum) + Wide(gaps[i]));
        gaps[kept] = gaps[i];
        running[kept] = kept_sum;
        ++kept;
      }
    }
    gaps.resize(kept);
    running.resize(kept);
    mean = ToSingle(CheckedDivide(kept_sum, static_cast<double>(kept)));
  }
}

float DefaultWireDistance(const Package& package) {
  const double top = SidePitch(package.ChipPads, package.TopPads, false, "top (T)");
  const double bottom = SidePitch(package.ChipPads, package.BottomPads, false, "bottom (B)");
  const double left = SidePitch(package.ChipPads, package.LeftPads, true, "left (L)");
  const double right = SidePitch(package.ChipPads, package.RightPads, true, "right (R)");
  const float mean = ToSingle((right + left + top + bottom) / 4);
  return ToSingle(Wide(mean) * 1.5);
}

}  // namespace ostrel
