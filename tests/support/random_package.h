#pragma once

#include <cstdint>
#include <string>

// Random legal packages for property tests, fuzzing and benchmarks: from one seed, the text of a
// package description file and of a settings file that names it, the same on every platform.
namespace ostrel::testing_support {

struct RandomPackage {
  std::string package_text;   // the .tmv file
  std::string settings_text;  // the .zv file, naming the package file asked for
  // The hard cases it holds, one word each ("stack", "crossing", "stitch-on-ball", ...), for
  // messages that name what a failing package is made of.
  std::string features;
};

// A package that the report accepts: two or more base-die pads on each of the sides T, B, L, R,
// each with a finger and a wire; on some seeds a stacked die with its pads and wires. The hard
// cases come at random, none on about a third of the seeds: stitches that land on the ball of a
// base-die wire, double bonds (two pads at one position, or a pad and a stitch leaving its
// ball), two wires to one finger, a wire given twice, crossing wires (neighbours' fingers
// swapped) and pads 1.1 to 3 wire diameters apart. Microns throughout.
RandomPackage MakeRandomPackage(std::uint64_t seed, const std::string& package_file_name);

}  // namespace ostrel::testing_support
