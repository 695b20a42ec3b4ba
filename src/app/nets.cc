#include "app/nets.h"

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

std::vector<Net> WireNets(const WireList& wires, const std::vector<std::string>& types,
                          const NetRules& rules) {
  const std::string ground = UpperAscii(rules.ground), power = UpperAscii(rules.power);
  std::vector<Net> shared, signals;
  std::map<std::string, std::size_t> by_type;  // index into `shared`
  for (std::size_t w = 0; w < wires.size(); ++w) {
    const std::string type = UpperAscii(types[w]);
    NetRole role = NetRole::kSignal;
    if (!type.empty() && MatchesNetPattern(type, ground)) {
      role = NetRole::kGround;
    } else if (!type.empty() && MatchesNetPattern(type, power)) {
      role = NetRole::kPower;
    }
    if (role == NetRole::kSignal) {
      signals.push_back({wires[w].Name, role, {w}});
      continue;
    }
    const auto [it, fresh] = by_type.try_emplace(types[w], shared.size());
    if (fresh) shared.push_back({types[w], role, {}});
    shared[it->second].wires.push_back(w);
  }
  shared.insert(shared.end(), signals.begin(), signals.end());
  return shared;
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
