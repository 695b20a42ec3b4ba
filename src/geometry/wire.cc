#include "geometry/wire.h"

#include <algorithm>
#include <utility>

namespace ostrel {

SegmentList::SegmentList(std::initializer_list<WireSegment> segments) {
  Relocate(segments.size());
  std::copy(segments.begin(), segments.end(), data_);
  size_ = segments.size();
}

SegmentList::SegmentList(const SegmentList& other) {
  Relocate(other.size_);
  std::copy(other.begin(), other.end(), data_);
  size_ = other.size_;
}

SegmentList& SegmentList::operator=(const SegmentList& other) {
  if (this != &other) *this = SegmentList(other);
  return *this;
}

SegmentList::SegmentList(SegmentList&& other) noexcept
    : block_(std::move(other.block_)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

SegmentList& SegmentList::operator=(SegmentList&& other) noexcept {
  block_ = std::move(other.block_);
  data_ = std::exchange(other.data_, nullptr);
  size_ = std::exchange(other.size_, 0);
  capacity_ = std::exchange(other.capacity_, 0);
  return *this;
}

void SegmentList::push_back(const WireSegment& segment) {
  if (size_ == capacity_) Relocate(std::max<std::size_t>(8, 2 * capacity_));
  data_[size_++] = segment;
}

bool SegmentList::operator==(const SegmentList& other) const {
  return std::equal(begin(), end(), other.begin(), other.end());
}

void SegmentList::Relocate(std::size_t capacity) {
  if (capacity == 0) {
    block_.reset();
    data_ = nullptr;
    capacity_ = 0;
    return;
  }
  std::shared_ptr<WireSegment[]> own = std::make_shared<WireSegment[]>(capacity);
  std::copy(begin(), end(), own.get());
  data_ = own.get();
  block_ = std::move(own);
  capacity_ = capacity;
}

WireKind KindOf(const Wire& wire) {
  if (wire.StitchWire) return WireKind::kStitch;
  if (wire.StackWire) return WireKind::kStackedDie;
  return WireKind::kBaseDie;
}

}  // namespace ostrel
