// ostrel-cli: runs the estimation of one settings file without a window, exactly as the
// window's Process Data does after starting with that file.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "app/start_path.h"
#include "app/workspace.h"
#include "ostrel/version.h"
#include "base/text.h"
#include "report/exports.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kHelp = R"(Usage: ostrel-cli [OPTIONS] [SETTINGS.zv]

Estimates the length, skin-effect resistance and inductances (DC, AC, self,
mutual) of every bond wire of a package, from a settings file (.zv) and the
package description file it names on its TMVFile= line (in the same folder).

Without SETTINGS.zv, AAAc.zv beside this program is used; an installed
program uses instead a copy of its bundled example, made on first use in
$XDG_DATA_HOME/ostrel (default ~/.local/share/ostrel). The report is written
beside the settings file as SETTINGS.zv.doc (CR LF lines) and its path is
printed. An earlier report is replaced only when the new one is complete.

Options:
  --stdout              print the report instead of writing it
  --report PATH         write the report to PATH instead
  --save-settings PATH  write the settings file that Save would write after
                        loading SETTINGS.zv (parameters in "0.000" form)
  --csv PATH            also write one CSV row per wire (full precision)
  --json PATH           also write the parameters and wires as JSON
  --spice PATH          also write a SPICE subcircuit of the wires (R, L, K)
  --spice-inductance dc|ac|self
                        inductance figure of the SPICE inductors (default ac)
  --svg PATH            also write an SVG picture: top view and side views
  --version             print the program version
  --help                show this help

The exports come from the same estimation as the report and are written only
when it succeeds; their paths are printed after the report path.

Exit status: 0 when the report was written, 1 when the estimation could not
run or failed, or an export could not be made (the reason is printed on
stderr; no report and no export is written), 2 for a usage error or a
settings file that does not exist.
)";

struct Options {
  std::string settings;
  std::string report;
  std::string save_settings;
  bool to_stdout = false;
  std::string csv, json, spice, svg;
  ostrel::SpiceInductance spice_inductance = ostrel::SpiceInductance::kAc;
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

// A large package makes hundreds of thousands of small records; with the C library's heap on
// large pages they cost a fraction of the page faults and address-translation misses. The C
// library reads that setting only when a process starts, so the program starts itself once more
// with it set. GLIBC_TUNABLES=glibc.malloc.hugetlb=0 in the environment keeps the usual heap.
void UseLargePagesForTheHeap(char** argv) {
  constexpr const char* kTunable = "glibc.malloc.hugetlb";
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (tunables != nullptr && std::strstr(tunables, kTunable) != nullptr) return;
  const std::string value = (tunables != nullptr && *tunables != '\0')
                                ? std::string(tunables) + ":" + kTunable + "=1"
                                : std::string(kTunable) + "=1";
  if (::setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0) return;
  ::execv("/proc/self/exe", argv);
  // Only reached when the new start failed: go on with the usual heap.
}

// The option of `opt` that the path option `flag` sets, or nullptr for any other argument.
std::string* PathOption(Options& opt, const std::string& flag) {
  const std::pair<const char*, std::string Options::*> kPaths[] = {
      {"--report", &Options::report}, {"--save-settings", &Options::save_settings},
      {"--csv", &Options::csv},       {"--json", &Options::json},
      {"--spice", &Options::spice},   {"--svg", &Options::svg}};
  for (const auto& [name, member] : kPaths) {
    if (flag == name) return &(opt.*member);
  }
  return nullptr;
}

int Usage(const std::string& message) {
  std::cerr << "ostrel-cli: " << message << "\nTry 'ostrel-cli --help'.\n";
  return kExitUsage;
}

int Fail(const std::string& message) {
  std::cerr << "ostrel-cli: error: " << message << "\n";
  return kExitFailed;
}

// The requested exports of the estimation just run, as {path, text}. SPICE notes (couplings
// scaled or limited) go to stderr.
std::vector<std::pair<std::string, std::string>> Exports(const ostrel::Workspace& ws,
                                                         const Options& opt) {
  const ostrel::ExportHeader header = ostrel::ExportHeaderFor(ws);
  std::vector<std::pair<std::string, std::string>> out;
  if (!opt.csv.empty()) out.emplace_back(opt.csv, ostrel::CsvText(header, ws.Wires));
  if (!opt.json.empty()) out.emplace_back(opt.json, ostrel::JsonText(header, ws.Wires));
  if (!opt.spice.empty()) {
    ostrel::SpiceNetlist netlist =
        ostrel::SpiceText(header, ws.package, ws.Wires, opt.spice_inductance);
    for (const std::string& note : netlist.Notes) {
      std::cerr << "ostrel-cli: note: " << opt.spice << ": " << note << "\n";
    }
    out.emplace_back(opt.spice, std::move(netlist.Text));
  }
  if (!opt.svg.empty()) out.emplace_back(opt.svg, ostrel::SvgText(header, ws.package, ws.Wires));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  UseLargePagesForTheHeap(argv);
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
    } else if (std::string* path = PathOption(opt, a)) {
      if (!value(*path)) return Usage(a + " needs a path");
    } else if (a == "--spice-inductance") {
      std::string which;
      if (!value(which) || !ostrel::ParseSpiceInductance(which, opt.spice_inductance)) {
        return Usage("--spice-inductance needs dc, ac or self");
      }
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return Usage("unknown option '" + a + "'");
    } else if (opt.settings.empty()) {
      opt.settings = a;
    } else {
      return Usage("only one settings file can be given");
    }
  }
  if (opt.to_stdout && !opt.report.empty())
    return Usage("--stdout and --report exclude each other");

  ostrel::Workspace ws;
  const std::string settings_path =
      opt.settings.empty()
          ? ostrel::DefaultSettingsPath(
                ProgramDir(argv[0]),
                ostrel::UserDataHome(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")))
          : ostrel::SettingsPathFor(opt.settings, ProgramDir(argv[0]), CurrentDir());
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
    // Every export is made before anything is written, so a failing one leaves no files.
    const std::vector<std::pair<std::string, std::string>> exports = Exports(ws, opt);
    if (opt.to_stdout) {
      std::fwrite(report.data(), 1, report.size(), stdout);
      if (std::fflush(stdout) != 0) return kExitFailed;
    } else {
      const std::string report_path =
          opt.report.empty() ? ostrel::ReportPath(ws.SettingsPath) : opt.report;
      ostrel::WriteFileAtomically(report_path, report, ostrel::Durability::kReplaceOnly);
      std::cout << report_path << "\n";
    }
    for (const auto& [path, text] : exports) {
      ostrel::WriteFileAtomically(path, text, ostrel::Durability::kReplaceOnly);
      if (!opt.to_stdout) std::cout << path << "\n";
    }
  } catch (const ostrel::StageError& e) {
    return Fail(e.what());
  }
  return kExitOk;
}
