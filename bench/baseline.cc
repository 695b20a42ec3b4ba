// ostrel-baseline: the input/output floor under an estimation run, done the cheapest honest
// streaming way. It reads the package description file twice, line by line through one 64 KB
// buffer, as an estimation run reads it twice (once at start-up for the settings file, once for
// Process Data), and writes as many bytes as the report holds in 64 KB pieces to a new file
// beside the output, renamed over it as the report is replaced. Nothing is parsed, computed or
// formatted and no buffer grows with the files, so its time is that of the input and the output
// alone: no program that reads the package and writes the report can take less.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kPiece = std::size_t{1} << 16;  // 64 KB per read(2) and write(2)

// Reads `path` through `buf`, finding every line end; returns the number of lines, so that the
// reads cannot be left out.
std::size_t CountLines(const char* path, char* buf) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::perror(path);
    std::exit(1);
  }
  std::size_t lines = 0;
  while (true) {
    const ssize_t n = ::read(fd, buf, kPiece);
    if (n < 0) {
      std::perror(path);
      std::exit(1);
    }
    if (n == 0) break;
    const char* end = buf + n;
    for (const char* p = buf; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))); ++p) {
      ++lines;
    }
  }
  ::close(fd);
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: ostrel-baseline PACKAGE.tmv REPORT_BYTES OUT\n");
    return 2;
  }
  static char buffer[kPiece];
  std::size_t lines = CountLines(argv[1], buffer);
  lines += CountLines(argv[1], buffer);
  std::size_t left = std::strtoull(argv[2], nullptr, 10);

  // The report's bytes, one 64 KB piece written again and again.
  std::memset(buffer, ' ', sizeof buffer);
  buffer[0] = static_cast<char>('0' + lines % 10);
  const std::string out = argv[3];
  const std::string temp = out + ".~tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    std::perror(temp.c_str());
    return 1;
  }
  while (left > 0) {
    const ssize_t n = ::write(fd, buffer, left < kPiece ? left : kPiece);
    if (n < 0) {
      std::perror(temp.c_str());
      return 1;
    }
    left -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 || std::rename(temp.c_str(), out.c_str()) != 0) {
    std::perror(out.c_str());
    return 1;
  }
  return 0;
}
