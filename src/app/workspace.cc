#include "app/workspace.h"

#include <string_view>

#include "app/file_io.h"
#include "base/text.h"
#include "electrical/inductance.h"
#include "electrical/resistance.h"
#include "electrical/wire_spacing.h"
#include "geometry/wire_paths.h"
#include "ostrel/version.h"
#include "package/package_reader.h"
#include "package/side_ordering.h"
#include "report/report_writer.h"
#include "settings/settings_file.h"

namespace ostrel {
namespace {

const std::string& PackageSource(const Workspace& ws) {
  return ws.package.SourceFile.empty() ? ws.PackagePath : ws.package.SourceFile;
}

// Runs a stage; a fault without a file of its own is pinned to the package file.
template <typename Stage>
void InPackage(const Workspace& ws, Stage&& stage) {
  try {
    stage();
  } catch (const StageError& e) {
    throw e.WithSource(PackageSource(ws));
  }
}

// Runs a stage of the estimation. A fault of one wire names its line of the package file; a
// fault that names neither file nor line is one of the run's parameters (a negative frequency,
// a wire diameter too large), which the settings file holds.
template <typename Stage>
void InEstimation(const Workspace& ws, Stage&& stage) {
  try {
    stage();
  } catch (const StageError& e) {
    const bool of_parameters = e.file().empty() && e.line() == 0;
    throw e.WithSource(of_parameters ? ws.SettingsPath : PackageSource(ws));
  }
}

// A package file open for reading, read with large pread(2) calls from given offsets.
void SetWireDistance(Workspace& ws, float distance) {
  ws.params.WireDistance = distance;
  ws.panel.WtoW = FormatFixed3(distance);
}

// What the report says besides the wires.
ReportHeader HeaderOf(const Workspace& ws) {
  return {FileNameOf(ws.SettingsPath), ws.params, ws.package.HasStackedDie(),
          !ws.package.Stitches.empty()};
}

}  // namespace

std::string Caption(const std::string& settings_path, int major, int minor, int revision) {
  const std::string minor_text = std::to_string(minor);
  return "Ostrel - " + std::to_string(major) + "." + minor_text + minor_text + "." +
         std::to_string(revision) + " - " + FileNameOf(settings_path);
}

std::string Caption(const std::string& settings_path) {
  return Caption(settings_path, kVersionMajor, kVersionMinor, kVersionRevision);
}

std::string SettingsPathFor(const std::string& argument, const std::string& program_dir,
                            const std::string& current_dir) {
  if (argument.empty()) {
    return program_dir + (program_dir.empty() || program_dir.back() != '/' ? "/" : "") + "AAAc.zv";
  }
  std::string path = argument;
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
    path = path.substr(1, path.size() - 2);
  }
  if (path.empty() || path.front() == '/') return path;
  return current_dir + (current_dir.empty() || current_dir.back() != '/' ? "/" : "") + path;
}

void Refresh(Workspace& ws) {
  const PanelContext context{ws.package.CompZ, ws.package.HasStackedDie(), ws.PackagePath,
                             ws.SettingsPath};
  UpdateVals(ws.panel, ws.params, context, ws.view_text);
  if (ws.after_refresh) ws.after_refresh();
}

void ReadPackage(Workspace& ws) {
  ws.Wires.clear();
  const FileKind kind = KindOf(ws.PackagePath);
  if (kind != FileKind::kRegular) {
    ws.package.ResetLists();
    ws.package_read_path.clear();
    ws.package_wire_distance.reset();
    if (kind == FileKind::kOther) throw StageError("not a regular file", ws.PackagePath);
    return;
  }
  // The lists are read again only when the file's bytes changed since they were read.
  if (ws.package_read_path != ws.PackagePath ||
      FileDigest(ws.PackagePath) != ws.package_read_digest) {
    ws.package_read_path.clear();
    ws.package_wire_distance.reset();
    ws.package.ResetLists();
    ws.package.SourceFile = ws.PackagePath;
    ws.package_read_digest = ReadPackageFile(ws.PackagePath, ws.package);
    ws.sort_list = OrderSides(ws.package);
    ws.package_read_path = ws.PackagePath;
  }
  InPackage(ws, [&] {
    if (!ws.package_wire_distance) ws.package_wire_distance = DefaultWireDistance(ws.package);
    SetWireDistance(ws, *ws.package_wire_distance);
  });
  ws.caption = Caption(ws.SettingsPath);
  ws.work_path = FolderOf(ws.SettingsPath);
}

void ReadSettings(Workspace& ws, const std::string& text) {
  SettingsTarget target{ws.panel, ws.params, ws.PackagePath, ws.package,
                        [&ws] { ReadPackage(ws); }};
  ReadLCR(text, ws.SettingsPath, target);
}

StartUpResult StartUp(Workspace& ws, const std::string& settings_path) {
  StartUpResult result;
  ws.SettingsPath = settings_path;
  if (ws.SettingsPath.empty()) return result;
  if (!FileExists(ws.SettingsPath)) {
    ws.SettingsPath.clear();
    return result;
  }
  result.settings_found = true;
  auto keep_first_error = [&result](auto&& step) {
    try {
      step();
    } catch (const StageError& e) {
      if (!result.error) result.error = e;
    }
  };
  keep_first_error([&] { ReadSettings(ws, ReadWholeFile(ws.SettingsPath)); });
  keep_first_error([&] {
    // A value the refresh cannot take (a frequency beyond the single range) came from the
    // settings file.
    try {
      Refresh(ws);
    } catch (const StageError& e) {
      throw e.WithSource(ws.SettingsPath);
    }
  });
  ws.caption = Caption(ws.SettingsPath);
  keep_first_error([&] { ws.work_path = FolderOf(ws.SettingsPath); });
  return result;
}

void LoadSettings(Workspace& ws, const std::string& path) {
  ws.SettingsPath = path;
  // The command line's rule: only a regular file is a settings file, so a FIFO or a device
  // (/dev/zero) is never read without end.
  if (const FileKind kind = KindOf(path); kind != FileKind::kRegular) {
    throw StageError(kind == FileKind::kOther ? "not a regular file" : "settings file not found",
                     path);
  }
  ReadSettings(ws, ReadWholeFile(path));
  Refresh(ws);
}

ReportHeader EstimateWires(Workspace& ws) {
  ReadPackage(ws);
  Refresh(ws);
  InEstimation(ws, [&] { ws.Wires = BuildWirePaths(ws.package, ws.params, ws.wire_memory_bytes); });
  InEstimation(ws, [&] { ComputeResistance(ws.Wires, ws.params); });
  InEstimation(ws, [&] { ComputeInductance(ws.Wires, ws.params, ws.package); });
  return HeaderOf(ws);
}

void EstimateAndWriteReport(Workspace& ws, const std::function<void(std::string_view)>& write) {
  ReadPackage(ws);
  Refresh(ws);
  ws.Wires.clear();
  try {
    const WireResistance resistance(ws.params);
    const WireInductance inductance(ws.params, ws.package);
    ReportPieces report(HeaderOf(ws), write);
    ForEachWirePath(ws.package, ws.params, ws.wire_memory_bytes, [&](Wire& wire) {
      resistance(wire);
      inductance(wire, resistance.StoresLengths());
      report.Add(wire);
    });
    report.Finish();
  } catch (const StageError&) {
    // Stage by stage, the first failing stage decides which wire's fault is told.
    EstimateWires(ws);
    throw;
  }
}

std::string RunEstimation(Workspace& ws) { return ReportText(EstimateWires(ws), ws.Wires); }

std::string ReportPath(const std::string& settings_path) { return settings_path + ".doc"; }

void ProcessData(Workspace& ws) {
  std::string report = RunEstimation(ws);
  WriteFileAtomically(ReportPath(ws.SettingsPath), report, Durability::kReplaceOnly);
  ws.view_text = std::move(report);
}

void Reset(Workspace& ws) {
  PanelState& p = ws.panel;
  const float comp_z = ws.package.CompZ;
  const float sd_comp_z = ws.package.SdCompZ;
  p.M = 0;
  // Built, then moved in: GCC 12 takes assigning a literal here for an overlapping copy and
  // warns (-Wrestrict, its bug 105329).
  p.WDc = std::string("1");
  ChooseDiameterOption(p, 3);
  for (const int option : {kBaseHeightDefault, kBaseExtensionDefault, kStackExtensionDefault,
                           kStackHeightDefault, kStitchExtensionDefault}) {
    ChooseLoopOption(p, option);
  }
  p.FQc = FormatFixed3(1.0);
  p.FQ = kMhz;
  p.LHc[0] = FormatFixed3(comp_z);
  p.LHc[1] = FormatFixed3(comp_z);
  p.LEc[0] = FormatFixed3(comp_z);
  p.LEc[1] = FormatFixed3(sd_comp_z);
  p.LEc[2] = FormatFixed3(sd_comp_z);
  // The controls' own handlers refresh as the values land.
  Refresh(ws);
  SetWireDistance(ws, DefaultWireDistance(ws.package));
  Refresh(ws);
}

ExportHeader ExportHeaderFor(const Workspace& ws) {
  return {FileNameOf(ws.SettingsPath), FileNameOf(ws.PackagePath), ws.params};
}

std::string SaveText(Workspace& ws) {
  Refresh(ws);
  return ws.view_text;
}

}  // namespace ostrel
