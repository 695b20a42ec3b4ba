#include "cli/large_page_heap.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace ostrel {

void RestartWithLargePageHeap(const char* program, char** argv) {
  constexpr const char* kName = "GLIBC_TUNABLES";
  constexpr const char* kTunable = "glibc.malloc.hugetlb";
  const char* const before = std::getenv(kName);
  const std::string was = before != nullptr ? before : "";
  if (was.find(kTunable) != std::string::npos) return;
  const std::string now = (was.empty() ? "" : was + ":") + kTunable + "=1";
  if (::setenv(kName, now.c_str(), 1) != 0) return;
  std::cout.flush();
  std::fflush(nullptr);
  ::execv(program, argv);
  // Not started (no /proc): on as before, with the environment as it was.
  if (before != nullptr) {
    ::setenv(kName, was.c_str(), 1);
  } else {
    ::unsetenv(kName);
  }
}

}  // namespace ostrel
