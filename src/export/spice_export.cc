// The SPICE subcircuit of a package's bond wires.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "base/name_patterns.h"
#include "base/stage_error.h"
#include "base/text.h"
#include "export/exports.h"
#include "export/ladder_elements.h"
#include "export/physical_export.h"
#include "physical/coupling.h"
#include "physical/internal_ladder.h"
#include "physical/port_network.h"
#include "physical/positive_definite.h"

namespace ostrel {
namespace {

// Largest coupling coefficient written: a simulator rejects |k| >= 1.
constexpr double kMaxCoupling = 0.99;
// Smallest Cholesky pivot of the unit-diagonal coupling matrix that a side may keep; the margin
// covers the rounding of the written coefficients.
constexpr double kMinPivot = 1e-3;

// Lower-case letters, digits and '_' only; anything else becomes '_'. SPICE names ignore letter
// case, so lower-casing shows which names a simulator would take as one.
std::string SanitisedName(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c - 'A' + 'a');
    } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') {
      out += c;
    } else {
      out += '_';
    }
  }
  return out.empty() ? std::string("_") : out;
}

// Hands out names that no earlier call has handed out, suffixing _2, _3, ... where needed.
class UniqueNames {
 public:
  std::string Take(const std::string& wanted) {
    std::string name = wanted;
    for (int n = 2; used_.count(name) != 0; ++n) name = wanted + "_" + std::to_string(n);
    used_.insert(name);
    return name;
  }

 private:
  std::set<std::string> used_;
};

std::string DoubleText(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

float ChosenInductance(const Wire& w, SpiceInductance which) {
  switch (which) {
    case SpiceInductance::kDc:
      return w.InductanceDC;
    case SpiceInductance::kSelf:
      return w.InductanceSelf;
    case SpiceInductance::kAc:
    case SpiceInductance::kLoop:
    case SpiceInductance::kPartial:
      break;
  }
  return w.InductanceAC;
}

const char* InductanceName(SpiceInductance which) {
  switch (which) {
    case SpiceInductance::kDc:
      return "DC";
    case SpiceInductance::kSelf:
      return "self";
    case SpiceInductance::kLoop:
      return "loop";
    case SpiceInductance::kPartial:
      return "partial";
    case SpiceInductance::kAc:
      break;
  }
  return "AC";
}

// A pad as a node owner: which die list and which record; stitch ends naming no pad get their
// own owner by name.
using PadKey = std::pair<int, std::string>;  // {0: base die, 1: stacked die, 2: none}, index/name

// A die side whose neighbouring wires are coupled: its wires in order along the edge.
struct CouplingSide {
  std::string Label;
  std::vector<std::size_t> Wires;
};

// Pads of one stacked-die side in order along the edge: by X for T and B, by Y for L and R
// (file order among equal keys).
std::vector<std::size_t> StackSide(const Package& package, const std::string& side) {
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < package.StackPads.size(); ++i) {
    if (UpperAscii(package.StackPads[i].Side) == side) order.push_back(i);
  }
  const bool by_x = side == "T" || side == "B";
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const BondPad& pa = package.StackPads[a];
    const BondPad& pb = package.StackPads[b];
    return by_x ? pa.X < pb.X : pa.Y < pb.Y;
  });
  return order;
}

std::vector<CouplingSide> CouplingSides(const Package& package,
                                        const std::vector<WireOrigin>& origins) {
  std::map<std::size_t, std::size_t> chip_wire, stack_wire;  // pad index -> wire index
  for (std::size_t w = 0; w < origins.size(); ++w) {
    if (origins[w].Kind == WireKind::kBaseDie) chip_wire[origins[w].Index] = w;
    if (origins[w].Kind == WireKind::kStackedDie) stack_wire[origins[w].Index] = w;
  }
  std::vector<CouplingSide> sides;
  // Base die: the ordered side lists index the pads.
  const std::pair<const char*, const SideList*> base_sides[] = {
      {"base-die side L", &package.LeftPads},
      {"base-die side B", &package.BottomPads},
      {"base-die side R", &package.RightPads},
      {"base-die side T", &package.TopPads}};
  for (const auto& [label, list] : base_sides) {
    CouplingSide side{label, {}};
    for (const std::size_t pad : *list) {
      if (const auto it = chip_wire.find(pad); it != chip_wire.end()) {
        side.Wires.push_back(it->second);
      }
    }
    sides.push_back(std::move(side));
  }
  for (const char* letter : {"L", "B", "R", "T"}) {
    CouplingSide side{std::string("stacked-die side ") + letter, {}};
    for (const std::size_t i : StackSide(package, letter)) {
      if (const auto it = stack_wire.find(i); it != stack_wire.end()) {
        side.Wires.push_back(it->second);
      }
    }
    sides.push_back(std::move(side));
  }
  return sides;
}

}  // namespace

bool ParseSpiceInductance(std::string_view text, SpiceInductance& out) {
  const std::string upper = UpperAscii(text);
  if (upper == "DC") {
    out = SpiceInductance::kDc;
  } else if (upper == "AC") {
    out = SpiceInductance::kAc;
  } else if (upper == "SELF") {
    out = SpiceInductance::kSelf;
  } else if (upper == "LOOP") {
    out = SpiceInductance::kLoop;
  } else if (upper == "PARTIAL") {
    out = SpiceInductance::kPartial;
  } else {
    return false;
  }
  return true;
}

namespace {

// One wire as a branch of the subcircuit: its element names' token and its nodes.
struct Branch {
  std::string token, start, end, middle;  // middle: between R and L; empty without R
  // A branch cut into sections: the nodes between them (x_<wire>_<s>) and in each between its
  // ladder and its inductor (m_<wire>_<s>); empty for one section.
  std::vector<std::string> joints, middles;

  // The nodes from start to end: start, the joints, end.
  std::vector<std::string> Nodes() const {
    std::vector<std::string> nodes{start};
    nodes.insert(nodes.end(), joints.begin(), joints.end());
    nodes.push_back(end);
    return nodes;
  }
};

// Element token of section s (0-based) of `sections`: the wire's own for one section.
std::string SectionToken(const std::string& token, std::size_t s, std::size_t sections) {
  return sections == 1 ? token : token + "_" + std::to_string(s + 1);
}

// The branches of every wire and the subcircuit's ports in order. Nodes: one per pad that a
// wire or stitch touches, one per finger, one inside each wire with a resistance.
struct Branches {
  std::vector<Branch> wires;
  std::vector<std::string> ports;
};

Branches WireBranches(const Package& package, const std::vector<WireOrigin>& origins,
                      const std::vector<bool>& with_resistance, std::size_t sections = 1) {
  UniqueNames node_names;
  std::map<PadKey, std::string> pad_nodes;
  auto pad_node = [&](const PadKey& key, const std::string& pad_name) -> const std::string& {
    auto it = pad_nodes.find(key);
    if (it == pad_nodes.end()) {
      it = pad_nodes.emplace(key, node_names.Take("p_" + SanitisedName(pad_name))).first;
    }
    return it->second;
  };
  // First pad of each name, per die.
  std::map<std::string, std::size_t> by_name[2];
  for (std::size_t i = 0; i < package.ChipPads.size(); ++i) {
    by_name[0].try_emplace(package.ChipPads[i].Name, i);
  }
  for (std::size_t i = 0; i < package.StackPads.size(); ++i) {
    by_name[1].try_emplace(package.StackPads[i].Name, i);
  }
  // A stitch starts on the stacked die and lands on the base die; a name found only on the
  // other die is taken from there.
  auto stitch_end = [&](const std::string& name, bool starts) -> std::string {
    const int first_die = starts ? 1 : 0;
    for (const int die : {first_die, 1 - first_die}) {
      if (const auto it = by_name[die].find(name); it != by_name[die].end()) {
        return pad_node({die, std::to_string(it->second)}, name);
      }
    }
    return pad_node({2, name}, name);
  };

  Branches result;
  UniqueNames wire_tokens;
  std::set<std::string> port_set;
  auto add_port = [&](const std::string& node) {
    if (port_set.insert(node).second) result.ports.push_back(node);
  };
  for (std::size_t w = 0; w < origins.size(); ++w) {
    const WireOrigin& o = origins[w];
    Branch b;
    if (o.Kind == WireKind::kStitch) {
      const Stitch& s = package.Stitches[o.Index];
      b.token = wire_tokens.Take(SanitisedName(s.Pad1) + "_" + SanitisedName(s.Pad2));
      b.start = stitch_end(s.Pad1, true);
      b.end = stitch_end(s.Pad2, false);
    } else {
      const bool stacked = o.Kind == WireKind::kStackedDie;
      const BondPad& pad = (stacked ? package.StackPads : package.ChipPads)[o.Index];
      b.token = wire_tokens.Take(SanitisedName(pad.Name));
      b.start = pad_node({stacked ? 1 : 0, std::to_string(o.Index)}, pad.Name);
      b.end = node_names.Take("f_" + SanitisedName(pad.Name));
    }
    if (sections > 1) {
      for (std::size_t k = 1; k <= sections; ++k) {
        const std::string at = b.token + "_" + std::to_string(k);
        if (with_resistance[w]) b.middles.push_back(node_names.Take("m_" + at));
        if (k < sections) b.joints.push_back(node_names.Take("x_" + at));
      }
    } else if (with_resistance[w]) {
      b.middle = node_names.Take("m_" + b.token);
    }
    add_port(b.start);
    add_port(b.end);
    result.wires.push_back(std::move(b));
  }
  return result;
}

// The subcircuit's name: the package file's stem and "_bondwires".
std::string SubcircuitName(const ExportHeader& header) {
  const std::string stem = header.PackageName.substr(0, header.PackageName.rfind('.'));
  return SanitisedName(stem.empty() ? "package" : stem) + "_bondwires";
}

// The .subckt line with its ports, continued on "+" lines within 100 columns.
void AppendSubcircuitLine(std::string& out, const std::string& name,
                          const std::vector<std::string>& ports) {
  out += ".subckt " + name;
  std::size_t column = out.size() - out.rfind('\n');
  for (const std::string& port : ports) {
    if (column + port.size() + 1 > 100) {
      out += "\n+";
      column = 1;
    }
    out += " " + port;
    column += port.size() + 1;
  }
  out += "\n";
}

// A wire's elements: R (when it has a middle node) in series with L, values with their SPICE
// scale suffix ("125.6m", "0.78n").
void AppendBranch(std::string& out, const Branch& b, const std::string& r_text,
                  const std::string& l_text) {
  if (b.middle.empty()) {
    out += "L_" + b.token + " " + b.start + " " + b.end + " " + l_text + "\n";
  } else {
    out += "R_" + b.token + " " + b.start + " " + b.middle + " " + r_text + "\n";
    out += "L_" + b.token + " " + b.middle + " " + b.end + " " + l_text + "\n";
  }
}

}  // namespace

SpiceNetlist SpiceText(const ExportHeader& header, const Package& package, const WireList& wires,
                       SpiceInductance inductance) {
  if (inductance == SpiceInductance::kLoop || inductance == SpiceInductance::kPartial) {
    throw StageError("the loop inductances come from the physical model of the wires");
  }
  const std::vector<WireOrigin> origins = WireOrigins(package, wires);
  SpiceNetlist result;
  std::vector<bool> with_resistance;
  for (const Wire& wire : wires) {
    const float l_nh = ChosenInductance(wire, inductance);
    if (!(l_nh > 0)) {
      throw StageError("wire " + wire.Name + ": its " + InductanceName(inductance) +
                       " inductance " + RoundTripText(l_nh) +
                       " nH is not positive, which a SPICE inductor cannot take");
    }
    with_resistance.push_back(wire.Resistance != 0);
  }
  const Branches circuit = WireBranches(package, origins, with_resistance);
  const std::vector<Branch>& branches = circuit.wires;

  // Couplings between neighbours along each die side.
  struct Coupled {
    std::size_t a, b;
    double k;
  };
  std::vector<Coupled> couplings;
  for (const CouplingSide& side : CouplingSides(package, origins)) {
    std::vector<physical::Coupling> pairs;
    std::size_t limited = 0;
    double largest = 0;
    std::string largest_pair;
    for (std::size_t n = 0; n + 1 < side.Wires.size(); ++n) {
      const Wire& w1 = wires[side.Wires[n]];
      const Wire& w2 = wires[side.Wires[n + 1]];
      // The two wires' mutual figures are each for a partner of their own length; the
      // shorter one bounds what the pair shares.
      const double m = std::min(w1.InductanceMutual, w2.InductanceMutual);
      if (!(m > 0)) continue;
      const double l1 = ChosenInductance(w1, inductance);
      const double l2 = ChosenInductance(w2, inductance);
      double k = physical::CouplingCoefficient(m, l1, l2);  // k = M / sqrt(L1 L2)
      if (k > kMaxCoupling) {
        if (k > largest) largest = k, largest_pair = w1.Name + " and " + w2.Name;
        ++limited;
        k = kMaxCoupling;
      }
      pairs.push_back({n, n + 1, k});
    }
    if (limited > 0) {
      result.Notes.push_back("couplings of " + side.Label + " limited to " +
                             DoubleText(kMaxCoupling) + " for " + std::to_string(limited) +
                             (limited == 1 ? " pair" : " pairs") + " (largest " +
                             FormatGeneral(largest, 4) + ", wires " + largest_pair + ")");
    }
    if (pairs.empty()) continue;
    const double scale = physical::PositiveDefiniteScale(side.Wires.size(), pairs, kMinPivot,
                                                         physical::PivotOrder::kAsGiven);
    if (scale < 1.0) {
      result.Notes.push_back("couplings of " + side.Label + " scaled by " +
                             FormatGeneral(scale, 4) +
                             " to keep the inductance matrix positive definite");
    }
    for (const physical::Coupling& c : pairs) {
      couplings.push_back({side.Wires[c.i], side.Wires[c.j], c.k * scale});
    }
  }

  const ParameterSet& p = header.Params;
  const std::string subckt = SubcircuitName(header);
  std::string& out = result.Text;
  out += "* Bond wires of " + header.PackageName + " (settings " + header.SettingsName +
         "), estimated by Ostrel\n";
  out += "* Material " + p.Material + ", wire diameter " + RoundTripText(p.WireDiameter) +
         " mils, frequency " + RoundTripText(p.Frequency) + " Hz, wire distance " +
         RoundTripText(p.WireDistance) + " um\n";
  out += "* Each wire: its resistance in series with its " +
         std::string(InductanceName(inductance)) + " inductance, from its start pad node p_<pad>\n";
  out += "* to its finger node f_<pad>; a stitch wire runs between the nodes of its two pads.\n";
  out += "* K: neighbouring wires along one die side, k = M / sqrt(L1 L2), M the smaller mutual\n";
  out += "* inductance of the pair.\n";
  AppendSubcircuitLine(out, subckt, circuit.ports);
  for (std::size_t w = 0; w < branches.size(); ++w) {
    out += "* " + std::string(KindName(origins[w].Kind)) + " wire " + wires[w].Name + "\n";
    AppendBranch(out, branches[w], RoundTripText(wires[w].Resistance) + "m",
                 RoundTripText(ChosenInductance(wires[w], inductance)) + "n");
  }
  UniqueNames coupling_names;
  for (const Coupled& c : couplings) {
    const std::string& a = branches[c.a].token;
    const std::string& b = branches[c.b].token;
    out += coupling_names.Take("K_" + a + "__" + b) + " L_" + a + " L_" + b + " " +
           DoubleText(c.k) + "\n";
  }
  out += ".ends " + subckt + "\n";
  return result;
}

namespace {

// The wires of the loop netlist: all, or those whose names match `nets`.
std::vector<bool> SelectedWires(const WireList& wires, std::string_view nets) {
  const std::size_t n = wires.size();
  std::vector<bool> keep(n, true);
  if (!nets.empty()) {
    std::vector<std::string> names;
    for (const Wire& wire : wires) names.push_back(wire.Name);
    CheckNetPatterns(names, nets);
    for (std::size_t w = 0; w < n; ++w) keep[w] = MatchesNetPattern(wires[w].Name, nets);
  }
  return keep;
}

// Each wire's branch of the loop netlist and its figures at the model's first frequency.
struct LoopBranches {
  // Coincident wires (k = 1, which no K element holds) are one branch: the first wire of the
  // group carries the group's wires in parallel, the others add no element of their own.
  std::vector<std::size_t> branch_of, in_parallel;
  // Each inductor: the loop inductance over the plane plus the internal inductance at f (of
  // its wires in parallel: the external part is shared, the internal part divides).
  std::vector<double> external_h, inductor_h, resistance_ohm;
  std::vector<bool> with_resistance;
};

LoopBranches LoopBranchFigures(const WireList& wires, const physical::Model& model,
                               const physical::SymmetricMatrix& external, bool broadband,
                               const physical::SymmetricMatrix* added_resistance) {
  const std::size_t n = wires.size();
  const physical::FrequencyResult& first = model.results.front();
  LoopBranches b;
  b.branch_of.resize(n);
  b.in_parallel.assign(n, 1);
  for (std::size_t w = 0; w < n; ++w) b.branch_of[w] = w;
  for (const auto& group : model.coincident) {
    for (std::size_t w : group) b.branch_of[w] = group.front();
    b.in_parallel[group.front()] = group.size();
  }
  b.external_h.resize(n);
  b.inductor_h.resize(n);
  b.resistance_ohm.resize(n);
  b.with_resistance.resize(n);
  for (std::size_t w = 0; w < n; ++w) {
    const auto parallel = static_cast<double>(b.in_parallel[w]);
    b.external_h[w] = external.At(w, w);
    b.resistance_ohm[w] =
        first.resistance_ohm[w] / parallel + (added_resistance ? added_resistance->At(w, w) : 0.0);
    b.inductor_h[w] =
        b.external_h[w] + (broadband ? 0.0 : first.internal_inductance_h[w] / parallel);
    if (!(b.external_h[w] > 0 && b.inductor_h[w] > 0)) {
      throw StageError("wire " + wires[w].Name + ": its loop inductance " +
                       DoubleText(b.inductor_h[w] * 1e9) +
                       " nH is not positive, which a SPICE inductor cannot take");
    }
    b.with_resistance[w] = first.resistance_ohm[w] != 0;
  }
  return b;
}

// Broadband: each kept branch's ladder, fitted up to the model's top frequency to its internal
// impedance and the own terms of the loop proximity correction (physical::FitBranchLadders); the
// ladder's series inductance (0 or below) joins the branch's inductor.
physical::BranchLadders FitLadders(const WireList& wires, const physical::Model& model,
                                   LoopBranches& b, const std::vector<bool>& keep, bool broadband,
                                   bool partial) {
  std::vector<std::size_t> fitted(model.conductors.size(), 0);
  for (std::size_t w = 0; w < fitted.size() && broadband; ++w) {
    if (keep[w] && b.branch_of[w] == w && b.with_resistance[w]) fitted[w] = b.in_parallel[w];
  }
  physical::BranchLadders ladders = physical::FitBranchLadders(model, fitted, 0.005, partial);
  for (std::size_t w = 0; w < fitted.size(); ++w) {
    if (fitted[w] == 0) continue;
    b.inductor_h[w] += ladders.of_wire[w].series_inductance_h;
    if (!(b.inductor_h[w] > 0)) {
      throw StageError("wire " + wires[w].Name + ": its loop inductance " +
                       DoubleText(b.inductor_h[w] * 1e9) +
                       " nH with the fall by close wires is not positive, which a SPICE inductor "
                       "cannot take");
    }
  }
  return ladders;
}

// Couplings between kept branches whose external k reaches the cut-off, written as
// k = M / sqrt(L1 L2) of the inductors.
std::vector<physical::Coupling> LoopCouplings(const physical::Model& model,
                                              const physical::SymmetricMatrix& external,
                                              const LoopBranches& b,
                                              const std::vector<bool>& keep) {
  std::vector<physical::Coupling> pairs;
  physical::ForEachOffDiagonal(external, [&](std::size_t i, std::size_t j, double m_h) {
    if (m_h == 0 || !keep[i] || !keep[j]) return;
    if (b.branch_of[i] != i || b.branch_of[j] != j) return;  // held by the group's branch
    if (std::abs(physical::CouplingCoefficient(m_h, b.external_h[i], b.external_h[j])) <
        model.options.coupling_cutoff) {
      return;
    }
    pairs.push_back({std::min(i, j), std::max(i, j),
                     physical::CouplingCoefficient(m_h, b.inductor_h[i], b.inductor_h[j])});
  });
  return pairs;
}

// The subcircuit's ports: those of the kept wires, then `references` (the plane as "ref", or the
// die's and the substrate's ground; node names start with p_, f_, m_ or x_, so these are free).
// With `signals_only`, the ground wires' ends are joined to the references, not ports.
std::vector<std::string> LoopPorts(const Branches& circuit, const std::vector<bool>& keep, bool all,
                                   const std::vector<bool>& signal,
                                   const std::vector<std::string>& references) {
  std::vector<std::string> ports = circuit.ports;
  if (!all || (!references.empty() && references.front() != "ref")) {
    std::set<std::string> used;
    for (std::size_t w = 0; w < keep.size(); ++w) {
      if (keep[w] && signal[w]) used.insert({circuit.wires[w].start, circuit.wires[w].end});
    }
    std::erase_if(ports, [&](const std::string& port) { return used.count(port) == 0; });
  }
  ports.insert(ports.end(), references.begin(), references.end());
  return ports;
}

void AppendLoopHeading(std::string& out, const ExportHeader& header, const physical::Model& model,
                       bool broadband, const physical::BranchLadders& ladders, std::size_t sections,
                       bool partial, const std::string& ground_wires) {
  const std::string kind = partial ? "partial" : "loop";
  const ParameterSet& p = header.Params;
  out += "* Bond wires of " + header.PackageName + " (settings " + header.SettingsName +
         "), physical model by Ostrel\n";
  out += "* Material " + p.Material + ", wire diameter " + RoundTripText(p.WireDiameter) +
         " mils; ground plane " + DoubleText(model.options.ground_depth_m / 1e-6) +
         " um below the substrate surface\n";
  if (broadband) {
    out += sections == 1
               ? std::string("* Each wire: an R-L ladder")
               : "* Each wire: " + std::to_string(sections) + " equal sections, each an R-L ladder";
    out += " (R0 its DC resistance, rungs RS || LS) in series\n";
    out +=
        "* with its share of the " + kind + " inductance; the ladder fitted to R(f) + dR(f) and\n";
    out += "* L_int(f) + dL(f), the internal impedance and the wire's own change by close wires,\n";
    out += "* from DC to " + DoubleText(ladders.top_hz) + " Hz within " +
           FormatGeneral(100 * ladders.max_error, 2) +
           "%. Left out: the mutual resistance of close wires\n";
    out += "* (the off-diagonal dR of the " + kind +
           " proximity correction), which R, L and K cannot hold.\n";
    out += "* Each section's inductor carries its share of the " + kind;
    out += sections == 1 ? "\n" : " (sections x_<pad>_<k> apart)\n";
  } else {
    out += "* Each wire: its resistance and internal inductance at " +
           DoubleText(model.results.front().frequency_hz) + " Hz in series with its " + kind + "\n";
  }
  if (!partial) {
    out +=
        "* inductance over the plane, from its start pad node p_<pad> to its finger node "
        "f_<pad>.\n";
    out += "* Every node is taken against the plane, port ref, through which each loop returns.\n";
  } else {
    out +=
        "* inductance, the wire alone (no plane, no posts), from its start pad node p_<pad> to\n";
    out += "* its finger node f_<pad>, for joining to a model of the substrate.\n";
    if (!ground_wires.empty()) {
      out += "* The current returns through the ground wires" + ground_wires + ": their pad ends\n";
      out += "* joined to gnd_die (the die's ground, the ports' reference), their finger ends to\n";
      out += "* gnd_sub (the substrate's ground)";
      out += broadband && model.capacitance_f ? ", which holds the plane of the capacitances.\n"
                                              : ".\n";
    } else if (broadband && model.capacitance_f) {
      out += "* The capacitances are taken against the plane, port ref.\n";
    }
  }
  out += "* K: " + kind + " couplings with |M| / sqrt(L1 L2) of the " + kind +
         " inductances at least " + DoubleText(model.options.coupling_cutoff) + ",\n";
  out += "* written as k = M / sqrt(L1 L2) of the inductors.\n";
}

// Each kept wire's elements: its branch (a ladder or R, then L), or for a wire of a coincident
// group the zero-volt sources that join its ends to the group's branch.
void AppendLoopBranches(std::string& out, const WireList& wires,
                        const std::vector<WireOrigin>& origins, const Branches& circuit,
                        const LoopBranches& b, const physical::BranchLadders& ladders,
                        const std::vector<bool>& keep, bool broadband, std::size_t sections) {
  for (std::size_t w = 0; w < wires.size(); ++w) {
    if (!keep[w]) continue;
    const std::size_t branch = b.branch_of[w];
    if (branch != w) {
      const Branch &own = circuit.wires[w], &group = circuit.wires[branch];
      out += "* " + std::string(KindName(origins[w].Kind)) + " wire " + wires[w].Name +
             ": in parallel with " + wires[branch].Name + " along one path\n";
      if (own.start != group.start) {
        out += "V_" + own.token + "_p " + own.start + " " + group.start + " 0\n";
      }
      if (own.end != group.end)
        out += "V_" + own.token + "_f " + own.end + " " + group.end + " 0\n";
      continue;
    }
    out += "* " + std::string(KindName(origins[w].Kind)) + " wire " + wires[w].Name +
           (b.in_parallel[w] > 1 ? ", " + std::to_string(b.in_parallel[w]) + " wires in parallel"
                                 : "") +
           "\n";
    if (broadband) {
      // Each section: 1 / sections of the ladder and of the inductor.
      const Branch& own = circuit.wires[w];
      const std::vector<std::string> nodes = own.Nodes();
      const double share = 1.0 / static_cast<double>(sections);
      const physical::InternalLadder ladder = physical::LadderOfLength(ladders.of_wire[w], share);
      for (std::size_t s = 0; s < sections; ++s) {
        const std::string token = SectionToken(own.token, s, sections);
        const std::string l_text = DoubleText(b.inductor_h[w] * share * 1e9) + "n\n";
        if (!b.with_resistance[w]) {
          out += "L_" + token + " " + nodes[s] + " " + nodes[s + 1] + " " + l_text;
          continue;
        }
        const std::string& middle = sections == 1 ? own.middle : own.middles[s];
        AppendLadderElements(out, ladder, token, nodes[s], middle);
        out += "L_" + token + " " + middle + " " + nodes[s + 1] + " " + l_text;
      }
      continue;
    }
    AppendBranch(out, circuit.wires[w], DoubleText(b.resistance_ohm[w] * 1e3) + "m",
                 DoubleText(b.inductor_h[w] * 1e9) + "n");
  }
}

// The Maxwell matrix C over the sections of every wire: at each node of a wire its share of the
// wire's row sum to the plane and of -C_ij to the node of wire j at the same place; a share is
// 1 / sections, half of it at the two ends.
void AppendMaxwellCapacitance(std::string& out, const physical::SymmetricMatrix& cap,
                              const Branches& circuit, const LoopBranches& b,
                              const std::vector<bool>& keep, UniqueNames& element_names,
                              std::size_t sections, const std::string& plane) {
  const std::size_t n = cap.n;
  out += sections == 1
             ? "* Capacitance: half of the Maxwell matrix at each end of every wire (pF)\n"
             : "* Capacitance: the Maxwell matrix over the " + std::to_string(sections) +
                   " sections of every wire, 1/" + std::to_string(sections) +
                   " at each joint, half that at each end (pF)\n";
  const double m = static_cast<double>(sections);
  auto share = [&](std::size_t node) { return node == 0 || node == sections ? 0.5 / m : 1 / m; };
  // Appended piece by piece: GCC 12 warns falsely on `"_" + std::to_string(...)` (bug 105329).
  auto suffix = [&](std::size_t node) {
    std::string text = "_";
    text += node == 0 ? "p" : node == sections ? "f" : std::to_string(node);
    return text;
  };
  std::vector<double> row_sum(n, 0.0);
  std::vector<physical::SymmetricMatrix::Entry> mutual;
  auto add = [&](std::size_t i, std::size_t j, double c_f) {
    if (!keep[i] || !keep[j]) return;
    i = b.branch_of[i], j = b.branch_of[j];  // a coincident group's charge sits on its branch
    if (i < j) std::swap(i, j);
    if (i == j && c_f < 0) return;  // wires of one conductor: no coupling
    row_sum[i] += c_f;
    if (i != j) row_sum[j] += c_f, mutual.push_back({i, j, c_f});
  };
  if (cap.dense) {
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j <= i; ++j) add(i, j, cap.values[i * n + j]);
    }
  } else {
    for (const physical::SymmetricMatrix::Entry& e : cap.entries) add(e.i, e.j, e.value);
  }
  for (std::size_t w = 0; w < n; ++w) {
    const Branch& own = circuit.wires[w];
    if (!(row_sum[w] > 0)) continue;
    const std::vector<std::string> nodes = own.Nodes();
    for (std::size_t k = 0; k <= sections; ++k) {
      out += element_names.Take("C_" + own.token + suffix(k)) + " " + nodes[k] + " " + plane + " " +
             DoubleText(row_sum[w] * share(k) * 1e12) + "p\n";
    }
  }
  for (const physical::SymmetricMatrix::Entry& e : mutual) {
    if (!(e.value < 0)) continue;
    const Branch& a = circuit.wires[e.i];
    const Branch& other = circuit.wires[e.j];
    const std::vector<std::string> a_nodes = a.Nodes(), other_nodes = other.Nodes();
    const std::string name = "C_" + a.token + "__" + other.token;
    for (std::size_t k = 0; k <= sections; ++k) {
      // Ends that share a pad node (a stitch and a wire on one pad) hold no charge between them.
      if (a_nodes[k] == other_nodes[k]) continue;
      out += element_names.Take(name + suffix(k)) + " " + a_nodes[k] + " " + other_nodes[k] + " " +
             DoubleText(-e.value * share(k) * 1e12) + "p\n";
    }
  }
}

}  // namespace

SpiceNetlist SpiceLoopText(const ExportHeader& header, const Package& package,
                           const WireList& wires, const physical::Model& model, bool broadband,
                           std::string_view nets, bool partial) {
  const std::vector<WireOrigin> origins = WireOrigins(package, wires);
  const std::size_t n = wires.size();
  if (model.conductors.size() != n || model.loop_inductance_h.n != n || model.results.empty() ||
      model.results.front().resistance_ohm.size() != n) {
    throw StageError("the physical model is not that of the wires estimated");
  }
  if (partial && !model.partial_inductance_h) {
    throw StageError(
        "the partial inductance matrix, which this package's model leaves out, is "
        "needed for --spice-inductance partial");
  }
  // The partial network at one frequency carries the proximity correction there: dL in the
  // inductors and couplings, the own dR in the resistors (the mutual dR left out).
  const physical::ProximityCorrection& first = model.results.front().proximity_partial;
  const bool corrected = partial && !broadband && first.delta_inductance_h.n == n;
  physical::SymmetricMatrix external =
      partial ? *model.partial_inductance_h : model.loop_inductance_h;
  if (corrected && external.dense) {
    for (const physical::SymmetricMatrix::Entry& e : first.delta_inductance_h.entries) {
      external.values[e.i * n + e.j] += e.value;
      if (e.i != e.j) external.values[e.j * n + e.i] += e.value;
    }
  }
  std::vector<bool> keep = SelectedWires(wires, nets);
  // Through the ground wires: the signals chosen are ports, every ground wire a branch joined to
  // the die's and the substrate's ground; a wire in neither set is left out.
  const physical::ReturnWires* returns =
      partial && model.options.return_wires ? &*model.options.return_wires : nullptr;
  std::vector<bool> signal(n, true), ground(n, false);
  std::string ground_wires;
  if (returns) {
    signal.assign(n, false);
    for (const std::size_t w : returns->signal_wires) signal[w] = true;
    for (const std::size_t w : returns->ground)
      ground[w] = true, ground_wires += " " + wires[w].Name;
    for (std::size_t w = 0; w < n; ++w) keep[w] = (keep[w] && signal[w]) || ground[w];
  }
  LoopBranches b = LoopBranchFigures(wires, model, external, broadband,
                                     corrected ? &first.delta_resistance_ohm : nullptr);
  const physical::BranchLadders ladders = FitLadders(wires, model, b, keep, broadband, partial);
  // Broadband: the sections of the Touchstone file, each short against the wavelength at the
  // top frequency.
  const std::size_t sections =
      broadband && model.capacitance_f ? physical::LadderSections(model) : 1;
  const std::vector<physical::Coupling> pairs = LoopCouplings(model, external, b, keep);
  SpiceNetlist result;
  const double scale =
      physical::PositiveDefiniteScale(n, pairs, kMinPivot, physical::PivotOrder::kFillReducing);
  if (scale < 1.0) {
    result.Notes.push_back("loop couplings scaled by " + FormatGeneral(scale, 4) +
                           " to keep the inductance matrix positive definite");
  }

  const Branches circuit = WireBranches(package, origins, b.with_resistance, sections);
  const std::string subckt = SubcircuitName(header);
  std::string& out = result.Text;
  const bool capacitances = broadband && model.capacitance_f;
  std::vector<std::string> references;
  if (returns) {
    references = {"gnd_die", "gnd_sub"};
  } else if (!partial || capacitances) {
    references = {"ref"};
  }
  AppendLoopHeading(out, header, model, broadband, ladders, sections, partial, ground_wires);
  AppendSubcircuitLine(out, subckt, LoopPorts(circuit, keep, nets.empty(), signal, references));
  AppendLoopBranches(out, wires, origins, circuit, b, ladders, keep, broadband, sections);
  if (returns) {
    out += "* The ground wires' ends joined to the die's and the substrate's ground\n";
    for (std::size_t w = 0; w < n; ++w) {
      if (!ground[w] || b.branch_of[w] != w) continue;
      out += "V_" + circuit.wires[w].token + "_die " + circuit.wires[w].start + " gnd_die 0\n";
      out += "V_" + circuit.wires[w].token + "_sub " + circuit.wires[w].end + " gnd_sub 0\n";
    }
  }
  UniqueNames element_names;
  for (std::size_t s = 0; s < sections; ++s) {
    for (const physical::Coupling& c : pairs) {
      const std::string a = SectionToken(circuit.wires[c.i].token, s, sections);
      const std::string other = SectionToken(circuit.wires[c.j].token, s, sections);
      out += element_names.Take("K_" + a + "__" + other) + " L_" + a + " L_" + other + " " +
             DoubleText(c.k * scale) + "\n";
    }
  }
  if (broadband && model.capacitance_f) {
    AppendMaxwellCapacitance(out, *model.capacitance_f, circuit, b, keep, element_names, sections,
                             returns ? "gnd_sub" : "ref");
  }
  out += ".ends " + subckt + "\n";
  return result;
}

}  // namespace ostrel
