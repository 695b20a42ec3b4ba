// Renders the window on a settings file into two PNG images: after start-up, and after
// Process Data with the report in the view. Used by scripts/screenshot.sh.

#include <QApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <cstdio>
#include <filesystem>

#include "app/workspace.h"
#include "ui/main_window.h"
#include "ui/report_view.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: ostrel-screenshot SETTINGS.zv OUTPUT_DIR\n");
    return 2;
  }
  const std::string cwd = std::filesystem::current_path().string();
  ostrel::ui::MainWindow window;
  window.logic().StartUp(ostrel::SettingsPathFor(argv[1], cwd, cwd));
  window.resize(1100, 900);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  QTest::qWait(300);
  const QString out = QString::fromLocal8Bit(argv[2]);
  if (!window.grab().save(out + QStringLiteral("/window-start.png"))) return 1;
  auto* process = window.findChild<QPushButton*>(QStringLiteral("CMD2"));
  if (!process) return 1;
  QTest::mouseClick(process, Qt::LeftButton);
  // Scrolled so that the first wire's block shows under the last lines of the report header
  // (the view scrolls by lines).
  if (auto* view = window.findChild<ostrel::ui::ReportView*>(QStringLiteral("Vu"))) {
    const auto pad = view->PlainText().split(QLatin1Char('\n')).indexOf(QStringLiteral("Pad: T1"));
    if (pad >= 0) view->verticalScrollBar()->setValue(static_cast<int>(pad) - 4);
  }
  QTest::qWait(300);
  if (!window.grab().save(out + QStringLiteral("/window-report.png"))) return 1;
  return 0;
}
