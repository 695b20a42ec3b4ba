#include "base/large_pages.h"

#include <cstdint>

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

std::size_t LargePageRoom(std::size_t bytes) {
  constexpr std::size_t kLargePage = std::size_t{2} << 20;
  return bytes < kLargePage ? bytes : bytes + kLargePage;
}

}  // namespace ostrel
