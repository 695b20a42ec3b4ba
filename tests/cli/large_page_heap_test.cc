// The restart on a heap of large pages: the tunable joins the user's own, a user's choice of it
// stands, and the program started again gets the same arguments.

#include "cli/large_page_heap.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/scratch_dir.h"

namespace ostrel {
namespace {

class LargePageHeapTest : public testing_support::ScratchDirTest {};

TEST_F(LargePageHeapTest, StartsAgainOnceWithTheTunableBesideTheUsers) {
  struct Case {
    const char* before;  // GLIBC_TUNABLES at the start, or null
    const char* after;   // in the program started again, or null: not started
  };
  const Case cases[] = {
      {nullptr, "glibc.malloc.hugetlb=1"},
      {"glibc.malloc.check=0", "glibc.malloc.check=0:glibc.malloc.hugetlb=1"},
      {"glibc.malloc.hugetlb=0", nullptr},
  };
  // The program started writes its tunables and its arguments.
  std::string sh = "sh", script = "printf '%s\\n' \"$GLIBC_TUNABLES\" \"$0\" \"$1\" > seen.txt",
              zero = "first", one = "second file.zv";
  char* argv[] = {sh.data(), const_cast<char*>("-c"), script.data(), zero.data(), one.data(),
                  nullptr};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before != nullptr ? c.before : "(none)");
    std::filesystem::remove(Path("seen.txt"));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::chdir(dir_.c_str()) != 0) ::_exit(8);
      if (c.before != nullptr) {
        ::setenv("GLIBC_TUNABLES", c.before, 1);
      } else {
        ::unsetenv("GLIBC_TUNABLES");
      }
      RestartWithLargePageHeap("/bin/sh", argv);
      ::_exit(7);  // returned: not started again
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (c.after == nullptr) {
      EXPECT_EQ(WEXITSTATUS(status), 7);
      EXPECT_FALSE(std::filesystem::exists(Path("seen.txt")));
    } else {
      EXPECT_EQ(WEXITSTATUS(status), 0);
      EXPECT_EQ(Read("seen.txt"), std::string(c.after) + "\nfirst\nsecond file.zv\n");
    }
  }
}

}  // namespace
}  // namespace ostrel
