#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// The whole content of a file as bytes. Throws StageError when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Replaces `path` with `content` so that a failure leaves any earlier file untouched: the text
// goes to a new file beside it, which is then renamed over it. An existing file's permissions
// are kept. Throws StageError when the file cannot be written.
void WriteFileAtomically(const std::string& path, std::string_view content);

}  // namespace ostrel
