#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// The whole content of a file as bytes. Throws StageError when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// The reason of a failed system call with error number `error`, for messages: the system's text,
// but "disk full" for ENOSPC.
std::string SystemReason(int error);

// Writes all of `data` to `fd`, again after an interrupted or partial write. False, with errno
// set, when a write fails.
bool WriteAll(int fd, std::string_view data);

// Makes SIGINT, SIGTERM, SIGHUP and SIGPIPE remove the temp files of every AtomicFile not yet
// committed and then end the process by the signal's usual action, so that its status tells
// how it ended. A signal the process was started with ignored stays ignored.
void RemoveTempFilesOnSignals();

// Ends the process as SIGPIPE does, after removing the temp files: for a write to a pipe that
// nobody reads any more while SIGPIPE is ignored. Quiet; the status says "broken pipe".
[[noreturn]] void EndOnBrokenPipe();

// What a replaced file survives besides a failed write.
enum class Durability {
  // The new text is on the disk before it replaces the old file, so that even a power loss
  // right after leaves the old file or the new one: for the files the user saves.
  kSynced,
  // The new text replaces the old file at once, left to the system to write out: readers see
  // the old file or the whole new one, but a power loss soon after can leave an empty file.
  // For derived files that the next run rewrites, such as the report; it spares the wait for
  // the disk, which for a large report costs more than the estimation itself.
  kReplaceOnly,
};

// A regular file being replaced piece by piece: the pieces go to a new file beside it, which is
// renamed over it by Commit. Until then any earlier file is untouched, and an AtomicFile dropped
// without Commit (a failure on the way, or SIGINT, SIGTERM, SIGHUP and SIGPIPE once
// RemoveTempFilesOnSignals ran) removes its new file.
// - A symbolic link stays: the file it points to is replaced. A link to nothing, a folder and
//   any other file that is not a regular file are refused.
// - An existing file keeps its permissions, and its owner and group where the process may set
//   them.
// - The new file is named `name.~PID-N` beside the target, or `ostrel.~PID-N` when that name
//   would be longer than the folder allows, so a name that fits always has a temp name.
// Every member throws StageError when the file cannot be written.
class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void Write(std::string_view piece);
  // Finish then Replace.
  void Commit(Durability durability);
  // Completes the new file (the last errors of writing show here), without replacing anything.
  void Finish(Durability durability);
  // Renames the finished new file over the target.
  void Replace();

 private:
  [[noreturn]] void Fail(const std::string& what);

  std::string path_;    // as given, for messages
  std::string target_;  // the file replaced: `path_`, or the file its link points to
  std::string temp_path_;
  int fd_ = -1;  // -1 once finished
};

// Replaces `path` with `content` as one piece of an AtomicFile.
void WriteFileAtomically(const std::string& path, std::string_view content,
                         Durability durability = Durability::kSynced);

}  // namespace ostrel
