// The SPICE subcircuit, checked by simulating it with ngspice: each wire driven alone must show
// the impedance R + j 2 pi f L of the estimation, and its neighbours the coupled voltage.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <set>
#include <sstream>

#include "export_test_support.h"
#include "package/stage_error.h"
#include "report/exports.h"

namespace ostrel {
namespace {

using namespace testing_support;
using Complex = std::complex<double>;

constexpr double kTolerance = 1e-3;  // relative, on complex impedance and coupled voltage

// The parts of a subcircuit the checks need.
struct Netlist {
  std::string name;
  std::vector<std::string> ports;
  struct Branch {
    std::string inductor, start, end;  // end: the inductor's far node
  };
  std::vector<Branch> branches;  // in element order, one per wire
  struct Coupling {
    std::string a, b;  // inductor names
    double k = 0;
  };
  std::vector<Coupling> couplings;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

Netlist ParseNetlist(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] == '+') {
      lines.back() += " " + line.substr(1);
    } else if (!line.empty() && line[0] != '*') {
      lines.push_back(line);
    }
  }
  Netlist n;
  std::string pending_from, pending_to;  // the resistor just read
  for (const std::string& line : lines) {
    std::istringstream f(line);
    std::vector<std::string> w;
    for (std::string t; f >> t;) w.push_back(t);
    const std::string head = Lower(w[0]);
    if (head == ".subckt") {
      n.name = w[1];
      n.ports.assign(w.begin() + 2, w.end());
    } else if (head[0] == 'r') {
      pending_from = w[1];
      pending_to = w[2];
    } else if (head[0] == 'l') {
      const std::string start = pending_to == w[1] ? pending_from : w[1];
      n.branches.push_back({w[0], start, w[2]});
      pending_from.clear();
      pending_to.clear();
    } else if (head[0] == 'k') {
      n.couplings.push_back({w[1], w[2], std::stod(w[3])});
    }
  }
  return n;
}

// What one wire should show: R in mOhm, L and the mutual figure in nH.
struct Expected {
  float r_mohm, l_nh, m_nh;
};

struct Simulation {
  std::vector<Complex> impedance;  // per wire, driven alone
  // Voltage across each coupled neighbour, per coupling: {driven a -> across b}.
  std::vector<Complex> coupled;
};

bool NgspiceInstalled() { return std::system("command -v ngspice >/dev/null 2>&1") == 0; }

// One instance of the subcircuit per wire; in instance i a 1 A AC current flows into wire i's
// start node, its end node is ground, every other port is open (1e12 ohm to ground so that the
// operating point exists). Returns the node voltages that give each impedance and each coupled
// voltage.
Simulation Simulate(const fs::path& dir, const std::string& netlist_text, double frequency) {
  const Netlist n = ParseNetlist(netlist_text);
  std::ofstream(dir / "sub.cir") << netlist_text;
  std::ostringstream deck;
  deck << "* each wire driven alone\n.include sub.cir\n";
  auto node = [&](std::size_t i, const std::string& port) {
    return port == n.branches[i].end ? std::string("0") : "i" + std::to_string(i) + "_" + port;
  };
  std::ostringstream control;
  control << ".control\nset wr_singlescale\nset wr_vecnames\noption numdgt=15\nac lin 1 "
          << frequency << " " << frequency << "\n";
  for (std::size_t i = 0; i < n.branches.size(); ++i) {
    deck << "X" << i;
    for (const std::string& p : n.ports) deck << " " << node(i, p);
    deck << " " << n.name << "\n";
    for (const std::string& p : n.ports) {
      if (node(i, p) != "0") deck << "Rsh" << i << "_" << p << " " << node(i, p) << " 0 1e12\n";
    }
    deck << "I" << i << " 0 " << node(i, n.branches[i].start) << " dc 0 ac 1\n";
    control << "wrdata v" << i << ".txt v(" << node(i, n.branches[i].start) << ")";
    for (const Netlist::Coupling& c : n.couplings) {
      if (Lower(c.a) != Lower(n.branches[i].inductor)) continue;
      for (const Netlist::Branch& b : n.branches) {
        if (Lower(b.inductor) != Lower(c.b)) continue;
        for (const std::string& p : {b.start, b.end}) {
          // Neighbours along a side share no node with the driven wire.
          EXPECT_NE(node(i, p), "0") << b.inductor;
          control << " v(" << node(i, p) << ")";
        }
      }
    }
    control << "\n";
  }
  // Without an explicit quit, batch ngspice ends with status 1 even after a clean run; a
  // faulty deck still ends with 1.
  control << "quit\n.endc\n";
  deck << control.str() << ".end\n";
  std::ofstream(dir / "deck.cir") << deck.str();
  std::string log;
  const int status = RunIn(dir, "ngspice -b deck.cir", log);
  EXPECT_EQ(status, 0) << log;
  EXPECT_EQ(log.find("rror"), std::string::npos) << log;
  EXPECT_EQ(log.find("not positive definite"), std::string::npos) << log;

  Simulation sim;
  for (std::size_t i = 0; i < n.branches.size(); ++i) {
    std::ifstream file(dir / ("v" + std::to_string(i) + ".txt"));
    std::string header, data;
    std::getline(file, header);
    std::getline(file, data);
    std::istringstream values(data);
    std::vector<double> v;
    for (double x; values >> x;) v.push_back(x);
    if (v.size() < 3) {
      ADD_FAILURE() << "no result for wire " << i << "\n" << log;
      return sim;
    }
    sim.impedance.emplace_back(v[1], v[2]);
    for (std::size_t k = 3; k + 3 < v.size(); k += 4) {
      sim.coupled.push_back(Complex(v[k], v[k + 1]) - Complex(v[k + 2], v[k + 3]));
    }
  }
  return sim;
}

// Largest relative deviation of the simulated impedances from R + j 2 pi f L.
double CheckImpedances(const Simulation& sim, const std::vector<Expected>& expected,
                       double frequency, const std::vector<std::string>& names) {
  const double omega = 2 * std::numbers::pi * frequency;
  double worst = 0;
  EXPECT_EQ(sim.impedance.size(), expected.size());
  for (std::size_t i = 0; i < std::min(sim.impedance.size(), expected.size()); ++i) {
    SCOPED_TRACE(names[i]);
    const Complex z(expected[i].r_mohm * 1e-3, omega * expected[i].l_nh * 1e-9);
    const double deviation = std::abs(sim.impedance[i] - z) / std::abs(z);
    EXPECT_LE(deviation, kTolerance) << "simulated " << sim.impedance[i] << ", expected " << z;
    worst = std::max(worst, deviation);
  }
  return worst;
}

class SpiceEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    if (!NgspiceInstalled()) GTEST_SKIP() << "ngspice is not installed";
    dir_ = ExampleFolder();
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// Every wire of the bundled example, for each inductance figure: impedance and coupling.
TEST_F(SpiceEndToEnd, NgspiceSeesTheEstimatedImpedanceOfEachWire) {
  struct Row {
    std::string option;
    std::string json_field;
  };
  const Row rows[] = {{"", "inductance_ac_nh"},
                      {"--spice-inductance dc", "inductance_dc_nh"},
                      {"--spice-inductance SELF", "inductance_self_nh"}};
  double worst_impedance = 0, worst_coupling = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.json_field);
    std::string log;
    ASSERT_EQ(RunIn(dir_,
                    std::string("'") + OSTREL_CLI_PATH + "' " + row.option +
                        " --spice w.cir --json w.json AAAc.zv",
                    log),
              0)
        << log;
    EXPECT_EQ(log.find("note"), std::string::npos) << "no coupling should need scaling: " << log;
    const Json doc = JsonReader::Parse(ReadWholeFile((dir_ / "w.json").string()));
    const double frequency = doc["parameters"]["frequency_hz"].Float();
    std::vector<Expected> expected;
    std::vector<std::string> names;
    for (const Json& w : doc["wires"].items) {
      expected.push_back({w["resistance_mohm"].Float(), w[row.json_field].Float(),
                          w["inductance_mutual_nh"].Float()});
      names.push_back(w["name"].text);
    }
    const std::string netlist = ReadWholeFile((dir_ / "w.cir").string());
    const Simulation sim = Simulate(dir_, netlist, frequency);
    worst_impedance = std::max(worst_impedance, CheckImpedances(sim, expected, frequency, names));

    // Coupled voltage across a neighbour: j 2 pi f M, M the smaller mutual figure of the pair.
    const Netlist n = ParseNetlist(netlist);
    std::map<std::string, std::size_t> wire_of;
    for (std::size_t i = 0; i < n.branches.size(); ++i) wire_of[Lower(n.branches[i].inductor)] = i;
    // 31 base-die wires in chains along their sides (T: 7, B, L, R: 8) and the stacked die's
    // top (4) and right (2) sides; stitch wires are not coupled.
    EXPECT_EQ(n.couplings.size(), (7u - 1) + 3 * (8u - 1) + (4u - 1) + (2u - 1));
    std::size_t c = 0;
    for (std::size_t i = 0; i < n.branches.size(); ++i) {
      for (const Netlist::Coupling& k : n.couplings) {
        if (Lower(k.a) != Lower(n.branches[i].inductor)) continue;
        const std::size_t j = wire_of.at(Lower(k.b));
        SCOPED_TRACE(names[i] + " -> " + names[j]);
        ASSERT_LT(c, sim.coupled.size());
        const double m = std::min(expected[i].m_nh, expected[j].m_nh) * 1e-9;
        const Complex v(0, 2 * std::numbers::pi * frequency * m);
        const double deviation = std::abs(sim.coupled[c++] - v) / std::abs(v);
        EXPECT_LE(deviation, kTolerance);
        worst_coupling = std::max(worst_coupling, deviation);
      }
    }
    EXPECT_EQ(c, sim.coupled.size());
  }
  std::printf("[ ngspice  ] largest relative deviation: impedance %.3g, coupled voltage %.3g\n",
              worst_impedance, worst_coupling);
  RecordProperty("largest_impedance_deviation", std::to_string(worst_impedance));
}

// A side of strongly coupled wires with awkward names: the couplings come down until the
// inductance matrix is positive definite, every name stays distinct, and ngspice still sees
// each wire's own impedance.
TEST_F(SpiceEndToEnd, StrongCouplingIsScaledAndAwkwardNamesStayDistinct) {
  const std::vector<std::string> names = {"R3", "r3", "r3_2", "x(1)", "n=2", "\xc3\x9c", "A"};
  Package pkg;
  std::vector<Wire> wires;
  for (std::size_t i = 0; i < names.size(); ++i) {
    BondPad pad;
    pad.Name = names[i];
    pad.Side = "T";
    pad.X = pad.BondX1 = 100.0f * static_cast<float>(i);
    pad.Y = pad.BondY1 = 1000;
    pad.BondX2 = pad.X;
    pad.BondY2 = 2000;
    pad.PadLine = static_cast<int>(i) + 1;
    pkg.ChipPads.push_back(pad);
    pkg.TopPads.push_back(pad);
    Wire w;
    w.Name = names[i];
    w.Segments = {WireSegment{pad.X, -1000, 200, pad.X, -2000, 0}};
    w.InductanceAC = 1.0f + 0.1f * static_cast<float>(i);
    w.InductanceMutual = (i == 3 || i == 4) ? 3.0f : 0.9f;  // pair 3-4 above sqrt(L3 L4)
    w.Resistance = i == 5 ? 0.0f : 100.0f;                  // a wire without resistance is a bare L
    wires.push_back(w);
  }
  const ExportHeader header{"s.zv", "s.tmv", ParameterSet{}};
  const SpiceNetlist netlist = SpiceText(header, pkg, wires, SpiceInductance::kAc);
  ASSERT_EQ(netlist.Notes.size(), 2u);
  EXPECT_NE(netlist.Notes[0].find("limited"), std::string::npos) << netlist.Notes[0];
  EXPECT_NE(netlist.Notes[1].find("scaled"), std::string::npos) << netlist.Notes[1];

  // The couplings written keep the unit-diagonal matrix positive definite (elimination pivots).
  const Netlist n = ParseNetlist(netlist.Text);
  std::map<std::string, std::size_t> index;
  for (std::size_t i = 0; i < n.branches.size(); ++i) index[Lower(n.branches[i].inductor)] = i;
  const std::size_t size = n.branches.size();
  std::vector<std::vector<double>> a(size, std::vector<double>(size, 0.0));
  for (std::size_t i = 0; i < size; ++i) a[i][i] = 1;
  ASSERT_EQ(n.couplings.size(), names.size() - 1);
  for (const Netlist::Coupling& c : n.couplings) {
    EXPECT_LT(std::abs(c.k), 1.0);
    a[index.at(Lower(c.a))][index.at(Lower(c.b))] = a[index.at(Lower(c.b))][index.at(Lower(c.a))] =
        c.k;
  }
  for (std::size_t p = 0; p < size; ++p) {
    SCOPED_TRACE(p);
    ASSERT_GT(a[p][p], 0.0);
    for (std::size_t r = p + 1; r < size; ++r) {
      const double f = a[r][p] / a[p][p];
      for (std::size_t c = p; c < size; ++c) a[r][c] -= f * a[p][c];
    }
  }

  // Distinct nodes: two ports per wire, none shared; ngspice names ignore letter case.
  std::set<std::string> ports;
  for (const std::string& p : n.ports) ports.insert(Lower(p));
  EXPECT_EQ(ports.size(), 2 * names.size());

  std::vector<Expected> expected;
  for (const Wire& w : wires) expected.push_back({w.Resistance, w.InductanceAC, 0});
  const double frequency = 1e9;
  const Simulation sim = Simulate(dir_, netlist.Text, frequency);
  CheckImpedances(sim, expected, frequency, names);
}

TEST(SpiceTextTest, ANonPositiveInductanceIsRefusedByName) {
  struct Row {
    SpiceInductance choice;
    float dc, ac, self;
    bool refused;
  };
  const Row rows[] = {
      {SpiceInductance::kAc, 1, 0, 1, true},       {SpiceInductance::kAc, 0, 1, -1, false},
      {SpiceInductance::kDc, -0.5f, 1, 1, true},   {SpiceInductance::kSelf, 1, 1, 0, true},
      {SpiceInductance::kSelf, 0, 0, 0.2f, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.choice));
    Package pkg;
    BondPad pad;
    pad.Name = "P7";
    pad.BondX1 = 5;
    pkg.ChipPads = {pad};
    Wire w;
    w.Name = "P7";
    w.InductanceDC = row.dc;
    w.InductanceAC = row.ac;
    w.InductanceSelf = row.self;
    if (row.refused) {
      try {
        SpiceText({}, pkg, {w}, row.choice);
        ADD_FAILURE() << "accepted";
      } catch (const StageError& e) {
        EXPECT_NE(std::string(e.what()).find("P7"), std::string::npos) << e.what();
      }
    } else {
      EXPECT_NO_THROW(SpiceText({}, pkg, {w}, row.choice));
    }
  }
}

TEST(SpiceTextTest, InductanceChoiceParses) {
  struct Row {
    std::string text;
    bool ok;
    SpiceInductance value;
  };
  const Row rows[] = {{"ac", true, SpiceInductance::kAc},
                      {"DC", true, SpiceInductance::kDc},
                      {"Self", true, SpiceInductance::kSelf},
                      {"mutual", false, {}},
                      {"", false, {}},
                      {"ac ", false, {}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    SpiceInductance out = SpiceInductance::kAc;
    EXPECT_EQ(ParseSpiceInductance(row.text, out), row.ok);
    if (row.ok) EXPECT_EQ(out, row.value);
  }
}

TEST(PositiveDefiniteScaleTest, LargestScaleThatKeepsTheMatrixPositive) {
  struct Row {
    std::string name;
    std::size_t size;
    std::vector<Coupling> pairs;
    double scale;
  };
  // A chain of n with coupling k is positive definite while k < 1 / (2 cos(pi / (n + 1))).
  const Row rows[] = {
      {"pair at 0.5", 2, {{0, 1, 0.5}}, 1.0},
      {"pair at 1.25", 2, {{0, 1, 1.25}}, 0.8},
      {"chain of 3 at 0.8", 3, {{0, 1, 0.8}, {1, 2, 0.8}}, 1 / std::sqrt(2.0) / 0.8},
      {"chain of 4 at 0.7",
       4,
       {{0, 1, 0.7}, {1, 2, 0.7}, {2, 3, 0.7}},
       1 / (2 * std::cos(std::numbers::pi / 5)) / 0.7},
      {"chain of 3 at -0.8", 3, {{0, 1, -0.8}, {1, 2, -0.8}}, 1 / std::sqrt(2.0) / 0.8},
      {"no couplings", 3, {}, 1.0},
      // All three coupled (a band of two): eigenvalues 1 - k twice and 1 + 2k.
      {"triangle at 0.8", 3, {{0, 1, 0.8}, {1, 2, 0.8}, {0, 2, 0.8}}, 1.0},
      {"triangle at -0.6", 3, {{1, 0, -0.6}, {2, 1, -0.6}, {2, 0, -0.6}}, 1 / 1.2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_NEAR(PositiveDefiniteScale(row.size, row.pairs, 1e-12), row.scale, 1e-6);
  }
}

}  // namespace
}  // namespace ostrel
