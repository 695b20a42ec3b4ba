#pragma once

#include <QFuture>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/physical_study.h"
#include "app/study_controller.h"
#include "physical/physical_model.h"
#include "ui/physical_table.h"
#include "ui/toolkit.h"
#include "ui/view_state.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableView;
class QTableWidget;

namespace ostrel::ui {

class CouplingMap;
class FrequencyPlot;
class PlanView;
class WireFilter;
class WireTableModel;

// The physical model of the last Process Data in a window of its own: the wire table (sortable
// by a header or the Sort by boxes, filtered by name, kind, role, net and pair, copied as
// tab-separated text), the frequency plot of the selected wires, the coupling map of a die side,
// the plan of the package, the ground and supply nets' impedances and the differential pairs'
// figures. A wire selected in any of them is selected in all. The model is computed on a worker
// thread with one progress bar over its stages and Cancel; a cancelled or failed computation leaves
// the results shown as they were. Banners above the results say when they no longer belong to what
// the window holds and why a Process Data, a computation or an export failed; the model's notes are
// listed under the table. Sweep, ground depth, eps_r and the pairs are kept in the user's
// configuration.
class PhysicalView : public QWidget {
  Q_OBJECT

 public:
  // RunPhysicalStudy, or a stand-in for tests.
  using StudyFunction = std::function<PhysicalStudy(
      const WireList&, const ParameterSet&, const StudyOptions&, const physical::Progress&)>;

  PhysicalView(FileChooser& chooser, StudyFunction study, QWidget* parent = nullptr);
  ~PhysicalView() override;  // cancels a running computation and waits for it

  // A finished estimation. Its model is computed at once when it is estimated to take at most
  // kAutoStartSeconds (app/study_controller.h), otherwise when the user presses Compute; a
  // package without wires is not computed.
  void SetEstimation(std::shared_ptr<const Estimation> estimation);
  // A Process Data that failed for `reason`: a running computation is dropped, and a banner
  // says why the results shown are those of an earlier estimation.
  void EstimationFailed(const std::string& reason);
  void StartComputation();
  void CancelComputation();
  bool Busy() const;
  // Shows a computed study (or model) of the current estimation's wires.
  void ShowStudy(PhysicalStudy study);
  void ShowModel(physical::Model model);

  ViewOptions Options() const;
  void SetOptions(const ViewOptions& options);  // into the boxes and the configuration
  const PhysicalTable* Table() const { return table_.get(); }
  QString Status() const;
  // The banners shown above the results, one line each.
  QStringList Banners() const;
  FrequencyPlot* Plot() const { return plot_; }
  CouplingMap* Map() const { return map_; }
  PlanView* Plan() const { return plan_; }
  QTableView* TableView() const { return view_; }
  // The ground and supply nets' impedances, when the model has them.
  QTableWidget* NetTable() const { return net_table_; }
  // The differential pairs' figures, when the model has pairs.
  QTableWidget* PairTable() const { return pair_table_; }

  // Selects `wires` (indices into the wire list) in the table and so in every pane; `extend`
  // adds them to the selection. Filters that hide one of them are cleared; a wire a filter
  // comes to hide is deselected.
  void SelectWires(const std::vector<std::size_t>& wires, bool extend = false);
  // The selected wires, in the table's order.
  std::vector<std::size_t> SelectedWires() const;

  void CopyRows() const;  // the selected rows (all shown rows without a selection) as TSV
  void ExportTable();     // CSV of the rows shown, in their order
  void ExportPlot();      // PNG or SVG
  void ExportPlan();
  void ExportPicture(const char* title,
                     const std::function<bool(const QString&)>& save);  // PNG or SVG
  std::optional<std::string> ChooseExportPath(const char* title, const char* filter,
                                              const char* extension);

 signals:
  void ComputationEnded();  // after results arrived, a cancel or a failure

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct Outcome {
    std::optional<PhysicalStudy> study;
    std::string error;
    bool cancelled = false;
  };
  void BuildControls();
  QWidget* BuildTablePane(QWidget* parent);
  QWidget* BuildPlanPane(QWidget* parent);
  void Finished(std::uint64_t run, Outcome outcome);
  void ShowSelection();
  void ShowSide(int index);
  void OutlineOnMap(const std::vector<std::size_t>& rows);
  void ShowPlan();
  void ShowNets();    // the net filter's list and the nets' impedances
  void ShowPairs();   // the pair filter's list and the pairs' figures
  void CheckPairs();  // the pairs typed against the wires held: the reason shown, Compute refused
  void FilterRows();  // the filters' rows into the table, the plan and the selection
  void ClearFilters();
  void ShowState();  // banners, and what Compute and the exports may do
  void MapCellClicked(int row, int column);
  std::vector<std::size_t> ShownRows(bool selected_only) const;
  void ShowOptions(const ViewOptions& options);  // into the boxes only
  void SaveOptions();                            // when they differ from those kept
  void SortFromBoxes();

  FileChooser& chooser_;
  StudyFunction study_;
  ViewOptions saved_;  // as kept in the user's configuration
  // The estimation the next computation is for.
  std::shared_ptr<const Estimation> estimation_;
  std::unique_ptr<PhysicalTable> table_;  // the results shown
  std::vector<DieSide> table_sides_;
  double coupling_max_ = 0;  // the largest |k| of every side
  // When a computation starts, restarts or is shown; a later estimation waits for the running
  // one (future_) to end.
  StudyController controller_;
  ViewState state_;
  std::shared_ptr<std::atomic<bool>> cancel_;  // of the running computation
  QFuture<void> future_;

  WireTableModel* model_ = nullptr;
  WireFilter* filter_ = nullptr;
  QTableView* view_ = nullptr;
  QLineEdit* name_filter_ = nullptr;
  QComboBox* kind_filter_ = nullptr;
  QComboBox* role_filter_ = nullptr;
  QComboBox* net_filter_ = nullptr;   // editable: a net, or patterns with * and ?
  QComboBox* pair_filter_ = nullptr;  // all wires, those in a pair, or one pair's
  QComboBox* sort_column_ = nullptr;
  QComboBox* sort_order_ = nullptr;
  QComboBox* side_ = nullptr;
  QCheckBox* side_scale_ = nullptr;
  QComboBox* plan_quantity_ = nullptr;
  QDoubleSpinBox* sweep_min_mhz_ = nullptr;
  QDoubleSpinBox* sweep_max_mhz_ = nullptr;
  QSpinBox* sweep_points_ = nullptr;
  QDoubleSpinBox* ground_depth_um_ = nullptr;
  QDoubleSpinBox* eps_r_ = nullptr;
  QLineEdit* pairs_ = nullptr;     // P/N patterns, as ostrel-cli's --pairs
  QLabel* pairs_fault_ = nullptr;  // why they cannot be used
  QPushButton* compute_button_ = nullptr;
  QPushButton* cancel_button_ = nullptr;
  std::vector<QPushButton*> export_buttons_;  // Copy Rows and the exports
  QProgressBar* progress_ = nullptr;
  QLabel* banner_ = nullptr;
  QLabel* status_ = nullptr;
  QListWidget* notes_ = nullptr;  // the model's notes and the wire pairs too close
  QTabWidget* panes_ = nullptr;   // the coupling map and the plan
  FrequencyPlot* plot_ = nullptr;
  CouplingMap* map_ = nullptr;
  PlanView* plan_ = nullptr;
  QWidget* nets_pane_ = nullptr;
  QTableWidget* net_table_ = nullptr;
  QWidget* pairs_pane_ = nullptr;
  QTableWidget* pair_table_ = nullptr;
};

// Resizes a top-level window to `preferred`, or to the part of its screen's available geometry
// left free of a window frame when that is smaller, and places it inside that geometry.
void FitToScreen(QWidget* window, QSize preferred);

}  // namespace ostrel::ui
