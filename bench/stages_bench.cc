// Cost of each estimation stage, and of a whole run, at 1k, 10k and 100k wires. The items/s
// column is wires per second: a stage that scales linearly keeps it flat across the sizes.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "app/file_io.h"
#include "app/workspace.h"
#include "electrical/inductance.h"
#include "electrical/resistance.h"
#include "electrical/wire_spacing.h"
#include "geometry/wire_paths.h"
#include "package/package_reader.h"
#include "package/side_ordering.h"
#include "package_generator.h"
#include "report/report_writer.h"

namespace {

// A generated package on disk, with its settings file, and a workspace started with it.
struct Case {
  std::string dir;
  std::string settings_path;
  std::string package_text;
  ostrel::Workspace ws;  // after start-up: package read, panel refreshed
};

std::string ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/ostrel-bench-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

// The case of `wires` wires, made on first use and kept for the whole run.
Case& CaseFor(long wires) {
  static std::map<long, std::unique_ptr<Case>> cases;
  auto& slot = cases[wires];
  if (!slot) {
    slot = std::make_unique<Case>();
    Case& c = *slot;
    c.dir = ScratchDir();
    const std::string name = "pkg" + std::to_string(wires);
    c.package_text = ostrel::bench::PackageText(wires);
    ostrel::WriteFileAtomically(c.dir + "/" + name + ".tmv", c.package_text);
    c.settings_path = c.dir + "/" + name + ".zv";
    ostrel::WriteFileAtomically(c.settings_path, ostrel::bench::SettingsText(name + ".tmv"));
    const ostrel::StartUpResult start = ostrel::StartUp(c.ws, c.settings_path);
    if (!start.settings_found || start.error) std::abort();
  }
  return *slot;
}

void Wires(benchmark::State& state, long wires) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * wires);
}

// The package text to the model: records, side ordering and the default wire distance.
void BM_ParsePackage(benchmark::State& state) {
  const long n = state.range(0);
  Case& c = CaseFor(n);
  for (auto _ : state) {
    ostrel::Package package;
    ostrel::ParsePackage(c.package_text, package, "bench.tmv");
    ostrel::OrderSides(package);
    benchmark::DoNotOptimize(ostrel::DefaultWireDistance(package));
  }
  Wires(state, n);
}

// ReadPackage as Process Data runs it after start-up: the file read from disk and compared with
// the bytes the lists were read from; they are the same, so the lists are kept (not parsed
// again) and only the default wire distance is taken anew.
void BM_ReadPackage(benchmark::State& state) {
  const long n = state.range(0);
  Case& c = CaseFor(n);
  ostrel::Workspace ws = c.ws;
  for (auto _ : state) {
    ostrel::ReadPackage(ws);
    benchmark::DoNotOptimize(ws.package.ChipPads.data());
  }
  Wires(state, n);
}

void BM_BuildWirePaths(benchmark::State& state) {
  const long n = state.range(0);
  Case& c = CaseFor(n);
  for (auto _ : state) {
    ostrel::WireList wires = ostrel::BuildWirePaths(c.ws.package, c.ws.params);
    benchmark::DoNotOptimize(wires.data());
  }
  Wires(state, n);
}

// The wires of a case after the stages up to `last`: 0 the paths, 1 resistance, 2 inductance.
ostrel::WireList WiresAfter(const Case& c, int last) {
  ostrel::WireList wires = ostrel::BuildWirePaths(c.ws.package, c.ws.params);
  if (last >= 1) ostrel::ComputeResistance(wires, c.ws.params);
  if (last >= 2) ostrel::ComputeInductance(wires, c.ws.params, c.ws.package);
  return wires;
}

void BM_ComputeResistance(benchmark::State& state) {
  const long n = state.range(0);
  Case& c = CaseFor(n);
  ostrel::WireList wires = WiresAfter(c, 0);
  for (auto _ : state) {
    ostrel::ComputeResistance(wires, c.ws.params);
    benchmark::DoNotOptimize(wires.data());
  }
  Wires(state, n);
}

void BM_ComputeInductance(benchmark::State& state) {
  const long n = state.range(0);
  Case& c = CaseFor(n);
  ostrel::WireList wires = WiresAfter(c, 1);
  for (auto _ : state) {
    ostrel::ComputeInductance(wires, c.ws.params, c.ws.package);
    benchmark::DoNotOptimize(wires.data());
  }
  Wires(state, n);
}

// The report text, built in memory.
void BM_ReportText(benchmark::State& state) {
  const long n = state.range(0);
  Case& c = CaseFor(n);
  const ostrel::WireList wires = WiresAfter(c, 2);
  const ostrel::ReportHeader header{"bench.zv", c.ws.params, c.ws.package.HasStackedDie(),
                                    !c.ws.package.Stitches.empty()};
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = ostrel::ReportText(header, wires);
    bytes += text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  Wires(state, n);
}

// What ostrel-cli does for one settings file: start-up (which reads the package), then Process
// Data (which reads it again, runs every stage and writes the report file).
void BM_EndToEnd(benchmark::State& state) {
  const long n = state.range(0);
  Case& c = CaseFor(n);
  for (auto _ : state) {
    ostrel::Workspace ws;
    ostrel::StartUp(ws, c.settings_path);
    ostrel::ProcessData(ws);
    benchmark::DoNotOptimize(ws.view_text.data());
  }
  Wires(state, n);
}

// The panel refresh that every click and keystroke in the window runs, with the package
// loaded: its cost must not grow with the package.
void BM_Refresh(benchmark::State& state) {
  Case& c = CaseFor(state.range(0));
  ostrel::Workspace ws = c.ws;
  for (auto _ : state) {
    ostrel::Refresh(ws);
    benchmark::DoNotOptimize(ws.view_text.data());
  }
}

#define OSTREL_SIZES ->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)

BENCHMARK(BM_ParsePackage) OSTREL_SIZES;
BENCHMARK(BM_ReadPackage) OSTREL_SIZES;
BENCHMARK(BM_BuildWirePaths) OSTREL_SIZES;
BENCHMARK(BM_ComputeResistance) OSTREL_SIZES;
BENCHMARK(BM_ComputeInductance) OSTREL_SIZES;
BENCHMARK(BM_ReportText) OSTREL_SIZES;
BENCHMARK(BM_EndToEnd) OSTREL_SIZES;
BENCHMARK(BM_Refresh)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
