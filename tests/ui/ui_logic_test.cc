// The window's Qt-free parts: the loop schematic's geometry and colours for the loop parameters
// and die heights, and the file dialog's name filters.

#include <QObject>
#include <QTest>

#include "ui/loop_schematic.h"
#include "ui/toolkit.h"

using ostrel::ParameterSet;
using namespace ostrel::ui;

Q_DECLARE_METATYPE(ParameterSet)
Q_DECLARE_METATYPE(SchematicContext)

namespace {

// Base loop height and extension, stacked loop height and extension, stitch extension.
ParameterSet Loops(float bh, float be, float sh, float se, float st) {
  return {{}, 0, bh, be, sh, se, st};
}

}  // namespace

class UiLogicTest : public QObject {
  Q_OBJECT

 private slots:
  // Wire corners for loop values and die heights. Each die is drawn 195 units thick, so a loop
  // is drawn in proportion to its own die; every other point stays where the design put it.
  void loopCorners_data() {
    QTest::addColumn<ParameterSet>("params");
    QTest::addColumn<SchematicContext>("context");
    // y of the base wire's run, x where it starts to drop; y of the stacked and stitch wires'
    // run, x where the stacked wire and where the stitch wire start to drop.
    QTest::addColumn<QList<float>>("corners");

    QTest::newRow("loops at die height")
        << Loops(200, 200, 200, 200, 200) << SchematicContext{200, 200, true, false}
        << QList<float>{1005, 1455, 825, 1035, 1035};
    QTest::newRow("bundled example, edge of base die")
        << Loops(200, 250, 180, -1, 100) << SchematicContext{200, 150, true, true}
        << QList<float>{1005, 1503.75f, 786, 1455, 970};
    QTest::newRow("edge of base die ignores a thin stacked die")
        << Loops(200, 250, 10, -1, 10) << SchematicContext{200, 10, true, true}
        << QList<float>{1005, 1503.75f, 825, 1455, 1035};
    QTest::newRow("zero base extension drops straight above the pad")
        << Loops(100, 0, 75, 0, 0) << SchematicContext{200, 150, true, false}
        << QList<float>{1102.5f, 1260, 922.5f, 840, 840};
    QTest::newRow("stacked die of height 0 takes the base die's scale")
        << Loops(200, 100, 100, 100, 40) << SchematicContext{200, 0, true, false}
        << QList<float>{1005, 1357.5f, 922.5f, 937.5f, 879};
    QTest::newRow("negative values go below the pad and to the left")
        << Loops(-100, -100, -150, -150, -150) << SchematicContext{200, 150, true, false}
        << QList<float>{1297.5f, 1162.5f, 1215, 645, 645};
  }

  void loopCorners() {
    QFETCH(ParameterSet, params);
    QFETCH(SchematicContext, context);
    QFETCH(QList<float>, corners);
    LoopSchematic s = DesignSchematic();
    Redraw(s, params, context);

    LoopSchematic expected = DesignSchematic();
    auto& b = expected.Bbw;  // base wire: rise, run, drop
    b[0].Y2 = b[1].Y1 = b[1].Y2 = b[2].Y1 = corners[0];
    b[1].X2 = b[2].X1 = corners[1];
    auto& w = expected.sbw;  // stacked wire: rise, run, drop; dotted stitch wire: run, drop
    w[0].Y2 = w[1].Y1 = w[1].Y2 = w[2].Y1 = w[3].Y1 = w[3].Y2 = w[4].Y1 = corners[2];
    w[1].X2 = w[2].X1 = corners[3];
    w[3].X1 = w[1].X1;  // the stitch run starts above the stacked-die pad
    w[3].X2 = w[4].X1 = corners[4];
    QCOMPARE(s, expected);
    // The wires rise from their dies' tops, the stitch lands on the base-die pad and each drop
    // ends on its finger.
    QVERIFY(s.Bbw[0].Y1 == s.Die[0].Top && s.sbw[0].Y1 == s.Die[1].Top);
    QVERIFY(s.sbw[4].X2 == s.Bbw[0].X1 && s.sbw[4].Y2 == s.Bbw[0].Y1);
    QVERIFY(s.Bbw[2].Y2 == s.SBP[0].Y1 && s.SBP[0].X1 < s.Bbw[2].X2 && s.Bbw[2].X2 < s.SBP[0].X2);
    QVERIFY(s.sbw[2].Y2 == s.SBP[1].Y1 && s.SBP[1].X1 < s.sbw[2].X2 && s.sbw[2].X2 < s.SBP[1].X2);
  }

  // With no package loaded everything turns grey and nothing moves; a package brings the die
  // colours and black lines back.
  void noPackageGreysWithoutMoving() {
    LoopSchematic s = DesignSchematic();
    Redraw(s, Loops(500, 500, 500, 500, 500), SchematicContext{0, 150, true, false});
    LoopSchematic expected = DesignSchematic();
    expected.sbw[3] = {840, 840, 1020, 840, kGrey, 1, true};  // the stitch run on the stacked run
    for (auto& die : expected.Die) die.Fill = kGrey, die.CaptionEnabled = false;
    for (auto& l : expected.SBP) l.Colour = kGrey;
    for (auto& l : expected.Bbw) l.Colour = kGrey;
    for (auto& l : expected.sbw) l.Colour = kGrey;
    QCOMPARE(s, expected);

    LoopSchematic fresh = DesignSchematic();
    for (LoopSchematic* t : {&s, &fresh}) {
      Redraw(*t, Loops(200, 200, 200, 200, 200), SchematicContext{200, 150, true, false});
    }
    QCOMPARE(s, fresh);
  }

  // A package without a stacked die greys the stacked block, its finger and the stacked and
  // stitch wires and leaves them where the last stacked redraw put them; the stitch run then
  // lies over the stacked run. The base wire still follows its parameters.
  void withoutStackedDieStackedWiresStayGrey() {
    LoopSchematic s = DesignSchematic();
    Redraw(s, Loops(200, 250, 180, -1, 100), SchematicContext{200, 150, true, true});
    LoopSchematic expected = s;
    Redraw(s, Loops(100, 0, 900, 900, 900), SchematicContext{200, 150, false, false});

    expected.Bbw[0].Y2 = expected.Bbw[1].Y1 = expected.Bbw[1].Y2 = expected.Bbw[2].Y1 = 1102.5f;
    expected.Bbw[1].X2 = expected.Bbw[2].X1 = 1260;
    expected.sbw[3] = expected.sbw[1];
    expected.sbw[3].Dotted = true;
    for (auto& l : expected.sbw) l.Colour = kGrey;
    expected.SBP[1].Colour = expected.Die[1].Fill = kGrey;
    expected.Die[1].CaptionEnabled = false;
    QCOMPARE(s, expected);
  }

  // Qt's file dialog takes "Description (pattern ...)"; a description without a pattern is
  // dropped.
  void nameFilters() {
    using Filters = std::vector<std::string>;
    QVERIFY(NameFilters("ZV Files|*.zv|All Files|*.*") ==
            (Filters{"ZV Files (*.zv)", "All Files (*)"}));
    QVERIFY(NameFilters("Settings|*.zv;*.ZV|Other") == Filters{"Settings (*.zv *.ZV)"});
    QVERIFY(NameFilters("").empty());
  }
};

QTEST_GUILESS_MAIN(UiLogicTest)
#include "ui_logic_test.moc"
