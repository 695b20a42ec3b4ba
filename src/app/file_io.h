#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// The whole content of a file as bytes. Throws StageError when it cannot be read.
std::string ReadWholeFile(const std::string& path);

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

// A file being replaced piece by piece: the pieces go to a new file beside it, which is renamed
// over it by Commit. Until then any earlier file is untouched, and an AtomicFile dropped without
// Commit (a failure on the way) removes its new file. An existing file's permissions are kept.
// Every member throws StageError when the file cannot be written.
class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void Write(std::string_view piece);
  void Commit(Durability durability);

 private:
  [[noreturn]] void Fail(const std::string& what);

  std::string path_, temp_path_;
  int fd_ = -1;  // -1 once committed
};

// Replaces `path` with `content` as one piece of an AtomicFile.
void WriteFileAtomically(const std::string& path, std::string_view content,
                         Durability durability = Durability::kSynced);

}  // namespace ostrel
