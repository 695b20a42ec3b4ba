// The physical model's JSON read back with jq, its table, the frequency options, and the CLI's
// physical outputs on the bundled example.

#include "export/physical_export.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "base/stage_error.h"
#include "export_test_support.h"

namespace ostrel {
namespace {

using namespace testing_support;
using physical::SymmetricMatrix;

// Three wires with awkward names (a quote, Windows-1252 bytes, a control byte) and values that
// need all 17 digits; the loop matrix kept dense or sparse.
physical::Model ThreeWires(bool sparse_loop) {
  physical::Model m;
  const char* names[] = {"A\"1", "\xe9t\xe9", "x\x01y"};
  for (int w = 0; w < 3; ++w) {
    physical::Conductor c{
        names[w], static_cast<WireKind>(w), {{0, 0, 0}, {1e-4 / 3, 2e-4, 1.5e-4}}, 12.7e-6, 2.44e-8,
        1e-3 / 3};
    m.conductors.push_back(c);
  }
  m.options.frequencies_hz = {0, 1e9};
  const std::vector<double> loop = {0.7e-9,  0.1e-9, 0.0,     0.1e-9, 0.6e-9,
                                    -0.3e-9, 0,      -0.3e-9, 0.5e-9};
  m.loop_inductance_h = {3, true, loop, {}};
  if (sparse_loop) {
    m.loop_inductance_h = {
        3,
        false,
        {},
        {{0, 0, 0.7e-9}, {1, 0, 0.1e-9}, {1, 1, 0.6e-9}, {2, 1, -0.3e-9}, {2, 2, 0.5e-9}}};
  } else {
    m.partial_inductance_h = m.loop_inductance_h;
  }
  for (const double f : m.options.frequencies_hz) {
    m.results.push_back({f, {0.1, 0.2, 1.0 / 3}, {1e-11 / 3, 2e-11, 3e-11}});
  }
  m.notes = {"couplings below 0.001 dropped"};
  // Microns to metres as the model converts them.
  m.clearance = {{0, 2, {0, 0, 0}, -25.4 * 1e-6, true},
                 {1, 2, {50 * 1e-6, 100 * 1e-6, 75 * 1e-6}, -3 * 1e-6, false}};
  return m;
}

TEST(PhysicalJsonTest, EveryValueReadsBackExactlyInDenseAndSparseForm) {
  const fs::path dir = ExampleFolder();
  for (const bool sparse : {false, true}) {
    SCOPED_TRACE(sparse ? "sparse" : "dense");
    std::ofstream(dir / "p.json") << PhysicalJsonText(ThreeWires(sparse));
    const std::vector<std::string> got =
        Split(Query(dir,
                    "jq -r '[.wires[].name] + [.wires[1].path_um[1][0], .wires[2].length_um, "
                    ".results[1].resistance_mohm[2], .results[0].internal_inductance_nh[0], "
                    "(.inductance_loop_nh | if type == \"array\" then .[2][1] else "
                    ".sparse[3] | tostring end), (.inductance_partial_nh | tostring), "
                    ".wires[0].kind, .wires[2].kind, .notes[0], (.clearance | tostring)] | .[]' "
                    "p.json"),
              "\n");
    const std::vector<std::string> want = {
        "A\"1",
        "\xc3\xa9t\xc3\xa9",
        "x\x01y",
        "33.333333333333336",
        "333.3333333333333",
        "333.3333333333333",
        "0.003333333333333333",
        sparse ? "[2,1,-0.3]" : "-0.3",
        sparse ? "null" : "[[0.7,0.1,0],[0.1,0.6,-0.3],[0,-0.3,0.5]]",
        "base-die",
        "stitch",
        "couplings below 0.001 dropped",
        "[{\"wires\":[0,2],\"at_um\":[0,0,0],\"clearance_um\":-25.4,\"joined\":true},"
        "{\"wires\":[1,2],\"at_um\":[50,100,75],\"clearance_um\":-3,\"joined\":false}]"};
    EXPECT_EQ(got, want);
  }
  fs::remove_all(dir);
}

// The three wires as .npz, with a proximity correction and a supply net, hold exactly the JSON's
// figures as numpy.load reads them (npz_check.py): awkward names, the loop matrix dense and
// sparse, every member in ZIP64 form. A figure that is not finite fails the writing.
TEST(PhysicalNpzTest, NumpyReadsEveryFigureOfTheJson) {
  const fs::path dir = ExampleFolder();
  for (const bool sparse : {false, true}) {
    SCOPED_TRACE(sparse ? "sparse, ZIP64" : "dense");
    physical::Model model = ThreeWires(sparse);
    model.results[1].proximity_loop.delta_resistance_ohm = {3, false, {}, {{2, 1, 1e-3 / 3}}};
    physical::NetImpedance net;
    net.net = {"VDD\xe9", true, {0, 2}};
    net.parallel = {{0.05, 0.3e-9}, {0.06, 0.2e-9}};
    net.supply_loop = {{0.1, 0.9e-9}, {0.2, 0.8e-9}};
    model.nets = {net, net};
    model.nets[1].supply_loop.clear();
    std::ofstream(dir / "p.json") << PhysicalJsonText(model);
    std::ofstream npz(dir / "p.npz", std::ios::binary);
    const auto write = [&](std::string_view b) {
      npz.write(b.data(), static_cast<std::streamsize>(b.size()));
    };
    WritePhysicalNpz(model, write, sparse ? 0 : kZip64From);
    npz.close();
    std::string log;
    EXPECT_EQ(RunIn(dir,
                    "/usr/bin/python3 '" OSTREL_TESTS_SOURCE_DIR
                    "/export/npz_check.py' --compare p.json p.npz",
                    log),
              0)
        << log;
    model.results[1].internal_inductance_h[1] = std::nan("");
    EXPECT_THROW(WritePhysicalNpz(model, write), StageError);
    model.results[1].internal_inductance_h[1] = 0;
    physical::SymmetricMatrix& loop = model.loop_inductance_h;
    (sparse ? loop.entries.back().value : loop.values.back()) = HUGE_VAL;
    EXPECT_THROW(WritePhysicalNpz(model, write), StageError);
  }
  fs::remove_all(dir);
}

TEST(PhysicalTableTest, ColumnsAlignByCharactersAndListTheClearance) {
  // Columns aligned by characters, not bytes; a control character shown as '?'.
  EXPECT_EQ(PhysicalTableText(ThreeWires(true)),
            "name  length_um  R_dc_mohm  R_mohm@0Hz  L_partial_nh  L_loop_nh  neighbour   k_loop\n"
            "A\"1     333.333     16.051     100.000             -     0.7033  \xc3\xa9t\xc3\xa9"
            "         0.1543\n"
            "\xc3\xa9t\xc3\xa9     333.333     16.051     200.000             -     0.6200  x?y"
            "        -0.5477\n"
            "x?y     333.333     16.051     333.333             -     0.5300  \xc3\xa9t\xc3\xa9"
            "        -0.5477\n"
            "\n"
            "2 wire pairs touch or overlap (1 joined at a bond point)\n"
            "wire_a  wire_b    x_um     y_um    z_um  clearance_um\n"
            "A\"1     x?y      0.000    0.000   0.000       -25.400  joined\n"
            "\xc3\xa9t\xc3\xa9     x?y     50.000  100.000  75.000        -3.000\n");
  EXPECT_EQ(ClearanceNotes(ThreeWires(true)),
            (std::vector<std::string>{
                "1 wire pair touches or overlaps: \xc3\xa9t\xc3\xa9/x?y -3.0 um at "
                "(50.0, 100.0, 75.0)",
                "1 wire pair joined at a bond point: A\"1/x?y at (0.0, 0.0, 0.0)"}));
}

// ostrel-cli on the bundled example: usage errors write nothing; a run writes the report
// unchanged, the JSON with one result per frequency (DC equal to the DC resistance) and, with
// --physical-table, one line per wire in place of the paths.
TEST(PhysicalCliTest, OptionsAndOutputs) {
  const fs::path dir = ExampleFolder();
  const std::string cli = std::string("'") + OSTREL_CLI_PATH + "' ";
  for (const char* args : {"--sweep 1:2:3 --frequencies 1", "--sweep-linear 0:1e9:2 --sweep 1:2:2",
                           "--physical-table --stdout", "--sweep 0:1e9:3", "--ground-depth -5",
                           "--spice-inductance loops", "--frequencies 1,x", "--clearance -5"}) {
    SCOPED_TRACE(args);
    std::string log;
    EXPECT_EQ(RunIn(dir, cli + args + " --physical p.json AAAc.zv", log), 2) << log;
    EXPECT_FALSE(fs::exists(dir / "p.json") || fs::exists(dir / "AAAc.zv.doc"));
  }
  std::string table;
  ASSERT_EQ(RunIn(dir,
                  "{ " + cli +
                      "--physical-table --physical p.json --sweep-linear 0:2e10:5 "
                      "--clearance 30 AAAc.zv 2>notes.txt; }",
                  table, false),
            0);
  EXPECT_EQ(ReadWholeFile((dir / "AAAc.zv.doc").string()),
            ReadWholeFile(std::string(OSTREL_TEST_DATA_DIR) + "/example/AAAc.zv.doc"));
  const std::vector<std::string> lines = Split(table, "\n");
  // The wires, a blank line, the pairs closer than 30 um: a heading, the column names, 11 pairs.
  ASSERT_EQ(lines.size(), 41u + 3u + 11u) << table;
  EXPECT_EQ(lines[42], "11 wire pairs closer than 30 um");
  EXPECT_NE(ReadWholeFile((dir / "notes.txt").string())
                .find("ostrel-cli: note: 11 wire pairs closer than 30 um: S3/(S3:T5) -25.0 um"),
            std::string::npos);
  std::istringstream heading(lines[0]);
  const std::vector<std::string> columns{std::istream_iterator<std::string>(heading), {}};
  EXPECT_EQ(columns,
            (std::vector<std::string>{"name", "length_um", "R_dc_mohm", "R_mohm@0Hz",
                                      "L_partial_nh", "L_loop_nh", "neighbour", "k_loop"}));
  EXPECT_EQ(lines[1].substr(0, 4), "T1  ");
  const std::vector<std::string> got =
      Split(Query(dir,
                  "jq -r '[.frequencies_hz[4], (.results | length), (.wires | length), "
                  "([.wires[].resistance_dc_mohm] == .results[0].resistance_mohm), "
                  "(.results[4].resistance_mohm[0] > 2.5 * .results[0].resistance_mohm[0]), "
                  ".ground_depth_um, (.inductance_loop_nh | length), (.clearance | length), "
                  "(.clearance[0].wires | tostring)] | .[]' p.json"),
            "\n");
  EXPECT_EQ(got, (std::vector<std::string>{"20000000000", "5", "40", "true", "true", "50", "40",
                                           "11", "[33,38]"}));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ostrel
