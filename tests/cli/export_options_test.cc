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
       "--spice-inductance needs dc, ac, self, loop or partial"},
      {"--spice w.cir AAAc.zv --spice-inductance",
       "--spice-inductance needs dc, ac, self, loop or partial"},
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

// The model's JSON holds the pairs asked for, after the nets; without the capacitance their C
// and Z figures are null.
TEST_F(ExportOptionsTest, PairsInThePhysicalJson) {
  const struct {
    const char* args;
    const char* pairs;  // the start of the list
    bool impedance;
  } rows[] = {
      {"--physical p.json AAAc.zv", "\"pairs\": [],", false},
      {"--physical p.json --pairs T2/T3 AAAc.zv",
       "\"pairs\": [\n    {\"positive\": 1, \"negative\": 2, \"positive_name\": \"T2\", "
       "\"negative_name\": \"T3\", \"odd_inductance_nh\": ",
       true},
      {"--physical p.json --no-capacitance --pairs 'T?/B?' AAAc.zv",
       "\"pairs\": [\n    {\"positive\": 0, \"negative\": 7, \"positive_name\": \"T1\", "
       "\"negative_name\": \"B1\", \"odd_inductance_nh\": ",
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    ASSERT_EQ(Cli(row.args), 0) << Read("err.txt");
    const std::string json = Read("p.json");
    const std::size_t at = json.find("\"pairs\": [");
    ASSERT_NE(at, std::string::npos);
    EXPECT_LT(json.find("\"nets\": ["), at);
    EXPECT_EQ(json.compare(at, std::string(row.pairs).size(), row.pairs), 0)
        << json.substr(at, 300);
    const std::size_t z = json.find("\"z_diff_ohm\": ", at);
    if (std::string(row.pairs).back() == ',') continue;  // no pairs
    ASSERT_NE(z, std::string::npos);
    const double z_diff = std::strtod(json.c_str() + z + 14, nullptr);
    if (row.impedance) {
      // Two 1-mil wires 110 um apart, 200-250 um over the plane: about 2 x 120 ohms.
      EXPECT_GT(z_diff, 150.0);
      EXPECT_LT(z_diff, 400.0);
    } else {
      EXPECT_EQ(json.compare(z + 14, 4, "null"), 0);
    }
    EXPECT_NE(json.find("\"neighbour\": {\"wire\": ", at), std::string::npos);
  }
}

}  // namespace
}  // namespace ostrel
