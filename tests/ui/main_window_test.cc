// The window driven as a user drives it — clicks, key strokes, commands — with the file dialog
// replaced by a fake, on copies of the bundled example.

#include "ui/main_window.h"
#include "ui/report_view.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <deque>
#include <fstream>
#include <sstream>

#include "app/workspace.h"
#include "ui/schematic_widget.h"

using ostrel::ui::FileDialogRequest;
using ostrel::ui::LoopSchematic;
using ostrel::ui::MainWindow;
using ostrel::ui::ReportView;

namespace {

// Answers file dialogs from a queue (an empty answer is a cancel) and keeps every request.
class FakeChooser : public ostrel::ui::FileChooser {
 public:
  std::deque<std::optional<std::string>> answers;
  std::vector<FileDialogRequest> requests;

  std::optional<std::string> Choose(const FileDialogRequest& request) override {
    requests.push_back(request);
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

std::string ReadFile(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const QString& path, const std::string& text) {
  std::ofstream(path.toStdString(), std::ios::binary) << text;
}

// The bundled package with its stacked die and stitches left out.
std::string WithoutStackedDie(const std::string& package) {
  std::istringstream in(package);
  std::string out, line;
  while (std::getline(in, line)) {
    if (line.rfind("SD_CBP", 0) == 0 || line.rfind("STCH", 0) == 0) continue;
    if (line.rfind("SBP S", 0) == 0 || line.rfind("WB S", 0) == 0) continue;
    out += line + "\n";
  }
  return out;
}

QString Lines(const std::vector<const char*>& lines) {
  QString text;
  for (const char* line : lines) text += QString::fromLatin1(line) + QLatin1Char('\n');
  return text;
}

// The settings text of the bundled example after start-up, CR LF shown as line ends.
const std::vector<const char*> kExampleSettings = {
    "TMVFile=AAAc.tmv",         "Material=Au",
    "WireDiameter=1.000",       "WireDistance=165.000",
    "Frequency=1000000000.000", "BaseLoopHeight=200.000",
    "BaseExtension=250.000",    "StackLoopHeight=180.000",
    "StackExtension=-1.000",    "StichExtension=100.000"};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::unique_ptr<MainWindow> window_;
  FakeChooser* chooser_ = nullptr;

  QString Path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }
  template <typename T>
  T* Get(const QString& name) const {
    T* widget = window_->findChild<T*>(name);
    if (!widget) qFatal("no control %s", qPrintable(name));
    return widget;
  }
  QRadioButton* Option(const char* name) const { return Get<QRadioButton>(QLatin1String(name)); }
  QLineEdit* Edit(const char* name) const { return Get<QLineEdit>(QLatin1String(name)); }
  QPushButton* Command(int i) const { return Get<QPushButton>(QStringLiteral("CMD%1").arg(i)); }
  QString View() const { return Get<ReportView>(QStringLiteral("Vu"))->PlainText(); }
  const LoopSchematic& Schematic() const {
    return Get<ostrel::ui::SchematicWidget>(QStringLiteral("Pic"))->schematic();
  }
  bool ViewHas(const char* line) const {
    return View().contains(QLatin1Char('\n') + QLatin1String(line) + QLatin1Char('\n')) ||
           View().startsWith(QLatin1String(line) + QLatin1Char('\n'));
  }
  // Clicks an option on its round indicator (a click right of its caption misses it).
  void Click(const char* option) const {
    QRadioButton* button = Option(option);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
  }
  // Replaces a box's text with `text` typed key by key, as a user does.
  void Retype(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
  }

  void StartWith(const std::string& argument) {
    auto chooser = std::make_unique<FakeChooser>();
    chooser_ = chooser.get();
    window_ = std::make_unique<MainWindow>(std::move(chooser));
    window_->logic().StartUp(
        ostrel::SettingsPathFor(argument, "/nonexistent", dir_.path().toStdString()));
    window_->resize(1100, 820);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

 private slots:
  void init() {
    QVERIFY(dir_.isValid());
    for (const char* name : {"AAAc.zv", "AAAc.tmv"}) {
      QFile::remove(Path(QLatin1String(name)));
      QVERIFY(QFile::copy(QStringLiteral(OSTREL_EXAMPLES_DIR "/") + QLatin1String(name),
                          Path(QLatin1String(name))));
    }
  }
  void cleanup() { window_.reset(); }

  // Start-up on the bundled example, named by a quoted relative argument: caption, Work Path,
  // frames, options read from the file, boxes, settings text and schematic.
  void startUpWithSettingsFile() {
    StartWith("\"AAAc.zv\"");
    QCOMPARE(window_->windowTitle(), QStringLiteral("Ostrel - 1.00.0 - AAAc.zv"));
    QCOMPARE(Get<QLabel>("L0")->text(), dir_.path() + "/");

    const std::pair<const char*, const char*> frames[] = {{"F0", "Material "},
                                                          {"F1", "Wire Diameter Mils "},
                                                          {"F2", "Base Loop Height "},
                                                          {"F3", "Frequency "},
                                                          {"F5", "Work Path "},
                                                          {"F6", "Base Loop Extension "},
                                                          {"F7", "Stitch Loop Extension "},
                                                          {"F8", "Stack Loop Height "},
                                                          {"F9", "Stacked Loop Extension "},
                                                          {"WireToWire", "Wire to Wire "}};
    for (const auto& [name, caption] : frames) {
      auto* frame = Get<QGroupBox>(QLatin1String(name));
      QCOMPARE(frame->title().remove(QLatin1Char('&')), QLatin1String(caption));
      QVERIFY2(frame->isEnabled(), name);
    }
    QVERIFY(Get<QGroupBox>("F4")->isEnabled());

    // 200 equals the base die height; the stacked values are compared with the stacked die's.
    for (const char* chosen : {"M0", "WD3", "FQ2", "LH0", "LH3", "LH5", "LH8", "LH10"}) {
      QVERIFY2(Option(chosen)->isChecked(), chosen);
    }
    QCOMPARE(Edit("FQc")->text(), QStringLiteral("1"));
    QCOMPARE(Edit("LEc1")->text(), QStringLiteral("150.000"));
    QCOMPARE(Edit("WtoW")->text(), QStringLiteral("165.000"));
    for (const char* box : {"LEc0", "LHc1", "LEc2", "FQc", "WtoW"}) {
      QVERIFY2(Edit(box)->isEnabled(), box);
    }
    for (const char* box : {"WDc", "LHc0", "LEc1"}) QVERIFY2(!Edit(box)->isEnabled(), box);
    for (int i = 0; i < 7; ++i) QVERIFY(Command(i)->isEnabled());

    QCOMPARE(View(), Lines(kExampleSettings));
    QVERIFY(Get<QListWidget>("SortLst")->count() > 1);

    const LoopSchematic& s = Schematic();
    QCOMPARE(s.Bbw[0].Y2, 1005.0f);   // 200 of a 200 die: the full 195 units
    QCOMPARE(s.Bbw[2].X1, 1503.75f);  // 250 at 0.975 units per micron
    QCOMPARE(s.sbw[0].Y2, 786.0f);    // 180 of a 150 die
    QCOMPARE(s.sbw[2].X1, 1455.0f);   // edge of the base die
    QCOMPARE(s.sbw[4].X1, 970.0f);    // stitch run of 100
    QCOMPARE(s.Die[1].Fill, ostrel::ui::kStackDieFill);
    QCOMPARE(s.sbw[4].Colour, ostrel::ui::kActiveLine);
  }

  // Without a settings file the window opens in its design state; Reset then fills the boxes
  // with the zero die heights, disables the panel and ends silently at the wire spacing.
  void startUpWithoutSettingsFileThenReset() {
    StartWith(Path("missing.zv").toStdString());
    QCOMPARE(window_->windowTitle(), QStringLiteral("Ostrel"));
    QCOMPARE(Get<QLabel>("L0")->text(), QString());
    QCOMPARE(View(), QString());
    for (const char* chosen : {"M0", "WD3", "FQ1", "LH0", "LH2", "LH4", "LH7", "LH9"}) {
      QVERIFY2(Option(chosen)->isChecked(), chosen);
    }
    QCOMPARE(Edit("WDc")->text(), QStringLiteral("1"));
    for (const char* box : {"WDc", "LHc0", "LHc1", "LEc0", "LEc1", "LEc2"}) {
      QVERIFY2(!Edit(box)->isEnabled(), box);
    }
    QVERIFY(Edit("FQc")->isEnabled() && Edit("WtoW")->isEnabled());
    for (int i = 0; i < 10; ++i) QVERIFY(Get<QGroupBox>(QStringLiteral("F%1").arg(i))->isEnabled());
    for (int i = 0; i < 5; ++i) QVERIFY(Command(i)->isEnabled());
    QCOMPARE(Schematic(), ostrel::ui::DesignSchematic());

    QTest::mouseClick(Command(ostrel::kReset), Qt::LeftButton);
    QVERIFY(window_->isVisible());
    for (const char* box : {"LHc0", "LHc1", "LEc0", "LEc1", "LEc2"}) {
      QCOMPARE(Edit(box)->text(), QStringLiteral("0.000"));
    }
    QCOMPARE(Edit("FQc")->text(), QStringLiteral("1.000"));
    for (int i = 0; i < 10; ++i) {
      QCOMPARE(Get<QGroupBox>(QStringLiteral("F%1").arg(i))->isEnabled(), i == 5);
    }
    QVERIFY(Command(ostrel::kLoad)->isEnabled() && Command(ostrel::kCancel)->isEnabled() &&
            Command(ostrel::kReset)->isEnabled());
    QVERIFY(!Command(ostrel::kProcessData)->isEnabled());
    QVERIFY(!Command(ostrel::kSave)->isEnabled());  // no settings file is named
    QCOMPARE(View(), QString());
    QCOMPARE(Schematic().Die[0].Fill, ostrel::ui::kGrey);
    QCOMPARE(Schematic().Bbw[0].Y2, 1020.0f);  // greyed where the design put it
  }

  // Clicks and key strokes drive the parameter set, the schematic and the settings text.
  void clicksAndKeystrokes() {
    StartWith(Path("AAAc.zv").toStdString());

    // A diameter option chosen with the mouse switches the box; each key stroke refreshes.
    Click("WD6");
    QVERIFY(Edit("WDc")->isEnabled());
    Edit("WDc")->setFocus();
    Edit("WDc")->selectAll();
    const std::pair<Qt::Key, const char*> strokes[] = {{Qt::Key_1, "WireDiameter=1.000"},
                                                       {Qt::Key_Period, "WireDiameter=1.000"},
                                                       {Qt::Key_5, "WireDiameter=1.500"}};
    for (const auto& [key, line] : strokes) {
      QTest::keyClick(Edit("WDc"), key);
      QVERIFY2(ViewHas(line), line);
    }
    QCOMPARE(Edit("WDc")->text(), QStringLiteral("1.5"));

    // Chosen from the keyboard, a diameter switches the box but waits for the next refresh.
    QTest::keyClick(Option("WD3"), Qt::Key_Space);
    QVERIFY(Option("WD3")->isChecked());
    QVERIFY(!Edit("WDc")->isEnabled());
    QVERIFY(ViewHas("WireDiameter=1.500"));

    // A typed distance waits too; releasing the mouse over the chosen option refreshes.
    Retype(Edit("WtoW"), QStringLiteral("200"));
    QVERIFY(ViewHas("WireDistance=165.000"));
    QTest::mouseRelease(Option("WD3"), Qt::RightButton);
    QVERIFY(ViewHas("WireDiameter=1.000"));
    QVERIFY(ViewHas("WireDistance=200.000"));

    Click("M2");
    QVERIFY(ViewHas("Material=Cu"));

    // Stacked extension: default follows the base die height, custom the box, edge gives -1.
    Click("LH4");
    QVERIFY(ViewHas("StackExtension=200.000"));
    QVERIFY(!Edit("LEc1")->isEnabled());
    Click("LH6");
    QVERIFY(Edit("LEc1")->isEnabled());
    QVERIFY(ViewHas("StackExtension=150.000"));
    QCOMPARE(Schematic().sbw[1].X2, 1035.0f);
    Click("LH5");
    QVERIFY(!Edit("LEc1")->isEnabled());
    QVERIFY(ViewHas("StackExtension=-1.000"));
    QCOMPARE(Schematic().sbw[1].X2, 1455.0f);

    // A custom stitch run of 0 starts the stitch drop right above the stacked-die pad.
    Retype(Edit("LEc2"), QStringLiteral("0"));
    QVERIFY(ViewHas("StichExtension=0.000"));
    QCOMPARE(Schematic().sbw[4].X1, 840.0f);

    // Frequency: unit options and a comma as the decimal point.
    Click("FQ1");
    QVERIFY(ViewHas("Frequency=1000000.000"));
    Retype(Edit("FQc"), QStringLiteral("1,5"));
    QVERIFY(ViewHas("Frequency=1500000.000"));

    // A custom base loop height with an empty box is 0: Process Data is disabled.
    Click("LH1");
    QVERIFY(Edit("LHc0")->isEnabled());
    QCOMPARE(Edit("LHc0")->text(), QStringLiteral("200.000"));
    QVERIFY(Command(ostrel::kProcessData)->isEnabled());
    Retype(Edit("LHc0"), QString());
    QVERIFY(ViewHas("BaseLoopHeight=0.000"));
    QVERIFY(!Command(ostrel::kProcessData)->isEnabled());
    QCOMPARE(Schematic().Bbw[0].Y2, 1200.0f);
    Click("LH0");
    QVERIFY(Command(ostrel::kProcessData)->isEnabled());
  }

  // Every command with the fake file dialog: cancelled and completed Load, Process Data,
  // Save without changing the caption, Apply and OK, Reset with a package, Cancel.
  // Export beside Save: each format through its own dialog, written from an estimation of the
  // current parameters, with the view and report left alone; a cancel writes nothing.
  void exports() {
    StartWith(Path("AAAc.zv").toStdString());
    const QString view = View();
    auto* button = Get<QPushButton>("Export");
    QVERIFY(button->isEnabled());
    const QList<QAction*> actions = button->menu()->actions();
    QCOMPARE(actions.size(), 4);
    const char* names[] = {"x.csv", "x.json", "x.cir", "x.svg"};
    for (int i = 0; i < 4; ++i) {
      chooser_->answers.push_back(Path(QLatin1String(names[i])).toStdString());
      actions[i]->trigger();
    }
    QCOMPARE(chooser_->requests[0].initial_name, Path("AAAc.zv.csv").toStdString());
    QCOMPARE(chooser_->requests[2].title, std::string("Export SPICE Subcircuit"));
    const std::string csv = ReadFile(Path("x.csv"));
    // A heading, then 31 base-die, 6 stacked-die and 3 stitch wires.
    QCOMPARE(static_cast<int>(std::count(csv.begin(), csv.end(), '\n')), 1 + 40);
    QVERIFY(ReadFile(Path("x.json")).find("\"T1\"") != std::string::npos);
    QVERIFY(ReadFile(Path("x.cir")).find(".subckt") != std::string::npos);
    QVERIFY(ReadFile(Path("x.svg")).find("<svg") != std::string::npos);
    QCOMPARE(View(), view);
    QVERIFY(!QFile::exists(Path("AAAc.zv.doc")));

    actions[0]->trigger();  // no answer: cancelled
    QVERIFY(!QFile::exists(Path("AAAc.zv.csv")));
    Click("WD6");
    Retype(Edit("WDc"), QStringLiteral("0"));
    QVERIFY(!button->isEnabled());  // follows Process Data
  }

  void commands() {
    StartWith(Path("AAAc.zv").toStdString());
    const QString caption = window_->windowTitle();

    // Cancelled Load: the view was emptied first; nothing else changes.
    QTest::mouseClick(Command(ostrel::kLoad), Qt::LeftButton);
    QCOMPARE(chooser_->requests.size(), std::size_t{1});
    FileDialogRequest load;
    load.mode = FileDialogRequest::Mode::kOpen;
    load.title = "Load ZV Setup File";
    load.filter = "ZV Files|*.zv|All Files|*.*";
    load.default_extension = "zv";
    load.initial_name = "*.zv";
    QVERIFY(chooser_->requests[0] == load);
    QCOMPARE(View(), QString());
    QCOMPARE(window_->windowTitle(), caption);

    // Load of another settings file in another folder, naming the same package.
    QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("other")));
    QVERIFY(QFile::copy(Path("AAAc.tmv"), Path("other/AAAc.tmv")));
    WriteFile(Path("other/B.zv"), "TMVFile=AAAc.tmv\r\nMaterial=Cu\r\nWireDiameter=2\r\n");
    chooser_->answers.push_back(Path("other/B.zv").toStdString());
    QTest::mouseClick(Command(ostrel::kLoad), Qt::LeftButton);
    QCOMPARE(window_->windowTitle(), QStringLiteral("Ostrel - 1.00.0 - B.zv"));
    QCOMPARE(Get<QLabel>("L0")->text(), Path("other/"));
    QVERIFY(Option("M2")->isChecked() && Option("WD6")->isChecked());
    QCOMPARE(Edit("WDc")->text(), QStringLiteral("2"));
    QVERIFY(ViewHas("WireDiameter=2.000"));

    // Process Data writes the report beside the settings file and shows it.
    QTest::mouseClick(Command(ostrel::kProcessData), Qt::LeftButton);
    const std::string report = ReadFile(Path("other/B.zv.doc"));
    QVERIFY(!report.empty());
    QCOMPARE(View(), QString::fromStdString(report).remove(QLatin1Char('\r')));
    QVERIFY(View().contains(QStringLiteral("Pad: ")));

    // Cancelled Save writes nothing; Save to a new name writes the settings text and keeps the
    // caption, the Work Path and the report path.
    QTest::mouseClick(Command(ostrel::kSave), Qt::LeftButton);
    QVERIFY(ViewHas("Material=Cu"));
    const FileDialogRequest& save = chooser_->requests.back();
    QVERIFY(save.mode == FileDialogRequest::Mode::kSave);
    QCOMPARE(save.title, std::string("Save ZV File"));
    QCOMPARE(save.filter, std::string("zv files|*.zv|all files|*.*"));
    QCOMPARE(save.default_extension, std::string("zv"));
    QCOMPARE(save.initial_name, Path("other/B.zv").toStdString());
    QVERIFY(save.overwrite_prompt);
    QVERIFY(!QFile::exists(Path("C.zv")));
    chooser_->answers.push_back(Path("C.zv").toStdString());
    QTest::mouseClick(Command(ostrel::kSave), Qt::LeftButton);
    const std::string saved = ReadFile(Path("C.zv"));
    QCOMPARE(QString::fromStdString(saved).remove(QLatin1Char('\r')), View());
    QVERIFY(saved.find("Material=Cu\r\n") != std::string::npos);
    QCOMPARE(window_->windowTitle(), QStringLiteral("Ostrel - 1.00.0 - B.zv"));
    QCOMPARE(Get<QLabel>("L0")->text(), Path("other/"));
    QFile::remove(Path("other/B.zv.doc"));
    QTest::mouseClick(Command(ostrel::kProcessData), Qt::LeftButton);
    QVERIFY(QFile::exists(Path("other/B.zv.doc")));
    QVERIFY(!QFile::exists(Path("C.zv.doc")));

    // Apply and OK do nothing.
    const QString before = View();
    const ostrel::ParameterSet params = window_->logic().workspace().params;
    Retype(Edit("WtoW"), QStringLiteral("10"));
    QTest::mouseClick(Command(5), Qt::LeftButton);
    QTest::mouseClick(Command(6), Qt::LeftButton);
    QCOMPARE(View(), before);
    QVERIFY(window_->logic().workspace().params == params);

    // Reset with the package: die heights into the boxes, design choices, default distance.
    QTest::mouseClick(Command(ostrel::kReset), Qt::LeftButton);
    for (const char* box : {"LHc0", "LHc1", "LEc0"})
      QCOMPARE(Edit(box)->text(), QStringLiteral("200.000"));
    for (const char* box : {"LEc1", "LEc2"}) QCOMPARE(Edit(box)->text(), QStringLiteral("150.000"));
    for (const char* chosen : {"M0", "WD3", "FQ1", "LH0", "LH2", "LH4", "LH7", "LH9"}) {
      QVERIFY2(Option(chosen)->isChecked(), chosen);
    }
    QCOMPARE(Edit("WtoW")->text(), QStringLiteral("165.000"));
    QCOMPARE(Edit("WDc")->text(), QStringLiteral("1"));
    QVERIFY(ViewHas("StackExtension=200.000"));

    QTest::mouseClick(Command(ostrel::kCancel), Qt::LeftButton);
    QVERIFY(!window_->isVisible());
  }

  // Every control and command is reached from the keyboard: the frames' and commands'
  // mnemonics, arrow keys within an option group, and typing.
  void keyboardOnly() {
    StartWith(Path("AAAc.zv").toStdString());
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    auto focused = [] { return QApplication::focusWidget(); };

    QTest::keyClick(window_.get(), Qt::Key_M, Qt::AltModifier);
    QCOMPARE(focused(), Option("M0"));
    QTest::keyClick(focused(), Qt::Key_Down);
    QVERIFY(Option("M1")->isChecked());
    QVERIFY(ViewHas("Material=Al"));

    QTest::keyClick(window_.get(), Qt::Key_X, Qt::AltModifier);  // Base Loop Extension
    QCOMPARE(focused(), Option("LH3"));
    QTest::keyClick(focused(), Qt::Key_Up);
    QVERIFY(Option("LH2")->isChecked());
    QVERIFY(!Edit("LEc0")->isEnabled());
    QVERIFY(ViewHas("BaseExtension=200.000"));

    QTest::keyClick(window_.get(), Qt::Key_A, Qt::AltModifier);  // the Distance label
    QCOMPARE(focused(), Edit("WtoW"));
    QTest::keyClick(window_.get(), Qt::Key_I, Qt::AltModifier);  // Stitch Loop Extension
    QCOMPARE(focused(), Option("LH10"));
    QTest::keyClick(focused(), Qt::Key_Tab);
    QCOMPARE(focused(), Edit("LEc2"));
    QTest::keyClicks(focused(), QStringLiteral("5"));
    QVERIFY(ViewHas("StichExtension=5.000"));  // Tab selects the box text; typing replaces it

    QTest::keyClick(window_.get(), Qt::Key_P, Qt::AltModifier);  // the button clicks shortly
    QTRY_VERIFY(View().startsWith(QStringLiteral("*Input File: AAAc.zv")));
    QVERIFY(QFile::exists(Path("AAAc.zv.doc")));
  }

  // A fault while the settings are read at start-up (here a package whose die side has one pad,
  // so that no wire distance follows) leaves the window open with what was read, titled.
  void startUpFaultIsSwallowed() {
    WriteFile(Path("one.tmv"), "COMPZ 300\nCBP A 0 100 0 70 90 0 T IO\n");
    WriteFile(Path("one.zv"), "TMVFile=one.tmv\r\nMaterial=Al\r\n");
    StartWith(Path("one.zv").toStdString());
    QVERIFY(window_->isVisible());
    QCOMPARE(window_->windowTitle(), QStringLiteral("Ostrel - 1.00.0 - one.zv"));
    QVERIFY(Get<QGroupBox>("F0")->isEnabled());  // the die height was read
    QVERIFY(Option("M0")->isChecked());          // the reading stopped before Material=
  }

  // A frequency too large for a single ends that refresh; the window keeps working.
  void frequencyOverflowEndsTheRefresh() {
    StartWith(Path("AAAc.zv").toStdString());
    Retype(Edit("FQc"), QStringLiteral("1e30"));
    // The view keeps the frequency of "1e3" Ghz, the last text that fitted.
    QVERIFY(ViewHas("Frequency=999999995904.000"));
    QCOMPARE(Edit("FQc")->text(), QStringLiteral("1e30"));
    Retype(Edit("FQc"), QStringLiteral("2"));
    QVERIFY(ViewHas("Frequency=2000000000.000"));
  }

  // Loading a package without a stacked die disables the stacked-die frames and greys the
  // stacked wires where the previous package left them.
  void packageWithoutStackedDie() {
    StartWith(Path("AAAc.zv").toStdString());
    const LoopSchematic stacked = Schematic();
    WriteFile(Path("flat.tmv"), WithoutStackedDie(ReadFile(Path("AAAc.tmv"))));
    WriteFile(Path("flat.zv"), "TMVFile=flat.tmv\r\nBaseLoopHeight=100\r\n");
    chooser_->answers.push_back(Path("flat.zv").toStdString());
    QTest::mouseClick(Command(ostrel::kLoad), Qt::LeftButton);

    for (int i = 0; i < 10; ++i) {
      QCOMPARE(Get<QGroupBox>(QStringLiteral("F%1").arg(i))->isEnabled(), i < 7);
    }
    QVERIFY(!Option("LH4")->isEnabled() && !Edit("LHc1")->isEnabled());
    QVERIFY(Option("LH1")->isChecked());
    QCOMPARE(View().count(QLatin1Char('\n')), 7);  // no stacked-die lines
    const LoopSchematic& s = Schematic();
    QCOMPARE(s.Die[1].Fill, ostrel::ui::kGrey);
    QCOMPARE(s.SBP[1].Colour, ostrel::ui::kGrey);
    QCOMPARE(s.sbw[2].X1, stacked.sbw[2].X1);
    QCOMPARE(s.sbw[2].Y1, stacked.sbw[2].Y1);
    QCOMPARE(s.sbw[2].Colour, ostrel::ui::kGrey);
    QCOMPARE(s.Bbw[0].Y2, 1102.5f);
    QCOMPARE(s.Bbw[0].Colour, ostrel::ui::kActiveLine);
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
