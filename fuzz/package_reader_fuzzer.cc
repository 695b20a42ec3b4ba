// Fuzz target: the package description reader, the side ordering and the wire spacing default
// on arbitrary bytes.

#include <cstdint>
#include <string>
#include <string_view>

#include "electrical/wire_spacing.h"
#include "fuzz_checks.h"
#include "package/package_reader.h"
#include "package/side_ordering.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string file = "fuzz.tmv";
  ostrel::Package package;
  try {
    ostrel::ParsePackage(text, package, file);
  } catch (const ostrel::StageError& e) {
    ostrel::fuzz::CheckError(e);
    // A bad number in the package names the file and its line.
    if (e.file() != file || e.line() <= 0) {
      ostrel::fuzz::Broken("no line in: " + std::string(e.what()));
    }
    return 0;
  }
  const std::size_t sides = package.LeftPads.size() + package.BottomPads.size() +
                            package.RightPads.size() + package.TopPads.size();
  if (sides > package.ChipPads.size()) ostrel::fuzz::Broken("more side pads than pads");
  ostrel::OrderSides(package);
  try {
    ostrel::fuzz::CheckFinite(ostrel::DefaultWireDistance(package), "the wire distance");
  } catch (const ostrel::StageError& e) {
    ostrel::fuzz::CheckError(e);
  }
  return 0;
}
