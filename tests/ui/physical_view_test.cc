// The physical view driven as a user drives it, on the bundled example's wires, with a model of
// known figures in place of the computation (so that sorting, coupling and cancelling are
// checked against values set here), and once through the main window with the real model.

#include "ui/physical_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <limits>
#include <numeric>
#include <thread>

#include "access_keys.h"
#include "app/workspace.h"
#include "base/stage_error.h"
#include "ui/main_window.h"
#include "ui/physical_plot.h"
#include "ui/plan_view.h"

using namespace ostrel;
using namespace ostrel::ui;

namespace {

class FakeChooser : public FileChooser {
 public:
  QStringList answers;
  std::optional<std::string> Choose(const FileDialogRequest&) override {
    if (answers.empty()) return std::nullopt;
    return answers.takeFirst().toStdString();
  }
  bool ConfirmCreate(const FileDialogRequest&, const std::string&) override { return true; }
};

// Loop self inductance of wire i: (1 + i / 10) nH; coupling k = 0.5^|i - j| to every wire of
// its own kind, none across kinds. R(f) = R_dc (1 + f / 1 GHz), L_int = 0.05 nH. The wires run
// along their real paths; the model has one note.
physical::Model KnownModel(const WireList& wires, const ParameterSet& params,
                           const physical::Options& options) {
  physical::Model m;
  const std::size_t n = wires.size();
  std::vector<physical::Conductor> paths;
  try {
    paths = physical::BuildConductors(wires, params);
  } catch (const StageError&) {  // wires without segments: no paths
  }
  m.notes = {"couplings below 0.001 kept"};
  m.options = options;
  m.loop_inductance_h = {n, true, std::vector<double>(n * n, 0.0), {}};
  auto self = [](std::size_t i) { return (1 + static_cast<double>(i) / 10) * 1e-9; };
  std::vector<std::string> kinds;
  for (const Wire& w : wires) kinds.push_back(KindName(w));
  for (std::size_t i = 0; i < n; ++i) {
    physical::Conductor c{wires[i].Name, WireKind::kBaseDie, {}, 12.7e-6, 2.2e-8, 1e-3};
    if (i < paths.size()) c.path_m = paths[i].path_m;
    m.conductors.push_back(c);
    for (std::size_t j = 0; j < n; ++j) {
      const double k = kinds[i] == kinds[j] ? std::pow(0.5, std::abs(double(i) - double(j))) : 0;
      m.loop_inductance_h.values[i * n + j] = k * std::sqrt(self(i) * self(j));
    }
  }
  // Each pair asked for: Z_diff 100 ohm, L odd 1 nH; wire 0 its neighbour.
  for (const physical::WirePair& pair : options.pairs) {
    physical::PairFigures f;
    f.wires = pair;
    f.odd_inductance_h = 1e-9;
    f.z_odd_ohm = 50, f.z_diff_ohm = 100;
    f.neighbour = 0, f.neighbour_k = 0.25;
    m.pairs.push_back(f);
  }
  const double r_dc = 2.2e-8 * 1e-3 / (M_PI * 12.7e-6 * 12.7e-6);
  for (double f : options.frequencies_hz) {
    m.results.push_back(
        {f, std::vector<double>(n, r_dc * (1 + f / 1e9)), std::vector<double>(n, 0.05e-9)});
  }
  return m;
}

// The index of the wire named `name` in `estimation` (its size when there is none).
std::size_t WireIndex(const Estimation& estimation, const char* name) {
  const auto& wires = estimation.wires;
  return std::size_t(
      std::find_if(wires.begin(), wires.end(), [&](const Wire& w) { return w.Name == name; }) -
      wires.begin());
}

}  // namespace

class PhysicalViewTest : public QObject {
  Q_OBJECT

  FakeChooser chooser_;
  std::shared_ptr<const Estimation> example_;
  std::vector<physical::Options> asked_;  // what each computation was asked for
  std::atomic<bool> block_{false};        // the next computation waits for its cancel
  std::atomic<bool> fail_{false};         // computations fail

  std::unique_ptr<PhysicalView> MakeView() {
    auto compute = [this](const WireList& wires, const ParameterSet& params,
                          const StudyOptions& study, const physical::Progress& progress) {
      const physical::Options options = ModelOptions(study, double(params.Frequency));
      asked_.push_back(options);
      progress.report("inductance", 0.5);
      while (block_) {
        if (progress.cancel->load()) throw StageError("cancelled");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      for (const auto& [stage, fraction] : {std::pair<const char*, double>{"inductance", 1},
                                            {"proximity", 1},
                                            {"capacitance", 0.2},
                                            {"capacitance", 1}}) {
        progress.report(stage, fraction);
      }
      if (fail_) throw StageError("no solution");
      return PhysicalStudy{KnownModel(wires, params, options), {}, {}, {}};
    };
    auto view = std::make_unique<PhysicalView>(chooser_, compute);
    view->resize(1280, 800);
    view->show();
    return view;
  }
  static bool Ended(PhysicalView& view) {
    QSignalSpy ended(&view, &PhysicalView::ComputationEnded);
    return ended.count() > 0 || ended.wait(5000);
  }
  static int ColumnOf(PhysicalView& view, const QString& header_start) {
    QAbstractItemModel* m = view.TableView()->model();
    for (int c = 0; c < m->columnCount(); ++c) {
      if (m->headerData(c, Qt::Horizontal).toString().startsWith(header_start)) return c;
    }
    return -1;
  }
  // The table's column of `header_start` as shown, top to bottom.
  static QStringList Shown(PhysicalView& view, const QString& header_start) {
    QAbstractItemModel* m = view.TableView()->model();
    const int c = ColumnOf(view, header_start);
    QStringList out;
    for (int r = 0; c >= 0 && r < m->rowCount(); ++r) out << m->index(r, c).data().toString();
    return out;
  }

 private slots:
  void initTestCase() {
    Workspace ws;
    const std::string zv = OSTREL_EXAMPLES_DIR "/AAAc.zv";
    StartUp(ws, zv);
    RunEstimation(ws);
    example_ = std::make_shared<Estimation>(Estimation{ws.package, ws.Wires, ws.params});
    QVERIFY(example_->wires.size() > 30);
  }

  // Sweep and settings frequency merged; options out of range refused.
  void modelOptions() {
    struct Case {
      ViewOptions view;
      double settings_hz;
      std::vector<double> expected_hz;  // empty: refused
    } cases[] = {
        {{1e6, 1e9, 4, 50, 1}, 1e9, {1e6, 1e7, 1e8, 1e9}},
        {{1e6, 1e9, 4, 50, 1}, 5e7, {1e6, 1e7, 5e7, 1e8, 1e9}},
        {{1e6, 1e9, 4, 50, 1}, 1e10, {1e6, 1e7, 1e8, 1e9, 1e10}},
        {{1e9, 1e6, 4, 50, 1}, 1e9, {}},
        {{1e6, 1e9, 1, 50, 1}, 1e9, {}},
        {{1e6, 1e9, 4, -1, 1}, 1e9, {}},
        {{1e6, 1e9, 4, 50, 0.5}, 1e9, {}},
    };
    for (const Case& c : cases) {
      if (c.expected_hz.empty()) {
        QVERIFY_THROWS_EXCEPTION(StageError, ModelOptions(StudyOf(c.view), c.settings_hz));
        continue;
      }
      const auto got = ModelOptions(StudyOf(c.view), c.settings_hz).frequencies_hz;
      QCOMPARE(got.size(), c.expected_hz.size());
      for (std::size_t i = 0; i < got.size(); ++i)
        QVERIFY(std::abs(got[i] / c.expected_hz[i] - 1) < 1e-12);
    }
  }

  // Names in natural order: numbers inside them as numbers, letter case aside; in the table
  // as in the function.
  void naturalOrder() {
    const struct {
      const char* a;
      const char* b;
      bool less;
    } cases[] = {{"PL2", "PL10", true},         {"PL10", "PL2", false}, {"pl3", "PL10", true},
                 {"PL02", "PL2", true},         {"PL2", "PL02", false}, {"A", "A1", true},
                 {"(S2:T3)", "(S10:T1)", true}, {"B9", "T1", true},     {"x", "x", false}};
    for (const auto& c : cases) {
      QVERIFY2(NaturalLess(c.a, c.b) == c.less, qPrintable(QString(c.a) + " < " + c.b));
    }
    auto renamed = std::make_shared<Estimation>(*example_);
    for (std::size_t i = 0; i < renamed->wires.size(); ++i) {
      renamed->wires[i].Name = "PL" + std::to_string((i * 7) % renamed->wires.size() + 1);
    }
    auto view = MakeView();
    view->SetEstimation(renamed);
    QVERIFY(Ended(*view));
    view->TableView()->sortByColumn(ColumnOf(*view, "Wire"), Qt::AscendingOrder);
    const QStringList names = Shown(*view, "Wire");
    for (int r = 1; r < names.size(); ++r) {
      QVERIFY2(names[r - 1].mid(2).toInt() < names[r].mid(2).toInt(),
               qPrintable(names[r - 1] + " then " + names[r]));
    }
  }

  // Clicking a header sorts by that column (numbers as numbers), again reverses it; the name
  // and kind filters keep the matching rows only.
  void sortAndFilter() {
    auto view = MakeView();
    view->SetEstimation(example_);
    QVERIFY(Ended(*view));
    const auto& wires = example_->wires;
    QCOMPARE(view->TableView()->model()->rowCount(), int(wires.size()));
    QHeaderView* header = view->TableView()->horizontalHeader();
    const int loop = ColumnOf(*view, "L loop");
    QVERIFY(loop > 0);
    for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                        QPoint(header->sectionViewportPosition(loop) + 5, 5));
      QStringList values = Shown(*view, "L loop");
      QCOMPARE(values.size(), int(wires.size()));
      for (int r = 1; r < values.size(); ++r) {
        const bool in_order = order == Qt::AscendingOrder
                                  ? values[r - 1].toDouble() <= values[r].toDouble()
                                  : values[r - 1].toDouble() >= values[r].toDouble();
        QVERIFY2(in_order, qPrintable(values[r - 1] + " then " + values[r]));
      }
    }
    // The example's VSS pads: T1, B1, L1 and R1.
    auto vss = [](const Wire& w) {
      return !w.StackWire && !w.StitchWire &&
             QStringList{"T1", "B1", "L1", "R1"}.contains(QString::fromStdString(w.Name));
    };
    struct Case {
      const char* name;
      int kind;  // index in the kind box: 0 all, 1 base, 2 stacked, 3 stitch
      int role;  // index in the role box: 0 all, 1 signal, 2 ground, 3 power
      const char* net;
      std::function<bool(const Wire&)> keeps;
    } cases[] = {
        {"T", 0, 0, "",
         [](const Wire& w) {
           return QString::fromStdString(w.Name).contains('T', Qt::CaseInsensitive);
         }},
        {"t?", 1, 0, "",
         [](const Wire& w) {
           return !w.StackWire && !w.StitchWire && w.Name.size() == 2 && w.Name[0] == 'T';
         }},
        {"", 3, 0, "", [](const Wire& w) { return w.StitchWire; }},
        {"", 2, 0, "", [](const Wire& w) { return w.StackWire && !w.StitchWire; }},
        {"", 0, 2, "", vss},
        {"", 0, 1, "", [&](const Wire& w) { return !vss(w); }},
        {"", 0, 0, "VSS", vss},
        // Net names match in their own case, whole: T1's net is VSS.
        {"", 0, 0, "T?,vss",
         [](const Wire& w) { return w.Name.size() == 2 && w.Name[0] == 'T' && w.Name != "T1"; }},
        {"t", 0, 1, "*",
         [&](const Wire& w) {
           return !vss(w) && QString::fromStdString(w.Name).contains('T', Qt::CaseInsensitive);
         }},
    };
    for (const Case& c : cases) {
      const QString row =
          QStringLiteral("'%1' %2 %3 '%4'").arg(c.name).arg(c.kind).arg(c.role).arg(c.net);
      view->findChild<QComboBox*>("KindFilter")->setCurrentIndex(c.kind);
      view->findChild<QComboBox*>("RoleFilter")->setCurrentIndex(c.role);
      view->findChild<QComboBox*>("NetFilter")->setEditText(c.net);
      auto* name = view->findChild<QLineEdit*>("NameFilter");
      name->clear();
      QTest::keyClicks(name, c.name);
      QStringList expected;
      for (const Wire& w : wires) {
        if (c.keeps(w)) expected << QString::fromStdString(w.Name);
      }
      QStringList shown = Shown(*view, "Wire");
      expected.sort();
      shown.sort();
      QVERIFY2(!expected.isEmpty() && shown == expected, qPrintable(row));
    }
  }

  // The example's VSS pads make the ground net; every other wire is a signal net of its own. The
  // study is asked for the ground net's impedance; the Net and Role columns sort as names do; the
  // role filter deselects what it hides, in every pane, and the plan dims it and colours by role.
  void netsAndRoles() {
    auto view = MakeView();
    view->SetEstimation(example_);
    QVERIFY(Ended(*view));
    const auto wire = [&](const char* name) { return WireIndex(*example_, name); };
    const std::size_t t1 = wire("T1"), t2 = wire("T2");
    QCOMPARE(asked_.back().nets.size(), std::size_t(1));
    const physical::SharedNet& asked = asked_.back().nets[0];
    auto vss = asked.wires;
    std::sort(vss.begin(), vss.end());
    QVERIFY(asked.name == "VSS" && !asked.supply);
    std::vector<std::size_t> expected{t1, wire("R1"), wire("B1"), wire("L1")};
    std::sort(expected.begin(), expected.end());
    QCOMPARE(vss, expected);
    const struct {
      const char* wire;
      const char* net;
      const char* role;
    } rows[] = {{"T1", "VSS", "ground"},
                {"L1", "VSS", "ground"},
                {"T2", "T2", "signal"},
                {"(S3:T5)", "(S3:T5)", "signal"}};
    for (const auto& r : rows) {
      const int at = int(wire(r.wire));  // report order: row = wire
      QVERIFY2(at < int(example_->wires.size()), r.wire);
      QCOMPARE(Shown(*view, "Net")[at], QString(r.net));
      QCOMPARE(Shown(*view, "Role")[at], QString(r.role));
    }
    QHeaderView* header = view->TableView()->horizontalHeader();
    // Names in natural order, the ground net's rows together (first, by role).
    for (const char* column : {"Net", "Role"}) {
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                        QPoint(header->sectionViewportPosition(ColumnOf(*view, column)) + 5, 5));
      const QStringList values = Shown(*view, column);
      for (int r = 1; r < values.size(); ++r) {
        QVERIFY2(!NaturalLess(values[r].toStdString(), values[r - 1].toStdString()),
                 qPrintable(values[r - 1] + " then " + values[r]));
      }
      const QString first = column == QString("Net") ? "VSS" : "ground";
      QVERIFY(values.count(first) == 4 && values.lastIndexOf(first) - values.indexOf(first) == 3);
      QVERIFY(column == QString("Net") || values.indexOf(first) == 0);
    }
    view->SelectWires({t1, t2});
    view->findChild<QComboBox*>("RoleFilter")->setCurrentIndex(2);  // ground
    QCOMPARE(view->TableView()->model()->rowCount(), 4);
    QCOMPARE(view->SelectedWires(), std::vector<std::size_t>{t1});
    QCOMPARE(view->Plot()->WireNames(), QStringList{"T1"});
    QCOMPARE(view->Plan()->Selected(), std::vector<std::size_t>{t1});
    QVERIFY(view->Plan()->Shown(t1) && !view->Plan()->Shown(t2));
    view->findChild<QComboBox*>("PlanQuantity")->setCurrentIndex(int(PlanQuantity::kRole));
    QCOMPARE(view->Plan()->WireText(int(t1)), QStringLiteral("T1: role ground"));
    QVERIFY(view->Plan()->WireColour(t1) != view->Plan()->WireColour(t2));
    // A hidden wire chosen elsewhere clears the filters.
    view->SelectWires({t2});
    QCOMPARE(view->findChild<QComboBox*>("RoleFilter")->currentIndex(), 0);
    QCOMPARE(view->SelectedWires(), std::vector<std::size_t>{t2});
  }

  // Pairs typed in the view's settings: out of date until Compute, then asked of the study, in the
  // Pair column (sorting in natural order), the pair filter and the Pairs tab, whose row selects
  // both wires; kept in the configuration. Patterns that cannot be resolved show WirePairs's
  // reason beside the field and compute nothing, even after a Process Data.
  void pairs() {
    auto view = MakeView();
    view->SetEstimation(example_);
    QVERIFY(Ended(*view));
    const auto wire = [&](const char* name) { return WireIndex(*example_, name); };
    const std::size_t t2 = wire("T2"), t3 = wire("T3"), t4 = wire("T4"), b4 = wire("B4"),
                      b5 = wire("B5");
    QCOMPARE(ColumnOf(*view, "Pair"), -1);
    auto* pairs = view->findChild<QLineEdit*>("Pairs");
    auto* fault = view->findChild<QLabel*>("PairsFault");
    pairs->setText("T2/T3, B4/B5");
    QVERIFY2(view->Banners().join("").contains("the pairs (none then, T2/T3, B4/B5 now)"),
             qPrintable(view->Banners().join("")));
    QTest::keyClick(pairs, Qt::Key_Return);  // kept in the configuration
    QTest::mouseClick(view->findChild<QPushButton*>("Compute"), Qt::LeftButton);
    QVERIFY(Ended(*view));
    QVERIFY(view->Banners().isEmpty() && fault->isHidden());
    QCOMPARE(asked_.back().pairs, (std::vector<physical::WirePair>{{t2, t3}, {b4, b5}}));
    const QStringList column = Shown(*view, "Pair");
    QCOMPARE((QStringList{column[int(t2)], column[int(t3)], column[int(t4)], column[int(b5)]}),
             (QStringList{"T2/T3 P", "T2/T3 N", "", "B4/B5 N"}));
    QHeaderView* header = view->TableView()->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(ColumnOf(*view, "Pair")) + 5, 5));
    QCOMPARE(Shown(*view, "Pair").mid(int(example_->wires.size()) - 4),
             (QStringList{"B4/B5 N", "B4/B5 P", "T2/T3 N", "T2/T3 P"}));
    // The filter deselects what it hides, in every pane, and the plan draws it pale.
    view->SelectWires({t2, t4});
    auto* filter = view->findChild<QComboBox*>("PairFilter");
    const struct {
      int index;  // 0 all, 1 in a pair, then each pair
      QStringList shown;
    } rows[] = {{1, {"B4", "B5", "T2", "T3"}}, {2, {"T2", "T3"}}, {3, {"B4", "B5"}}};
    for (const auto& row : rows) {
      filter->setCurrentIndex(row.index);
      QStringList shown = Shown(*view, "Wire");
      shown.sort();
      const std::vector<std::size_t> selected = view->SelectedWires();
      QVERIFY2(shown == row.shown && !view->Plan()->Shown(t4) &&
                   view->Plan()->Shown(row.index == 3 ? b4 : t2) &&
                   std::find(selected.begin(), selected.end(), t4) == selected.end(),
               qPrintable(filter->currentText() + ": " + shown.join(",")));
    }
    QCOMPARE(view->Plot()->WireNames(), QStringList{});
    // The Pairs tab: a row selects both wires, clearing the filter that hid one.
    filter->setCurrentIndex(2);
    QTableWidget* figures = view->PairTable();
    auto* panes = view->findChild<QTabWidget*>("Panes");
    QVERIFY(panes->isTabVisible(panes->indexOf(figures->parentWidget())));
    QCOMPARE(figures->rowCount(), 2);
    QCOMPARE(figures->item(1, 0)->text() + " " + figures->item(1, 1)->text() + " " +
                 figures->item(1, 8)->text(),
             QStringLiteral("B4/B5 100.0 ") + QString::fromStdString(example_->wires[0].Name));
    figures->selectRow(1);
    std::vector<std::size_t> selected = view->SelectedWires();
    std::sort(selected.begin(), selected.end());
    QCOMPARE(selected, (std::vector<std::size_t>{b4, b5}));
    QCOMPARE(filter->currentIndex(), 0);
    QCOMPARE(MakeView()->Options().pairs, std::string("T2/T3, B4/B5"));

    const struct {
      const char* pairs;
      const char* reason;
    } bad[] = {{"X*/Y*", "--pairs 'X*/Y*' pairs none of the 40 wires"},
               {"T2", "a pair is two wire-name patterns P/N"},
               {"T2/T3,T3/T4", "wire T3 is in two pairs, T2/T3 and T3/T4"},
               {"*_P/N", "both patterns need the same * and ?"}};
    auto* compute = view->findChild<QPushButton*>("Compute");
    for (const auto& row : bad) {
      pairs->setText(row.pairs);
      const std::size_t computed = asked_.size();
      const bool refused = fault->isVisible() && fault->text().contains(row.reason) &&
                           !compute->isEnabled() && compute->toolTip().contains(row.reason);
      view->SetEstimation(example_);  // a Process Data would start one
      QTest::qWait(20);
      QVERIFY2(refused && !view->Busy() && view->Status().contains(row.reason) &&
                   asked_.size() == computed,
               qPrintable(QString(row.pairs) + ": " + fault->text()));
    }
    ViewOptions none = view->Options();  // and none for the other tests
    none.pairs.clear();
    view->SetOptions(none);
    QVERIFY(fault->isHidden() && compute->isEnabled());
  }

  // A selected row is the plot's wire and is outlined on the map of its die side, whose
  // strongest neighbour in the table is the next pad of that side.
  void selectionDrivesPlotAndMap() {
    auto view = MakeView();
    view->SetEstimation(example_);
    QVERIFY(Ended(*view));
    const auto sides = DieSides(example_->package, example_->wires);
    QVERIFY(sides.size() >= 5);  // four base-die sides and the stacked die
    for (const DieSide& side : sides) {
      const std::size_t wire = side.wires[1];
      view->TableView()->selectRow(int(wire));  // report order: row = wire
      QCOMPARE(view->Plot()->WireNames(),
               QStringList{QString::fromStdString(example_->wires[wire].Name)});
      QCOMPARE(view->Map()->Title(), QString::fromStdString(side.label));
      QCOMPARE(view->Map()->Selected(), 1);
    }
    // k = 0.5 to each report-order neighbour of the same kind, so the strongest is one of them.
    const PhysicalTable& t = *view->Table();
    for (std::size_t i = 0; i < t.RowCount(); ++i) {
      QCOMPARE(std::abs(t.Neighbour(i) - int(i)), 1);
      QCOMPARE(t.Text(i, Column::kCoupling), std::string("0.500"));
    }
  }

  // A wire selected anywhere is selected everywhere: a table row is the plot's wire, outlined on
  // its side's map and drawn over the others on the plan; a map cell selects its pair, plots both
  // and frames the cell; a click on a wire of the plan selects it, even one the filter hid; the
  // plot says when it shows only the first 8 of the selected wires.
  void linkedSelection() {
    auto view = MakeView();
    view->SetEstimation(example_);
    QVERIFY(Ended(*view));
    const auto& wires = example_->wires;
    const DieSide top = DieSides(example_->package, wires).front();
    auto name = [&](std::size_t w) { return QString::fromStdString(wires[w].Name); };
    view->TableView()->selectRow(int(top.wires[2]));  // report order: row = wire
    QCOMPARE(view->Plan()->Selected(), std::vector<std::size_t>{top.wires[2]});
    QCOMPARE(view->Map()->Selected(), 2);
    // Another side chosen by hand stays, without an outline; the selection's side comes back.
    auto* side = view->findChild<QComboBox*>("Side");
    side->setCurrentIndex(2);
    QCOMPARE(view->Map()->Title(), side->itemText(2));
    QCOMPARE(view->Map()->Selected(), -1);
    side->setCurrentIndex(0);
    QCOMPARE(view->Map()->Selected(), 2);

    CouplingMap* map = view->Map();
    QPoint cell;
    for (int y = 0; y < map->height() && cell.isNull(); ++y) {
      for (int x = 0; x < map->width() && cell.isNull(); ++x) {
        if (map->CellAt(QPointF(x, y)) == std::pair<int, int>{1, 3}) cell = QPoint(x + 3, y + 3);
      }
    }
    QVERIFY(!cell.isNull());
    QTest::mouseClick(map, Qt::LeftButton, {}, cell);
    const std::vector<std::size_t> pair{top.wires[1], top.wires[3]};
    QCOMPARE(view->SelectedWires(), pair);
    QCOMPARE(view->Plot()->WireNames(), (QStringList{name(pair[0]), name(pair[1])}));
    QCOMPARE(view->Plan()->Selected(), pair);
    QCOMPARE(map->Pair(), (std::pair<int, int>{1, 3}));
    // A click on the second wire's loop curve (apart from the first's) in the plot selects that
    // wire alone.
    view->Plot()->repaint();
    const auto hit = std::find_if(
        view->Plot()->Hits().begin(), view->Plot()->Hits().end(),
        [&](const PlotHit& h) { return h.wire == int(pair[1]) && h.text.contains("L loop"); });
    QVERIFY(hit != view->Plot()->Hits().end() && hit->text.startsWith(name(pair[1]) + " at "));
    QTest::mouseClick(view->Plot(), Qt::LeftButton, {}, hit->at.toPoint());
    QCOMPARE(view->SelectedWires(), std::vector<std::size_t>{pair[1]});
    map->SetSelected({}, {-1, -1});
    QTest::mouseClick(map, Qt::LeftButton, {}, cell);
    // k = 0.5^2 between report-order wires two apart; L_ij = k sqrt(L_ii L_jj).
    const double l_ij = 0.25 * std::sqrt((1 + pair[0] / 10.0) * (1 + pair[1] / 10.0));
    QCOMPARE(map->CellText(1, 3), QStringLiteral("%1 – %2: k = 0.250, L_ij = %3 nH")
                                      .arg(name(pair[0]), name(pair[1]))
                                      .arg(l_ij, 0, 'g', 4));

    // The plan: a click on the middle of a wire's first piece, with the filter hiding it.
    view->findChild<QTabWidget*>("Panes")->setCurrentIndex(1);
    PlanView* plan = view->Plan();
    QTest::keyClicks(view->findChild<QLineEdit*>("NameFilter"), "S");
    for (const std::size_t wire : {top.wires[0], std::size_t(wires.size() - 1)}) {
      const auto& path = plan->Scene().paths[wire];
      const QPointF a = plan->ToScreen(path[0]), b = plan->ToScreen(path[1]);
      QTest::mouseClick(plan, Qt::LeftButton, {}, ((a + b) / 2).toPoint());
      QCOMPARE(view->SelectedWires(), std::vector<std::size_t>{wire});
      QCOMPARE(view->Plot()->WireNames(), QStringList{name(wire)});
      QVERIFY(plan->WireText(int(wire)).startsWith(name(wire) + ": Loop L @ 1 GHz (nH) "));
    }
    QCOMPARE(view->TableView()->model()->rowCount(), int(wires.size()));  // filter cleared
    // The wheel zooms about the pointer: the plan point under it stays.
    const QPoint at(plan->width() / 3, plan->height() / 2);
    const PlanPoint before = plan->ToPlan(at);
    QWheelEvent wheel(at, plan->mapToGlobal(at), {}, {0, 240}, Qt::NoButton, {}, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(plan, &wheel);
    QVERIFY(plan->Zoom() > 1.5);
    const PlanPoint after = plan->ToPlan(at);
    QVERIFY(std::abs(after.x - before.x) < 1e-6 && std::abs(after.y - before.y) < 1e-6);

    const struct {
      std::size_t selected;
      int plotted;
      QString note;
    } counts[] = {{1, 1, {}}, {8, 8, {}}, {12, 8, "Showing 8 of the 12 selected wires"}};
    for (const auto& c : counts) {
      std::vector<std::size_t> chosen(c.selected);
      std::iota(chosen.begin(), chosen.end(), 0);
      view->SelectWires(chosen);
      QCOMPARE(view->Plot()->WireNames().size(), c.plotted);
      QVERIFY2(view->Plot()->Note().startsWith(c.note), qPrintable(view->Plot()->Note()));
    }
  }

  // Compute and the exports are refused with a reason until there is something to compute or
  // export; a changed option marks the results out of date until Compute; a failed
  // computation and a failed export say so over the earlier figures and go once a later one
  // succeeds; a package without wires is not computed.
  void bannersAndCommands() {
    QTemporaryDir dir;
    auto view = MakeView();
    auto* compute = view->findChild<QPushButton*>("Compute");
    QPushButton* export_table = nullptr;
    for (auto* b : view->findChildren<QPushButton*>()) {
      if (b->text() == "Export &Table...") export_table = b;
    }
    QVERIFY(!compute->isEnabled() && compute->toolTip().contains("Process Data"));
    QVERIFY(!export_table->isEnabled() && export_table->toolTip().startsWith("Nothing to export"));
    view->SetEstimation(example_);
    QVERIFY(Ended(*view));
    QVERIFY(compute->isEnabled() && export_table->isEnabled() && view->Banners().isEmpty());
    auto* depth = view->findChild<QDoubleSpinBox*>("GroundDepth");
    auto* eps_r = view->findChild<QDoubleSpinBox*>("EpsR");
    auto press_compute = [&] {
      QTest::mouseClick(compute, Qt::LeftButton);
      QVERIFY(Ended(*view));
    };
    auto empty = std::make_shared<Estimation>(*example_);
    empty->wires.clear();
    const struct {
      const char* name;
      std::function<void()> act;
      QStringList banners;  // the start of each
    } steps[] = {
        {"deeper plane",
         [&] { depth->setValue(80); },
         {"Out of date: the results shown were computed before a change of the ground plane "
          "depth (50 µm then, 80 µm now). Press Compute"}},
        {"Compute", press_compute, {}},
        {"failing computation",
         [&] {
           fail_ = true;
           eps_r->setValue(2);
           press_compute();
           fail_ = false;
         },
         {"The model could not be computed: no solution. The figures shown belong to the "
          "previous run.",
          "Out of date"}},
        {"export into no folder",
         [&] {
           chooser_.answers = {dir.filePath("none/t.csv")};
           view->ExportTable();
         },
         {"The model could not", "Out of date", "Not written: "}},
        {"export that works",
         [&] {
           chooser_.answers = {dir.filePath("t.csv")};
           view->ExportTable();
         },
         {"The model could not", "Out of date"}},
        {"Compute again", press_compute, {}},
        {"package without wires", [&] { view->SetEstimation(empty); }, {"Out of date"}},
    };
    for (const auto& step : steps) {
      step.act();
      const QStringList banners = view->Banners();
      QVERIFY2(banners.size() == step.banners.size(), step.name);
      for (int i = 0; i < banners.size(); ++i) {
        QVERIFY2(banners[i].startsWith(step.banners[i]), qPrintable(banners[i]));
      }
      QCOMPARE(view->findChild<QLabel*>("Banner")->isVisible(), !banners.isEmpty());
    }
    QCOMPARE(eps_r->value(), 2.0);
    QCOMPARE(view->Table()->model().options.eps_r, 2.0);
    QVERIFY(!compute->isEnabled() && compute->toolTip().contains("no wires"));
    QVERIFY(view->Status().contains("no wires") && !view->Busy());
    QVERIFY(!view->Plan()->grab().isNull() && !view->Map()->grab().isNull());
  }

  // Tab leaves the table; Ctrl+1 to 5 reach the table, plot, map, plan and notes, Ctrl+Shift+S
  // the Sort by box, whose arrow keys sort the table as a header click does.
  void keyboard() {
    auto view = MakeView();
    view->SetEstimation(example_);
    QVERIFY(Ended(*view));
    view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(view.get()));
    view->TableView()->setFocus();
    QTest::keyClick(view->TableView(), Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != view->TableView());
    auto* sort = view->findChild<QComboBox*>("SortColumn");
    const std::pair<QKeyCombination, QWidget*> keys[] = {
        {QKeyCombination(Qt::CTRL, Qt::Key_2), view->Plot()},
        {QKeyCombination(Qt::CTRL, Qt::Key_3), view->Map()},
        {QKeyCombination(Qt::CTRL, Qt::Key_4), view->Plan()},
        {QKeyCombination(Qt::CTRL, Qt::Key_5), view->findChild<QListWidget*>("Notes")},
        {QKeyCombination(Qt::CTRL, Qt::Key_1), view->TableView()},
        {QKeyCombination(Qt::CTRL | Qt::SHIFT, Qt::Key_S), sort},
    };
    for (const auto& [key, widget] : keys) {
      QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
      QCOMPARE(QApplication::focusWidget(), widget);
      QVERIFY(widget->isVisible());
    }
    sort->setCurrentIndex(ColumnOf(*view, "L loop"));  // one above it: "report order" is first
    QTest::keyClick(sort, Qt::Key_Down);
    QTest::keyClick(view->findChild<QComboBox*>("SortOrder"), Qt::Key_Down);
    const QStringList loop = Shown(*view, "L loop");
    for (int r = 1; r < loop.size(); ++r) QVERIFY(loop[r - 1].toDouble() >= loop[r].toDouble());
    QVERIFY(loop.first().toDouble() > loop.last().toDouble());
    // In the map the arrow keys move from the first pad's cell by its neighbour; Enter selects.
    const DieSide top = DieSides(example_->package, example_->wires).front();
    view->SelectWires({top.wires[0]});
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_3, Qt::ControlModifier);
    for (Qt::Key key : {Qt::Key_Right, Qt::Key_Right, Qt::Key_Down, Qt::Key_Return}) {
      QTest::keyClick(view->Map(), key);
    }
    std::vector<std::size_t> chosen = view->SelectedWires();  // in the table's order
    std::sort(chosen.begin(), chosen.end());
    QCOMPARE(chosen, (std::vector<std::size_t>{top.wires[1], top.wires[3]}));
  }

  // Cancel during a recompute: the progress showed, the previous results stay as they were.
  void cancelKeepsResults() {
    auto view = MakeView();
    view->SetEstimation(example_);
    QVERIFY(Ended(*view));
    const PhysicalTable* before = view->Table();
    const QStringList loop_before = Shown(*view, "L loop");
    block_ = true;
    view->SetOptions({2e6, 2e9, 7, 80, 1});
    QTest::mouseClick(view->findChild<QPushButton*>("Compute"), Qt::LeftButton);
    QVERIFY(view->Busy());
    QTRY_COMPARE(view->findChild<QProgressBar*>()->value(), 16);  // half the first third
    QTest::mouseClick(view->findChild<QPushButton*>("CancelModel"), Qt::LeftButton);
    QVERIFY(Ended(*view));
    block_ = false;
    QVERIFY(!view->Busy());
    QCOMPARE(view->Table(), before);
    QCOMPARE(Shown(*view, "L loop"), loop_before);
    QVERIFY(view->Status().startsWith("Cancelled"));
    // The options went to the computation and into the user's configuration.
    QVERIFY(qFuzzyCompare(asked_.back().ground_depth_m, 80e-6));
    QCOMPARE(asked_.back().frequencies_hz.size(), std::size_t(8));  // and 1 GHz of the settings
    QCOMPARE(MakeView()->Options(), (ViewOptions{2e6, 2e9, 7, 80, 1}));
  }

  // A package estimated to take longer than a few seconds waits for Compute.
  void largePackageOnDemand() {
    auto view = MakeView();
    auto large = std::make_shared<Estimation>();
    large->wires.resize(4000);
    for (std::size_t i = 0; i < large->wires.size(); ++i)
      large->wires[i].Name = "W" + std::to_string(i);
    large->params.Frequency = 1e9f;
    const std::size_t asked = asked_.size();
    view->SetEstimation(large);
    QVERIFY(!view->Busy());
    QCOMPARE(asked_.size(), asked);
    QVERIFY(view->Status().contains("press Compute"));
    // One bar over the stages, rising: a third each for the inductance, the proximity
    // correction and the capacitance.
    auto* bar = view->findChild<QProgressBar*>();
    QStringList shown;
    connect(bar, &QProgressBar::valueChanged, this,
            [&](int value) { shown << bar->format().replace("%p", QString::number(value)); });
    QTest::mouseClick(view->findChild<QPushButton*>("Compute"), Qt::LeftButton);
    QVERIFY(Ended(*view));
    QCOMPARE(view->TableView()->model()->rowCount(), 4000);
    QCOMPARE(shown,
             (QStringList{"0%", "inductance: 16% of the model", "inductance: 33% of the model",
                          "proximity: 66% of the model", "capacitance: 73% of the model",
                          "capacitance: 100% of the model"}));
  }

  // Table as CSV, plot as SVG and PNG.
  void exports() {
    QTemporaryDir dir;
    auto view = MakeView();
    view->SetEstimation(example_);
    QVERIFY(Ended(*view));
    chooser_.answers = {dir.filePath("t.csv"), dir.filePath("p.svg"), dir.filePath("p.png"),
                        dir.filePath("plan.svg"), dir.filePath("plan.png")};
    view->ExportTable();
    view->ExportPlot();
    view->ExportPlot();
    view->ExportPlan();
    view->ExportPlan();
    // Both pictures' SVG text in the CSS generic family, at the PNG's pixel size.
    const int pixels = DrawingFont(view->font()).pixelSize();
    QVERIFY(pixels > 6);
    for (const char* name : {"p.svg", "plan.svg"}) {
      QFile file(dir.filePath(name));
      QVERIFY(file.open(QIODevice::ReadOnly));
      const QByteArray text = file.readAll();
      QVERIFY2(text.contains("font-family=\"sans-serif\"") &&
                   text.contains(QStringLiteral("font-size=\"%1\"").arg(pixels).toUtf8()),
               text.left(3000).constData());
    }
    QCOMPARE(QImage(dir.filePath("plan.png")).size(), QSize(1800, 1520));
    QFile csv(dir.filePath("t.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), int(example_->wires.size()) + 2);
    QVERIFY(lines[1].startsWith("name,kind,net,role,length_um,"));
    QFile svg(dir.filePath("p.svg"));
    QVERIFY(svg.open(QIODevice::ReadOnly) && svg.readAll().contains("<svg"));
    QCOMPARE(QImage(dir.filePath("p.png")).size(), QSize(1800, 1280));
    // Two selected rows on the clipboard: the header line with units, then one line per wire.
    view->TableView()->selectRow(0);
    view->TableView()->selectionModel()->select(
        view->TableView()->model()->index(3, 0),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->CopyRows();
    const QStringList copied = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(copied.size(), 3);
    QVERIFY(copied[0].startsWith("Wire\tKind\tNet\tRole\tLength (µm)\t"));
    QVERIFY(copied[2].startsWith(QString::fromStdString(example_->wires[3].Name) + '\t'));
  }

  // A wire bonded twice (pad T1b a copy of T1 with its finger and wire) through the real model:
  // the view shows both, and their side's map and the plot paint whatever k they get.
  void showsAWireBondedTwice() {
    QTemporaryDir dir;
    QVERIFY(QFile::copy(QStringLiteral(OSTREL_EXAMPLES_DIR "/AAAc.zv"), dir.filePath("AAAc.zv")));
    QFile tmv(QStringLiteral(OSTREL_EXAMPLES_DIR "/AAAc.tmv"));
    QVERIFY(tmv.open(QIODevice::ReadOnly));
    QByteArray text = tmv.readAll();
    for (const QByteArray line : {QByteArray("CBP T1 -545 1420 0 70 90 0 T VSS\r\n"),
                                  QByteArray("SBP T1 -735.8 2050 0 80 200 0 GOLD\r\n"),
                                  QByteArray("WB T1 -545 1420 0 -735.8 2050 200 0\r\n")}) {
      QVERIFY(text.contains(line));
      text.replace(line, line + QByteArray(line).replace(" T1 ", " T1b "));
    }
    QFile copy(dir.filePath("AAAc.tmv"));
    QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(text) == text.size());
    copy.close();
    Workspace ws;
    StartUp(ws, dir.filePath("AAAc.zv").toStdString());
    RunEstimation(ws);
    QCOMPARE(ws.Wires.size(), example_->wires.size() + 1);
    PhysicalView view(chooser_, &RunPhysicalStudy);
    view.resize(1280, 800);
    view.show();
    view.SetEstimation(std::make_shared<Estimation>(Estimation{ws.package, ws.Wires, ws.params}));
    QVERIFY(Ended(view));
    QCOMPARE(view.TableView()->model()->rowCount(), int(ws.Wires.size()));
    int bonded_twice = 0;
    for (std::size_t w = 0; w < ws.Wires.size(); ++w) {
      const QString name = QString::fromStdString(ws.Wires[w].Name);
      if (name != "T1" && name != "T1b") continue;
      ++bonded_twice;
      view.TableView()->selectRow(int(w));  // report order: row = wire
      QCOMPARE(view.Plot()->WireNames(), QStringList{name});
      QVERIFY(!view.Map()->grab().isNull() && !view.Plot()->grab().isNull());
      QVERIFY(view.Map()->Title().startsWith("Base die, top") && view.Map()->Selected() >= 0);
      QCOMPARE(view.Plan()->Selected(), std::vector<std::size_t>{w});
    }
    QCOMPARE(bonded_twice, 2);
    // The plan draws both along one path, and a click on it selects the first of them.
    const PlanScene& scene = view.Plan()->Scene();
    const auto t1 = std::find(scene.names.begin(), scene.names.end(), "T1") - scene.names.begin();
    const auto t1b = std::find(scene.names.begin(), scene.names.end(), "T1b") - scene.names.begin();
    QVERIFY(t1 < t1b && t1b < std::ptrdiff_t(scene.names.size()));
    QCOMPARE(scene.paths[std::size_t(t1)], scene.paths[std::size_t(t1b)]);
    QVERIFY(scene.joined[std::size_t(t1)] && scene.joined[std::size_t(t1b)]);
    const auto& path = scene.paths[std::size_t(t1)];
    QCOMPARE(NearestWire(scene, {(path[0].x + path[1].x) / 2, (path[0].y + path[1].y) / 2}, 1),
             int(t1));
  }

  // Figures no healthy model gives (NaN, infinities, equal bounds, a coupling map short of
  // figures) still make a colour, bounded ticks and an axis with lo < hi.
  void scalesTakeAnyFigure() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QColor pale = CouplingColour(0), dark = CouplingColour(1);
    const struct {
      double fraction;
      QColor colour;
    } colours[] = {{nan, pale}, {-inf, pale}, {-0.5, pale}, {inf, dark}, {7, dark}};
    for (const auto& row : colours) QCOMPARE(CouplingColour(row.fraction), row.colour);
    const struct {
      double lo, hi;
      bool log;
    } bounds[] = {{nan, nan, false},     {inf, inf, false},    {-inf, inf, true},
                  {2, 2, false},         {2, 2, true},         {0, 0, true},
                  {1e308, 1e308, false}, {1e308, 1e308, true}, {-1e308, 1e308, false},
                  {5, 1, false}};
    for (const auto& row : bounds) {
      const std::string name = std::to_string(row.lo) + " " + std::to_string(row.hi);
      const AxisRange axis = ValueAxisRange(row.lo, row.hi, row.log);
      QVERIFY2(std::isfinite(axis.lo) && std::isfinite(axis.hi) && axis.lo < axis.hi &&
                   (!row.log || axis.lo > 0),
               name.c_str());
      const std::vector<double> ticks =
          row.log ? LogTicks(axis.lo, axis.hi) : LinearTicks(axis.lo, axis.hi);
      QVERIFY2(ticks.size() < 1000, name.c_str());
      for (double t : ticks) {
        QVERIFY2(t >= axis.lo * (1 - 1e-9) && t <= axis.hi * (1 + 1e-9), name.c_str());
      }
      QVERIFY2(LogTicks(row.lo, row.hi).size() < 1000 && LinearTicks(row.lo, row.hi).size() < 1000,
               name.c_str());
    }
    QVERIFY(LinearTicks(2, 2).empty() && LogTicks(0, 10).empty() && LogTicks(-1, nan).empty());
    // The map of two coincident wires and a third whose figures are missing or infinite.
    CouplingMap map;
    QImage image(400, 400, QImage::Format_RGB32);
    for (const std::vector<double>& k : {std::vector<double>{1, 1, nan, 1, 1, inf, nan, inf, 1},
                                         std::vector<double>{1, nan, nan, 1},
                                         std::vector<double>(9, 0.0), std::vector<double>{}}) {
      map.SetSide(QStringLiteral("side"), {"A", "B", "C"}, k);
      // A shared scale that is missing, zero or infinite gives way to the side's own.
      for (const double top : {nan, 0.0, inf, -1.0, 0.5}) {
        map.SetScaleMax(top);
        QVERIFY(std::isfinite(map.ScaleMax()) && map.ScaleMax() >= 0);
        QCOMPARE(map.ScaleMax(), top == 0.5 ? 0.5 : map.SideLargest());
        QPainter painter(&image);
        map.Paint(painter, QRectF(0, 0, 400, 400));
      }
    }
  }

  // A sweep ending at a decade ("10 GHz", "1 GHz") puts its last label inside the picture:
  // ink in the plot's lower right corner, none in its last columns, at any width.
  void lastFrequencyLabelIsWhole() {
    for (const double f_hi : {1e10, 1e9}) {
      WireSweep sweep;
      for (double f = 1e6; f <= f_hi * 1.0001; f *= 10) {
        sweep.frequency_hz.push_back(f);
        sweep.resistance_mohm.push_back(50 + f / 1e8);
        sweep.loop_nh.push_back(1);
      }
      FrequencyPlot plot;
      plot.SetWires({{"W1", sweep, 60, 0.9, 0.8, 1.1}}, 1e9, 1);
      for (const int width : {300, 640, 1200}) {
        QImage image(width, 400, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        plot.Paint(painter, QRectF(0, 0, width, 400));
        painter.end();
        auto ink = [&](int x0, int x1, int y0, int y1) {
          for (int x = x0; x < x1; ++x) {
            for (int y = y0; y < y1; ++y) {
              if (qGray(image.pixel(x, y)) < 128) return true;
            }
          }
          return false;
        };
        const QString at = QStringLiteral("%1 Hz, %2 px").arg(f_hi).arg(width);
        QVERIFY2(!ink(width - 2, width, 0, 400), qPrintable(at));
        QVERIFY2(ink(width - 60, width - 2, 320, 400), qPrintable(at));
      }
    }
  }

  // Through the main window and the real model: Process Data, then the command beside Export.
  void opensAfterProcessData() {
    QTemporaryDir dir;
    for (const char* name : {"AAAc.zv", "AAAc.tmv"}) {
      QVERIFY(QFile::copy(QStringLiteral(OSTREL_EXAMPLES_DIR "/") + name, dir.filePath(name)));
    }
    MainWindow window(std::make_unique<FakeChooser>());
    window.logic().StartUp(dir.filePath("AAAc.zv").toStdString());
    window.show();
    QTest::mouseClick(window.findChild<QPushButton*>("CMD2"), Qt::LeftButton);
    QTest::mouseClick(window.findChild<QPushButton*>("PhysicalView"), Qt::LeftButton);
    PhysicalView* view = window.physicalView();
    QVERIFY(view && view->isVisible());
    QVERIFY(Ended(*view));
    QCOMPARE(view->TableView()->model()->rowCount(), int(example_->wires.size()));
    QVERIFY(view->Status().contains("wires;"));
    // The model's notes and the stitches through S3 and S6 are listed under the table.
    const auto* notes = view->findChild<QListWidget*>("Notes");
    QVERIFY(notes->isVisible());
    QVERIFY(
        !notes->findItems("2 wire pairs touch or overlap: S3/(S3:T5) -25.0 um", Qt::MatchStartsWith)
             .isEmpty());
    // The ground net's tab: VSS's four wires in parallel at each frequency, R near a quarter of
    // theirs and L below the least of theirs.
    const QTableWidget* nets = view->NetTable();
    const PhysicalTable& table = *view->Table();
    auto* panes = view->findChild<QTabWidget*>("Panes");
    QVERIFY(panes->isTabVisible(panes->indexOf(nets->parentWidget())));
    QCOMPARE(nets->rowCount(), int(table.model().results.size()));
    std::vector<WireSweep> vss;
    for (std::size_t w = 0; w < table.RowCount(); ++w) {
      if (table.NetOf(w).name == "VSS") vss.push_back(table.Sweep(w));
    }
    QCOMPARE(vss.size(), std::size_t(4));
    for (int f = 0; f < nets->rowCount(); f += nets->rowCount() - 1) {
      QCOMPARE(nets->item(f, 0)->text() + nets->item(f, 1)->text() + nets->item(f, 2)->text(),
               QStringLiteral("VSSground4"));
      double r_lo = 1e300, r_hi = 0, l_lo = 1e300;
      for (const WireSweep& s : vss) {
        r_lo = std::min(r_lo, s.resistance_mohm[std::size_t(f)]);
        r_hi = std::max(r_hi, s.resistance_mohm[std::size_t(f)]);
        l_lo = std::min(l_lo, s.partial_nh[std::size_t(f)]);
      }
      const double r = nets->item(f, 4)->text().toDouble(), l = nets->item(f, 5)->text().toDouble();
      QVERIFY(r > 0.9 * r_lo / 4 && r < 1.1 * r_hi / 4);
      QVERIFY(l > 0 && l < l_lo);
    }

    // No access key of the view is one of the main window's.
    QMap<QString, QString> owner;
    for (QWidget* top : {static_cast<QWidget*>(&window), static_cast<QWidget*>(view)}) {
      for (QWidget* control : top->findChildren<QWidget*>()) {
        if (control->window() != top) continue;
        const QString text = AccessKeyText(control);
        const QString key = QKeySequence::mnemonic(text).toString();
        if (key.isEmpty()) continue;
        QVERIFY2(!owner.contains(key), qPrintable(text + " shares " + key + " with " + owner[key]));
        owner[key] = text;
      }
    }
    // A new Process Data updates the open view but leaves the keyboard with the main window.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::mouseClick(window.findChild<QPushButton*>("CMD2"), Qt::LeftButton);
    QVERIFY(Ended(*view));
    QCOMPARE(QApplication::activeWindow(), &window);
    // Esc in the table and Ctrl+W in the name filter close the view; Physical View opens it
    // again.
    const std::pair<QWidget*, QKeyCombination> closers[] = {
        {view->TableView(), QKeyCombination(Qt::Key_Escape)},
        {view->findChild<QLineEdit*>("NameFilter"), QKeyCombination(Qt::CTRL, Qt::Key_W)}};
    for (const auto& [widget, key] : closers) {
      QTest::keyClick(widget, key.key(), key.keyboardModifiers());
      QVERIFY(!view->isVisible());
      QTest::mouseClick(window.findChild<QPushButton*>("PhysicalView"), Qt::LeftButton);
      QVERIFY(view->isVisible());
    }

    // A Process Data that fails (a side with one pad) says so over the earlier results.
    QFile package(dir.filePath("AAAc.tmv"));
    QVERIFY(package.open(QIODevice::ReadOnly));
    QByteArray text = package.readAll();
    package.close();
    for (const char* pad :
         {"CBP T2 ", "CBP T3 ", "CBP T4 ", "CBP T5 ", "CBP T6 ", "CBP T7 ", "CBP T8 "}) {
      text.replace(pad, "XXX ");
    }
    QVERIFY(package.open(QIODevice::WriteOnly | QIODevice::Truncate));
    package.write(text);
    package.close();
    QTest::mouseClick(window.findChild<QPushButton*>("CMD2"), Qt::LeftButton);
    const QString banner = view->Banners().join('\n');
    QVERIFY2(banner.startsWith("Process Data failed: ") && banner.contains("top (T) side") &&
                 banner.contains("previous run") && view->findChild<QLabel*>("Banner")->isVisible(),
             qPrintable(banner));
  }
};

int main(int argc, char** argv) {
  // The view's options go to a configuration of the test's own.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  QApplication app(argc, argv);
  PhysicalViewTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "physical_view_test.moc"
