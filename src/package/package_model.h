#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/large_pages.h"

// The in-memory picture of one wire-bonded package as its package description file gives it.
// All coordinates and sizes are in microns, stored as singles. Lists hold their records in file
// order; an empty list has no records.
namespace ostrel {

// A bond pad of the base die (CBP) or of the stacked die (SD_CBP), with its substrate finger
// (SBP) and its wire bond (WB). A pad whose wire bond starts at BondX1 = BondY1 = 0 has no wire.
struct BondPad {
  float X = 0, Y = 0;
  float Z = 0;       // base die height when the pad's line was read
  float Width = 0;   // extent along the die edge (stacked die: the line's fifth field)
  float Length = 0;  // extent across the die edge (stacked die: the line's sixth field)
  std::string Side;  // side letter as written (T, B, L or R expected)
  std::string Extra;
  std::string Name;  // key of finger, wire bond and stitch lines (exact match)
  float FingerX = 0, FingerY = 0, FingerZ = 0;
  float FingerWidth = 0, FingerLength = 0, FingerValue = 0;
  std::string FingerExtra;
  float BondX1 = 0, BondY1 = 0, BondZ1 = 0;  // wire start, on the pad
  float BondX2 = 0, BondY2 = 0, BondZ2 = 0;  // wire end, on the finger
  int PadLine = 0;                           // line of the pad in the package file
  int BondLine = 0;  // line of the wire bond that last set the Bond fields (0: none)

  bool operator==(const BondPad&) const = default;
};

// The pads of a die: a list that grows with the package, so placed on large pages.
using PadList = LargePageVector<BondPad>;

// The pads of one side of the base die, as indices into its PadList: as large as the package
// allows, so placed likewise (one large page cleared instead of a fault every 4 KB).
using SideList = LargePageVector<std::size_t>;

// A die-to-die wire, bonded from one pad to another.
struct Stitch {
  std::string Pad1, Pad2;
  float X1 = 0, X2 = 0, Y1 = 0, Y2 = 0, Z1 = 0, Z2 = 0;
  int Line = 0;  // line of the stitch in the package file

  bool operator==(const Stitch&) const = default;
};

// The die-to-die wires: a list that grows with the package, so placed on large pages.
using StitchList = LargePageVector<Stitch>;

// A substrate ring given by two corners.
struct Ring {
  float X1 = 0, X2 = 0, Y1 = 0, Y2 = 0;
  float Value7 = 0;
  std::string Net;
  float Value8 = 0;

  bool operator==(const Ring&) const = default;
};

struct RingSegment {
  std::string Net;
  float A = 0, B = 0;

  bool operator==(const RingSegment&) const = default;
};

// A segmented ring (SRING) with its segments (SRSEG lines naming it).
struct SegRing {
  std::string Name;
  float X1 = 0, X2 = 0, Y1 = 0, Y2 = 0, Value7 = 0;
  std::string Net;
  float Value8 = 0;
  std::vector<RingSegment> Segments;

  bool operator==(const SegRing&) const = default;
};

// A die attach pad.
struct AttachPad {
  std::string Name;
  float V1 = 0, V2 = 0, V3 = 0, V4 = 0, V5 = 0;

  bool operator==(const AttachPad&) const = default;
};

struct Package {
  // Header values. They survive a reset: a file that does not name one keeps the value of the
  // file read before.
  float CompW = 0, CompL = 0;
  float CompZ = 0;  // base die height; 0 only before a file with a COMPZ line has been read
  float SdCompW = 0, SdCompL = 0, SdCompZ = 0;
  float SdRotation = 0, SdXOffset = 0;
  float SdYOffset = 0;  // stored with the file's sign inverted
  std::string Technology, SdTechnology;

  PadList ChipPads;   // base-die pads of all sides, file order
  PadList StackPads;  // stacked-die pads, file order
  // The base-die pads of each side, as indices into ChipPads: in file order as read, then
  // ordered along the die edge. Only what the pad line gives is read through them (position,
  // size, name, line), which no later line of the file changes.
  SideList LeftPads, BottomPads, RightPads, TopPads;
  StitchList Stitches;
  std::vector<Ring> Rings;
  std::vector<SegRing> SegRings;
  std::vector<AttachPad> AttachPads;

  // The file the lists were read from, for messages that point at a line of it.
  std::string SourceFile;

  bool HasStackedDie() const { return !StackPads.empty(); }

  // Empties every list; the header values stay.
  void ResetLists() {
    ChipPads.clear();
    StackPads.clear();
    Rings.clear();
    SegRings.clear();
    AttachPads.clear();
    Stitches.clear();
    LeftPads.clear();
    BottomPads.clear();
    RightPads.clear();
    TopPads.clear();
  }

  bool operator==(const Package&) const = default;
};

}  // namespace ostrel
