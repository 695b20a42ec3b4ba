// Bad input end to end: every arithmetic fault ends the command with a reason instead of an
// infinity or NaN in a report, and hostile files (a tiny cut length, a line of many megabytes,
// binary bytes, a million unknown lines) end quickly, in bounded memory, with a clear reason.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "app/workspace.h"
#include "support/scratch_dir.h"

namespace ostrel {
namespace {

// A package of two pads per side of a 2000 x 2000 base die (pitch 200, so the default wire
// distance is 300), two base wires and, on request, more lines. Line numbers: the header takes
// lines 1-6, the pads 7-14, the wire bonds 15-16, `extra` starts at line 17.
std::string Package(const std::string& extra = "", const std::string& header = "") {
  std::string text = header.empty() ? "COMPW 2000\nCOMPL 2000\nSD_COMPW 1000\nSD_COMPL 1000\n"
                                      "SD_COMPZ 150\nCOMPZ 200\n"
                                    : header;
  return text +
         "CBP T1 -100 900 0 60 80 0 T\nCBP T2 100 900 0 60 80 0 T\n"
         "CBP B1 -100 -900 0 60 80 0 B\nCBP B2 100 -900 0 60 80 0 B\n"
         "CBP L1 -900 -100 0 60 80 0 L\nCBP L2 -900 100 0 60 80 0 L\n"
         "CBP R1 900 -100 0 60 80 0 R\nCBP R2 900 100 0 60 80 0 R\n"
         "WB T1 -100 900 0 -100 1500 200 0\nWB T2 100 900 0 100 1500 200 0\n" +
         extra;
}

std::string Settings(const std::string& overrides = "") {
  return "TMVFile=p.tmv\r\nMaterial=Au\r\nWireDiameter=1.000\r\nFrequency=1000000.000\r\n"
         "BaseLoopHeight=200.000\r\nBaseExtension=250.000\r\nStackLoopHeight=180.000\r\n"
         "StackExtension=100.000\r\nStichExtension=100.000\r\n" +
         overrides;
}

class RobustnessTest : public testing_support::ScratchDirTest {
 protected:
  // Runs ostrel-cli like Cli and measures the run on its own: a child's processor time and
  // peak memory.
  CliRun MeasuredCli(const std::string& args, double& cpu_seconds, long& max_rss_mb) const {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/bin/sh", "sh", "-c", CliCommand(args).c_str(), nullptr);
      ::_exit(127);
    }
    int raw = 0;
    rusage usage{};
    EXPECT_EQ(::wait4(pid, &raw, 0, &usage), pid);
    cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    max_rss_mb = usage.ru_maxrss / 1024;
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read(".out"), Read(".err")};
  }
};

// Each arithmetic fault that package and settings files reach ends with status 1, names the
// file (and the line, where one line is at fault), says what failed, writes no report, and
// prints no infinity or NaN. Faults behind settings the panel refuses (a loop height of 0, a
// negative frequency) are met by the estimation as the window runs it.
TEST_F(RobustnessTest, ArithmeticFaultsEndTheRunWithAReason) {
  struct Row {
    const char* name;
    // `says` is part of the reason, `at` the file and line the message starts with.
    std::string package, settings, says, at;
    bool refused = false;  // the panel refuses Process Data: the estimation runs on its own
  };
  const Row rows[] = {
      {"wire radius rounds to zero (division by zero)", Package(),
       Settings("WireDiameter=1e-44\r\n"), "division by zero", "p.tmv:15:"},
      {"pads of each side at one place: wire distance 0 (division by zero)",
       std::regex_replace(Package(), std::regex("-100 "), "100 "), Settings(),
       "mutual inductance: division by zero; the wire distance must be above 0", "p.tmv:15:"},
      {"wire diameter equal to the skin depth (division by zero)", Package(),
       // In microns, as a single, the skin depth at 1 MHz (7.5e-5 m, taken as it stands): the
       // surface ring of the resistance formula then has no area.
       Settings("WireDiameter=2.95275595e-06\r\n"), "diameter equals the skin depth", "p.tmv:15:"},
      {"stacked wire running below the base die surface (logarithm of a negative number)",
       Package("SD_CBP S1 -300 400 0 60 80 0 T\nWB S1 -300 400 0 -300 1500 0 0\n"), Settings(),
       "logarithm of zero or a negative number", "p.tmv:18:"},
      {"wire ends beyond the single range apart (overflow on storing)",
       Package("WB T1 -3e38 900 0 3e38 1500 200 0\n"), Settings(), "too large", "p.tmv:17:"},
      {"pad gap beyond the single range (overflow on storing)",
       std::regex_replace(Package(), std::regex("100 900 0 60"), "3e38 900 0 60"), Settings(),
       "top (T) side", "p.tmv:8:"},
      {"largest single frequency, back from its GHz box (overflow on storing)", Package(),
       Settings("Frequency=340282346638528859811704183484516925440\r\n"),
       "too large to store as a single", "x.zv: the frequency"},
      {"base loop height 0 (logarithm of zero)", Package(), Settings("BaseLoopHeight=0\r\n"),
       "self inductance: logarithm of zero or a negative number", "p.tmv:15:", true},
      {"negative frequency (square root of a negative number)", Package(),
       Settings("Frequency=-5\r\n"), "frequency is negative", "x.zv: the", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write("p.tmv", row.package);
    Write("x.zv", row.settings);
    std::filesystem::remove(Path("x.zv.doc"));
    std::string err;
    if (row.refused) {
      Workspace ws;
      const StartUpResult start = StartUp(ws, Path("x.zv"));
      try {
        if (start.error) throw *start.error;
        ADD_FAILURE() << "no error; report:\n" << RunEstimation(ws);
      } catch (const StageError& e) {
        err = e.what();
      }
      EXPECT_EQ(err.rfind(Path(row.at), 0), 0u) << err;
    } else {
      const CliRun run = Cli("x.zv");
      EXPECT_EQ(run.status, 1) << run.err;
      EXPECT_NE(run.err.find("error: " + Path(row.at)), std::string::npos) << run.err;
      err = run.err;
    }
    EXPECT_NE(err.find(row.says), std::string::npos) << err;
    EXPECT_EQ(err.find("inf"), std::string::npos) << err;
    EXPECT_EQ(err.find("nan"), std::string::npos) << err;
    EXPECT_FALSE(Exists("x.zv.doc"));
  }
}

// Inputs built to exhaust time or memory end in bounded time and memory, with a reason naming
// the file, or succeed where the input is legal.
TEST_F(RobustnessTest, HostileInputsEndInBoundedTimeAndMemory) {
  // The inputs are streamed to disk, never held here: a child process starts with this
  // process's resident memory, which would hide the child's own.
  // A file of `head`, `count` times `piece`, then `tail`.
  struct Text {
    Text(std::string head, std::string piece = "", std::size_t count = 0, std::string tail = "")
        : head(head), piece(piece), count(count), tail(tail) {}
    std::string head, piece;
    std::size_t count;
    std::string tail;
  };
  std::mt19937 bytes(7);
  std::string noise(65536, '\0');
  for (char& c : noise) c = static_cast<char>(bytes());
  const Text binary("", noise, 64);  // 4 MB
  // A stitch wire 1000 microns long with a cut length of 0.003 microns needs some 330000
  // segments; sixty stitches with a cut length of 0.05 need some 28000 segments each, some
  // 60 MB in all, well within the memory the wires of a package may take.
  const std::string tiny_heights = "COMPW 2000\nCOMPL 2000\nSD_COMPZ 0.001\nCOMPZ 0.001\n";
  struct Row {
    const char* name;
    Text package, settings;
    int status;
    std::string says;  // part of stderr ("" for a clean run)
  };
  const Row rows[] = {
      {"cut length near zero", Package("STCH A 0 0 B 1000 0 1 0\n", tiny_heights),
       Settings("StackLoopHeight=0.001\r\n"), 1, "more than 32767 segments"},
      {"many wires near the segment limit of a wire",
       Text(Package("", tiny_heights), "STCH A 0 0 B 1500 0 10 0\n", 60),
       Settings("StackLoopHeight=0.048\r\n"), 0, ""},
      {"a package line of 32 MB in 16 million fields",
       Text(Package() + "CBP T9", " 1", 16u << 20, "\n"), Settings(), 0, ""},
      {"a package of 4 MB of binary bytes", binary, Settings(), 1, "p.tmv"},
      {"a million unknown lines", Text(Package(), "FOO 1 2\n", 1000000), Settings(), 0, ""},
      {"a settings file of 4 MB of binary bytes", Package(), binary, 1, "needs a TMVFile= line"},
      {"a settings line of 32 MB", Package(), Text(Settings(), "k", 32u << 20, "\r\n"), 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (const auto& [name, text] : {std::pair{"p.tmv", row.package}, {"x.zv", row.settings}}) {
      std::ofstream out(Path(name), std::ios::binary);
      out << text.head;
      for (std::size_t i = 0; i < text.count; ++i) out << text.piece;
      out << text.tail;
    }
    double cpu_seconds = 0;
    long max_rss_mb = 0;
    const CliRun run = MeasuredCli("x.zv", cpu_seconds, max_rss_mb);
    EXPECT_EQ(run.status, row.status) << run.err;
    // A clean run says nothing; a failed one names the file at fault.
    if (row.says.empty()) EXPECT_EQ(run.err, "");
    for (const std::string& part : {row.says, std::string("error: "), Path("")}) {
      if (!row.says.empty()) EXPECT_NE(run.err.find(part), std::string::npos) << run.err;
    }
    // A guard against a run without end, not a speed target (the benchmarks hold those): far
    // above what these inputs take, even under the sanitizers.
    EXPECT_LT(cpu_seconds, 30.0);
    // Memory stays within a few copies of the input, never a multiple of the work asked for.
    EXPECT_LT(max_rss_mb, 300);
  }
}

}  // namespace
}  // namespace ostrel
