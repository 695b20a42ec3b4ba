// ostrel-cli refuses what it would otherwise ignore or misread: options without their output,
// --nets patterns that select nothing, Touchstone names that readers refuse, inputs that are
// not regular files; and it reads input files as users write them.

#include <sys/stat.h>

#include "app/file_io.h"
#include "support/scratch_dir.h"

namespace ostrel {
namespace {

class InputRulesTest : public testing_support::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    CopyExample();
  }
};

TEST_F(InputRulesTest, RefusedCommandLinesNameTheFault) {
  ASSERT_EQ(::mkfifo(Path("fifo.zv").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(Path("fifo.tmv").c_str(), 0600), 0);
  Write("fifo_pkg.zv", "TMVFile=fifo.tmv\r\nBaseLoopHeight=5\r\n");
  struct Row {
    std::string args;
    int status;
    std::string says;
  };
  const Row rows[] = {
      {"--spice-inductance dc AAAc.zv", 2, "--spice-inductance does nothing without --spice"},
      {"--spice w.cir --spice-broadband AAAc.zv", 2,
       "--spice-broadband does nothing without --spice with --spice-inductance loop"},
      {"--loss-tangent 0.02 --physical p.json AAAc.zv", 2,
       "--loss-tangent does nothing without --touchstone"},
      {"--nets 'T*' --physical p.json AAAc.zv", 2, "--nets does nothing without --ibis-pkg"},
      {"--eps-r 4 AAAc.zv", 2, "--eps-r does nothing without the capacitances"},
      {"--eps-r 4 --no-capacitance --physical p.json AAAc.zv", 2, "--eps-r does nothing"},
      {"--ground-depth 80 --csv w.csv AAAc.zv", 2, "--ground-depth does nothing without an output"},
      {"--sweep 1e6:1e9:3 AAAc.zv", 2, "--sweep does nothing without an output"},
      {"--clearance 5 AAAc.zv", 2, "--clearance does nothing"},
      {"--pairs T2/T3 --csv w.csv AAAc.zv", 2, "--pairs does nothing without an output"},
      {"--pairs 'T2/T3,X*/Y*' --physical p.json AAAc.zv", 2,
       "--pairs 'X*/Y*' pairs none of the 40 wires"},
      {"--pairs 'T2/T3,T4/T3' --physical p.json AAAc.zv", 2, "wire T3 is in two pairs"},
      {"--nets '' --ibis-pkg w.pkg AAAc.zv", 2, "holds an empty pattern"},
      {"--nets 'T1,' --ibis-pkg w.pkg AAAc.zv", 2, "holds an empty pattern"},
      {"--nets 'T1,Q*' --ibis-pkg w.pkg AAAc.zv", 2, "the pattern 'Q*' matches none of the 40"},
      {"--nets 'Q*' --spice w.cir --spice-inductance loop AAAc.zv", 2, "'Q*' matches none"},
      {"--nets '*1' --touchstone w.s2p AAAc.zv", 2,
       "10 ports is read only under a name ending in "
       ".s10p"},
      {"--touchstone w.txt AAAc.zv", 2, "ending in .s80p"},
      {"fifo.zv", 2, "settings file is not a regular file"},
      {"/dev/null", 2, "settings file is not a regular file"},
      {"fifo_pkg.zv", 1, "fifo.tmv: not a regular file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    const CliRun run = Cli(row.args);
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    for (const char* name : {"AAAc.zv.doc", "w.cir", "w.csv", "w.pkg", "w.s2p", "p.json"}) {
      EXPECT_FALSE(Exists(name)) << name;
    }
  }
  // The options with their outputs, and a Touchstone name in capitals, still run.
  const CliRun good = Cli("--nets '*1' --touchstone W.S10P --loss-tangent 0.01 --eps-r 4 AAAc.zv");
  EXPECT_EQ(good.status, 0) << good.err;
}

// Byte order marks and every kind of line end give the report of the file as written; so does
// a package whose name begins with a dot.
TEST_F(InputRulesTest, InputsReadAsUsersWriteThem) {
  const std::string golden =
      ReadWholeFile(std::string(OSTREL_TEST_DATA_DIR) + "/example/AAAc.zv.doc");
  const std::string settings = Read("AAAc.zv");
  const std::string package = Read("AAAc.tmv");
  auto line_ends = [](std::string text, const std::string& end) {
    std::string out;
    for (std::size_t at = 0; (at = text.find("\r\n")) != std::string::npos;) {
      out += text.substr(0, at) + end;
      text.erase(0, at + 2);
    }
    return out + text;
  };
  struct Row {
    std::string name, settings, package;
  };
  const Row rows[] = {
      {"byte order marks", "\xEF\xBB\xBF" + settings, "\xEF\xBB\xBF" + package},
      {"LF", line_ends(settings, "\n"), line_ends(package, "\n")},
      {"CR", line_ends(settings, "\r"), line_ends(package, "\r")},
      {"CR and marks", "\xEF\xBB\xBF" + line_ends(settings, "\r"),
       "\xEF\xBB\xBF" + line_ends(package, "\r")},
      {"package named with a dot", line_ends(settings, "\n").replace(8, 8, ".pkg.tmv"), package},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write("AAAc.zv", row.settings);
    Write(row.name == "package named with a dot" ? ".pkg.tmv" : "AAAc.tmv", row.package);
    const CliRun run = Cli("--stdout AAAc.zv");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out == golden) << run.out.substr(0, 400);
  }
}

}  // namespace
}  // namespace ostrel
