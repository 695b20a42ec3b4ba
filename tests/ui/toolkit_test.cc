// The file dialog's filters and the commands that must not reach the window at all.

#include "ui/toolkit.h"

#include <QObject>
#include <QTest>

#include "ui/window_logic.h"

using ostrel::ui::FileDialogRequest;

namespace {

// Counts every call the logic makes on the window.
class CountingToolkit : public ostrel::ui::WindowToolkit {
 public:
  int calls = 0;
  int closes = 0;
  std::optional<std::string> ChooseFile(const FileDialogRequest&) override {
    ++calls;
    return std::nullopt;
  }
  void SetCaption(const std::string&) override { ++calls; }
  void SetWorkPath(const std::string&) override { ++calls; }
  void ShowPanel(const ostrel::PanelState&) override { ++calls; }
  void ShowSchematic(const ostrel::ui::LoopSchematic&) override { ++calls; }
  void ShowText(const std::string&) override { ++calls; }
  void ShowSortList(const std::vector<std::string>&) override { ++calls; }
  void CloseWindow() override {
    ++calls;
    ++closes;
  }
};

}  // namespace

class ToolkitTest : public QObject {
  Q_OBJECT

 private slots:
  void nameFilters_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("load dialog") << "ZV Files|*.zv|All Files|*.*"
                                 << QStringList{"ZV Files (*.zv)", "All Files (*)"};
    QTest::newRow("save dialog") << "zv files|*.zv|all files|*.*"
                                 << QStringList{"zv files (*.zv)", "all files (*)"};
    QTest::newRow("several patterns in one entry")
        << "Settings|*.zv;*.ZV" << QStringList{"Settings (*.zv *.ZV)"};
    QTest::newRow("description without pattern is dropped")
        << "ZV Files|*.zv|Other" << QStringList{"ZV Files (*.zv)"};
    QTest::newRow("empty") << "" << QStringList{};
  }

  void nameFilters() {
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QStringList actual;
    for (const std::string& f : ostrel::ui::NameFilters(filter.toStdString())) {
      actual << QString::fromStdString(f);
    }
    QCOMPARE(actual, expected);
  }

  // Apply and OK of the distance frame, and any other index, are no commands: nothing on the
  // window changes. Cancel only closes the window.
  void onlyCommandsZeroToFourAct() {
    CountingToolkit toolkit;
    ostrel::ui::WindowLogic logic(toolkit);
    for (int index : {5, 6, -1, 7, 100}) logic.CMD_Click(index);
    QCOMPARE(toolkit.calls, 0);
    logic.CMD_Click(ostrel::kCancel);
    QCOMPARE(toolkit.closes, 1);
    QCOMPARE(toolkit.calls, 1);
  }
};

QObject* NewToolkitTest() { return new ToolkitTest; }

#include "toolkit_test.moc"
