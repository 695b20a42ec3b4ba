// The default wire distance trims the gaps of each die edge larger than twice their mean, pass
// after pass, until a pass drops nothing. On evenly spaced pads one pass does; on a row whose
// gaps grow so that every pass drops only the largest one, every pad costs a pass. A pass
// re-sums the gaps after the first one it drops, so the growing gaps cost little at the end of
// the row (ascending) and a full pass each at its start (descending). Single precision limits
// such rows to some thousands of pads: beyond, the gaps no longer drop one at a time.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "electrical/wire_spacing.h"
#include "package/package_model.h"

namespace {

ostrel::PadList Row(const std::vector<double>& gaps) {
  ostrel::PadList pads(gaps.size() + 1);
  double x = 0;
  for (std::size_t k = 0; k < gaps.size(); ++k) {
    pads[k].X = static_cast<float>(x);
    x += gaps[k];
  }
  pads.back().X = static_cast<float>(x);
  return pads;
}

// The whole row as one side.
ostrel::SideList Side(const ostrel::PadList& pads) {
  ostrel::SideList side(pads.size());
  for (std::size_t k = 0; k < side.size(); ++k) side[k] = k;
  return side;
}

std::vector<double> EvenGaps(std::size_t n) { return std::vector<double>(n, 62.5); }

// Gaps each just over twice the mean of itself and the gaps before it: a_k = c S_k / k with
// c slightly above 2, so that each trimming pass drops the last remaining gap only.
std::vector<double> GrowingGaps(std::size_t n, double c) {
  std::vector<double> gaps(3, 100.0);
  double sum = 300.0;
  while (gaps.size() < n) {
    const double k = static_cast<double>(gaps.size() + 1);
    const double a = c * sum / (k - c);
    gaps.push_back(a);
    sum += a;
  }
  return gaps;
}

void BM_SidePitchEven(benchmark::State& state) {
  const auto pads = Row(EvenGaps(static_cast<std::size_t>(state.range(0))));
  const auto side = Side(pads);
  for (auto _ : state) benchmark::DoNotOptimize(ostrel::SidePitch(pads, side, false, "top"));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SidePitchGrowingGapsAscending(benchmark::State& state) {
  const auto pads = Row(GrowingGaps(static_cast<std::size_t>(state.range(0)), 2.0001));
  const auto side = Side(pads);
  for (auto _ : state) benchmark::DoNotOptimize(ostrel::SidePitch(pads, side, false, "top"));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SidePitchGrowingGapsDescending(benchmark::State& state) {
  std::vector<double> gaps = GrowingGaps(static_cast<std::size_t>(state.range(0)), 2.0001);
  std::reverse(gaps.begin(), gaps.end());
  const auto pads = Row(gaps);
  const auto side = Side(pads);
  for (auto _ : state) benchmark::DoNotOptimize(ostrel::SidePitch(pads, side, false, "top"));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_SidePitchEven)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SidePitchGrowingGapsAscending)
    ->Arg(250)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SidePitchGrowingGapsDescending)
    ->Arg(250)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Arg(8000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
