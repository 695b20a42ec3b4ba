// The SPICE subcircuit, checked by simulating it with ngspice: each wire driven alone must show
// the impedance R + j 2 pi f L of the estimation; the couplings must keep the inductance matrix
// positive definite.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <map>
#include <numbers>
#include <set>

#include "base/stage_error.h"
#include "export/exports.h"
#include "export_test_support.h"
#include "physical/positive_definite.h"

namespace ostrel {
namespace {

using namespace testing_support;
using Complex = std::complex<double>;

// The parts of a subcircuit the checks need, lower-cased as ngspice reads it.
struct Netlist {
  std::string name;
  std::vector<std::string> ports;
  std::vector<std::pair<std::string, std::string>> branches;  // per wire: start and end node
  std::map<std::string, std::size_t> branch_of;               // inductor -> branch
  std::vector<physical::Coupling> couplings;                  // between branches
};

Netlist ParseNetlist(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::vector<std::vector<std::string>> lines;  // the words of each line after a "*" marker
  for (const std::string& line : Split(text, "\n")) {
    std::istringstream in(line[0] == '+' ? line.substr(1) : line);
    std::vector<std::string>& w = line[0] == '+' ? lines.back() : lines.emplace_back(1, "*");
    for (std::string t; line[0] != '*' && in >> t;) w.push_back(t);
  }
  Netlist n;
  std::string from, to;  // the resistor just read; its first node starts the wire
  for (const std::vector<std::string>& w : lines) {
    const char kind = w.size() > 1 ? w[1][0] : '*';
    if (w.size() > 1 && w[1] == ".subckt") {
      n.name = w[2];
      n.ports.assign(w.begin() + 3, w.end());
    } else if (kind == 'r') {
      from = w[2], to = w[3];
    } else if (kind == 'l') {
      n.branch_of[w[1]] = n.branches.size();
      n.branches.emplace_back(to == w[2] ? from : w[2], w[3]);
    } else if (kind == 'k') {
      n.couplings.push_back({n.branch_of.at(w[2]), n.branch_of.at(w[3]), std::stod(w[4])});
    }
  }
  return n;
}

// One instance of the subcircuit per wire; in instance i a 1 A AC current flows into wire i's
// start node, its end node is ground and every other port is open (rshunt ties each node to
// ground through 1e12 ohm so that the operating point exists). Returns each wire's impedance.
std::vector<Complex> Simulate(const fs::path& dir, const std::string& text, const Netlist& n,
                              double f) {
  std::ofstream(dir / "sub.cir") << text;
  std::ostringstream deck, control;
  deck << "* each wire driven alone\n.include sub.cir\n.options rshunt=1e12\n";
  control << ".control\nset wr_singlescale\noption numdgt=15\nac lin 1 " << f << " " << f << "\n";
  for (std::size_t i = 0; i < n.branches.size(); ++i) {
    deck << "X" << i;
    for (const std::string& p : n.ports) {
      deck << " " << (p == n.branches[i].second ? "0" : "i" + std::to_string(i) + "_" + p);
    }
    deck << " " << n.name << "\nI" << i << " 0 i" << i << "_" << n.branches[i].first
         << " dc 0 ac 1\n";
    control << "wrdata v" << i << ".txt v(i" << i << "_" << n.branches[i].first << ")\n";
  }
  // Without an explicit quit, batch ngspice ends with status 1 even after a clean run.
  deck << control.str() << "quit\n.endc\n.end\n";
  std::ofstream(dir / "deck.cir") << deck.str();
  std::string log;
  EXPECT_EQ(RunIn(dir, "ngspice -b deck.cir", log), 0) << log;
  EXPECT_EQ(log.find("rror"), std::string::npos) << log;
  EXPECT_EQ(log.find("not positive definite"), std::string::npos) << log;
  std::vector<Complex> impedance;
  for (std::size_t i = 0; i < n.branches.size(); ++i) {
    std::istringstream in(ReadWholeFile((dir / ("v" + std::to_string(i) + ".txt")).string()));
    double f_read = 0, re = 0, im = 0;
    if (!(in >> f_read >> re >> im)) ADD_FAILURE() << "no result for wire " << i << "\n" << log;
    impedance.emplace_back(re, im);
  }
  return impedance;
}

// Expects `got` within 0.1% of `want`; keeps the largest relative deviation seen.
void ExpectClose(Complex got, Complex want, double& worst) {
  const double deviation = std::abs(got - want) / std::abs(want);
  EXPECT_LE(deviation, 1e-3) << "simulated " << got << ", expected " << want;
  worst = std::max(worst, deviation);
}

// Every wire of the bundled example, for each inductance figure: ngspice sees its impedance, and
// neighbours are coupled by k = M / sqrt(L1 L2), M the smaller mutual figure of the pair.
TEST(SpiceEndToEnd, NgspiceSeesTheEstimatedImpedanceOfEachWire) {
  const fs::path dir = ExampleFolder();
  double worst_impedance = 0, worst_coupling = 0;
  for (const auto& [option, figure] : {std::pair<std::string, std::string>{"", "ac"},
                                       {"--spice-inductance dc", "dc"},
                                       {"--spice-inductance SELF", "self"}}) {
    SCOPED_TRACE(figure);
    const std::string log = RunCli(dir, option + " --spice w.cir --json w.json");
    EXPECT_EQ(log.find("note"), std::string::npos) << "no coupling should need scaling: " << log;
    const std::vector<std::string> json =
        Split(Query(dir,
                    "jq -r '.parameters.frequency_hz, (.wires[] | [.name, .resistance_mohm, "
                    ".inductance_" +
                        figure + "_nh, .inductance_mutual_nh] | @tsv)' w.json"),
              "\n");
    ASSERT_EQ(json.size(), 41u);
    const double omega = 2 * std::numbers::pi * ParseFloat(json[0]);
    std::vector<std::vector<float>> w;  // per wire: R (mOhm), L and M (nH)
    for (std::size_t i = 1; i < json.size(); ++i) {
      const std::vector<std::string> f = Split(json[i], "\t");
      w.push_back({ParseFloat(f.at(1)), ParseFloat(f.at(2)), ParseFloat(f.at(3))});
    }
    const std::string text = ReadWholeFile((dir / "w.cir").string());
    const Netlist n = ParseNetlist(text);
    // 31 base-die wires in chains along their sides (T: 7, B, L, R: 8) and the stacked die's
    // top (4) and right (2) sides; stitch wires are not coupled.
    ASSERT_EQ(n.couplings.size(), (7u - 1) + 3 * (8u - 1) + (4u - 1) + (2u - 1));
    const std::vector<Complex> z = Simulate(dir, text, n, ParseFloat(json[0]));
    ASSERT_EQ(z.size(), w.size());
    for (std::size_t i = 0; i < w.size(); ++i) {
      SCOPED_TRACE(json[i + 1]);
      ExpectClose(z[i], {w[i][0] * 1e-3, omega * w[i][1] * 1e-9}, worst_impedance);
    }
    for (const auto& [a, b, k] : n.couplings) {
      SCOPED_TRACE(json[a + 1] + " -> " + json[b + 1]);
      ExpectClose(k, std::min(w[a][2], w[b][2]) / std::sqrt(w[a][1] * w[b][1]), worst_coupling);
    }
  }
  fs::remove_all(dir);
  std::printf("[ ngspice  ] largest relative deviation: impedance %.3g, coupling %.3g\n",
              worst_impedance, worst_coupling);
  RecordProperty("largest_impedance_deviation", std::to_string(worst_impedance));
}

// A side of strongly coupled wires with awkward names: the couplings come down until the
// inductance matrix is positive definite, every name stays distinct, and ngspice still sees
// each wire's own impedance.
TEST(SpiceEndToEnd, StrongCouplingIsScaledAndAwkwardNamesStayDistinct) {
  const fs::path dir = ExampleFolder();
  const std::vector<std::string> names = {"R3", "r3", "r3_2", "x(1)", "n=2", "\xc3\x9c", "A"};
  Package pkg;
  WireList wires(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    pkg.ChipPads.push_back(BondPad{});
    pkg.ChipPads[i].Name = wires[i].Name = names[i];
    pkg.ChipPads[i].BondX1 = 1;
    pkg.ChipPads[i].PadLine = static_cast<int>(i) + 1;
    wires[i].InductanceAC = 1.0f + 0.1f * static_cast<float>(i);
    wires[i].InductanceMutual = (i == 3 || i == 4) ? 3.0f : 0.9f;  // pair 3-4 above sqrt(L3 L4)
    wires[i].Resistance = i == 5 ? 0.0f : 100.0f;  // a wire without resistance is a bare L
  }
  for (std::size_t i = 0; i < names.size(); ++i) pkg.TopPads.push_back(i);  // one side
  const SpiceNetlist netlist = SpiceText({"s.zv", "s.tmv", {}}, pkg, wires, SpiceInductance::kAc);
  ASSERT_EQ(netlist.Notes.size(), 2u);
  EXPECT_NE(netlist.Notes[0].find("limited"), std::string::npos) << netlist.Notes[0];
  EXPECT_NE(netlist.Notes[1].find("scaled"), std::string::npos) << netlist.Notes[1];

  // The couplings written keep the unit-diagonal matrix positive definite as they stand.
  const Netlist n = ParseNetlist(netlist.Text);
  ASSERT_EQ(n.couplings.size(), names.size() - 1);
  EXPECT_EQ(physical::PositiveDefiniteScale(names.size(), n.couplings, 1e-6,
                                            physical::PivotOrder::kAsGiven),
            1.0);
  for (const physical::Coupling& c : n.couplings) EXPECT_LT(std::abs(c.k), 1.0);

  // Distinct nodes and inductors: two ports per wire, none shared (ngspice ignores letter case).
  EXPECT_EQ(std::set<std::string>(n.ports.begin(), n.ports.end()).size(), 2 * names.size());
  EXPECT_EQ(n.branch_of.size(), names.size());

  const std::vector<Complex> sim = Simulate(dir, netlist.Text, n, 1e9);
  ASSERT_EQ(sim.size(), names.size());
  double worst = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    const Complex z(wires[i].Resistance * 1e-3, 2 * std::numbers::pi * wires[i].InductanceAC);
    ExpectClose(sim[i], z, worst);
  }
  fs::remove_all(dir);
}

// The inductance figure chosen must be positive (the others do not matter), and the wires must
// be the package's own.
TEST(SpiceTextTest, ANonPositiveInductanceOrAForeignWireIsRefused) {
  Package pkg;
  pkg.ChipPads.resize(1);
  pkg.ChipPads[0].Name = "P7";
  pkg.ChipPads[0].BondX1 = 5;
  for (const auto& [choice, field] : {std::pair{SpiceInductance::kDc, &Wire::InductanceDC},
                                      {SpiceInductance::kAc, &Wire::InductanceAC},
                                      {SpiceInductance::kSelf, &Wire::InductanceSelf}}) {
    for (const float value : {0.0f, -0.5f, 0.2f}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(choice)) + " " + std::to_string(value));
      Wire w;
      w.Name = "P7";
      w.InductanceDC = w.InductanceAC = w.InductanceSelf = value > 0 ? -1.0f : 1.0f;
      w.*field = value;
      try {
        EXPECT_NE(SpiceText({}, pkg, {w}, choice).Text.find(" 0.2n"), std::string::npos);
        EXPECT_GT(value, 0);
      } catch (const StageError& e) {
        EXPECT_LE(value, 0);
        EXPECT_NE(std::string(e.what()).find("P7"), std::string::npos) << e.what();
      }
    }
  }
  // Wires of another package: a name, a count or a kind its pads do not give.
  Wire w, q;
  w.Name = "P7";
  w.InductanceAC = 1;
  q = w;
  q.StitchWire = true;
  for (const auto& wires : {WireList{}, {w, w}, {q}}) {
    EXPECT_THROW(SpiceText({}, pkg, wires, SpiceInductance::kAc), StageError);
  }
}

// The loop subcircuit of the bundled example: ngspice sees each wire's R + j w (L_loop + L_int)
// of the physical model, and driving T1 induces in every other wire j w M of the loop matrix
// (couplings below the cut-off of 1e-3 left out).
TEST(SpiceEndToEnd, LoopSubcircuitCarriesTheLoopMatrixOfThePhysicalModel) {
  const fs::path dir = ExampleFolder();
  const double f = 1e9, omega = 2 * std::numbers::pi * f;
  RunCli(dir, "--frequencies 1e9 --physical p.json --spice w.cir --spice-inductance loop");
  const std::vector<std::string> rows =
      Split(Query(dir,
                  "jq -r '.results[0] as $r | .inductance_loop_nh | to_entries[] | [.key, "
                  "$r.resistance_mohm[.key], $r.internal_inductance_nh[.key]] + .value | @tsv' "
                  "p.json"),
            "\n");
  ASSERT_EQ(rows.size(), 40u);
  std::vector<std::vector<double>> loop;  // nH
  std::vector<Complex> want;
  for (const std::string& row : rows) {
    std::vector<double> v;
    for (const std::string& field : Split(row, "\t")) v.push_back(std::stod(field));
    want.emplace_back(v[1] * 1e-3, omega * (v[3 + loop.size()] + v[2]) * 1e-9);
    loop.emplace_back(v.begin() + 3, v.end());
  }
  const std::string text = ReadWholeFile((dir / "w.cir").string());
  const Netlist n = ParseNetlist(text);
  ASSERT_EQ(n.ports.back(), "ref");
  std::size_t kept = 0;
  for (std::size_t i = 0; i < loop.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      kept += std::abs(loop[i][j]) >= 1e-3 * std::sqrt(loop[i][i] * loop[j][j]);
    }
  }
  EXPECT_EQ(n.couplings.size(), kept);
  double worst = 0;
  const std::vector<Complex> z = Simulate(dir, text, n, f);
  for (std::size_t i = 0; i < z.size(); ++i) ExpectClose(z[i], want[i], worst);

  // T1 driven by 1 A, the others open: v(start, end) of wire b is j w M_1b.
  std::ofstream deck(dir / "mutual.cir");
  deck << "* T1 driven\n.include w.cir\n.options rshunt=1e12\nX1";
  for (const std::string& p : n.ports) deck << " " << (p == n.branches[0].second ? "0" : "n_" + p);
  deck << " " << n.name << "\nI1 0 n_" << n.branches[0].first << " dc 0 ac 1\n.control\n"
       << "set wr_singlescale\noption numdgt=15\nac lin 1 " << f << " " << f << "\nwrdata m.txt";
  for (std::size_t b = 1; b < n.branches.size(); ++b) {
    deck << " v(n_" << n.branches[b].first << ",n_" << n.branches[b].second << ")";
  }
  deck << "\nquit\n.endc\n.end\n";
  deck.close();
  std::string log;
  ASSERT_EQ(RunIn(dir, "ngspice -b mutual.cir", log), 0) << log;
  std::istringstream in(ReadWholeFile((dir / "m.txt").string()));
  double scale = 0, re = 0, im = 0;
  in >> scale;
  for (std::size_t b = 1; b < n.branches.size(); ++b) {
    SCOPED_TRACE(rows[b].substr(0, rows[b].find('\t')));
    ASSERT_TRUE(in >> re >> im);
    const double self_nh = std::sqrt(loop[0][0] * loop[b][b]);
    const double m_nh = std::abs(loop[b][0]) >= 1e-3 * self_nh ? loop[b][0] : 0.0;
    EXPECT_NEAR(im, omega * m_nh * 1e-9, 1e-4 * omega * self_nh * 1e-9);
    EXPECT_NEAR(re, 0.0, 1e-9);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ostrel
