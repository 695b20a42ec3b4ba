#include "app/start_path.h"

#include <sys/stat.h>

#include "support/scratch_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

TEST(UserDataHomeTest, XdgFolderFirstThenHome) {
  struct Case {
    const char *xdg, *home, *expected;
  } const kCases[] = {
      {"/x/data", "/home/u", "/x/data"},
      {nullptr, "/home/u", "/home/u/.local/share"},
      {"", "/home/u", "/home/u/.local/share"},
      {"rel/data", "/home/u", "/home/u/.local/share"},  // a relative value is ignored
      {nullptr, nullptr, ""},
      {nullptr, "rel", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.xdg ? c.xdg : "(unset)") + " " + (c.home ? c.home : "(unset)"));
    EXPECT_EQ(UserDataHome(c.xdg, c.home), c.expected);
  }
}

// An installed layout in the scratch folder: prefix/bin and prefix/share/ostrel/examples with
// the bundled example, and a user's data folder.
class DefaultSettingsPathTest : public testing_support::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    fs::create_directories(dir_ / "usr/bin");
    fs::create_directories(dir_ / "usr/share/ostrel/examples");
    Write("usr/share/ostrel/examples/AAAc.zv", "TMVFile=AAAc.tmv\r\n");
    Write("usr/share/ostrel/examples/AAAc.tmv", "COMPW 1\n");
  }
  std::string Bin() const { return Path("usr/bin"); }
  std::string Data() const { return Path("data"); }
};

TEST_F(DefaultSettingsPathTest, WhereTheStartLooks) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> before;  // files written first
    bool no_data_home;
    std::string expected;  // relative to the scratch folder
    std::string tmv_after;  // the user's AAAc.tmv afterwards ("" when absent)
  } const kCases[] = {
      {"build tree: beside the program", {{"usr/bin/AAAc.zv", "x"}}, false, "usr/bin/AAAc.zv",
       ""},
      {"first use copies the example", {}, false, "data/ostrel/AAAc.zv", "COMPW 1\n"},
      {"an edited copy is kept",
       {{"data/ostrel/AAAc.zv", "mine"}, {"data/ostrel/AAAc.tmv", "edited"}}, false,
       "data/ostrel/AAAc.zv", "edited"},
      {"a kept package is not replaced", {{"data/ostrel/AAAc.tmv", "edited"}}, false,
       "data/ostrel/AAAc.zv", "edited"},
      {"no data folder: the bundled file", {}, true, "usr/share/ostrel/examples/AAAc.zv", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_ / "data");
    fs::remove(dir_ / "usr/bin/AAAc.zv");
    for (const auto& [name, text] : c.before) {
      fs::create_directories((dir_ / name).parent_path());
      Write(name, text);
    }
    const std::string got = DefaultSettingsPath(Bin(), c.no_data_home ? "" : Data());
    EXPECT_EQ(fs::path(got).lexically_normal(), fs::path(Path(c.expected)).lexically_normal());
    EXPECT_EQ(Exists("data/ostrel/AAAc.tmv") ? Read("data/ostrel/AAAc.tmv") : "", c.tmv_after);
  }
  // The user's edited settings survive every start.
  fs::create_directories(dir_ / "data/ostrel");
  Write("data/ostrel/AAAc.zv", "mine");
  DefaultSettingsPath(Bin(), Data());
  EXPECT_EQ(Read("data/ostrel/AAAc.zv"), "mine");
}

TEST_F(DefaultSettingsPathTest, UnwritableDataFolderFallsBackToTheBundledFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
  fs::create_directories(dir_ / "data");
  ::chmod(Data().c_str(), 0555);
  EXPECT_EQ(fs::path(DefaultSettingsPath(Bin(), Data())),
            fs::path(Path("usr/share/ostrel/examples/AAAc.zv")));
  ::chmod(Data().c_str(), 0755);
}

TEST_F(DefaultSettingsPathTest, NoExampleAnywhereNamesTheFileBesideTheProgram) {
  fs::remove_all(dir_ / "usr/share");
  EXPECT_EQ(DefaultSettingsPath(Bin(), Data()), Path("usr/bin/AAAc.zv"));
  EXPECT_FALSE(Exists("data"));
}

}  // namespace
}  // namespace ostrel
