#include "base/large_pages.h"

#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ostrel {

void AdviseLargePages(const void* data, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
  if (bytes < kLargePage) return;  // too small to hold a whole large page
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t last = (begin + bytes) & ~(kLargePage - 1);
  if (last <= first) return;
  // The advice is a hint; its failure (an older system, large pages switched off) changes
  // nothing but the speed.
  ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

namespace {

constexpr std::size_t kLargePageBytes = std::size_t{2} << 20;
constexpr std::align_val_t kLargePageAlignment{kLargePageBytes};

// `bytes` rounded up to whole large pages, so that the last one is not shared with other data.
std::size_t WholeLargePages(std::size_t bytes) {
  return (bytes + kLargePageBytes - 1) & ~(kLargePageBytes - 1);
}

}  // namespace

void* AllocateLargePageMemory(std::size_t bytes) {
  const std::size_t room = WholeLargePages(bytes);
  if (room < bytes) throw std::bad_alloc();
  void* data = ::operator new(room, kLargePageAlignment);
  AdviseLargePages(data, room);
  return data;
}

void FreeLargePageMemory(void* data) noexcept { ::operator delete(data, kLargePageAlignment); }

std::size_t LargePageRoom(std::size_t bytes) {
  constexpr std::size_t kLargePage = std::size_t{2} << 20;
  return bytes < kLargePage ? bytes : bytes + kLargePage;
}

}  // namespace ostrel
