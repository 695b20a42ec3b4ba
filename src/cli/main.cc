// ostrel-cli: runs the estimation of one settings file without a window, exactly as the
// window's Process Data does after starting with that file.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "app/file_io.h"
#include "app/nets.h"
#include "app/output_plan.h"
#include "app/physical_study.h"
#include "app/start_path.h"
#include "app/workspace.h"
#include "base/name_patterns.h"
#include "base/text.h"
#include "cli/large_page_heap.h"
#include "export/export_table.h"
#include "export/exports.h"
#include "export/ibis_package.h"
#include "export/physical_export.h"
#include "export/touchstone.h"
#include "ostrel/version.h"
#include "physical/dense_algebra.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The help is these pieces around the lines of the options (OptionLine): the options of the
// report, each export with the options listed after it, then --version and --help.
constexpr const char* kHelpHead = R"(Usage: ostrel-cli [OPTIONS] [SETTINGS.zv]

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
)";

constexpr const char* kHelpPhysicalModel = R"(
Physical model (exact resistance and internal inductance from DC up, partial
and loop inductance matrices of the real wire paths; docs/physical.md):
)";

constexpr const char* kHelpOptionRules =
    R"(  An option for one output without that output is a usage error: the SPICE
  options without --spice (and --spice-broadband without loop or partial),
  the loss tangent without --touchstone, --nets without an output it selects
  for, and the model's options (ground depth, clearance, eps_r, capacitance,
  pairs, return, frequencies) without an output of the model.
  A long computation (the model, the Touchstone file) shows its progress on
  stderr; what the model leaves out or repairs in a large package is noted
  there and in the JSON, and so are the wire pairs closer than the clearance
  (also in the table).

)";

constexpr const char* kHelpTail = R"(
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
the estimated wires show (a --nets pattern matching no wire, a --pairs pattern
pair that pairs no wires or puts a wire in two pairs, a Touchstone extension
that does not fit) are found before anything is written and give 2 as well.
SIGINT, SIGTERM and SIGHUP remove the temp files.
)";

struct Options {
  std::string settings;
  std::string report;
  std::string save_settings;
  bool to_stdout = false;
  // The path of each export asked for, by its row of ostrel::ExportKinds(); empty: not asked.
  std::vector<std::string> exports = std::vector<std::string>(ostrel::ExportKinds().size());
  ostrel::ExportChoices choices;  // SPICE inductance and ladders, nets, loss tangent
  bool physical_table = false;
  bool list_nets = false;
  ostrel::NetRules net_rules;  // which pad types make ground and supply nets
  std::string net_map;         // the net map's path
  double ground_depth_um = 50;
  bool return_wires = false;  // --return wires: the signals' loops through the ground wires too
  double clearance_um = 0;    // surface to surface, for the list of wires too close
  double eps_r = 1;           // relative permittivity around the wires
  bool capacitance = true;
  std::string pairs;                   // differential pairs, "P/N,..." of wire-name patterns
  std::vector<double> frequencies_hz;  // empty: the settings file's frequency
  std::string frequency_option;        // the option that gave them
  std::vector<std::string> given;      // the options named on the command line

  bool Given(std::string_view option) const {
    return std::find(given.begin(), given.end(), option) != given.end();
  }

  // The path given to the export option `option`, empty when it was not.
  const std::string& Export(std::string_view option) const {
    return exports[static_cast<std::size_t>(ostrel::FindExportKind(option) -
                                            ostrel::ExportKinds().data())];
  }

  bool NeedsPhysicalModel() const {
    for (std::size_t i = 0; i < exports.size(); ++i) {
      if (!exports[i].empty() && ostrel::ExportKinds()[i].needs_model(choices)) return true;
    }
    return physical_table;
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

// A usage fault of the command line: the message after "ostrel-cli: ".
ostrel::StageError UsageFault(const std::string& message) { return ostrel::StageError(message); }

// Reads the frequencies of `option` (--frequencies, --sweep or --sweep-linear).
void ReadFrequencies(Options& opt, const std::string& option, const std::string& text) {
  if (!opt.frequency_option.empty()) {
    throw UsageFault("only one of --frequencies, --sweep and --sweep-linear can be given");
  }
  try {
    opt.frequency_option = option;
    opt.frequencies_hz = option == "--frequencies" ? ostrel::FrequencyList(text)
                                                   : ostrel::Sweep(text, option == "--sweep");
  } catch (const ostrel::StageError& e) {
    throw UsageFault(option + ": " + e.what());
  }
}

// The whole of `text` as a number not below 0 for `option`, `what` naming it in messages.
double ReadNumber(const std::string& option, const std::string& text, const std::string& what) {
  try {
    return ostrel::NonNegativeNumber(text, what);
  } catch (const ostrel::StageError& e) {
    throw UsageFault(option + ": " + e.what());
  }
}

// An option of ostrel-cli besides the exports: its names, the value it takes, its lines in the
// help and where they stand, and what it does to the options read so far. `read` throws
// StageError for a usage fault, or a CLI11 call for help or version that ends the reading.
struct CliOption {
  const char* name;
  const char* value_name;  // "" for an option without a value
  const char* needs;       // the usage fault when the value is missing: "--NAME needs ..."
  const char* help;
  const char* listed_after;  // an export's option; "" before the exports, "end" after them
  void (*read)(Options& opt, const std::string& name, const std::string& value);
  const char* short_name = "";
};

constexpr CliOption kCliOptions[] = {
    {"--stdout", "", "", "print the report instead of writing it", "",
     [](Options& opt, const std::string&, const std::string&) { opt.to_stdout = true; }},
    {"--report", "PATH", "needs a path", "write the report to PATH instead", "",
     [](Options& opt, const std::string&, const std::string& v) { opt.report = v; }},
    {"--save-settings", "PATH", "needs a path",
     "write the settings file that Save would write after\n"
     "loading SETTINGS.zv (parameters in \"0.000\" form)",
     "", [](Options& opt, const std::string&, const std::string& v) { opt.save_settings = v; }},
    {"--spice-inductance", "dc|ac|self|loop|partial", "needs dc, ac, self, loop or partial",
     "inductance figure of the SPICE inductors (default\n"
     "ac); loop: the physical model's loop inductances\n"
     "over the ground plane with all their couplings above\n"
     "the cut-off, R and internal inductance at the first\n"
     "frequency, and the plane as the port ref; partial:\n"
     "the wires alone (no plane, no posts), every pad and\n"
     "finger a node, for a substrate model; with --return\n"
     "wires the ground wires joined to gnd_die and gnd_sub",
     "--spice",
     [](Options& opt, const std::string&, const std::string& v) {
       if (!ostrel::ParseSpiceInductance(v, opt.choices.spice_inductance)) {
         throw UsageFault("--spice-inductance needs dc, ac, self, loop or partial");
       }
     }},
    {"--spice-broadband", "", "",
     "with --spice-inductance loop: each wire's R(f) and\n"
     "internal inductance as an R-L ladder fitted from DC\n"
     "to the highest frequency, and the capacitances",
     "--spice",
     [](Options& opt, const std::string&, const std::string&) {
       opt.choices.spice_broadband = true;
     }},
    {"--physical-table", "", "",
     "print one line per wire of the physical model at the\n"
     "first frequency (length, R_dc, R, partial and loop\n"
     "inductance, strongest neighbour and its k) instead\n"
     "of the paths written; not with --stdout",
     "--physical",
     [](Options& opt, const std::string&, const std::string&) { opt.physical_table = true; }},
    {"--ground-depth", "MICRONS", "needs a value",
     "depth of the ground plane below the substrate\n"
     "surface, which closes each wire's loop (default 50)",
     "--physical",
     [](Options& opt, const std::string& name, const std::string& v) {
       opt.ground_depth_um = ReadNumber(name, v, "the ground depth");
     }},
    {"--return", "plane|wires", "needs plane or wires",
     "where the signals' current returns: plane (default:\n"
     "the loops over the ground plane) or wires: also each\n"
     "signal's loop through the package's ground wires in\n"
     "parallel, per frequency (return_loop), and the\n"
     "package models referenced to the ground net",
     "--physical",
     [](Options& opt, const std::string& name, const std::string& v) {
       if (v != "plane" && v != "wires") throw UsageFault(name + " needs plane or wires");
       opt.return_wires = v == "wires";
     }},
    {"--clearance", "MICRONS", "needs a value",
     "with the model: list the wire pairs whose surfaces come\n"
     "closer than this (default 0: those that touch or\n"
     "overlap)",
     "--physical",
     [](Options& opt, const std::string& name, const std::string& v) {
       opt.clearance_um = ReadNumber(name, v, "the clearance");
     }},
    {"--eps-r", "EPS", "needs a value",
     "relative permittivity of the dielectric around the\n"
     "wires, for the capacitances (default 1, open cavity;\n"
     "mould compound about 3.5-4)",
     "--physical",
     [](Options& opt, const std::string& name, const std::string& v) {
       opt.eps_r = ReadNumber(name, v, "the relative permittivity");
       if (!(opt.eps_r >= 1))
         throw UsageFault(name + ": the relative permittivity must be at least 1");
     }},
    {"--no-capacitance", "", "",
     "leave the capacitance matrix out (most of the time of\n"
     "a package of tens of thousands of wires); the IBIS\n"
     "package model and Touchstone need it",
     "--physical",
     [](Options& opt, const std::string&, const std::string&) { opt.capacitance = false; }},
    {"--pairs", "P/N[,...]", "needs a value",
     "differential pairs of wire-name patterns (* and ?):\n"
     "'*_P/*_N' pairs D0_P with D0_N, 'T2/T3' those two;\n"
     "odd/even L, C and Z of each pair in the JSON",
     "--physical", [](Options& opt, const std::string&, const std::string& v) { opt.pairs = v; }},
    {"--frequencies", "F1,F2,...", "needs a value",
     "frequencies in Hz (0 is DC); default: the settings\n"
     "file's frequency",
     "--physical", ReadFrequencies},
    {"--sweep", "FMIN:FMAX:N", "needs a value", "N log-spaced frequencies from FMIN > 0 to FMAX",
     "--physical", ReadFrequencies},
    {"--sweep-linear", "FMIN:FMAX:N", "needs a value",
     "N evenly spaced frequencies, FMIN >= 0 (from DC for\n"
     "time-domain work); one frequency option at most",
     "--physical", ReadFrequencies},
    {"--loss-tangent", "TAN", "needs a value",
     "dielectric loss tangent for --touchstone (default 0)", "--touchstone",
     [](Options& opt, const std::string& name, const std::string& v) {
       opt.choices.loss_tangent = ReadNumber(name, v, "the loss tangent");
     }},
    {"--nets", "PATTERN[,...]", "needs a path",
     "only the wires whose names match (* and ?) in the\n"
     "IBIS package model, the Touchstone file and the loop\n"
     "SPICE subcircuit; each pattern must match a wire;\n"
     "net:NAME takes the wires of the nets NAME matches",
     "--touchstone",
     [](Options& opt, const std::string&, const std::string& v) { opt.choices.nets = v; }},
    {"--list-nets", "", "",
     "print the nets the pads' types make (ground and supply\n"
     "nets, one per type; every other wire a signal net of\n"
     "its own), one a line with its role and wires, instead\n"
     "of the paths written; not with --stdout",
     "--touchstone",
     [](Options& opt, const std::string&, const std::string&) { opt.list_nets = true; }},
    {"--ground", "PATTERNS", "needs a value",
     "pad types of the ground nets (* and ?, any case;\n"
     "default *VSS*,*GND*)",
     "--touchstone",
     [](Options& opt, const std::string&, const std::string& v) { opt.net_rules.ground = v; }},
    {"--net-map", "FILE.csv", "needs a path",
     "nets and roles of named pads, overriding their types:\n"
     "lines die,pad,net,role (die base or stacked; role\n"
     "ground, power or signal)",
     "--touchstone",
     [](Options& opt, const std::string&, const std::string& v) { opt.net_map = v; }},
    {"--power", "PATTERNS", "needs a value", "pad types of the supply nets (default *VDD*,*VCC*)",
     "--touchstone",
     [](Options& opt, const std::string&, const std::string& v) { opt.net_rules.power = v; }},
    {"--version", "", "", "print the program version", "end",
     [](Options&, const std::string&, const std::string&) { throw CLI::CallForVersion(); }},
    {"--help", "", "", "show this help", "end",
     [](Options&, const std::string&, const std::string&) { throw CLI::CallForHelp(); }, "-h"},
};

// An option's lines in the help: its name and value in a column of 24, then its help; a longer
// head stands on a line of its own.
std::string OptionLine(std::string_view name, std::string_view value, std::string_view help) {
  constexpr std::size_t kColumn = 24;
  std::string head = "  " + std::string(name) + (value.empty() ? "" : " ") + std::string(value);
  std::string text = head.size() + 2 <= kColumn ? head + std::string(kColumn - head.size(), ' ')
                                                : head + "\n" + std::string(kColumn, ' ');
  for (const char c : help)
    text += c == '\n' ? "\n" + std::string(kColumn, ' ') : std::string(1, c);
  return text + "\n";
}

std::string HelpText() {
  auto options_after = [](std::string_view place) {
    std::string text;
    for (const CliOption& o : kCliOptions) {
      if (place == o.listed_after) text += OptionLine(o.name, o.value_name, o.help);
    }
    return text;
  };
  std::string text = kHelpHead + options_after("");
  for (const ostrel::ExportGroup group :
       {ostrel::ExportGroup::kEstimation, ostrel::ExportGroup::kPhysicalModel}) {
    if (group == ostrel::ExportGroup::kPhysicalModel) text += kHelpPhysicalModel;
    for (const ostrel::ExportKind& kind : ostrel::ExportKinds()) {
      if (kind.group != group) continue;
      text += OptionLine(kind.option, kind.value_name, kind.help) + options_after(kind.option);
    }
  }
  return text + kHelpOptionRules + options_after("end") + kHelpTail;
}

// What the command line asks beyond a run.
enum class Request { kRun, kHelp, kVersion };

// Reads the command line `args` (without the program) into `opt`. CLI11 finds the options and
// gathers their values; each option is read as CLI11 meets it, and every argument it set aside
// before (a settings file, an unknown option, an option written --NAME=VALUE) is judged then,
// so the first fault on the line is the one told. A value is the next argument, whatever it
// looks like. Throws StageError with the usage fault.
Request ReadCommandLine(const std::vector<std::string>& args, Options& opt) {
  // A name, the value it takes, its fault without one, and what it does.
  struct Named {
    std::string name, short_name;
    bool takes_value = false;
    std::string needs;
    std::function<void(const std::string&, const std::string&)> read;
  };
  std::vector<Named> named;
  for (const CliOption& o : kCliOptions) {
    named.push_back(
        {o.name, o.short_name, *o.value_name != '\0', o.needs,
         [&opt, read = o.read](const std::string& n, const std::string& v) { read(opt, n, v); }});
  }
  for (std::size_t i = 0; i < ostrel::ExportKinds().size(); ++i) {
    named.push_back({std::string(ostrel::ExportKinds()[i].option), "", true, "needs a path",
                     [&opt, i](const std::string&, const std::string& v) { opt.exports[i] = v; }});
  }

  std::vector<std::string> unread(args.rbegin(), args.rend());  // CLI11 reads from the back
  std::size_t judged = 0;  // the arguments before this one are read
  // Judges the arguments CLI11 set aside, up to `end`: the settings file, or an unknown option.
  auto judge_set_aside = [&](std::size_t end) {
    for (; judged < end; ++judged) {
      const std::string& a = args[judged];
      if (a.size() > 1 && a[0] == '-' && a != "-") {
        throw UsageFault("unknown option '" + a + "'");
      } else if (opt.settings.empty()) {
        opt.settings = a;
      } else {
        throw UsageFault("only one settings file can be given");
      }
    }
  };
  auto is_name = [](const Named& n, const std::string& a) {
    return a == n.name || (!n.short_name.empty() && a == n.short_name);
  };

  CLI::App app;
  app.set_help_flag();  // the help is ours
  app.allow_extras();   // the settings file and unknown options are judged here, in order
  for (const Named& n : named) {
    const std::string names = n.short_name.empty() ? n.name : n.short_name + "," + n.name;
    app.add_option(names,
                   [&, n](const CLI::results_t& values) {
                     const std::size_t end = args.size() - unread.size();
                     const bool apart =
                         n.takes_value && end >= judged + 2 && is_name(n, args[end - 2]);
                     const std::size_t at = apart ? end - 2 : end - 1;
                     judge_set_aside(at);
                     if (!is_name(n, args[at])) judge_set_aside(at + 1);  // --NAME=VALUE, -hX
                     if (args[at].rfind("--", 0) == 0) opt.given.push_back(args[at]);
                     n.read(args[at], values.empty() || !n.takes_value ? "" : values.front());
                     judged = end;
                     return true;
                   })
        ->expected(n.takes_value ? 1 : 0)
        ->trigger_on_parse();
  }
  try {
    app.parse(unread);
  } catch (const CLI::CallForHelp&) {
    return Request::kHelp;
  } catch (const CLI::CallForVersion&) {
    return Request::kVersion;
  } catch (const CLI::ParseError&) {
    // An option at the end without its value, or an argument CLI11 could not take.
    if (unread.size() >= args.size()) throw;
    const std::size_t at = args.size() - unread.size() - 1;
    judge_set_aside(at);
    for (const Named& n : named) {
      if (n.takes_value && is_name(n, args[at])) throw UsageFault(args[at] + " " + n.needs);
    }
    judge_set_aside(at + 1);
    throw;
  }
  judge_set_aside(args.size());
  return Request::kRun;
}

int Usage(const std::string& message) {
  std::cerr << "ostrel-cli: " << message << "\nTry 'ostrel-cli --help'.\n";
  return kExitUsage;
}

int Fail(const std::string& message) {
  std::cerr << "ostrel-cli: error: " << message << "\n";
  return kExitFailed;
}

// True when a --nets pattern names a net ("net:NAME").
bool NamesNets(const Options& opt) {
  const std::vector<std::string_view> patterns = ostrel::NetPatterns(opt.choices.nets);
  return std::any_of(patterns.begin(), patterns.end(),
                     [](std::string_view p) { return p.substr(0, 4) == "net:"; });
}

// True when the report is the only result that uses the wires (the settings may be saved too):
// no export, table, list of nets or model, and no option that reads the wires.
bool ReportOnly(const Options& opt) {
  const bool exports = std::any_of(opt.exports.begin(), opt.exports.end(),
                                   [](const std::string& path) { return !path.empty(); });
  return !exports && !opt.physical_table && !opt.list_nets && opt.net_map.empty() &&
         !NamesNets(opt) && !opt.return_wires && !opt.Given("--pairs") && !opt.NeedsPhysicalModel();
}

// An option given without the output it serves would change nothing: the usage fault naming
// both, or empty when every option given has its output.
std::string OptionWithoutItsOutput(const Options& opt) {
  const bool loop_spice = !opt.Export("--spice").empty() &&
                          (opt.choices.spice_inductance == ostrel::SpiceInductance::kLoop ||
                           opt.choices.spice_inductance == ostrel::SpiceInductance::kPartial);
  const bool model = opt.NeedsPhysicalModel();
  const char* const kModel =
      "an output of the physical model (--physical, --physical-table, --ibis-pkg, --touchstone "
      "or --spice-inductance loop)";
  const char* const kNets = "--list-nets, a --nets net: pattern or the physical model";
  const std::tuple<const char*, bool, const char*> kNeeds[] = {
      {"--spice-inductance", !opt.Export("--spice").empty(), "--spice"},
      {"--spice-broadband", loop_spice, "--spice with --spice-inductance loop"},
      {"--loss-tangent", !opt.Export("--touchstone").empty(), "--touchstone"},
      {"--nets",
       loop_spice || !opt.Export("--ibis-pkg").empty() || !opt.Export("--touchstone").empty(),
       "--ibis-pkg, --touchstone or --spice with --spice-inductance loop"},
      {"--ground", opt.list_nets || NamesNets(opt) || model, kNets},
      {"--power", opt.list_nets || NamesNets(opt) || model, kNets},
      {"--net-map", opt.list_nets || NamesNets(opt) || model, kNets},
      {"--return", model, kModel},
      {"--eps-r", model && opt.capacitance && opt.ground_depth_um > 0,
       "the capacitances of the physical model (not with --no-capacitance or --ground-depth 0)"},
      {"--ground-depth", model, kModel},
      {"--clearance", model, kModel},
      {"--no-capacitance", model, kModel},
      {"--pairs", model, kModel},
      {"--frequencies", model, kModel},
      {"--sweep", model, kModel},
      {"--sweep-linear", model, kModel}};
  for (const auto& [option, met, needs] : kNeeds) {
    if (!met && opt.Given(option)) {
      return std::string(option) + " does nothing without " + needs;
    }
  }
  const std::string& nets = opt.choices.nets;
  const std::vector<std::string_view> patterns = ostrel::NetPatterns(nets);
  if (opt.Given("--nets") && std::find(patterns.begin(), patterns.end(), "") != patterns.end()) {
    return "--nets '" + nets + "' holds an empty pattern; give names with * and ?, e.g. 'T*'";
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
std::string FaultWithTheWires(const ostrel::WireList& wires, const Options& opt,
                              const std::vector<ostrel::Net>& nets) {
  if (!opt.NeedsPhysicalModel()) return {};
  std::vector<std::string> names;
  for (const ostrel::Wire& wire : wires) names.push_back(wire.Name);
  try {
    ostrel::CheckNetPatterns(names, opt.choices.nets);
  } catch (const ostrel::StageError& e) {
    return e.what();
  }
  const std::string& path = opt.Export("--touchstone");
  if (path.empty()) return {};
  // With --return wires the signals' ends are the ports, and the substrate one more.
  std::vector<char> port(wires.size(), 1);
  if (opt.return_wires) {
    port.assign(wires.size(), 0);
    for (const std::size_t w : ostrel::ReturnWiresOf(nets, wires).signal_wires) port[w] = 1;
  }
  std::size_t ports = opt.return_wires ? 1 : 0;
  for (std::size_t w = 0; w < wires.size(); ++w) {
    if (port[w] &&
        (opt.choices.nets.empty() || ostrel::MatchesNetPattern(names[w], opt.choices.nets))) {
      ports += 2;
    }
  }
  if (ports <= 1 || ports > ostrel::kMaxTouchstonePorts) return {};  // TouchstoneText says why
  const std::string extension = ostrel::TouchstoneExtension(ports);
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
ostrel::StudyOptions StudyOptionsOf(const Options& opt, const std::vector<ostrel::Net>& nets,
                                    const ostrel::WireList& wires,
                                    const std::vector<ostrel::physical::WirePair>& pairs) {
  ostrel::StudyOptions study;
  study.pairs = pairs;
  study.frequencies_hz = opt.frequencies_hz;
  study.ground_depth_um = opt.ground_depth_um;
  study.eps_r = opt.eps_r;
  study.clearance_um = opt.clearance_um;
  study.capacitance = opt.capacitance;
  study.nets = opt.choices.nets;
  study.shared_nets = ostrel::SharedNets(nets);
  if (opt.return_wires) study.return_wires = ostrel::ReturnWiresOf(nets, wires);
  return study;
}

// The physical study of the wires just estimated, when an output needs it; what the model
// leaves out or repairs and the wire pairs too close go to stderr.
std::optional<ostrel::PhysicalStudy> PhysicalStudy(
    const ostrel::Workspace& ws, const Options& opt, const std::vector<ostrel::Net>& nets,
    const std::vector<ostrel::physical::WirePair>& pairs) {
  if (!opt.NeedsPhysicalModel()) return std::nullopt;
  std::optional<ostrel::PhysicalStudy> study;
  {
    ProgressLine line;
    study = ostrel::RunPhysicalStudy(ws.Wires, ws.params,
                                     StudyOptionsOf(opt, nets, ws.Wires, pairs), line.Hearing());
  }
  for (const std::string& note : study->notes) std::cerr << "ostrel-cli: note: " << note << "\n";
  return study;
}

// The requested exports of the estimation just run, as {path, result}, in the order of their
// rows. Their notes (SPICE couplings scaled or limited, a large JSON) go to stderr. `study`: the
// physical study when an export needs it.
std::vector<std::pair<std::string, ostrel::ExportResult>> Exports(
    const ostrel::Workspace& ws, const Options& opt,
    const std::optional<ostrel::PhysicalStudy>& study) {
  const ostrel::ExportHeader header = ostrel::ExportHeaderFor(ws);
  ostrel::ExportChoices choices = opt.choices;
  choices.date = UtcDate();
  std::vector<std::pair<std::string, ostrel::ExportResult>> out;
  for (std::size_t i = 0; i < opt.exports.size(); ++i) {
    const std::string& path = opt.exports[i];
    if (path.empty()) continue;
    ProgressLine line;
    ostrel::ExportSource source{header, ws.package, ws.Wires, choices};
    source.model = study ? &study->model : nullptr;
    source.selected = study ? &study->Selected() : nullptr;
    source.progress = line.Hearing();
    ostrel::ExportResult result = ostrel::ExportKinds()[i].make(source, path);
    for (const std::string& note : result.notes) {
      std::cerr << "ostrel-cli: note: " << path << ": " << note << "\n";
    }
    out.emplace_back(path, std::move(result));
  }
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
  for (std::size_t i = 0; i < opt.exports.size(); ++i) {
    const ostrel::ExportKind& kind = ostrel::ExportKinds()[i];
    if (!opt.exports[i].empty()) {
      out.push_back({.option = std::string(kind.option),
                     .path = opt.exports[i],
                     .stdout_allowed = kind.stdout_allowed});
    }
  }
  if (opt.physical_table) out.push_back({"--physical-table", "-"});
  if (opt.list_nets) out.push_back({"--list-nets", "-"});
  return out;
}

// The command; `doing` names the step under way for a fault that ends it unexpectedly.
int Run(int argc, char** argv, std::string& doing) {
  doing = "reading the command line";
  Options opt;
  try {
    switch (ReadCommandLine({argv + 1, argv + argc}, opt)) {
      case Request::kHelp:
        return Print(HelpText());
      case Request::kVersion:
        return Print("ostrel-cli " + std::to_string(ostrel::kVersionMajor) + "." +
                     std::to_string(ostrel::kVersionMinor) + "." +
                     std::to_string(ostrel::kVersionRevision) + "\n");
      case Request::kRun:
        break;
    }
  } catch (const ostrel::StageError& e) {
    return Usage(e.what());
  }
  if (opt.to_stdout && !opt.report.empty())
    return Usage("--stdout and --report exclude each other");
  if (opt.to_stdout && opt.physical_table)
    return Usage("--stdout and --physical-table exclude each other");
  if (opt.to_stdout && opt.list_nets) return Usage("--stdout and --list-nets exclude each other");
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
  // A large package's model touches up to a gigabyte of fresh heap: the program starts again,
  // once, with its heap on large pages (before anything is written; reading again is cheap).
  std::error_code size_error;
  if (opt.NeedsPhysicalModel() &&
      std::filesystem::file_size(ws.PackagePath, size_error) >= ostrel::kLargePageHeapFromBytes &&
      !size_error) {
    ostrel::RestartWithLargePageHeap("/proc/self/exe", argv);
  }

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
    if (ReportOnly(opt)) {
      // Nothing else uses the wires: each one is estimated and its block written before the
      // next is built, and none is kept. The report still goes through its temp file, put in
      // place by Commit only once it is whole.
      const std::string& report_path = outputs.front().path;
      ostrel::EstimateAndWriteReport(
          ws, [&](std::string_view piece) { plan.Write(report_path, piece); });
      plan.Commit();
      ostrel::CloseStandardOutput();
      return kExitOk;
    }
    const ostrel::ReportHeader report = ostrel::EstimateWires(ws);
    if (!opt.net_map.empty()) {
      doing = "reading the net map";
      if (ostrel::KindOf(opt.net_map) != ostrel::FileKind::kRegular) {
        return Fail("net map not found or not a regular file: " + opt.net_map);
      }
      opt.net_rules.map = ostrel::ReadNetMap(ostrel::ReadWholeFile(opt.net_map));
    }
    // The nets cost a look-up of every wire's pad types: made only for the outputs that use them
    // (--list-nets, a --nets net: pattern, the physical model's ground and supply nets).
    const bool uses_nets = opt.list_nets || NamesNets(opt) || opt.NeedsPhysicalModel();
    const std::vector<ostrel::Net> nets =
        uses_nets ? ostrel::PackageNets(ws.package, ws.Wires, opt.net_rules)
                  : std::vector<ostrel::Net>{};
    if (NamesNets(opt)) {
      try {
        opt.choices.nets = ostrel::ExpandNetPatterns(opt.choices.nets, nets, ws.Wires);
      } catch (const ostrel::StageError& e) {
        return Usage(e.what());
      }
    }
    if (opt.return_wires) {
      try {
        ostrel::ReturnWiresOf(nets, ws.Wires);
      } catch (const ostrel::StageError& e) {
        return Usage(e.what());
      }
    }
    if (const std::string fault = FaultWithTheWires(ws.Wires, opt, nets); !fault.empty()) {
      return Usage(fault);
    }
    std::vector<ostrel::physical::WirePair> pairs;
    if (opt.Given("--pairs")) {
      try {
        pairs = ostrel::WirePairsOf(opt.pairs, ws.Wires);
      } catch (const ostrel::StageError& e) {
        return Usage(e.what());
      }
    }
    doing = "computing the physical model";
    const std::optional<ostrel::PhysicalStudy> study = PhysicalStudy(ws, opt, nets, pairs);
    doing = "making the exports";
    const std::vector<std::pair<std::string, ostrel::ExportResult>> exports =
        Exports(ws, opt, study);
    doing = "writing the report and the exports";
    // The report goes out in pieces as it is written, never whole in memory.
    const std::string& report_path = outputs.front().path;
    ostrel::WriteReportPieces(report, ws.Wires,
                              [&](std::string_view piece) { plan.Write(report_path, piece); });
    // A binary export (the model as .npz) is made as it is written, from the study.
    for (const std::pair<std::string, ostrel::ExportResult>& e : exports) {
      if (e.second.write) {
        e.second.write([&](std::string_view piece) { plan.Write(e.first, piece); });
      } else {
        plan.Write(e.first, e.second.text);
      }
    }
    if (opt.physical_table) plan.Write("-", ostrel::PhysicalTableText(study->model));
    if (opt.list_nets) plan.Write("-", ostrel::NetListText(nets, ws.Wires));
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
  ostrel::physical::ChooseProcessorKernels();
  std::string doing;
  try {
    return Run(argc, argv, doing);
  } catch (...) {
    return Fail(UnexpectedFailure(doing));
  }
}
