#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/wire.h"
#include "package/package_model.h"
#include "physical/physical_model.h"

// Nets and roles of the wires, from the type each pad line gives last (`VSS`, `IO`, ...): the
// ground and supply wires of a package are the return paths its designer named.
namespace ostrel {

enum class NetRole { kSignal, kGround, kPower };

const char* RoleName(NetRole role);  // "signal", "ground", "power"

// A pad given its net and role by a net map, overriding its type.
struct NetMapRow {
  bool stacked = false;  // the pad is on the stacked die
  std::string pad, net;
  NetRole role = NetRole::kSignal;
  bool operator==(const NetMapRow&) const = default;
};

// Which pad types make ground and supply nets: comma-separated patterns with * and ?, matched
// without regard to case; and the pads a net map names.
struct NetRules {
  std::string ground = "*VSS*,*GND*";
  std::string power = "*VDD*,*VCC*";
  std::vector<NetMapRow> map;
};

// A net map: CSV lines "die,pad,net,role" (die `base` or `stacked`, role `ground`, `power` or
// `signal`, any case; blanks around fields ignored), an optional header line
// "die,pad,net,role", blank lines skipped. Throws StageError naming the line at fault.
std::vector<NetMapRow> ReadNetMap(std::string_view text);

struct Net {
  std::string name;  // the pad type of a ground or supply net; the wire's name for a signal
  NetRole role = NetRole::kSignal;
  std::vector<std::size_t> wires;  // ascending
  bool operator==(const Net&) const = default;
};

// The type of the pad each wire starts on; a stitch takes the type of the base-die pad it lands
// on. Empty where the pad line gives none.
std::vector<std::string> WirePadTypes(const Package& package, const WireList& wires);

// Pads of one ground or supply type form one net (named by the type, in the order its first wire
// comes); every other wire is a signal net of its own, named by the wire. A pad the map names
// joins the map's net with the map's role (a map's signal net may hold several wires). Ground
// and supply nets first, then the signals in wire order.
std::vector<Net> WireNets(const WireList& wires, const std::vector<std::string>& types,
                          const NetRules& rules);

// The wires of the ground nets as the return of every other wire (signal and supply alike). A
// ground stitch joins the die grids, both of them the die's ground, and carries no return
// current: it is in neither set. Throws StageError naming the roles found when no wire of a
// ground net runs from a die to the substrate.
physical::ReturnWires ReturnWiresOf(const std::vector<Net>& nets, const WireList& wires);
// WireNets of the types of the pads the wires start on (WirePadTypes): the nets of an estimation
// as both front ends make them.
std::vector<Net> PackageNets(const Package& package, const WireList& wires,
                             const NetRules& rules = {});

// For each of `wire_count` wires, the index in `nets` of the net that holds it; `nets.size()` for
// a wire no net holds.
std::vector<std::size_t> NetOfEachWire(const std::vector<Net>& nets, std::size_t wire_count);

// The ground and supply nets of `nets`, in their order, as the model takes them
// (StudyOptions::shared_nets); signal nets are left out.
std::vector<physical::SharedNet> SharedNets(const std::vector<Net>& nets);

// `patterns` (comma-separated wire-name patterns) with each "net:NAME" replaced by the names
// of the wires of the nets NAME matches (* and ?, in the nets' own case). Throws StageError
// naming a "net:" pattern that matches no net.
std::string ExpandNetPatterns(std::string_view patterns, const std::vector<Net>& nets,
                              const WireList& wires);

// Differential pairs from `pairs`, comma-separated "P/N" pairs of wire-name patterns (* and ?,
// as --nets takes them): a wire whose name matches P with one whose name matches N where the
// texts that the patterns' * and ? stand for agree ("*_P/*_N": D0_P with D0_N; "T2/T3": those
// two wires). Pairs in the order of the patterns, then of the positive wire. Throws StageError
// naming the fault: a pair not of the form P/N, patterns whose * and ? differ in number or order,
// a pattern pair that pairs no wires, a wire in two pairs.
std::vector<physical::WirePair> WirePairs(std::string_view pairs,
                                          const std::vector<std::string>& names);
// WirePairs of the wires' names: the pairs of an estimation as both front ends make them.
std::vector<physical::WirePair> WirePairsOf(std::string_view pairs, const WireList& wires);

// The nets one per line: name, role, wire count and the wires' names.
std::string NetListText(const std::vector<Net>& nets, const WireList& wires);

}  // namespace ostrel
