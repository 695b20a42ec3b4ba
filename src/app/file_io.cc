#include "app/file_io.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/stage_error.h"

namespace ostrel {
namespace {

// The names of the temp files that a terminating signal removes (see RemoveTempFilesOnSignals).
// This list is the program's one mutable global, because a signal handler can reach no other
// state. It is kept async-signal-safe: fixed slots of lock-free atomic pointers to names that
// their AtomicFile keeps unchanged while they are listed, so the handler sees each slot whole
// and calls nothing but unlink, signal and raise. A run writes a dozen files at most; a temp
// file that finds no free slot is only not removed by a signal.
constexpr std::size_t kTempSlots = 64;
std::atomic<const char*> g_temp_names[kTempSlots];
static_assert(std::atomic<const char*>::is_always_lock_free);

void ListTempFile(const char* name) {
  for (std::atomic<const char*>& slot : g_temp_names) {
    const char* empty = nullptr;
    if (slot.compare_exchange_strong(empty, name)) return;
  }
}

void UnlistTempFile(const char* name) {
  for (std::atomic<const char*>& slot : g_temp_names) {
    const char* listed = name;
    if (slot.compare_exchange_strong(listed, nullptr)) return;
  }
}

void RemoveListedTempFiles() {
  for (std::atomic<const char*>& slot : g_temp_names) {
    if (const char* name = slot.load()) ::unlink(name);
  }
}

extern "C" void RemoveTempFilesAndEnd(int signal_number) {
  RemoveListedTempFiles();
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);  // delivered with the default action once the handler returns
}

std::string LastReason() { return SystemReason(errno); }

// The file that writing `path` replaces: `path` itself, or the file its symbolic link points
// to. Throws for a link to nothing, a folder and anything else that is not a regular file.
std::string ReplacedFile(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return path;  // a new file
  std::string target = path;
  if (S_ISLNK(info.st_mode)) {
    if (::stat(path.c_str(), &info) != 0) {
      throw StageError(
          "cannot write " + path + ": " +
          (errno == ENOENT ? std::string("a symbolic link to nothing") : LastReason()));
    }
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) throw StageError("cannot write " + path + ": " + LastReason());
    target = real;
    std::free(real);
  }
  if (S_ISDIR(info.st_mode)) throw StageError("cannot write " + path + ": " + SystemReason(EISDIR));
  if (!S_ISREG(info.st_mode)) throw StageError("cannot write " + path + ": not a regular file");
  return target;
}

// Opens a new file beside `target` that no other writer uses, with the permissions, owner and
// group of the file it will replace (or the usual ones for a new file). Returns its descriptor
// and sets its name. `path` names the output in messages.
int OpenSibling(const std::string& path, const std::string& target, std::string& temp_path) {
  struct stat existing {};
  const bool replacing = ::stat(target.c_str(), &existing) == 0;
  const mode_t mode = replacing ? (existing.st_mode & 07777) : 0666;
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  const long name_max = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  const std::size_t longest = name_max > 0 ? static_cast<std::size_t>(name_max) : NAME_MAX;
  const std::string prefix = slash == std::string::npos ? "" : folder;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = ".~" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    temp_path = prefix + (name.size() + suffix.size() <= longest ? name : "ostrel") + suffix;
    const int fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
      if (replacing) {
        // Owner first: changing it may clear the set-user-ID bits that fchmod then restores.
        // Only root may give a file away; anyone else keeps the file as theirs.
        if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
        }
        ::fchmod(fd, mode);
      }
      return fd;
    }
    if (errno != EEXIST) break;
  }
  throw StageError("cannot write " + path + ": " + LastReason());
}

}  // namespace

std::string SystemReason(int error) {
  return error == ENOSPC ? std::string("disk full") : std::string(std::strerror(error));
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void RemoveTempFilesOnSignals() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    struct sigaction action {};
    if (::sigaction(signal_number, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) {
      continue;
    }
    action = {};
    action.sa_handler = RemoveTempFilesAndEnd;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
  }
}

void EndOnBrokenPipe() {
  RemoveListedTempFiles();
  ::signal(SIGPIPE, SIG_DFL);
  ::raise(SIGPIPE);
  std::_Exit(128 + SIGPIPE);  // when SIGPIPE is blocked
}

std::string ReadWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw StageError("cannot open " + path + ": " + LastReason());
  auto fail = [&] {
    const std::string reason = LastReason();
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
  target_ = ReplacedFile(path_);
  fd_ = OpenSibling(path_, target_, temp_path_);
  ListTempFile(temp_path_.c_str());
}

AtomicFile::~AtomicFile() {
  if (temp_path_.empty()) return;
  if (fd_ >= 0) ::close(fd_);
  ::unlink(temp_path_.c_str());
  UnlistTempFile(temp_path_.c_str());
}

void AtomicFile::Fail(const std::string& what) {
  const std::string reason = LastReason();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ::unlink(temp_path_.c_str());
  UnlistTempFile(temp_path_.c_str());
  temp_path_.clear();
  throw StageError("cannot " + what + " " + path_ + ": " + reason);
}

void AtomicFile::Write(std::string_view piece) {
  if (!WriteAll(fd_, piece)) Fail("write");
}

void AtomicFile::Finish(Durability durability) {
  if (durability == Durability::kSynced && ::fsync(fd_) != 0) Fail("write");
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) Fail("write");
}

void AtomicFile::Replace() {
  if (::rename(temp_path_.c_str(), target_.c_str()) != 0) Fail("replace");
  UnlistTempFile(temp_path_.c_str());
  temp_path_.clear();
}

void AtomicFile::Commit(Durability durability) {
  Finish(durability);
  Replace();
}

void WriteFileAtomically(const std::string& path, std::string_view content, Durability durability) {
  AtomicFile file(path);
  file.Write(content);
  file.Commit(durability);
}

}  // namespace ostrel
