// Nothing is lost when a write fails: the report and the settings file are replaced only by a
// complete new file, and a failed write leaves the earlier file byte for byte and no stray
// temporary file beside it. The failures used here stop root too (tests may run as root, for
// whom a read-only folder is no obstacle).

#include "app/file_io.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "base/stage_error.h"
#include "support/scratch_dir.h"

namespace ostrel {
namespace {

using FileIoTest = testing_support::ScratchDirTest;

// A report longer than the file size limit below, with CR LF lines like the real one.
std::string NewReport() {
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "Pad: P" + std::to_string(i) + "\r\n";
  return text;
}

TEST_F(FileIoTest, FailedWritesLeaveTheEarlierFileAndNoTemporaryFile) {
  const std::string earlier = "*Input File: x.zv\r\nPad: OLD\r\n";
  // `kept` is the file that must keep `earlier`, `says` part of the reason; `limited` writes
  // under a file size limit (which binds root as well) smaller than the new report.
  struct Row {
    const char* name;
    std::string target, kept, says;
    bool limited = false;
  };
  const Row rows[] = {
      {"folder is a regular file", Path("plain.zv/x.zv.doc"), "plain.zv", "Not a directory"},
      {"target is a folder", Path("folder.doc"), "folder.doc/inside", "Is a directory"},
      {"file size limit reached mid-write", Path("x.zv.doc"), "x.zv.doc", "File too large", true},
  };
  std::filesystem::create_directories(dir_ / "folder.doc");
  // An oversized write fails with EFBIG instead of a signal.
  const auto handler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit usual{};
  ::getrlimit(RLIMIT_FSIZE, &usual);
  const rlimit limit{1000, usual.rlim_max};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.kept, earlier);
    const std::vector<std::string> before = Entries();
    std::string reason;
    ::setrlimit(RLIMIT_FSIZE, row.limited ? &limit : &usual);
    try {
      WriteFileAtomically(row.target, NewReport());
    } catch (const StageError& e) {
      reason = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &usual);
    EXPECT_NE(reason.find(row.target), std::string::npos) << reason;
    EXPECT_NE(reason.find(row.says), std::string::npos) << reason;
    EXPECT_EQ(Read(row.kept), earlier);
    EXPECT_EQ(Entries(), before);
  }
  ::signal(SIGXFSZ, handler);
}

TEST_F(FileIoTest, ReplacesTheWholeFileAndKeepsItsPermissions) {
  Write("x.zv.doc", std::string(100000, 'o'));
  ::chmod(Path("x.zv.doc").c_str(), 0640);
  WriteFileAtomically(Path("x.zv.doc"), NewReport());
  EXPECT_EQ(Read("x.zv.doc"), NewReport());
  struct stat st {};
  ASSERT_EQ(::stat(Path("x.zv.doc").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Entries(), std::vector<std::string>{"x.zv.doc"});
}

TEST_F(FileIoTest, ReadingWhatIsNotAReadableFileFailsWithItsName) {
  std::filesystem::create_directories(dir_ / "folder.zv");
  for (const char* name : {"missing.zv", "folder.zv"}) {
    SCOPED_TRACE(name);
    try {
      ADD_FAILURE() << "read " << ReadWholeFile(Path(name)).size() << " bytes";
    } catch (const StageError& e) {
      EXPECT_NE(std::string(e.what()).find(Path(name)), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace ostrel
