#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace ostrel {

// Asks the system to back the memory [data, data + bytes) with large pages, where the region is
// large enough to hold some: memory touched for the first time then costs one page fault per
// 2 MB instead of one per 4 KB, which for the lists of a large package is most of the time of a
// package read. Call it on memory not yet written (a freshly reserved list). Only a hint:
// where the system cannot or will not, nothing changes, and no result ever depends on it.
void AdviseLargePages(const void* data, std::size_t bytes);

// Room to reserve for `bytes` of a large buffer that is then advised: one large page more, so
// that its last large page lies whole inside the buffer and is taken as one (the room past
// `bytes` is never touched, so it costs address space only). Small buffers get `bytes`.
std::size_t LargePageRoom(std::size_t bytes);

// Memory for `bytes` that starts on a large-page boundary and is advised as above, so that all
// of it can lie on large pages (a buffer placed anywhere has a head before its first boundary
// that is taken 4 KB at a time). Rounded up to whole large pages; free it with
// FreeLargePageMemory.
void* AllocateLargePageMemory(std::size_t bytes);
void FreeLargePageMemory(void* data) noexcept;

// An allocator that places lists of an eighth of a large page or more with
// AllocateLargePageMemory and smaller ones as the standard allocator does: for the lists that
// grow with the package. Clearing one large page costs about ten faults of 4 KB (measured on a
// virtual machine: about 110 us against 10 to 12 us a fault), so 256 KB taken 4 KB at a time
// (64 faults) costs several times what its large page does; such a list holds up to 2 MB of
// memory, which bounds the waste to 2 MB a list.
template <typename T>
struct LargePageAllocator {
  using value_type = T;

  static constexpr std::size_t kSmallestBytes = std::size_t{1} << 18;

  LargePageAllocator() = default;
  template <typename U>
  LargePageAllocator(const LargePageAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kSmallestBytes) return std::allocator<T>().allocate(n);
    return static_cast<T*>(AllocateLargePageMemory(bytes));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kSmallestBytes) {
      std::allocator<T>().deallocate(p, n);
    } else {
      FreeLargePageMemory(p);
    }
  }

  template <typename U>
  bool operator==(const LargePageAllocator<U>&) const noexcept {
    return true;
  }
};

// A list placed by LargePageAllocator.
template <typename T>
using LargePageVector = std::vector<T, LargePageAllocator<T>>;

}  // namespace ostrel
