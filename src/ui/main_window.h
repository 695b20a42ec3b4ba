#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "ui/toolkit.h"
#include "ui/window_logic.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace ostrel::ui {

class PhysicalView;
class ReportView;
struct Estimation;
class SchematicWidget;

// The main window: the parameter panel in its frames, the loop schematic, the Work Path frame
// with the text view, and the command buttons. Every user action goes to WindowLogic; the
// window only mirrors what the logic shows. Controls carry their domain names as object names
// ("F0", "WD6", "LHc1", "CMD2", "Vu", "Pic", ...).
class MainWindow : public QWidget, public WindowToolkit {
  Q_OBJECT

 public:
  // `chooser` picks the files of Load and Save; without one the desktop's file dialog is used.
  explicit MainWindow(std::unique_ptr<FileChooser> chooser = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  WindowLogic& logic() { return logic_; }

  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override;
  bool ConfirmCreate(const FileDialogRequest& request, const std::string& path) override;
  void SetCaption(const std::string& caption) override;
  void SetWorkPath(const std::string& folder) override;
  void ShowPanel(const PanelState& panel) override;
  void ShowSchematic(const LoopSchematic& schematic) override;
  void ShowText(const std::string& text) override;
  void ShowSortList(const std::vector<std::string>& entries) override;
  void CloseWindow() override;
  void ShowEstimation(const Workspace& ws) override;
  void ShowEstimationFailed(const std::string& reason) override;

  // Opens (or raises) the physical view on the last Process Data's wires.
  void OpenPhysicalView();
  PhysicalView* physicalView() const { return physical_view_; }  // null until first opened

 private:
  void BuildPanel();
  QGroupBox* Frame(int index, const QString& caption);
  QLineEdit* MakeBox(const QString& name, Box box);

  std::unique_ptr<FileChooser> chooser_;
  std::array<QGroupBox*, kFrameCount> F_{};
  std::array<QRadioButton*, 3> M_{};
  std::array<QRadioButton*, 7> WD_{};
  std::array<QRadioButton*, 4> FQ_{};
  std::array<QRadioButton*, kLoopOptionCount> LH_{};
  QLineEdit* WDc_ = nullptr;
  QLineEdit* FQc_ = nullptr;
  std::array<QLineEdit*, 2> LHc_{};
  std::array<QLineEdit*, 3> LEc_{};
  QLineEdit* WtoW_ = nullptr;
  std::array<QPushButton*, 7> CMD_{};
  QPushButton* export_ = nullptr;    // beside Save: the estimation as CSV, JSON, SPICE or SVG
  QPushButton* physical_ = nullptr;  // beside Export: the physical model in a window of its own
  PhysicalView* physical_view_ = nullptr;
  std::shared_ptr<const Estimation> estimation_;  // of the last Process Data
  bool estimation_shown_ = true;                  // the view has it
  QLabel* L0_ = nullptr;
  ReportView* Vu_ = nullptr;
  QListWidget* SortLst_ = nullptr;
  SchematicWidget* Pic_ = nullptr;
  WindowLogic logic_;
};

}  // namespace ostrel::ui
