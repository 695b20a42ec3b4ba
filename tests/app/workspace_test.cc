#include "app/workspace.h"

#include <sys/stat.h>

#include "app/file_io.h"
#include "base/text.h"
#include "support/random_package.h"
#include "support/scratch_dir.h"

namespace ostrel {
namespace {

// A scratch folder with a settings file and a package of four sides of three pads each
// (pitch 100 unless given) and an optional stacked die.
class WorkspaceTest : public testing_support::ScratchDirTest {
 protected:
  static std::string Package(const std::string& extra = "", int pitch = 100) {
    std::string text = "COMPW 2000\nCOMPL 2000\nSD_COMPZ 150\nCOMPZ 200\n";
    for (const char side : std::string("TBLR")) {
      for (int i = 0; i < 3; ++i) {
        const int o = i * pitch;
        const bool y_side = side == 'L' || side == 'R';
        const int edge = (side == 'T' || side == 'R') ? 900 : -900;
        const int x = y_side ? edge : o, y = y_side ? o : edge;
        const std::string name = std::string(1, side) + std::to_string(i);
        text += "CBP " + name + " " + std::to_string(x) + " " + std::to_string(y) + " 0 60 80 0 " +
                side + "\n";
        text += "WB " + name + " " + std::to_string(x) + " " + std::to_string(y) + " 0 " +
                std::to_string(x * 2) + " " + std::to_string(y * 2) + " 200 0\n";
      }
    }
    return text + extra;
  }
};

TEST_F(WorkspaceTest, StartUpTitlesTheWindowAndSetsTheDistance) {
  Write("p.tmv", Package("SD_CBP S1 0 0 0 1 1 0 T\n"));
  const std::string settings = Write("x.zv", "TMVFile=p.tmv\r\nMaterial=Al\r\n");
  Workspace ws;
  const StartUpResult start = StartUp(ws, settings);
  EXPECT_TRUE(start.settings_found);
  EXPECT_FALSE(start.error);
  EXPECT_EQ(ws.caption, "Ostrel - 1.00.0 - x.zv");
  EXPECT_EQ(ws.work_path, Path(""));
  EXPECT_EQ(ws.panel.WtoW, "150.000");
  EXPECT_EQ(ws.params.WireDistance, 150.0f);
  EXPECT_EQ(ws.params.Material, "Al");
  EXPECT_EQ(ws.sort_list.size(), 3u);
  EXPECT_NE(ws.view_text.find("StichExtension=200.000\r\n"), std::string::npos);

  Workspace missing;
  EXPECT_FALSE(StartUp(missing, Path("none.zv")).settings_found);
  EXPECT_EQ(missing.SettingsPath, "");
  EXPECT_EQ(missing.caption, "Ostrel");
}

// The default wire distance is that of the pads last read: a package file rewritten between two
// reads gives its new pitch, the same bytes keep theirs.
TEST_F(WorkspaceTest, WireDistanceFollowsThePackageFile) {
  Write("p.tmv", Package());
  Workspace ws;
  StartUp(ws, Write("x.zv", "TMVFile=p.tmv\r\n"));
  for (const auto& [pitch, distance] : {std::pair{100, 150.0f}, {100, 150.0f}, {200, 300.0f}}) {
    Write("p.tmv", Package("", pitch));
    ReadPackage(ws);
    EXPECT_EQ(ws.params.WireDistance, distance) << pitch;
    EXPECT_EQ(ws.panel.WtoW, FormatFixed3(distance)) << pitch;
  }
}

// The report written wire by wire as the wires are estimated holds the bytes of the report of
// the kept wires; a failing package gives the fault the stages give, the first failing stage's
// (a later wire's path) and not the first failing wire's (an earlier wire's inductance).
TEST_F(WorkspaceTest, ReportWrittenAsTheWiresComeIsTheStagesReport) {
  const std::string settings = "TMVFile=p.tmv\r\nStackLoopHeight=180.000\r\n";
  const std::string below_base_die =
      "SD_CBP S1 -300 400 0 60 80 0 T\nWB S1 -300 400 0 -300 1500 0 0\n";
  struct Row {
    std::string name, package, settings;
    std::size_t wire_memory_bytes = kMaxWireMemoryBytes;
    bool fails = false;
  };
  std::vector<Row> rows = {
      {"stacked die and stitches",
       Package("SD_CBP S1 0 0 0 60 80 0 T\nWB S1 0 0 0 0 1500 200 0\n"
               "STCH S1 0 0 T0 0 900 350 200\n"),
       settings},
      {"inductance fault of a stacked wire, path fault of a later stitch",
       Package(below_base_die + "STCH S1 5 5 T0 5 5 350 200\n"), settings, kMaxWireMemoryBytes,
       true},
      {"inductance fault alone", Package(below_base_die), settings, kMaxWireMemoryBytes, true},
      {"frequency 0: lengths of 0", Package(), settings + "Frequency=0\r\n", kMaxWireMemoryBytes,
       true},
      {"wires past the memory bound", Package(), settings,
       12 * sizeof(Wire) + 40 * sizeof(WireSegment), true},
  };
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    const auto random = testing_support::MakeRandomPackage(seed, "p.tmv");
    rows.push_back({"random package " + std::to_string(seed) + ": " + random.features,
                    random.package_text, random.settings_text});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write("p.tmv", row.package);
    const std::string path = Write("x.zv", row.settings);
    Workspace staged, streamed;
    std::string report, fault, written, streamed_fault;
    for (Workspace* ws : {&staged, &streamed}) {
      ASSERT_FALSE(StartUp(*ws, path).error);
      ws->wire_memory_bytes = row.wire_memory_bytes;
    }
    try {
      report = RunEstimation(staged);
    } catch (const StageError& e) {
      fault = e.what();
    }
    try {
      EstimateAndWriteReport(streamed, [&](std::string_view piece) { written += piece; });
      EXPECT_TRUE(streamed.Wires.empty());
    } catch (const StageError& e) {
      streamed_fault = e.what();
    }
    EXPECT_EQ(!fault.empty(), row.fails) << fault;
    EXPECT_EQ(streamed_fault, fault);
    if (!row.fails) EXPECT_EQ(written, report);
  }
}

TEST_F(WorkspaceTest, SettingsPathRule) {
  EXPECT_EQ(SettingsPathFor("", "/opt/ostrel", "/home"), "/opt/ostrel/AAAc.zv");
  EXPECT_EQ(SettingsPathFor("\"/w/x.zv\"", "/opt", "/home"), "/w/x.zv");
  EXPECT_EQ(SettingsPathFor("x.zv", "/opt", "/home"), "/home/x.zv");
  EXPECT_EQ(SettingsPathFor("\"x.zv", "/opt", "/home"), "/home/\"x.zv");
}

TEST_F(WorkspaceTest, FailedProcessDataKeepsTheEarlierReport) {
  Write("p.tmv", Package());
  const std::string settings = Write("x.zv", "TMVFile=p.tmv\r\n");
  Workspace ws;
  StartUp(ws, settings);
  ProcessData(ws);
  const std::string good = ReadWholeFile(settings + ".doc");
  EXPECT_NE(good.find("Pad: R2\r\n"), std::string::npos);

  // One pad on the top side: the wire distance cannot be found, nothing is written.
  std::string one_top = Package();
  one_top.replace(one_top.find("CBP T1"), 3, "XXX");
  one_top.replace(one_top.find("CBP T2"), 3, "XXX");
  Write("p.tmv", one_top);
  try {
    ProcessData(ws);
    FAIL() << "no error";
  } catch (const StageError& e) {
    EXPECT_EQ(e.file(), Path("p.tmv"));
    EXPECT_NE(e.reason().find("top"), std::string::npos);
  }
  EXPECT_EQ(ReadWholeFile(settings + ".doc"), good);
  EXPECT_EQ(ws.view_text, good);
}

TEST_F(WorkspaceTest, ResetFillsTheBoxesFromTheDieHeights) {
  Workspace before_package;
  EXPECT_THROW(Reset(before_package), StageError);
  EXPECT_EQ(before_package.panel.LHc[0], "0.000");
  EXPECT_EQ(before_package.panel.LEc[2], "0.000");
  EXPECT_EQ(before_package.panel.FQc, "1.000");

  Write("p.tmv", Package());
  const std::string settings =
      Write("x.zv",
            "TMVFile=p.tmv\r\nMaterial=Cu\r\nWireDiameter=2\r\nFrequency=5\r\n"
            "BaseLoopHeight=300\r\n");
  Workspace ws;
  StartUp(ws, settings);
  ws.panel.WtoW = "1";
  Reset(ws);
  EXPECT_EQ(ws.panel.LHc[0], "200.000");
  EXPECT_EQ(ws.panel.LHc[1], "200.000");
  EXPECT_EQ(ws.panel.LEc[0], "200.000");
  EXPECT_EQ(ws.panel.LEc[1], "150.000");
  EXPECT_EQ(ws.panel.LEc[2], "150.000");
  EXPECT_EQ(ws.params.Material, "Au");
  EXPECT_EQ(ws.params.WireDiameter, 1.0f);
  EXPECT_EQ(ws.params.Frequency, 1e6f);
  EXPECT_EQ(ws.params.BaseLoopHeight, 200.0f);
  EXPECT_EQ(ws.params.WireDistance, 150.0f);
  EXPECT_FALSE(ws.panel.WDcEnabled);
}

// A Load that fails keeps the path it was given and changes nothing else; only a regular file
// is read, so a FIFO or a device ends the command at once.
TEST_F(WorkspaceTest, LoadAndSave) {
  Write("p.tmv", Package());
  Write("q.tmv", "COMPZ 50\n");  // no pads: the read fails at the wire distance
  const std::string first = Write("x.zv", "TMVFile=p.tmv\r\n");
  Write("y.zv", "TMVFile=q.tmv\r\nMaterial=Cu\r\n");
  ASSERT_EQ(::mkfifo(Path("fifo.zv").c_str(), 0600), 0);
  std::filesystem::create_directory(Path("dir.zv"));
  for (const std::string& path : {Path("y.zv"), Path("absent.zv"), Path("fifo.zv"), Path("dir.zv"),
                                  std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    Workspace ws;
    StartUp(ws, first);
    EXPECT_THROW(LoadSettings(ws, path), StageError);
    EXPECT_EQ(ws.SettingsPath, path);
    EXPECT_EQ(ws.caption, "Ostrel - 1.00.0 - x.zv");  // the failed read re-titles nothing
    EXPECT_EQ(ws.work_path, Path(""));
  }

  Workspace fresh;
  StartUp(fresh, first);
  const std::string text = SaveText(fresh);
  EXPECT_EQ(text.substr(0, 28), "TMVFile=p.tmv\r\nMaterial=Au\r\n");
  EXPECT_EQ(fresh.SettingsPath, first);
}

TEST(CaptionTest, MinorTwiceThenRevision) {
  struct Row {
    int major, minor, revision;
    std::string path, caption;
  };
  const Row rows[] = {{1, 0, 0, "/w/x.zv", "Ostrel - 1.00.0 - x.zv"},
                      {2, 3, 4, "x.zv", "Ostrel - 2.33.4 - x.zv"},
                      {10, 12, 7, "/a b/c.d.zv", "Ostrel - 10.1212.7 - c.d.zv"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.caption);
    EXPECT_EQ(Caption(row.path, row.major, row.minor, row.revision), row.caption);
  }
}

TEST_F(WorkspaceTest, MissingPackageStillWritesAReport) {
  const std::string settings =
      Write("x.zv", "TMVFile=gone.tmv\r\nBaseLoopHeight=5\r\nStackLoopHeight=5\r\n");
  Workspace ws;
  StartUp(ws, settings);
  ProcessData(ws);
  const std::string report = ReadWholeFile(settings + ".doc");
  EXPECT_EQ(report.find("Pad:"), std::string::npos);
  EXPECT_EQ(report.substr(report.size() - 3), "*\r\n");
  EXPECT_EQ(ws.caption, "Ostrel - 1.00.0 - x.zv");
}

}  // namespace
}  // namespace ostrel
