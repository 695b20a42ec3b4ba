#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The memory a dense step of the model may take, checked before the step allocates: a dense
// n x n matrix of a package of tens of thousands of wires needs tens of gigabytes, and a run that
// asks for more than the machine has ends with a clear message instead of failing halfway.
namespace ostrel::physical {

// What the process may still take, bytes; each figure absent where the system sets no bound.
struct MemoryRoom {
  std::optional<std::uint64_t> available;      // MemAvailable of /proc/meminfo
  std::optional<std::uint64_t> address_space;  // RLIMIT_AS less the address space in use
  std::optional<std::uint64_t> cgroup;         // memory.max less memory.current, tightest cgroup

  bool operator==(const MemoryRoom&) const = default;
};

// The room as the system reports it now.
MemoryRoom CurrentMemoryRoom();

// MemAvailable of a /proc/meminfo text in bytes; absent when the line is missing or malformed.
std::optional<std::uint64_t> MemAvailableBytes(std::string_view meminfo);

// Bytes of a dense rows x cols matrix of `element_bytes` entries, saturating at the largest
// size_t instead of wrapping.
std::size_t DenseBytes(std::size_t rows, std::size_t cols, std::size_t element_bytes);

// Throws StageError when `bytes` for `what` (e.g. "the dense loop inductance matrix of 3000
// wires") exceed the smallest figure of `room`; the message gives both in MB or GB, the bound that
// limits, and how to get a smaller model.
void CheckDenseFits(std::size_t bytes, std::string_view what, const MemoryRoom& room);

// The same against CurrentMemoryRoom().
void CheckDenseFits(std::size_t bytes, std::string_view what);

}  // namespace ostrel::physical
