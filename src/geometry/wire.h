#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>

#include "base/large_pages.h"

// Wires as chains of straight segments. Coordinates are in the path frame: package X, package Y
// with its sign inverted, height Z; all in microns.
namespace ostrel {

struct WireSegment {
  float X1 = 0, Y1 = 0, Z1 = 0;  // start
  float X2 = 0, Y2 = 0, Z2 = 0;  // end
  float Inductance = 0;          // nH; only the head (segment 0) carries one
  float Resistance = 0;          // mOhm
  float Length = 0;              // microns

  bool operator==(const WireSegment&) const = default;
};

// The segments of one wire, in order, read and written as a vector's elements are. The lists
// that BuildWirePaths makes share a few large blocks of memory with the other wires of the
// package (one allocation for many wires instead of one each); each list still owns its own
// segments: a copy of a list, or a list that grows, has a block of its own.
class SegmentList {
 public:
  SegmentList() = default;
  SegmentList(std::initializer_list<WireSegment> segments);
  // The `count` segments at `data`, which lie in the memory kept alive by `block`.
  SegmentList(std::shared_ptr<const void> block, WireSegment* data, std::size_t count)
      : block_(std::move(block)), data_(data), size_(count), capacity_(count) {}
  SegmentList(const SegmentList& other);
  SegmentList& operator=(const SegmentList& other);
  SegmentList(SegmentList&& other) noexcept;
  SegmentList& operator=(SegmentList&& other) noexcept;
  ~SegmentList() = default;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  WireSegment& operator[](std::size_t i) { return data_[i]; }
  const WireSegment& operator[](std::size_t i) const { return data_[i]; }
  WireSegment& front() { return data_[0]; }
  const WireSegment& front() const { return data_[0]; }
  WireSegment& back() { return data_[size_ - 1]; }
  const WireSegment& back() const { return data_[size_ - 1]; }
  WireSegment* begin() { return data_; }
  WireSegment* end() { return data_ + size_; }
  const WireSegment* begin() const { return data_; }
  const WireSegment* end() const { return data_ + size_; }

  void push_back(const WireSegment& segment);
  void clear() { size_ = 0; }

  bool operator==(const SegmentList& other) const;

 private:
  // Moves the segments into a block of its own with room for `capacity`.
  void Relocate(std::size_t capacity);

  std::shared_ptr<const void> block_;
  WireSegment* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

struct Wire {
  std::string Name;         // pad name, or "(" + Pad1 + ":" + Pad2 + ")" for a stitch
  bool StackWire = false;   // starts on a stacked-die pad
  bool StitchWire = false;  // stitch wire from the stacked die to the base die
  SegmentList Segments;
  float InductanceDC = 0, InductanceAC = 0, InductanceMutual = 0, InductanceSelf = 0;  // nH
  float Resistance = 0;                                                                // mOhm
  float Length = 0;                                                                    // microns
  int SourceLine = 0;  // line of the package file that gave the wire's end points

  bool operator==(const Wire&) const = default;
};

// The wires of a package: a list that grows with the package, so placed on large pages.
using WireList = LargePageVector<Wire>;

// The three kinds of wire, in the order the estimation builds them.
enum class WireKind { kBaseDie, kStackedDie, kStitch };

WireKind KindOf(const Wire& wire);

}  // namespace ostrel
