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

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableView;

namespace ostrel::ui {

class CouplingMap;
class FrequencyPlot;
class WireFilter;
class WireTableModel;

// The physical model of the last Process Data in a window of its own: the wire table (sortable,
// filtered by name and kind, copied as tab-separated text), the frequency plot of the selected
// wires and the coupling map of a die side. The model is computed on a worker thread with a
// progress bar and Cancel; a cancelled or failed computation leaves the results shown as they
// were. Sweep, ground depth and eps_r are kept in the user's configuration.
class PhysicalView : public QWidget {
  Q_OBJECT

 public:
  // RunPhysicalStudy, or a stand-in for tests.
  using StudyFunction = std::function<PhysicalStudy(
      const WireList&, const ParameterSet&, const StudyOptions&, const physical::Progress&)>;

  PhysicalView(FileChooser& chooser, StudyFunction study, QWidget* parent = nullptr);
  ~PhysicalView() override;  // cancels a running computation and waits for it

  // A finished estimation. Its model is computed at once when it is estimated to take at most
  // kAutoStartSeconds (app/study_controller.h), otherwise when the user presses Compute.
  void SetEstimation(std::shared_ptr<const Estimation> estimation);
  // A Process Data that failed for `reason`: a running computation is dropped, and the status
  // says why the results shown are those of an earlier estimation.
  void EstimationFailed(const std::string& reason);
  void StartComputation();
  void CancelComputation();
  bool Busy() const;
  // Shows a computed model of the current estimation's wires.
  void ShowModel(physical::Model model);

  ViewOptions Options() const;
  void SetOptions(const ViewOptions& options);  // into the boxes and the configuration
  const PhysicalTable* Table() const { return table_.get(); }
  QString Status() const;
  FrequencyPlot* Plot() const { return plot_; }
  CouplingMap* Map() const { return map_; }
  QTableView* TableView() const { return view_; }

  void CopyRows() const;  // the selected rows (all shown rows without a selection) as TSV
  void ExportTable();     // CSV of the rows shown, in their order
  void ExportPlot();      // PNG or SVG
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
  void Finished(std::uint64_t run, Outcome outcome);
  void ShowSelection();
  void ShowSide(int index);
  std::vector<std::size_t> ShownRows(bool selected_only) const;
  void ShowOptions(const ViewOptions& options);  // into the boxes only
  void SaveOptions();                            // when they differ from those kept

  FileChooser& chooser_;
  StudyFunction study_;
  ViewOptions saved_;  // as kept in the user's configuration
  // The estimation the next computation is for.
  std::shared_ptr<const Estimation> estimation_;
  std::unique_ptr<PhysicalTable> table_;  // the results shown
  std::vector<DieSide> table_sides_;
  // When a computation starts, restarts or is shown; a later estimation waits for the running
  // one (future_) to end.
  StudyController controller_;
  std::shared_ptr<std::atomic<bool>> cancel_;  // of the running computation
  QFuture<void> future_;

  WireTableModel* model_ = nullptr;
  WireFilter* filter_ = nullptr;
  QTableView* view_ = nullptr;
  QLineEdit* name_filter_ = nullptr;
  QComboBox* kind_filter_ = nullptr;
  QComboBox* side_ = nullptr;
  QDoubleSpinBox* sweep_min_mhz_ = nullptr;
  QDoubleSpinBox* sweep_max_mhz_ = nullptr;
  QSpinBox* sweep_points_ = nullptr;
  QDoubleSpinBox* ground_depth_um_ = nullptr;
  QDoubleSpinBox* eps_r_ = nullptr;
  QPushButton* compute_button_ = nullptr;
  QPushButton* cancel_button_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* clearance_ = nullptr;  // the wire pairs too close, under the table
  FrequencyPlot* plot_ = nullptr;
  CouplingMap* map_ = nullptr;
};

}  // namespace ostrel::ui
