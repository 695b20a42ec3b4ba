// A set of outputs put in place all or nothing: when a rename fails half way, the message says
// which files were replaced and which were not, and no temp file stays behind. (The command-line
// cases are in tests/cli/output_files_test.cc.)

#include "app/output_plan.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/stage_error.h"
#include "support/scratch_dir.h"

namespace ostrel {
namespace {

using OutputPlanTest = testing_support::ScratchDirTest;

TEST_F(OutputPlanTest, AFailedRenameSaysWhatWasAndWasNotReplaced) {
  Write("c.txt", "old c");
  std::string reason;
  {
    OutputPlan plan(
        {{"--csv", Path("a.txt")}, {"--json", Path("b.txt")}, {"--svg", Path("c.txt")}});
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) plan.Write(Path(name), "new");
    // b.txt turns into a folder that is not empty after its temp file was opened.
    std::filesystem::create_directories(dir_ / "b.txt" / "inside");
    try {
      plan.Commit();
    } catch (const StageError& e) {
      reason = e.what();
    }
  }
  EXPECT_NE(reason.find("cannot replace " + Path("b.txt")), std::string::npos) << reason;
  EXPECT_NE(reason.find("; replaced: " + Path("a.txt") + "; not replaced: " + Path("b.txt") + ", " +
                        Path("c.txt")),
            std::string::npos)
      << reason;
  EXPECT_EQ(Read("a.txt"), "new");
  EXPECT_EQ(Read("c.txt"), "old c");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
}

}  // namespace
}  // namespace ostrel
