// ostrel: the desktop window. Started with a settings file (.zv) as its first argument, or
// without one with the bundled example (see DefaultSettingsPath).

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/start_path.h"
#include "app/workspace.h"
#include "ostrel/version.h"
#include "ui/main_window.h"

namespace {

constexpr const char* kHelp = R"(Usage: ostrel [OPTIONS] [SETTINGS.zv]

Opens the Ostrel window on a settings file (.zv): the wire parameters, the
loop schematic, and the commands Load, Cancel, Process Data, Reset, Save and
Export. Process Data estimates the length, skin-effect resistance and
inductances of every bond wire of the package the settings file names, and
writes the report beside the settings file as SETTINGS.zv.doc.

Without SETTINGS.zv, AAAc.zv beside this program is opened; an installed
program opens instead a copy of its bundled example, made on first use in
$XDG_DATA_HOME/ostrel (default ~/.local/share/ostrel). A settings file that
does not exist leaves the window in its design state.

Options:
  --help                show this help and exit
  --version             print the program version and exit
  -platform NAME        the Qt platform plugin, such as xcb, wayland or
                        offscreen (other Qt options are accepted as well)

Exit status: 0 when the window was closed, 1 when it could not be opened.
)";

}  // namespace

int main(int argc, char** argv) {
  // Answered before the toolkit starts, so that they work without a display.
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kHelp;
      return EXIT_SUCCESS;
    }
    if (a == "--version") {
      std::cout << "ostrel " << ostrel::kVersionMajor << "." << ostrel::kVersionMinor << "."
                << ostrel::kVersionRevision << "\n";
      return EXIT_SUCCESS;
    }
  }
  QApplication app(argc, argv);  // takes the toolkit's own options out of argv
  const std::string argument = argc > 1 ? std::string(argv[1]) : std::string();
  const std::string program_dir =
      QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
  std::error_code ec;
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  const std::string current_dir = ec ? std::string(".") : cwd.string();
  const std::string settings_path =
      argument.empty()
          ? ostrel::DefaultSettingsPath(
                program_dir,
                ostrel::UserDataHome(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")))
          : ostrel::SettingsPathFor(argument, program_dir, current_dir);

  ostrel::ui::MainWindow window;
  window.logic().StartUp(settings_path);
  window.resize(1100, 900);
  window.show();
  return QApplication::exec();
}
