// Cost of the physical model of the wires and of each of its stages: the bundled example's whole
// model, generated packages of 300 and 3,300 wires with dense partial and loop matrices, a
// frequency sweep (each added frequency should cost only the internal-impedance update) and
// 100,100 wires with the loop coupling cut-off. Wires are estimated once per case; only
// ComputeModel and its writers are timed.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "app/file_io.h"
#include "app/physical_study.h"
#include "app/workspace.h"
#include "base/stage_error.h"
#include "export/physical_export.h"
#include "package_generator.h"
#include "physical/capacitance.h"
#include "physical/clearance.h"
#include "physical/dense_algebra.h"
#include "physical/inductance.h"
#include "physical/physical_model.h"
#include "physical/proximity.h"
#include "physical/wire_groups.h"

namespace {

// A settings file started and estimated: the wires the model is built from.
struct Case {
  ostrel::Workspace ws;
};

std::string ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/ostrel-physbench-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

// 0: the bundled example; otherwise a generated package of that many wires. Made on first use.
Case& CaseFor(long wires) {
  static std::map<long, std::unique_ptr<Case>> cases;
  auto& slot = cases[wires];
  if (slot) return *slot;
  slot = std::make_unique<Case>();
  std::string settings_path = std::string(OSTREL_EXAMPLES_DIR) + "/AAAc.zv";
  if (wires > 0) {
    const std::string dir = ScratchDir(), name = "pkg" + std::to_string(wires);
    ostrel::WriteFileAtomically(dir + "/" + name + ".tmv", ostrel::bench::PackageText(wires));
    settings_path = dir + "/" + name + ".zv";
    ostrel::WriteFileAtomically(settings_path, ostrel::bench::SettingsText(name + ".tmv"));
  }
  const ostrel::StartUpResult start = ostrel::StartUp(slot->ws, settings_path);
  if (!start.settings_found || start.error) std::abort();
  ostrel::RunEstimation(slot->ws);
  return *slot;
}

// ComputeModel of case `range(0)` at `range(1)` log-spaced frequencies from 1 MHz to 20 GHz
// (one: the settings file's); with `range(2)` set, the JSON is written to memory too.
void BM_PhysicalModel(benchmark::State& state) {
  Case& c = CaseFor(state.range(0));
  ostrel::physical::Options options;
  options.frequencies_hz = state.range(1) == 1
                               ? std::vector<double>{static_cast<double>(c.ws.params.Frequency)}
                               : ostrel::Sweep("1e6:2e10:" + std::to_string(state.range(1)), true);
  std::size_t bytes = 0;
  for (auto _ : state) {
    try {
      const ostrel::physical::Model model =
          ostrel::physical::ComputeModel(c.ws.Wires, c.ws.params, options);
      if (state.range(2) != 0) bytes += ostrel::PhysicalJsonText(model).size();
      benchmark::DoNotOptimize(model.loop_inductance_h.values.data());
    } catch (const ostrel::StageError& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * c.ws.Wires.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// Times `stage` on the conductors of case `state.range(0)` with the default options.
template <typename Stage>
void TimeOnConductors(benchmark::State& state, Stage&& stage) {
  Case& c = CaseFor(state.range(0));
  const std::vector<ostrel::physical::Conductor> conductors =
      ostrel::physical::BuildConductors(c.ws.Wires, c.ws.params);
  const ostrel::physical::Options options;
  for (auto _ : state) {
    const auto result = stage(conductors, options);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * c.ws.Wires.size()));
}

// The partial and loop inductance matrices alone (dense up to 10,000 wires, else the loop matrix
// with the coupling cut-off), as ComputeModel makes them.
void BM_InductanceMatrices(benchmark::State& state) {
  TimeOnConductors(state, [](const auto& conductors, const ostrel::physical::Options& options) {
    return ostrel::physical::ComputeInductance(conductors, options.ground_depth_m,
                                               options.coupling_cutoff);
  });
}

// The capacitance matrix alone (dense for the bundled example, clustered for 3,000 and 3,300
// wires).
void BM_Capacitance(benchmark::State& state) {
  TimeOnConductors(state, [](const auto& conductors, const ostrel::physical::Options& options) {
    return ostrel::physical::ComputeCapacitance(conductors, options.ground_depth_m, options.eps_r);
  });
}

// The proximity correction alone at the settings file's frequency (1 GHz), on the model's
// coincident groups.
void BM_Proximity(benchmark::State& state) {
  Case& c = CaseFor(state.range(0));
  const std::vector<ostrel::physical::Conductor> conductors =
      ostrel::physical::BuildConductors(c.ws.Wires, c.ws.params);
  const ostrel::physical::Options options;
  const std::vector<std::vector<std::size_t>> coincident =
      ostrel::physical::CoincidentGroups(conductors);
  for (auto _ : state) {
    const auto result = ostrel::physical::ComputeProximity(
        conductors, options.ground_depth_m, {static_cast<double>(c.ws.params.Frequency)},
        coincident);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * c.ws.Wires.size()));
}

// The clearance check alone: the wire pairs that touch or overlap.
void BM_Clearance(benchmark::State& state) {
  TimeOnConductors(state, [](const auto& conductors, const ostrel::physical::Options& options) {
    return ostrel::physical::CheckClearance(conductors, options.clearance_m);
  });
}

// {wires (0: the bundled example), frequencies, with JSON}. The generated packages of 300, 3,300
// and 100,100 wires: small, the largest a window computes at once, the largest report.
BENCHMARK(BM_PhysicalModel)
    ->ArgNames({"wires", "freqs", "json"})
    ->Args({0, 1, 0})
    ->Args({0, 1, 1})
    ->Args({0, 100, 0})
    ->Args({300, 1, 0})
    ->Args({3300, 1, 0})
    ->Args({3300, 100, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// Each stage alone at each size.
BENCHMARK(BM_InductanceMatrices)
    ->ArgName("wires")
    ->Arg(300)
    ->Arg(3300)
    ->Arg(100100)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Clearance)
    ->ArgName("wires")
    ->Arg(300)
    ->Arg(3300)
    ->Arg(100100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Proximity)
    ->ArgName("wires")
    ->Arg(0)
    ->Arg(300)
    ->Arg(3300)
    ->Arg(100100)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Capacitance)
    ->ArgName("wires")
    ->Arg(0)
    ->Arg(300)
    ->Arg(3300)
    ->Arg(100100)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PhysicalModel)
    ->Name("BM_PhysicalModelLarge")
    ->ArgNames({"wires", "freqs", "json"})
    ->Args({100100, 1, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

// The kernels the programs choose, so that the stages run as they do in them.
int main(int argc, char** argv) {
  ostrel::physical::ChooseProcessorKernels();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
