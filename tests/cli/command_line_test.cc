// ostrel-cli's help and its answers to faulty command lines, byte for byte: the command lines of
// tests/data/command_lines.txt, each run in a folder holding the bundled example.

#include <sstream>

#include "app/file_io.h"
#include "ostrel/version.h"
#include "support/scratch_dir.h"

namespace ostrel {
namespace {

class CommandLineTest : public testing_support::ScratchDirTest {};

struct Row {
  std::string args;
  int status = -1;
  std::string out, err;
};

// The rows of the file: "$ ARGS", "= STATUS", then "1|LINE" for standard output and "2|LINE" for
// standard error; '#' lines and blank lines between rows are left out.
std::vector<Row> ReadRows(const std::string& text) {
  std::vector<Row> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("$ ", 0) == 0) {
      rows.push_back({line.substr(2)});
    } else if (line.rfind("= ", 0) == 0 && !rows.empty()) {
      rows.back().status = std::stoi(line.substr(2));
    } else if (line.rfind("1|", 0) == 0 && !rows.empty()) {
      rows.back().out += line.substr(2) + "\n";
    } else if (line.rfind("2|", 0) == 0 && !rows.empty()) {
      rows.back().err += line.substr(2) + "\n";
    }
  }
  return rows;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

TEST_F(CommandLineTest, HelpAndRefusalsAreWhatTheyWere) {
  const std::vector<Row> rows =
      ReadRows(ReadWholeFile(std::string(OSTREL_TEST_DATA_DIR) + "/command_lines.txt"));
  ASSERT_GE(rows.size(), 60u);
  const std::string version = std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) +
                              "." + std::to_string(kVersionRevision);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    CopyExample();
    const CliRun run = Cli(row.args);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.out, Replaced(Replaced(row.out, "{dir}", dir_.string()), "{version}", version));
    EXPECT_EQ(run.err, Replaced(row.err, "{dir}", dir_.string()));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"AAAc.tmv", "AAAc.zv"}));
  }
}

}  // namespace
}  // namespace ostrel
