#include "electrical/wire_spacing.h"

#include <cmath>
#include <string>
#include <vector>

#include "package/numeric.h"
#include "package/stage_error.h"

namespace ostrel {

float SidePitch(const std::vector<BondPad>& side, bool along_y, const char* side_name) {
  const std::size_t n = side.size();
  if (n < 2) {
    throw StageError("the " + std::string(side_name) + " side of the base die has " +
                         (n == 0 ? std::string("no pads") : std::string("only one pad")) +
                         "; the default wire distance needs at least two CBP pads on every side",
                     "", n == 1 ? side[0].PadLine : 0);
  }
  std::vector<float> gaps;
  gaps.reserve(n - 1);
  float sum = 0;
  for (std::size_t k = 0; k + 1 < n; ++k) {
    const double a = along_y ? side[k].Y : side[k].X;
    const double b = along_y ? side[k + 1].Y : side[k + 1].X;
    gaps.push_back(ToSingle(std::fabs(a - b)));
    sum = ToSingle(static_cast<double>(sum) + gaps.back());
  }
  float mean = ToSingle(sum / static_cast<double>(n - 1));
  // Drop the gaps larger than twice the mean (a gap in the pad row) until none is dropped.
  while (true) {
    const float limit = ToSingle(2.0 * mean);
    std::vector<float> kept;
    kept.reserve(gaps.size());
    float kept_sum = 0;
    for (const float gap : gaps) {
      if (gap <= limit) {
        kept.push_back(gap);
        kept_sum = ToSingle(static_cast<double>(kept_sum) + gap);
      }
    }
    if (kept.size() == gaps.size()) return mean;
    mean = ToSingle(CheckedDivide(kept_sum, static_cast<double>(kept.size())));
    gaps = std::move(kept);
  }
}

float DefaultWireDistance(const Package& package) {
  const double top = SidePitch(package.TopPads, false, "top (T)");
  const double bottom = SidePitch(package.BottomPads, false, "bottom (B)");
  const double left = SidePitch(package.LeftPads, true, "left (L)");
  const double right = SidePitch(package.RightPads, true, "right (R)");
  const float mean = ToSingle((right + left + top + bottom) / 4);
  return ToSingle(mean * 1.5);
}

}  // namespace ostrel
