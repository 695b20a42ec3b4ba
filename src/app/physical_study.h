#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/parameter_set.h"
#include "geometry/wire.h"
#include "physical/physical_model.h"

// A study of the physical model of one estimation: what the user asks for (frequencies, ground
// plane, dielectric, clearance, capacitance, the wires the package models carry) and the one
// way both front ends run it. Options come in the units a user types (Hz, microns); the model
// takes SI.
namespace ostrel {

// Most frequencies one study takes: each costs one value per wire and per figure in the model
// and the JSON.
constexpr std::size_t kMaxFrequencies = 10000;

// `count` frequencies from `f_min_hz` to `f_max_hz`, both ends included: evenly spaced on a log
// axis (f_i = fmin (fmax / fmin)^(i / (count - 1))) or on a linear one (f_i = fmin + (fmax -
// fmin) i / (count - 1)); the last is exactly `f_max_hz`. For count 1, `f_min_hz` alone.
std::vector<double> SweepFrequencies(double f_min_hz, double f_max_hz, std::size_t count,
                                     bool logarithmic);

// Frequencies from a command-line value, in Hz. Each throws StageError with a message naming
// what is wrong.
//   "0,1e6,1e9"      a list (0 is DC); FrequencyList
//   "FMIN:FMAX:N"    N frequencies from FMIN to FMAX, log-spaced (FMIN > 0) or linearly
//                    spaced (FMIN >= 0); Sweep
std::vector<double> FrequencyList(std::string_view text);
std::vector<double> Sweep(std::string_view text, bool logarithmic);

// The whole of `text` as a finite number at or above 0; throws StageError naming `what`.
double NonNegativeNumber(std::string_view text, const std::string& what);

// What a study computes.
struct StudyOptions {
  // Empty: the settings file's frequency alone.
  std::vector<double> frequencies_hz;
  // The settings file's frequency merged into `frequencies_hz` (ascending, not repeated), so
  // that the model's figures sit beside the report's.
  bool with_settings_frequency = false;
  double ground_depth_um = 50;  // ground plane below the substrate surface
  double eps_r = 1;             // relative permittivity around the wires
  double clearance_um = 0;      // wire pairs closer than this are listed
  bool capacitance = true;
  // Wire name patterns (MatchesNetPattern) of the wires the package models carry: IBIS,
  // Touchstone, the loop SPICE subcircuit. Empty: every wire. The model itself holds every wire.
  std::string nets;
  // Ground and supply nets whose impedance the model gives (app/nets).
  std::vector<physical::SharedNet> shared_nets;
  // Given: each signal's loop through the ground wires too (physical::Options::return_wires).
  std::optional<physical::ReturnWires> return_wires;
  // Differential pairs (wire indices of the whole model; WirePairs in app/nets) whose odd- and
  // even-mode figures the model gives; --nets does not change them.
  std::vector<physical::WirePair> pairs;
  // Above 0: each wire's nearest neighbour within this distance (surface to surface) is found
  // for PhysicalStudy::nearest_clearance_m; the model and its notes stay as they are.
  double nearest_within_um = 0;

  bool operator==(const StudyOptions&) const = default;
};

// The model's options of a study of wires estimated at `settings_frequency_hz`. Throws
// StageError for a negative depth or clearance, eps_r below 1, a frequency that is negative or
// not finite, or more than kMaxFrequencies frequencies.
physical::Options ModelOptions(const StudyOptions& options, double settings_frequency_hz);

// A computed study: the model of every wire and what a person should read about it.
struct PhysicalStudy {
  physical::Model model;
  // The model of the wires the nets select, when the options name nets.
  std::optional<physical::Model> selected;
  // What the model leaves out or repairs, then the wire pairs of the clearance list, one
  // sentence each.
  std::vector<std::string> notes;
  // Per wire, the clearance to its nearest neighbour (metres, negative for an overlap; NaN when
  // none lies within StudyOptions::nearest_within_um). Empty unless asked for.
  std::vector<double> nearest_clearance_m;

  // The model the package models are made of: the selection when there is one.
  const physical::Model& Selected() const { return selected ? *selected : model; }
};

// The study of the wires of one estimation. `progress` hears the stages and may cancel (then
// StageError is thrown). Throws StageError on bad options, a --nets pattern that matches no
// wire, or a model that cannot be made physical.
PhysicalStudy RunPhysicalStudy(const WireList& wires, const ParameterSet& params,
                               const StudyOptions& options,
                               const physical::Progress& progress = {});

// A progress that rises once from 0 to 1 over the whole study, from `whole`, which hears each
// stage's name with the overall fraction: the inductance matrices, the proximity correction and
// the capacitance (when `options` asks for it) each take an equal part of the bar in that order,
// each stage's own fraction mapped into its part. A fraction never falls back, whatever order the
// stages report in, and a stage not named here moves nothing; the cancel flag is `whole`'s.
physical::Progress OverallProgress(const physical::Progress& whole, const StudyOptions& options);

// The model restricted to the wires whose names match `patterns`, in the same order, and to the
// ground wires of its return loops when it has them; the model itself when the list is empty.
// Throws StageError naming a pattern that matches no wire.
physical::Model SelectNets(const physical::Model& model, std::string_view patterns);

}  // namespace ostrel
