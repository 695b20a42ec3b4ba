// The physical view driven as a user drives it, on the bundled example's wires, with a model of
// known figures in place of the computation (so that sorting, coupling and cancelling are
// checked against values set here), and once through the main window with the real model.

#include "ui/physical_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <limits>
#include <thread>

#include "access_keys.h"
#include "app/workspace.h"
#include "base/stage_error.h"
#include "ui/main_window.h"
#include "ui/physical_plot.h"

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
// its own kind, none across kinds. R(f) = R_dc (1 + f / 1 GHz), L_int = 0.05 nH.
physical::Model KnownModel(const WireList& wires, const physical::Options& options) {
  physical::Model m;
  const std::size_t n = wires.size();
  m.options = options;
  m.loop_inductance_h = {n, true, std::vector<double>(n * n, 0.0), {}};
  auto self = [](std::size_t i) { return (1 + static_cast<double>(i) / 10) * 1e-9; };
  std::vector<std::string> kinds;
  for (const Wire& w : wires) kinds.push_back(KindName(w));
  for (std::size_t i = 0; i < n; ++i) {
    physical::Conductor c{wires[i].Name, WireKind::kBaseDie, {}, 12.7e-6, 2.2e-8, 1e-3};
    m.conductors.push_back(c);
    for (std::size_t j = 0; j < n; ++j) {
      const double k = kinds[i] == kinds[j] ? std::pow(0.5, std::abs(double(i) - double(j))) : 0;
      m.loop_inductance_h.values[i * n + j] = k * std::sqrt(self(i) * self(j));
    }
  }
  const double r_dc = 2.2e-8 * 1e-3 / (M_PI * 12.7e-6 * 12.7e-6);
  for (double f : options.frequencies_hz) {
    m.results.push_back(
        {f, std::vector<double>(n, r_dc * (1 + f / 1e9)), std::vector<double>(n, 0.05e-9)});
  }
  return m;
}

}  // namespace

class PhysicalViewTest : public QObject {
  Q_OBJECT

  FakeChooser chooser_;
  std::shared_ptr<const Estimation> example_;
  std::vector<physical::Options> asked_;  // what each computation was asked for
  std::atomic<bool> block_{false};        // the next computation waits for its cancel

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
      return PhysicalStudy{KnownModel(wires, options), {}, {}};
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
    struct Case {
      const char* name;
      int kind;  // index in the kind box: 0 all, 1 base, 2 stacked, 3 stitch
      std::function<bool(const Wire&)> keeps;
    } cases[] = {
        {"T", 0,
         [](const Wire& w) {
           return QString::fromStdString(w.Name).contains('T', Qt::CaseInsensitive);
         }},
        {"t?", 1,
         [](const Wire& w) {
           return !w.StackWire && !w.StitchWire && w.Name.size() == 2 && w.Name[0] == 'T';
         }},
        {"", 3, [](const Wire& w) { return w.StitchWire; }},
        {"", 2, [](const Wire& w) { return w.StackWire && !w.StitchWire; }},
    };
    for (const Case& c : cases) {
      view->findChild<QComboBox*>("KindFilter")->setCurrentIndex(c.kind);
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
      QVERIFY(!expected.isEmpty());
      QCOMPARE(shown, expected);
    }
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
    QTRY_COMPARE(view->findChild<QProgressBar*>()->value(), 50);
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
    large->wires.resize(3000);
    for (std::size_t i = 0; i < large->wires.size(); ++i)
      large->wires[i].Name = "W" + std::to_string(i);
    large->params.Frequency = 1e9f;
    const std::size_t asked = asked_.size();
    view->SetEstimation(large);
    QVERIFY(!view->Busy());
    QCOMPARE(asked_.size(), asked);
    QVERIFY(view->Status().contains("press Compute"));
    QTest::mouseClick(view->findChild<QPushButton*>("Compute"), Qt::LeftButton);
    QVERIFY(Ended(*view));
    QCOMPARE(view->TableView()->model()->rowCount(), 3000);
  }

  // Table as CSV, plot as SVG and PNG.
  void exports() {
    QTemporaryDir dir;
    auto view = MakeView();
    view->SetEstimation(example_);
    QVERIFY(Ended(*view));
    chooser_.answers = {dir.filePath("t.csv"), dir.filePath("p.svg"), dir.filePath("p.png")};
    view->ExportTable();
    view->ExportPlot();
    view->ExportPlot();
    QFile csv(dir.filePath("t.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), int(example_->wires.size()) + 2);
    QVERIFY(lines[1].startsWith("name,kind,length_um,"));
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
    QVERIFY(copied[0].startsWith("Wire\tKind\tLength (µm)\t"));
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
    }
    QCOMPARE(bonded_twice, 2);
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
      QPainter painter(&image);
      map.Paint(painter, QRectF(0, 0, 400, 400));
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
    // The stitches through S3 and S6 are listed under the table.
    const QLabel* clearance = view->findChild<QLabel*>("Clearance");
    QVERIFY(clearance->isVisible());
    QVERIFY(clearance->text().startsWith("2 wire pairs touch or overlap: S3/(S3:T5) -25.0 um"));

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
    QVERIFY2(view->Status().startsWith("Process Data failed: ") &&
                 view->Status().contains("top (T) side") && view->Status().contains("earlier"),
             qPrintable(view->Status()));
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
