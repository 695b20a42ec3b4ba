#include "ui/loop_schematic.h"

#include "base/numeric.h"

namespace ostrel::ui {
namespace {

// A fixed coordinate moved by a single-precision length times a single-precision scale, the
// product taken in double and the result stored as a single.
float Moved(float fixed, float length, float scale) {
  return static_cast<float>(static_cast<double>(fixed) +
                            static_cast<double>(length) * static_cast<double>(scale));
}

// Schematic units per micron for a block drawn `block_height` units high for a die `die_height`
// microns high.
float ScaleFor(float block_height, float die_height) {
  return static_cast<float>(static_cast<double>(block_height) / static_cast<double>(die_height));
}

SchematicLine Line(float x1, float y1, float x2, float y2, int width = 1, bool dotted = false) {
  return SchematicLine{x1, y1, x2, y2, kActiveLine, width, dotted};
}

}  // namespace

LoopSchematic DesignSchematic() {
  LoopSchematic s;
  s.Die[0] = DieBlock{"Base", 60, 1200, 1395, 195, kBaseDieFill, true};
  s.Die[1] = DieBlock{"Stack", 60, 1020, 975, 195, kStackDieFill, true};
  s.SBP[0] = Line(2580, 1320, 3120, 1320, 3);
  s.SBP[1] = Line(3840, 1320, 4380, 1320, 3);
  s.Bbw[0] = Line(1260, 1200, 1260, 1020);
  s.Bbw[1] = Line(1260, 1020, 1440, 1020);
  s.Bbw[2] = Line(1440, 1020, 2820, 1320);
  s.sbw[0] = Line(840, 1020, 840, 840);
  s.sbw[1] = Line(840, 840, 1020, 840);
  s.sbw[2] = Line(1020, 840, 4140, 1320);
  s.sbw[3] = Line(840, 720, 1020, 720, 1, true);
  s.sbw[4] = Line(1020, 840, 1260, 1200, 1, true);
  return s;
}

float StackScaleFor(const LoopSchematic& schematic, float sd_comp_z, float base_scale) {
  if (sd_comp_z == 0.0f) return base_scale;
  return ScaleFor(schematic.Die[1].Height, sd_comp_z);
}

void Redraw(LoopSchematic& s, const ParameterSet& params, const SchematicContext& context) {
  // The stitch extension starts from where the stacked extension was left.
  s.sbw[3].X1 = s.sbw[1].X1;
  s.sbw[3].Y1 = s.sbw[1].Y1;
  s.sbw[3].X2 = s.sbw[1].X2;
  s.sbw[3].Y2 = s.sbw[1].Y2;

  auto set_colour = [&s](Rgb die0, Rgb die1, bool captions, Rgb lines) {
    s.Die[0].Fill = die0;
    s.Die[1].Fill = die1;
    s.Die[0].CaptionEnabled = s.Die[1].CaptionEnabled = captions;
    for (auto& line : s.SBP) line.Colour = lines;
    for (auto& line : s.Bbw) line.Colour = lines;
    for (auto& line : s.sbw) line.Colour = lines;
  };
  if (context.CompZ == 0.0f) {
    set_colour(kGrey, kGrey, false, kGrey);
    return;
  }
  set_colour(kBaseDieFill, kStackDieFill, true, kActiveLine);
  if (!context.HasStackedDie) {
    s.Die[1].Fill = kGrey;
    s.Die[1].CaptionEnabled = false;
    s.SBP[1].Colour = kGrey;
    for (auto& line : s.sbw) line.Colour = kGrey;
  }

  // Base wire: rise from the pad by the loop height, run by the extension, drop to the finger.
  const float base_scale = ScaleFor(s.Die[0].Height, context.CompZ);
  const float base_top = Moved(s.Bbw[0].Y1, -params.BaseLoopHeight, base_scale);
  s.Bbw[0].Y2 = base_top;
  s.Bbw[1].Y1 = s.Bbw[1].Y2 = base_top;
  s.Bbw[1].X2 = Moved(s.Bbw[1].X1, params.BaseExtension, base_scale);
  s.Bbw[2].X1 = s.Bbw[1].X2;
  s.Bbw[2].Y1 = base_top;
  if (!context.HasStackedDie) return;

  // Stacked wire and stitch wire share the rise from the stacked-die pad.
  const float stack_scale = StackScaleFor(s, context.SdCompZ, base_scale);
  const float stack_top = Moved(s.sbw[0].Y1, -params.StackLoopHeight, stack_scale);
  s.sbw[0].Y2 = stack_top;
  s.sbw[1].Y1 = s.sbw[1].Y2 = stack_top;
  s.sbw[1].X2 = context.StackExtensionToEdge
                    ? static_cast<float>(Wide(s.Die[0].Left) + Wide(s.Die[0].Width))
                    : Moved(s.sbw[1].X1, params.StackExtension, stack_scale);
  s.sbw[2].X1 = s.sbw[1].X2;
  s.sbw[2].Y1 = stack_top;
  s.sbw[3].Y1 = s.sbw[3].Y2 = stack_top;
  s.sbw[3].X2 = Moved(s.sbw[1].X1, params.StichExtension, stack_scale);
  s.sbw[4].X1 = s.sbw[3].X2;
  s.sbw[4].Y1 = stack_top;
}

}  // namespace ostrel::ui
