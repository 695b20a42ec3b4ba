#include "ui/view_state.h"

#include <cstdio>

#include "base/stage_error.h"

namespace ostrel::ui {
namespace {

std::string Sweep(const ViewOptions& o) {
  return FrequencyLabel(o.sweep_min_hz) + " to " + FrequencyLabel(o.sweep_max_hz) + ", " +
         std::to_string(o.sweep_points) + " points";
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// " The figures shown belong to the previous run." when there are any.
std::string Previous(bool shown) {
  return shown ? " The figures shown belong to the previous run." : "";
}

}  // namespace

void ViewState::Estimated(const Estimation& estimation) {
  StudyInputs inputs;
  try {
    inputs.conductors = physical::BuildConductors(estimation.wires, estimation.params);
  } catch (const StageError&) {
    // Wires the model cannot take: their computation fails and says why.
    inputs.conductors.resize(estimation.wires.size());
  }
  inputs.settings_frequency_hz = static_cast<double>(estimation.params.Frequency);
  estimated_ = std::move(inputs);
  estimation_error_.clear();
}

void ViewState::EstimationFailed(std::string reason) {
  estimation_error_ = std::move(reason);
  running_.reset();  // the window drops a computation still running
}

void ViewState::OptionsChanged(const ViewOptions& options) { options_ = options; }

void ViewState::PairsChecked(std::string fault) { pairs_fault_ = std::move(fault); }

void ViewState::ComputeStarted() {
  if (!estimated_) return;
  running_ = *estimated_;
  running_->options = options_;
  compute_error_.clear();
}

void ViewState::Computed() {
  // Results shown without a computation started here are taken as those of what the window
  // holds now.
  if (!running_ && estimated_) ComputeStarted();
  if (running_) shown_ = std::move(running_);
  running_.reset();
  compute_error_.clear();
}

void ViewState::ComputeFailed(std::string reason) {
  running_.reset();
  compute_error_ = std::move(reason);
}

void ViewState::ComputeEnded() { running_.reset(); }

void ViewState::Exported() { export_error_.clear(); }

void ViewState::ExportFailed(std::string reason) { export_error_ = std::move(reason); }

std::vector<std::string> ViewState::Changes() const {
  std::vector<std::string> changes;
  if (!shown_ || !estimated_) return changes;
  const ViewOptions& was = shown_->options;
  auto change = [&](const std::string& what, const std::string& from, const std::string& to) {
    changes.push_back(what + " (" + from + " then, " + to + " now)");
  };
  if (shown_->conductors != estimated_->conductors) {
    change("the package's wires", WireCount(shown_->conductors.size()),
           WireCount(estimated_->conductors.size()));
  }
  if (shown_->settings_frequency_hz != estimated_->settings_frequency_hz) {
    change("the settings frequency", FrequencyLabel(shown_->settings_frequency_hz),
           FrequencyLabel(estimated_->settings_frequency_hz));
  }
  if (was.sweep_min_hz != options_.sweep_min_hz || was.sweep_max_hz != options_.sweep_max_hz ||
      was.sweep_points != options_.sweep_points) {
    change("the sweep", Sweep(was), Sweep(options_));
  }
  if (was.ground_depth_um != options_.ground_depth_um) {
    change("the ground plane depth", Number(was.ground_depth_um) + " µm",
           Number(options_.ground_depth_um) + " µm");
  }
  if (was.eps_r != options_.eps_r) change("eps_r", Number(was.eps_r), Number(options_.eps_r));
  if (was.pairs != options_.pairs) {
    const auto pairs = [](const std::string& text) { return text.empty() ? "none" : text; };
    change("the pairs", pairs(was.pairs), pairs(options_.pairs));
  }
  return changes;
}

std::vector<Banner> ViewState::Banners() const {
  std::vector<Banner> banners;
  if (!estimation_error_.empty()) {
    banners.push_back({Banner::Kind::kEstimationFailed,
                       "Process Data failed: " + estimation_error_ + "." + Previous(HasResults())});
  }
  if (!compute_error_.empty()) {
    banners.push_back(
        {Banner::Kind::kComputeFailed,
         "The model could not be computed: " + compute_error_ + "." + Previous(HasResults())});
  }
  const std::vector<std::string> changes = Changes();
  if (!changes.empty()) {
    std::string text = "Out of date: the results shown were computed before a change of ";
    for (std::size_t i = 0; i < changes.size(); ++i) {
      text += (i == 0 ? "" : i + 1 == changes.size() ? " and " : ", ") + changes[i];
    }
    banners.push_back({Banner::Kind::kStale, text + ". Press Compute to update them."});
  }
  if (!export_error_.empty()) {
    banners.push_back({Banner::Kind::kExportFailed, "Not written: " + export_error_});
  }
  return banners;
}

std::string ViewState::ComputeBlocked() const {
  if (!estimated_) return "Press Process Data in the main window first: there are no wires yet.";
  if (estimated_->conductors.empty()) return "The package has no wires: nothing to compute.";
  if (!pairs_fault_.empty()) return "The pairs cannot be used: " + pairs_fault_ + ".";
  return {};
}

std::string ViewState::ExportBlocked() const {
  if (!shown_) return "Nothing to export: no model has been computed yet.";
  if (shown_->conductors.empty()) return "Nothing to export: the model has no wires.";
  return {};
}

}  // namespace ostrel::ui
