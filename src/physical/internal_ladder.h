#pragma once

#include <complex>
#include <vector>

// A passive R-L ladder standing for a round wire's internal impedance in time-domain simulation:
// the skin effect's rise of R(f) and fall of L_int(f) from simple parts a SPICE simulator takes.
namespace ostrel::physical {

// R0 in series with rungs of R_k in parallel with L_k:
//   Z(j w) = R0 + sum_k R_k j w tau_k / (1 + j w tau_k),  tau_k = L_k / R_k.
// At DC it is R0 with inductance sum_k L_k; all parts positive, so it is passive.
struct InternalLadder {
  struct Rung {
    double r_ohm = 0, l_h = 0;
  };
  double r0_ohm = 0;
  std::vector<Rung> rungs;
  // Largest relative error of R(f) and of L_int(f) against the exact internal impedance over
  // the fitted range.
  double max_error = 0;

  std::complex<double> Impedance(double frequency_hz) const;
};

// The ladder of a wire (radius, resistivity, length) fitted to its exact internal impedance
// from DC to `max_frequency_hz`: rung time constants log-spaced from where the skin depth equals
// the radius to ten times the top frequency, rung resistances by non-negative least squares on
// the relative errors of R and L_int, with R0 and the DC inductance held exact; rungs are added
// (up to 14) until both errors stay within 1.5% (9 rungs to 20 GHz for a 1-mil gold wire).
InternalLadder FitInternalLadder(double radius_m, double resistivity_ohm_m, double length_m,
                                 double max_frequency_hz);

// The ladder of `length_m` of a wire from that of one metre: every part scales with the length,
// the errors stay the same.
InternalLadder LadderOfLength(const InternalLadder& per_metre, double length_m);

}  // namespace ostrel::physical
