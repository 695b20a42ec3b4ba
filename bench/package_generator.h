#pragma once

#include <cstdio>
#include <string>

// Large, realistic packages for measuring the estimation at scale (see package_generator.cc).
namespace ostrel::bench {

// Writes the package description file of a package with `wires` bond wires (at least 40):
// 80% base-die wires over four edges, 15% stacked-die wires, 5% stitches. Lines end with CR LF.
// Returns false when the package cannot be laid out.
bool WritePackage(std::FILE* f, long wires);

// Writes a settings file naming `package_name` (the package file, without folder): gold,
// 1 mil, 1 GHz, custom loops, stacked wires run to the edge of the base die.
void WriteSettings(std::FILE* f, const std::string& package_name);

// The same, as text.
std::string PackageText(long wires);
std::string SettingsText(const std::string& package_name);

}  // namespace ostrel::bench
