// The window's Qt-free parts: the loop schematic's geometry and colours for the loop parameters
// and die heights, the file dialog's name filters, what the physical view says about its
// results (ViewState) and the plan of the package.

#include <QObject>
#include <QTest>
#include <cmath>
#include <limits>
#include <map>

#include "app/physical_study.h"
#include "app/workspace.h"
#include "ui/loop_schematic.h"
#include "ui/plan_scene.h"
#include "ui/toolkit.h"
#include "ui/view_state.h"

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

  // What the view says after each script of events: the banners in order, a phrase the first
  // banner holds, and whether Compute and the exports may be used.
  void viewStateScripts() {
    ostrel::Workspace ws;
    ostrel::StartUp(ws, OSTREL_EXAMPLES_DIR "/AAAc.zv");
    ostrel::RunEstimation(ws);
    const Estimation a{ws.package, ws.Wires, ws.params};
    Estimation fewer = a, faster = a, none = a;
    fewer.wires.pop_back();
    faster.params.Frequency *= 2;
    none.wires.clear();
    enum Event {
      kA,
      kFewer,
      kFaster,
      kNone,
      kPdFails,
      kDeeper,
      kBack,
      kStart,
      kDone,
      kFail,
      kEnd,
      kExportFails,
      kExported,
      kPairs,
      kPairsFault
    };
    using Kind = Banner::Kind;
    const struct {
      const char* name;
      std::vector<Event> events;
      std::vector<Kind> banners;
      const char* says;  // in the first banner
      bool compute, exports;
    } cases[] = {
        {"nothing yet", {}, {}, "", false, false},
        {"estimated", {kA}, {}, "", true, false},
        {"computed", {kA, kStart, kDone}, {}, "", true, true},
        {"shown without a start", {kA, kDeeper, kDone}, {}, "", true, true},
        {"deeper plane",
         {kA, kStart, kDone, kDeeper},
         {Kind::kStale},
         "ground plane depth (50 µm then, 80 µm now)",
         true,
         true},
        {"depth put back", {kA, kStart, kDone, kDeeper, kBack}, {}, "", true, true},
        {"computed again", {kA, kStart, kDone, kDeeper, kStart, kDone}, {}, "", true, true},
        {"changed while computing",
         {kA, kStart, kDeeper, kDone},
         {Kind::kStale},
         "80 µm now",
         true,
         true},
        {"other wires",
         {kA, kStart, kDone, kFewer},
         {Kind::kStale},
         "wires (40 wires then, 39 wires now)",
         true,
         true},
        {"same wires again", {kA, kStart, kDone, kA}, {}, "", true, true},
        {"settings frequency",
         {kA, kStart, kDone, kFaster},
         {Kind::kStale},
         "settings frequency (1 GHz then, 2 GHz now)",
         true,
         true},
        {"Process Data fails",
         {kA, kStart, kDone, kPdFails},
         {Kind::kEstimationFailed},
         "belong to the previous run",
         true,
         true},
        {"Process Data recovers", {kA, kStart, kDone, kPdFails, kA}, {}, "", true, true},
        {"compute fails",
         {kA, kStart, kDone, kDeeper, kStart, kFail},
         {Kind::kComputeFailed, Kind::kStale},
         "belong to the previous run",
         true,
         true},
        {"first compute fails",
         {kA, kStart, kFail},
         {Kind::kComputeFailed},
         "no matrix",
         true,
         false},
        {"cancelled",
         {kA, kStart, kDone, kDeeper, kStart, kEnd},
         {Kind::kStale},
         "Press Compute",
         true,
         true},
        {"export fails",
         {kA, kStart, kDone, kExportFails},
         {Kind::kExportFailed},
         "Not written: disk full",
         true,
         true},
        {"export then works", {kA, kStart, kDone, kExportFails, kExported}, {}, "", true, true},
        {"pairs named",
         {kA, kStart, kDone, kPairs},
         {Kind::kStale},
         "the pairs (none then, T2/T3 now)",
         true,
         true},
        {"pairs that pair nothing", {kA, kPairsFault}, {}, "", false, false},
        {"no wires", {kNone}, {}, "", false, false},
        {"no wires after a model",
         {kA, kStart, kDone, kNone},
         {Kind::kStale},
         "0 wires now",
         false,
         true},
    };
    for (const auto& c : cases) {
      ViewState state;
      ViewOptions options;
      state.OptionsChanged(options);
      for (Event e : c.events) {
        switch (e) {
          case kA:
            state.Estimated(a);
            break;
          case kFewer:
            state.Estimated(fewer);
            break;
          case kFaster:
            state.Estimated(faster);
            break;
          case kNone:
            state.Estimated(none);
            break;
          case kPdFails:
            state.EstimationFailed("a side with one pad");
            break;
          case kDeeper:
            options.ground_depth_um = 80, state.OptionsChanged(options);
            break;
          case kBack:
            options = {}, state.OptionsChanged(options);
            break;
          case kStart:
            state.ComputeStarted();
            break;
          case kDone:
            state.Computed();
            break;
          case kFail:
            state.ComputeFailed("no matrix");
            break;
          case kEnd:
            state.ComputeEnded();
            break;
          case kExportFails:
            state.ExportFailed("disk full");
            break;
          case kExported:
            state.Exported();
            break;
          case kPairs:
            options.pairs = "T2/T3", state.OptionsChanged(options);
            break;
          case kPairsFault:
            state.PairsChecked("--pairs 'X*/Y*' pairs none of the 40 wires");
            break;
        }
      }
      const std::vector<Banner> banners = state.Banners();
      std::vector<Kind> kinds;
      for (const Banner& b : banners) kinds.push_back(b.kind);
      QVERIFY2(kinds == c.banners, c.name);
      if (!banners.empty()) {
        QVERIFY2(banners.front().text.find(c.says) != std::string::npos,
                 (std::string(c.name) + ": " + banners.front().text).c_str());
      }
      QVERIFY2(state.ComputeBlocked().empty() == c.compute, c.name);
      QVERIFY2(state.ExportBlocked().empty() == c.exports, c.name);
    }
  }

  // The plan of the bundled example: every wire's path, its figure by each quantity, the
  // overlapping pairs marked, the extent holding everything; a click finds the wire under it.
  void planOfTheExample() {
    ostrel::Workspace ws;
    ostrel::StartUp(ws, OSTREL_EXAMPLES_DIR "/AAAc.zv");
    ostrel::RunEstimation(ws);
    auto estimation = std::make_shared<Estimation>(Estimation{ws.package, ws.Wires, ws.params});
    ostrel::PhysicalStudy study =
        ostrel::RunPhysicalStudy(ws.Wires, ws.params, StudyOf(ViewOptions{}));
    PhysicalTable table(std::move(study.model), estimation);
    table.SetNearestClearance(study.nearest_clearance_m);
    const std::size_t n = ws.Wires.size();
    for (PlanQuantity q : kPlanQuantities) {
      const PlanScene scene = PlanOf(table, q);
      QCOMPARE(scene.paths.size(), n);
      QCOMPARE(scene.names.size(), n);
      // Two dies, every pad, a finger for each wire that lands on one, three rings and the
      // attach pad.
      std::map<PlanShape::Kind, std::size_t> kinds;
      for (const PlanShape& shape : scene.shapes) ++kinds[shape.kind];
      const std::size_t stitches = ws.package.Stitches.size();
      QCOMPARE(kinds[PlanShape::Kind::kBaseDie] + kinds[PlanShape::Kind::kStackedDie], 2ul);
      QCOMPARE(kinds[PlanShape::Kind::kPad],
               ws.package.ChipPads.size() + ws.package.StackPads.size());
      QCOMPARE(kinds[PlanShape::Kind::kFinger], n - stitches);
      QCOMPARE(kinds[PlanShape::Kind::kRing], 3ul);
      QCOMPARE(kinds[PlanShape::Kind::kAttachPad], 1ul);
      QCOMPARE(scene.overlaps.size(), std::size_t(2));  // S3/(S3:T5), S6/(S6:R6)
      QVERIFY(std::count(scene.joined.begin(), scene.joined.end(), true) >= 4);
      // The role colours by category, without a scale.
      const bool role = q == PlanQuantity::kRole;
      QVERIFY(role ? scene.category.size() == n && scene.lo == scene.hi : scene.lo < scene.hi);
      for (std::size_t w = 0; w < n; ++w) {
        QVERIFY(std::isfinite(scene.values[w]) || q == PlanQuantity::kClearance ||
                (role && scene.category[w] >= 0));
        for (PlanPoint p : scene.paths[w]) {
          QVERIFY(p.x >= scene.min.x && p.x <= scene.max.x && p.y >= scene.min.y &&
                  p.y <= scene.max.y);
        }
        // The middle of a wire's first piece finds that wire, or one coincident with it.
        const PlanPoint a = scene.paths[w][0], b = scene.paths[w][1];
        const int found = NearestWire(scene, {(a.x + b.x) / 2, (a.y + b.y) / 2}, 1);
        QVERIFY(found >= 0 && scene.paths[std::size_t(found)] == scene.paths[w]);
      }
      QCOMPARE(NearestWire(scene, {scene.max.x + 100, scene.max.y + 100}, 10), -1);
    }
    // Fingers lie side by side along their edge and pads likewise: no two overlap.
    const PlanScene plan = PlanOf(table, PlanQuantity::kLoopInductance);
    for (const PlanShape& a : plan.shapes) {
      for (const PlanShape& b : plan.shapes) {
        if (&a == &b || a.kind != b.kind ||
            (a.kind != PlanShape::Kind::kFinger && a.kind != PlanShape::Kind::kPad)) {
          continue;
        }
        const bool apart =
            a.hi.x <= b.lo.x || b.hi.x <= a.lo.x || a.hi.y <= b.lo.y || b.hi.y <= a.lo.y;
        QVERIFY2(apart, (a.name + " overlaps " + b.name).c_str());
      }
    }
    // R at the first frequency of the sweep (1 MHz): near the DC figure.
    const PlanScene r = PlanOf(table, PlanQuantity::kResistance);
    QCOMPARE(r.label, std::string("R @ 1 MHz (mΩ)"));
    QVERIFY(std::abs(r.values[0] / table.Value(0, Column::kResistanceDc) - 1) < 0.01);
  }

  // A scale of equal bounds, or bounds and values not finite, never divides by zero.
  void scaleFractions() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
      double value, lo, hi, fraction;  // NaN expected: NaN
    } cases[] = {{5, 0, 10, 0.5},  {-3, 0, 10, 0},    {30, 0, 10, 1},   {2, 2, 2, 0.5},
                 {2, 3, 1, 0.5},   {1, nan, 2, 0.5},  {1, 0, inf, 0.5}, {nan, 0, 1, nan},
                 {inf, 0, 1, nan}, {0.25, 0, 1, 0.25}};
    for (const auto& c : cases) {
      const double got = ScaleFraction(c.value, c.lo, c.hi);
      QVERIFY2(
          std::isnan(c.fraction) ? std::isnan(got) : got == c.fraction,
          qPrintable(QString("%1 on %2..%3 gave %4").arg(c.value).arg(c.lo).arg(c.hi).arg(got)));
    }
  }
};

QTEST_GUILESS_MAIN(UiLogicTest)
#include "ui_logic_test.moc"
