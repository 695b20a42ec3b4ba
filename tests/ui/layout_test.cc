// Both windows on the screen that the test's environment gives (tests/ui/screens/*.json and
// QT_SCALE_FACTOR, set by ctest): each inside the screen's available geometry, every button in
// sight (at once, or once its scroll area scrolls to it) and no label shorter than its text.

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
    for (QWidget* top : {static_cast<QWidget*>(&window), static_cast<QWidget*>(view)}) {
      const QString title = top->windowTitle();
      QVERIFY2(free.contains(top->frameGeometry()), qPrintable(title));
      int buttons = 0;
      for (QPushButton* button : top->findChildren<QPushButton*>()) {
        if (button->window() != top || !button->isVisibleTo(top)) continue;
        ++buttons;
        QWidget* sight = top;  // what the button must lie inside
        for (QWidget* up = button->parentWidget(); up && up != top; up = up->parentWidget()) {
          if (auto* scroll = qobject_cast<QScrollArea*>(up)) {
            scroll->ensureWidgetVisible(button);
            sight = scroll->viewport();
            break;
          }
        }
        const QRect at(button->mapTo(sight, QPoint(0, 0)), button->size());
        QVERIFY2(sight->rect().contains(at), qPrintable(title + ": " + button->text()));
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
