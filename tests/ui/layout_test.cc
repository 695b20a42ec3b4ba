// Both windows on the screen that the test's environment gives (tests/ui/screens/*.json and
// QT_SCALE_FACTOR, set by ctest): each inside the screen's available geometry, every button and
// the report and wire table in sight (at once, or once its scroll area scrolls to it) and no label
// shorter than its text.

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "ui/main_window.h"
#include "ui/physical_view.h"

using namespace ostrel::ui;

namespace {

class NoFiles : public FileChooser {
 public:
  std::optional<std::string> Choose(const FileDialogRequest&) override { return std::nullopt; }
  bool ConfirmCreate(const FileDialogRequest&, const std::string&) override { return false; }
};

}  // namespace

class LayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void windowsFitTheScreen() {
    QTemporaryDir dir;
    for (const char* name : {"AAAc.zv", "AAAc.tmv"}) {
      QVERIFY(QFile::copy(QStringLiteral(OSTREL_EXAMPLES_DIR "/") + name, dir.filePath(name)));
    }
    MainWindow window(std::make_unique<NoFiles>());
    window.logic().StartUp(dir.filePath("AAAc.zv").toStdString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(window.findChild<QPushButton*>("CMD2"), Qt::LeftButton);
    window.OpenPhysicalView();
    PhysicalView* view = window.physicalView();
    QSignalSpy ended(view, &PhysicalView::ComputationEnded);
    QVERIFY(ended.count() > 0 || ended.wait(30000));
    QVERIFY(QTest::qWaitForWindowExposed(view));
    const QRect free = window.screen()->availableGeometry();
    qInfo("screen %dx%d (logical), scale %s", free.width(), free.height(),
          qgetenv("QT_SCALE_FACTOR").constData());
    // Where `widget` can be seen once its window's scroll area (if any) scrolls to it, in the
    // coordinates of `widget`.
    auto in_sight = [](QWidget* top, QWidget* widget) {
      QWidget* sight = top;
      for (QWidget* up = widget->parentWidget(); up && up != top; up = up->parentWidget()) {
        if (auto* scroll = qobject_cast<QScrollArea*>(up)) {
          scroll->ensureWidgetVisible(widget, 0, 0);
          sight = scroll->viewport();
          break;
        }
      }
      const QRect at(widget->mapTo(sight, QPoint(0, 0)), widget->size());
      return sight->rect().intersected(at).translated(-at.topLeft());
    };
    // Areas besides the buttons that must come into sight, at least `lines` lines of text high.
    const struct {
      QWidget* top;
      const char* name;
      int lines;
    } areas[] = {
        {&window, "Vu", 4},  // the report
        {view, "WireTable", 4},
    };
    for (const auto& area : areas) {
      auto* widget = area.top->findChild<QWidget*>(area.name);
      QVERIFY2(widget && widget->isVisibleTo(area.top), area.name);
      const int least = area.lines * widget->fontMetrics().height();
      const QRect seen = in_sight(area.top, widget);
      QVERIFY2(
          widget->height() >= least && seen.height() >= least && seen.width() == widget->width(),
          qPrintable(QStringLiteral("%1: %2 of %3 px high seen, %4 wanted")
                         .arg(area.name)
                         .arg(seen.height())
                         .arg(widget->height())
                         .arg(least)));
    }
    for (QWidget* top : {static_cast<QWidget*>(&window), static_cast<QWidget*>(view)}) {
      const QString title = top->windowTitle();
      QVERIFY2(free.contains(top->frameGeometry()), qPrintable(title));
      int buttons = 0;
      for (QPushButton* button : top->findChildren<QPushButton*>()) {
        if (button->window() != top || !button->isVisibleTo(top)) continue;
        ++buttons;
        QVERIFY2(in_sight(top, button) == button->rect(),
                 qPrintable(title + ": " + button->text()));
      }
      QVERIFY(buttons >= 5);
      // OSTREL_LAYOUT_SHOTS=DIR keeps a picture of each window to look at.
      if (const QString shots = qEnvironmentVariable("OSTREL_LAYOUT_SHOTS"); !shots.isEmpty()) {
        top->grab().save(QStringLiteral("%1/%2-%3.png")
                             .arg(shots, top == view ? "view" : "main")
                             .arg(free.width()));
      }
      for (QLabel* label : top->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(top) || label->wordWrap() || label->text().isEmpty()) continue;
        QVERIFY2(label->width() >= label->sizeHint().width() &&
                     label->height() >= label->sizeHint().height(),
                 qPrintable(title + ": " + label->text()));
      }
    }
  }
};

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
