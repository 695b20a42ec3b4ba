// ostrel-cli as a user runs it: exit status, what it prints, and what it leaves on disk.

#include "app/file_io.h"
#include "package_generator.h"
#include "support/scratch_dir.h"

namespace ostrel {
namespace {

class CliTest : public testing_support::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    CopyExample();
  }
  static std::string Golden() {
    return ReadWholeFile(std::string(OSTREL_TEST_DATA_DIR) + "/example/AAAc.zv.doc");
  }
};

TEST_F(CliTest, WritesTheReportBesideTheSettingsFile) {
  const CliRun run = Cli("AAAc.zv");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, Path("AAAc.zv.doc") + "\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Read("AAAc.zv.doc"), Golden());

  const CliRun to_stdout = Cli("--stdout AAAc.zv");
  EXPECT_EQ(to_stdout.status, 0);
  EXPECT_EQ(to_stdout.out, Golden());

  const CliRun elsewhere = Cli("--report other.doc --save-settings saved.zv AAAc.zv");
  EXPECT_EQ(elsewhere.status, 0) << elsewhere.err;
  EXPECT_EQ(Read("other.doc"), Golden());
  const std::string saved = Read("saved.zv");
  EXPECT_EQ(saved.substr(0, 33), "TMVFile=AAAc.tmv\r\nMaterial=Au\r\nWi");
  EXPECT_NE(saved.find("\r\nStackExtension=-1.000\r\n"), std::string::npos);
}

TEST_F(CliTest, FaultsExplainThemselvesAndLeaveTheEarlierReport) {
  ASSERT_EQ(Cli("AAAc.zv").status, 0);
  const std::string good = Read("AAAc.zv.doc");
  std::string pkg = Read("AAAc.tmv");

  struct Row {
    std::string name;
    std::string from, to;  // an edit of the package
    std::string says;      // part of the message
  };
  const Row rows[] = {
      {"single pad on a side", "CBP T2 ", "XXX T2 ", "top (T) side"},
      {"bad DAP number", "DAP PAD1 -1600", "DAP PAD1 -16x0", "AAAc.tmv:"},
      {"wire ends share a plan position", "WB B4 -215 -1420 0 -290.2 -2050",
       "WB B4 -215 -1420 0 -215 -1420", "B4"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string edited = pkg;
    std::string from = row.from;
    if (row.name == "single pad on a side") {
      for (const char* n :
           {"CBP T2 ", "CBP T3 ", "CBP T4 ", "CBP T5 ", "CBP T6 ", "CBP T7 ", "CBP T8 "}) {
        edited.replace(edited.find(n), 3, "XXX");
      }
    } else {
      ASSERT_NE(edited.find(from), std::string::npos);
      edited.replace(edited.find(from), from.size(), row.to);
    }
    Write("AAAc.tmv", edited);
    const CliRun run = Cli("AAAc.zv");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("error:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Read("AAAc.zv.doc"), good);
  }
}

TEST_F(CliTest, DisabledProcessDataAndMissingFiles) {
  Write("zero.zv", "TMVFile=AAAc.tmv\r\nFrequency=0\r\nWireDiameter=0\r\n");
  const CliRun disabled = Cli("zero.zv");
  EXPECT_EQ(disabled.status, 1);
  EXPECT_NE(disabled.err.find("Frequency="), std::string::npos) << disabled.err;
  EXPECT_NE(disabled.err.find("WireDiameter="), std::string::npos) << disabled.err;
  EXPECT_FALSE(Exists("zero.zv.doc"));

  Write("none.zv", "Material=Au\r\n");
  EXPECT_NE(Cli("none.zv").err.find("TMVFile="), std::string::npos);

  Write("gone.zv", "TMVFile=gone.tmv\r\nBaseLoopHeight=5\r\nStackLoopHeight=5\r\n");
  const CliRun gone = Cli("gone.zv");
  EXPECT_EQ(gone.status, 0) << gone.err;
  EXPECT_NE(gone.err.find("warning"), std::string::npos);
  EXPECT_TRUE(Exists("gone.zv.doc"));

  EXPECT_EQ(Cli("nothere.zv").status, 2);
  EXPECT_EQ(Cli("--bogus AAAc.zv").status, 2);
  EXPECT_EQ(Cli("--report").status, 2);
  const CliRun help = Cli("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: ostrel-cli"), std::string::npos);
}

// A package of 2,000 wires is large enough for the model to start the program again on large
// pages: the model is the same to the byte as without the restart (the user's tunable), and
// nothing but the asked-for outputs is left.
TEST_F(CliTest, ALargeModelStartedAgainOnLargePagesGivesTheSameModel) {
  Write("big.tmv", bench::PackageText(2000));
  Write("big.zv", bench::SettingsText("big.tmv"));
  const CliRun restarted = Cli("--physical-table --no-capacitance --physical big.npz big.zv");
  ASSERT_EQ(restarted.status, 0) << restarted.err;
  const int raw =
      std::system(("export GLIBC_TUNABLES=glibc.malloc.hugetlb=0 && " +
                   CliCommand("--physical-table --no-capacitance --physical kept.npz big.zv"))
                      .c_str());
  ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << Read(".err");
  EXPECT_EQ(Read(".out"), restarted.out);
  EXPECT_EQ(Read("kept.npz"), Read("big.npz"));
  EXPECT_EQ(Entries(), (std::vector<std::string>{"AAAc.tmv", "AAAc.zv", "big.npz", "big.tmv",
                                                 "big.zv", "big.zv.doc", "kept.npz"}));
}

// 10,000 wires: dense inductance matrices of 800 MB each, in an address space of about 1.2 GB
// (ulimit -v; two threads, whose stacks fit whatever the machine's core count). The run ends
// with status 1 and a reason that says how to ask for less, and writes neither the report nor
// the model.
TEST_F(CliTest, RunningOutOfMemoryEndsTheRunWithAReason) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves its shadow memory beyond any address-space limit";
#endif
  Write("big.tmv", bench::PackageText(10000));
  Write("big.zv", bench::SettingsText("big.tmv"));
  const int raw = std::system(("ulimit -v 1200000 && export OMP_NUM_THREADS=2 && " +
                               CliCommand("--physical big.json --no-capacitance big.zv"))
                                  .c_str());
  const std::string err = Read(".err");
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw << "\n" << err;
  EXPECT_EQ(err.rfind("ostrel-cli: error: ", 0), 0u) << err;
  EXPECT_NE(err.find("--no-capacitance"), std::string::npos) << err;
  EXPECT_NE(err.find("--nets"), std::string::npos) << err;
  EXPECT_EQ(Entries(), (std::vector<std::string>{"AAAc.tmv", "AAAc.zv", "big.tmv", "big.zv"}));
}

}  // namespace
}  // namespace ostrel
