#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "export/exports.h"
#include "export/npz_archive.h"
#include "physical/physical_model.h"

// What the physical model of the wires (src/physical) gives the user: the model as JSON, a
// fixed-width table of each wire's figures, a SPICE subcircuit of the loop inductances, and the
// frequencies a run asks for. Matrices go out in nH, resistances in mOhm, lengths in microns.
namespace ostrel {

// The model as one JSON object; the names are documented in docs/physical.md and other tools
// read them: frequencies_hz, ground_depth_um, wires (name, kind, diameter_um,
// resistivity_ohm_m, path_um, length_um, resistance_dc_mohm), inductance_partial_nh (null when
// left out), inductance_loop_nh, results (frequency_hz, resistance_mohm,
// internal_inductance_nh), eps_r and capacitance_pf (when the model has a capacitance matrix),
// clearance (wires, at_um, clearance_um, joined; one object per pair), notes. Numbers are the
// shortest text that reads back as the same double. Throws StageError for a number that is not
// finite.
// From more wires than kNpzAdviceWires the JSON (several times 50 MB, and its writing costs more
// than the model) ends its notes with NpzAdvice, which points to .npz; empty below.
std::string PhysicalJsonText(const physical::Model& model);
inline constexpr std::size_t kNpzAdviceWires = 1000;
std::string NpzAdvice(const physical::Model& model);

// True when `path` asks for the model as NumPy .npz: it ends in ".npz" (any letter case).
bool IsNpzPath(std::string_view path);

// The model as NumPy .npz (WriteNpz), the JSON's figures as arrays named after its fields, in the
// same units (docs/physical.md has the table): the JSON's lists of one value per wire or per
// frequency as 1-D arrays, the wires' and the nets' fields as NAME_FIELD, per-frequency results
// as 2-D arrays frequency x wire, a dense matrix n x n, a sparse one as NAME_i, NAME_j and
// NAME_value, the proximity corrections of every frequency stacked with NAME_f, a list of lists
// flat with NAME_start (where each list starts, and the total at the end), text as fixed-width
// unicode. Written piece by piece to `out`, the matrices never copied. Throws StageError as
// PhysicalJsonText does, before any byte of the array at fault is given to `out`.
void WritePhysicalNpz(const physical::Model& model, const ByteSink& out,
                      std::uint64_t zip64_from = kZip64From);

// One line per wire at the model's first frequency: name, length, DC resistance, resistance,
// partial and loop self inductance (each with the internal inductance at that frequency), and
// the strongest neighbour in the loop matrix with its k (physical/coupling.h). Columns are as wide
// as their widest entry. Then the wire pairs of the clearance list: a blank line, a heading line
// with their number, and one line per pair (both names, the place and the clearance in microns,
// "joined" for a pair sharing a bond point).
std::string PhysicalTableText(const physical::Model& model);

// The clearance list in a line or two for a person: the pairs closer than the clearance (their
// number and the five closest with place and clearance), then the pairs joined at a bond point
// (their number and the first five). Empty when the list is.
std::vector<std::string> ClearanceNotes(const physical::Model& model);

// The SPICE subcircuit of the wires with the physical model's loop inductances (written by the
// SPICE writer, with its node names: p_<pad>, f_<pad>, m_<wire>): per wire its resistance and
// internal inductance at the model's first frequency in series with its loop inductance, K
// couplings for every loop coupling whose |k| reaches the model's cut-off, and the ground plane
// as the port `ref`. Couplings are scaled down together when needed to keep the inductance
// matrix positive definite (Cholesky), with a note. Throws StageError when the model is not
// that of `wires` or an inductance is not positive.
// `broadband`: for time-domain work each wire's R and internal inductance are instead an R-L
// ladder fitted to R(f) and L_int(f) from DC to the model's highest frequency
// (physical/internal_ladder.h), the inductors carry only the loop inductance, and the Maxwell
// capacitance matrix is split half to each end of the wires (no dielectric loss).
// `nets`: when not empty, only the wires whose names match these patterns (MatchesNetPattern,
// base/name_patterns.h) go in, with the ports they touch; the others are left out as if
// their ends were at the plane. Throws StageError when no wire matches.
// `partial`: the partial inductances of the wires alone (no plane, no posts) and their proximity
// correction instead, every pad and finger a node; the capacitances (broadband) against the
// plane, port ref. When the model has return wires, the ports are the chosen signals' ends and
// gnd_die, the ground wires' pad ends joined (the reference), then gnd_sub, their finger ends
// joined (and the plane).
SpiceNetlist SpiceLoopText(const ExportHeader& header, const Package& package,
                           const WireList& wires, const physical::Model& model,
                           bool broadband = false, std::string_view nets = {},
                           bool partial = false);

}  // namespace ostrel
