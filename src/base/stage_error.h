#pragma once

#include <stdexcept>
#include <string>

namespace ostrel {

// The one error of the estimation. Any stage that cannot go on throws it; the command that ran
// the stage ends there. `file` and `line` name the input at fault where one is known
// (line 0: no particular line).
class StageError : public std::runtime_error {
 public:
  explicit StageError(std::string reason, std::string file = {}, int line = 0);

  const std::string& reason() const { return reason_; }
  const std::string& file() const { return file_; }
  int line() const { return line_; }

  // The same error, naming `file` (and `line`, when the error has none yet) as its source.
  StageError WithSource(const std::string& file, int line = 0) const;

 private:
  std::string reason_;
  std::string file_;
  int line_;
};

}  // namespace ostrel
