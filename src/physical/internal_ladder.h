#pragma once

#include <complex>
#include <vector>

#include "physical/physical_model.h"

// A passive R-L ladder standing for a round wire's internal impedance in time-domain simulation:
// the skin effect's rise of R(f) and fall of L_int(f) from simple parts a SPICE simulator takes.
namespace ostrel::physical {

// R0 in series with rungs of R_k in parallel with L_k (and a series inductance L_s <= 0):
//   Z(j w) = R0 + j w L_s + sum_k R_k j w tau_k / (1 + j w tau_k),  tau_k = L_k / R_k.
// At DC it is R0 with inductance L_s + sum_k L_k; all parts but L_s positive, so it is passive
// once L_s joins a positive inductance in series.
struct InternalLadder {
  struct Rung {
    double r_ohm = 0, l_h = 0;
  };
  double r0_ohm = 0;
  std::vector<Rung> rungs;
  // Inductance in series with the rungs, 0 or below: the part of a fall of the inductance with
  // frequency (the proximity of close wires) that the rungs, whose inductance falls only to 0,
  // cannot hold. A writer adds it to the wire's external inductor.
  double series_inductance_h = 0;
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

// The ladders of the branches of a model's loop network: for each wire w with in_parallel[w] > 0
// (the wires carried by its branch; 0 leaves the wire out), fitted from DC to the model's top
// frequency (at least a tenth of the frequency where the skin depth equals the radius) to
//   R(f) / p + dR_ww(f)  and  L_int(f) / p + dL_ww(f),
// the wire's exact internal impedance shared by its p wires plus the own terms of the loop
// proximity correction (which a coincident group shares whole). The correction is computed at 5
// frequencies a decade and interpolated (cubic in log f, of dR / R(f) and omega dL / R(f)); the
// fit is that of FitInternalLadder with a series inductance L_s <= 0 beside the rungs (the
// correction lowers the inductance by more than L_int(f) at high frequency), up to 24 rungs until
// R and L are within `target_error`. The error of L is taken against the larger of |L| and
// L_int(f) / p (their sum may pass through 0). max_error also holds the model's own frequencies,
// where the correction is exact.
struct BranchLadders {
  std::vector<InternalLadder> of_wire;  // empty ladders for the wires left out
  double top_hz = 0, max_error = 0;
};
// With `partial`, the own terms of the partial proximity correction instead (the wires alone,
// for a network of partial inductances).
BranchLadders FitBranchLadders(const Model& model, const std::vector<std::size_t>& in_parallel,
                               double target_error = 0.005, bool partial = false);

}  // namespace ostrel::physical
