#pragma once

#include <array>
#include <string>

#include "geometry/parameter_set.h"

// The side view of the wire loops: the base die with the stacked die on it, two substrate
// fingers, and the base, stacked and stitch wires as chains of straight lines. Coordinates are
// schematic units (4695 x 1515, y grows downward); the widget only scales and paints them.
namespace ostrel::ui {

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kBaseDieFill{0, 192, 192};
inline constexpr Rgb kStackDieFill{0, 255, 0};
inline constexpr Rgb kActiveLine{0, 0, 0};
inline constexpr Rgb kGrey{224, 224, 224};  // fill and line colour of an element greyed out

inline constexpr float kSchematicWidth = 4695;
inline constexpr float kSchematicHeight = 1515;

// A filled block with a caption ("Base", "Stack").
struct DieBlock {
  std::string Caption;
  float Left = 0, Top = 0, Width = 0, Height = 0;
  Rgb Fill;
  bool CaptionEnabled = true;  // false: the caption is drawn greyed

  bool operator==(const DieBlock&) const = default;
};

struct SchematicLine {
  float X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  Rgb Colour = kActiveLine;
  int Width = 1;        // pixels
  bool Dotted = false;  // the stitch wire

  bool operator==(const SchematicLine&) const = default;
};

struct LoopSchematic {
  std::array<DieBlock, 2> Die;       // 0 base die, 1 stacked die
  std::array<SchematicLine, 2> SBP;  // 0 base-die finger, 1 stacked-die finger
  std::array<SchematicLine, 3> Bbw;  // base wire: rise, extension, drop
  std::array<SchematicLine, 5> sbw;  // stacked wire: rise, extension, drop; stitch: extension, drop

  bool operator==(const LoopSchematic&) const = default;
};

// The drawing before the first redraw; its fixed end points are the ones no redraw moves.
LoopSchematic DesignSchematic();

// What the redraw reads besides the parameter set.
struct SchematicContext {
  float CompZ = 0;                    // base die height, microns; 0 while no package is loaded
  float SdCompZ = 0;                  // stacked die height, microns
  bool HasStackedDie = false;         // the stacked-die wires are drawn and active
  bool StackExtensionToEdge = false;  // "Edge of Base Die" is the chosen stacked extension
};

// Scale of the stacked-die loops, schematic units per micron: the stacked block's height over
// SdCompZ. A stacked die of height 0 has no scale of its own; its loops are then drawn with
// `base_scale`, in proportion to the base die.
float StackScaleFor(const LoopSchematic& schematic, float sd_comp_z, float base_scale);

// Moves the loops to the parameters and sets the colours, as the panel refresh does. The
// stitch extension first takes the stacked extension's position from the previous redraw; with
// no package loaded everything turns grey and nothing moves; without a stacked die its block,
// finger and wires turn grey and stay where they were.
void Redraw(LoopSchematic& schematic, const ParameterSet& params, const SchematicContext& context);

}  // namespace ostrel::ui
