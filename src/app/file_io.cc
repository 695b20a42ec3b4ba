#include "app/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/stage_error.h"

namespace ostrel {
namespace {

std::string SystemReason() { return std::strerror(errno); }

// Opens a new file beside `path` that no other writer uses, with the permissions of the file
// it will replace (or the usual ones for a new file). Returns its name and descriptor.
int OpenSibling(const std::string& path, std::string& temp_path) {
  struct stat existing {};
  const bool replacing = ::stat(path.c_str(), &existing) == 0;
  const mode_t mode = replacing ? (existing.st_mode & 07777) : 0666;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_path = path + ".~" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    const int fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
      if (replacing) ::fchmod(fd, mode);
      return fd;
    }
    if (errno != EEXIST) break;
  }
  throw StageError("cannot write " + path + ": " + SystemReason());
}

}  // namespace

std::string ReadWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw StageError("cannot open " + path + ": " + SystemReason());
  auto fail = [&] {
    const std::string reason = SystemReason();
    ::close(fd);
    throw StageError("cannot read " + path + ": " + reason);
  };
  // Sized once from the file's length, then filled by large reads; a file that grows while it
  // is read is read to its end.
  struct stat info {};
  if (::fstat(fd, &info) != 0) fail();
  std::string text;
  text.resize(info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0);
  std::size_t have = 0;
  char more[65536];
  while (true) {
    const bool room = have < text.size();
    char* into = room ? text.data() + have : more;
    const ssize_t n = ::read(fd, into, room ? text.size() - have : sizeof more);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail();
    }
    if (n == 0) break;
    if (room) {
      have += static_cast<std::size_t>(n);
    } else {
      text.append(more, static_cast<std::size_t>(n));
      have = text.size();
    }
  }
  ::close(fd);
  text.resize(have);
  return text;
}

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  fd_ = OpenSibling(path_, temp_path_);
}

AtomicFile::~AtomicFile() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(temp_path_.c_str());
}

void AtomicFile::Fail(const std::string& what) {
  const std::string reason = SystemReason();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ::unlink(temp_path_.c_str());
  throw StageError("cannot " + what + " " + path_ + ": " + reason);
}

void AtomicFile::Write(std::string_view piece) {
  const char* data = piece.data();
  std::size_t left = piece.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("write");
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
}

void AtomicFile::Commit(Durability durability) {
  if (durability == Durability::kSynced && ::fsync(fd_) != 0) Fail("write");
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) Fail("write");
  if (::rename(temp_path_.c_str(), path_.c_str()) != 0) Fail("replace");
}

void WriteFileAtomically(const std::string& path, std::string_view content,
                         Durability durability) {
  AtomicFile file(path);
  file.Write(content);
  file.Commit(durability);
}

}  // namespace ostrel
