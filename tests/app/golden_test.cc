// End-to-end cases: a settings file and its package in, the report out, compared byte for byte
// with the reviewed report in tests/data/<case>/. OSTREL_UPDATE_GOLDEN=1 rewrites the expected
// reports instead (review the diff before committing).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/file_io.h"
#include "app/workspace.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

struct GoldenCase {
  std::string name;
  fs::path inputs;  // folder holding the settings file and its package
  std::string settings;
};

std::vector<GoldenCase> Cases() {
  return {
      {"example", OSTREL_EXAMPLES_DIR, "AAAc.zv"},
      {"base_only", fs::path(OSTREL_TEST_DATA_DIR) / "base_only", "b.zv"},
      {"stitches_no_stack", fs::path(OSTREL_TEST_DATA_DIR) / "stitches_no_stack", "s.zv"},
      {"missing_package", fs::path(OSTREL_TEST_DATA_DIR) / "missing_package", "m.zv"},
  };
}

class GoldenTest : public testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenTest, ReportMatches) {
  const GoldenCase& c = GetParam();
  const fs::path work = fs::temp_directory_path() / ("ostrel_golden_" + c.name);
  fs::remove_all(work);
  fs::create_directories(work);
  for (const auto& entry : fs::directory_iterator(c.inputs)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".zv" || ext == ".tmv") fs::copy(entry.path(), work / entry.path().filename());
  }
  Workspace ws;
  const StartUpResult start = StartUp(ws, (work / c.settings).string());
  ASSERT_TRUE(start.settings_found);
  ASSERT_FALSE(start.error) << start.error->what();
  ProcessData(ws);
  const std::string report = ReadWholeFile((work / c.settings).string() + ".doc");
  EXPECT_EQ(ws.view_text, report);

  const fs::path expected = fs::path(OSTREL_TEST_DATA_DIR) / c.name / (c.settings + ".doc");
  if (std::getenv("OSTREL_UPDATE_GOLDEN") != nullptr) {
    fs::create_directories(expected.parent_path());
    WriteFileAtomically(expected.string(), report);
  }
  EXPECT_EQ(report, ReadWholeFile(expected.string()));
  fs::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenTest, testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace ostrel
