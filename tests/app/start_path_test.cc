#include "app/start_path.h"

#include "support/scratch_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

TEST(UserDataHomeTest, XdgFolderFirstThenHome) {
  EXPECT_EQ(UserDataHome("/x/data", "/home/u"), "/x/data");
  EXPECT_EQ(UserDataHome(nullptr, "/home/u"), "/home/u/.local/share");
  EXPECT_EQ(UserDataHome("rel/data", "/home/u"), "/home/u/.local/share");  // relative: ignored
  EXPECT_EQ(UserDataHome("", "rel"), "");
}

// Files written into the scratch folder, laid out as prefix usr/ and a data folder data/, and
// the settings file a start from usr/bin finds, with the user's AAAc.zv and AAAc.tmv after it.
class StartPathTest : public testing_support::ScratchDirTest {};

TEST_F(StartPathTest, DefaultSettingsPathTable) {
  // The bundled example, the user's copy of it, and the file beside the program.
  const std::string z = "usr/share/ostrel/examples/AAAc.zv",
                    t = "usr/share/ostrel/examples/AAAc.tmv";
  const std::string uz = "data/ostrel/AAAc.zv", ut = "data/ostrel/AAAc.tmv", bz = "usr/bin/AAAc.zv";
  struct Case {
    std::vector<std::string> files;  // each holds its own name
    std::string data_home, expected, user_zv, user_tmv;
  } const kCases[] = {
      {{bz, z, t}, "data", bz, "", ""},  // a build tree
      {{z, t}, "data", uz, z, t},        // first use: the example is copied
      {{z, t, uz}, "data", uz, uz, ""},  // the user's settings are kept, nothing is added
      {{z, t, ut}, "data", uz, z, ut},   // the user's package is kept
      {{z, t}, "", z, "", ""},           // no data folder: the bundled file
      {{t}, "data", bz, "", ""},         // no example
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.files.front() + " " + c.expected);
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "usr/bin");
    for (const std::string& f : c.files) {
      fs::create_directories((dir_ / f).parent_path());
      Write(f, f);
    }
    const std::string got =
        DefaultSettingsPath(Path("usr/bin"), c.data_home.empty() ? "" : Path(c.data_home));
    EXPECT_EQ(fs::path(got).lexically_normal(), fs::path(Path(c.expected)));
    for (const auto& [name, text] : {std::pair{"AAAc.zv", c.user_zv}, {"AAAc.tmv", c.user_tmv}}) {
      const std::string user = std::string("data/ostrel/") + name;
      EXPECT_EQ(Exists(user) ? Read(user) : "", text) << name;
    }
  }
}

}  // namespace
}  // namespace ostrel
