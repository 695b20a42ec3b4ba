// ostrel-genpkg: writes a large, realistic package description file and a settings file that
// names it, for measuring the estimation at scale (the package is described in
// package_generator.cc).

#include <cstdio>
#include <cstdlib>
#include <string>

#include "package_generator.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: ostrel-genpkg --wires N --out DIR [--name NAME]\n"
               "writes DIR/NAME.tmv (package) and DIR/NAME.zv (settings); NAME defaults to "
               "pkgN\n");
  return 2;
}

// Writes one file with `write`; false (with a message) when it cannot be written.
template <typename Write>
bool WriteFile(const std::string& path, Write&& write) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::perror(path.c_str());
    return false;
  }
  const bool ok = write(f);
  if (std::fclose(f) != 0) {
    std::perror(path.c_str());
    return false;
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  long wires = 0;
  std::string out_dir, name;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--wires" && i + 1 < argc) {
      wires = std::strtol(argv[++i], nullptr, 10);
    } else if (a == "--out" && i + 1 < argc) {
      out_dir = argv[++i];
    } else if (a == "--name" && i + 1 < argc) {
      name = argv[++i];
    } else {
      return Usage();
    }
  }
  if (wires < 40 || out_dir.empty()) return Usage();
  if (name.empty()) name = "pkg" + std::to_string(wires);

  const std::string tmv = name + ".tmv";
  if (!WriteFile(out_dir + "/" + tmv,
                 [wires](std::FILE* f) { return ostrel::bench::WritePackage(f, wires); })) {
    std::fprintf(stderr, "ostrel-genpkg: cannot lay out %ld wires\n", wires);
    return 1;
  }
  const std::string zv_path = out_dir + "/" + name + ".zv";
  if (!WriteFile(zv_path, [&tmv](std::FILE* f) {
        ostrel::bench::WriteSettings(f, tmv);
        return true;
      })) {
    return 1;
  }
  std::printf("%s\n", zv_path.c_str());
  return 0;
}
