#include "support/random_package.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <utility>
#include <vector>

namespace ostrel::testing_support {
namespace {

// Draws from std::mt19937_64 (whose sequence the standard fixes) through distributions written
// out here, since the standard library's differ between implementations.
class Draw {
 public:
  explicit Draw(std::uint64_t seed) : engine_(seed) {}
  // Uniform in [lo, hi), from the top 53 bits of one draw.
  double Uniform(double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(engine_() >> 11) * 0x1p-53;
  }
  // Uniform in lo..hi (the modulo bias of a 64-bit draw does not matter here).
  int Int(int lo, int hi) {
    return lo + static_cast<int>(engine_() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  bool Chance(double p) { return Uniform(0, 1) < p; }

 private:
  std::mt19937_64 engine_;
};

// A number as the files write it; a position written twice reads back as the same single.
std::string Num(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

struct Plan {
  double x = 0, y = 0;
};

// A pad of either die with its finger and the height of its wire's start.
struct Bond {
  std::string name, side;
  Plan pad, finger;
  double z = 0;
};

// The point `along` the edge of `side` and `across` it from the die centre, outwards positive.
Plan OnSide(char side, double along, double across) {
  return side == 'T'   ? Plan{along, across}
         : side == 'B' ? Plan{along, -across}
         : side == 'R' ? Plan{across, along}
                       : Plan{-across, along};
}

}  // namespace

RandomPackage MakeRandomPackage(std::uint64_t seed, const std::string& package_file_name) {
  Draw draw(seed);
  RandomPackage out;
  const auto feature = [&](const char* word) {
    if (out.features.find(word) == std::string::npos) out.features += std::string(" ") + word;
  };
  const double hostility = std::vector<double>{0, 0.12, 0.3}[std::size_t(draw.Int(0, 2))];
  const double diameter_mil = std::vector<double>{0.8, 1.0, 1.2, 1.5}[std::size_t(draw.Int(0, 3))];
  const double diameter_um = 25.4 * diameter_mil;
  const double comp_w = draw.Uniform(1800, 4000), comp_l = draw.Uniform(1800, 4000);
  const double comp_z = draw.Uniform(150, 250);
  const bool stacked = draw.Chance(0.5);
  const double sd_z = draw.Uniform(100, 200);

  std::vector<Bond> base;  // in file order
  for (char side : {'T', 'B', 'L', 'R'}) {
    const double half_along = (side == 'T' || side == 'B' ? comp_w : comp_l) / 2;
    const double half_across = (side == 'T' || side == 'B' ? comp_l : comp_w) / 2;
    const bool close = draw.Chance(0.35);
    if (close) feature("close-pitch");
    const double pitch = close ? diameter_um * draw.Uniform(1.1, 3) : draw.Uniform(60, 150);
    const int count = draw.Int(2, 6);
    const double first = draw.Uniform(-0.3, 0.3) * half_along - pitch * (count - 1) / 2;
    const double pad_across = half_across - draw.Uniform(60, 120);
    const double finger_across = half_across + draw.Uniform(300, 700);
    const double fan = draw.Uniform(1.0, 1.6);
    std::vector<Bond> row;
    for (int k = 0; k < count; ++k) {
      const double along = first + k * pitch;
      row.push_back({std::string(1, side) + std::to_string(k + 1), std::string(1, side),
                     OnSide(side, along, pad_across),
                     OnSide(side, along * fan + draw.Uniform(-5, 5), finger_across), comp_z});
    }
    const std::size_t n = row.size();
    for (std::size_t k = 1; k < n; ++k) {
      if (draw.Chance(hostility)) {
        std::swap(row[k].finger, row[k - 1].finger);
        feature("crossing");
      } else if (draw.Chance(hostility / 2)) {
        row[k].finger = row[k - 1].finger;
        feature("shared-finger");
      }
    }
    for (std::size_t k = 0; k < n; ++k) {
      if (draw.Chance(hostility / 2)) {  // a second pad on the first, to its own finger
        Bond second = row[k];
        second.name += "d";
        const double shift = std::max(pitch, 2 * diameter_um) / 2;
        second.finger = {row[k].finger.x + (side == 'T' || side == 'B' ? shift : 0),
                         row[k].finger.y + (side == 'T' || side == 'B' ? 0 : shift)};
        row.push_back(second);
        feature("double-bond");
      }
      if (draw.Chance(hostility / 3)) {  // the same wire once more
        row.push_back(row[k]);
        row.back().name += "u";
        feature("duplicate");
      }
    }
    base.insert(base.end(), row.begin(), row.end());
  }

  std::vector<Bond> stack;
  const double sd_w = comp_w * draw.Uniform(0.4, 0.7), sd_l = comp_l * draw.Uniform(0.4, 0.7);
  if (stacked) {
    feature("stack");
    for (char side : {'T', 'B', 'L', 'R'}) {
      if (!draw.Chance(0.6) && !(side == 'R' && stack.empty())) continue;
      const bool along_x = side == 'T' || side == 'B';
      const double half_across = (along_x ? sd_l : sd_w) / 2;
      const double base_across = (along_x ? comp_l : comp_w) / 2;
      const int count = draw.Int(1, 4);
      const double pitch = draw.Uniform(80, 200);
      for (int k = 0; k < count; ++k) {
        const double along = (k - (count - 1) / 2.0) * pitch;
        stack.push_back({"S" + std::string(1, side) + std::to_string(k + 1), std::string(1, side),
                         OnSide(side, along, half_across - 50),
                         OnSide(side, 1.3 * along, base_across + draw.Uniform(900, 1300)),
                         comp_z + sd_z});
      }
    }
  }

  // Stitches: from the stacked die (or a point on the base die) onto the ball of a base-die
  // wire, and from the ball of a base-die wire to a stacked pad or to another ball.
  std::string stitches;
  const auto stitch = [&](const std::string& from, Plan a, double za, const Bond& to, double zb) {
    stitches += "STCH " + from + " " + Num(a.x) + " " + Num(a.y) + " " + to.name + " " +
                Num(to.pad.x) + " " + Num(to.pad.y) + " " + Num(za) + " " + Num(zb) + "\n";
  };
  const int stitch_count = hostility > 0 ? draw.Int(0, 3) : 0;
  for (int k = 0; k < stitch_count; ++k) {
    const Bond& ball = base[std::size_t(draw.Int(0, int(base.size()) - 1))];
    const bool onto_ball = draw.Chance(0.5);
    if (onto_ball && stack.empty()) {
      stitch("P" + std::to_string(k), {ball.pad.x * 0.4, ball.pad.y * 0.4}, comp_z, ball, comp_z);
      feature("stitch-on-ball");
    } else if (onto_ball || !stack.empty()) {
      const Bond& top = stack[std::size_t(draw.Int(0, int(stack.size()) - 1))];
      if (onto_ball) stitch(top.name, top.pad, comp_z + sd_z, ball, comp_z);
      if (!onto_ball) stitch(ball.name, ball.pad, comp_z, top, comp_z + sd_z);
      feature(onto_ball ? "stitch-on-ball" : "stitch-from-ball");
    } else {
      const Bond& other = base[std::size_t(draw.Int(0, int(base.size()) - 1))];
      if (std::hypot(other.pad.x - ball.pad.x, other.pad.y - ball.pad.y) < 500) continue;
      stitch(ball.name, ball.pad, comp_z, other, comp_z);
      feature("stitch-ball-to-ball");
    }
  }

  std::string& t = out.package_text;
  t += "TECHNOLOGY cmos018\nCOMPW " + Num(comp_w) + "\nCOMPL " + Num(comp_l) + "\n";
  if (stacked) {
    t += "SD_TECHNOLOGY bicmos\nSD_COMPW " + Num(sd_w) + "\nSD_COMPL " + Num(sd_l) +
         "\nSD_XOFFSET 0\nSD_YOFFSET 0\nSD_ROTATION 0\nSD_COMPZ " + Num(sd_z) + "\n";
  }
  t += "COMPZ " + Num(comp_z) + "\n";
  for (const auto* dies : {&base, &stack}) {
    const char* keyword = dies == &base ? "CBP " : "SD_CBP ";
    for (const Bond& b : *dies) {
      t += keyword + b.name + " " + Num(b.pad.x) + " " + Num(b.pad.y) + " 0 60 80 0 " + b.side +
           " IO\n";
    }
    for (const Bond& b : *dies) {
      t += "SBP " + b.name + " " + Num(b.finger.x) + " " + Num(b.finger.y) + " 0 80 200 0 GOLD\n";
      t += "WB " + b.name + " " + Num(b.pad.x) + " " + Num(b.pad.y) + " 0 " + Num(b.finger.x) +
           " " + Num(b.finger.y) + " " + Num(b.z) + " 0\n";
    }
  }
  t += stitches;

  // One draw a statement: the operands of one expression have no fixed order of evaluation.
  const char* metal = std::vector<const char*>{"Au", "Cu", "Al"}[std::size_t(draw.Int(0, 2))];
  const double base_height = draw.Uniform(150, 300);
  const double base_extension = draw.Uniform(100, 300);
  const double stack_height = draw.Uniform(150, 250);
  const double stack_extension = draw.Chance(0.5) ? -1.0 : draw.Uniform(100, 300);
  const double stitch_extension = draw.Uniform(60, 150);
  out.settings_text =
      "TMVFile=" + package_file_name + "\nMaterial=" + metal +
      "\nWireDiameter=" + Num(diameter_mil) +
      "\nWireDistance=150.000\nFrequency=1000000000.000\nBaseLoopHeight=" + Num(base_height) +
      "\nBaseExtension=" + Num(base_extension) + "\nStackLoopHeight=" + Num(stack_height) +
      "\nStackExtension=" + Num(stack_extension) + "\nStichExtension=" + Num(stitch_extension) +
      "\n";
  return out;
}

}  // namespace ostrel::testing_support
