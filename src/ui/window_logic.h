#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/workspace.h"
#include "export/export_table.h"
#include "ui/loop_schematic.h"
#include "ui/toolkit.h"

// The main window's behaviour without the toolkit: start-up, the command handler and the
// control events. Each entry point changes the workspace, lets the core refresh the panel, and
// then mirrors the result onto the window through the toolkit seam.
namespace ostrel::ui {

// The exports the window offers (those with a menu caption; none needs the physical model), in
// the order of their rows.
std::vector<const ExportKind*> WindowExports();

// The custom-value boxes whose every edit refreshes the panel.
enum class Box { kWDc, kFQc, kLHc0, kLHc1, kLEc0, kLEc1, kLEc2 };

class WindowLogic {
 public:
  explicit WindowLogic(WindowToolkit& toolkit);
  WindowLogic(const WindowLogic&) = delete;
  WindowLogic& operator=(const WindowLogic&) = delete;

  // Starts with `settings_path` (see SettingsPathFor). A fault while reading the settings or
  // the package they name is swallowed: the window keeps what was read.
  void StartUp(const std::string& settings_path);

  // The command buttons: 0 Load, 1 Cancel, 2 Process Data, 3 Reset, 4 Save. Any other index
  // (5 Apply, 6 OK of the wire-to-wire distance) does nothing. A fault or a cancelled file
  // dialog ends the command silently, with what it had done so far kept.
  void CMD_Click(int index);

  // Exports the estimation of the current parameters to a chosen file. The estimation runs on
  // a copy of the workspace, so the view, the report and the panel stay as they are; a fault or
  // a cancelled dialog ends the export silently, like a command.
  void Export(const ExportKind& kind);

  // Control events of the panel.
  void M_Click(int i);     // material: refresh
  void WD_Click(int i);    // diameter: choose and switch the custom box, no refresh
  void WD_MouseUp(int i);  // diameter: mouse released over the option: refresh
  void FQ_Click(int i);    // frequency unit: refresh
  void LH_Click(int i);    // loop option: switch its group's box, refresh
  void Box_Change(Box box, const std::string& text);  // refresh per edit
  void WtoW_Change(const std::string& text);          // taken in at the next refresh

  const Workspace& workspace() const { return ws_; }
  const LoopSchematic& schematic() const { return schematic_; }

 private:
  void RefreshPanel();  // a refresh whose fault ends it where it is
  void Show();          // mirrors the workspace onto the window
  void Load();
  void Save();
  // The file dialog, again after each "No" to creating a file that does not exist yet (when
  // the request asks for that prompt); std::nullopt when cancelled.
  std::optional<std::string> ChooseFile(FileDialogRequest request);

  WindowToolkit& toolkit_;
  Workspace ws_;
  LoopSchematic schematic_ = DesignSchematic();
  std::string shown_text_;  // the view's text as last shown (reports can be large)
  SortList shown_sort_list_;
};

}  // namespace ostrel::ui
