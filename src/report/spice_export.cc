// The SPICE subcircuit of a package's bond wires.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <set>
#include <utility>

#include "base/stage_error.h"
#include "base/text.h"
#include "report/exports.h"

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
  // Base die: the ordered side lists hold copies of the pads; line and name identify them.
  std::map<std::pair<int, std::string>, std::size_t> chip_pad;
  for (std::size_t i = 0; i < package.ChipPads.size(); ++i) {
    chip_pad.try_emplace({package.ChipPads[i].PadLine, package.ChipPads[i].Name}, i);
  }
  const std::pair<const char*, const std::vector<BondPad>*> base_sides[] = {
      {"base-die side L", &package.LeftPads},
      {"base-die side B", &package.BottomPads},
      {"base-die side R", &package.RightPads},
      {"base-die side T", &package.TopPads}};
  for (const auto& [label, list] : base_sides) {
    CouplingSide side{label, {}};
    for (const BondPad& copy : *list) {
      const auto pad = chip_pad.find({copy.PadLine, copy.Name});
      if (pad == chip_pad.end()) continue;
      if (const auto it = chip_wire.find(pad->second); it != chip_wire.end()) {
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

// Cholesky factorisation of the unit-diagonal matrix with `scale` times the couplings; true
// when every pivot is at least `min_pivot`.
bool CholeskyHolds(std::size_t size, const std::vector<Coupling>& pairs, double scale,
                   double min_pivot) {
  // Couplings join wires near each other in a side's order, so the matrix is a band; only the
  // band is stored and factored (a chain of neighbours costs time and memory linear in size).
  std::size_t band = 0;
  for (const Coupling& c : pairs) band = std::max(band, c.I > c.J ? c.I - c.J : c.J - c.I);
  const std::size_t width = band + 1;
  // a[i * width + d] holds entry (i, i - d) of the lower triangle.
  std::vector<double> a(size * width, 0.0);
  for (std::size_t i = 0; i < size; ++i) a[i * width] = 1.0;
  for (const Coupling& c : pairs) {
    const std::size_t row = std::max(c.I, c.J), column = std::min(c.I, c.J);
    a[row * width + (row - column)] += scale * c.K;
  }
  auto at = [&](std::size_t i, std::size_t k) -> double& { return a[i * width + (i - k)]; };
  // In place: the band becomes L with A = L L^T.
  for (std::size_t j = 0; j < size; ++j) {
    const std::size_t first = j > band ? j - band : 0;
    double pivot = at(j, j);
    for (std::size_t k = first; k < j; ++k) pivot -= at(j, k) * at(j, k);
    if (!(pivot >= min_pivot)) return false;
    const double root = std::sqrt(pivot);
    at(j, j) = root;
    for (std::size_t i = j + 1; i < size && i <= j + band; ++i) {
      double sum = at(i, j);
      for (std::size_t k = i > band ? i - band : 0; k < j; ++k) sum -= at(i, k) * at(j, k);
      at(i, j) = sum / root;
    }
  }
  return true;
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
  } else {
    return false;
  }
  return true;
}

double PositiveDefiniteScale(std::size_t size, const std::vector<Coupling>& pairs,
                             double min_pivot) {
  if (CholeskyHolds(size, pairs, 1.0, min_pivot)) return 1.0;
  // The matrices that hold form an interval of scales starting at 0 (the identity).
  double good = 0.0, bad = 1.0;
  for (int step = 0; step < 60; ++step) {
    const double mid = (good + bad) / 2;
    (CholeskyHolds(size, pairs, mid, min_pivot) ? good : bad) = mid;
  }
  return good;
}

SpiceNetlist SpiceText(const ExportHeader& header, const Package& package,
                       const std::vector<Wire>& wires, SpiceInductance inductance) {
  const std::vector<WireOrigin> origins = WireOrigins(package, wires);
  SpiceNetlist result;

  // Nodes: one per pad that a wire or stitch touches, one per finger, one inside each wire.
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

  struct Branch {
    std::string token, start, end, middle;  // middle: between R and L; empty without R
  };
  std::vector<Branch> branches;
  UniqueNames wire_tokens;
  std::vector<std::string> ports;
  std::set<std::string> port_set;
  auto add_port = [&](const std::string& node) {
    if (port_set.insert(node).second) ports.push_back(node);
  };
  for (std::size_t w = 0; w < wires.size(); ++w) {
    const Wire& wire = wires[w];
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
    const float l_nh = ChosenInductance(wire, inductance);
    if (!(l_nh > 0)) {
      throw StageError("wire " + wire.Name + ": its " + InductanceName(inductance) +
                       " inductance " + RoundTripText(l_nh) +
                       " nH is not positive, which a SPICE inductor cannot take");
    }
    if (wire.Resistance != 0) b.middle = node_names.Take("m_" + b.token);
    add_port(b.start);
    add_port(b.end);
    branches.push_back(std::move(b));
  }

  // Couplings between neighbours along each die side.
  struct Coupled {
    std::size_t a, b;
    double k;
  };
  std::vector<Coupled> couplings;
  for (const CouplingSide& side : CouplingSides(package, origins)) {
    std::vector<Coupling> pairs;
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
      double k = m / std::sqrt(l1 * l2);  // k = M / sqrt(L1 L2)
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
    const double scale = PositiveDefiniteScale(side.Wires.size(), pairs, kMinPivot);
    if (scale < 1.0) {
      result.Notes.push_back("couplings of " + side.Label + " scaled by " +
                             FormatGeneral(scale, 4) +
                             " to keep the inductance matrix positive definite");
    }
    for (const Coupling& c : pairs) {
      couplings.push_back({side.Wires[c.I], side.Wires[c.J], c.K * scale});
    }
  }

  const ParameterSet& p = header.Params;
  std::string package_stem = header.PackageName.substr(0, header.PackageName.rfind('.'));
  const std::string subckt =
      SanitisedName(package_stem.empty() ? "package" : package_stem) + "_bondwires";
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
  out += ".subckt " + subckt;
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
  for (std::size_t w = 0; w < branches.size(); ++w) {
    const Branch& b = branches[w];
    out += "* " + std::string(KindName(origins[w].Kind)) + " wire " + wires[w].Name + "\n";
    if (b.middle.empty()) {
      out += "L_" + b.token + " " + b.start + " " + b.end + " " +
             RoundTripText(ChosenInductance(wires[w], inductance)) + "n\n";
    } else {
      out += "R_" + b.token + " " + b.start + " " + b.middle + " " +
             RoundTripText(wires[w].Resistance) + "m\n";
      out += "L_" + b.token + " " + b.middle + " " + b.end + " " +
             RoundTripText(ChosenInductance(wires[w], inductance)) + "n\n";
    }
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

}  // namespace ostrel
