// ostrel-baseline: the input/output floor under an estimation run. It reads a package
// description file twice into memory with large read(2) calls, as an estimation run must read
// it twice (once at start-up for the settings file, once for Process Data), and writes as many
// bytes as the report holds beside it, replaced atomically as the report is (new file, then
// rename). Nothing is parsed, computed or formatted, so its time is that of the input and the
// output alone: no program that reads the package and writes the report can take less.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr std::size_t kReadSize = std::size_t{1} << 22;  // 4 MB per read(2)

// The same hint ostrel-cli gives for its large buffers (base/large_pages.h): memory touched
// for the first time costs a page fault per 2 MB instead of per 4 KB where the system allows.
char* NewBuffer(std::size_t bytes) {
  constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
  char* data = new char[bytes];
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t last = (begin + bytes) & ~(kLargePage - 1);
  if (last > first) {
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
  return data;
}

// Reads the whole of `path` into `buf` (at least its size); returns a checksum of a byte of
// each read, so that the reads cannot be left out.
std::size_t ReadWhole(const char* path, std::unique_ptr<char[]>& buf, std::size_t& room) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    std::perror(path);
    std::exit(1);
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  if (room < size + 1) {
    buf.reset(NewBuffer(size + 1));
    room = size + 1;
  }
  std::size_t have = 0;
  std::size_t sum = 0;
  while (true) {
    const std::size_t want = room - have < kReadSize ? room - have : kReadSize;
    const ssize_t n = ::read(fd, buf.get() + have, want);
    if (n < 0) {
      std::perror(path);
      std::exit(1);
    }
    if (n == 0) break;
    sum += static_cast<unsigned char>(buf[have]);
    have += static_cast<std::size_t>(n);
    if (have == room) break;
  }
  ::close(fd);
  return sum + have;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: ostrel-baseline PACKAGE.tmv REPORT_BYTES OUT\n");
    return 2;
  }
  std::unique_ptr<char[]> input;
  std::size_t room = 0;
  std::size_t sum = ReadWhole(argv[1], input, room);
  sum += ReadWhole(argv[1], input, room);
  const std::size_t bytes = std::strtoull(argv[2], nullptr, 10);

  // The report's bytes: a buffer of its size, written in one go as the report is.
  std::unique_ptr<char[]> text(NewBuffer(bytes + 1));
  std::memset(text.get(), ' ', bytes);
  if (bytes > 0) text[0] = static_cast<char>('0' + sum % 10);

  const std::string out = argv[3];
  const std::string temp = out + ".~tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    std::perror(temp.c_str());
    return 1;
  }
  const char* data = text.get();
  std::size_t left = bytes;
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      std::perror(temp.c_str());
      return 1;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 || std::rename(temp.c_str(), out.c_str()) != 0) {
    std::perror(out.c_str());
    return 1;
  }
  return 0;
}
