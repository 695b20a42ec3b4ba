// CSV and JSON exports read back (JSON with jq) and compared with the report of the same run;
// awkward names through every text export (the SVG read with xmllint).

#include "export/exports.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <map>
#include <random>

#include "base/stage_error.h"
#include "base/text.h"
#include "export_test_support.h"
#include "report/report_writer.h"

namespace ostrel {
namespace {

using namespace testing_support;

// The JSON wire fields in the CSV column order, as one tab-separated row per wire.
constexpr const char* kJsonRows =
    "jq -r '.wires[] | [.name, .kind, .start_um[], .end_um[], .segments, .length_um, "
    ".resistance_mohm, .inductance_dc_nh, .inductance_ac_nh, .inductance_self_nh, "
    ".inductance_mutual_nh] | @tsv' w.json";

// Every wire: the CSV row and the JSON object carry the same values, the report's to its
// printed precision, and a few wires' ends and kinds are checked against the package file.
TEST(ExportsEndToEnd, CsvAndJsonAgreeWithTheReport) {
  const fs::path dir = ExampleFolder();
  RunCli(dir, "--csv w.csv --json w.json --spice w.cir --svg w.svg");
  const std::string report = ReadWholeFile((dir / "AAAc.zv.doc").string());
  EXPECT_EQ(report, ReadWholeFile(std::string(OSTREL_TEST_DATA_DIR) + "/example/AAAc.zv.doc"));
  const std::vector<std::vector<std::string>> wires = ReportWires(report);
  ASSERT_EQ(wires.size(), 40u);

  const std::string csv = ReadWholeFile((dir / "w.csv").string());
  EXPECT_EQ(Split(csv, "\r\n").size(), Split(csv, "\n").size()) << "rows end with CR LF";
  ASSERT_EQ(csv.substr(csv.size() - 2), "\r\n");
  std::vector<std::string> csv_rows = Split(csv, "\r\n");
  const std::vector<std::string> json_rows = Split(Query(dir, kJsonRows), "\n");
  EXPECT_EQ(csv_rows[0],
            "name,kind,start_x_um,start_y_um,start_z_um,end_x_um,end_y_um,end_z_um,segments,"
            "length_um,resistance_mohm,inductance_dc_nh,inductance_ac_nh,inductance_self_nh,"
            "inductance_mutual_nh");
  csv_rows.erase(csv_rows.begin());
  ASSERT_EQ(csv_rows.size(), wires.size());
  ASSERT_EQ(json_rows.size(), wires.size());

  // Kind, ends and segment count as the package file gives them (WB lines: X1 Y1 .. X2 Y2 Z1 Z2;
  // STCH lines), in the package frame.
  const std::map<std::string, std::string> ends = {
      {"T1", "base-die,-545,1420,200,-735.8,2050,0,7,"},
      {"B8", "base-die,445,-1420,200,600.8,-2050,0,7,"},
      {"S5", "stacked-die,850,-200,350,2400,-320,0,7,"},
      {"(S6:R6)", "stitch,820,200,350,1380,225,200,7,"}};
  std::size_t ends_seen = 0;
  for (std::size_t i = 0; i < wires.size(); ++i) {
    SCOPED_TRACE(wires[i][0]);
    const std::vector<std::string> c = Split(csv_rows[i], ","), j = Split(json_rows[i], "\t");
    ASSERT_EQ(c.size(), 15u);
    ASSERT_EQ(j.size(), 15u);
    ASSERT_EQ(wires[i].size(), 7u);
    EXPECT_EQ(c[0], wires[i][0]);
    EXPECT_EQ(j[0], wires[i][0]);
    EXPECT_EQ(c[1], j[1]);
    for (std::size_t k = 2; k < 15; ++k) {
      SCOPED_TRACE(k);
      EXPECT_EQ(ParseFloat(c[k]), ParseFloat(j[k]));
      if (k >= 9) EXPECT_EQ(FormatFixed3(ParseFloat(c[k])), wires[i][k - 8]);
    }
    if (const auto it = ends.find(c[0]); it != ends.end() && ++ends_seen) {
      EXPECT_EQ(csv_rows[i].substr(c[0].size() + 1, it->second.size()), it->second);
    }
  }
  EXPECT_EQ(ends_seen, ends.size());

  // The run's parameters; the wire distance is the default the report shows.
  const std::vector<std::string> p =
      Split(Query(dir,
                  "jq -j '[.settings_file, .package_file, .frame, .parameters.material, "
                  ".parameters.frequency_hz == 1e9, .parameters.stack_extension_um == -1, "
                  ".parameters.wire_distance_um] | @tsv' w.json"),
            "\t");
  ASSERT_EQ(p.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(p.begin(), p.begin() + 6),
            (std::vector<std::string>{"AAAc.zv", "AAAc.tmv", "package", "Au", "true", "true"}));
  EXPECT_NE(report.find(ValueField(ParseFloat(p[6])) + " Microns"), std::string::npos);
  fs::remove_all(dir);
}

TEST(RoundTripTextTest, ShortestTextReadsBackExactly) {
  const float values[] = {0.1f, -0.0f, 1e9f, 1.4e-45f, 3.4028235e38f, 0.78602415f, 16777216.0f};
  const std::string texts[] = {"0.1",           "0",          "1e+09",   "1e-45",
                               "3.4028235e+38", "0.78602415", "16777216"};
  for (std::size_t i = 0; i < std::size(values); ++i) {
    SCOPED_TRACE(texts[i]);
    EXPECT_EQ(RoundTripText(values[i]), texts[i]);
    EXPECT_EQ(ParseFloat(texts[i]), values[i]);
  }
  EXPECT_THROW(RoundTripText(std::nanf("")), StageError);
  EXPECT_THROW(RoundTripText(INFINITY), StageError);
}

// Names of any bytes: separators, quotes, markup, controls, Windows-1252 and UTF-8 text, broken
// UTF-8 and random bytes. The CSV, JSON and SVG are read back by strict parsers (jq, xmllint,
// Python's json, csv and expat) and every name must come back as the naming rule says.
TEST(ExportTextTest, AnyBytesInANameGiveValidExports) {
  const fs::path dir = ExampleFolder();
  std::vector<std::string> names = {"s\xFF.zv",     "pkg<&>\x01\xE9.tmv",
                                    "(S2:T3)",      "a,b",
                                    "say \"hi\"",   " lead",
                                    "two\nlines",   "x\ry",
                                    "<a&'b>\\",     "tab\there",
                                    "bell\a",       "\xc3\xa9t\xc3\xa9",
                                    "\xFF",         "\x81\x8D\x9D",
                                    "\xEF\xBF\xBE", "\xED\xA0\x80",
                                    "\xC0\xAF",     std::string(1, '\0')};
  // Random names drawn from pieces that stress each format, and single random bytes.
  const std::string pieces[] = {"\"",
                                "\\",
                                ",",
                                "<",
                                "&",
                                "'",
                                "\t",
                                "\n",
                                "\r",
                                " ",
                                std::string(1, '\0'),
                                "\x1f",
                                "\x7f",
                                "\xC3\xA9",
                                "\xE2\x82\xAC",
                                "\xEF\xBF\xBF",
                                "\xF0\x9F\x98\x80",
                                "\xF4\x8F\xBF\xBF",
                                "A"};
  std::mt19937 random(20261206);
  for (int i = 0; i < 2000; ++i) {
    std::string name;
    for (int n = std::uniform_int_distribution<int>(1, 8)(random); n > 0; --n) {
      const auto pick = std::uniform_int_distribution<std::size_t>(0, std::size(pieces))(random);
      name += pick < std::size(pieces) ? pieces[pick]
                                       : std::string(1, static_cast<char>(random() & 0xFF));
    }
    names.push_back(name);
  }
  Package pkg;
  pkg.CompW = pkg.CompL = 1000;
  const ExportHeader header{names[0], names[1], ParameterSet{}};
  WireList wires(names.size() - 2);
  std::ofstream hex(dir / "names.hex");
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (const char c : names[i])
      hex << std::hex << std::setw(2) << std::setfill('0') << (c & 0xFF);
    hex << '\n';
    if (i < 2) continue;
    wires[i - 2].Name = names[i];
    wires[i - 2].Segments = {WireSegment{0, 0, 100, 50, 0, 200}};
  }
  hex.close();
  std::ofstream(dir / "n.csv") << CsvText(header, wires);
  std::ofstream(dir / "n.json") << JsonText(header, wires);
  std::ofstream(dir / "n.svg") << SvgText(header, pkg, wires);
  std::string out;
  EXPECT_EQ(
      RunIn(dir, "/usr/bin/python3 '" OSTREL_TESTS_SOURCE_DIR "/export/check_export_names.py' .",
            out),
      0)
      << out;
  // No wires at all.
  std::ofstream(dir / "e.json") << JsonText({}, {});
  std::ofstream(dir / "e.svg") << SvgText({}, pkg, {});
  EXPECT_EQ(Query(dir, "jq '.wires | length' e.json"), "0\n");
  EXPECT_EQ(Query(dir, std::string("xmllint --xpath 'count(") + kPaths + ")' e.svg"), "0\n");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ostrel
