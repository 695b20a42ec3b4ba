// Bad input end to end: every arithmetic fault ends the command with a reason instead of an
// infinity or NaN in a report, and hostile files (a tiny cut length, a line of many megabytes,
// binary bytes, a million unknown lines) end quickly, in bounded memory, with a clear reason.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "app/workspace.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  int status = -1;  // exit status; -1 when killed by a signal
  std::string out, err;
  double cpu_seconds = 0;  // processor time of the run (a busy machine does not inflate it)
  long max_rss_mb = 0;     // peak resident memory of the run
};

// A package of two pads per side of a 2000 x 2000 base die (pitch 200, so the default wire
// distance is 300), two base wires and, on request, more lines. Line numbers: the header takes
// lines 1-6, the pads 7-14, the wire bonds 15-16, `extra` starts at line 17.
std::string Package(const std::string& extra = "", const std::string& header = "") {
  std::string text = header.empty() ? "COMPW 2000\nCOMPL 2000\nSD_COMPW 1000\nSD_COMPL 1000\n"
                                      "SD_COMPZ 150\nCOMPZ 200\n"
                                    : header;
  text +=
      "CBP T1 -100 900 0 60 80 0 T\nCBP T2 100 900 0 60 80 0 T\n"
      "CBP B1 -100 -900 0 60 80 0 B\nCBP B2 100 -900 0 60 80 0 B\n"
      "CBP L1 -900 -100 0 60 80 0 L\nCBP L2 -900 100 0 60 80 0 L\n"
      "CBP R1 900 -100 0 60 80 0 R\nCBP R2 900 100 0 60 80 0 R\n"
      "WB T1 -100 900 0 -100 1500 200 0\nWB T2 100 900 0 100 1500 200 0\n";
  return text + extra;
}

std::string Settings(const std::string& overrides = "") {
  return "TMVFile=p.tmv\r\nMaterial=Au\r\nWireDiameter=1.000\r\nFrequency=1000000.000\r\n"
         "BaseLoopHeight=200.000\r\nBaseExtension=250.000\r\nStackLoopHeight=180.000\r\n"
         "StackExtension=100.000\r\nStichExtension=100.000\r\n" +
         overrides;
}

// The diameter in mils whose size in microns equals the skin depth at 1 MHz (7.5e-5 m, taken
// as it stands): the surface ring of the resistance formula then has no area.
float DiameterEqualToSkinDepth() {
  const float skin_depth = static_cast<float>(0.075 / std::sqrt(1e6));
  float mils = static_cast<float>(skin_depth / 25.4);
  for (int step = 0; step < 64; ++step) {
    const float microns = static_cast<float>(static_cast<double>(mils) * 25.4);
    if (microns == skin_depth) return mils;
    mils = std::nextafter(mils, microns < skin_depth ? 1.0f : 0.0f);
  }
  return 0;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string Exact(float value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(value));
  return buf;
}

class RobustnessTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("ostrel_robust_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return Path(name);
  }

  // Runs ostrel-cli in the scratch folder and measures it.
  CliRun Cli(const std::vector<std::string>& args) {
    const std::string out_path = Path("cli.out"), err_path = Path("cli.err");
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(dir_.c_str()) != 0) ::_exit(126);
      const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0) ::_exit(126);
      ::dup2(out, 1);
      ::dup2(err, 2);
      std::vector<char*> argv{const_cast<char*>(OSTREL_CLI_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(OSTREL_CLI_PATH, argv.data());
      ::_exit(127);
    }
    CliRun run;
    int raw = 0;
    rusage usage{};
    EXPECT_EQ(::wait4(pid, &raw, 0, &usage), pid);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    run.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.max_rss_mb = usage.ru_maxrss / 1024;
    run.out = ReadWholeFile(out_path);
    run.err = ReadWholeFile(err_path);
    return run;
  }

  // Start-up and Process Data's estimation in memory, as the window runs them (the window's
  // enabling rules are not applied, so the stages meet settings the panel would refuse).
  std::string Estimate() {
    Workspace ws;
    const StartUpResult start = StartUp(ws, Path("x.zv"));
    EXPECT_TRUE(start.settings_found);
    if (start.error) throw *start.error;
    return RunEstimation(ws);
  }

  fs::path dir_;
};

// Each arithmetic fault that ordinary files reach, through the command-line program: it ends
// with status 1, names the package file (and the line, where one line is at fault), says what
// failed, writes no report, and prints no infinity or NaN.
TEST_F(RobustnessTest, ArithmeticFaultsEndTheRunWithAReason) {
  struct Row {
    const char* name;
    std::string package;
    std::string settings;
    std::string says;  // part of the reason
    std::string at;    // file and line the message starts with
  };
  const std::string off_die_stack =
      "SD_CBP S1 -300 400 0 60 80 0 T\nWB S1 -300 400 0 -300 1500 0 0\n";
  const Row rows[] = {
      {"wire radius rounds to zero (division by zero)", Package(),
       Settings("WireDiameter=1e-44\r\n"), "division by zero", "p.tmv:15:"},
      {"pads of each side at one place: wire distance 0 (division by zero)",
       "COMPW 2000\nCOMPL 2000\nCOMPZ 200\n"
       "CBP T1 100 900 0 60 80 0 T\nCBP T2 100 900 0 60 80 0 T\n"
       "CBP B1 100 -900 0 60 80 0 B\nCBP B2 100 -900 0 60 80 0 B\n"
       "CBP L1 -900 100 0 60 80 0 L\nCBP L2 -900 100 0 60 80 0 L\n"
       "CBP R1 900 100 0 60 80 0 R\nCBP R2 900 100 0 60 80 0 R\n"
       "WB T1 100 900 0 100 1500 200 0\n",
       Settings(), "mutual inductance: division by zero; the wire distance must be above 0",
       "p.tmv:12:"},
      {"wire diameter equal to the skin depth (division by zero)", Package(),
       Settings("WireDiameter=" + Exact(DiameterEqualToSkinDepth()) + "\r\n"),
       "diameter equals the skin depth", "p.tmv:15:"},
      {"stacked wire running below the base die surface (logarithm of a negative number)",
       Package(off_die_stack), Settings(), "logarithm of zero or a negative number", "p.tmv:18:"},
      {"wire ends beyond the single range apart (overflow on storing)",
       Package("WB T1 -3e38 900 0 3e38 1500 200 0\n"), Settings(), "too large", "p.tmv:17:"},
      {"pad gap beyond the single range (overflow on storing)",
       Replaced(Replaced(Package(), "CBP T1 -100 ", "CBP T1 -3e38 "), "CBP T2 100 ",
                "CBP T2 3e38 "),
       Settings(), "top (T) side", "p.tmv:8:"},
      {"largest single frequency, back from its GHz box (overflow on storing)", Package(),
       Settings("Frequency=340282346638528859811704183484516925440\r\n"),
       "too large to store as a single", "x.zv: the frequency"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write("p.tmv", row.package);
    Write("x.zv", row.settings);
    fs::remove(Path("x.zv.doc"));
    const CliRun run = Cli({"x.zv"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("error: " + Path(row.at)), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("inf"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("nan"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(Path("x.zv.doc")));
  }
}

// Settings that the panel would not let Process Data run with still end the estimation with a
// reason when the stages meet them: the logarithm of zero (a loop height or a wire length of 0)
// and the square root of a negative frequency.
TEST_F(RobustnessTest, FaultsBehindTheDisabledCommandStillEndWithAReason) {
  struct Row {
    const char* name;
    std::string settings;
    std::string says;
  };
  const Row rows[] = {
      {"base loop height 0", Settings("BaseLoopHeight=0\r\n"),
       "self inductance: logarithm of zero or a negative number"},
      {"frequency 0 leaves every length 0", Settings("Frequency=0\r\n"),
       "DC and AC inductance: logarithm of zero or a negative number"},
      {"negative frequency", Settings("Frequency=-5\r\n"), "frequency is negative"},
      {"negative wire diameter", Settings("WireDiameter=-1\r\n"), "logarithm of zero"},
  };
  Write("p.tmv", Package());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write("x.zv", row.settings);
    try {
      const std::string report = Estimate();
      ADD_FAILURE() << "no error; report:\n" << report;
    } catch (const StageError& e) {
      EXPECT_NE(e.reason().find(row.says), std::string::npos) << e.what();
    }
  }
}

// Inputs built to exhaust time or memory end within a couple of seconds each, in bounded
// memory, with a reason naming the file — or succeed where the input is legal.
TEST_F(RobustnessTest, HostileInputsEndQuicklyInBoundedMemory) {
  // The inputs are streamed to disk, never held here: a child process starts with this
  // process's resident memory, which would hide the child's own.
  using Writer = std::function<void(std::ostream&)>;
  auto text = [](std::string t) { return Writer([t](std::ostream& out) { out << t; }); };
  auto repeated = [](std::string head, std::string piece, std::size_t count, std::string tail) {
    return Writer([=](std::ostream& out) {
      out << head;
      std::string chunk;
      for (std::size_t i = 0; i < count; ++i) {
        chunk += piece;
        if (chunk.size() > 65536) out << chunk, chunk.clear();
      }
      out << chunk << tail;
    });
  };
  // A stitch wire 1000 microns long with a cut length of 0.003 microns needs some 330000
  // segments; sixty stitches with a cut length of 0.05 need some 28000 segments each, more
  // than a package may have in all.
  const std::string tiny_heights = "COMPW 2000\nCOMPL 2000\nSD_COMPZ 0.001\nCOMPZ 0.001\n";
  const Writer random_bytes = [](std::ostream& out) {
    std::mt19937 bytes(7);
    std::string chunk(65536, '\0');
    for (int k = 0; k < 64; ++k) {
      for (char& c : chunk) c = static_cast<char>(bytes() & 0xff);
      out << chunk;
    }
  };

  struct Row {
    const char* name;
    Writer package;
    Writer settings;
    int status;
    std::string says;  // part of stderr ("" for a clean run)
  };
  const Row rows[] = {
      {"cut length near zero", text(Package("STCH A 0 0 B 1000 0 1 0\n", tiny_heights)),
       text(Settings("StackLoopHeight=0.001\r\n")), 1, "more than 32767 segments"},
      {"many wires near the segment limit",
       repeated(Package("", tiny_heights), "STCH A 0 0 B 1500 0 10 0\n", 60, ""),
       text(Settings("StackLoopHeight=0.048\r\n")), 1, "segments in all"},
      {"a package line of 32 MB in 16 million fields",
       repeated(Package() + "CBP T9", " 1", 16u << 20, "\n"), text(Settings()), 0, ""},
      {"a package of 4 MB of binary bytes", random_bytes, text(Settings()), 1, "p.tmv"},
      {"a million unknown lines", repeated(Package(), "FOO 1 2\n", 1000000, ""),
       text(Settings()), 0, ""},
      {"a settings file of 4 MB of binary bytes", text(Package()), random_bytes, 1,
       "needs a TMVFile= line"},
      {"a settings line of 32 MB", text(Package()),
       repeated(Settings(), "k", 32u << 20, "\r\n"), 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    {
      std::ofstream package(Path("p.tmv"), std::ios::binary);
      row.package(package);
      std::ofstream settings(Path("x.zv"), std::ios::binary);
      row.settings(settings);
    }
    const CliRun run = Cli({"x.zv"});
    EXPECT_EQ(run.status, row.status) << run.err;
    if (row.says.empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      // The reason names the file at fault.
      EXPECT_NE(run.err.find("error: "), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(Path("")), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
    }
    // A guard against a run without end, not a speed target (the benchmarks hold those): far
    // above what these inputs take, even under the sanitizers.
    EXPECT_LT(run.cpu_seconds, 30.0);
    // Memory stays within a few copies of the input, never a multiple of the work asked for.
    EXPECT_LT(run.max_rss_mb, 300);
  }
}

// A report or settings file that cannot be written ends the run with status 1 and the reason,
// and leaves the earlier file byte for byte, with no temporary file beside it. The names used
// are as long as a name can be, so the new file beside them cannot be made (root included).
TEST_F(RobustnessTest, FailedWritesOfTheCommandLineKeepTheEarlierFiles) {
  const std::string earlier = "*Input File: earlier\r\n";
  const std::string settings_name = std::string(251 - 3, 's') + ".zv";  // report: 255 bytes
  const std::string saved_name(255, 'k');
  Write("p.tmv", Package());
  Write(settings_name, Settings());
  Write("x.zv", Settings());
  Write(settings_name + ".doc", earlier);
  Write(saved_name, earlier);
  struct Row {
    const char* name;
    std::vector<std::string> args;
    std::string kept;
  };
  const Row rows[] = {
      {"report", {settings_name}, settings_name + ".doc"},
      {"--save-settings", {"--save-settings", Path(saved_name), "x.zv"}, saved_name},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto entries = [this] {
      std::vector<std::string> names;
      for (const auto& e : fs::directory_iterator(dir_)) {
        const std::string name = e.path().filename();
        if (name != "cli.out" && name != "cli.err") names.push_back(name);
      }
      std::sort(names.begin(), names.end());
      return names;
    };
    const std::vector<std::string> before = entries();
    const CliRun run = Cli(row.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("error: cannot write " + Path(row.kept) + ": File name too long"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadWholeFile(Path(row.kept)), earlier);
    EXPECT_EQ(entries(), before);
  }
}

}  // namespace
}  // namespace ostrel
