#pragma once

#include <string_view>

// The wire metals and their resistivities at room temperature: gold 2.44, aluminium 2.82 and
// copper 1.68 micro-ohm cm, the common textbook figures at 20 degrees C. The estimation keeps
// them as singles in mOhm m, the physical model as doubles in ohm m; both read this table.
namespace ostrel {

struct Metal {
  std::string_view name;  // as in the settings file, upper case
  double resistivity_ohm_m;
};

inline constexpr Metal kMetals[] = {{"AU", 2.44e-8}, {"AL", 2.82e-8}, {"CU", 1.68e-8}};

// The metal of an upper-case name, or nullptr for none of them.
constexpr const Metal* FindMetal(std::string_view upper_name) {
  for (const Metal& metal : kMetals) {
    if (metal.name == upper_name) return &metal;
  }
  return nullptr;
}

// The estimation's figure: mOhm m, rounded to a single.
constexpr float SingleResistivityMohmM(const Metal& metal) {
  return static_cast<float>(metal.resistivity_ohm_m * 1e3);
}
static_assert(SingleResistivityMohmM(kMetals[0]) == 2.44e-5f &&
              SingleResistivityMohmM(kMetals[1]) == 2.82e-5f &&
              SingleResistivityMohmM(kMetals[2]) == 1.68e-5f);

}  // namespace ostrel
