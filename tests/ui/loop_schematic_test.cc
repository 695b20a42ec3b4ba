// The loop schematic's geometry and colours for the loop parameters and die heights.

#include "ui/loop_schematic.h"

#include <QObject>
#include <QTest>

using ostrel::ParameterSet;
using ostrel::ui::DesignSchematic;
using ostrel::ui::LoopSchematic;
using ostrel::ui::Redraw;
using ostrel::ui::SchematicContext;

Q_DECLARE_METATYPE(ParameterSet)
Q_DECLARE_METATYPE(SchematicContext)

namespace {

ParameterSet Loops(float base_height, float base_ext, float stack_height, float stack_ext,
                   float stitch_ext) {
  ParameterSet p;
  p.BaseLoopHeight = base_height;
  p.BaseExtension = base_ext;
  p.StackLoopHeight = stack_height;
  p.StackExtension = stack_ext;
  p.StichExtension = stitch_ext;
  return p;
}

// The end points that no redraw may move: each drop ends where the design put it.
void CheckFixedEnds(const LoopSchematic& s) {
  const LoopSchematic d = DesignSchematic();
  for (std::size_t i = 0; i < s.Die.size(); ++i) {
    QCOMPARE(s.Die[i].Left, d.Die[i].Left);
    QCOMPARE(s.Die[i].Top, d.Die[i].Top);
    QCOMPARE(s.Die[i].Width, d.Die[i].Width);
    QCOMPARE(s.Die[i].Height, d.Die[i].Height);
  }
  QCOMPARE(s.Bbw[0].X1, 1260.0f);
  QCOMPARE(s.Bbw[0].Y1, 1200.0f);
  QCOMPARE(s.Bbw[2].X2, 2820.0f);
  QCOMPARE(s.Bbw[2].Y2, 1320.0f);
  QCOMPARE(s.sbw[0].Y1, 1020.0f);
  QCOMPARE(s.sbw[2].X2, 4140.0f);
  QCOMPARE(s.sbw[2].Y2, 1320.0f);
  QCOMPARE(s.sbw[4].X2, 1260.0f);  // the stitch lands on the base-die pad
  QCOMPARE(s.sbw[4].Y2, 1200.0f);
  QCOMPARE(s.SBP[0].X1, d.SBP[0].X1);
  QCOMPARE(s.SBP[1].X2, d.SBP[1].X2);
}

}  // namespace

class LoopSchematicTest : public QObject {
  Q_OBJECT

 private slots:
  // Wire corners for loop values and die heights. Each die is drawn 195 units thick, so a loop
  // is drawn in proportion to its own die.
  void loopCorners_data() {
    QTest::addColumn<ParameterSet>("params");
    QTest::addColumn<SchematicContext>("context");
    QTest::addColumn<float>("base_top");    // y of the base wire's run
    QTest::addColumn<float>("base_end");    // x where the base wire starts to drop
    QTest::addColumn<float>("stack_top");   // y of the stacked and stitch wires' run
    QTest::addColumn<float>("stack_end");   // x where the stacked wire starts to drop
    QTest::addColumn<float>("stitch_end");  // x where the stitch wire starts to drop

    QTest::newRow("loops at die height")
        << Loops(200, 200, 200, 200, 200) << SchematicContext{200, 200, true, false} << 1005.0f
        << 1455.0f << 825.0f << 1035.0f << 1035.0f;
    QTest::newRow("bundled example, edge of base die")
        << Loops(200, 250, 180, -1, 100) << SchematicContext{200, 150, true, true} << 1005.0f
        << 1503.75f << 786.0f << 1455.0f << 970.0f;
    QTest::newRow("edge of base die ignores a thin stacked die")
        << Loops(200, 250, 10, -1, 10) << SchematicContext{200, 10, true, true} << 1005.0f
        << 1503.75f << 825.0f << 1455.0f << 1035.0f;
    QTest::newRow("zero base extension drops straight above the pad")
        << Loops(100, 0, 75, 0, 0) << SchematicContext{200, 150, true, false} << 1102.5f << 1260.0f
        << 922.5f << 840.0f << 840.0f;
    QTest::newRow("stacked die of height 0 takes the base die's scale")
        << Loops(200, 100, 100, 100, 40) << SchematicContext{200, 0, true, false} << 1005.0f
        << 1357.5f << 922.5f << 937.5f << 879.0f;
    QTest::newRow("negative values go below the pad and to the left")
        << Loops(-100, -100, -150, -150, -150) << SchematicContext{200, 150, true, false} << 1297.5f
        << 1162.5f << 1215.0f << 645.0f << 645.0f;
  }

  void loopCorners() {
    QFETCH(ParameterSet, params);
    QFETCH(SchematicContext, context);
    QFETCH(float, base_top);
    QFETCH(float, base_end);
    QFETCH(float, stack_top);
    QFETCH(float, stack_end);
    QFETCH(float, stitch_end);

    LoopSchematic s = DesignSchematic();
    Redraw(s, params, context);

    // Base wire: rise, run at loop height, drop.
    QCOMPARE(s.Bbw[0].Y2, base_top);
    QCOMPARE(s.Bbw[1].Y1, base_top);
    QCOMPARE(s.Bbw[1].Y2, base_top);
    QCOMPARE(s.Bbw[1].X1, 1260.0f);
    QCOMPARE(s.Bbw[1].X2, base_end);
    QCOMPARE(s.Bbw[2].X1, base_end);
    QCOMPARE(s.Bbw[2].Y1, base_top);
    // Stacked wire and the dotted stitch wire share the rise and the loop height.
    QCOMPARE(s.sbw[0].X2, 840.0f);
    QCOMPARE(s.sbw[0].Y2, stack_top);
    QCOMPARE(s.sbw[1].Y1, stack_top);
    QCOMPARE(s.sbw[1].X2, stack_end);
    QCOMPARE(s.sbw[2].X1, stack_end);
    QCOMPARE(s.sbw[2].Y1, stack_top);
    QCOMPARE(s.sbw[3].X1, 840.0f);
    QCOMPARE(s.sbw[3].Y1, stack_top);
    QCOMPARE(s.sbw[3].Y2, stack_top);
    QCOMPARE(s.sbw[3].X2, stitch_end);
    QCOMPARE(s.sbw[4].X1, stitch_end);
    QCOMPARE(s.sbw[4].Y1, stack_top);
    CheckFixedEnds(s);
    if (QTest::currentTestFailed()) return;
    QVERIFY(s.sbw[3].Dotted && s.sbw[4].Dotted && !s.sbw[1].Dotted);
  }

  // With no package loaded everything turns grey and nothing moves; a package brings the die
  // colours and black lines back.
  void noPackageGreysWithoutMoving() {
    LoopSchematic s = DesignSchematic();
    Redraw(s, Loops(500, 500, 500, 500, 500), SchematicContext{0, 150, true, false});
    LoopSchematic expected = DesignSchematic();
    expected.sbw[3] = {840, 840, 1020, 840, ostrel::ui::kGrey, 1, true};
    for (auto& die : expected.Die) {
      die.Fill = ostrel::ui::kGrey;
      die.CaptionEnabled = false;
    }
    for (auto& l : expected.SBP) l.Colour = ostrel::ui::kGrey;
    for (auto& l : expected.Bbw) l.Colour = ostrel::ui::kGrey;
    for (auto& l : expected.sbw) l.Colour = ostrel::ui::kGrey;
    QCOMPARE(s, expected);

    Redraw(s, Loops(200, 200, 200, 200, 200), SchematicContext{200, 150, true, false});
    QCOMPARE(s.Die[0].Fill, ostrel::ui::kBaseDieFill);
    QCOMPARE(s.Die[1].Fill, ostrel::ui::kStackDieFill);
    QVERIFY(s.Die[0].CaptionEnabled && s.Die[1].CaptionEnabled);
    for (const auto& l : s.sbw) QCOMPARE(l.Colour, ostrel::ui::kActiveLine);
    QCOMPARE(s.SBP[1].Colour, ostrel::ui::kActiveLine);
  }

  // A package without a stacked die greys the stacked block, its finger and the stacked and
  // stitch wires and leaves them where the last stacked redraw put them; the stitch run then
  // lies over the stacked run. The base wire still follows its parameters.
  void withoutStackedDieStackedWiresStayGrey() {
    LoopSchematic s = DesignSchematic();
    Redraw(s, Loops(200, 250, 180, -1, 100), SchematicContext{200, 150, true, true});
    const LoopSchematic stacked = s;

    Redraw(s, Loops(100, 0, 900, 900, 900), SchematicContext{200, 150, false, false});
    QCOMPARE(s.Die[0].Fill, ostrel::ui::kBaseDieFill);
    QCOMPARE(s.Die[1].Fill, ostrel::ui::kGrey);
    QVERIFY(!s.Die[1].CaptionEnabled);
    QCOMPARE(s.SBP[0].Colour, ostrel::ui::kActiveLine);
    QCOMPARE(s.SBP[1].Colour, ostrel::ui::kGrey);
    for (int i : {0, 1, 2, 4}) {
      QCOMPARE(s.sbw[i].X1, stacked.sbw[i].X1);
      QCOMPARE(s.sbw[i].Y1, stacked.sbw[i].Y1);
      QCOMPARE(s.sbw[i].X2, stacked.sbw[i].X2);
      QCOMPARE(s.sbw[i].Y2, stacked.sbw[i].Y2);
      QCOMPARE(s.sbw[i].Colour, ostrel::ui::kGrey);
    }
    QCOMPARE(s.sbw[3].X1, stacked.sbw[1].X1);
    QCOMPARE(s.sbw[3].Y1, stacked.sbw[1].Y1);
    QCOMPARE(s.sbw[3].X2, stacked.sbw[1].X2);
    QCOMPARE(s.sbw[3].Y2, stacked.sbw[1].Y2);
    QCOMPARE(s.Bbw[0].Y2, 1102.5f);
    QCOMPARE(s.Bbw[2].X1, 1260.0f);
    QCOMPARE(s.Bbw[0].Colour, ostrel::ui::kActiveLine);
  }
};

QObject* NewLoopSchematicTest() { return new LoopSchematicTest; }

#include "loop_schematic_test.moc"
