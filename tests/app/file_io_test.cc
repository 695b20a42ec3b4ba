// Nothing is lost when a write fails: the report and the settings file are replaced only by a
// complete new file, and a failed write leaves the earlier file byte for byte and no stray
// temporary file beside it. The failures used here stop root too (tests may run as root, for
// whom a read-only folder is no obstacle).

#include "app/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/stage_error.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

class FileIoTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("ostrel_fileio_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  // Every entry of the scratch folder, so that a temporary file left behind shows.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

// A report longer than any of the limits below, with CR LF lines like the real one.
std::string NewReport() {
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "Pad: P" + std::to_string(i) + "\r\n";
  return text;
}

// Runs WriteFileAtomically in a child process whose files may not grow past `limit_bytes`
// (the limit binds root as well). Returns the reason of the StageError, or "" when the write
// did not fail.
std::string WriteUnderFileSizeLimit(const std::string& path, const std::string& content,
                                    rlim_t limit_bytes) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    ::signal(SIGXFSZ, SIG_IGN);  // an oversized write then fails with EFBIG instead
    const rlimit limit{limit_bytes, limit_bytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string reason;
    try {
      WriteFileAtomically(path, content);
    } catch (const StageError& e) {
      reason = e.what();
    }
    if (!reason.empty()) {
      ssize_t ignored = ::write(pipe_fds[1], reason.data(), reason.size());
      (void)ignored;
    }
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string reason;
  char buf[256];
  ssize_t n = 0;
  while ((n = ::read(pipe_fds[0], buf, sizeof buf)) > 0) {
    reason.append(buf, static_cast<std::size_t>(n));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return reason;
}

TEST_F(FileIoTest, FailedWritesLeaveTheEarlierFileAndNoTemporaryFile) {
  const std::string earlier = "*Input File: x.zv\r\nPad: OLD\r\n";
  // A name of NAME_MAX bytes exists; the temporary name beside it is longer than any name.
  const std::string longest(NAME_MAX, 'r');
  struct Row {
    const char* name;
    std::string target;     // what is written
    std::string kept;       // the file that must keep `earlier`
    std::string says;       // part of the reason
    bool file_size_limit;   // write under a 1000-byte file size limit
  };
  const Row rows[] = {
      {"temporary name too long", Path(longest), longest, "File name too long", false},
      {"folder is a regular file", Path("plain.zv/x.zv.doc"), "plain.zv", "Not a directory",
       false},
      {"target is a folder", Path("folder.doc"), "folder.doc/inside", "Is a directory", false},
      {"file size limit reached mid-write", Path("x.zv.doc"), "x.zv.doc", "File too large", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::create_directories(dir_ / "folder.doc");
    Write(row.kept, earlier);
    const std::vector<std::string> before = Entries();
    std::string reason;
    if (row.file_size_limit) {
      reason = WriteUnderFileSizeLimit(row.target, NewReport(), 1000);
    } else {
      try {
        WriteFileAtomically(row.target, NewReport());
      } catch (const StageError& e) {
        reason = e.what();
      }
    }
    EXPECT_NE(reason.find(row.target), std::string::npos) << reason;
    EXPECT_NE(reason.find(row.says), std::string::npos) << reason;
    EXPECT_EQ(ReadWholeFile(Path(row.kept)), earlier);
    EXPECT_EQ(Entries(), before);
  }
}

TEST_F(FileIoTest, ReplacesTheWholeFileAndKeepsItsPermissions) {
  Write("x.zv.doc", std::string(100000, 'o'));
  ::chmod(Path("x.zv.doc").c_str(), 0640);
  const std::string report = NewReport();
  WriteFileAtomically(Path("x.zv.doc"), report);
  EXPECT_EQ(ReadWholeFile(Path("x.zv.doc")), report);
  struct stat st {};
  ASSERT_EQ(::stat(Path("x.zv.doc").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Entries(), std::vector<std::string>{"x.zv.doc"});
}

TEST_F(FileIoTest, ReadingWhatIsNotAReadableFileFailsWithItsName) {
  fs::create_directories(dir_ / "folder.zv");
  for (const std::string& name : {std::string("missing.zv"), std::string("folder.zv")}) {
    SCOPED_TRACE(name);
    try {
      const std::string text = ReadWholeFile(Path(name));
      ADD_FAILURE() << "read " << text.size() << " bytes";
    } catch (const StageError& e) {
      EXPECT_NE(std::string(e.what()).find(Path(name)), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace ostrel
