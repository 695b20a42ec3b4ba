#include "physical/net_impedance.h"

#include <Eigen/LU>
#include <cmath>
#include <numbers>
#include <string>

#include "base/stage_error.h"

namespace ostrel::physical {
namespace {

using Complex = std::complex<double>;

// The partial impedance matrix of `wires` at result `r` (omega 0: the resistances alone) and the
// inductance matrix (partial, internal, correction) beside it.
void NetMatrices(const Model& model, const FrequencyResult& r,
                 const std::vector<std::size_t>& wires, Eigen::MatrixXcd& z, Eigen::MatrixXd& l) {
  const auto m = static_cast<Eigen::Index>(wires.size());
  const double omega = 2 * std::numbers::pi * r.frequency_hz;
  z.resize(m, m);
  l.resize(m, m);
  for (Eigen::Index a = 0; a < m; ++a) {
    const std::size_t i = wires[std::size_t(a)];
    for (Eigen::Index b = 0; b < m; ++b) {
      const std::size_t j = wires[std::size_t(b)];
      double resistance = r.proximity_partial.delta_resistance_ohm.At(i, j);
      double inductance =
          model.partial_inductance_h->At(i, j) + r.proximity_partial.delta_inductance_h.At(i, j);
      if (i == j) resistance += r.resistance_ohm[i], inductance += r.internal_inductance_h[i];
      l(a, b) = inductance;
      z(a, b) = Complex(resistance, omega * inductance);
    }
  }
}

// Wires of net 0 carry I in all, those of net 1 (if any) -I, the ends of each net joined: the
// impedance V / I, V the voltage of net 0 over net 1, as R and L.
NetFigures Reduced(const Model& model, const FrequencyResult& r, const std::vector<std::size_t>& p,
                   const std::vector<std::size_t>& g) {
  std::vector<std::size_t> wires = p;
  wires.insert(wires.end(), g.begin(), g.end());
  Eigen::MatrixXcd z;
  Eigen::MatrixXd l;
  NetMatrices(model, r, wires, z, l);
  const auto np = static_cast<Eigen::Index>(p.size()), m = static_cast<Eigen::Index>(wires.size());
  Eigen::MatrixXcd ones = Eigen::MatrixXcd::Zero(m, g.empty() ? 1 : 2);
  ones.col(0).head(np).setOnes();
  if (!g.empty()) ones.col(1).tail(m - np).setOnes();
  // Currents for unit node voltages, then the node voltages that drive +I and -I.
  const Eigen::MatrixXcd y_ones = z.partialPivLu().solve(ones);
  const Eigen::MatrixXcd nodes = ones.transpose() * y_ones;  // node admittances
  Eigen::VectorXcd drive(ones.cols());
  drive(0) = 1;
  if (!g.empty()) drive(1) = -1;
  const Eigen::VectorXcd e = nodes.partialPivLu().solve(drive);
  const Complex v = g.empty() ? e(0) : e(0) - e(1);
  const Eigen::VectorXcd current = y_ones * e;
  if (!std::isfinite(v.real()) || !std::isfinite(v.imag())) {
    throw StageError("the impedance of a ground or supply net is not finite");
  }
  const double omega = 2 * std::numbers::pi * r.frequency_hz;
  NetFigures f;
  f.resistance_ohm = v.real();
  f.inductance_h =
      omega > 0 ? v.imag() / omega : (current.real().transpose() * l * current.real()).value();
  return f;
}

// The symmetric part of `m` as a dense SymmetricMatrix (the reduction's round-off makes the two
// triangles differ in the last bits).
SymmetricMatrix Symmetric(const Eigen::MatrixXd& m) {
  const auto n = static_cast<std::size_t>(m.rows());
  SymmetricMatrix out{n, true, std::vector<double>(n * n), {}};
  for (Eigen::Index a = 0; a < m.rows(); ++a) {
    for (Eigen::Index b = 0; b < m.cols(); ++b) {
      out.values[std::size_t(a) * n + std::size_t(b)] = (m(a, b) + m(b, a)) / 2;
    }
  }
  return out;
}

ReturnLoop ReturnLoopAt(const Model& model, const FrequencyResult& r, const ReturnWires& wires) {
  std::vector<std::size_t> all = wires.signal_wires;
  all.insert(all.end(), wires.ground.begin(), wires.ground.end());
  Eigen::MatrixXcd z;
  Eigen::MatrixXd l;
  NetMatrices(model, r, all, z, l);
  const auto s = static_cast<Eigen::Index>(wires.signal_wires.size());
  const auto g = static_cast<Eigen::Index>(wires.ground.size());
  const Eigen::PartialPivLU<Eigen::MatrixXcd> z_gg(z.bottomRightCorner(g, g));
  const Eigen::VectorXcd y_ones = z_gg.solve(Eigen::VectorXcd::Ones(g));  // Z_gg^-1 1
  const Eigen::MatrixXcd y_z = z_gg.solve(z.bottomLeftCorner(g, s));      // Z_gg^-1 Z_gs
  const Complex c = y_ones.sum();                                         // 1^T Z_gg^-1 1
  // V_g = u^T I_s / c with u^T = 1^T Z_gg^-1 Z_gs - 1^T, from 1^T I_g = -1^T I_s.
  const Eigen::RowVectorXcd u = y_z.colwise().sum() - Eigen::RowVectorXcd::Ones(s);
  Eigen::MatrixXcd t(s + g, s);
  t.topRows(s).setIdentity();
  t.bottomRows(g) = y_ones * (u / c) - y_z;
  const Eigen::MatrixXcd z_loop = t.transpose() * z * t;
  ReturnLoop loop;
  loop.wires = wires.signal_wires;
  const double omega = 2 * std::numbers::pi * r.frequency_hz;
  loop.resistance_ohm = Symmetric(z_loop.real());
  loop.inductance_h = Symmetric(omega > 0 ? Eigen::MatrixXd(z_loop.imag() / omega)
                                          : Eigen::MatrixXd(t.real().transpose() * l * t.real()));
  for (const std::vector<double>* v : {&loop.resistance_ohm.values, &loop.inductance_h.values}) {
    for (double x : *v) {
      if (!std::isfinite(x)) {
        throw StageError("a signal's loop through the ground wires is not finite at " +
                         std::to_string(r.frequency_hz) + " Hz");
      }
    }
  }
  return loop;
}

}  // namespace

std::vector<ReturnLoop> ReturnLoops(const Model& model, const ReturnWires& wires) {
  if (!model.partial_inductance_h) {
    throw StageError("the loops through the ground wires need the partial inductance matrix");
  }
  if (wires.ground.empty()) throw StageError("no ground wire to return the signals' current");
  std::vector<char> used(model.conductors.size(), 0);
  for (const std::vector<std::size_t>* set : {&wires.ground, &wires.signal_wires}) {
    for (std::size_t w : *set) {
      if (w >= used.size()) throw StageError("a return wire index is out of range");
      if (used[w]++) {
        throw StageError("wire " + model.conductors[w].name +
                         " is both a ground wire and a signal of the return loops");
      }
    }
  }
  std::vector<ReturnLoop> out;
  for (const FrequencyResult& r : model.results) out.push_back(ReturnLoopAt(model, r, wires));
  return out;
}

std::vector<NetImpedance> NetImpedances(const Model& model, const std::vector<SharedNet>& nets,
                                        bool loops) {
  if (!model.partial_inductance_h) {
    throw StageError("the nets' impedances need the partial inductance matrix");
  }
  std::vector<std::size_t> ground;
  std::vector<const SharedNet*> owner(model.conductors.size(), nullptr);
  for (const SharedNet& net : nets) {
    if (!net.supply) ground.insert(ground.end(), net.wires.begin(), net.wires.end());
    for (std::size_t w : net.wires) {
      if (w >= owner.size()) throw StageError("net " + net.name + " names a wire out of range");
      if (loops && owner[w] != nullptr) {
        throw StageError("wire " + model.conductors[w].name + " is in nets " + owner[w]->name +
                         " and " + net.name);
      }
      owner[w] = &net;
    }
  }
  std::vector<NetImpedance> out;
  for (const SharedNet& net : nets) {
    NetImpedance n{net, {}, {}};
    for (const FrequencyResult& r : model.results) {
      n.parallel.push_back(Reduced(model, r, net.wires, {}));
      if (loops && net.supply && !ground.empty())
        n.supply_loop.push_back(Reduced(model, r, net.wires, ground));
    }
    out.push_back(std::move(n));
  }
  return out;
}

}  // namespace ostrel::physical
