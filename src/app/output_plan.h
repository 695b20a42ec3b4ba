#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/file_io.h"

// The files one run writes, checked against the files it reads and against each other, and put
// in place all or nothing.
namespace ostrel {

// A file the run reads, named in messages by `what` ("the settings file").
struct OutputInput {
  std::string what;
  std::string path;
  bool savable = false;  // an output that saves the settings may be this file
};

// One result of the run and where it goes.
struct Output {
  std::string option;           // names it in messages: "--json", or "the report" for the default
  std::string path;             // "-": standard output
  bool saves_settings = false;  // may replace a savable input
  bool stdout_allowed = true;   // may go to standard output
  bool listed = true;           // its path is printed once it is in place
  Durability durability = Durability::kReplaceOnly;
};

// The first reason why `outputs` cannot be written as asked, for a usage error, or "" when
// there is none:
// - an output given as `-` that must be a file;
// - two outputs on standard output (`-`, or the file standard output already is);
// - an output that is an input (but an output that saves the settings onto a savable input),
//   or that is another output.
// Files are compared by what they are, not by how they are named: by device and inode where
// the file exists, else by the real path of its folder and its name.
std::string OutputClash(const std::vector<Output>& outputs, const std::vector<OutputInput>& inputs);

// The outputs of one run, written all or nothing. Each result is written to a temp file first:
// beside a regular file (or beside the file a symbolic link points to), and for an output that
// is not a regular file (standard output, a character device such as /dev/null, a FIFO) to an
// unnamed temp file, which Commit copies into it: such an output is written in place, never
// replaced. Dropped without Commit, the plan leaves every file as it was.
// Every member throws StageError when a file cannot be written.
class OutputPlan {
 public:
  // Opens the temp file of every output: a folder, a link to nothing or a missing folder fails
  // here, before anything is computed. `outputs` must have passed OutputClash.
  explicit OutputPlan(std::vector<Output> outputs);
  ~OutputPlan();
  OutputPlan(const OutputPlan&) = delete;
  OutputPlan& operator=(const OutputPlan&) = delete;

  // Appends `piece` to the result of the output with `path`.
  void Write(const std::string& path, std::string_view piece);

  // Puts every result in place once all of them are complete: the outputs written in place
  // first, then the renames, then the list of the paths written on standard output (when no
  // result went there). A rename that fails ends it with a message that says which files were
  // replaced and which were not. A broken pipe ends the process (EndOnBrokenPipe).
  void Commit();

 private:
  struct Target;
  std::vector<std::unique_ptr<Target>> targets_;
};

// Writes `text` to standard output. A broken pipe ends the process (EndOnBrokenPipe); another
// failure throws StageError.
void WriteStandardOutput(std::string_view text);

// Closes standard output once the run is done with it: its last write errors show here.
// Throws StageError.
void CloseStandardOutput();

}  // namespace ostrel
