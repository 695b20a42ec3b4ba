#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/nets.h"
#include "app/physical_study.h"
#include "geometry/parameter_set.h"
#include "geometry/wire.h"
#include "package/package_model.h"
#include "physical/physical_model.h"

// What the physical view shows, without the toolkit: the per-wire table beside the report's
// figures, each wire's sweep, the coupling of one die side in pad order, and the options the
// user sets in the view. Units are those shown: microns, mOhm, nH, pF, Hz.
namespace ostrel::ui {

// What one Process Data estimated: the package, its wires in report order and the parameters.
struct Estimation {
  Package package;
  WireList wires;
  ParameterSet params;
};

// The model options the view keeps in the user's configuration (never in the settings file).
struct ViewOptions {
  double sweep_min_hz = 1e6;
  double sweep_max_hz = 20e9;
  int sweep_points = 41;  // log-spaced, both ends included
  double ground_depth_um = 50;
  double eps_r = 1;
  // Differential pairs, as ostrel-cli's --pairs takes them ("*_P/*_N,T2/T3"); empty: none.
  std::string pairs;

  bool operator==(const ViewOptions&) const = default;
};

// The study of the view's options: the log-spaced sweep with the settings file's frequency
// merged in (the pairs are the window's to resolve against its wires: WirePairsOf). Throws
// StageError on a sweep that is empty or not ascending, or of fewer than 2 or more than 1000
// points; ModelOptions (app/physical_study.h) checks the rest.
StudyOptions StudyOf(const ViewOptions& view);

// The columns of the wire table, in order. The pair, the partial inductance and the capacitance
// appear only when the model holds them.
enum class Column {
  kName,
  kKind,
  kNet,   // the net the pad types make (app/nets, default patterns)
  kRole,  // "ground", "power" or "signal"
  kPair,  // "T2/T3 P": the differential pair and the wire's side, P or N
  kLength,
  kResistanceDc,
  kResistance,
  kPartial,
  kLoop,
  kReportDc,
  kReportAc,
  kReportSelf,
  kReportMutual,
  kCapacitance,
  kNeighbour,
  kCoupling,
};

// "base-die", "stacked-die" or "stitch", as the exports name the kinds.
std::string KindName(const Wire& wire);

// One die side's wires in pad order along the edge.
struct DieSide {
  std::string label;               // "Base die, top (T)"
  std::vector<std::size_t> wires;  // indices into the wire list
};

// The sides of the base die (left, bottom, right, top as the package orders them) and of the
// stacked die (ordered along their edge) that carry wires; stitch wires belong to no side.
std::vector<DieSide> DieSides(const Package& package, const WireList& wires);

// Loop coupling coefficients k = L_ij / sqrt(L_ii L_jj) among `wires`, row-major n x n (1 on
// the diagonal, 0 for a coupling the matrix does not keep).
std::vector<double> SideCoupling(const physical::SymmetricMatrix& loop_h,
                                 const std::vector<std::size_t>& wires);

// One wire's figures over the sweep.
struct WireSweep {
  std::vector<double> frequency_hz;
  std::vector<double> resistance_mohm;
  std::vector<double> partial_nh;  // empty when the model has no partial matrix
  std::vector<double> loop_nh;
};

// The model of one estimation laid out for the view.
class PhysicalTable {
 public:
  PhysicalTable() = default;
  // Throws StageError when the model's wires are not the estimation's.
  PhysicalTable(physical::Model model, std::shared_ptr<const Estimation> estimation);

  std::size_t RowCount() const { return estimation_->wires.size(); }
  const std::vector<Column>& Columns() const { return columns_; }
  // Header with its unit, e.g. "R @ 1 GHz (mΩ)".
  std::string Header(Column column) const;
  // The CSV name of a column, e.g. "resistance_mohm".
  static std::string CsvName(Column column);
  std::string Text(std::size_t row, Column column) const;
  // The value a column sorts by; text columns have none (NaN).
  double Value(std::size_t row, Column column) const;
  // Rows as tab-separated text with the header line, for the clipboard.
  std::string Tsv(const std::vector<std::size_t>& rows) const;
  // Rows as CSV with full precision and the CSV names.
  std::string Csv(const std::vector<std::size_t>& rows) const;

  WireSweep Sweep(std::size_t row) const;
  // The index of the settings file's frequency among the model's results.
  std::size_t SettingsIndex() const { return settings_index_; }
  double SettingsFrequencyHz() const { return settings_frequency_hz_; }
  int Neighbour(std::size_t row) const { return neighbour_[row]; }  // -1: none
  const physical::Model& model() const { return model_; }
  const WireList& wires() const { return estimation_->wires; }
  const Estimation& estimation() const { return *estimation_; }
  // The nets of the estimation's wires (PackageNets with the default patterns), and each wire's.
  const std::vector<Net>& Nets() const { return nets_; }
  const Net& NetOf(std::size_t row) const { return nets_[net_of_[row]]; }
  // The name of each of the model's differential pairs, "positive/negative" ("T2/T3").
  std::string PairName(std::size_t pair) const;
  // Each wire's clearance to its nearest neighbour (PhysicalStudy::nearest_clearance_m), in
  // microns; NaN when none was found near or none was asked for.
  void SetNearestClearance(const std::vector<double>& metres);
  double NearestClearanceUm(std::size_t row) const {
    return row < nearest_clearance_um_.size() ? nearest_clearance_um_[row] : kNoFigure;
  }

 private:
  physical::Model model_;
  std::shared_ptr<const Estimation> estimation_;
  double settings_frequency_hz_ = 0;
  std::size_t settings_index_ = 0;
  std::vector<Column> columns_;
  std::vector<Net> nets_;
  std::vector<std::size_t> net_of_;   // per wire, an index into nets_
  std::vector<std::size_t> pair_of_;  // per wire, an index into model_.pairs; past it: none
  std::vector<double> loop_diagonal_, partial_diagonal_, capacitance_diagonal_;  // SI
  std::vector<int> neighbour_;  // strongest loop neighbour per wire
  std::vector<double> neighbour_k_;
  std::vector<double> nearest_clearance_um_;
  static constexpr double kNoFigure = std::numeric_limits<double>::quiet_NaN();
};

// One condition a row of the wire table meets to be shown, on the text of one column
// (PhysicalTable::Text): kEqual, that text; kNamePart, a part of it or a pattern with * and ? for
// the whole, letter case aside (the name filter); kPatterns, one of comma-separated patterns with
// * and ? in its own case, as ostrel-cli's net:NAME; kPrefix, text that begins with this one (a
// pair's rows: its name and a blank). An empty text keeps every row. A filter of another column
// is one more row of this kind.
struct RowFilter {
  enum class Match { kEqual, kNamePart, kPatterns, kPrefix };
  Column column = Column::kName;
  Match match = Match::kEqual;
  std::string text;
};

// Whether row `row` of `table` meets every one of `filters`.
bool RowShown(const PhysicalTable& table, std::size_t row, const std::vector<RowFilter>& filters);

// The ground and supply nets' impedances of a model (Model::nets) as text, one row per net and
// frequency: name, role, wire count, frequency, the net's wires in parallel (R in mOhm, L in nH)
// and, for a supply net, its loop through the ground wires. No rows when the model has none.
struct NetImpedanceText {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
};
NetImpedanceText NetImpedanceTable(const physical::Model& model);

// The differential pairs' figures (Model::pairs) as text, one row per pair: its name, Z_diff,
// Z_odd, Z_even (ohm), L odd and even (nH), C odd and even (pF), the nearest other wire and its
// k. A figure the model left out is empty. No rows when the model has no pairs.
NetImpedanceText PairFiguresTable(const physical::Model& model);

// Natural order of names: runs of digits compare as numbers (PL2 before PL10), other characters
// without regard to ASCII letter case; names equal so compare byte for byte.
bool NaturalLess(std::string_view a, std::string_view b);

// "1 wire", "3 wires".
std::string WireCount(std::size_t wires);

// "1 MHz", "2.5 GHz": a frequency for labels.
std::string FrequencyLabel(double frequency_hz);

}  // namespace ostrel::ui
