#pragma once

#include <cstddef>

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

}  // namespace ostrel
