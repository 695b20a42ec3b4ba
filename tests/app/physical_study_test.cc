#include "app/physical_study.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <vector>

#include "app/study_controller.h"
#include "app/workspace.h"
#include "base/stage_error.h"

namespace ostrel {
namespace {

TEST(FrequencyOptionTest, ListsAndSweeps) {
  struct Case {
    const char* text;
    int kind;                  // 0 list, 1 log sweep, 2 linear sweep
    std::vector<double> want;  // empty: refused
  };
  const Case cases[] = {{"0,1e6,1e9", 0, {0, 1e6, 1e9}},
                        {"1e6:1e9:4", 1, {1e6, 1e7, 1e8, 1e9}},
                        {"0:1e9:3", 2, {0, 5e8, 1e9}},
                        {"5:5:1", 1, {5}},
                        {"0:1e9:3", 1, {}},
                        {"1e9:1e6:3", 2, {}},
                        {"1,,2", 0, {}},
                        {"-1", 0, {}},
                        {"1e6:1e9", 1, {}},
                        {"1:2:0", 2, {}},
                        {"1:2:10001", 2, {}},
                        {"1:2:1", 2, {}},
                        {"nan", 0, {}},
                        {"1e9x", 0, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " kind " + std::to_string(c.kind));
    auto parse = [&] { return c.kind == 0 ? FrequencyList(c.text) : Sweep(c.text, c.kind == 1); };
    if (c.want.empty()) {
      EXPECT_THROW(parse(), StageError);
      continue;
    }
    const std::vector<double> got = parse();
    ASSERT_EQ(got.size(), c.want.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.want[i], 1e-12 * c.want[i]);
  }
}

// The study's model options: the settings file's frequency when none is given, merged into a
// sweep when asked, every option out of range refused.
TEST(StudyOptionsTest, FrequenciesAndLimits) {
  struct Case {
    const char* name;
    StudyOptions study;
    std::vector<double> want_hz;  // empty: refused
  };
  const Case cases[] = {
      {"settings frequency alone", {}, {5e8}},
      {"list as given", {.frequencies_hz = {1e9, 0}}, {1e9, 0}},
      {"merged", {.frequencies_hz = {1e6, 1e9}, .with_settings_frequency = true}, {1e6, 5e8, 1e9}},
      {"already listed", {.frequencies_hz = {5e8}, .with_settings_frequency = true}, {5e8}},
      {"negative frequency", {.frequencies_hz = {-1}}, {}},
      {"negative depth", {.ground_depth_um = -1}, {}},
      {"eps_r below 1", {.eps_r = 0.9}, {}},
      {"negative clearance", {.clearance_um = -0.5}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.want_hz.empty()) {
      EXPECT_THROW(ModelOptions(c.study, 5e8), StageError);
      continue;
    }
    const physical::Options got = ModelOptions(c.study, 5e8);
    EXPECT_EQ(got.frequencies_hz, c.want_hz);
    EXPECT_DOUBLE_EQ(got.ground_depth_m, c.study.ground_depth_um * 1e-6);
  }
}

// The study of the bundled example: the nets pick wires with their rows and columns, the notes
// hold the clearance list, and a pattern matching no wire is refused.
TEST(PhysicalStudyTest, NetsPickWiresWithTheirRowsAndColumns) {
  Workspace ws;
  StartUp(ws, OSTREL_EXAMPLES_DIR "/AAAc.zv");
  RunEstimation(ws);
  struct Case {
    const char* patterns;
    std::vector<std::string> names;  // empty: refused
  };
  const Case cases[] = {{"T2", {"T2"}},
                        {"B?", {"B1", "B2", "B3", "B4", "B5", "B6", "B7", "B8"}},
                        {" L1 , R8 ", {"L1", "R8"}},
                        {"(S*", {"(S2:T3)", "(S3:T5)", "(S6:R6)"}},
                        {"t1", {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.patterns);
    StudyOptions options{.frequencies_hz = {1e9}, .nets = c.patterns};
    if (c.names.empty()) {
      EXPECT_THROW(RunPhysicalStudy(ws.Wires, ws.params, options), StageError);
      continue;
    }
    const PhysicalStudy study = RunPhysicalStudy(ws.Wires, ws.params, options);
    const physical::Model& s = study.Selected();
    ASSERT_EQ(s.conductors.size(), c.names.size());
    std::vector<std::size_t> was;
    for (std::size_t i = 0; i < s.conductors.size(); ++i) {
      EXPECT_EQ(s.conductors[i].name, c.names[i]);
      for (std::size_t w = 0; w < ws.Wires.size(); ++w) {
        if (ws.Wires[w].Name == c.names[i]) was.push_back(w);
      }
    }
    ASSERT_EQ(was.size(), c.names.size());
    for (std::size_t i = 0; i < was.size(); ++i) {
      EXPECT_EQ(s.results[0].resistance_ohm[i], study.model.results[0].resistance_ohm[was[i]]);
      for (std::size_t j = 0; j < was.size(); ++j) {
        EXPECT_EQ(s.loop_inductance_h.At(i, j), study.model.loop_inductance_h.At(was[i], was[j]));
        EXPECT_EQ(s.capacitance_f->At(i, j), study.model.capacitance_f->At(was[i], was[j]));
      }
    }
    // The example's stitches sit on balls: the notes name the pairs joined there.
    ASSERT_FALSE(study.notes.empty());
    EXPECT_NE(study.notes.back().find("(S3:T5)"), std::string::npos) << study.notes.back();
  }
}

// The order of computations in a window: each row is a script of events and what the
// controller answers to each, in order.
TEST(StudyControllerTest, StartsCancelsRestartsAndDiscards) {
  using Next = StudyController::Next;
  enum Event { kSmall, kLarge, kFailed, kCompute, kCancel, kStartRun, kEndRun };
  struct Case {
    const char* name;
    std::vector<Event> events;
    std::vector<Next> answers;  // one per event that answers (kSmall, kLarge, kCompute, kEndRun)
    bool cancelled;             // the first run's cancel flag at the end
  };
  const Case cases[] = {
      {"small package starts and is shown",
       {kSmall, kStartRun, kEndRun},
       {Next::kStart, Next::kShow},
       false},
      {"large package waits for Compute",
       {kLarge, kCompute, kStartRun, kEndRun},
       {Next::kAwaitCompute, Next::kStart, Next::kShow},
       false},
      {"Compute without an estimation", {kCompute}, {Next::kNothing}, false},
      {"new small estimation restarts",
       {kSmall, kStartRun, kSmall, kEndRun},
       {Next::kStart, Next::kNothing, Next::kStart},
       true},
      {"new large estimation discards",
       {kSmall, kStartRun, kLarge, kEndRun},
       {Next::kStart, Next::kAwaitCompute, Next::kDiscard},
       true},
      {"failed estimation discards",
       {kSmall, kStartRun, kFailed, kEndRun},
       {Next::kStart, Next::kDiscard},
       true},
      {"Compute while busy restarts",
       {kSmall, kStartRun, kCompute, kEndRun},
       {Next::kStart, Next::kNothing, Next::kStart},
       true},
      {"Cancel shows the outcome",
       {kSmall, kStartRun, kCancel, kEndRun},
       {Next::kStart, Next::kShow},
       true},
      {"Cancel drops a restart",
       {kSmall, kStartRun, kCompute, kCancel, kEndRun},
       {Next::kStart, Next::kNothing, Next::kDiscard},
       true},
      {"Cancel when idle",
       {kSmall, kStartRun, kEndRun, kCancel},
       {Next::kStart, Next::kShow},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StudyController controller;
    std::vector<Next> answers;
    std::vector<StudyController::Ticket> runs;
    for (const Event e : c.events) {
      switch (e) {
        case kSmall:
          answers.push_back(controller.Estimated(10));
          break;
        case kLarge:
          answers.push_back(controller.Estimated(100000));
          break;
        case kFailed:
          controller.EstimationFailed();
          break;
        case kCompute:
          answers.push_back(controller.ComputeAsked());
          break;
        case kCancel:
          controller.CancelAsked();
          break;
        case kStartRun:
          runs.push_back(controller.Started());
          break;
        case kEndRun:
          answers.push_back(controller.Finished(runs.back().run));
          break;
      }
    }
    EXPECT_EQ(answers, c.answers);
    if (!runs.empty()) EXPECT_EQ(runs.front().cancel->load(), c.cancelled);
    EXPECT_FALSE(controller.Busy());  // every script ends with no computation running
  }
}

// One progress over the whole study: each row is the stages as the model reports them and the
// overall fractions the window hears, with and without the capacitance.
TEST(OverallProgressTest, MapsStagesIntoOneRisingFraction) {
  struct Report {
    const char* stage;
    double fraction;
  };
  struct Case {
    const char* name;
    bool capacitance;
    std::vector<Report> reports;
    std::vector<double> heard;
  };
  const Case cases[] = {
      {"inductance, proximity, capacitance",
       true,
       {{"inductance", 0},
        {"inductance", 0.75},
        {"inductance", 1},
        {"proximity", 0.5},
        {"proximity", 1},
        {"capacitance", 0.25},
        {"capacitance", 1}},
       {0, 0.25, 1.0 / 3, 0.5, 2.0 / 3, 0.75, 1}},
      {"without the capacitance",
       false,
       {{"inductance", 0.5}, {"inductance", 1}, {"proximity", 0.5}, {"proximity", 1}},
       {0.25, 0.5, 0.75, 1}},
      {"sparse loop stage",
       true,
       {{"loop inductance", 1}, {"capacitance", 0.5}},
       {1.0 / 3, 5.0 / 6}},
      {"never falls back",
       true,
       {{"capacitance", 0.4}, {"inductance", 0.9}, {"proximity", 0.2}},
       {0.8, 0.8, 0.8}},
      {"unknown stage and odd fractions",
       false,
       {{"clearance", 0.3}, {"inductance", -1}, {"inductance", 7}, {"inductance", NAN}},
       {0, 0, 0.5, 0.5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> heard;
    std::vector<std::string> stages;
    physical::Progress whole;
    const std::atomic<bool> cancel{false};
    whole.cancel = &cancel;
    whole.report = [&](std::string_view stage, double fraction) {
      stages.emplace_back(stage);
      heard.push_back(fraction);
    };
    StudyOptions options;
    options.capacitance = c.capacitance;
    const physical::Progress overall = OverallProgress(whole, options);
    EXPECT_EQ(overall.cancel, &cancel);
    for (const Report& r : c.reports) overall.report(r.stage, r.fraction);
    ASSERT_EQ(heard.size(), c.heard.size());
    for (std::size_t i = 0; i < heard.size(); ++i) {
      EXPECT_NEAR(heard[i], c.heard[i], 1e-12) << i;
      EXPECT_EQ(stages[i], c.reports[i].stage);  // the stage is named as reported
    }
  }
}

// Each wire's nearest neighbour on the bundled example: wires listed as touching have a
// negative clearance, none lies beyond the distance asked for, and none is computed unasked.
TEST(PhysicalStudyTest, NearestClearancePerWire) {
  Workspace ws;
  StartUp(ws, OSTREL_EXAMPLES_DIR "/AAAc.zv");
  RunEstimation(ws);
  StudyOptions options{.frequencies_hz = {1e9}, .capacitance = false};
  EXPECT_TRUE(RunPhysicalStudy(ws.Wires, ws.params, options).nearest_clearance_m.empty());
  options.nearest_within_um = 150;
  const PhysicalStudy study = RunPhysicalStudy(ws.Wires, ws.params, options);
  ASSERT_EQ(study.nearest_clearance_m.size(), ws.Wires.size());
  std::size_t found = 0;
  for (double m : study.nearest_clearance_m) {
    if (std::isnan(m)) continue;
    EXPECT_LE(m, 150e-6);
    ++found;
  }
  EXPECT_GT(found, ws.Wires.size() / 2);  // pads 110 um apart: most wires have a neighbour
  ASSERT_FALSE(study.model.clearance.empty());
  for (const physical::Clearance& pair : study.model.clearance) {
    EXPECT_LE(study.nearest_clearance_m[pair.wire_a], pair.clearance_m);
    EXPECT_LE(study.nearest_clearance_m[pair.wire_b], pair.clearance_m);
    EXPECT_LT(study.nearest_clearance_m[pair.wire_a], 0);
  }
}

}  // namespace
}  // namespace ostrel
