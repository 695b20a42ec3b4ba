#pragma once

#include <Eigen/Core>
#include <complex>
#include <vector>

// Parallel round cylinders of one radius in a cross-section, each polarised by the field of the
// others: the outside field of each is its line source plus circumferential harmonics
// (a / r)^n e^(+-j n phi), and each harmonic of the field falling on a cylinder is reflected
// with a factor that depends on the cylinder alone (the multiple-scattering solution of round
// conductors; the translation of harmonics between centres is Graf's addition theorem). A
// perfectly conducting plane y = 0 adds each cylinder's image, with the opposite source.
//
// One solver serves two problems:
// - eddy currents (the proximity effect): the field is the vector potential A_z, the sources
//   the wire currents, and a round wire of radius a reflects harmonic n with
//   r_n = (n - ka I_n'(ka) / I_n(ka)) / (n + ka I_n'(ka) / I_n(ka)) = -h_n h_(n+1),
//   h_n = I_n(ka) / I_(n-1)(ka), ka = (1 + j) a / delta (modified Bessel functions: the current
//   density inside is a sum of I_n(k r) e^(j n phi));
// - electrostatics: the field is the potential, the sources line charges, and an equipotential
//   cylinder reflects every harmonic with r_n = -1.
namespace ostrel::physical {

using Complex = std::complex<double>;

struct CrossSection {
  std::vector<Complex> centres_m;  // x + j y, y the height above the plane when there is one
  double radius_m = 0;
  bool plane = false;  // a perfect conductor along y = 0
  // Harmonics kept on each cylinder (empty: as many as the reflection has, on every one).
  std::vector<int> orders;
};

// r_1 .. r_orders of a round wire (index 0 holds r_1) at `frequency_hz`; all 0 at DC.
std::vector<Complex> WireReflection(double frequency_hz, double radius_m, double resistivity_ohm_m,
                                    int orders);

// With the field of a source q written -q ln r, the mean over cylinder k's surface of the field
// of the harmonics that all the sources induce (the part the line sources alone leave out) is
// sum_j M_kj q_j. M is symmetric. `reflection` holds r_1 .. r_N: N is the number of harmonics
// kept on every cylinder unless the section says otherwise. Cylinders must not touch.
Eigen::MatrixXcd HarmonicCorrection(const CrossSection& section,
                                    const std::vector<Complex>& reflection);

// What one thread keeps from one cross-section to the next, filled and read by the solver alone:
// the reflection's tables (made again when the reflection changes) and the storage of the
// system and its vectors, which grows to the largest section seen and is then reused, so that
// a section costs no allocation.
struct HarmonicScratch {
  std::vector<Complex> reflection, factor, line_factor;
  std::vector<double> signed_binom;
  std::vector<int> orders;
  std::vector<std::size_t> first;
  std::vector<Complex> reflect_t, rhs_t, mean, base, powers, mean_row, solution, next, reflections,
      scaled;
};

// Row `row` of the same matrix alone (one solve of the transposed system, iterated to 1e-5),
// in `scratch`'s storage. `start`, when given: in, the solution of a nearby section of the same
// cylinders to start the iteration from (left aside when its size differs); out, this section's.
Eigen::VectorXcd HarmonicCorrectionRow(const CrossSection& section,
                                       const std::vector<Complex>& reflection, std::size_t row,
                                       HarmonicScratch& scratch, Eigen::VectorXcd* start = nullptr);

// Harmonics enough for a section whose closest centres (cylinder to cylinder, or to an image)
// are `closest_m` apart, to cut the slowest series where its terms have fallen to `tolerance`.
int HarmonicOrders(double radius_m, double closest_m, double tolerance = 1e-5);

}  // namespace ostrel::physical
