#include "physical/cylinder_harmonics.h"

#include <Eigen/LU>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <span>

#include "base/stage_error.h"
#include "physical/dense_algebra.h"
#include "physical/physical_model.h"

namespace ostrel::physical {
namespace {

constexpr int kMaxOrders = 40;
// The row solve iterates the reflections up to this many times, to this relative error (squared):
// 1e-5 of the correction, itself a few per cent of a wire's resistance at most.
constexpr int kMaxReflections = 40;
constexpr double kReflectionTolerance = 1e-10;
// The error left after a pass is estimated from its change only while the changes fall at least
// this fast from pass to pass (squared): then the iteration contracts as a geometric series.
constexpr double kSteadyRate = 0.25;

// The harmonic coefficients of all cylinders: cylinder m's harmonic n (1..orders[m]) in sense
// 0, (a / (z - c))^n, and in sense 1, its conjugate (a / conj(z - c))^n; all of sense 0 first,
// then all of sense 1. A cylinder's field answers on another in the other sense, an image's in
// the same: without the plane (R A)^T is zero in its two blocks of one sense. The lists lie in
// a scratch.
struct Layout {
  std::span<const int> orders;
  std::span<const std::size_t> first;  // index of (m, 1, 0); (m, 1, 1) lies `half` later
  std::size_t half = 0, size = 0;
  std::size_t At(std::size_t m, int n, int sense) const {
    return static_cast<std::size_t>(sense) * half + first[m] + static_cast<std::size_t>(n - 1);
  }
};

Layout MakeLayout(const CrossSection& section, int available, HarmonicScratch& scratch) {
  Layout layout;
  scratch.orders.clear();
  scratch.first.clear();
  for (std::size_t m = 0; m < section.centres_m.size(); ++m) {
    const int n = section.orders.empty() ? available : std::min(section.orders[m], available);
    scratch.orders.push_back(std::max(n, 0));
    scratch.first.push_back(layout.half);
    layout.half += static_cast<std::size_t>(scratch.orders.back());
  }
  layout.orders = scratch.orders;
  layout.first = scratch.first;
  layout.size = 2 * layout.half;
  return layout;
}

// The multiple-scattering system (I - R A) x = R B q and the mean field C x, where g = A x + B q
// is the field falling on each cylinder in its local harmonics and R the reflection. With the
// plane, `reflect_t` holds (R A)^T, whose columns run along the harmonics of one source cylinder.
// Without it a cylinder answers in the other sense alone, and the two non-zero blocks of (R A)^T
// are H diag(r) and conj(H) diag(r), r the reflections of the answering cylinder's harmonics
// (the translation's binomials and signs are real): `reflect_t` then holds H alone, half the
// size, and the reflections are applied to the vector it multiplies. `rhs_t` holds (R B)^T,
// and `mean` the rows of C asked for. The three lie in a scratch's storage.
struct System {
  Eigen::Map<Eigen::MatrixXcd> reflect_t, rhs_t, mean;
};

// Storage of `size` elements from `buffer`, which grows when it is too small and never shrinks.
Complex* Room(std::vector<Complex>& buffer, std::size_t size) {
  if (buffer.size() < size) buffer.resize(size);
  return buffer.data();
}

// The reflection of each harmonic of one sense, in the layout's order: r_n of cylinder m's n.
void Reflections(const Layout& layout, const std::vector<Complex>& reflection, Complex* r) {
  for (std::size_t m = 0; m < layout.orders.size(); ++m) {
    std::copy_n(reflection.begin(), layout.orders[m], r + layout.first[m]);
  }
}

// The factors of each entry of (R A)^T that do not depend on where the cylinders lie,
// r_l (-1)^l binom(n + l - 1, l) at [l * stride + n] (and without r_l, for H, followed by the
// same with (-1)^n in place of (-1)^l, for the mirror of a pair), and the line
// source's factors r_l (-1)^l / (2 l) at [l], for harmonics up to the reflection's: made again
// only when the reflection differs from the one they were made for.
void MakeTables(const std::vector<Complex>& reflection, HarmonicScratch& scratch) {
  if (scratch.reflection == reflection && !scratch.factor.empty()) return;
  const int top = static_cast<int>(reflection.size());
  const auto stride = static_cast<std::size_t>(top) + 1;
  // binom(n + l - 1, l) by its recurrence in l: the same value for (n, l) whatever the top.
  Eigen::MatrixXd binom(top + 1, top + 1);
  for (int n = 1; n <= top; ++n) {
    binom(n, 0) = 1;
    for (int l = 1; l <= top; ++l) binom(n, l) = binom(n, l - 1) * (n + l - 1) / l;
  }
  scratch.factor.assign(stride * stride, Complex(0));
  scratch.signed_binom.assign(2 * stride * stride, 0.0);
  for (int l = 1; l <= top; ++l) {
    const double alternate = l % 2 == 0 ? 1.0 : -1.0;
    const Complex r = reflection[static_cast<std::size_t>(l) - 1] * alternate;
    for (int n = 1; n <= top; ++n) {
      const std::size_t at = static_cast<std::size_t>(l) * stride + static_cast<std::size_t>(n);
      scratch.factor[at] = Complex(binom(n, l) * r.real(), binom(n, l) * r.imag());
      scratch.signed_binom[at] = alternate * binom(n, l);
      scratch.signed_binom[stride * stride + at] = (n % 2 == 0 ? 1.0 : -1.0) * binom(n, l);
    }
  }
  scratch.line_factor.assign(stride, Complex(0));
  for (int l = 1; l <= top; ++l) {
    const double alternate = l % 2 == 0 ? 1.0 : -1.0;
    scratch.line_factor[static_cast<std::size_t>(l)] =
        reflection[static_cast<std::size_t>(l) - 1] * (alternate / (2.0 * l));
  }
  scratch.reflection = reflection;
}

// The system, with C's row `mean_of` alone when one is given (its only row), else all of C.
[[gnu::target_clones("avx2", "default")]] System BuildSystem(
    const CrossSection& section, const Layout& layout, HarmonicScratch& scratch,
    std::optional<std::size_t> mean_of = std::nullopt) {
  const std::size_t count = section.centres_m.size();
  const double a = section.radius_m;
  const int top = *std::max_element(layout.orders.begin(), layout.orders.end());
  const auto size = static_cast<Eigen::Index>(layout.size);
  const auto coupled = section.plane ? size : static_cast<Eigen::Index>(layout.half);
  const auto cylinders = static_cast<Eigen::Index>(count);
  const Eigen::Index means = mean_of ? 1 : cylinders;
  System sys{{Room(scratch.reflect_t, std::size_t(coupled * coupled)), coupled, coupled},
             {Room(scratch.rhs_t, layout.size * count), cylinders, size},
             {Room(scratch.mean, std::size_t(means) * layout.size), means, size}};
  // Where cylinder k's row of C lies, or -1 where it is not asked for.
  const auto mean_row = [&](std::size_t k) -> Eigen::Index {
    if (!mean_of) return static_cast<Eigen::Index>(k);
    return k == *mean_of ? 0 : -1;
  };
  // Without the plane each entry of H is written once, and only the parts where a cylinder would
  // answer itself are cleared.
  if (section.plane) {
    sys.reflect_t.setZero();
    sys.rhs_t.setZero();
    sys.mean.setZero();
  } else {
    for (std::size_t k = 0; k < count; ++k) {
      const auto own = static_cast<Eigen::Index>(layout.orders[k]);
      const auto at0 = static_cast<Eigen::Index>(layout.At(k, 1, 0));
      const auto at1 = static_cast<Eigen::Index>(layout.At(k, 1, 1));
      const auto column = static_cast<Eigen::Index>(k);
      sys.reflect_t.block(at0, at0, own, own).setZero();
      sys.rhs_t.block(column, at0, 1, own).setZero();
      sys.rhs_t.block(column, at1, 1, own).setZero();
      if (const Eigen::Index r = mean_row(k); r >= 0) {
        sys.mean.block(r, at0, 1, own).setZero();
        sys.mean.block(r, at1, 1, own).setZero();
      }
    }
  }
  const std::size_t stride = scratch.line_factor.size();
  const std::vector<Complex>& factor = scratch.factor;
  const std::vector<Complex>& line_factor = scratch.line_factor;
  // u^p of each pair of cylinders, p = 0 .. the two orders together, made once for the pair and
  // its mirror: the offsets of k and m (and of their images) differ in sign and conjugation alone,
  // so their powers do, bit for bit (IEEE negation and conjugation are exact).
  Complex* const base = Room(scratch.base, 2 * static_cast<std::size_t>(top) + 1);
  Complex* const powers = Room(scratch.powers, 2 * static_cast<std::size_t>(top) + 1);
  const auto make_base = [&](Complex d, int count_p) {
    // a / d without the library's guarded complex division (d is never near 0 or overflow), and
    // its powers multiplied out by hand (all finite: no checks for infinite parts), the even and
    // the odd ones as two chains by u^2, which the processor runs side by side.
    const auto times = [](Complex x, Complex y) {
      return Complex(x.real() * y.real() - x.imag() * y.imag(),
                     x.real() * y.imag() + x.imag() * y.real());
    };
    const Complex u = (a / std::norm(d)) * std::conj(d), u2 = times(u, u);
    base[0] = 1;
    base[1] = u;
    for (int p = 2; p <= count_p; ++p) {
      base[static_cast<std::size_t>(p)] = times(base[static_cast<std::size_t>(p) - 2], u2);
    }
  };
  // A source at offset d = c_k - c_source: a line source of sign `sign` and harmonics whose
  // analytic family (a / (z - c))^n has the coefficients of sense from_sense[0] of cylinder m
  // and whose conjugate family has those of sense from_sense[1], times `sign`. Graf's addition
  // theorem: (a / (w + d))^n = sum_l binom(n + l - 1, l) (-1)^l (a / d)^(n + l) (w / a)^l, and
  // -ln|w + d| = -ln|d| + sum_l (-1)^l ((w / d)^l + conj)/(2 l). The field of family f, local
  // harmonic l, is answered by cylinder k's coefficient of the other sense, times r_l.
  // The powers of family 0, (a / d)^p, are `base` with every odd power negated when `negate_odd`
  // and conjugated when `conjugate`; family 1 takes their conjugates.
  const auto add_source = [&](std::size_t k, std::size_t m, double sign, const int(&from_sense)[2],
                              bool negate_odd, bool conjugate) {
    const int lk = layout.orders[k], nm = layout.orders[m];
    for (int family = 0; family < 2; ++family) {
      // Signs of the real and imaginary parts of even and odd powers (times 1 or -1: exact).
      const double odd = negate_odd ? -1.0 : 1.0, conj = conjugate != (family == 1) ? -1.0 : 1.0;
      const double sign_of[4] = {1.0, conj, odd, odd * conj};
      const double* from = reinterpret_cast<const double*>(base);
      double* to = reinterpret_cast<double*>(powers);
      for (std::size_t e = 0; e < 2 * static_cast<std::size_t>(lk + nm + 1); ++e) {
        to[e] = sign_of[e & 3] * from[e];
      }
      const auto first_n = static_cast<Eigen::Index>(layout.At(m, 1, from_sense[family]));
      for (int l = 1; l <= lk; ++l) {
        const std::size_t row = layout.At(k, l, 1 - family);
        // Real and imaginary parts read and written as doubles: element by element through
        // std::complex the compiler stores halves and reloads them whole, which stalls.
        const double* lf =
            reinterpret_cast<const double*>(&line_factor[static_cast<std::size_t>(l)]);
        const double rr = sign * lf[0], ri = sign * lf[1], ur = to[2 * l], ui = to[2 * l + 1];
        double* rhs = reinterpret_cast<double*>(
            &sys.rhs_t(static_cast<Eigen::Index>(m), static_cast<Eigen::Index>(row)));
        rhs[0] += rr * ur - ri * ui;
        rhs[1] += rr * ui + ri * ur;
        // Column `row` of (R A)^T, harmonics n of m in a row: r_l binom(n + l - 1, l) (a/d)^(n+l)
        // with its sign, multiplied out by hand (no checks for infinite parts: all are finite).
        Complex* out = &sys.reflect_t(first_n, static_cast<Eigen::Index>(row));
        const Complex* f = &factor[static_cast<std::size_t>(l) * stride];
        const Complex* p = &powers[static_cast<std::size_t>(l)];
        for (int n = 1; n <= nm; ++n) {
          const double fr = f[n].real(), fi = f[n].imag(), pr = p[n].real(), pi = p[n].imag();
          const Complex term(fr * pr - fi * pi, fr * pi + fi * pr);
          out[n - 1] += sign > 0 ? term : -term;
        }
      }
      if (const Eigen::Index r = mean_row(k); r >= 0) {
        for (int n = 1; n <= nm; ++n)
          sys.mean(r, layout.At(m, n, from_sense[family])) += sign * powers[n];
      }
    }
  };
  // Without the plane each entry has one part, and a pair's two blocks of H come from one list of
  // powers: cylinder k answers m's harmonics through (a / d)^p, m answers k's through the same
  // with every odd power negated (`mirror`), which the signs of the tables and of the line
  // source's factors carry: the same products of the same magnitudes (negation is exact).
  if (!section.plane) {
    const auto answer = [&](std::size_t k, std::size_t m, bool mirror) {
      const int lk = layout.orders[k], nm = layout.orders[m];
      const auto column = [&](int sense) {
        return static_cast<Eigen::Index>(layout.At(m, 1, sense));
      };
      for (int l = 1; l <= lk; ++l) {
        const std::size_t row0 = layout.At(k, l, 0), row1 = layout.At(k, l, 1);
        const double* lf =
            reinterpret_cast<const double*>(&line_factor[static_cast<std::size_t>(l)]);
        const double odd = mirror && l % 2 == 1 ? -1.0 : 1.0;
        const double rr = odd * lf[0], ri = odd * lf[1];
        const double ur = base[l].real(), ui = base[l].imag();
        double* to1 = reinterpret_cast<double*>(
            &sys.rhs_t(static_cast<Eigen::Index>(m), static_cast<Eigen::Index>(row1)));
        double* to0 = reinterpret_cast<double*>(
            &sys.rhs_t(static_cast<Eigen::Index>(m), static_cast<Eigen::Index>(row0)));
        to1[0] = rr * ur - ri * ui;
        to1[1] = rr * ui + ri * ur;
        to0[0] = rr * ur + ri * ui;
        to0[1] = ri * ur - rr * ui;
        // Column (k, l) of H: harmonics n of m in a row, (-1)^l binom(n + l - 1, l) (a/d)^(n+l).
        double* out =
            reinterpret_cast<double*>(&sys.reflect_t(column(0), static_cast<Eigen::Index>(row0)));
        const double* s = &scratch.signed_binom[(mirror ? stride * stride : 0) +
                                                static_cast<std::size_t>(l) * stride];
        const double* p = reinterpret_cast<const double*>(&base[static_cast<std::size_t>(l)]);
        for (int n = 1; n <= nm; ++n) {
          out[2 * n - 2] = s[n] * p[2 * n];
          out[2 * n - 1] = s[n] * p[2 * n + 1];
        }
      }
      const Eigen::Index r = mean_row(k);
      for (int n = 1; r >= 0 && n <= nm; ++n) {
        const Complex from = mirror && n % 2 == 1 ? -base[n] : base[n];
        sys.mean(r, column(0) + n - 1) = from;
        sys.mean(r, column(1) + n - 1) = std::conj(from);
      }
    };
    for (std::size_t k = 0; k < count; ++k) {
      for (std::size_t m = k + 1; m < count; ++m) {
        const int both = layout.orders[k] + layout.orders[m];
        make_base(section.centres_m[k] - section.centres_m[m], both);
        answer(k, m, false);
        answer(m, k, true);
      }
    }
    return sys;
  }
  // The image of A(z) is -A(conj z): the conjugate family of m becomes the analytic one of its
  // image and the other way round, with the opposite sign. Each entry takes its direct part
  // before its image part. For k < m: c_m - c_k = -(c_k - c_m) and c_m - conj(c_k) =
  // -conj(c_k - conj(c_m)).
  for (std::size_t k = 0; k < count; ++k) {
    const Complex ck = section.centres_m[k];
    if (section.plane) {
      make_base(ck - std::conj(ck), 2 * layout.orders[k]);
      add_source(k, k, -1.0, {1, 0}, false, false);
    }
    for (std::size_t m = k + 1; m < count; ++m) {
      const Complex cm = section.centres_m[m];
      const int both = layout.orders[k] + layout.orders[m];
      make_base(ck - cm, both);
      add_source(k, m, 1.0, {0, 1}, false, false);
      add_source(m, k, 1.0, {0, 1}, true, false);
      if (!section.plane) continue;
      make_base(ck - std::conj(cm), both);
      add_source(k, m, -1.0, {1, 0}, false, false);
      add_source(m, k, -1.0, {1, 0}, true, true);
    }
  }
  return sys;
}

// (R A)^T whole: with the plane as built, without it from H and the reflections.
Eigen::MatrixXcd WholeTransfer(const System& sys, const CrossSection& section, const Layout& layout,
                               const std::vector<Complex>& reflection) {
  if (section.plane) return sys.reflect_t;
  const auto half = static_cast<Eigen::Index>(layout.half);
  Eigen::VectorXcd r(half);
  Reflections(layout, reflection, r.data());
  Eigen::MatrixXcd whole = Eigen::MatrixXcd::Zero(2 * half, 2 * half);
  whole.topRightCorner(half, half) = sys.reflect_t * r.asDiagonal();
  whole.bottomLeftCorner(half, half) = sys.reflect_t.conjugate() * r.asDiagonal();
  return whole;
}

void CheckFinite(bool finite) {
  if (!finite) throw StageError("the harmonic solution of close wires is not finite");
}

}  // namespace

std::vector<Complex> WireReflection(double frequency_hz, double radius_m, double resistivity_ohm_m,
                                    int orders) {
  std::vector<Complex> r(static_cast<std::size_t>(std::max(orders, 0)), 0.0);
  if (frequency_hz == 0 || orders <= 0) return r;
  const double omega = 2 * std::numbers::pi * frequency_hz;
  const double a_over_delta = radius_m * std::sqrt(omega * kMu0HPerM / (2 * resistivity_ohm_m));
  const Complex ka(a_over_delta, a_over_delta);
  // h_n = I_n / I_(n-1) from I_(n-1) - I_(n+1) = (2n / z) I_n, that is h_n = 1 / (2n / z +
  // h_(n+1)), run down from far above both n and |ka| where h is negligible (Miller's method).
  const int top = orders + 40 + static_cast<int>(2 * std::abs(ka));
  std::vector<Complex> h(static_cast<std::size_t>(top) + 2, 0.0);
  for (int n = top; n >= 1; --n) {
    h[static_cast<std::size_t>(n)] = 1.0 / (2.0 * n / ka + h[static_cast<std::size_t>(n) + 1]);
  }
  for (int n = 1; n <= orders; ++n) {
    r[static_cast<std::size_t>(n) - 1] =
        -h[static_cast<std::size_t>(n)] * h[static_cast<std::size_t>(n) + 1];
  }
  return r;
}

int HarmonicOrders(double radius_m, double closest_m, double tolerance) {
  if (!(closest_m > 2 * radius_m)) return kMaxOrders;
  // Repeated reflection between two cylinders d apart gathers their fields at the limit points
  // of the pair, a / (d / 2 + sqrt(d^2 / 4 - a^2)) of a radius from the far centre.
  const double half = closest_m / 2;
  const double ratio = radius_m / (half + std::sqrt(half * half - radius_m * radius_m));
  const int orders = static_cast<int>(std::ceil(std::log(tolerance) / std::log(ratio)));
  return std::clamp(orders, 1, kMaxOrders);
}

Eigen::MatrixXcd HarmonicCorrection(const CrossSection& section,
                                    const std::vector<Complex>& reflection) {
  const std::size_t count = section.centres_m.size();
  HarmonicScratch scratch;
  const Layout layout = MakeLayout(section, static_cast<int>(reflection.size()), scratch);
  if (layout.size == 0) return Eigen::MatrixXcd::Zero(count, count);
  MakeTables(reflection, scratch);
  const System sys = BuildSystem(section, layout, scratch);
  const Eigen::MatrixXcd matrix = Eigen::MatrixXcd::Identity(layout.size, layout.size) -
                                  WholeTransfer(sys, section, layout, reflection).transpose();
  const Eigen::MatrixXcd m = sys.mean * matrix.partialPivLu().solve(sys.rhs_t.transpose());
  CheckFinite(m.allFinite());
  return 0.5 * (m + m.transpose());
}

Eigen::VectorXcd HarmonicCorrectionRow(const CrossSection& section,
                                       const std::vector<Complex>& reflection, std::size_t row,
                                       HarmonicScratch& scratch, Eigen::VectorXcd* start) {
  const std::size_t count = section.centres_m.size();
  const Layout layout = MakeLayout(section, static_cast<int>(reflection.size()), scratch);
  if (layout.size == 0) return Eigen::VectorXcd::Zero(count);
  MakeTables(reflection, scratch);
  System sys = BuildSystem(section, layout, scratch, row);
  const auto size = static_cast<Eigen::Index>(layout.size);
  // Row k of C S^-1 Rb is (S^-T C_k^T)^T Rb. S = I - RA, so w = C_k^T + (RA)^T w: iterated
  // (the multiple reflections, one per step) while that converges fast, else factorised. The
  // vectors lie in the scratch; each step's new one becomes the next step's old by a swap of
  // where they lie.
  Eigen::Map<Eigen::VectorXcd> c(Room(scratch.mean_row, layout.size), size);
  c = sys.mean.row(0).transpose();
  Complex* old_at = Room(scratch.solution, layout.size);
  Complex* new_at = Room(scratch.next, layout.size);
  if (start != nullptr && start->size() == size) {
    Eigen::Map<Eigen::VectorXcd>(old_at, size) = *start;
  } else {
    Eigen::Map<Eigen::VectorXcd>(old_at, size) = c;
  }
  bool converged = false;
  double last_change = 0;  // the pass before's change (squared)
  const auto half = static_cast<Eigen::Index>(layout.half);
  // Without the plane: the reflection of each harmonic of one sense, and the vector H multiplies.
  Eigen::Map<Eigen::VectorXcd> r(Room(scratch.reflections, layout.half), section.plane ? 0 : half);
  Eigen::Map<Eigen::VectorXcd> scaled(Room(scratch.scaled, layout.half), section.plane ? 0 : half);
  if (!section.plane) Reflections(layout, reflection, r.data());
  for (int step = 0; step < kMaxReflections && !converged; ++step) {
    const Eigen::Map<const Eigen::VectorXcd> w(old_at, size);
    Eigen::Map<Eigen::VectorXcd> next(new_at, size);
    next = c;
    if (section.plane) {
      AddComplexProduct(sys.reflect_t, w, next);
    } else {
      // Each sense is answered by the other alone: the new coefficients of sense 0 already feed
      // those of sense 1 (Gauss-Seidel), two reflections a pass, H (r w_1) and conj(H) (r w_0).
      scaled = r.cwiseProduct(w.tail(half));
      AddComplexProduct(sys.reflect_t, scaled, next.head(half));
      scaled = r.cwiseProduct(next.head(half));
      AddComplexProduct(sys.reflect_t, scaled, next.tail(half), true);
    }
    // A pass that changes the harmonics by delta, where the one before changed them by delta'
    // (rate q = |delta| / |delta'|), leaves about q / (1 - q) |delta| of error: the rest of the
    // geometric series. Only the first pass, or passes that fall slower, take |delta| itself.
    const double change = (next - w).squaredNorm();
    double left = change;
    if (step > 0 && change < kSteadyRate * last_change) {
      const double rate = std::sqrt(change / last_change), share = rate / (1 - rate);
      left = change * share * share;
    }
    converged = left <= kReflectionTolerance * next.squaredNorm();
    last_change = change;
    std::swap(old_at, new_at);
  }
  Eigen::Map<Eigen::VectorXcd> w(old_at, size);
  if (!converged) {
    const Eigen::MatrixXcd matrix = Eigen::MatrixXcd::Identity(layout.size, layout.size) -
                                    WholeTransfer(sys, section, layout, reflection);
    w = matrix.partialPivLu().solve(c);
  }
  Eigen::VectorXcd m = Eigen::VectorXcd::Zero(static_cast<Eigen::Index>(count));
  AddComplexProduct(sys.rhs_t, w, m);
  CheckFinite(m.allFinite());
  if (start != nullptr) *start = w;
  return m;
}

}  // namespace ostrel::physical
