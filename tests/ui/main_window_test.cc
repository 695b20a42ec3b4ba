// The window driven as a user drives it — clicks, key strokes, commands — with the file dialog
// replaced by a fake, on copies of the bundled example.

#include "ui/main_window.h"

#include <sys/stat.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "access_keys.h"
#include "app/workspace.h"
#include "ui/report_view.h"
#include "ui/schematic_widget.h"

using namespace ostrel::ui;
using Mode = FileDialogRequest::Mode;

namespace {

// Answers file dialogs from a queue (an empty queue cancels) and keeps every request; answers
// "create the file?" from another queue (an empty one says yes).
class FakeChooser : public FileChooser {
 public:
  QStringList answers;
  QList<bool> create_answers;
  std::vector<FileDialogRequest> requests;

  std::optional<std::string> Choose(const FileDialogRequest& request) override {
    requests.push_back(request);
    if (answers.empty()) return std::nullopt;
    return answers.takeFirst().toStdString();
  }
  bool ConfirmCreate(const FileDialogRequest&, const std::string&) override {
    return create_answers.empty() || create_answers.takeFirst();
  }
};

QString ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void WriteFile(const QString& path, const QString& text) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(text.toUtf8());
}

// The settings text of the bundled example after start-up, CR LF shown as line ends.
const QString kExampleSettings = QStringLiteral(
    "TMVFile=AAAc.tmv\nMaterial=Au\nWireDiameter=1.000\nWireDistance=165.000\n"
    "Frequency=1000000000.000\nBaseLoopHeight=200.000\nBaseExtension=250.000\n"
    "StackLoopHeight=180.000\nStackExtension=-1.000\nStichExtension=100.000\n");

// The frames, custom boxes and commands whose enabled state the panel sets.
const char kControls[] =
    "F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 WDc FQc LHc0 LHc1 LEc0 LEc1 LEc2 WtoW "
    "CMD0 CMD1 CMD2 CMD3 CMD4 CMD5 CMD6 Export";
const char kBoxes[] = "WDc FQc LHc0 LHc1 LEc0 LEc1 LEc2 WtoW";
const char kOptions[] =
    "M0 M1 M2 WD0 WD1 WD2 WD3 WD4 WD5 WD6 FQ0 FQ1 FQ2 FQ3 "
    "LH0 LH1 LH2 LH3 LH4 LH5 LH6 LH7 LH8 LH9 LH10";

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::unique_ptr<MainWindow> window_;
  FakeChooser* chooser_ = nullptr;

  QString Path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }
  template <typename T = QWidget>
  T* Get(const QString& name) const {
    T* widget = window_->findChild<T*>(name);
    if (!widget) qFatal("no control %s", qPrintable(name));
    return widget;
  }
  QString View() const { return Get<ReportView>("Vu")->PlainText(); }
  QString WorkPath() const { return Get("L0")->property("text").toString(); }
  const LoopSchematic& Schematic() const { return Get<SchematicWidget>("Pic")->schematic(); }
  bool ViewHas(const char* line) const {
    return (QLatin1Char('\n') + View()).contains('\n' + QLatin1String(line) + '\n');
  }
  // The named controls whose `property` is `value` or, for a text, the controls' texts.
  QString Each(const char* names, const char* property, bool value = true) const {
    QStringList out;
    bool texts = false;
    for (const QString& name : QString::fromLatin1(names).split(' ')) {
      const QVariant v = Get(name)->property(property);
      texts = v.typeId() == QMetaType::QString;
      if (texts || v.toBool() == value) out << (texts ? v.toString() : name);
    }
    return out.join(texts ? '|' : ' ');
  }
  QString Chosen() const { return Each(kOptions, "checked"); }
  QString Disabled(const char* names = kControls) const { return Each(names, "enabled", false); }
  QString Texts(const char* names = kBoxes) const { return Each(names, "text"); }
  void Press(int command) {
    QTest::mouseClick(Get(QStringLiteral("CMD%1").arg(command)), Qt::LeftButton);
  }
  // Clicks an option on its round indicator (a click right of its caption misses it).
  void Click(const char* option) const {
    QWidget* button = Get(option);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
  }
  // Replaces a box's text with `text` typed key by key, as a user does.
  void Retype(const char* name, const QString& text) {
    auto* box = Get<QLineEdit>(name);
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
  }

  void StartWith(const QString& argument) {
    window_ =
        std::make_unique<MainWindow>(std::unique_ptr<FileChooser>(chooser_ = new FakeChooser));
    window_->logic().StartUp(
        ostrel::SettingsPathFor(argument.toStdString(), "/nonexistent", dir_.path().toStdString()));
    window_->resize(1100, 820);
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }

 private slots:
  void init() {
    QVERIFY(dir_.isValid());
    for (const char* name : {"AAAc.zv", "AAAc.tmv"}) {
      QFile::remove(Path(QLatin1String(name)));
      QVERIFY(QFile::copy(QStringLiteral(OSTREL_EXAMPLES_DIR "/") + QLatin1String(name),
                          Path(QLatin1String(name))));
    }
    // The bundled package without its stacked die and stitches.
    QString flat = ReadFile(Path("AAAc.tmv"));
    flat.remove(QRegularExpression(QStringLiteral("^(SD_CBP|STCH|SBP S|WB S)[^\n]*\n"),
                                   QRegularExpression::MultilineOption));
    WriteFile(Path("flat.tmv"), flat);
    WriteFile(Path("flat.zv"), "TMVFile=flat.tmv\r\nBaseLoopHeight=100\r\n");
    // A die side with one pad, so that no wire distance follows: reading stops there.
    WriteFile(Path("one.tmv"), "COMPZ 300\nCBP A 0 100 0 70 90 0 T IO\n");
    WriteFile(Path("one.zv"), "TMVFile=one.tmv\r\nMaterial=Al\r\n");
  }
  void cleanup() { window_.reset(); }

  // Start-up on a settings file: caption, Work Path, options and boxes read from the file,
  // enabled controls, settings text and schematic; a fault while reading is swallowed.
  void startUp_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("reset");  // Reset pressed after start-up
    // Caption, settings text, chosen options, box texts, disabled controls.
    QTest::addColumn<QStringList>("shown");
    // The base and the stacked wire's loop tops (y), and 1 for a stacked die drawn in colour.
    QTest::addColumn<QList<float>>("schematic");
    QTest::addColumn<int>("pads");  // entries in the list of ordered pads

    // 200 equals the base die height; the stacked values are compared with the stacked die's.
    QTest::newRow("bundled example, quoted relative argument")
        << "\"AAAc.zv\"" << false
        << QStringList{"Ostrel - 1.00.0 - AAAc.zv", kExampleSettings,
                       "M0 WD3 FQ2 LH0 LH3 LH5 LH8 LH10",
                       "1.000|1|200.000|180.000|250.000|150.000|100.000|165.000", "WDc LHc0 LEc1"}
        << QList<float>{1005, 786, 1} << 8;
    QTest::newRow("missing settings file: the design state")
        << "missing.zv" << false
        << QStringList{"Ostrel", "", "M0 WD3 FQ1 LH0 LH2 LH4 LH7 LH9", "1|1||||||",
                       "WDc LHc0 LHc1 LEc0 LEc1 LEc2"}
        << QList<float>{1020, 840, 1} << 0;
    // Reset fills the boxes with the zero die heights, disables the panel but for the Work Path
    // frame, ends silently at the wire spacing and greys the schematic where the design put it.
    QTest::newRow("Reset before any package")
        << "missing.zv" << true
        << QStringList{"Ostrel", "", "M0 WD3 FQ1 LH0 LH2 LH4 LH7 LH9",
                       "1|1.000|0.000|0.000|0.000|0.000|0.000|",
                       "F0 F1 F2 F3 F4 F6 F7 F8 F9 WDc FQc LHc0 LHc1 LEc0 LEc1 LEc2 CMD2 CMD4 "
                       "Export"}
        << QList<float>{1020, 840, 0} << 0;
    QTest::newRow("package without stacked die")
        << "flat.zv" << false
        << QStringList{"Ostrel - 1.00.0 - flat.zv",
                       "TMVFile=flat.tmv\nMaterial=Au\nWireDiameter=1.000\nWireDistance=165.000\n"
                       "Frequency=1000000.000\nBaseLoopHeight=100.000\nBaseExtension=200.000\n",
                       "M0 WD3 FQ1 LH1 LH2 LH4 LH7 LH9", "1|1|100.000|||||165.000",
                       "F7 F8 F9 WDc LHc1 LEc0 LEc1 LEc2"}
        << QList<float>{1102.5f, 840, 0} << 8;
    // A die side with one pad: the reading stops before Material= and the wire distance.
    QTest::newRow("fault while reading keeps what was read")
        << "one.zv" << false
        << QStringList{"Ostrel - 1.00.0 - one.zv",
                       "TMVFile=one.tmv\nMaterial=Au\nWireDiameter=1.000\nWireDistance=0.000\n"
                       "Frequency=1000000.000\nBaseLoopHeight=300.000\nBaseExtension=300.000\n",
                       "M0 WD3 FQ1 LH0 LH2 LH4 LH7 LH9", "1|1||||||",
                       "F7 F8 F9 WDc LHc0 LHc1 LEc0 LEc1 LEc2"}
        << QList<float>{1005, 840, 0} << 1;
  }

  void startUp() {
    QFETCH(QString, argument);
    QFETCH(bool, reset);
    StartWith(argument);
    if (reset) Press(ostrel::kReset);
    QVERIFY(window_->isVisible());
    QCOMPARE(WorkPath(), window_->windowTitle() == "Ostrel" ? QString() : dir_.path() + "/");
    QTEST((QStringList{window_->windowTitle(), View(), Chosen(), Texts(), Disabled()}), "shown");
    QTEST(int(Get<QListWidget>("SortLst")->count()), "pads");
    const LoopSchematic& s = Schematic();
    QTEST((QList<float>{s.Bbw[0].Y2, s.sbw[0].Y2, s.Die[1].Fill == kStackDieFill ? 1.0f : 0}),
          "schematic");

    QCOMPARE(Each("F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 WireToWire", "title").remove('&'),
             "Material |Wire Diameter Mils |Base Loop Height |Frequency |Loop Schematic |"
             "Work Path |Base Loop Extension |Stitch Loop Extension |Stack Loop Height |"
             "Stacked Loop Extension |Wire to Wire ");
  }

  // Clicks and key strokes drive the parameter set, the schematic and the settings text.
  void clicksAndKeystrokes() {
    StartWith(Path("AAAc.zv"));

    // Chosen from the keyboard, a diameter switches the box but waits for the next refresh, as a
    // typed distance does; releasing the mouse over the option refreshes.
    Retype("WtoW", "200");
    QTest::keyClick(Get("WD6"), Qt::Key_Space);
    QCOMPARE(Disabled("WDc"), "");
    QVERIFY(ViewHas("WireDistance=165.000"));
    QTest::mouseRelease(Get("WD6"), Qt::RightButton);
    QVERIFY(ViewHas("WireDistance=200.000"));

    // Each click and each key stroke refreshes at once: the line it changes, and which of the
    // boxes WDc, LHc0, LEc1 and Process Data it leaves disabled.
    struct Step {
      const char *control, *typed, *line, *disabled;  // typed: nullptr for a click
    };
    const Step steps[] = {
        {"WDc", "1.5", "WireDiameter=1.500", "LHc0 LEc1"},
        {"WD3", nullptr, "WireDiameter=1.000", "WDc LHc0 LEc1"},
        {"M2", nullptr, "Material=Cu", "WDc LHc0 LEc1"},
        // Stacked extension: default follows the base die height, custom the box, edge -1.
        {"LH4", nullptr, "StackExtension=200.000", "WDc LHc0 LEc1"},
        {"LH6", nullptr, "StackExtension=150.000", "WDc LHc0"},
        {"LH5", nullptr, "StackExtension=-1.000", "WDc LHc0 LEc1"},
        {"LEc2", "0", "StichExtension=0.000", "WDc LHc0 LEc1"},
        // Frequency: a value too large for a single ends the refresh at the last text that
        // fitted ("1e3" Ghz); unit options; a comma as the decimal point.
        {"FQc", "1e30", "Frequency=999999995904.000", "WDc LHc0 LEc1"},
        {"FQc", "2", "Frequency=2000000000.000", "WDc LHc0 LEc1"},
        {"FQ1", nullptr, "Frequency=2000000.000", "WDc LHc0 LEc1"},
        {"FQc", "1,5", "Frequency=1500000.000", "WDc LHc0 LEc1"},
        // A custom base loop height with an empty box is 0: Process Data is disabled.
        {"LH1", nullptr, "BaseLoopHeight=200.000", "WDc LEc1"},
        {"LHc0", "", "BaseLoopHeight=0.000", "WDc LEc1 CMD2"},
    };
    for (const Step& step : steps) {
      step.typed ? Retype(step.control, QLatin1String(step.typed)) : Click(step.control);
      QVERIFY2(ViewHas(step.line), step.line);
      QCOMPARE(Disabled("WDc LHc0 LEc1 CMD2"), QLatin1String(step.disabled));
    }
    // A base loop of 0; the edge of the base die; the stitch drop right above the stacked pad.
    const LoopSchematic& s = Schematic();
    QCOMPARE((QList<float>{s.Bbw[0].Y2, s.sbw[1].X2, s.sbw[4].X1}),
             (QList<float>{1200, 1455, 840}));
    Click("LH0");
    QCOMPARE(Disabled("CMD2"), "");
  }

  // Export beside Save: each format through its own dialog, written from an estimation of the
  // current parameters, with the view and report left alone; a cancel writes nothing.
  void exports() {
    StartWith(Path("AAAc.zv"));
    const QList<QAction*> actions = Get<QPushButton>("Export")->menu()->actions();
    QCOMPARE(actions.size(), 4);
    const char* names[] = {"x.csv", "x.json", "x.cir", "x.svg"};
    for (int i = 0; i < 4; ++i) {
      chooser_->answers << Path(QLatin1String(names[i]));
      actions[i]->trigger();
    }
    QCOMPARE(chooser_->requests[0].initial_name, Path("AAAc.zv.csv").toStdString());
    QCOMPARE(chooser_->requests[2].title, "Export SPICE Subcircuit");
    // A heading, then 31 base-die, 6 stacked-die and 3 stitch wires.
    QCOMPARE(ReadFile(Path("x.csv")).count('\n'), 1 + 40);
    QVERIFY(ReadFile(Path("x.json")).contains("\"T1\""));
    QVERIFY(ReadFile(Path("x.cir")).contains(".subckt"));
    QVERIFY(ReadFile(Path("x.svg")).contains("<svg"));
    QCOMPARE(View(), kExampleSettings);
    QVERIFY(!QFile::exists(Path("AAAc.zv.doc")));

    actions[0]->trigger();  // no answer: cancelled
    QVERIFY(!QFile::exists(Path("AAAc.zv.csv")));
    Click("WD6");
    Retype("WDc", "0");
    QCOMPARE(Disabled("CMD2 Export"), "CMD2 Export");  // follows Process Data
  }

  // Every command with the fake file dialog: cancelled and completed Load, Process Data,
  // cancelled and completed Save, Apply and OK, Reset with a package, Cancel.
  void commands() {
    StartWith(Path("AAAc.zv"));

    // Cancelled Load: the view was emptied first; nothing else changes.
    Press(ostrel::kLoad);
    QVERIFY(chooser_->requests.at(0) ==
            (FileDialogRequest{Mode::kOpen, "Load ZV Setup File", "ZV Files|*.zv|All Files|*.*",
                               "zv", "*.zv"}));
    QCOMPARE(View(), QString());
    QCOMPARE(window_->windowTitle(), "Ostrel - 1.00.0 - AAAc.zv");

    // Load of another settings file in another folder, naming the same package.
    QVERIFY(QDir(dir_.path()).mkpath("other"));
    QVERIFY(QFile::copy(Path("AAAc.tmv"), Path("other/AAAc.tmv")));
    WriteFile(Path("other/B.zv"), "TMVFile=AAAc.tmv\r\nMaterial=Cu\r\nWireDiameter=2\r\n");
    chooser_->answers << Path("other/B.zv");
    Press(ostrel::kLoad);
    QCOMPARE(window_->windowTitle(), "Ostrel - 1.00.0 - B.zv");
    QCOMPARE(WorkPath(), Path("other/"));
    QCOMPARE(Chosen().section(' ', 0, 1), "M2 WD6");
    QCOMPARE(Texts("WDc"), "2");
    QVERIFY(ViewHas("WireDiameter=2.000"));

    // Process Data writes the report beside the settings file and shows it.
    Press(ostrel::kProcessData);
    const QString report = ReadFile(Path("other/B.zv.doc"));
    QVERIFY(report.contains("Pad: "));
    QCOMPARE(View(), QString(report).remove('\r'));

    // Cancelled Save writes nothing; Save to a new name writes the settings text and keeps the
    // caption, the Work Path and the report path.
    Press(ostrel::kSave);
    QVERIFY(ViewHas("Material=Cu"));
    QVERIFY(chooser_->requests.back() ==
            (FileDialogRequest{Mode::kSave, "Save ZV File", "zv files|*.zv|all files|*.*", "zv",
                               Path("other/B.zv").toStdString(), true, true}));
    // A new name asks to create the file; No goes back to the dialog, on that name.
    chooser_->answers << Path("D.zv") << Path("C.zv");
    chooser_->create_answers << false;
    const std::size_t asked = chooser_->requests.size();
    Press(ostrel::kSave);
    QCOMPARE(chooser_->requests.size(), asked + 2);
    QCOMPARE(chooser_->requests.back().initial_name, Path("D.zv").toStdString());
    QVERIFY(!QFile::exists(Path("D.zv")));
    const QString saved = ReadFile(Path("C.zv"));
    QVERIFY(saved.contains("\r\nMaterial=Cu\r\n"));
    QCOMPARE(QString(saved).remove('\r'), View());
    QCOMPARE(window_->windowTitle(), "Ostrel - 1.00.0 - B.zv");
    QCOMPARE(WorkPath(), Path("other/"));
    QFile::remove(Path("other/B.zv.doc"));
    Press(ostrel::kProcessData);
    QVERIFY(QFile::exists(Path("other/B.zv.doc")) && !QFile::exists(Path("C.zv.doc")));

    // Apply and OK do nothing.
    const QString before = View();
    Retype("WtoW", "10");
    for (int apply_or_ok : {5, 6}) Press(apply_or_ok);
    QCOMPARE(View(), before);

    // Reset with the package: die heights into the boxes, design choices, default distance.
    Press(ostrel::kReset);
    QCOMPARE(Texts(), "1|1.000|200.000|200.000|200.000|150.000|150.000|165.000");
    QCOMPARE(Chosen(), "M0 WD3 FQ1 LH0 LH2 LH4 LH7 LH9");
    QVERIFY(ViewHas("StackExtension=200.000"));

    Press(ostrel::kCancel);
    QVERIFY(!window_->isVisible());
  }

  // Every mnemonic of the window (frames, labelled boxes, buttons, including any added later) is
  // its own, and Alt with its letter reaches its control: a frame or a label's box takes the
  // focus, a button is pressed (one with a menu opens it).
  void mnemonics() {
    StartWith(Path("AAAc.zv"));
    for (QMenu* menu : window_->findChildren<QMenu*>()) {
      connect(menu, &QMenu::aboutToShow, menu,
              [menu] { QTimer::singleShot(0, menu, &QMenu::close); });
    }
    QMap<QString, QString> owner;  // key -> control
    for (QWidget* control : window_->findChildren<QWidget*>()) {
      auto* button = qobject_cast<QAbstractButton*>(control);
      auto* frame = qobject_cast<QGroupBox*>(control);
      auto* label = qobject_cast<QLabel*>(control);
      const QString text = AccessKeyText(control);
      const QKeySequence key = QKeySequence::mnemonic(text);
      if (key.isEmpty()) continue;
      const QString name = text + " (" + control->objectName() + ")";
      QVERIFY2(!owner.contains(key.toString()),
               qPrintable(name + " shares " + key.toString() + " with " + owner[key.toString()]));
      owner[key.toString()] = name;
      if (!control->isEnabled()) continue;
      if (QApplication::activeWindow() != window_.get()) {  // after Cancel, a menu, a window
        for (QWidget* other : QApplication::topLevelWidgets()) {
          if (other != window_.get()) other->close();
        }
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
      }
      std::optional<QSignalSpy> pressed;
      if (button) pressed.emplace(button, &QAbstractButton::pressed);
      QTest::keySequence(window_.get(), key);
      QWidget* focus = QApplication::focusWidget();
      if (button) QVERIFY2(pressed->count() == 1, qPrintable(name));
      if (frame) QVERIFY2(frame->isAncestorOf(focus), qPrintable(name));
      if (label) QVERIFY2(label->buddy() && focus == label->buddy(), qPrintable(name));
      QTest::qWait(150);  // a button's click lands
    }
    QVERIFY(owner.size() >= 17);
  }

  // A Load that fails keeps the caption and the Work Path: a settings file naming a missing
  // package is read and refreshed; anything but a regular file is not read, leaving the view as
  // Load emptied it.
  void loadFailures_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("view");  // its start
    QTest::newRow("settings naming a missing package") << Path("gone.zv") << "TMVFile=gone.tmv\n";
    QTest::newRow("FIFO") << Path("fifo.zv") << "";
    QTest::newRow("folder") << Path("dir.zv") << "";
    QTest::newRow("device") << "/dev/zero"
                            << "";
  }
  void loadFailures() {
    QFETCH(QString, file);
    QFETCH(QString, view);
    WriteFile(Path("gone.zv"), "TMVFile=gone.tmv\r\nMaterial=Cu\r\n");
    QFile::remove(Path("fifo.zv"));
    QCOMPARE(::mkfifo(Path("fifo.zv").toLocal8Bit().constData(), 0600), 0);
    QVERIFY(QDir(dir_.path()).mkpath("dir.zv"));
    StartWith(Path("AAAc.zv"));
    chooser_->answers << file;
    Press(ostrel::kLoad);
    QCOMPARE(window_->windowTitle(), "Ostrel - 1.00.0 - AAAc.zv");
    QCOMPARE(WorkPath(), dir_.path() + "/");
    QCOMPARE(View().left(view.size()), view);
    QCOMPARE(View().isEmpty(), view.isEmpty());
  }

  // Process Data without a settings file writes the report ".doc" in the current folder.
  void processDataWithoutSettings() {
    QVERIFY(QDir::setCurrent(dir_.path()));
    StartWith("missing.zv");
    Press(ostrel::kProcessData);
    QVERIFY2(View().startsWith("*Input File: \n*Output File: .doc\n"), qPrintable(View()));
    QCOMPARE(ReadFile(Path(".doc")).remove('\r'), View());
  }

  // Every control and command is reached from the keyboard: the frames' and commands'
  // mnemonics, arrow keys within an option group, and typing.
  void keyboardOnly() {
    StartWith(Path("AAAc.zv"));
    auto key = [this](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
      QTest::keyClick(m ? window_.get() : QApplication::focusWidget(), k, m);
      return QApplication::focusWidget()->objectName();
    };
    QCOMPARE(key(Qt::Key_M, Qt::AltModifier), "M0");
    key(Qt::Key_Down);
    QVERIFY(Chosen().startsWith("M1 ") && ViewHas("Material=Al"));
    QCOMPARE(key(Qt::Key_X, Qt::AltModifier), "LH3");  // Base Loop Extension
    key(Qt::Key_Up);
    QCOMPARE(Disabled("LEc0"), "LEc0");
    QVERIFY(Chosen().contains("LH2 ") && ViewHas("BaseExtension=200.000"));
    QCOMPARE(key(Qt::Key_A, Qt::AltModifier), "WtoW");  // the Distance label
    QCOMPARE(key(Qt::Key_I, Qt::AltModifier), "LH10");  // Stitch Loop Extension
    QCOMPARE(key(Qt::Key_Tab), "LEc2");
    key(Qt::Key_5);
    QVERIFY(ViewHas("StichExtension=5.000"));  // Tab selects the box text; typing replaces it
    key(Qt::Key_P, Qt::AltModifier);           // the button clicks shortly
    QTRY_VERIFY(View().startsWith("*Input File: AAAc.zv"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
