#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "physical/physical_model.h"

// Choosing the wires that the physical exports (IBIS package model, Touchstone, SPICE) carry.
namespace ostrel {

// True when `name` matches one of the comma-separated `patterns`: '*' stands for any run of
// characters, '?' for one; letters match in their own case. Blanks around a pattern are ignored.
bool MatchesNetPattern(std::string_view name, std::string_view patterns);

// The patterns of a comma-separated list, blanks around each removed; an empty list gives one
// empty pattern.
std::vector<std::string_view> NetPatterns(std::string_view patterns);

// Throws StageError naming the first of the comma-separated `patterns` that matches none of
// the wire `names`; an empty list passes.
void CheckNetPatterns(const std::vector<std::string>& names, std::string_view patterns);

// The model restricted to the wires whose names match `patterns`, in the same order, with the
// rows and columns of every matrix and the per-frequency figures of those wires. An empty
// pattern list keeps every wire. Throws StageError naming a pattern that matches no wire.
physical::Model SelectNets(const physical::Model& model, std::string_view patterns);

}  // namespace ostrel
