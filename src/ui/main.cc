// ostrel: the desktop window. Started with a settings file (.zv) as its first argument, or
// without one with the bundled example (see DefaultSettingsPath).

#include <QApplication>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/start_path.h"
#include "app/workspace.h"
#include "base/text.h"
#include "ostrel/version.h"
#include "physical/dense_algebra.h"
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
$XDG_DATA_HOME/ostrel (default ~/.local/share/ostrel); when that is missing
too, the window opens in its design state.

Options:
  --help                show this help and exit
  --version             print the program version and exit
  -platform NAME        the Qt platform plugin, such as xcb, wayland or
                        offscreen (default: $QT_QPA_PLATFORM, else the desktop's)
  Qt's own options (-style NAME, -stylesheet PATH, -geometry WxH+X+Y, -reverse,
  ...) are passed on to it.

Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) the window runs
only on a platform that needs none: -platform offscreen.

Exit status: 0 when the window was closed, 1 when it could not be opened: an
unknown option, more than one file, a settings file that is missing or not a
regular file, or no display (the reason is printed on stderr).
)";

// Qt's command-line options that take a value (with one dash or two), and those that do not.
constexpr const char* kQtValueOptions[] = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",     "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "style",         "stylesheet", "session",
    "display",     "geometry",           "title",         "name",       "qmljsdebugger"};
constexpr const char* kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// The window's command line as it was read before the toolkit starts.
struct WindowArguments {
  std::string settings;  // the one file named, or empty
  std::string platform;  // -platform's value, or empty
  std::string problem;   // why the window cannot open, or empty
};

WindowArguments ReadArguments(int argc, char** argv) {
  WindowArguments out;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.size() < 2 || a[0] != '-') {
      if (!out.settings.empty()) {
        out.problem = "only one settings file can be given";
        return out;
      }
      out.settings = a;
      continue;
    }
    std::string name = a.substr(a[1] == '-' ? 2 : 1);
    const std::size_t equals = name.find('=');
    const bool inline_value = equals != std::string::npos;
    name = name.substr(0, equals);
    auto is = [&name](const char* option) { return name == option; };
    if (std::any_of(std::begin(kQtFlagOptions), std::end(kQtFlagOptions), is)) continue;
    if (!std::any_of(std::begin(kQtValueOptions), std::end(kQtValueOptions), is)) {
      out.problem = "unknown option '" + a + "'";
      return out;
    }
    if (!inline_value && i + 1 >= argc) {
      out.problem = a + " needs a value";
      return out;
    }
    const std::string value = inline_value ? a.substr(a.find('=') + 1) : argv[++i];
    if (name == "platform") out.platform = value;
  }
  return out;
}

// True when one of the platforms Qt would try (`platforms`, separated by ';', each possibly
// followed by ':' and its options) can open a window: xcb needs DISPLAY, wayland
// WAYLAND_DISPLAY, the desktop's default either of them; the others (offscreen, minimal, vnc,
// eglfs, linuxfb) need neither.
bool HasDisplay(const std::string& platforms) {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const bool has_x11 = x11 != nullptr && *x11 != '\0';
  const bool has_wayland = wayland != nullptr && *wayland != '\0';
  if (platforms.empty()) return has_x11 || has_wayland;
  std::size_t start = 0;
  while (start <= platforms.size()) {
    std::size_t end = platforms.find(';', start);
    if (end == std::string::npos) end = platforms.size();
    const std::string entry = platforms.substr(start, end - start);
    const std::string name = entry.substr(0, entry.find(':'));
    if (name == "xcb" ? has_x11 : name.rfind("wayland", 0) == 0 ? has_wayland : !name.empty()) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

// Why the window cannot open with `args`, or empty: the faults that would otherwise end inside
// the toolkit (an abort without a display) or leave an empty window. `current_dir` places a
// relative settings path.
std::string StartProblem(const WindowArguments& args, const std::string& current_dir) {
  if (!args.problem.empty()) return args.problem;
  if (!args.settings.empty()) {
    const std::string path = ostrel::SettingsPathFor(args.settings, "", current_dir);
    const ostrel::FileKind kind = ostrel::KindOf(path);
    if (kind == ostrel::FileKind::kMissing) return "settings file not found: " + path;
    if (kind == ostrel::FileKind::kOther) return "settings file is not a regular file: " + path;
  }
  const char* env_platform = std::getenv("QT_QPA_PLATFORM");
  const std::string platform = !args.platform.empty()    ? args.platform
                               : env_platform != nullptr ? env_platform
                                                         : "";
  if (!HasDisplay(platform)) {
    return "no display: the Qt platform " +
           (platform.empty() ? std::string("of the desktop") : "'" + platform + "'") +
           " needs DISPLAY (xcb) or WAYLAND_DISPLAY (wayland), which is not set; to run "
           "without one, give -platform offscreen or set QT_QPA_PLATFORM=offscreen";
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  ostrel::physical::ChooseProcessorKernels();
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
  const WindowArguments args = ReadArguments(argc, argv);
  std::error_code ec;
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  const std::string current_dir = ec ? std::string(".") : cwd.string();
  if (const std::string problem = StartProblem(args, current_dir); !problem.empty()) {
    std::cerr << "ostrel: " << problem << "\nTry 'ostrel --help'.\n";
    return EXIT_FAILURE;
  }
  QApplication app(argc, argv);
  const std::string program_dir =
      QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
  const std::string settings_path =
      args.settings.empty() ? ostrel::DefaultSettingsPath(
                                  program_dir, ostrel::UserDataHome(std::getenv("XDG_DATA_HOME"),
                                                                    std::getenv("HOME")))
                            : ostrel::SettingsPathFor(args.settings, program_dir, current_dir);

  ostrel::ui::MainWindow window;
  window.logic().StartUp(settings_path);
  window.show();  // sized to its screen
  return QApplication::exec();
}
