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

// Replaces `path` with `content` so that a failure leaves any earlier file untouched: the text
// goes to a new file beside it, which is then renamed over it. An existing file's permissions
// are kept. Throws StageError when the file cannot be written.
void WriteFileAtomically(const std::string& path, std::string_view content,
                         Durability durability = Durability::kSynced);

}  // namespace ostrel
