// Large, realistic package description files and settings files naming them, for measuring
// the estimation at scale.
//
// The package has a square base die with evenly spaced pads on its four edges, each with a
// substrate finger fanned out beyond the die edge and a wire bond from pad to finger; a stacked
// die a little smaller than the base die with its own edge pads, fingers and wire bonds (run to
// the edge of the base die by the settings); and stitch wires from stacked-die pads down to
// base-die pads. Rings, a segmented ring and a die attach pad complete it. Pads are listed the
// way layout tools number them, counter-clockwise from the top of the left edge, so two of the
// four edges come in descending order and must be reordered along the edge.
//
// Of the N wires, 5% are stitches, 15% stacked-die wires and the rest base-die wires, spread
// evenly over the four edges. Lines end with CR LF, as the files of Windows layout tools do.

#include "package_generator.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace ostrel::bench {
namespace {

constexpr double kPitch = 62.5;        // pad pitch along each die edge, microns
constexpr double kEdgeInset = 80.0;    // pad centre inside the base die edge
constexpr double kFingerOut = 630.0;   // finger row beyond the base die edge
constexpr double kFanOut = 6.0;        // fingers of a group of 16 pads spread this much wider
constexpr double kStackInset = 300.0;  // stacked die edge inside the base die edge
constexpr double kStackFingerOut = 950.0;

struct Counts {
  long base = 0, stack = 0, stitch = 0;
};

Counts Split(long wires) {
  Counts c;
  c.stitch = wires / 20;
  c.stack = wires * 15 / 100;
  c.base = wires - c.stitch - c.stack;
  return c;
}

// One pad of an edge: its position and its finger, in microns.
struct EdgePad {
  std::string name;
  char side;
  double x, y, fx, fy;
};

// `n` pads along the four edges of a die of half size `half`, counter-clockwise from the top of
// the left edge: left going down, bottom going right, right going up, top going left.
std::vector<EdgePad> EdgePads(const char* prefix, long n, double half, double inset,
                              double finger_half) {
  std::vector<EdgePad> pads;
  pads.reserve(static_cast<std::size_t>(n));
  const char sides[4] = {'L', 'B', 'R', 'T'};
  for (int s = 0; s < 4; ++s) {
    const long count = n / 4 + (s < n % 4 ? 1 : 0);
    const double span = (static_cast<double>(count) - 1) * kPitch;
    for (long i = 0; i < count; ++i) {
      const double along = -span / 2 + static_cast<double>(i) * kPitch;  // ascending
      const double edge = half - inset;
      // Fingers fan out in groups of 16 around the group's middle pad.
      const double fan = (static_cast<double>(i % 16) - 7.5) * kFanOut;
      EdgePad p;
      p.side = sides[s];
      p.name = std::string(prefix) + sides[s] + std::to_string(i + 1);
      switch (sides[s]) {
        case 'L':
          p.x = -edge;
          p.y = -along;
          p.fx = -finger_half;
          p.fy = -along - fan;
          break;
        case 'B':
          p.x = along;
          p.y = -edge;
          p.fx = along + fan;
          p.fy = -finger_half;
          break;
        case 'R':
          p.x = edge;
          p.y = along;
          p.fx = finger_half;
          p.fy = along + fan;
          break;
        default:
          p.x = -along;
          p.y = edge;
          p.fx = -along - fan;
          p.fy = finger_half;
          break;
      }
      pads.push_back(p);
    }
  }
  return pads;
}

// What `write` writes to a stream, as a string.
template <typename Write>
std::string Captured(Write&& write) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* f = open_memstream(&data, &size);
  write(f);
  std::fclose(f);
  std::string text(data, size);
  std::free(data);
  return text;
}

}  // namespace

bool WritePackage(std::FILE* f, long wires) {
  const Counts c = Split(wires);
  // The base die is as long as its longest edge row of pads needs.
  const double row = static_cast<double>(c.base / 4 + 1) * kPitch;
  const double half = row / 2 + 400.0;
  const double stack_half = half - kStackInset;
  const double stack_row = static_cast<double>(c.stack / 4 + 1) * kPitch;
  if (stack_row / 2 > stack_half) {
    return false;
  }
  const std::vector<EdgePad> base = EdgePads("P", c.base, half, kEdgeInset, half + kFingerOut);
  const std::vector<EdgePad> stack =
      EdgePads("S", c.stack, stack_half, kEdgeInset, half + kStackFingerOut);

  const double base_z = 200, stack_z = 150;
  std::fprintf(f, "TECHNOLOGY cmos018\r\nSD_TECHNOLOGY bicmos\r\n");
  std::fprintf(f, "COMPW %.1f\r\nCOMPL %.1f\r\n", 2 * half, 2 * half);
  std::fprintf(f, "SD_COMPW %.1f\r\nSD_COMPL %.1f\r\n", 2 * stack_half, 2 * stack_half);
  std::fprintf(f, "SD_XOFFSET 0\r\nSD_YOFFSET 0\r\nSD_ROTATION 0\r\n");
  std::fprintf(f, "SD_COMPZ %.0f\r\nCOMPZ %.0f\r\n", stack_z, base_z);
  for (const EdgePad& p : base) {
    std::fprintf(f, "CBP %s %.2f %.2f 0 70 90 0 %c IO\r\n", p.name.c_str(), p.x, p.y, p.side);
  }
  for (const EdgePad& p : stack) {
    std::fprintf(f, "SD_CBP %s %.2f %.2f 0 60 80 0 %c IO\r\n", p.name.c_str(), p.x, p.y, p.side);
  }
  for (const auto* list : {&base, &stack}) {
    for (const EdgePad& p : *list) {
      std::fprintf(f, "SBP %s %.2f %.2f 0 80 200 0 GOLD\r\n", p.name.c_str(), p.fx, p.fy);
    }
  }
  for (const EdgePad& p : base) {
    std::fprintf(f, "WB %s %.2f %.2f 0 %.2f %.2f %.0f 0\r\n", p.name.c_str(), p.x, p.y, p.fx, p.fy,
                 base_z);
  }
  for (const EdgePad& p : stack) {
    std::fprintf(f, "WB %s %.2f %.2f 0 %.2f %.2f %.0f 0\r\n", p.name.c_str(), p.x, p.y, p.fx, p.fy,
                 base_z + stack_z);
  }
  // Stitches: every third stacked pad, from just inside it straight across the edge down to
  // the base die, in front of the base pad row.
  for (long k = 0; k < c.stitch; ++k) {
    const EdgePad& s = stack[static_cast<std::size_t>(k * 3 % c.stack)];
    const double in = 30, base_edge = half - kEdgeInset - 40;
    const bool across_x = s.side == 'L' || s.side == 'R';
    const double sx = across_x ? s.x + (s.x < 0 ? in : -in) : s.x;
    const double sy = across_x ? s.y : s.y + (s.y < 0 ? in : -in);
    const double bx = across_x ? (s.x < 0 ? -base_edge : base_edge) : s.x;
    const double by = across_x ? s.y : (s.y < 0 ? -base_edge : base_edge);
    std::string to = s.name;  // the base pad of the same edge and number: S... becomes P...
    to[0] = 'P';
    std::fprintf(f, "STCH %s %.2f %.2f %s %.2f %.2f %.0f %.0f\r\n", s.name.c_str(), sx, sy,
                 to.c_str(), bx, by, base_z + stack_z, base_z);
  }
  std::fprintf(f, "RING 1 VSS %.1f %.1f %.1f %.1f 60 0\r\n", -half - 300, -half - 300, half + 300,
               half + 300);
  std::fprintf(f, "RING 2 VDD %.1f %.1f %.1f %.1f 60 0\r\n", -half - 400, -half - 400, half + 400,
               half + 400);
  std::fprintf(f, "SRING GR1 VDDIO %.1f %.1f %.1f %.1f 50 0\r\n", -half - 500, -half - 500,
               half + 500, half + 500);
  std::fprintf(f, "SRSEG GR1 VDDIO 0 90\r\nSRSEG GR1 VDDQ 90 180\r\nSRSEG GR1 VDDIO 180 360\r\n");
  std::fprintf(f, "DAP PAD1 %.1f %.1f %.1f %.1f 25\r\n", -half + 100, -half + 100, half - 100,
               half - 100);
  return true;
}

void WriteSettings(std::FILE* f, const std::string& package_name) {
  std::fprintf(f,
               "TMVFile=%s\r\nMaterial=Au\r\nWireDiameter=1.000\r\nWireDistance=150.000\r\n"
               "Frequency=1000000000.000\r\nBaseLoopHeight=200.000\r\nBaseExtension=250.000\r\n"
               "StackLoopHeight=180.000\r\nStackExtension=-1.000\r\nStichExtension=100.000\r\n",
               package_name.c_str());
}

std::string PackageText(long wires) {
  return Captured([wires](std::FILE* f) { WritePackage(f, wires); });
}

std::string SettingsText(const std::string& package_name) {
  return Captured([&package_name](std::FILE* f) { WriteSettings(f, package_name); });
}

}  // namespace ostrel::bench
