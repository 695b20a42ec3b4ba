// ostrel-cli export options: what is written, and what is not when something is wrong.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/file_io.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

class ExportOptionsTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("ostrel_cli_export_" + std::to_string(::getpid()) + "_" +
            std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy(fs::path(OSTREL_EXAMPLES_DIR) / "AAAc.zv", dir_ / "AAAc.zv");
    fs::copy(fs::path(OSTREL_EXAMPLES_DIR) / "AAAc.tmv", dir_ / "AAAc.tmv");
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Cli(const std::string& args) {
    const std::string cmd =
        "cd '" + dir_.string() + "' && '" + OSTREL_CLI_PATH + "' " + args + " >out.txt 2>err.txt";
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::string Read(const std::string& name) { return ReadWholeFile((dir_ / name).string()); }
  bool Exists(const std::string& name) { return fs::exists(dir_ / name); }

  fs::path dir_;
};

TEST_F(ExportOptionsTest, UsageErrorsWriteNothing) {
  struct Row {
    std::string args, message;
  };
  const Row rows[] = {
      {"AAAc.zv --csv", "--csv needs a path"},
      {"AAAc.zv --svg", "--svg needs a path"},
      {"--spice-inductance mutual --spice w.cir AAAc.zv",
       "--spice-inductance needs dc, ac, self or loop"},
      {"--spice w.cir AAAc.zv --spice-inductance", "--spice-inductance needs dc, ac, self or loop"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    EXPECT_EQ(Cli(row.args), 2);
    EXPECT_NE(Read("err.txt").find(row.message), std::string::npos) << Read("err.txt");
    EXPECT_FALSE(Exists("w.cir"));
    EXPECT_FALSE(Exists("AAAc.zv.doc"));
  }
}

TEST_F(ExportOptionsTest, AFailedEstimationLeavesNoExports) {
  // A wire whose ends share their plan position has no direction: the estimation stops.
  std::string pkg = Read("AAAc.tmv");
  const std::string good = "WB T1 -545 1420 0 -735.8 2050 200 0";
  ASSERT_NE(pkg.find(good), std::string::npos);
  pkg.replace(pkg.find(good), good.size(), "WB T1 -545 1420 0 -545 1420 200 0");
  std::ofstream(dir_ / "AAAc.tmv", std::ios::binary) << pkg;
  EXPECT_EQ(Cli("--csv w.csv --json w.json --spice w.cir --svg w.svg AAAc.zv"), 1);
  for (const char* name : {"w.csv", "w.json", "w.cir", "w.svg", "AAAc.zv.doc"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Exists(name));
  }
}

TEST_F(ExportOptionsTest, ExportsBesideTheReportOnStdout) {
  ASSERT_EQ(Cli("--stdout --csv w.csv --svg w.svg AAAc.zv"), 0) << Read("err.txt");
  EXPECT_EQ(Read("out.txt"),
            ReadWholeFile(std::string(OSTREL_TEST_DATA_DIR) + "/example/AAAc.zv.doc"));
  EXPECT_EQ(Read("w.csv").substr(0, 10), "name,kind,");
  EXPECT_EQ(Read("w.svg").substr(0, 5), "<?xml");

  ASSERT_EQ(Cli("--json w.json AAAc.zv"), 0) << Read("err.txt");
  EXPECT_EQ(Read("out.txt"), (dir_ / "AAAc.zv.doc").string() + "\nw.json\n");
}

}  // namespace
}  // namespace ostrel
