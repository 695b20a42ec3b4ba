// Every row of the export table reaches the user: ostrel-cli takes its option and lists it in
// --help (from which help2man makes the manual page), the bash completion offers it and
// completes its PATH with file names, and its rule for standard output holds.

#include "export/export_table.h"

#include "support/scratch_dir.h"

namespace ostrel {
namespace {

class ExportTableTest : public testing_support::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    CopyExample();
  }
  // The words the bash completion offers after the command line `words` (the last one being
  // completed), one per line.
  std::string Completions(const std::string& words) const {
    const std::string completion =
        std::string(OSTREL_TESTS_SOURCE_DIR) + "/../packaging/ostrel-cli.bash-completion";
    Write(".complete.sh", "source '" + completion + "'\nCOMP_WORDS=('" + OSTREL_CLI_PATH + "' " +
                              words + ")\nCOMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n" +
                              "_ostrel_cli\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n");
    const std::string command = "cd '" + dir_.string() + "' && bash .complete.sh >.out 2>.err";
    EXPECT_EQ(std::system(command.c_str()), 0) << Read(".err");
    return "\n" + Read(".out");
  }
};

TEST_F(ExportTableTest, EveryExportIsAnOptionOfTheProgramItsHelpAndItsCompletion) {
  const std::string help = Cli("--help").out;
  const std::string options = Completions("--");
  for (const ExportKind& kind : ExportKinds()) {
    const std::string option(kind.option);
    SCOPED_TRACE(option);
    EXPECT_NE(help.find("\n  " + option + " " + std::string(kind.value_name) + " "),
              std::string::npos);
    EXPECT_NE(options.find("\n" + option + "\n"), std::string::npos) << options;
    EXPECT_NE(Completions(option + " ''").find("\nAAAc.zv\n"), std::string::npos);

    const CliRun run = Cli(option + " - AAAc.zv");
    if (kind.stdout_allowed) {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_GT(run.out.size(), 100u);
      EXPECT_EQ(Entries(), (std::vector<std::string>{"AAAc.tmv", "AAAc.zv", "AAAc.zv.doc"}));
    } else {
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.err, "ostrel-cli: " + option +
                             " cannot write to standard output (-); give it a file\n"
                             "Try 'ostrel-cli --help'.\n");
    }
    std::filesystem::remove(Path("AAAc.zv.doc"));
  }
}

}  // namespace
}  // namespace ostrel
