#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Choosing wires by name: comma-separated patterns in which '*' stands for any run of
// characters and '?' for one; letters match in their own case; blanks around a pattern are
// ignored.
namespace ostrel {

// True when `name` matches one of the comma-separated `patterns`.
bool MatchesNetPattern(std::string_view name, std::string_view patterns);

// The patterns of a comma-separated list, blanks around each removed; an empty list gives one
// empty pattern.
std::vector<std::string_view> NetPatterns(std::string_view patterns);

// Throws StageError naming the first of the comma-separated `patterns` that matches none of
// the wire `names`; an empty list passes.
void CheckNetPatterns(const std::vector<std::string>& names, std::string_view patterns);

// The indices of the `names` that match `patterns`, ascending; every index when the list is
// empty. Throws StageError as CheckNetPatterns does.
std::vector<std::size_t> MatchingNames(const std::vector<std::string>& names,
                                       std::string_view patterns);

// The texts that the '*' and '?' of one `pattern` stand for in `name`, in the pattern's order,
// or nullopt when the name does not match it. Where a name matches in several ways, each '*'
// takes as few characters as the match allows, the earlier ones first ("*_*" on "A_B_C": "A",
// "B_C").
std::optional<std::vector<std::string_view>> PatternWildcards(std::string_view name,
                                                              std::string_view pattern);

}  // namespace ostrel
