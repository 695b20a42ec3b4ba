// CSV and JSON exports: read back and compared with the report of the same run.

#include "report/exports.h"

#include <gtest/gtest.h>

#include <cmath>

#include "export_test_support.h"
#include "package/stage_error.h"
#include "package/text.h"
#include "report/report_writer.h"

namespace ostrel {
namespace {

using namespace testing_support;

// RFC 4180 rows: quoted fields may hold commas, doubled quotes and line breaks.
std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false, was_quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"' && field.empty() && !was_quoted) {
      quoted = was_quoted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
      was_quoted = false;
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(field);
      field.clear();
      was_quoted = false;
      rows.emplace_back();
      ++i;
    } else {
      EXPECT_NE(c, '\n') << "a row must end with CR LF";
      field += c;
    }
  }
  EXPECT_TRUE(rows.back().empty() && field.empty()) << "the last row must end with CR LF";
  rows.pop_back();
  return rows;
}

// The six report values of a wire as the exports give them, in report order.
void ExpectSameAsReport(const ReportWire& report, const std::vector<float>& values) {
  ASSERT_EQ(report.fields.size(), 6u);
  ASSERT_EQ(values.size(), 6u);
  const char* names[] = {"length", "resistance", "DC", "AC", "self", "mutual"};
  for (std::size_t k = 0; k < 6; ++k) {
    SCOPED_TRACE(names[k]);
    EXPECT_EQ(FormatFixed3(values[k]), report.fields[k]);
  }
}

class ExportsEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = ExampleFolder();
    std::string log;
    ASSERT_EQ(RunIn(dir_,
                    std::string("'") + OSTREL_CLI_PATH +
                        "' --csv w.csv --json w.json --spice w.cir --svg w.svg AAAc.zv",
                    log),
              0)
        << log;
    report_ = ReadWholeFile((dir_ / "AAAc.zv.doc").string());
    wires_ = ReportWires(report_);
    ASSERT_EQ(wires_.size(), 40u);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Read(const std::string& name) { return ReadWholeFile((dir_ / name).string()); }

  fs::path dir_;
  std::string report_;
  std::vector<ReportWire> wires_;
};

TEST_F(ExportsEndToEnd, ReportIsUnchangedByTheExports) {
  EXPECT_EQ(report_, ReadWholeFile(std::string(OSTREL_TEST_DATA_DIR) + "/example/AAAc.zv.doc"));
}

TEST_F(ExportsEndToEnd, CsvRowsMatchTheReport) {
  const auto rows = CsvRows(Read("w.csv"));
  ASSERT_EQ(rows.size(), wires_.size() + 1);
  ASSERT_EQ(rows[0].size(), 15u);
  EXPECT_EQ(rows[0][0], "name");
  EXPECT_EQ(rows[0][10], "resistance_mohm");
  for (std::size_t i = 0; i < wires_.size(); ++i) {
    const std::vector<std::string>& row = rows[i + 1];
    SCOPED_TRACE(wires_[i].name);
    ASSERT_EQ(row.size(), 15u);
    EXPECT_EQ(row[0], wires_[i].name);
    std::vector<float> values;
    for (std::size_t k = 9; k < 15; ++k) values.push_back(ParseFloat(row[k]));
    ExpectSameAsReport(wires_[i], values);
  }
}

TEST_F(ExportsEndToEnd, JsonMatchesTheReportAndTheRun) {
  const Json doc = JsonReader::Parse(Read("w.json"));
  EXPECT_EQ(doc["settings_file"].text, "AAAc.zv");
  EXPECT_EQ(doc["package_file"].text, "AAAc.tmv");
  EXPECT_EQ(doc["frame"].text, "package");
  const Json& p = doc["parameters"];
  EXPECT_EQ(p["material"].text, "Au");
  EXPECT_EQ(p["frequency_hz"].Float(), 1e9f);
  EXPECT_EQ(p["stack_extension_um"].Float(), -1.0f);
  // The report shows the wire distance the run used (the default from the pad pitch).
  EXPECT_NE(report_.find(ValueField(p["wire_distance_um"].Float()) + " Microns"),
            std::string::npos);
  const std::vector<Json>& wires = doc["wires"].items;
  ASSERT_EQ(wires.size(), wires_.size());
  for (std::size_t i = 0; i < wires.size(); ++i) {
    const Json& w = wires[i];
    SCOPED_TRACE(wires_[i].name);
    EXPECT_EQ(w["name"].text, wires_[i].name);
    ExpectSameAsReport(wires_[i],
                       {w["length_um"].Float(), w["resistance_mohm"].Float(),
                        w["inductance_dc_nh"].Float(), w["inductance_ac_nh"].Float(),
                        w["inductance_self_nh"].Float(), w["inductance_mutual_nh"].Float()});
  }
}

TEST_F(ExportsEndToEnd, EndPointsAreInThePackageFrame) {
  // Ends as the package file gives them: WB lines (X1 Y1 .. X2 Y2 Z1 Z2) and STCH lines.
  struct Row {
    std::string name, kind;
    float start[3], end[3];
    std::size_t segments;
  };
  const Row rows[] = {
      {"T1", "base-die", {-545, 1420, 200}, {-735.8f, 2050, 0}, 7},
      {"B8", "base-die", {445, -1420, 200}, {600.8f, -2050, 0}, 7},
      {"S5", "stacked-die", {850, -200, 350}, {2400, -320, 0}, 7},
      {"(S6:R6)", "stitch", {820, 200, 350}, {1380, 225, 200}, 7},
  };
  const auto csv = CsvRows(Read("w.csv"));
  const Json json = JsonReader::Parse(Read("w.json"));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto c = std::find_if(csv.begin(), csv.end(), [&](auto& r) { return r[0] == row.name; });
    ASSERT_NE(c, csv.end());
    const auto& items = json["wires"].items;
    const auto j = std::find_if(items.begin(), items.end(),
                                [&](const Json& w) { return w["name"].text == row.name; });
    ASSERT_NE(j, items.end());
    EXPECT_EQ((*c)[1], row.kind);
    EXPECT_EQ((*j)["kind"].text, row.kind);
    EXPECT_EQ((*c)[8], std::to_string(row.segments));
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(ParseFloat((*c)[2 + k]), row.start[k]) << "start " << k;
      EXPECT_EQ(ParseFloat((*c)[5 + k]), row.end[k]) << "end " << k;
      EXPECT_EQ((*j)["start_um"].items[k].Float(), row.start[k]) << "start " << k;
      EXPECT_EQ((*j)["end_um"].items[k].Float(), row.end[k]) << "end " << k;
    }
  }
}

TEST(RoundTripTextTest, ShortestTextReadsBackExactly) {
  struct Row {
    float value;
    std::string text;
  };
  const Row rows[] = {
      {0.1f, "0.1"},
      {-0.0f, "0"},
      {1e9f, "1e+09"},
      {974.4016f, "974.4016"},
      {-735.8f, "-735.8"},
      {16777216.0f, "16777216"},
      {1.4e-45f, "1e-45"},
      {3.4028235e38f, "3.4028235e+38"},
      {0.78602415f, "0.78602415"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(RoundTripText(row.value), row.text);
    EXPECT_EQ(ParseFloat(RoundTripText(row.value)), row.value);
  }
  EXPECT_THROW(RoundTripText(std::nanf("")), StageError);
  EXPECT_THROW(RoundTripText(INFINITY), StageError);
}

TEST(CsvTextTest, NamesAreQuotedOnlyWhenTheyMustBe) {
  struct Row {
    std::string name, field;
  };
  const Row rows[] = {
      {"T1", "T1"},           {"(S2:T3)", "(S2:T3)"},
      {"a,b", "\"a,b\""},     {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {" lead", "\" lead\""}, {"two\nlines", "\"two\nlines\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Wire w;
    w.Name = row.name;
    const std::string text = CsvText({}, {w});
    const std::string line = text.substr(text.find("\r\n") + 2);
    EXPECT_EQ(line.substr(0, row.field.size() + 1), row.field + ",");
    const auto rows_back = CsvRows(text);
    ASSERT_EQ(rows_back.size(), 2u);
    EXPECT_EQ(rows_back[1][0], row.name);
  }
}

TEST(JsonTextTest, NamesSurviveTheRoundTrip) {
  const std::string names[] = {"plain",     "quote\"d", "back\\slash",
                               "tab\there", "bell\a",   "\xc3\xa9t\xc3\xa9"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    Wire w;
    w.Name = name;
    w.StitchWire = true;
    const ExportHeader header{"x.zv", name, ParameterSet{}};
    const Json doc = JsonReader::Parse(JsonText(header, {w}));
    EXPECT_EQ(doc["package_file"].text, name);
    EXPECT_EQ(doc["wires"].items.at(0)["name"].text, name);
    EXPECT_EQ(doc["wires"].items.at(0)["kind"].text, "stitch");
  }
  EXPECT_EQ(JsonReader::Parse(JsonText({}, {}))["wires"].items.size(), 0u);
}

TEST(WireOriginsTest, WiresOfAnotherPackageAreRefused) {
  Package pkg;
  BondPad pad;
  pad.Name = "A";
  pad.BondX1 = 10;
  pkg.ChipPads = {pad};
  Wire a;
  a.Name = "A";
  Wire b;
  b.Name = "B";
  EXPECT_EQ(WireOrigins(pkg, {a}).size(), 1u);
  EXPECT_THROW(WireOrigins(pkg, {b}), StageError);
  EXPECT_THROW(WireOrigins(pkg, {a, a}), StageError);
  EXPECT_THROW(WireOrigins(pkg, {}), StageError);
}

}  // namespace
}  // namespace ostrel
