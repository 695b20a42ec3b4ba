#include "export/ladder_elements.h"

#include <charconv>

namespace ostrel {
namespace {

std::string Shortest(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

void AppendLadderElements(std::string& out, const physical::InternalLadder& ladder,
                          const std::string& token, const std::string& from,
                          const std::string& to) {
  auto inner = [&](std::size_t k) {
    return k == ladder.rungs.size() ? to : "s_" + token + "_" + std::to_string(k + 1);
  };
  out += "R_" + token + " " + from + " " + inner(0) + " " + Shortest(ladder.r0_ohm) + "\n";
  for (std::size_t k = 0; k < ladder.rungs.size(); ++k) {
    const std::string name = token + "_" + std::to_string(k + 1);
    std::string nodes(1, ' ');
    nodes.append(inner(k)).append(1, ' ').append(inner(k + 1)).append(1, ' ');
    out += "RS_" + name + nodes + Shortest(ladder.rungs[k].r_ohm) + "\n";
    out += "LS_" + name + nodes + Shortest(ladder.rungs[k].l_h) + "\n";
  }
}

}  // namespace ostrel
