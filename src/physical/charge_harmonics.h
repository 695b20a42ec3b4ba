#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "physical/cell_grid.h"
#include "physical/close_pairs.h"
#include "physical/physical_model.h"

// The uneven charge around wires that run close to one another or to the ground plane. A piece
// of uniform line charge (the pieces of the capacitance model) carries the monopole of the charge
// around its wire; the rest, the circumferential harmonics, is taken from the exact 2-D solution
// of the cross-section at the piece's middle: the parallel round wires beside it (within the
// reach, at most 30 degrees off parallel) and, where the piece runs level, their images in the
// plane (cylinder_harmonics.h with every harmonic reflected by -1, the equipotential cylinder).
//
// For line charges q_j the harmonics lower the mean potential of wire k by sum_j M_kj q_j /
// (2 pi eps) per length; over piece i of length l_i and a piece j of a wire beside it, with o_ij
// the length of j that runs beside i, the potential coefficient of the pieces changes by
// dP_ij = M_0k o_ij / (2 pi eps l_i l_j), and the piece's own by dP_ii = M_00 / (2 pi eps l_i).
// Each piece gives its own row; the matrix takes the mean of the two rows of a pair.
namespace ostrel::physical {

// A straight piece of uniform line charge.
struct ChargePiece {
  Point3 p0, p1;
  double radius_m = 0;
  std::size_t wire = 0;  // pieces of one wire are not each other's neighbours
  // Wires of one conductor (they touch somewhere) are not in each other's sections: at one
  // potential, they are one body where they meet.
  std::size_t conductor = 0;
};

struct ChargeHarmonicSettings {
  // Wires whose axes come closer than this many diameters to a piece's middle are solved with
  // it. Every wire that scatters counts: a wire left out of a section shifts the far couplings
  // of the wires it lies between by tens of percent.
  double reach_diameters = 10;
  // Below this pitch (centre to centre, in diameters), or with the axis less than
  // `accurate_height_radii` radii above the plane, the figures are noted as outside the stated
  // accuracy.
  double accurate_diameters = 1.25;
  double accurate_height_radii = 1.5;
};

struct ChargeHarmonics {
  struct Entry {
    std::size_t piece = 0;
    double value = 0;  // dP_ij, 1/F
  };
  // rows[i]: piece i's corrections, its own (piece i) among them; pieces in the given order.
  std::vector<std::vector<Entry>> rows;
  // Wire pairs (diameters, centre to centre) and wires over the plane (radii, axis height)
  // closer than the stated accuracy, for the notes.
  std::vector<ClosePair> close;
};

// Where the sweeps of a piece's section start: the wires of the section before (the previous
// piece's of the same wire) and its harmonics. Empty: from nothing.
struct SweepStart {
  std::vector<std::size_t> wires;
  bool level = false;
  std::vector<double> harmonics;
};

// The rows of any of a set of pieces, each found when asked for: a cluster of a large package
// needs its pieces' rows only while it is solved. Piece i's row is the one ComputeChargeHarmonics
// gives it, whichever pieces were asked for before and on whichever thread; with a start, to the
// sweeps' tolerance (1e-7 of the harmonics).
class ChargeHarmonicRows {
 public:
  ChargeHarmonicRows(std::vector<ChargePiece> pieces, double depth_m, double eps_f_m,
                     const ChargeHarmonicSettings& settings = {});

  // Piece i's corrections, by piece; its close pairs are appended to `close`. With `start`, its
  // sweeps begin from the section there when that holds the same wires (consecutive pieces of a
  // wire mostly do, and then converge in fewer sweeps), and `start` receives this section.
  std::vector<ChargeHarmonics::Entry> Row(std::size_t i, std::vector<ClosePair>& close,
                                          SweepStart* start = nullptr) const;
  std::size_t size() const { return pieces_.size(); }

 private:
  std::vector<ChargePiece> pieces_;
  std::vector<Point3> middles_;
  std::vector<double> lengths_;
  double depth_m_, eps_f_m_;
  ChargeHarmonicSettings settings_;
  double longest_m_ = 0;
  CellGrid grid_;
};

// The corrections of `pieces` over a ground plane `depth_m` below z = 0, in a dielectric of
// permittivity `eps_f_m` (F/m). The result does not depend on the thread count.
ChargeHarmonics ComputeChargeHarmonics(const std::vector<ChargePiece>& pieces, double depth_m,
                                       double eps_f_m, const ChargeHarmonicSettings& settings = {});

// One note for the close pairs (none when there are none), naming up to five; `names` by wire.
std::vector<std::string> ChargeHarmonicNotes(std::vector<ClosePair> close,
                                             const std::vector<std::string>& names);

}  // namespace ostrel::physical
