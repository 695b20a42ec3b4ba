// Renders the physical view on a settings file into the documentation's PNG images: the whole
// view with the table sorted by loop inductance (largest first), the frequency plot of the top
// wire, the coupling map of its die side, the plan of the package with that wire selected, the
// view after a click on a cell of the map (the pair selected in every pane), the ground wires
// alone with the plan coloured by role, the ground net's impedance, the banner that a changed
// option raises over results computed before it, and two differential pairs named in the Pairs
// field (the Pair column, the Pairs tab with a pair selected). Used by scripts/screenshot.sh.

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <cstdio>
#include <filesystem>

#include "app/workspace.h"
#include "ui/main_window.h"
#include "ui/physical_plot.h"
#include "ui/physical_view.h"
#include "ui/plan_view.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: ostrel-physical-screenshot SETTINGS.zv OUTPUT_DIR\n");
    return 2;
  }
  const std::string cwd = std::filesystem::current_path().string();
  ostrel::ui::MainWindow window;
  window.logic().StartUp(ostrel::SettingsPathFor(argv[1], cwd, cwd));
  window.show();
  auto* process = window.findChild<QPushButton*>(QStringLiteral("CMD2"));
  if (!process) return 1;
  QTest::mouseClick(process, Qt::LeftButton);
  window.OpenPhysicalView();
  ostrel::ui::PhysicalView* view = window.physicalView();
  view->move(0, 0);
  view->resize(1500, 980);
  QSignalSpy ended(view, &ostrel::ui::PhysicalView::ComputationEnded);
  if (!ended.wait(60000) || !view->Table()) return 1;
  if (!QTest::qWaitForWindowExposed(view)) return 1;

  QTableView* table = view->TableView();
  for (int c = 0; c < table->model()->columnCount(); ++c) {
    if (table->model()->headerData(c, Qt::Horizontal).toString().startsWith("L loop")) {
      table->sortByColumn(c, Qt::DescendingOrder);
    }
  }
  // The top wire that has a die side, so that the map outlines it.
  for (int r = 0; r < table->model()->rowCount(); ++r) {
    if (table->model()->index(r, 1).data().toString() == QStringLiteral("base-die")) {
      table->selectRow(r);
      break;
    }
  }
  table->scrollToTop();
  QTest::qWait(300);
  const QString out = QString::fromLocal8Bit(argv[2]);
  if (!view->grab().save(out + QStringLiteral("/physical-view.png"))) return 1;
  if (!view->Plot()->SaveTo(out + QStringLiteral("/physical-plot.png"), QSize(760, 520))) return 1;
  view->Map()->resize(560, 520);
  if (!view->Map()->grab().save(out + QStringLiteral("/physical-coupling.png"))) return 1;
  if (!view->Plan()->SaveTo(out + QStringLiteral("/physical-plan.png"), QSize(760, 640))) return 1;

  // A click on the map's cell of the second and third pads: that pair in every pane, the plan
  // shown beside the plot.
  auto* panes = view->findChild<QTabWidget*>(QStringLiteral("Panes"));
  panes->setCurrentIndex(0);
  QTest::qWait(100);
  ostrel::ui::CouplingMap* map = view->Map();
  for (int y = 0; y < map->height(); y += 2) {
    bool clicked = false;
    for (int x = 0; x < map->width() && !clicked; x += 2) {
      if (map->CellAt(QPointF(x, y)) == std::pair<int, int>{1, 2}) {
        QTest::mouseClick(map, Qt::LeftButton, {}, QPoint(x + 6, y + 6));
        clicked = true;
      }
    }
    if (clicked) break;
  }
  panes->setCurrentIndex(1);
  QTest::qWait(300);
  if (!view->grab().save(out + QStringLiteral("/physical-linked.png"))) return 1;

  // The ground wires alone in the table (role filter), the plan coloured by role with the other
  // wires pale; then the ground net's impedance.
  auto* role = view->findChild<QComboBox*>(QStringLiteral("RoleFilter"));
  role->setCurrentIndex(role->findText(QStringLiteral("ground")));
  auto* colour = view->findChild<QComboBox*>(QStringLiteral("PlanQuantity"));
  colour->setCurrentIndex(colour->count() - 1);
  table->selectRow(0);
  panes->setCurrentIndex(1);
  QTest::qWait(300);
  if (!view->grab().save(out + QStringLiteral("/physical-nets.png"))) return 1;
  panes->setCurrentIndex(2);
  QTest::qWait(300);
  if (!panes->grab().save(out + QStringLiteral("/physical-net-impedance.png"))) return 1;
  role->setCurrentIndex(0);
  colour->setCurrentIndex(0);

  // A deeper ground plane typed in: the results shown are out of date until Compute.
  auto* depth = view->findChild<QDoubleSpinBox*>(QStringLiteral("GroundDepth"));
  depth->setValue(depth->value() + 30);
  QTest::qWait(300);
  if (!view->grab(QRect(0, 0, view->width(), 260))
           .save(out + QStringLiteral("/physical-stale.png"))) {
    return 1;
  }

  // Two pairs of neighbouring signal wires, computed; the table sorted by pair (the pairs on
  // top), the first pair's row chosen in the Pairs tab.
  depth->setValue(depth->value() - 30);
  view->findChild<QLineEdit*>(QStringLiteral("Pairs"))->setText(QStringLiteral("T2/T3,B2/B3"));
  view->StartComputation();
  if (!ended.wait(60000) || !view->Table()) return 1;
  for (int c = 0; c < table->model()->columnCount(); ++c) {
    if (table->model()->headerData(c, Qt::Horizontal).toString() == QStringLiteral("Pair")) {
      table->sortByColumn(c, Qt::DescendingOrder);
    }
  }
  panes->setCurrentIndex(panes->count() - 1);
  view->PairTable()->selectRow(0);
  table->scrollToTop();
  QTest::qWait(300);
  if (!view->grab().save(out + QStringLiteral("/physical-pairs.png"))) return 1;
  return 0;
}
