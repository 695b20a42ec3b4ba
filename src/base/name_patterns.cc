#include "base/name_patterns.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/stage_error.h"

namespace ostrel {
namespace {
// Glob match with '*' and '?', iterative with one back-tracking point (linear in practice).
// `star_ends`, when given, receives for each '*' of the pattern (by its position in the pattern)
// the end in `name` of the text it stands for; each '*' takes as little as the match allows, the
// earlier ones first.
bool GlobMatches(std::string_view name, std::string_view pattern,
                 std::vector<std::size_t>* star_ends = nullptr) {
  std::size_t n = 0, p = 0, star = std::string_view::npos, resume = 0;
  if (star_ends) star_ends->assign(pattern.size(), 0);
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++n, ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
      if (star_ends) (*star_ends)[star] = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
      if (star_ends) (*star_ends)[star] = n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') {
    if (star_ends) (*star_ends)[p] = n;
    ++p;
  }
  return p == pattern.size();
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::vector<std::string_view> NetPatterns(std::string_view patterns) {
  std::vector<std::string_view> out;
  while (true) {
    const std::size_t comma = patterns.find(',');
    out.push_back(Trimmed(patterns.substr(0, comma)));
    if (comma == std::string_view::npos) return out;
    patterns.remove_prefix(comma + 1);
  }
}

bool MatchesNetPattern(std::string_view name, std::string_view patterns) {
  const std::vector<std::string_view> list = NetPatterns(patterns);
  return std::any_of(list.begin(), list.end(),
                     [name](std::string_view pattern) { return GlobMatches(name, pattern); });
}

void CheckNetPatterns(const std::vector<std::string>& names, std::string_view patterns) {
  if (Trimmed(patterns).empty()) return;
  for (const std::string_view pattern : NetPatterns(patterns)) {
    const bool matched = std::any_of(names.begin(), names.end(), [pattern](const auto& name) {
      return GlobMatches(name, pattern);
    });
    if (!matched) {
      throw StageError("--nets: the pattern '" + std::string(pattern) + "' matches none of the " +
                       std::to_string(names.size()) + " wires");
    }
  }
}

std::vector<std::size_t> MatchingNames(const std::vector<std::string>& names,
                                       std::string_view patterns) {
  CheckNetPatterns(names, patterns);
  const bool all = Trimmed(patterns).empty();
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (all || MatchesNetPattern(names[i], patterns)) out.push_back(i);
  }
  return out;
}

std::optional<std::vector<std::string_view>> PatternWildcards(std::string_view name,
                                                              std::string_view pattern) {
  std::vector<std::size_t> star_ends;
  if (!GlobMatches(name, pattern, &star_ends)) return std::nullopt;
  std::vector<std::string_view> out;
  std::size_t at = 0;  // in `name`, as the pattern is walked again with the ends found
  for (std::size_t p = 0; p < pattern.size(); ++p) {
    if (pattern[p] == '*') {
      out.push_back(name.substr(at, star_ends[p] - at));
      at = star_ends[p];
    } else {
      if (pattern[p] == '?') out.push_back(name.substr(at, 1));
      ++at;
    }
  }
  return out;
}

}  // namespace ostrel
