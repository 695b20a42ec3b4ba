#include "base/stage_error.h"

#include <utility>

namespace ostrel {
namespace {

std::string Describe(const std::string& reason, const std::string& file, int line) {
  if (file.empty()) return reason;
  if (line > 0) return file + ":" + std::to_string(line) + ": " + reason;
  return file + ": " + reason;
}

}  // namespace

StageError::StageError(std::string reason, std::string file, int line)
    : std::runtime_error(Describe(reason, file, line)),
      reason_(std::move(reason)),
      file_(std::move(file)),
      line_(line) {}

StageError StageError::WithSource(const std::string& file, int line) const {
  return StageError(reason_, file_.empty() ? file : file_, line_ > 0 ? line_ : line);
}

}  // namespace ostrel
