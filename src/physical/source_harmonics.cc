#include "physical/source_harmonics.h"

#include <Eigen/Core>
#include <Eigen/LU>
#include <algorithm>
#include <cmath>
#include <limits>

#include "base/stage_error.h"

namespace ostrel::physical {
namespace {

using Complex = std::complex<double>;
constexpr int kMaxOrders = 40;
// binom(n + l - 1, l) at [n][l] for n, l up to kMaxOrders (row 0 unused), by its recurrence in l
// from binom(n + 0 - 1, 0) = 1: made once, when the program is compiled, where every section made
// them again (a chain of quotients as long as its harmonics squared).
struct Binomials {
  double at[kMaxOrders + 1][kMaxOrders + 1];
};
constexpr Binomials MakeBinomials() {
  Binomials b{};
  for (int n = 1; n <= kMaxOrders; ++n) {
    b.at[n][0] = 1;
    for (int l = 1; l <= kMaxOrders; ++l) b.at[n][l] = b.at[n][l - 1] * (n + l - 1) / l;
  }
  return b;
}
constexpr Binomials kBinomials = MakeBinomials();

// The system by rows: its equations are built along the rows, and solved a cylinder's rows at a
// time.
using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// Harmonics of a cylinder whose closest neighbour (centre or image) is `closest_m` away and which
// lies `source_m` from the source. Two cylinders d apart gather their repeated reflections at the
// limit points of the pair, a / (d / 2 + sqrt(d^2 / 4 - a^2)) of a radius from the far centre
// (as HarmonicOrders): the cylinder's series falls as ratio^n. What harmonic n of a cylinder r
// from the source adds to the source's column falls a further (a / r)^(n - 1): the series is
// cut where ratio^n (a / r)^(n - 1) has fallen to `tolerance`.
int Orders(double radius_m, double closest_m, double source_m, double tolerance) {
  if (!(closest_m > 2 * radius_m)) return kMaxOrders;
  const double half = closest_m / 2;
  const double ratio = radius_m / (half + std::sqrt(half * half - radius_m * radius_m));
  const double seen = source_m > 2 * radius_m ? std::log(radius_m / source_m) : 0.0;
  const int orders =
      static_cast<int>(std::ceil((std::log(tolerance) + seen) / (std::log(ratio) + seen)));
  return std::clamp(orders, 1, kMaxOrders);
}

// The change of the harmonics in a sweep, relative to them (squared), at which the sweeps stop:
// 1e-7, three orders below the series' own cut (`tolerance`, 1e-4). Sweeping on to 1e-9 takes a
// fifth more sweeps and moves no capacitance entry of a 3,300-wire package by 2e-7 of itself.
constexpr double kSweepTolerance = 1e-14;

// x of system x = rhs, the harmonics of the cylinders (unknowns first[k] to first[k + 1] on
// cylinder k). The system is the identity plus the field that each cylinder's harmonics throw on
// the others (and on itself, through its image), which falls off as (a / d)^(n + l): swept
// cylinder by cylinder, each answering the field of the others as last found (the multiple
// reflections, block Gauss-Seidel), it converges in a few sweeps where the wires are a few
// diameters apart, each sweep one product with the matrix. Where they are close it converges
// slowly: once the sweeps so far show that reaching the tolerance would take more of them than a
// factorisation costs (2 n^3 / 3 against 2 n^2 each), the system is factorised instead.
Eigen::VectorXd Solve(const RowMatrix& system, const Eigen::VectorXd& rhs,
                      const std::vector<Eigen::Index>& first, const std::vector<double>* start) {
  const Eigen::Index n = rhs.size();
  const double most_sweeps = std::max(4.0, static_cast<double>(n) / 3);
  Eigen::VectorXd x = Eigen::VectorXd::Zero(n), r(n);
  if (start != nullptr && static_cast<Eigen::Index>(start->size()) == n) {
    x = Eigen::Map<const Eigen::VectorXd>(start->data(), n);
  }
  double before = 0;
  for (int sweep = 1; sweep <= most_sweeps; ++sweep) {
    double change = 0;
    for (std::size_t k = 0; k + 1 < first.size(); ++k) {
      const Eigen::Index at = first[k], size = first[k + 1] - first[k];
      r.head(size) = rhs.segment(at, size);
      r.head(size).noalias() -= system.middleRows(at, size) * x;
      x.segment(at, size) += r.head(size);
      change += r.head(size).squaredNorm();
    }
    const double wanted = kSweepTolerance * x.squaredNorm();
    if (change <= wanted) return x;
    if (!std::isfinite(change)) break;
    // The sweeps still needed at the rate of the last one.
    if (sweep > 1) {
      const double rate = change / before;
      if (!(rate < 1) || sweep + std::log(wanted / change) / std::log(rate) > most_sweeps) break;
    }
    before = change;
  }
  return system.partialPivLu().solve(rhs);
}

}  // namespace

std::vector<double> SourceHarmonics(const SourceSection& section, std::vector<double>* start) {
  const std::vector<Complex>& c = section.centres_m;
  const std::size_t count = c.size();
  const double a = section.radius_m;
  std::vector<double> out(count, 0.0);
  if (count == 0) return out;
  // Harmonics on each cylinder, and where its unknowns start.
  std::vector<int> orders(count);
  std::vector<Eigen::Index> first(count + 1, 0);
  for (std::size_t m = 0; m < count; ++m) {
    double closest = std::numeric_limits<double>::infinity();  // squared until the end
    for (std::size_t k = 0; k < count; ++k) {
      if (k != m) closest = std::min(closest, std::norm(c[m] - c[k]));
      if (section.plane) closest = std::min(closest, std::norm(c[m] - std::conj(c[k])));
    }
    orders[m] = Orders(a, std::sqrt(closest), std::abs(c[m] - c[0]), section.tolerance);
    first[m + 1] = first[m] + 2 * orders[m];
  }
  // Harmonic n of cylinder m is Re[alpha (a / (z - c_m))^n], its image -Re[conj(alpha)
  // (a / (z - conj c_m))^n]. The field falling on cylinder k, in its local harmonics
  // Re[beta_l ((z - c_k) / a)^l], is cancelled on its surface by alpha_(k,l) = -conj(beta_l):
  // rows (k, l) hold alpha_(k,l) + conj(beta_l) = 0, two real rows each.
  const Eigen::Index unknowns = first[count];
  // Every entry is written below: left uninitialised.
  RowMatrix system(unknowns, unknowns);
  Eigen::VectorXd rhs = Eigen::VectorXd::Zero(unknowns);
  // (a / d)^p of each cylinder k with each other cylinder m, d = c_k - c_m, and with each image,
  // d = c_k - conj(c_m), for p up to the orders of both (the most that the pair uses; the
  // potentials at the centres below use the first orders[m]). d of (m, k) is -d of (k, m), for
  // the image -conj(d): its powers are those of (k, m) times (-1)^p (conjugated), to the bit, so
  // each pair's are multiplied out once.
  const std::size_t images = section.plane ? 2 : 1;
  std::vector<std::size_t> powers_at(count * count * images + 1, 0);
  for (std::size_t k = 0; k < count; ++k) {
    for (std::size_t m = 0; m < count; ++m) {
      for (std::size_t image = 0; image < images; ++image) {
        const std::size_t at = (k * count + m) * images + image;
        powers_at[at + 1] = powers_at[at] + static_cast<std::size_t>(orders[k] + orders[m]) + 1;
      }
    }
  }
  // Every power is written before it is read: left uninitialised.
  Eigen::Matrix<Complex, Eigen::Dynamic, 1> pair_powers(
      static_cast<Eigen::Index>(powers_at.back()));
  const auto powers_of = [&](std::size_t k, std::size_t m, int image) {
    return pair_powers.data() +
           powers_at[(k * count + m) * images + static_cast<std::size_t>(image)];
  };
  for (std::size_t k = 0; k < count; ++k) {
    for (std::size_t m = k; m < count; ++m) {
      for (int image = 0; image < static_cast<int>(images); ++image) {
        if (image == 0 && m == k) continue;
        const Complex d = c[k] - (image == 1 ? std::conj(c[m]) : c[m]);
        // a / d without the library's guarded complex division (d is never near 0 or overflow),
        // the products multiplied out by hand: the library's check for infinite parts after
        // each one holds up the chain (all are finite).
        const double scale = a / std::norm(d), ur = scale * d.real(), ui = -scale * d.imag();
        Complex* powers = powers_of(k, m, image);
        Complex* mirrored = powers_of(m, k, image);
        double pr = 1, pi = 0;
        powers[0] = mirrored[0] = 1;
        const auto highest = static_cast<std::size_t>(orders[k] + orders[m]);
        for (std::size_t p = 1; p <= highest; ++p) {
          const double next_r = pr * ur - pi * ui;
          pi = pr * ui + pi * ur;
          pr = next_r;
          powers[p] = Complex(pr, pi);
          const double odd = p % 2 == 1 ? -1.0 : 1.0;
          if (m != k) mirrored[p] = image == 1 ? Complex(odd * pr, -odd * pi) : odd * powers[p];
        }
      }
    }
  }
  // Each block (k, m) is written in one pass, the wire's and the image's terms together; every
  // entry once, begun from 0 (or the identity's 1) as if the system had been cleared first
  // (x + 0 is 0 + x to the bit, a negative zero included).
  for (std::size_t k = 0; k < count; ++k) {
    for (std::size_t m = 0; m < count; ++m) {
      const bool direct = m != k;
      const Complex* wire_powers = direct ? powers_of(k, m, 0) : nullptr;
      const Complex* image_powers = section.plane ? powers_of(k, m, 1) : nullptr;
      for (int l = 1; l <= orders[k]; ++l) {
        const Eigen::Index row = first[k] + 2 * (l - 1);
        const double alternate = l % 2 == 0 ? 1.0 : -1.0;
        if (m == 0) {
          // The unit source -ln|z - c_0| (its image +ln|z - conj c_0|): beta_l gains
          // (-1)^l (a / d)^l / l; conj(beta_l) moves to the right-hand side.
          const auto add_source = [&](const Complex* powers, double sign) {
            if (powers == nullptr) return;
            const Complex beta = sign * alternate / l * powers[static_cast<std::size_t>(l)];
            rhs(row) -= beta.real();
            rhs(row + 1) += beta.imag();
          };
          add_source(wire_powers, 1.0);
          add_source(image_powers, -1.0);
        }
        double* upper = &system(row, first[m]);
        double* lower = &system(row + 1, first[m]);
        for (int n = 1; n <= orders[m]; ++n) {
          // beta_l gains alpha (or, for the image, -conj(alpha)) times
          // (-1)^l binom(n + l - 1, l) (a / d)^(n + l); conj(beta_l) takes conj(alpha)
          // (for the image, -alpha) times the conjugate factor: c conj(alpha) adds (re c, im c)
          // to alpha's real part's column and (im c, -re c) to its imaginary part's, c alpha
          // (re c, im c) and (-im c, re c).
          const double one = direct || n != l ? 0.0 : 1.0;
          double e00 = one, e10 = 0, e01 = 0, e11 = one;
          const auto at = static_cast<std::size_t>(n + l);
          if (direct) {
            const double s = alternate * kBinomials.at[n][l];
            const double re = wire_powers[at].real() * s, im = -wire_powers[at].imag() * s;
            e00 = re + 0.0;
            e10 = im + 0.0;
            e01 = im + 0.0;
            e11 = -re + 0.0;
          }
          if (image_powers != nullptr) {
            const double s = -alternate * kBinomials.at[n][l];
            const double re = image_powers[at].real() * s, im = -image_powers[at].imag() * s;
            e00 += re;
            e10 += im;
            e01 += -im;
            e11 += re;
          }
          const auto col = static_cast<std::ptrdiff_t>(2 * (n - 1));
          upper[col] = e00;
          upper[col + 1] = e01;
          lower[col] = e10;
          lower[col + 1] = e11;
        }
      }
    }
  }
  const Eigen::VectorXd x = Solve(system, rhs, first, start);
  if (start != nullptr) start->assign(x.data(), x.data() + x.size());
  // The mean over a cylinder of a harmonic centred elsewhere is its value at the centre.
  const auto potential_at = [&](std::size_t k) {
    double sum = 0;
    for (std::size_t m = 0; m < count; ++m) {
      for (int image = 0; image < static_cast<int>(images); ++image) {
        if (image == 0 && m == k) continue;
        const Complex* powers = powers_of(k, m, image);
        for (int n = 1; n <= orders[m]; ++n) {
          // Re[alpha p], for the image Re[-conj(alpha) p].
          const double ar = x(first[m] + 2 * (n - 1)), ai = x(first[m] + 2 * (n - 1) + 1);
          const Complex& p = powers[static_cast<std::size_t>(n)];
          sum += image == 1 ? -(ar * p.real() + ai * p.imag()) : ar * p.real() - ai * p.imag();
        }
      }
    }
    return sum;
  };
  for (std::size_t k = 0; k < count; ++k) out[k] = potential_at(k);
  for (double v : out) {
    if (!std::isfinite(v)) throw StageError("the harmonic solution of close wires is not finite");
  }
  return out;
}

}  // namespace ostrel::physical
