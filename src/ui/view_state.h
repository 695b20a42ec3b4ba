#pragma once

#include <optional>
#include <string>
#include <vector>

#include "physical/physical_model.h"
#include "ui/physical_table.h"

// What the physical view says about its results, without the toolkit: whether the figures shown
// still belong to what the window holds (the package's wires, the settings frequency, the
// view's options), why a Process Data, a computation or an export failed, and why Compute or
// Export cannot be used. The window reports each event and shows the banners and reasons.
namespace ostrel::ui {

// What one computation is for.
struct StudyInputs {
  std::vector<physical::Conductor> conductors;  // the wires as the model sees them
  double settings_frequency_hz = 0;
  ViewOptions options;

  bool operator==(const StudyInputs&) const = default;
};

// One message above the results, shown until it stops being true.
struct Banner {
  enum class Kind { kStale, kEstimationFailed, kComputeFailed, kExportFailed };
  Kind kind = Kind::kStale;
  std::string text;

  bool operator==(const Banner&) const = default;
};

class ViewState {
 public:
  // A Process Data that succeeded (its wires may be none).
  void Estimated(const Estimation& estimation);
  // A Process Data that failed: the window holds no new wires.
  void EstimationFailed(std::string reason);
  void OptionsChanged(const ViewOptions& options);
  // Why the options' pairs cannot be resolved against the wires held (WirePairsOf's reason);
  // empty when they can. Compute is refused while there is a reason.
  void PairsChecked(std::string fault);
  // A computation of what the window holds now started; it ended with its results shown, with
  // a failure, or without either (cancelled, or dropped for newer wires).
  void ComputeStarted();
  void Computed();
  void ComputeFailed(std::string reason);
  void ComputeEnded();
  void Exported();
  void ExportFailed(std::string reason);

  bool HasResults() const { return shown_.has_value(); }
  // What differs between the results shown and what the window holds, one phrase each ("the
  // ground plane depth (50 µm then, 80 µm now)"); empty when they agree or nothing is shown.
  std::vector<std::string> Changes() const;
  std::vector<Banner> Banners() const;
  // Why Compute (Export) cannot be used now; empty when it can.
  std::string ComputeBlocked() const;
  std::string ExportBlocked() const;

 private:
  std::optional<StudyInputs> estimated_;  // the wires of the last Process Data that succeeded
  ViewOptions options_;
  std::optional<StudyInputs> shown_, running_;
  std::string estimation_error_, compute_error_, export_error_, pairs_fault_;
};

}  // namespace ostrel::ui
