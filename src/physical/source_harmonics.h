#pragma once

#include <complex>
#include <vector>

// Equipotential round cylinders of one radius in a cross-section, over a grounded plane y = 0 or
// not, with a unit line charge on cylinder 0 alone: the charge's field polarises the cylinders,
// and each answers with the circumferential harmonics (a / (z - c))^n that keep its surface at
// one potential (multiple scattering, the harmonics moved between centres by the addition
// theorem of log and of z^-n). Unlike HarmonicCorrection (cylinder_harmonics.h), which solves
// every source at once, this solves the one source, with fewer harmonics on cylinders further
// from it: the column of one wire, cheaply enough for every piece of a package.
namespace ostrel::physical {

struct SourceSection {
  std::vector<std::complex<double>> centres_m;  // x + j y; the source is centres_m[0]
  double radius_m = 0;
  bool plane = false;
  // The harmonic series of cylinder 0 are cut where they have fallen to this; a cylinder r from
  // it where they, times (a / r)^(n - 1), have (what harmonic n adds to the others' potential
  // falls so with the distance).
  double tolerance = 1e-4;
};

// With the source's field written -ln r (and its image's +ln r), the mean over each cylinder's
// surface of the potential of all the harmonics: column 0 of HarmonicCorrection's M. Cylinders
// must not touch one another or the plane.
// `start`, when given: in, the harmonics of a nearby section of the same cylinders to start the
// sweeps from (left aside when their number differs); out, this section's.
std::vector<double> SourceHarmonics(const SourceSection& section,
                                    std::vector<double>* start = nullptr);

}  // namespace ostrel::physical
