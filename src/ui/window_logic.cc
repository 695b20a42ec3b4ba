#include "ui/window_logic.h"

#include <filesystem>

#include "app/file_io.h"
#include "base/stage_error.h"

namespace ostrel::ui {
namespace {

FileDialogRequest LoadDialog() {
  FileDialogRequest r;
  r.mode = FileDialogRequest::Mode::kOpen;
  r.title = "Load ZV Setup File";
  r.filter = "ZV Files|*.zv|All Files|*.*";
  r.default_extension = "zv";
  r.initial_name = "*.zv";
  return r;
}

FileDialogRequest SaveDialog(const std::string& settings_path) {
  FileDialogRequest r;
  r.mode = FileDialogRequest::Mode::kSave;
  r.title = "Save ZV File";
  r.filter = "zv files|*.zv|all files|*.*";
  r.default_extension = "zv";
  r.initial_name = settings_path;
  r.overwrite_prompt = true;
  r.create_prompt = true;
  return r;
}

FileDialogRequest ExportDialog(const ExportKind& kind, const std::string& settings_path) {
  FileDialogRequest r;
  r.mode = FileDialogRequest::Mode::kSave;
  r.title = kind.dialog_title;
  r.filter = kind.dialog_filter;
  r.default_extension = kind.suffix;
  r.initial_name = settings_path.empty() ? "" : settings_path + "." + std::string(kind.suffix);
  r.overwrite_prompt = true;
  return r;
}

// The export's text with the choices a command line starts from (SPICE: AC inductances).
std::string ExportText(const ExportKind& kind, const Workspace& run, const std::string& path) {
  const ExportHeader header = ExportHeaderFor(run);
  const ExportChoices choices;
  return kind
      .make({.header = header, .package = run.package, .wires = run.Wires, .choices = choices},
            path)
      .text;
}

}  // namespace

std::vector<const ExportKind*> WindowExports() {
  std::vector<const ExportKind*> kinds;
  for (const ExportKind& kind : ExportKinds()) {
    if (!kind.menu_caption.empty() && !kind.needs_model(ExportChoices{})) kinds.push_back(&kind);
  }
  return kinds;
}

WindowLogic::WindowLogic(WindowToolkit& toolkit) : toolkit_(toolkit) {
  // The schematic follows every completed refresh, whichever command or event ran it.
  ws_.after_refresh = [this] {
    const SchematicContext context{ws_.package.CompZ, ws_.package.SdCompZ,
                                   ws_.package.HasStackedDie(), ws_.panel.LH[kStackExtensionEdge]};
    Redraw(schematic_, ws_.params, context);
  };
}

void WindowLogic::StartUp(const std::string& settings_path) {
  // A fault while reading leaves the window with what was read; it is not shown.
  (void)ostrel::StartUp(ws_, settings_path);
  Show();
}

void WindowLogic::CMD_Click(int index) {
  try {
    switch (index) {
      case kLoad:
        Load();
        break;
      case kCancel:
        toolkit_.CloseWindow();
        return;
      case kProcessData:
        try {
          ProcessData(ws_);
        } catch (const StageError& e) {
          toolkit_.ShowEstimationFailed(e.what());
          throw;
        }
        toolkit_.ShowEstimation(ws_);
        break;
      case kReset:
        Reset(ws_);
        break;
      case kSave:
        Save();
        break;
      default:
        return;
    }
  } catch (const StageError&) {
    // The command ends here, silently; what it changed so far stays.
  }
  Show();
}

void WindowLogic::Load() {
  ws_.view_text.clear();
  Show();
  const std::optional<std::string> path = ChooseFile(LoadDialog());
  if (!path) return;
  LoadSettings(ws_, *path);
}

void WindowLogic::Save() {
  const std::string text = SaveText(ws_);
  Show();
  const std::optional<std::string> path = ChooseFile(SaveDialog(ws_.SettingsPath));
  if (!path) return;
  WriteFileAtomically(*path, text);
}

std::optional<std::string> WindowLogic::ChooseFile(FileDialogRequest request) {
  while (true) {
    std::optional<std::string> path = toolkit_.ChooseFile(request);
    std::error_code ec;
    if (!path || !request.create_prompt || std::filesystem::exists(*path, ec) ||
        toolkit_.ConfirmCreate(request, *path)) {
      return path;
    }
    request.initial_name = *path;  // back to the dialog, on the name the user gave
  }
}

void WindowLogic::Export(const ExportKind& kind) {
  try {
    const std::optional<std::string> path = ChooseFile(ExportDialog(kind, ws_.SettingsPath));
    if (!path) return;
    Workspace run = ws_;
    run.after_refresh = nullptr;
    RunEstimation(run);
    WriteFileAtomically(*path, ExportText(kind, run, *path));
  } catch (const StageError&) {
    // Ends silently, as every command does.
  }
}

void WindowLogic::M_Click(int i) {
  ws_.panel.M = i;
  RefreshPanel();
}

void WindowLogic::WD_Click(int i) {
  ChooseDiameterOption(ws_.panel, i);
  Show();
}

void WindowLogic::WD_MouseUp(int /*i*/) { RefreshPanel(); }

void WindowLogic::FQ_Click(int i) {
  ws_.panel.FQ = i;
  RefreshPanel();
}

void WindowLogic::LH_Click(int i) {
  ChooseLoopOption(ws_.panel, i);
  RefreshPanel();
}

void WindowLogic::Box_Change(Box box, const std::string& text) {
  PanelState& p = ws_.panel;
  std::string* const boxes[] = {&p.WDc,    &p.FQc,    &p.LHc[0], &p.LHc[1],
                                &p.LEc[0], &p.LEc[1], &p.LEc[2]};
  *boxes[static_cast<int>(box)] = text;
  RefreshPanel();
}

void WindowLogic::WtoW_Change(const std::string& text) { ws_.panel.WtoW = text; }

void WindowLogic::RefreshPanel() {
  try {
    Refresh(ws_);
  } catch (const StageError&) {
    // A frequency too large for a single ends the refresh before its redraw.
  }
  Show();
}

void WindowLogic::Show() {
  toolkit_.SetCaption(ws_.caption);
  toolkit_.SetWorkPath(ws_.work_path);
  toolkit_.ShowPanel(ws_.panel);
  toolkit_.ShowSchematic(schematic_);
  if (ws_.view_text != shown_text_) {
    shown_text_ = ws_.view_text;
    toolkit_.ShowText(shown_text_);
  }
  if (ws_.sort_list != shown_sort_list_) {
    shown_sort_list_ = ws_.sort_list;
    toolkit_.ShowSortList(SortEntryTexts(shown_sort_list_));
  }
}

}  // namespace ostrel::ui
