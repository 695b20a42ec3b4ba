// The window program's start: bad arguments and a missing display are answered on stderr with
// status 1 before the toolkit starts; a run on the offscreen platform opens the window.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "support/scratch_dir.h"

namespace ostrel {
namespace {

class WindowStartTest : public testing_support::ScratchDirTest {
 protected:
  // Runs `env_args ostrel args` in the scratch folder without a display, for at most 5 s
  // (status 124: still running, the window open).
  CliRun Window(const std::string& env_args, const std::string& args) const {
    const std::string cmd =
        "cd '" + dir_.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
        env_args + " timeout 5 '" + OSTREL_WINDOW_PATH + "' " + args + " >.out 2>.err";
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read(".out"), Read(".err")};
  }
};

TEST_F(WindowStartTest, AnswersBeforeTheToolkitStarts) {
  CopyExample();
  struct Row {
    std::string env, args;
    int status;
    std::string says;
  };
  const Row rows[] = {
      {"", "AAAc.zv", 1, "ostrel: no display"},
      {"", "", 1, "ostrel: no display"},
      {"QT_QPA_PLATFORM=xcb", "AAAc.zv", 1, "no display"},
      {"QT_QPA_PLATFORM=offscreen", "--bogus", 1, "unknown option '--bogus'"},
      {"", "nonexistent.zv", 1, "settings file not found: " + Path("nonexistent.zv")},
      {"", "/dev/null", 1, "settings file is not a regular file: /dev/null"},
      {"", "AAAc.zv AAAc.zv", 1, "only one settings file"},
      {"", "AAAc.zv -style", 1, "-style needs a value"},
      {"QT_QPA_PLATFORM=offscreen", "AAAc.zv", 124, ""},
      {"", "-platform offscreen -style fusion AAAc.zv", 124, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.env + " ostrel " + row.args);
    const CliRun run = Window(row.env, row.args);
    EXPECT_EQ(run.status, row.status) << run.err;
    if (!row.says.empty()) EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace ostrel
