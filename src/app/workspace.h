#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/stage_error.h"
#include "export/exports.h"
#include "geometry/parameter_set.h"
#include "geometry/wire.h"
#include "geometry/wire_paths.h"
#include "package/package_model.h"
#include "package/package_reader.h"
#include "package/side_ordering.h"
#include "report/report_writer.h"
#include "settings/panel.h"

// The data that the commands share for one window (or one command-line run), and the commands
// and pipeline stages that work on it. Each stage keeps its domain name and works on the data it
// is given; nothing here is global.
namespace ostrel {

struct Workspace {
  std::string SettingsPath;  // current settings file; empty when there is none
  std::string PackagePath;   // package description file named by the settings file
  Package package;
  WireList Wires;
  ParameterSet params;
  PanelState panel;
  std::string view_text = {};      // what the text view shows: settings text or report
  std::string caption = "Ostrel";  // window caption
  std::string work_path;           // the Work Path label: folder of the settings file
  SortList sort_list;              // entries of the last ordered side (top)
  // The digest of the package file's bytes that the lists were last read from whole, and its
  // path (empty when the last read did not complete): a read of the same bytes from the same
  // file gives the same lists, so it need not parse them again.
  ContentDigest package_read_digest;
  std::string package_read_path;
  // The default wire distance of the lists as last read (DefaultWireDistance), found once a
  // read: it depends on the pads alone.
  std::optional<float> package_wire_distance;
  // Most memory the wires of one estimation and their segments may take (see BuildWirePaths).
  std::size_t wire_memory_bytes = kMaxWireMemoryBytes;
  // Runs after every panel refresh that completed; the window redraws its loop schematic here,
  // since the schematic belongs to the refresh wherever a command runs one.
  std::function<void()> after_refresh;
};

// "Ostrel - <major>.<minor><minor>.<revision> - <settings file name>", the minor number written
// twice: version 2.3.4 gives "Ostrel - 2.33.4 - x.zv".
std::string Caption(const std::string& settings_path, int major, int minor, int revision);

// The caption with this program's version.
std::string Caption(const std::string& settings_path);

// The settings path for a start with `argument` (empty: none given): the argument without a
// pair of enclosing double quotes, made absolute against `current_dir`; without an argument
// "AAAc.zv" in `program_dir`.
std::string SettingsPathFor(const std::string& argument, const std::string& program_dir,
                            const std::string& current_dir);

// The panel refresh with this workspace's package and paths (see UpdateVals).
void Refresh(Workspace& ws);

// Reads the package named by PackagePath: empties the lists and wires, reads the file when it
// exists, orders the die sides, sets the default wire distance (parameter and box), the
// caption and the Work Path label. A missing file is no error: the lists stay empty. The file
// is always read; when its bytes are those the lists were last read from, the lists stay as
// they are, which is what reading them again would give.
void ReadPackage(Workspace& ws);

// Reads settings text into the panel (the package it names is read at its TMVFile= line).
void ReadSettings(Workspace& ws, const std::string& text);

// What start-up found.
struct StartUpResult {
  bool settings_found = false;
  std::optional<StageError> error;  // a fault while reading; the rest was still set up
};

// Start-up with a settings file: when it exists, reads it, refreshes, and titles the window;
// otherwise leaves the design state and an empty SettingsPath. A fault while reading stops the
// reading at that line; the refresh and the titles still happen.
StartUpResult StartUp(Workspace& ws, const std::string& settings_path);

// Load after the file was chosen: SettingsPath becomes `path`, the file is read into the panel
// and the panel refreshed. Throws StageError when it is not a regular file (see FileExists: a
// FIFO or a device is refused before any read) or cannot be read.
void LoadSettings(Workspace& ws, const std::string& path);

// The estimation of Process Data, stages in order: ReadPackage, UpdateVals, BuildWirePaths,
// ComputeResistance, ComputeInductance; the wires land in ws.Wires. Returns what the report
// says besides the wires. Throws StageError from the first failing stage; the later ones do
// not run.
ReportHeader EstimateWires(Workspace& ws);

// EstimateWires with the report written as the wires are estimated: each wire is built,
// computed and its block handed to `write` (see ReportPieces) before the next is built, and no
// wire is kept (ws.Wires is left empty). The bytes are those of WriteReportPieces after
// EstimateWires. On a fault the stages run again as EstimateWires runs them, so that the fault
// thrown is the one they give; what was handed to `write` is then incomplete, to be dropped.
void EstimateAndWriteReport(Workspace& ws, const std::function<void(std::string_view)>& write);

// EstimateWires, then the report text.
std::string RunEstimation(Workspace& ws);

// The report path: the settings path with ".doc" appended.
std::string ReportPath(const std::string& settings_path);

// Process Data: RunEstimation, the report written beside the settings file (an earlier report
// is replaced only by a complete new one), and shown in the view.
void ProcessData(Workspace& ws);

// Reset: the design choices back in the panel, the custom boxes from the die heights, the
// default wire distance, then a refresh. Throws StageError (after setting the controls) when
// the die sides do not give a wire distance.
void Reset(Workspace& ws);

// What the exports say about the run: the settings and package file names and the parameters.
ExportHeader ExportHeaderFor(const Workspace& ws);

// What Save writes: the view's text after a refresh.
std::string SaveText(Workspace& ws);

}  // namespace ostrel
