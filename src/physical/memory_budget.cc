#include "physical/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "base/stage_error.h"

namespace ostrel::physical {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The leading decimal number of `text` after any blanks; absent when there is none.
std::optional<std::uint64_t> LeadingNumber(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), value);
  if (error != std::errc() || end == text.data() + start) return std::nullopt;
  return value;
}

std::uint64_t Less(std::uint64_t limit, std::uint64_t used) {
  return limit > used ? limit - used : 0;
}

// RLIMIT_AS less the address space this process holds (first field of /proc/self/statm, pages).
std::optional<std::uint64_t> AddressSpaceRoom() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
  const std::optional<std::uint64_t> pages = LeadingNumber(ReadText("/proc/self/statm"));
  const long page_bytes = ::sysconf(_SC_PAGESIZE);
  const std::uint64_t used = pages && page_bytes > 0 ? *pages * std::uint64_t(page_bytes) : 0;
  return Less(limit.rlim_cur, used);
}

// The tightest memory.max less memory.current of this process's cgroup (v2) and its ancestors.
std::optional<std::uint64_t> CgroupRoom() {
  const std::string membership = ReadText("/proc/self/cgroup");
  // The unified hierarchy's line: "0::/path".
  const std::size_t at = membership.rfind("0::", 0) == 0 ? 0 : membership.find("\n0::");
  if (at == std::string::npos) return std::nullopt;
  const std::size_t start = at == 0 ? 3 : at + 4;
  std::string path = membership.substr(start, membership.find('\n', start) - start);
  std::optional<std::uint64_t> room;
  while (!path.empty()) {
    const std::string dir = "/sys/fs/cgroup" + (path == "/" ? std::string() : path);
    const std::optional<std::uint64_t> max = LeadingNumber(ReadText(dir + "/memory.max"));
    if (max) {
      const std::uint64_t used = LeadingNumber(ReadText(dir + "/memory.current")).value_or(0);
      room = std::min(room.value_or(std::numeric_limits<std::uint64_t>::max()), Less(*max, used));
    }
    if (path == "/") break;
    const std::size_t slash = path.rfind('/');
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
  return room;
}

// A size for a message in decimal units: kB, MB, or GB with one decimal.
std::string SizeText(std::uint64_t bytes) {
  char text[32];
  const double b = static_cast<double>(bytes);
  if (b < 1e6) {
    std::snprintf(text, sizeof text, "%.0f kB", b / 1e3);
  } else if (b < 1e9) {
    std::snprintf(text, sizeof text, "%.0f MB", b / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.1f GB", b / 1e9);
  }
  return text;
}

}  // namespace

std::optional<std::uint64_t> MemAvailableBytes(std::string_view meminfo) {
  constexpr std::string_view kKey = "MemAvailable:";
  for (std::size_t at = 0; at < meminfo.size();) {
    const std::size_t end = std::min(meminfo.find('\n', at), meminfo.size());
    const std::string_view line = meminfo.substr(at, end - at);
    at = end + 1;
    if (line.substr(0, kKey.size()) != kKey) continue;
    const std::optional<std::uint64_t> kb = LeadingNumber(line.substr(kKey.size()));
    // The kernel gives the figure in kB (1024 bytes) whatever the unit it prints.
    if (!kb || line.find(" kB") == std::string_view::npos) return std::nullopt;
    return *kb * 1024;
  }
  return std::nullopt;
}

MemoryRoom CurrentMemoryRoom() {
  return {MemAvailableBytes(ReadText("/proc/meminfo")), AddressSpaceRoom(), CgroupRoom()};
}

std::size_t DenseBytes(std::size_t rows, std::size_t cols, std::size_t element_bytes) {
  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
  if (rows == 0 || cols == 0 || element_bytes == 0) return 0;
  if (rows > kMax / cols || rows * cols > kMax / element_bytes) return kMax;
  return rows * cols * element_bytes;
}

void CheckDenseFits(std::size_t bytes, std::string_view what, const MemoryRoom& room) {
  const std::pair<const std::optional<std::uint64_t>*, const char*> bounds[] = {
      {&room.available, "available memory"},
      {&room.address_space, "address space left under the process limit (ulimit -v)"},
      {&room.cgroup, "memory left under the control group's limit"}};
  const std::pair<const std::optional<std::uint64_t>*, const char*>* tightest = nullptr;
  for (const auto& bound : bounds) {
    if (*bound.first && (!tightest || **bound.first < **tightest->first)) tightest = &bound;
  }
  if (!tightest || bytes <= **tightest->first) return;
  throw StageError(std::string(what) + " needs " + SizeText(bytes) + ", more than the " +
                   SizeText(**tightest->first) + " of " + tightest->second +
                   "; leave the capacitance out with --no-capacitance, or choose the wires of "
                   "the package models by name with --nets PATTERN[,PATTERN]");
}

void CheckDenseFits(std::size_t bytes, std::string_view what) {
  CheckDenseFits(bytes, what, CurrentMemoryRoom());
}

}  // namespace ostrel::physical
