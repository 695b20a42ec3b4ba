// The physical view on a large package: from a computed model to the filled table, the plot of
// the first wire and the coupling map of its die side, painted. Runs on Qt's offscreen platform.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTableView>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/workspace.h"
#include "package_generator.h"
#include "physical/physical_model.h"
#include "ui/physical_view.h"

namespace {

class NoFiles : public ostrel::ui::FileChooser {
 public:
  std::optional<std::string> Choose(const ostrel::ui::FileDialogRequest&) override { return {}; }
  bool ConfirmCreate(const ostrel::ui::FileDialogRequest&, const std::string&) override {
    return false;
  }
};

// The estimation of a generated package of `wires` wires.
std::shared_ptr<const ostrel::ui::Estimation> EstimationOf(long wires) {
  ostrel::Workspace ws;
  const std::string dir = "/tmp/ostrel_view_bench_" + std::to_string(wires);
  std::filesystem::create_directories(dir);
  std::FILE* f = std::fopen((dir + "/pkg.tmv").c_str(), "wb");
  ostrel::bench::WritePackage(f, wires);
  std::fclose(f);
  f = std::fopen((dir + "/pkg.zv").c_str(), "wb");
  ostrel::bench::WriteSettings(f, "pkg.tmv");
  std::fclose(f);
  ostrel::StartUp(ws, dir + "/pkg.zv");
  ostrel::RunEstimation(ws);
  return std::make_shared<ostrel::ui::Estimation>(
      ostrel::ui::Estimation{ws.package, ws.Wires, ws.params});
}

void BM_PhysicalViewFillAndPaint(benchmark::State& state) {
  const auto estimation = EstimationOf(state.range(0));
  const ostrel::ui::ViewOptions defaults;
  // Computed once, outside the measurement.
  const ostrel::physical::Model model = ostrel::physical::ComputeModel(
      estimation->wires, estimation->params,
      ostrel::ModelOptions(ostrel::ui::StudyOf(defaults),
                           static_cast<double>(estimation->params.Frequency)));
  NoFiles chooser;
  ostrel::ui::PhysicalView view(chooser, {});
  view.resize(1280, 800);
  view.show();
  view.SetEstimation(estimation);  // too large to start by itself
  QApplication::processEvents();
  for (auto _ : state) {
    state.PauseTiming();
    ostrel::physical::Model copy = model;
    state.ResumeTiming();
    view.ShowModel(std::move(copy));
    view.repaint();  // table, plot and map painted
    QApplication::processEvents();
  }
  state.counters["rows"] = view.TableView()->model()->rowCount();
}
BENCHMARK(BM_PhysicalViewFillAndPaint)->Arg(3000)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
