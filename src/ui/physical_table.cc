#include "ui/physical_table.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <unordered_map>

#include "base/name_patterns.h"
#include "base/stage_error.h"
#include "base/text.h"
#include "export/exports.h"
#include "physical/coupling.h"

namespace ostrel::ui {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Printed(const char* format, double value) {
  if (std::isnan(value)) return {};
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

StudyOptions StudyOf(const ViewOptions& view) {
  if (!(view.sweep_min_hz > 0) || !(view.sweep_max_hz > view.sweep_min_hz)) {
    throw StageError("the sweep needs 0 < lowest frequency < highest frequency");
  }
  if (view.sweep_points < 2 || view.sweep_points > 1000) {
    throw StageError("the sweep needs 2 to 1000 frequencies");
  }
  StudyOptions study;
  study.frequencies_hz = SweepFrequencies(view.sweep_min_hz, view.sweep_max_hz,
                                          static_cast<std::size_t>(view.sweep_points), true);
  study.with_settings_frequency = true;
  study.ground_depth_um = view.ground_depth_um;
  study.eps_r = view.eps_r;
  // The plan colours wires by their clearance to the nearest wire within this distance.
  study.nearest_within_um = 200;
  return study;
}

bool RowShown(const PhysicalTable& table, std::size_t row, const std::vector<RowFilter>& filters) {
  for (const RowFilter& filter : filters) {
    if (filter.text.empty()) continue;
    const std::string text = table.Text(row, filter.column);
    switch (filter.match) {
      case RowFilter::Match::kEqual:
        if (text != filter.text) return false;
        break;
      case RowFilter::Match::kNamePart: {
        const std::string name = UpperAscii(text), part = UpperAscii(filter.text);
        const bool pattern = part.find_first_of("*?") != std::string::npos;
        if (pattern ? !MatchesNetPattern(name, part) : name.find(part) == std::string::npos) {
          return false;
        }
        break;
      }
      case RowFilter::Match::kPatterns:
        if (!MatchesNetPattern(text, filter.text)) return false;
        break;
      case RowFilter::Match::kPrefix:
        if (text.compare(0, filter.text.size(), filter.text) != 0) return false;
        break;
    }
  }
  return true;
}

NetImpedanceText NetImpedanceTable(const physical::Model& model) {
  NetImpedanceText out;
  out.header = {
      "Net",         "Role",       "Wires", "Frequency", "R parallel (mΩ)", "L parallel (nH)",
      "R loop (mΩ)", "L loop (nH)"};
  for (const physical::NetImpedance& net : model.nets) {
    for (std::size_t f = 0; f < model.results.size() && f < net.parallel.size(); ++f) {
      std::vector<std::string> row = {net.net.name,
                                      RoleName(net.net.supply ? NetRole::kPower : NetRole::kGround),
                                      std::to_string(net.net.wires.size()),
                                      FrequencyLabel(model.results[f].frequency_hz),
                                      Printed("%.3f", net.parallel[f].resistance_ohm * 1e3),
                                      Printed("%.4f", net.parallel[f].inductance_h * 1e9),
                                      "",
                                      ""};
      if (f < net.supply_loop.size()) {
        row[6] = Printed("%.3f", net.supply_loop[f].resistance_ohm * 1e3);
        row[7] = Printed("%.4f", net.supply_loop[f].inductance_h * 1e9);
      }
      out.rows.push_back(std::move(row));
    }
  }
  return out;
}

NetImpedanceText PairFiguresTable(const physical::Model& model) {
  NetImpedanceText out;
  out.header = {"Pair",        "Z diff (Ω)", "Z odd (Ω)",   "Z even (Ω)", "L odd (nH)",
                "L even (nH)", "C odd (pF)", "C even (pF)", "Neighbour",  "k"};
  const auto name = [&](std::size_t wire) {
    return wire < model.conductors.size() ? model.conductors[wire].name : std::string();
  };
  const auto figure = [](const char* format, const std::optional<double>& value, double scale) {
    return value ? Printed(format, *value * scale) : std::string();
  };
  for (const physical::PairFigures& p : model.pairs) {
    out.rows.push_back(
        {name(p.wires.positive) + "/" + name(p.wires.negative), figure("%.1f", p.z_diff_ohm, 1),
         figure("%.1f", p.z_odd_ohm, 1), figure("%.1f", p.z_even_ohm, 1),
         Printed("%.3f", p.odd_inductance_h * 1e9), Printed("%.3f", p.even_inductance_h * 1e9),
         figure("%.4f", p.odd_capacitance_f, 1e12), figure("%.4f", p.even_capacitance_f, 1e12),
         p.neighbour ? name(*p.neighbour) : std::string(),
         p.neighbour ? Printed("%.3f", p.neighbour_k) : std::string()});
  }
  return out;
}

bool NaturalLess(std::string_view a, std::string_view b) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      // Two numbers: without leading zeros the shorter is smaller, else the first digit apart.
      std::size_t ei = i, ej = j;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      std::string_view x = a.substr(i, ei - i), y = b.substr(j, ej - j);
      x.remove_prefix(std::min(x.find_first_not_of('0'), x.size()));
      y.remove_prefix(std::min(y.find_first_not_of('0'), y.size()));
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      i = ei, j = ej;
      continue;
    }
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[j]));
    if (ca != cb) return ca < cb;
    ++i, ++j;
  }
  if ((i < a.size()) != (j < b.size())) return j < b.size();
  return a < b;
}

std::string WireCount(std::size_t wires) {
  return std::to_string(wires) + (wires == 1 ? " wire" : " wires");
}

std::string KindName(const Wire& wire) { return ostrel::KindName(KindOf(wire)); }

std::vector<DieSide> DieSides(const Package& package, const WireList& wires) {
  // Wires by (die, pad name); a name repeated on one die takes its wires in order.
  std::unordered_map<std::string, std::vector<std::size_t>> base, stacked;
  for (std::size_t i = wires.size(); i-- > 0;) {
    if (wires[i].StitchWire) continue;
    (wires[i].StackWire ? stacked : base)[wires[i].Name].push_back(i);
  }
  auto take = [](auto& by_name, const std::string& name, std::vector<std::size_t>& out) {
    auto it = by_name.find(name);
    if (it == by_name.end() || it->second.empty()) return;
    out.push_back(it->second.back());
    it->second.pop_back();
  };
  struct Edge {
    const char* letter;
    const char* name;
    const SideList* base_pads;
  };
  const Edge edges[] = {{"T", "top", &package.TopPads},
                        {"R", "right", &package.RightPads},
                        {"B", "bottom", &package.BottomPads},
                        {"L", "left", &package.LeftPads}};
  std::vector<DieSide> sides;
  for (const Edge& edge : edges) {
    DieSide side{std::string("Base die, ") + edge.name + " (" + edge.letter + ")", {}};
    for (const std::size_t pad : *edge.base_pads) {
      take(base, package.ChipPads[pad].Name, side.wires);
    }
    if (!side.wires.empty()) sides.push_back(std::move(side));
  }
  for (const Edge& edge : edges) {
    // Stacked-die pads are kept in file order: top and bottom go along X, left and right
    // along Y.
    std::vector<const BondPad*> pads;
    for (const BondPad& pad : package.StackPads) {
      const bool on_edge = pad.Side.size() == 1 &&
                           std::toupper(static_cast<unsigned char>(pad.Side[0])) == edge.letter[0];
      if (on_edge) pads.push_back(&pad);
    }
    const bool along_x = edge.letter[0] == 'T' || edge.letter[0] == 'B';
    std::stable_sort(pads.begin(), pads.end(), [along_x](const BondPad* a, const BondPad* b) {
      return along_x ? a->X < b->X : a->Y < b->Y;
    });
    DieSide side{std::string("Stacked die, ") + edge.name + " (" + edge.letter + ")", {}};
    for (const BondPad* pad : pads) take(stacked, pad->Name, side.wires);
    if (!side.wires.empty()) sides.push_back(std::move(side));
  }
  return sides;
}

std::vector<double> SideCoupling(const physical::SymmetricMatrix& loop_h,
                                 const std::vector<std::size_t>& wires) {
  return physical::CouplingsAmong(loop_h, wires);
}

PhysicalTable::PhysicalTable(physical::Model model, std::shared_ptr<const Estimation> estimation)
    : model_(std::move(model)),
      estimation_(std::move(estimation)),
      settings_frequency_hz_(static_cast<double>(estimation_->params.Frequency)) {
  const double settings_frequency_hz = settings_frequency_hz_;
  const std::size_t n = estimation_->wires.size();
  auto fits = [n](const auto& m) { return !m || m->n == n; };
  if (model_.conductors.size() != n || model_.loop_inductance_h.n != n ||
      !fits(model_.partial_inductance_h) || !fits(model_.capacitance_f) || model_.results.empty()) {
    throw StageError("the physical model does not hold the wires of the estimation");
  }
  for (const auto& result : model_.results) {
    if (result.resistance_ohm.size() != n || result.internal_inductance_h.size() != n) {
      throw StageError("the physical model lacks figures of some wires");
    }
  }
  // The result nearest the settings file's frequency on a log axis.
  auto distance = [&](const physical::FrequencyResult& r) {
    if (r.frequency_hz <= 0 || settings_frequency_hz <= 0) {
      return std::abs(r.frequency_hz - settings_frequency_hz);
    }
    return std::abs(std::log(r.frequency_hz / settings_frequency_hz));
  };
  for (std::size_t i = 1; i < model_.results.size(); ++i) {
    if (distance(model_.results[i]) < distance(model_.results[settings_index_])) {
      settings_index_ = i;
    }
  }

  nets_ = PackageNets(estimation_->package, estimation_->wires);
  net_of_ = NetOfEachWire(nets_, n);
  pair_of_.assign(n, model_.pairs.size());
  for (std::size_t p = 0; p < model_.pairs.size(); ++p) {
    for (const std::size_t wire :
         {model_.pairs[p].wires.positive, model_.pairs[p].wires.negative}) {
      if (wire >= n) throw StageError("the physical model pairs a wire the estimation lacks");
      pair_of_[wire] = p;
    }
  }
  columns_ = {Column::kName, Column::kKind, Column::kNet, Column::kRole};
  if (!model_.pairs.empty()) columns_.push_back(Column::kPair);
  columns_.insert(columns_.end(), {Column::kLength, Column::kResistanceDc, Column::kResistance});
  if (model_.partial_inductance_h) columns_.push_back(Column::kPartial);
  columns_.insert(columns_.end(), {Column::kLoop, Column::kReportDc, Column::kReportAc,
                                   Column::kReportSelf, Column::kReportMutual});
  if (model_.capacitance_f) columns_.push_back(Column::kCapacitance);
  columns_.insert(columns_.end(), {Column::kNeighbour, Column::kCoupling});

  // Each wire's strongest loop neighbour: the largest |k| in its row.
  neighbour_.assign(n, -1);
  neighbour_k_.assign(n, kNaN);
  loop_diagonal_ = physical::Diagonal(model_.loop_inductance_h);
  if (model_.partial_inductance_h)
    partial_diagonal_ = physical::Diagonal(*model_.partial_inductance_h);
  if (model_.capacitance_f) capacitance_diagonal_ = physical::Diagonal(*model_.capacitance_f);
  const std::vector<physical::Neighbour> strongest =
      physical::StrongestNeighbours(model_.loop_inductance_h);
  for (std::size_t i = 0; i < n; ++i) {
    if (strongest[i].index >= n) continue;
    neighbour_[i] = static_cast<int>(strongest[i].index);
    neighbour_k_[i] = strongest[i].k;
  }
}

std::string PhysicalTable::Header(Column column) const {
  const std::string at = " @ " + FrequencyLabel(settings_frequency_hz_);
  switch (column) {
    case Column::kName:
      return "Wire";
    case Column::kKind:
      return "Kind";
    case Column::kNet:
      return "Net";
    case Column::kRole:
      return "Role";
    case Column::kPair:
      return "Pair";
    case Column::kLength:
      return "Length (µm)";
    case Column::kResistanceDc:
      return "R DC (mΩ)";
    case Column::kResistance:
      return "R" + at + " (mΩ)";
    case Column::kPartial:
      return "L partial" + at + " (nH)";
    case Column::kLoop:
      return "L loop" + at + " (nH)";
    case Column::kReportDc:
      return "Report L DC (nH)";
    case Column::kReportAc:
      return "Report L AC (nH)";
    case Column::kReportSelf:
      return "Report L Self (nH)";
    case Column::kReportMutual:
      return "Report L Mutual (nH)";
    case Column::kCapacitance:
      return "C (pF)";
    case Column::kNeighbour:
      return "Neighbour (strongest k)";
    case Column::kCoupling:
      return "k (loop)";
  }
  return {};
}

std::string PhysicalTable::CsvName(Column column) {
  switch (column) {
    case Column::kName:
      return "name";
    case Column::kKind:
      return "kind";
    case Column::kNet:
      return "net";
    case Column::kRole:
      return "role";
    case Column::kPair:
      return "pair";
    case Column::kLength:
      return "length_um";
    case Column::kResistanceDc:
      return "resistance_dc_mohm";
    case Column::kResistance:
      return "resistance_mohm";
    case Column::kPartial:
      return "inductance_partial_nh";
    case Column::kLoop:
      return "inductance_loop_nh";
    case Column::kReportDc:
      return "report_inductance_dc_nh";
    case Column::kReportAc:
      return "report_inductance_ac_nh";
    case Column::kReportSelf:
      return "report_inductance_self_nh";
    case Column::kReportMutual:
      return "report_inductance_mutual_nh";
    case Column::kCapacitance:
      return "capacitance_pf";
    case Column::kNeighbour:
      return "strongest_neighbour";
    case Column::kCoupling:
      return "coupling_k";
  }
  return {};
}

double PhysicalTable::Value(std::size_t row, Column column) const {
  const physical::Conductor& c = model_.conductors[row];
  const Wire& w = wires()[row];
  const physical::FrequencyResult& at = model_.results[settings_index_];
  switch (column) {
    case Column::kName:
    case Column::kKind:
    case Column::kNet:
    case Column::kRole:
    case Column::kPair:
    case Column::kNeighbour:
      return kNaN;
    case Column::kLength:
      return c.length_m * 1e6;
    // R_dc = rho l / (pi a^2), mOhm
    case Column::kResistanceDc:
      return ostrel::physical::DcResistanceOhm(c) * 1e3;
    // R(f) with the wire's own proximity term over the plane, as --physical-table gives it.
    case Column::kResistance:
      return physical::ResistanceOhm(at, at.proximity_loop, row) * 1e3;
    // A wire's total self inductance at f: the external matrix diagonal plus L_int(f) and its
    // own proximity term of the same kind, nH.
    case Column::kPartial:
      if (!model_.partial_inductance_h) return kNaN;
      return physical::SelfInductanceH(partial_diagonal_[row], at, at.proximity_partial, row) * 1e9;
    case Column::kLoop:
      return physical::SelfInductanceH(loop_diagonal_[row], at, at.proximity_loop, row) * 1e9;
    case Column::kReportDc:
      return static_cast<double>(w.InductanceDC);
    case Column::kReportAc:
      return static_cast<double>(w.InductanceAC);
    case Column::kReportSelf:
      return static_cast<double>(w.InductanceSelf);
    case Column::kReportMutual:
      return static_cast<double>(w.InductanceMutual);
    case Column::kCapacitance:
      return model_.capacitance_f ? capacitance_diagonal_[row] * 1e12 : kNaN;
    case Column::kCoupling:
      return neighbour_k_[row];
  }
  return kNaN;
}

std::string PhysicalTable::Text(std::size_t row, Column column) const {
  switch (column) {
    case Column::kName:
      return wires()[row].Name;
    case Column::kKind:
      return KindName(wires()[row]);
    case Column::kNet:
      return NetOf(row).name;
    case Column::kRole:
      return RoleName(NetOf(row).role);
    case Column::kPair: {
      const std::size_t p = pair_of_[row];
      if (p >= model_.pairs.size()) return {};
      return PairName(p) + (model_.pairs[p].wires.positive == row ? " P" : " N");
    }
    case Column::kNeighbour:
      return neighbour_[row] < 0 ? std::string()
                                 : wires()[static_cast<std::size_t>(neighbour_[row])].Name;
    case Column::kLength:
      return Printed("%.1f", Value(row, column));
    case Column::kResistanceDc:
    case Column::kResistance:
      return Printed("%.2f", Value(row, column));
    case Column::kCoupling:
      return Printed("%.3f", Value(row, column));
    default:
      return Printed("%.4f", Value(row, column));
  }
}

std::string PhysicalTable::Tsv(const std::vector<std::size_t>& rows) const {
  std::string out;
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    if (c) out += '\t';
    out += Header(columns_[c]);
  }
  out += '\n';
  for (std::size_t row : rows) {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      if (c) out += '\t';
      out += Text(row, columns_[c]);
    }
    out += '\n';
  }
  return out;
}

std::string PhysicalTable::Csv(const std::vector<std::size_t>& rows) const {
  // Names hold no comma or quote in a package file's fields except stitch names' colon, which
  // needs no quoting; a name is still quoted when it holds one.
  auto field = [](const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char ch : text) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    return quoted + "\"";
  };
  std::string out = "# frequency_hz=" + Printed("%.17g", settings_frequency_hz_) +
                    // Twelve digits: the depth as entered, not the last bits of its metres.
                    ",ground_depth_um=" + Printed("%.12g", model_.options.ground_depth_m * 1e6) +
                    "\n";
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    if (c) out += ',';
    out += CsvName(columns_[c]);
  }
  out += '\n';
  for (std::size_t row : rows) {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const double value = Value(row, columns_[c]);
      if (c) out += ',';
      out += std::isnan(value) ? field(Text(row, columns_[c])) : Printed("%.9g", value);
    }
    out += '\n';
  }
  return out;
}

std::string PhysicalTable::PairName(std::size_t pair) const {
  const physical::WirePair& p = model_.pairs[pair].wires;
  return wires()[p.positive].Name + "/" + wires()[p.negative].Name;
}

void PhysicalTable::SetNearestClearance(const std::vector<double>& metres) {
  nearest_clearance_um_.clear();
  if (metres.size() != RowCount()) return;  // not of these wires: none shown
  for (double m : metres) nearest_clearance_um_.push_back(m * 1e6);
}

WireSweep PhysicalTable::Sweep(std::size_t row) const {
  WireSweep sweep;
  const double loop_h = loop_diagonal_[row];
  for (const auto& result : model_.results) {
    sweep.frequency_hz.push_back(result.frequency_hz);
    sweep.resistance_mohm.push_back(physical::ResistanceOhm(result, result.proximity_loop, row) *
                                    1e3);
    sweep.loop_nh.push_back(physical::SelfInductanceH(loop_h, result, result.proximity_loop, row) *
                            1e9);
    if (model_.partial_inductance_h) {
      sweep.partial_nh.push_back(
          physical::SelfInductanceH(partial_diagonal_[row], result, result.proximity_partial, row) *
          1e9);
    }
  }
  return sweep;
}

std::string FrequencyLabel(double frequency_hz) {
  if (frequency_hz <= 0) return "DC";
  static constexpr std::pair<double, const char*> kUnits[] = {
      {1e9, "GHz"}, {1e6, "MHz"}, {1e3, "kHz"}, {1, "Hz"}};
  for (const auto& [scale, unit] : kUnits) {
    if (frequency_hz >= scale || scale == 1) {
      return Printed("%.4g", frequency_hz / scale) + " " + unit;
    }
  }
  return {};
}

}  // namespace ostrel::ui
