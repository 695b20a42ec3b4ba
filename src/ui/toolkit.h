#pragma once

#include <optional>
#include <string>
#include <vector>

#include "settings/panel.h"
#include "ui/loop_schematic.h"

namespace ostrel {
struct Workspace;
}

// The seam between the window logic and the widget toolkit: the few operations the commands and
// control events need of the window. The Qt window implements it; tests put fakes in its place.
namespace ostrel::ui {

// How a file dialog is to be shown.
struct FileDialogRequest {
  enum class Mode { kOpen, kSave };
  Mode mode = Mode::kOpen;
  std::string title;
  std::string filter;             // "Description|pattern|Description|pattern"
  std::string default_extension;  // without the dot, added when the name has none
  std::string initial_name;       // file name or full path offered first
  bool overwrite_prompt = false;  // ask before replacing an existing file
  // Ask before naming a file that does not exist yet; No goes back to the dialog.
  bool create_prompt = false;

  bool operator==(const FileDialogRequest&) const = default;
};

// The name filters of a "Description|pattern|..." filter in the "Description (pattern)" form of
// Qt's file dialog. "*.*" becomes "*", since on this platform a file name need not have a dot.
std::vector<std::string> NameFilters(const std::string& filter);

// Chooses a file; std::nullopt when the user cancelled.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  virtual std::optional<std::string> Choose(const FileDialogRequest& request) = 0;
  // Asks whether `path`, chosen in the dialog of `request` but not there yet, is to be created.
  // A chooser that asks nothing (a script, a test) creates it.
  virtual bool ConfirmCreate(const FileDialogRequest& /*request*/, const std::string& /*path*/) {
    return true;
  }
};

// What the window logic sets on screen.
class WindowToolkit {
 public:
  virtual ~WindowToolkit() = default;
  virtual std::optional<std::string> ChooseFile(const FileDialogRequest& request) = 0;
  virtual bool ConfirmCreate(const FileDialogRequest& request, const std::string& path) = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetWorkPath(const std::string& folder) = 0;
  // Chosen options, box texts and enabled states of every panel control and command.
  virtual void ShowPanel(const PanelState& panel) = 0;
  virtual void ShowSchematic(const LoopSchematic& schematic) = 0;
  virtual void ShowText(const std::string& text) = 0;
  virtual void ShowSortList(const std::vector<std::string>& entries) = 0;
  // After each Process Data that completed, with the workspace holding its wires.
  virtual void ShowEstimation(const Workspace& /*ws*/) {}
  // After each Process Data that failed, with the reason: what an earlier one showed is no
  // longer the estimation of the window's settings.
  virtual void ShowEstimationFailed(const std::string& /*reason*/) {}
  // Closes the window, which ends the program.
  virtual void CloseWindow() = 0;
};

}  // namespace ostrel::ui
