#include "app/nets.h"

#include <algorithm>
#include <initializer_list>
#include <map>
#include <unordered_map>

#include "base/name_patterns.h"
#include "base/stage_error.h"
#include "base/text.h"

namespace ostrel {
namespace {

// The type of each pad by name (the first pad of a name, as the estimation takes it).
std::unordered_map<std::string, std::string> TypesByName(const PadList& pads) {
  std::unordered_map<std::string, std::string> types;
  for (const BondPad& pad : pads) types.try_emplace(pad.Name, pad.Extra);
  return types;
}

std::string TypeOf(const std::unordered_map<std::string, std::string>& types,
                   const std::string& name) {
  const auto it = types.find(name);
  return it != types.end() ? it->second : std::string();
}

// The pad a stitch "(P1:P2)" lands on: P2, on the base die.
std::string LandingPad(const std::string& stitch_name) {
  const std::size_t colon = stitch_name.find(':');
  if (stitch_name.size() < 3 || colon == std::string::npos) return {};
  return stitch_name.substr(colon + 1, stitch_name.size() - colon - 2);
}

}  // namespace

const char* RoleName(NetRole role) {
  switch (role) {
    case NetRole::kGround:
      return "ground";
    case NetRole::kPower:
      return "power";
    case NetRole::kSignal:
      break;
  }
  return "signal";
}

std::vector<std::string> WirePadTypes(const Package& package, const WireList& wires) {
  const auto base = TypesByName(package.ChipPads), stacked = TypesByName(package.StackPads);
  std::vector<std::string> types;
  types.reserve(wires.size());
  for (const Wire& wire : wires) {
    types.push_back(wire.StitchWire ? TypeOf(base, LandingPad(wire.Name))
                                    : TypeOf(wire.StackWire ? stacked : base, wire.Name));
  }
  return types;
}

std::vector<NetMapRow> ReadNetMap(std::string_view text) {
  std::vector<NetMapRow> rows;
  std::size_t line_no = 0;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string line(text.substr(at, end - at));
    at = end + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    for (std::size_t from = 0;;) {
      const std::size_t comma = line.find(',', from);
      std::string field = line.substr(from, comma == std::string::npos ? comma : comma - from);
      const std::size_t first = field.find_first_not_of(" \t");
      const std::size_t last = field.find_last_not_of(" \t");
      fields.push_back(first == std::string::npos ? "" : field.substr(first, last - first + 1));
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
    if (fields.size() == 1 && fields[0].empty()) continue;
    const std::string where = "net map line " + std::to_string(line_no) + ": ";
    if (fields.size() != 4) throw StageError(where + "needs die,pad,net,role");
    const std::string die = UpperAscii(fields[0]), role = UpperAscii(fields[3]);
    if (rows.empty() && die == "DIE" && role == "ROLE") continue;  // the header
    NetMapRow row;
    if (die != "BASE" && die != "STACKED") throw StageError(where + "die must be base or stacked");
    row.stacked = die == "STACKED";
    row.pad = fields[1];
    row.net = fields[2];
    if (row.pad.empty() || row.net.empty()) throw StageError(where + "needs a pad and a net");
    if (role == "GROUND") {
      row.role = NetRole::kGround;
    } else if (role == "POWER") {
      row.role = NetRole::kPower;
    } else if (role != "SIGNAL") {
      throw StageError(where + "role must be ground, power or signal");
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<Net> WireNets(const WireList& wires, const std::vector<std::string>& types,
                          const NetRules& rules) {
  const std::string ground = UpperAscii(rules.ground), power = UpperAscii(rules.power);
  std::map<std::pair<bool, std::string>, const NetMapRow*> mapped;
  for (const NetMapRow& row : rules.map) mapped[{row.stacked, row.pad}] = &row;
  std::vector<Net> shared, signals;
  std::map<std::pair<std::string, NetRole>, std::size_t> by_name;  // index into shared/signals
  for (std::size_t w = 0; w < wires.size(); ++w) {
    const Wire& wire = wires[w];
    const auto it = wire.StitchWire ? mapped.find({false, LandingPad(wire.Name)})
                                    : mapped.find({wire.StackWire, wire.Name});
    std::string name = types[w];
    NetRole role = NetRole::kSignal;
    if (it != mapped.end()) {
      name = it->second->net, role = it->second->role;
    } else {
      const std::string type = UpperAscii(types[w]);
      if (!type.empty() && MatchesNetPattern(type, ground)) {
        role = NetRole::kGround;
      } else if (!type.empty() && MatchesNetPattern(type, power)) {
        role = NetRole::kPower;
      } else {
        signals.push_back({wire.Name, role, {w}});
        continue;
      }
    }
    std::vector<Net>& list = role == NetRole::kSignal ? signals : shared;
    const auto [at, fresh] = by_name.try_emplace({name, role}, list.size());
    if (fresh) list.push_back({name, role, {}});
    list[at->second].wires.push_back(w);
  }
  shared.insert(shared.end(), signals.begin(), signals.end());
  return shared;
}

physical::ReturnWires ReturnWiresOf(const std::vector<Net>& nets, const WireList& wires) {
  physical::ReturnWires out;
  std::size_t counts[3] = {0, 0, 0};  // nets by role
  for (const Net& net : nets) {
    ++counts[static_cast<int>(net.role)];
    for (const std::size_t w : net.wires) {
      if (net.role != NetRole::kGround) {
        out.signal_wires.push_back(w);
      } else if (!wires[w].StitchWire) {
        out.ground.push_back(w);
      }
    }
  }
  if (out.ground.empty()) {
    throw StageError("--return wires needs ground wires, and the pads' types make none (" +
                     std::to_string(counts[0]) + " signal and " + std::to_string(counts[2]) +
                     " power nets): name the ground pads' types with --ground PATTERNS or the "
                     "pads with --net-map FILE.csv");
  }
  std::sort(out.ground.begin(), out.ground.end());
  std::sort(out.signal_wires.begin(), out.signal_wires.end());
  return out;
}

std::vector<Net> PackageNets(const Package& package, const WireList& wires, const NetRules& rules) {
  return WireNets(wires, WirePadTypes(package, wires), rules);
}

std::vector<std::size_t> NetOfEachWire(const std::vector<Net>& nets, std::size_t wire_count) {
  std::vector<std::size_t> out(wire_count, nets.size());
  for (std::size_t k = 0; k < nets.size(); ++k) {
    for (const std::size_t w : nets[k].wires) {
      if (w < wire_count) out[w] = k;
    }
  }
  return out;
}

std::vector<physical::SharedNet> SharedNets(const std::vector<Net>& nets) {
  std::vector<physical::SharedNet> out;
  for (const Net& net : nets) {
    if (net.role == NetRole::kSignal) continue;
    physical::SharedNet shared;
    shared.name = net.name;
    shared.supply = net.role == NetRole::kPower;
    shared.wires = net.wires;
    out.push_back(std::move(shared));
  }
  return out;
}

std::string ExpandNetPatterns(std::string_view patterns, const std::vector<Net>& nets,
                              const WireList& wires) {
  constexpr std::string_view kPrefix = "net:";
  std::string out;
  for (const std::string_view pattern : NetPatterns(patterns)) {
    if (!out.empty()) out += ',';
    if (pattern.substr(0, kPrefix.size()) != kPrefix) {
      out += pattern;
      continue;
    }
    const std::string_view name = pattern.substr(kPrefix.size());
    std::string names;
    for (const Net& net : nets) {
      if (!MatchesNetPattern(net.name, name)) continue;
      for (std::size_t w : net.wires) names += (names.empty() ? "" : ",") + wires[w].Name;
    }
    if (names.empty()) {
      throw StageError("--nets pattern '" + std::string(pattern) +
                       "' matches no net (see --list-nets)");
    }
    out += names;
  }
  return out;
}

std::vector<physical::WirePair> WirePairs(std::string_view pairs,
                                          const std::vector<std::string>& names) {
  std::vector<physical::WirePair> out;
  constexpr std::size_t kFree = static_cast<std::size_t>(-1);
  std::vector<std::size_t> taken(names.size(), kFree);  // the pair in `out` that holds each wire
  const auto pair_names = [&](std::size_t p, std::size_t n) { return names[p] + "/" + names[n]; };
  for (const std::string_view pair : NetPatterns(pairs)) {
    const std::size_t slash = pair.find('/');
    const std::string quoted = "--pairs '" + std::string(pair) + "'";
    const auto trimmed = [](std::string_view text) {
      const std::size_t begin = text.find_first_not_of(" \t");
      if (begin == std::string_view::npos) return std::string_view();
      return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
    };
    const std::string_view positive = trimmed(pair.substr(0, slash));
    const std::string_view negative =
        slash == std::string_view::npos ? std::string_view() : trimmed(pair.substr(slash + 1));
    if (positive.empty() || negative.empty() || negative.find('/') != std::string_view::npos) {
      throw StageError(quoted + ": a pair is two wire-name patterns P/N, e.g. '*_P/*_N'");
    }
    const auto wildcards = [](std::string_view pattern) {
      std::string kinds;
      for (const char c : pattern) {
        if (c == '*' || c == '?') kinds += c;
      }
      return kinds;
    };
    if (wildcards(positive) != wildcards(negative)) {
      throw StageError(quoted + ": both patterns need the same * and ? in the same order");
    }
    // The negative wires by the texts their wildcards stand for.
    std::map<std::vector<std::string_view>, std::vector<std::size_t>> negatives;
    for (std::size_t w = 0; w < names.size(); ++w) {
      if (auto texts = PatternWildcards(names[w], negative)) negatives[*texts].push_back(w);
    }
    const std::size_t first = out.size();
    for (std::size_t w = 0; w < names.size(); ++w) {
      const auto texts = PatternWildcards(names[w], positive);
      if (!texts) continue;
      const auto partners = negatives.find(*texts);
      if (partners == negatives.end()) continue;
      for (const std::size_t partner : partners->second) {
        if (partner == w) continue;
        for (const std::size_t wire : {w, partner}) {
          if (taken[wire] == kFree) continue;
          const physical::WirePair& held = out[taken[wire]];
          throw StageError("--pairs: wire " + names[wire] + " is in two pairs, " +
                           pair_names(held.positive, held.negative) + " and " +
                           pair_names(w, partner));
        }
        taken[w] = taken[partner] = out.size();
        out.push_back({w, partner});
      }
    }
    if (out.size() == first) {
      throw StageError(quoted + " pairs none of the " + std::to_string(names.size()) + " wires");
    }
  }
  return out;
}

std::vector<physical::WirePair> WirePairsOf(std::string_view pairs, const WireList& wires) {
  std::vector<std::string> names;
  names.reserve(wires.size());
  for (const Wire& wire : wires) names.push_back(wire.Name);
  return WirePairs(pairs, names);
}

std::string NetListText(const std::vector<Net>& nets, const WireList& wires) {
  std::string out;
  for (const Net& net : nets) {
    out += net.name + '\t' + RoleName(net.role) + '\t' + std::to_string(net.wires.size()) + '\t';
    for (std::size_t k = 0; k < net.wires.size(); ++k) {
      if (k > 0) out += ',';
      out += wires[net.wires[k]].Name;
    }
    out += '\n';
  }
  return out;
}

}  // namespace ostrel
