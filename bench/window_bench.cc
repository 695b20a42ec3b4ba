// The window on a large package: Process Data until its report is in the view and painted, and
// a keystroke's refresh. Runs on Qt's offscreen platform.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/workspace.h"
#include "package_generator.h"
#include "settings/panel.h"
#include "ui/main_window.h"

namespace {

namespace fs = std::filesystem;

// A window started on a generated package of `wires` wires.
std::unique_ptr<ostrel::ui::MainWindow> WindowOn(long wires) {
  const fs::path dir = fs::temp_directory_path() / ("ostrel_window_bench_" + std::to_string(wires));
  fs::create_directories(dir);
  const std::string name = "pkg" + std::to_string(wires);
  if (!fs::exists(dir / (name + ".tmv"))) {
    std::FILE* f = std::fopen((dir / (name + ".tmv")).c_str(), "wb");
    ostrel::bench::WritePackage(f, wires);
    std::fclose(f);
  }
  std::FILE* f = std::fopen((dir / (name + ".zv")).c_str(), "wb");
  ostrel::bench::WriteSettings(f, name + ".tmv");
  std::fclose(f);
  auto window = std::make_unique<ostrel::ui::MainWindow>();
  window->logic().StartUp((dir / (name + ".zv")).string());
  window->resize(1100, 820);
  window->show();
  QApplication::processEvents();
  return window;
}

void BM_WindowProcessData(benchmark::State& state) {
  auto window = WindowOn(state.range(0));
  for (auto _ : state) {
    window->logic().CMD_Click(ostrel::kProcessData);
    window->repaint();  // the view paints the report's first page
    QApplication::processEvents();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WindowProcessData)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_WindowKeystroke(benchmark::State& state) {
  auto window = WindowOn(state.range(0));
  window->logic().CMD_Click(ostrel::kProcessData);
  int n = 0;
  for (auto _ : state) {
    window->logic().Box_Change(ostrel::ui::Box::kFQc, (n++ % 2) ? "1" : "2");
    QApplication::processEvents();
  }
}
BENCHMARK(BM_WindowKeystroke)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace
