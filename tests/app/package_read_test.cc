// Process Data reads the package file again after start-up: a file that changed in between,
// even to bytes of the same length, gives what a fresh start on the changed file gives.

#include <filesystem>
#include <string>

#include "app/workspace.h"
#include "support/scratch_dir.h"

namespace ostrel {
namespace {

class PackageReadTest : public testing_support::ScratchDirTest {};

TEST_F(PackageReadTest, ProcessDataSeesEveryChangeOfThePackageFile) {
  // Four sides of two pads; every pad has a wire bond 900 microns out.
  std::string package = "COMPW 2000\nCOMPL 2000\nCOMPZ 200\n";
  for (const char* pad : {"T0 0 900 T", "T1 100 900 T", "B0 0 -900 B", "B1 100 -900 B",
                          "L0 -900 0 L", "L1 -900 100 L", "R0 900 0 R", "R1 900 100 R"}) {
    const std::string p(pad);
    package += "CBP " + p.substr(0, p.size() - 2) + " 0 60 80 0 " + p.back() + "\n";
  }
  package +=
      "WB T0 0 900 0 0 1800 200 0\nWB T1 100 900 0 100 1800 200 0\n"
      "WB B0 0 -900 0 0 -1800 200 0\nWB R0 900 0 0 1800 0 200 0\n";
  struct Row {
    const char* name;
    std::string from, to;  // the change made to the package file after start-up
    bool same_wires;       // as the unchanged file's
  };
  const Row rows[] = {
      {"unchanged", "", "", true},
      {"a finger moved, the file as long as before", "0 1800 200", "0 1700 200", false},
      {"a wire bond blanked out", "WB B0 0 -900 0 0 -1800 200 0", std::string(28, ' '), false},
      {"a wire bond added", "WB R0", "WB R1 900 100 0 1800 100 200 0\nWB R0", false},
      {"the file removed", "remove", "", false},
  };
  const std::string settings_text = "TMVFile=p.tmv\r\nMaterial=Au\r\nFrequency=1000.000\r\n";
  Workspace unchanged;
  Write("p.tmv", package);
  StartUp(unchanged, Write("x.zv", settings_text));
  RunEstimation(unchanged);
  ASSERT_EQ(unchanged.Wires.size(), 4u);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write("p.tmv", package);
    Workspace ws;
    ASSERT_FALSE(StartUp(ws, Path("x.zv")).error);
    if (row.from == "remove") {
      std::filesystem::remove(Path("p.tmv"));
    } else {
      std::string changed = package;
      if (!row.from.empty()) changed.replace(changed.find(row.from), row.from.size(), row.to);
      Write("p.tmv", changed);
    }
    const std::string report = RunEstimation(ws);
    Workspace fresh;
    StartUp(fresh, Path("x.zv"));
    const std::string fresh_report = RunEstimation(fresh);
    // Without a package a start keeps the design state, so only the wires compare there.
    if (row.from != "remove") EXPECT_EQ(report, fresh_report);
    EXPECT_EQ(ws.Wires, fresh.Wires);
    EXPECT_EQ(ws.Wires == unchanged.Wires, row.same_wires);
  }
}

}  // namespace
}  // namespace ostrel
