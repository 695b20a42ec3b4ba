// ostrel-cli: runs the estimation of one settings file without a window, exactly as the
// window's Process Data does after starting with that file.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "app/file_io.h"
#include "app/output_plan.h"
#include "app/physical_study.h"
#include "app/start_path.h"
#include "app/workspace.h"
#include "ostrel/version.h"
#include "base/name_patterns.h"
#include "base/text.h"
#include "export/exports.h"
#include "export/ibis_package.h"
#include "export/physical_export.h"
#include "export/touchstone.h"

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
Settings and package files may begin with a UTF-8 byte order mark and end
their lines in CR LF, LF or CR alone; a path that is not a regular file (a
FIFO, a device, a folder) is refused.

Options:
  --stdout              print the report instead of writing it
  --report PATH         write the report to PATH instead
  --save-settings PATH  write the settings file that Save would write after
                        loading SETTINGS.zv (parameters in "0.000" form)
  --csv PATH            also write one CSV row per wire (full precision)
  --json PATH           also write the parameters and wires as JSON
  --spice PATH          also write a SPICE subcircuit of the wires (R, L, K)
  --spice-inductance dc|ac|self|loop
                        inductance figure of the SPICE inductors (default
                        ac); loop: the physical model's loop inductances
                        over the ground plane with all their couplings above
                        the cut-off, R and internal inductance at the first
                        frequency, and the plane as the port ref
  --spice-broadband     with --spice-inductance loop: each wire's R(f) and
                        internal inductance as an R-L ladder fitted from DC
                        to the highest frequency, and the capacitances
  --svg PATH            also write an SVG picture: top view and side views

Physical model (exact resistance and internal inductance from DC up, partial
and loop inductance matrices of the real wire paths; docs/physical.md):
  --physical PATH       also write the physical model as JSON
  --physical-table      print one line per wire of the physical model at the
                        first frequency (length, R_dc, R, partial and loop
                        inductance, strongest neighbour and its k) instead
                        of the paths written; not with --stdout
  --ground-depth MICRONS
                        depth of the ground plane below the substrate
                        surface, which closes each wire's loop (default 50)
  --clearance MICRONS   with the model: list the wire pairs whose surfaces come
                        closer than this (default 0: those that touch or
                        overlap)
  --eps-r EPS           relative permittivity of the dielectric around the
                        wires, for the capacitances (default 1, open cavity;
                        mould compound about 3.5-4)
  --no-capacitance      leave the capacitance matrix out (most of the time of
                        a package of tens of thousands of wires); the IBIS
                        package model and Touchstone need it
  --frequencies F1,F2,...
                        frequencies in Hz (0 is DC); default: the settings
                        file's frequency
  --sweep FMIN:FMAX:N   N log-spaced frequencies from FMIN > 0 to FMAX
  --sweep-linear FMIN:FMAX:N
                        N evenly spaced frequencies, FMIN >= 0 (from DC for
                        time-domain work); one frequency option at most
  --ibis-pkg PATH       also write an IBIS package model (.pkg, lower-case
                        name): DC resistance, loop inductance, capacitance
  --touchstone PATH     also write Touchstone S-parameters of the wires' pad
                        and finger ends, 50 Ohm, at the run's frequencies (at
                        most 200 ports); PATH must end in .s<2N>p for its N
                        wires, and the file must fit in the memory available
  --loss-tangent TAN    dielectric loss tangent for --touchstone (default 0)
  --nets PATTERN[,...]  only the wires whose names match (* and ?) in the
                        IBIS package model, the Touchstone file and the loop
                        SPICE subcircuit; each pattern must match a wire
  An option for one output without that output is a usage error: the SPICE
  options without --spice (and --spice-broadband without loop), the loss
  tangent without --touchstone, --nets without an output it selects for,
  and the model's options (ground depth, clearance, eps_r, capacitance,
  frequencies) without an output of the model.
  A long computation (the model, the Touchstone file) shows its progress on
  stderr; what the model leaves out or repairs in a large package is noted
  there and in the JSON, and so are the wire pairs closer than the clearance
  (also in the table).

  --version             print the program version
  --help                show this help

The exports come from the same estimation as the report and are written only
when it succeeds; their paths are printed after the report path. Every file is
written all or nothing: beside its target first, renamed into place once all
are complete; a file that is an input or another output is a usage error. A
PATH of - is standard output (not for --ibis-pkg and --touchstone); devices,
FIFOs and standard output are written in place, a symbolic link's target is
replaced.

Exit status: 0 when the report was written, 1 when the estimation could not
run or failed, or an export could not be made (the reason is printed on
stderr; no file is written or replaced), 2 for a usage error or a settings
file that does not exist or is not a regular file. The usage errors that only
the estimated wires show (a --nets pattern matching no wire, a Touchstone
extension that does not fit) are found before anything is written and give 2
as well. SIGINT, SIGTERM and SIGHUP remove the temp files.
)";

struct Options {
  std::string settings;
  std::string report;
  std::string save_settings;
  bool to_stdout = false;
  std::string csv, json, spice, svg;
  ostrel::SpiceInductance spice_inductance = ostrel::SpiceInductance::kAc;
  std::string physical;  // JSON of the physical model
  bool physical_table = false;
  double ground_depth_um = 50;
  double clearance_um = 0;  // surface to surface, for the list of wires too close
  double eps_r = 1;  // relative permittivity around the wires
  bool capacitance = true;
  std::vector<double> frequencies_hz;  // empty: the settings file's frequency
  std::string frequency_option;        // the option that gave them
  bool spice_broadband = false;
  std::string ibis_pkg, touchstone;    // package models of the physical model
  std::string nets;                    // wire name patterns for them
  double loss_tangent = 0;
  std::vector<std::string> given;      // the options named on the command line

  bool Given(std::string_view option) const {
    return std::find(given.begin(), given.end(), option) != given.end();
  }

  bool NeedsPhysicalModel() const {
    return !physical.empty() || physical_table || !ibis_pkg.empty() || !touchstone.empty() ||
           (!spice.empty() && spice_inductance == ostrel::SpiceInductance::kLoop);
  }
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

// The option of `opt` that the path option `flag` sets, or nullptr for any other argument.
std::string* PathOption(Options& opt, const std::string& flag) {
  const std::pair<const char*, std::string Options::*> kPaths[] = {
      {"--report", &Options::report}, {"--save-settings", &Options::save_settings},
      {"--csv", &Options::csv},       {"--json", &Options::json},
      {"--spice", &Options::spice},   {"--svg", &Options::svg},
      {"--physical", &Options::physical}, {"--ibis-pkg", &Options::ibis_pkg},
      {"--touchstone", &Options::touchstone}, {"--nets", &Options::nets}};
  for (const auto& [name, member] : kPaths) {
    if (flag == name) return &(opt.*member);
  }
  return nullptr;
}

// The option taking a number not below 0 named `flag`, with what the number is: the member
// it sets and its name in messages; a null member for any other option.
struct NumberOptionTarget {
  double* value = nullptr;
  const char* what = "";
};
NumberOptionTarget NumberOption(Options& opt, const std::string& flag) {
  const std::tuple<const char*, double Options::*, const char*> kNumbers[] = {
      {"--loss-tangent", &Options::loss_tangent, "the loss tangent"},
      {"--eps-r", &Options::eps_r, "the relative permittivity"},
      {"--ground-depth", &Options::ground_depth_um, "the ground depth"},
      {"--clearance", &Options::clearance_um, "the clearance"}};
  for (const auto& [name, member, what] : kNumbers) {
    if (flag == name) return {&(opt.*member), what};
  }
  return {};
}

int Usage(const std::string& message) {
  std::cerr << "ostrel-cli: " << message << "\nTry 'ostrel-cli --help'.\n";
  return kExitUsage;
}

int Fail(const std::string& message) {
  std::cerr << "ostrel-cli: error: " << message << "\n";
  return kExitFailed;
}

// An option given without the output it serves would change nothing: the usage fault naming
// both, or empty when every option given has its output.
std::string OptionWithoutItsOutput(const Options& opt) {
  const bool loop_spice =
      !opt.spice.empty() && opt.spice_inductance == ostrel::SpiceInductance::kLoop;
  const bool model = opt.NeedsPhysicalModel();
  const char* const kModel =
      "an output of the physical model (--physical, --physical-table, --ibis-pkg, --touchstone "
      "or --spice-inductance loop)";
  const std::tuple<const char*, bool, const char*> kNeeds[] = {
      {"--spice-inductance", !opt.spice.empty(), "--spice"},
      {"--spice-broadband", loop_spice, "--spice with --spice-inductance loop"},
      {"--loss-tangent", !opt.touchstone.empty(), "--touchstone"},
      {"--nets", loop_spice || !opt.ibis_pkg.empty() || !opt.touchstone.empty(),
       "--ibis-pkg, --touchstone or --spice with --spice-inductance loop"},
      {"--eps-r", model && opt.capacitance && opt.ground_depth_um > 0,
       "the capacitances of the physical model (not with --no-capacitance or --ground-depth 0)"},
      {"--ground-depth", model, kModel},
      {"--clearance", model, kModel},
      {"--no-capacitance", model, kModel},
      {"--frequencies", model, kModel},
      {"--sweep", model, kModel},
      {"--sweep-linear", model, kModel}};
  for (const auto& [option, met, needs] : kNeeds) {
    if (!met && opt.Given(option)) {
      return std::string(option) + " does nothing without " + needs;
    }
  }
  const std::vector<std::string_view> patterns = ostrel::NetPatterns(opt.nets);
  if (opt.Given("--nets") && std::find(patterns.begin(), patterns.end(), "") != patterns.end()) {
    return "--nets '" + opt.nets + "' holds an empty pattern; give names with * and ?, e.g. 'T*'";
  }
  return {};
}

// The memory the system can give now in bytes: MemAvailable of /proc/meminfo, else the free
// pages; 0 when neither tells.
double AvailableMemoryBytes() {
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    double kib = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %lf kB", &kib) == 1) return kib * 1024;
  }
  const long pages = ::sysconf(_SC_AVPHYS_PAGES);
  const long page_bytes = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && page_bytes > 0 ? static_cast<double>(pages) * static_cast<double>(page_bytes)
                                     : 0;
}

// Faults of the command line that only the estimated wires show, as a usage fault (empty when
// there is none): a --nets pattern that matches none of them, a Touchstone name whose
// extension is not that of its port count. Throws StageError when the Touchstone file would
// not fit in the memory available.
std::string FaultWithTheWires(const ostrel::WireList& wires, const Options& opt) {
  if (!opt.NeedsPhysicalModel()) return {};
  std::vector<std::string> names;
  for (const ostrel::Wire& wire : wires) names.push_back(wire.Name);
  try {
    ostrel::CheckNetPatterns(names, opt.nets);
  } catch (const ostrel::StageError& e) {
    return e.what();
  }
  if (opt.touchstone.empty()) return {};
  const std::size_t ports =
      2 * static_cast<std::size_t>(std::count_if(names.begin(), names.end(), [&](const auto& n) {
        return opt.nets.empty() || ostrel::MatchesNetPattern(n, opt.nets);
      }));
  if (ports == 0 || ports > ostrel::kMaxTouchstonePorts) return {};  // TouchstoneText says why
  const std::string extension = ostrel::TouchstoneExtension(ports);
  const std::string& path = opt.touchstone;
  if (path.size() < extension.size() ||
      ostrel::UpperAscii(path.substr(path.size() - extension.size())) !=
          ostrel::UpperAscii(extension)) {
    return "--touchstone " + path + ": a file of " + std::to_string(ports) +
           " ports is read only under a name ending in " + extension;
  }
  const double bytes =
      ostrel::TouchstoneBytes(ports, std::max<std::size_t>(1, opt.frequencies_hz.size()));
  const double available = AvailableMemoryBytes();
  if (available > 0 && bytes > available) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "the Touchstone file would take up to %.2f GB of memory, more than the %.2f GB "
                  "available; choose fewer wires (--nets) or frequencies",
                  bytes / 1e9, available / 1e9);
    throw ostrel::StageError(text, path);
  }
  return {};
}

// Prints `text` on standard output, checked: kExitOk, or kExitFailed with the reason.
int Print(const std::string& text) {
  try {
    ostrel::WriteStandardOutput(text);
    ostrel::CloseStandardOutput();
  } catch (const ostrel::StageError& e) {
    return Fail(e.what());
  }
  return kExitOk;
}

// The progress of a long computation (the physical model, a Touchstone file) on stderr: on a
// terminal one line rewritten in place, elsewhere a line every few seconds once the run has
// taken that long. Called from any thread.
class ProgressLine {
 public:
  ProgressLine() : terminal_(::isatty(STDERR_FILENO) == 1) {}
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine() {
    if (terminal_ && shown_) std::cerr << "\r\x1b[K" << std::flush;
  }

  void Report(std::string_view stage, double fraction) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const Clock::time_point now = Clock::now();
    const Clock::duration pause = terminal_ ? std::chrono::milliseconds(200) : kLongRun;
    const bool same_stage = stage == stage_;
    if ((!terminal_ && now - start_ < kLongRun) || (same_stage && now - last_ < pause)) return;
    const int percent = static_cast<int>(100 * std::clamp(fraction, 0.0, 1.0));
    std::cerr << (terminal_ ? "\r" : "") << "ostrel-cli: " << stage << " " << percent << "%"
              << (terminal_ ? "\x1b[K" : "\n") << std::flush;
    shown_ = true;
    last_ = now;
    stage_ = stage;
  }

  // A Progress of a computation that reports to this line.
  ostrel::physical::Progress Hearing() {
    ostrel::physical::Progress progress;
    progress.report = [this](std::string_view stage, double fraction) { Report(stage, fraction); };
    return progress;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kLongRun{5};
  const bool terminal_;
  const Clock::time_point start_ = Clock::now();
  std::mutex mutex_;
  Clock::time_point last_ = start_;
  std::string stage_;
  bool shown_ = false;
};

// Today's date in UTC, YYYY-MM-DD, for the IBIS header.
std::string UtcDate() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  char text[16] = "";
  if (::gmtime_r(&now, &utc) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
  return text;
}

// The study the command line asks for.
ostrel::StudyOptions StudyOptionsOf(const Options& opt) {
  return {.frequencies_hz = opt.frequencies_hz,
          .ground_depth_um = opt.ground_depth_um,
          .eps_r = opt.eps_r,
          .clearance_um = opt.clearance_um,
          .capacitance = opt.capacitance,
          .nets = opt.nets};
}

// The physical study of the wires just estimated, when an output needs it; what the model
// leaves out or repairs and the wire pairs too close go to stderr.
std::optional<ostrel::PhysicalStudy> PhysicalStudy(const ostrel::Workspace& ws,
                                                   const Options& opt) {
  if (!opt.NeedsPhysicalModel()) return std::nullopt;
  std::optional<ostrel::PhysicalStudy> study;
  {
    ProgressLine line;
    study = ostrel::RunPhysicalStudy(ws.Wires, ws.params, StudyOptionsOf(opt), line.Hearing());
  }
  for (const std::string& note : study->notes) std::cerr << "ostrel-cli: note: " << note << "\n";
  return study;
}

// The requested exports of the estimation just run, as {path, text}. SPICE notes (couplings
// scaled or limited) go to stderr. `study`: the physical study when an export needs it.
std::vector<std::pair<std::string, std::string>> Exports(
    const ostrel::Workspace& ws, const Options& opt,
    const std::optional<ostrel::PhysicalStudy>& study) {
  const ostrel::ExportHeader header = ostrel::ExportHeaderFor(ws);
  std::vector<std::pair<std::string, std::string>> out;
  if (!opt.csv.empty()) out.emplace_back(opt.csv, ostrel::CsvText(header, ws.Wires));
  if (!opt.json.empty()) out.emplace_back(opt.json, ostrel::JsonText(header, ws.Wires));
  if (!opt.spice.empty()) {
    ostrel::SpiceNetlist netlist =
        opt.spice_inductance == ostrel::SpiceInductance::kLoop
            ? ostrel::SpiceLoopText(header, ws.package, ws.Wires, study->model,
                                    opt.spice_broadband, opt.nets)
            : ostrel::SpiceText(header, ws.package, ws.Wires, opt.spice_inductance);
    for (const std::string& note : netlist.Notes) {
      std::cerr << "ostrel-cli: note: " << opt.spice << ": " << note << "\n";
    }
    out.emplace_back(opt.spice, std::move(netlist.Text));
  }
  if (!opt.physical.empty()) {
    out.emplace_back(opt.physical, ostrel::PhysicalJsonText(study->model));
  }
  if (!opt.ibis_pkg.empty() || !opt.touchstone.empty()) {
    const ostrel::physical::Model& selected = study->Selected();
    if (!opt.ibis_pkg.empty()) {
      const std::string name = std::filesystem::path(opt.ibis_pkg).filename().string();
      out.emplace_back(opt.ibis_pkg,
                       ostrel::IbisPackageText(
                           {name, UtcDate(), header.PackageName, header.SettingsName}, selected)
                           .text);
    }
    if (!opt.touchstone.empty()) {
      ProgressLine line;
      out.emplace_back(opt.touchstone,
                       ostrel::TouchstoneText({header.PackageName, header.SettingsName,
                                               opt.loss_tangent},
                                              selected, line.Hearing())
                           .text);
    }
  }
  if (!opt.svg.empty()) out.emplace_back(opt.svg, ostrel::SvgText(header, ws.package, ws.Wires));
  return out;
}

// What a fault that is not a StageError says: the step `doing` and, when memory ran out, how to
// ask for a smaller model.
std::string UnexpectedFailure(const std::string& doing) {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return "out of memory while " + doing +
           "; ask for less: leave the capacitance out with --no-capacitance, or keep only the "
           "wires the package models need with --nets PATTERN[,PATTERN]";
  } catch (const std::exception& e) {
    return "unexpected failure while " + doing + ": " + e.what();
  } catch (...) {
    return "unexpected failure while " + doing;
  }
}

// Every result the run writes, in the order its paths are printed: the report (`report_path`
// unless another is asked for), the saved settings, the exports, the physical table.
std::vector<ostrel::Output> Outputs(const Options& opt, const std::string& report_path) {
  std::vector<ostrel::Output> out;
  if (opt.to_stdout) {
    out.push_back({"--stdout", "-"});
  } else {
    out.push_back({opt.report.empty() ? "the report" : "--report",
                   opt.report.empty() ? report_path : opt.report});
  }
  if (!opt.save_settings.empty()) {
    out.push_back({.option = "--save-settings",
                   .path = opt.save_settings,
                   .saves_settings = true,
                   .listed = false,
                   .durability = ostrel::Durability::kSynced});
  }
  const std::pair<const char*, const std::string Options::*> kExports[] = {
      {"--csv", &Options::csv},           {"--json", &Options::json},
      {"--spice", &Options::spice},       {"--physical", &Options::physical},
      {"--ibis-pkg", &Options::ibis_pkg}, {"--touchstone", &Options::touchstone},
      {"--svg", &Options::svg}};
  for (const auto& [name, member] : kExports) {
    const std::string_view option = name;
    const bool file_only = option == "--ibis-pkg" || option == "--touchstone";
    if (!(opt.*member).empty()) {
      out.push_back({.option = name, .path = opt.*member, .stdout_allowed = !file_only});
    }
  }
  if (opt.physical_table) out.push_back({"--physical-table", "-"});
  return out;
}

// The command; `doing` names the step under way for a fault that ends it unexpectedly.
int Run(int argc, char** argv, std::string& doing) {
  doing = "reading the command line";
  Options opt;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) == 0) opt.given.push_back(a);
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      return Print(kHelp);
    } else if (a == "--version") {
      return Print("ostrel-cli " + std::to_string(ostrel::kVersionMajor) + "." +
                   std::to_string(ostrel::kVersionMinor) + "." +
                   std::to_string(ostrel::kVersionRevision) + "\n");
    } else if (a == "--stdout") {
      opt.to_stdout = true;
    } else if (std::string* path = PathOption(opt, a)) {
      if (!value(*path)) return Usage(a + " needs a path");
    } else if (a == "--spice-inductance") {
      std::string which;
      if (!value(which) || !ostrel::ParseSpiceInductance(which, opt.spice_inductance)) {
        return Usage("--spice-inductance needs dc, ac, self or loop");
      }
    } else if (a == "--spice-broadband") {
      opt.spice_broadband = true;
    } else if (const NumberOptionTarget number = NumberOption(opt, a); number.value) {
      std::string text;
      if (!value(text)) return Usage(a + " needs a value");
      try {
        *number.value = ostrel::NonNegativeNumber(text, number.what);
      } catch (const ostrel::StageError& e) {
        return Usage(a + ": " + e.what());
      }
      if (a == "--eps-r" && !(opt.eps_r >= 1)) {
        return Usage(a + ": the relative permittivity must be at least 1");
      }
    } else if (a == "--no-capacitance") {
      opt.capacitance = false;
    } else if (a == "--physical-table") {
      opt.physical_table = true;
    } else if (a == "--frequencies" || a == "--sweep" || a == "--sweep-linear") {
      std::string text;
      if (!value(text)) return Usage(a + " needs a value");
      if (!opt.frequency_option.empty()) {
        return Usage("only one of --frequencies, --sweep and --sweep-linear can be given");
      }
      try {
        opt.frequency_option = a;
        opt.frequencies_hz = a == "--frequencies" ? ostrel::FrequencyList(text)
                                                  : ostrel::Sweep(text, a == "--sweep");
      } catch (const ostrel::StageError& e) {
        return Usage(a + ": " + e.what());
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
  if (opt.to_stdout && opt.physical_table)
    return Usage("--stdout and --physical-table exclude each other");
  if (const std::string fault = OptionWithoutItsOutput(opt); !fault.empty()) return Usage(fault);
  // The bundled example's settings file is no place for what the user meant to write.
  for (const ostrel::Output& output : Outputs(opt, "")) {
    if (opt.settings.empty() && output.option != "the report" && output.path != "-") {
      return Usage(output.option + " " + output.path + " writes a file: give SETTINGS.zv too");
    }
  }

  doing = "reading the settings and the package";
  ostrel::Workspace ws;
  const std::string settings_path =
      opt.settings.empty()
          ? ostrel::DefaultSettingsPath(
                ProgramDir(argv[0]),
                ostrel::UserDataHome(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")))
          : ostrel::SettingsPathFor(opt.settings, ProgramDir(argv[0]), CurrentDir());
  const std::vector<ostrel::Output> outputs = Outputs(opt, ostrel::ReportPath(settings_path));
  const ostrel::StartUpResult start = ostrel::StartUp(ws, settings_path);
  if (!start.settings_found) {
    const bool other = ostrel::KindOf(settings_path) == ostrel::FileKind::kOther;
    std::cerr << "ostrel-cli: settings file " << (other ? "is not a regular file" : "not found")
              << ": " << settings_path << "\n";
    return kExitUsage;
  }
  if (start.error) return Fail(start.error->what());
  const std::string clash = ostrel::OutputClash(
      outputs, {{"the settings file", settings_path, true}, {"the package file", ws.PackagePath}});
  if (!clash.empty()) return Usage(clash);

  ostrel::RemoveTempFilesOnSignals();
  try {
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
    doing = "estimating the wires";
    // Every result is complete before any is put in place, so a failing one leaves every file
    // as it was.
    ostrel::OutputPlan plan(outputs);
    if (!opt.save_settings.empty()) plan.Write(opt.save_settings, ostrel::SaveText(ws));
    const ostrel::ReportHeader report = ostrel::EstimateWires(ws);
    if (const std::string fault = FaultWithTheWires(ws.Wires, opt); !fault.empty()) {
      return Usage(fault);
    }
    doing = "computing the physical model";
    const std::optional<ostrel::PhysicalStudy> study = PhysicalStudy(ws, opt);
    doing = "making the exports";
    const std::vector<std::pair<std::string, std::string>> exports = Exports(ws, opt, study);
    doing = "writing the report and the exports";
    // The report goes out in pieces as it is written, never whole in memory.
    const std::string& report_path = outputs.front().path;
    ostrel::WriteReportPieces(report, ws.Wires, [&](std::string_view piece) {
      plan.Write(report_path, piece);
    });
    for (const auto& [path, text] : exports) plan.Write(path, text);
    if (opt.physical_table) plan.Write("-", ostrel::PhysicalTableText(study->model));
    plan.Commit();
    ostrel::CloseStandardOutput();
  } catch (const ostrel::StageError& e) {
    return Fail(e.what());
  }
  return kExitOk;
}

}  // namespace

// Any fault ends the command with status 1 and its reason on stderr, never with a crash; the
// report and the exports are written only once all of them are made, so none is left behind.
int main(int argc, char** argv) {
  std::string doing;
  try {
    return Run(argc, argv, doing);
  } catch (...) {
    return Fail(UnexpectedFailure(doing));
  }
}
