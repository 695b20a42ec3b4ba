// ostrel: the desktop window. Started with a settings file (.zv) as its first argument, or
// with AAAc.zv beside the program when none is given.

#include <QApplication>
#include <filesystem>
#include <string>

#include "app/workspace.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);  // takes the toolkit's own options out of argv
  const std::string argument = argc > 1 ? std::string(argv[1]) : std::string();
  const std::string program_dir =
      QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
  std::error_code ec;
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  const std::string current_dir = ec ? std::string(".") : cwd.string();

  ostrel::ui::MainWindow window;
  window.logic().StartUp(ostrel::SettingsPathFor(argument, program_dir, current_dir));
  window.resize(1100, 900);
  window.show();
  return QApplication::exec();
}
