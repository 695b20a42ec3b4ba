// ostrel-cli: runs the estimation of one settings file without a window, exactly as the
// window's Process Data does after starting with that file.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "app/workspace.h"
#include "ostrel/version.h"
#include "package/text.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kHelp = R"(Usage: ostrel-cli [OPTIONS] [SETTINGS.zv]

Estimates the length, skin-effect resistance and inductances (DC, AC, self,
mutual) of every bond wire of a package, from a settings file (.zv) and the
package description file it names on its TMVFile= line (in the same folder).

Without SETTINGS.zv, AAAc.zv beside this program is used. The report is
written beside the settings file as SETTINGS.zv.doc (CR LF lines) and its path
is printed. An earlier report is replaced only when the new one is complete.

Options:
  --stdout              print the report instead of writing it
  --report PATH         write the report to PATH instead
  --save-settings PATH  write the settings file that Save would write after
                        loading SETTINGS.zv (parameters in "0.000" form)
  --version             print the program version
  --help                show this help

Exit status: 0 when the report was written, 1 when the estimation could not
run or failed (the reason is printed on stderr; no report is written), 2 for
a usage error or a settings file that does not exist.
)";

struct Options {
  std::string settings;
  std::string report;
  std::string save_settings;
  bool to_stdout = false;
};

std::string ProgramDir(const char* argv0) {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::string path = ec ? std::string(argv0) : exe.string();
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string CurrentDir() {
  std::error_code ec;
  const auto cwd = std::filesystem::current_path(ec);
  return ec ? std::string(".") : cwd.string();
}

int Usage(const std::string& message) {
  std::cerr << "ostrel-cli: " << message << "\nTry 'ostrel-cli --help'.\n";
  return kExitUsage;
}

int Fail(const std::string& message) {
  std::cerr << "ostrel-cli: error: " << message << "\n";
  return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      std::cout << kHelp;
      return kExitOk;
    } else if (a == "--version") {
      std::cout << "ostrel-cli " << ostrel::kVersionMajor << "." << ostrel::kVersionMinor << "."
                << ostrel::kVersionRevision << "\n";
      return kExitOk;
    } else if (a == "--stdout") {
      opt.to_stdout = true;
    } else if (a == "--report") {
      if (!value(opt.report)) return Usage("--report needs a path");
    } else if (a == "--save-settings") {
      if (!value(opt.save_settings)) return Usage("--save-settings needs a path");
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return Usage("unknown option '" + a + "'");
    } else if (opt.settings.empty()) {
      opt.settings = a;
    } else {
      return Usage("only one settings file can be given");
    }
  }
  if (opt.to_stdout && !opt.report.empty()) return Usage("--stdout and --report exclude each other");

  ostrel::Workspace ws;
  const std::string settings_path =
      ostrel::SettingsPathFor(opt.settings, ProgramDir(argv[0]), CurrentDir());
  const ostrel::StartUpResult start = ostrel::StartUp(ws, settings_path);
  if (!start.settings_found) {
    std::cerr << "ostrel-cli: settings file not found: " << settings_path << "\n";
    return kExitUsage;
  }
  if (start.error) return Fail(start.error->what());

  try {
    if (!opt.save_settings.empty()) {
      ostrel::WriteFileAtomically(opt.save_settings, ostrel::SaveText(ws));
    }
    const std::vector<std::string> blockers =
        ostrel::ProcessDataBlockers(ws.params, ws.PackagePath);
    if (!blockers.empty()) {
      std::string message = "Process Data is disabled for " + settings_path + ":";
      for (const std::string& b : blockers) message += "\n  - " + b;
      return Fail(message);
    }
    if (!ostrel::FileExists(ws.PackagePath)) {
      std::cerr << "ostrel-cli: warning: package description file not found: " << ws.PackagePath
                << "; the report lists no wires\n";
    }
    const std::string report = ostrel::RunEstimation(ws);
    if (opt.to_stdout) {
      std::fwrite(report.data(), 1, report.size(), stdout);
      return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
    }
    const std::string report_path =
        opt.report.empty() ? ostrel::ReportPath(ws.SettingsPath) : opt.report;
    ostrel::WriteFileAtomically(report_path, report);
    std::cout << report_path << "\n";
  } catch (const ostrel::StageError& e) {
    return Fail(e.what());
  }
  return kExitOk;
}
