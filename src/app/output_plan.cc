#include "app/output_plan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "base/stage_error.h"

namespace ostrel {
namespace {

// What a file is, to tell whether two names are one file.
struct Identity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string resolved;  // a file that does not exist: the real path of its folder, its name
};

bool Same(const Identity& a, const Identity& b) {
  if (a.exists != b.exists) return false;
  if (a.exists) return a.device == b.device && a.inode == b.inode;
  return !a.resolved.empty() && a.resolved == b.resolved;
}

Identity StandardOutput() {
  struct stat info {};
  if (::fstat(STDOUT_FILENO, &info) != 0) return {};
  return {true, info.st_dev, info.st_ino, {}};
}

Identity IdentityOf(const std::string& path) {
  if (path == "-") return StandardOutput();
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) return {true, info.st_dev, info.st_ino, {}};
  const std::filesystem::path name(path);
  const std::filesystem::path folder = name.has_parent_path() ? name.parent_path() : ".";
  Identity missing;
  if (char* real = ::realpath(folder.c_str(), nullptr)) {
    missing.resolved = (std::filesystem::path(real) / name.filename()).string();
    std::free(real);
  } else {
    std::error_code ignored;
    missing.resolved = std::filesystem::absolute(name, ignored).lexically_normal().string();
  }
  return missing;
}

bool OnStandardOutput(const std::string& path, const Identity& standard_output) {
  return path == "-" || (standard_output.exists && Same(IdentityOf(path), standard_output));
}

std::string Named(const Output& output) { return output.option + " " + output.path; }

// The reason of the last failed system call, for the output at `path`.
[[noreturn]] void FailWriting(const std::string& path) {
  throw StageError("cannot write " + (path == "-" ? std::string("standard output") : path) + ": " +
                   SystemReason(errno));
}

// An unnamed temp file in the temp folder ($TMPDIR or /tmp), for the output at `path`. Having
// no name, it needs no removal whatever ends the run.
int OpenUnnamedTempFile(const std::string& path) {
  std::error_code error;
  std::string folder = std::filesystem::temp_directory_path(error).string();
  if (error) folder = "/tmp";
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {  // a file system without unnamed files: a named one, removed at once
    std::string name = folder + "/ostrel.XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
  }
  if (fd < 0) {
    throw StageError("cannot write " + path + ": no temp file in " + folder + ": " +
                     SystemReason(errno));
  }
  return fd;
}

// "A, B" of the paths of `outputs`, or "none".
std::string PathList(const std::vector<const Output*>& outputs) {
  std::string list;
  for (const Output* output : outputs) list += (list.empty() ? "" : ", ") + output->path;
  return list.empty() ? "none" : list;
}

}  // namespace

struct OutputPlan::Target {
  Output output;
  std::unique_ptr<AtomicFile> file;  // a regular file, replaced by its temp file
  int unnamed = -1;                  // an output written in place: its temp file
  bool to_stdout = false;            // written to this process's standard output

  Target() = default;
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;
  ~Target() {
    if (unnamed >= 0) ::close(unnamed);
  }
};

std::string OutputClash(const std::vector<Output>& outputs,
                        const std::vector<OutputInput>& inputs) {
  const Identity standard_output = StandardOutput();
  std::vector<Identity> identities;
  const Output* first_on_stdout = nullptr;
  for (const Output& output : outputs) {
    if (output.path == "-" && !output.stdout_allowed) {
      return output.option + " cannot write to standard output (-); give it a file";
    }
    if (OnStandardOutput(output.path, standard_output)) {
      auto name = [](const Output& o) { return o.path == "-" ? o.option : Named(o); };
      if (first_on_stdout != nullptr) {
        return name(*first_on_stdout) + " and " + name(output) + " both write to standard output";
      }
      first_on_stdout = &output;
    }
    identities.push_back(IdentityOf(output.path));
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (const OutputInput& input : inputs) {
      if (input.path.empty() || (outputs[i].saves_settings && input.savable)) continue;
      if (Same(identities[i], IdentityOf(input.path))) {
        return Named(outputs[i]) + " is " + input.what + " " + input.path +
               ", which is read, not written; nothing was written";
      }
    }
    for (std::size_t j = i + 1; j < outputs.size(); ++j) {
      if (Same(identities[i], identities[j])) {
        return Named(outputs[i]) + " and " + Named(outputs[j]) +
               " are the same file; nothing was written";
      }
    }
  }
  return {};
}

OutputPlan::OutputPlan(std::vector<Output> outputs) {
  const Identity standard_output = StandardOutput();
  for (Output& output : outputs) {
    auto target = std::make_unique<Target>();
    target->to_stdout = OnStandardOutput(output.path, standard_output);
    struct stat info {};
    const bool in_place = target->to_stdout || (::stat(output.path.c_str(), &info) == 0 &&
                                                (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)));
    if (in_place) {
      target->unnamed = OpenUnnamedTempFile(output.path);
    } else {
      target->file = std::make_unique<AtomicFile>(output.path);
    }
    target->output = std::move(output);
    targets_.push_back(std::move(target));
  }
}

OutputPlan::~OutputPlan() = default;

void OutputPlan::Write(const std::string& path, std::string_view piece) {
  for (const std::unique_ptr<Target>& target : targets_) {
    if (target->output.path != path) continue;
    if (target->file) {
      target->file->Write(piece);
    } else if (!WriteAll(target->unnamed, piece)) {
      FailWriting(path);
    }
    return;
  }
  throw StageError("no output is planned at " + path);
}

namespace {

// Copies the finished temp file `from` into the output at `path` (`to_stdout`: this process's
// standard output), in place.
void CopyInPlace(int from, const std::string& path, bool to_stdout) {
  const int to = to_stdout ? STDOUT_FILENO : ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (to < 0) FailWriting(path);
  if (::lseek(from, 0, SEEK_SET) != 0) FailWriting(path);
  char buffer[1 << 16];
  while (true) {
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FailWriting(path);
    if (n == 0) break;
    if (!WriteAll(to, std::string_view(buffer, static_cast<std::size_t>(n)))) {
      if (errno == EPIPE) EndOnBrokenPipe();
      FailWriting(to_stdout ? "-" : path);
    }
  }
  if (!to_stdout && ::close(to) != 0) FailWriting(path);
}

}  // namespace

void OutputPlan::Commit() {
  for (const std::unique_ptr<Target>& target : targets_) {
    if (target->file) target->file->Finish(target->output.durability);
  }
  bool used_stdout = false;
  for (const std::unique_ptr<Target>& target : targets_) {
    if (target->unnamed < 0) continue;
    CopyInPlace(target->unnamed, target->output.path, target->to_stdout);
    used_stdout = used_stdout || target->to_stdout;
  }
  std::vector<const Output*> replaced;
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    if (!targets_[i]->file) continue;
    try {
      targets_[i]->file->Replace();
    } catch (const StageError& e) {
      std::vector<const Output*> kept;
      for (std::size_t j = i; j < targets_.size(); ++j) {
        if (targets_[j]->file) kept.push_back(&targets_[j]->output);
      }
      throw StageError(std::string(e.what()) + "; replaced: " + PathList(replaced) +
                       "; not replaced: " + PathList(kept));
    }
    replaced.push_back(&targets_[i]->output);
  }
  if (!used_stdout) {
    std::string listing;
    for (const std::unique_ptr<Target>& target : targets_) {
      if (target->output.listed) listing += target->output.path + "\n";
    }
    WriteStandardOutput(listing);
  }
}

void WriteStandardOutput(std::string_view text) {
  if (WriteAll(STDOUT_FILENO, text)) return;
  if (errno == EPIPE) EndOnBrokenPipe();
  FailWriting("-");
}

void CloseStandardOutput() {
  // A file system that reports write errors late (NFS) does so at the close.
  if (::close(STDOUT_FILENO) != 0 && errno != EBADF) FailWriting("-");
}

}  // namespace ostrel
