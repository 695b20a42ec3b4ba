#include "app/physical_study.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>

#include "base/name_patterns.h"
#include "base/stage_error.h"
#include "base/text.h"
#include "export/physical_export.h"
#include "physical/clearance.h"
#include "physical/model_selection.h"

namespace ostrel {
namespace {

constexpr double kMetresPerMicron = 1e-6;

// Parses the whole of `text` as a finite number at or above `least`; `what` names it in the
// message.
double NumberIn(std::string_view text, double least, const std::string& what) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value)) {
    throw StageError(what + " '" + std::string(text) + "' is not a number");
  }
  if (value < least) {
    throw StageError(what + " " + std::string(text) + " is below " + FormatGeneral(least, 6));
  }
  return value;
}

// `frequencies_hz` with `f_hz` put in its place among them unless one lies within 1e-9 of it.
void MergeFrequency(std::vector<double>& frequencies_hz, double f_hz) {
  const bool listed = std::any_of(frequencies_hz.begin(), frequencies_hz.end(),
                                  [&](double x) { return std::abs(x - f_hz) <= 1e-9 * f_hz; });
  if (listed) return;
  frequencies_hz.insert(std::upper_bound(frequencies_hz.begin(), frequencies_hz.end(), f_hz), f_hz);
}

}  // namespace

std::vector<double> SweepFrequencies(double f_min_hz, double f_max_hz, std::size_t count,
                                     bool logarithmic) {
  std::vector<double> out(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double t = count == 1 ? 0.0 : static_cast<double>(i) / static_cast<double>(count - 1);
    // Log: f_i = fmin (fmax / fmin)^t; linear: f_i = fmin + (fmax - fmin) t.
    out[i] = logarithmic ? f_min_hz * std::pow(f_max_hz / f_min_hz, t)
                         : f_min_hz + (f_max_hz - f_min_hz) * t;
  }
  if (count > 1) out.back() = f_max_hz;  // exactly the end asked for, whatever the rounding
  return out;
}

double NonNegativeNumber(std::string_view text, const std::string& what) {
  return NumberIn(text, 0.0, what);
}

std::vector<double> FrequencyList(std::string_view text) {
  std::vector<double> out;
  for (std::size_t pos = 0; pos <= text.size();) {
    std::size_t comma = text.find(',', pos);
    if (comma == std::string_view::npos) comma = text.size();
    out.push_back(NumberIn(text.substr(pos, comma - pos), 0.0, "frequency"));
    if (out.size() > kMaxFrequencies) {
      throw StageError("more than " + std::to_string(kMaxFrequencies) + " frequencies");
    }
    pos = comma + 1;
  }
  return out;
}

std::vector<double> Sweep(std::string_view text, bool logarithmic) {
  const std::size_t colon1 = text.find(':');
  const std::size_t colon2 = colon1 == std::string_view::npos ? colon1 : text.find(':', colon1 + 1);
  if (colon2 == std::string_view::npos) {
    throw StageError("a sweep is FMIN:FMAX:N, not '" + std::string(text) + "'");
  }
  const double f_min_hz = NumberIn(text.substr(0, colon1), 0.0, "the lowest frequency");
  if (logarithmic && f_min_hz == 0) {
    throw StageError("a log sweep starts above 0 Hz; a linear sweep can start at DC");
  }
  const double f_max_hz =
      NumberIn(text.substr(colon1 + 1, colon2 - colon1 - 1), f_min_hz, "the highest frequency");
  const std::string_view count_text = text.substr(colon2 + 1);
  std::size_t count = 0;
  const auto [end, ec] =
      std::from_chars(count_text.data(), count_text.data() + count_text.size(), count);
  if (count_text.empty() || ec != std::errc() || end != count_text.data() + count_text.size() ||
      count < 1 || count > kMaxFrequencies) {
    throw StageError("the number of sweep frequencies '" + std::string(count_text) +
                     "' is not a whole number from 1 to " + std::to_string(kMaxFrequencies));
  }
  if (count == 1 && f_max_hz != f_min_hz) {
    throw StageError("a sweep of one frequency needs FMIN equal to FMAX");
  }
  return SweepFrequencies(f_min_hz, f_max_hz, count, logarithmic);
}

physical::Options ModelOptions(const StudyOptions& options, double settings_frequency_hz) {
  if (!(options.ground_depth_um >= 0)) {
    throw StageError("the ground plane depth cannot be negative");
  }
  if (!(options.eps_r >= 1)) throw StageError("the relative permittivity must be at least 1");
  if (!(options.clearance_um >= 0)) throw StageError("the clearance cannot be negative");
  physical::Options out;
  out.frequencies_hz = options.frequencies_hz;
  if (out.frequencies_hz.empty()) {
    out.frequencies_hz.push_back(settings_frequency_hz);
  } else if (options.with_settings_frequency && settings_frequency_hz > 0) {
    MergeFrequency(out.frequencies_hz, settings_frequency_hz);
  }
  for (const double f_hz : out.frequencies_hz) {
    if (!(f_hz >= 0) || !std::isfinite(f_hz)) {
      throw StageError("the frequency " + FormatGeneral(f_hz, 6) + " Hz is not one to compute at");
    }
  }
  if (out.frequencies_hz.size() > kMaxFrequencies) {
    throw StageError("more than " + std::to_string(kMaxFrequencies) + " frequencies");
  }
  out.ground_depth_m = options.ground_depth_um * kMetresPerMicron;
  out.eps_r = options.eps_r;
  out.clearance_m = options.clearance_um * kMetresPerMicron;
  out.capacitance = options.capacitance;
  out.nets = options.shared_nets;
  out.return_wires = options.return_wires;
  out.pairs = options.pairs;
  return out;
}

PhysicalStudy RunPhysicalStudy(const WireList& wires, const ParameterSet& params,
                               const StudyOptions& options, const physical::Progress& progress) {
  const physical::Options model_options =
      ModelOptions(options, static_cast<double>(params.Frequency));
  PhysicalStudy study;
  study.model = physical::ComputeModel(wires, params, model_options, progress);
  study.notes = study.model.notes;
  for (std::string& note : ClearanceNotes(study.model)) study.notes.push_back(std::move(note));
  if (!options.nets.empty()) study.selected = SelectNets(study.model, options.nets);
  if (options.nearest_within_um > 0 && std::isfinite(options.nearest_within_um)) {
    study.nearest_clearance_m.assign(study.model.conductors.size(),
                                     std::numeric_limits<double>::quiet_NaN());
    for (const physical::Clearance& pair : physical::CheckClearance(
             study.model.conductors, options.nearest_within_um * kMetresPerMicron)) {
      for (const std::size_t wire : {pair.wire_a, pair.wire_b}) {
        double& nearest = study.nearest_clearance_m[wire];
        if (!(nearest <= pair.clearance_m)) nearest = pair.clearance_m;
      }
    }
  }
  return study;
}

physical::Progress OverallProgress(const physical::Progress& whole, const StudyOptions& options) {
  // The model's stages in the order it runs them, each an equal part of the bar: the inductance
  // matrices (dense or the sparse loop matrix), the proximity correction, the capacitance when
  // asked for.
  struct Part {
    std::vector<std::string_view> stages;
  };
  std::vector<Part> parts = {{{"inductance", "loop inductance"}}, {{"proximity"}}};
  if (options.capacitance) parts.push_back({{"capacitance"}});
  struct Shared {
    std::mutex mutex;
    double done = 0;
  };
  auto shared = std::make_shared<Shared>();
  physical::Progress out;
  out.cancel = whole.cancel;
  if (!whole.report) return out;
  out.report = [report = whole.report, shared, parts](std::string_view stage, double fraction) {
    const double own = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    const double share = 1.0 / static_cast<double>(parts.size());
    double overall = 0;
    {
      const std::lock_guard<std::mutex> lock(shared->mutex);
      for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto& names = parts[i].stages;
        if (std::find(names.begin(), names.end(), stage) == names.end()) continue;
        shared->done = std::max(shared->done, share * (static_cast<double>(i) + own));
      }
      overall = shared->done;  // a stage not listed moves nothing
    }
    report(stage, overall);
  };
  return out;
}

physical::Model SelectNets(const physical::Model& model, std::string_view patterns) {
  std::vector<std::string> names;
  for (const physical::Conductor& wire : model.conductors) names.push_back(wire.name);
  std::vector<std::size_t> kept = MatchingNames(names, patterns);
  if (patterns.find_first_not_of(" \t") == std::string_view::npos) return model;
  if (model.options.return_wires) {
    // The ground wires carry every chosen signal's return: they stay, as branches, not ports.
    const std::vector<std::size_t>& ground = model.options.return_wires->ground;
    kept.insert(kept.end(), ground.begin(), ground.end());
    std::sort(kept.begin(), kept.end());
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
  }
  return physical::SelectWires(model, kept);
}

}  // namespace ostrel
