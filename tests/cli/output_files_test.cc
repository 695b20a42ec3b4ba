// ostrel-cli's outputs: an input is never an output, results are put in place all or nothing,
// outputs that are not regular files are written in place, every write is checked, and a
// terminating signal leaves no temp file. Device nodes are made in the scratch folder (as root),
// so no row can replace a real node of /dev whatever the program does.

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>
#include <utility>

#include "app/file_io.h"
#include "support/scratch_dir.h"

namespace ostrel {
namespace {

class OutputFilesTest : public testing_support::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    CopyExample();
  }

  // `text` with {cli} replaced by the quoted path of ostrel-cli.
  static std::string WithCli(std::string text) {
    const std::string cli = std::string("'") + OSTREL_CLI_PATH + "'";
    for (std::size_t at = text.find("{cli}"); at != std::string::npos; at = text.find("{cli}")) {
      text.replace(at, 5, cli);
    }
    return text;
  }
  // Runs the shell `script` in the folder, its output in .out and .err unless it redirects it;
  // a run that hangs is ended after two minutes. Returns the exit status.
  int Shell(const std::string& script) const {
    Write(".run.sh", WithCli(script));
    const std::string command = "cd '" + dir_.string() + "' && timeout -s KILL 120 sh .run.sh >" +
                                Path(".out") + " 2>" + Path(".err");
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  // The bytes of every regular file in the folder.
  std::map<std::string, std::string> RegularFiles() const {
    std::map<std::string, std::string> files;
    for (const std::string& name : Entries()) {
      if (std::filesystem::is_regular_file(std::filesystem::symlink_status(dir_ / name))) {
        files[name] = Read(name);
      }
    }
    return files;
  }

  // Checks the file `name` against `want`: absent, kept (the bytes it had before), golden (the
  // example's report), char, fifo, link (still a symbolic link), =OTHER (the bytes of OTHER),
  // has TEXT, stat MODE UID:GID (octal st_mode).
  void Check(const std::string& name, const std::string& want,
             const std::map<std::string, std::string>& before) const {
    SCOPED_TRACE(name + ": " + want);
    struct stat info {};
    const bool there = ::lstat(Path(name).c_str(), &info) == 0;
    if (want == "absent") {
      EXPECT_FALSE(there);
      return;
    }
    ASSERT_TRUE(there);
    const std::string rest = want.substr(want.find(' ') + 1);
    if (want == "kept") {
      EXPECT_EQ(Read(name), before.at(name));
    } else if (want == "golden") {
      EXPECT_EQ(Read(name),
                ReadWholeFile(std::string(OSTREL_TEST_DATA_DIR) + "/example/AAAc.zv.doc"));
    } else if (want == "char" || want == "fifo" || want == "link") {
      EXPECT_TRUE(want == "char"   ? S_ISCHR(info.st_mode)
                  : want == "fifo" ? S_ISFIFO(info.st_mode)
                                   : S_ISLNK(info.st_mode));
    } else if (want[0] == '=') {
      EXPECT_EQ(Read(name), Read(want.substr(1)));
    } else if (want.rfind("has ", 0) == 0) {
      EXPECT_NE(Read(name).find(rest), std::string::npos);
    } else if (want.rfind("stat ", 0) == 0) {
      char seen[64];
      std::snprintf(seen, sizeof seen, "%o %u:%u", info.st_mode, info.st_uid, info.st_gid);
      EXPECT_EQ(seen, rest);
    } else {
      ADD_FAILURE() << "unknown expectation";
    }
  }
};

// A run that ostrel-cli cannot finish on its own (it waits to write the FIFO `ff`), ended by
// `signal` once its temp files exist.
std::string Interrupted(const std::string& signal) {
  return "env --default-signal=INT {cli} --json p.json --csv ff AAAc.zv & pid=$!\n"
         "for i in $(seq 1200); do ls | grep -q '~' && break; sleep 0.05; done\n"
         "ls | grep -q '~' || { kill -KILL $pid; exit 99; }  # no temp file to remove\n"
         "kill -" +
         signal + " $pid; wait $pid";
}

// Runs ostrel-cli with its standard output a pipe that nobody reads; `rc` gets its status as
// Python gives it (-13: ended by SIGPIPE). `ignored`: started with SIGPIPE ignored.
std::string BrokenPipe(bool ignored) {
  return std::string("python3 -c \"import os, subprocess, sys\n") +
         "r, w = os.pipe(); os.close(r)\n"
         "rc = subprocess.call(sys.argv[1:], stdout=w, restore_signals=" +
         (ignored ? "False" : "True") +
         ")\nopen('rc', 'w').write(str(rc))\" {cli} --stdout AAAc.zv";
}

TEST_F(OutputFilesTest, NothingLostNothingSilent) {
  const std::string longest(255, 'n');
  struct Row {
    const char* name;
    std::string before;  // shell commands that make the files before the run
    std::string run;     // the run, a shell script
    int status;
    std::vector<std::pair<std::string, std::string>> after;  // file, expectation (see Check)
    std::string says = "";                                   // part of stderr
    bool root = false;  // makes device nodes or gives files away
  };
  const std::string ref = "{cli} --json ref.json --physical phys.json AAAc.zv >/dev/null\n";
  const Row rows[] = {
      // An input is never an output.
      {"report onto the settings file",
       "",
       "{cli} --report AAAc.zv AAAc.zv",
       2,
       {{"AAAc.zv", "kept"}, {"AAAc.zv.doc", "absent"}},
       "settings file"},
      {"export onto the package file",
       "",
       "{cli} --json AAAc.tmv AAAc.zv",
       2,
       {{"AAAc.tmv", "kept"}},
       "package file"},
      {"another name of the settings file",
       "",
       "{cli} --csv ./AAAc.zv AAAc.zv",
       2,
       {{"AAAc.zv", "kept"}},
       "--csv ./AAAc.zv"},
      {"hard link to the package file",
       "ln AAAc.tmv hard.tmv",
       "{cli} --physical hard.tmv AAAc.zv",
       2,
       {{"AAAc.tmv", "kept"}, {"hard.tmv", "kept"}},
       "package file"},
      {"symbolic link to the settings file",
       "mkdir sub && ln -s ../AAAc.zv sub/s.zv",
       "{cli} --json sub/s.zv AAAc.zv",
       2,
       {{"AAAc.zv", "kept"}},
       "settings file"},
      {"settings saved onto the package file",
       "",
       "{cli} --save-settings AAAc.tmv AAAc.zv",
       2,
       {{"AAAc.tmv", "kept"}},
       "package file"},
      {"settings saved onto themselves (Save)",
       "",
       "{cli} --save-settings AAAc.zv AAAc.zv",
       0,
       {{"AAAc.zv", "has StackExtension=-1.000\r\n"}, {"AAAc.zv.doc", "golden"}}},
      {"default report is the package file",
       "cp AAAc.tmv p.zv.doc && sed s/AAAc.tmv/p.zv.doc/ AAAc.zv >p.zv",
       "{cli} p.zv",
       2,
       {{"p.zv.doc", "kept"}},
       "package file"},
      {"no settings argument",
       "",
       "{cli} --report AAAc.zv",
       2,
       {{"AAAc.zv", "kept"}},
       "give SETTINGS.zv"},
      {"two outputs, one file",
       "",
       "{cli} --report x.doc --csv ./x.doc AAAc.zv",
       2,
       {{"x.doc", "absent"}},
       "same file"},
      // All or nothing.
      {"missing folder",
       "echo old >AAAc.zv.doc",
       "{cli} --json nodir/x.json AAAc.zv",
       1,
       {{"AAAc.zv.doc", "kept"}},
       "nodir/x.json"},
      {"blocked run",
       "printf 'TMVFile=AAAc.tmv\\r\\nFrequency=0\\r\\n' >zero.zv",
       "{cli} --save-settings s.zv --json j.json zero.zv",
       1,
       {{"s.zv", "absent"}, {"j.json", "absent"}, {"zero.zv.doc", "absent"}},
       "Frequency="},
      {"refused IBIS name",
       "",
       "{cli} --save-settings s.zv --ibis-pkg BAD.PKG AAAc.zv",
       1,
       {{"s.zv", "absent"}, {"AAAc.zv.doc", "absent"}},
       "BAD.PKG"},
      {"replaced file keeps mode and owner",
       "echo old >o.csv && chmod 640 o.csv && chown 1234:5678 o.csv",
       "{cli} --csv o.csv AAAc.zv",
       0,
       {{"o.csv", "stat 100640 1234:5678"}, {"o.csv", "has T1,"}},
       "",
       true},
      {"longest name", "", "{cli} --json " + longest + " AAAc.zv", 0, {{longest, "has \"T1\""}}},
      // Outputs that are not regular files.
      {"null device",
       "mknod null c 1 3",
       "{cli} --json null AAAc.zv",
       0,
       {{"null", "char"}, {"AAAc.zv.doc", "golden"}},
       "",
       true},
      {"FIFO",
       "mkfifo ff && " + ref,
       "cat ff >got.json & {cli} --json ff AAAc.zv; s=$?; wait; exit $s",
       0,
       {{"ff", "fifo"}, {"got.json", "=ref.json"}}},
      {"standard output",
       "",
       "{cli} --json - AAAc.zv | python3 -m json.tool >pretty.json",
       0,
       {{"pretty.json", "has \"wires\": ["}}},
      {"link to standard output",
       "ln -s /proc/self/fd/1 so && " + ref,
       "{cli} --physical so AAAc.zv >got.json",
       0,
       {{"so", "link"}, {"got.json", "=phys.json"}}},
      {"link to a file",
       "echo old >real.json && ln -s real.json link.json && " + ref,
       "{cli} --json link.json AAAc.zv",
       0,
       {{"link.json", "link"}, {"real.json", "=ref.json"}}},
      {"link to nothing",
       "ln -s nowhere dangling.json",
       "{cli} --json dangling.json AAAc.zv",
       1,
       {{"AAAc.zv.doc", "absent"}},
       "dangling.json"},
      {"folder",
       "mkdir out.json",
       "{cli} --json out.json AAAc.zv",
       1,
       {{"AAAc.zv.doc", "absent"}},
       "out.json"},
      {"two on standard output", "", "{cli} --stdout --json - AAAc.zv", 2, {}, "standard output"},
      {"table and a link to standard output",
       "ln -s /proc/self/fd/1 so",
       "{cli} --physical-table --csv so AAAc.zv",
       2,
       {},
       "standard output"},
      {"IBIS to standard output", "", "{cli} --ibis-pkg - AAAc.zv", 2, {}, "--ibis-pkg"},
      {"Touchstone to standard output", "", "{cli} --touchstone - AAAc.zv", 2, {}, "--touchstone"},
      // Every write checked.
      {"full device",
       "mknod full c 1 7",
       "{cli} --report full --json j.json AAAc.zv",
       1,
       {{"full", "char"}, {"j.json", "absent"}},
       "disk full",
       true},
      {"report on a full standard output",
       "mknod full c 1 7",
       "{cli} --stdout AAAc.zv >full",
       1,
       {},
       "disk full",
       true},
      {"table on a full standard output",
       "mknod full c 1 7",
       "{cli} --physical-table AAAc.zv >full",
       1,
       {{"AAAc.zv.doc", "absent"}},
       "disk full",
       true},
      {"help on a full standard output",
       "mknod full c 1 7",
       "{cli} --help >full",
       1,
       {},
       "disk full",
       true},
      {"broken pipe", "", BrokenPipe(false), 0, {{"rc", "has -13"}}},
      {"broken pipe, SIGPIPE ignored", "", BrokenPipe(true), 0, {{"rc", "has -13"}}},
      // Signals remove the temp files and end the run as the signal does.
      {"SIGTERM", "mkfifo ff", Interrupted("TERM"), 128 + SIGTERM, {{"p.json", "absent"}}},
      {"SIGINT", "mkfifo ff", Interrupted("INT"), 128 + SIGINT, {{"p.json", "absent"}}},
      {"SIGHUP", "mkfifo ff", Interrupted("HUP"), 128 + SIGHUP, {{"p.json", "absent"}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // Root in a container may lack the right to make device nodes.
    if (row.root && (::geteuid() != 0 || Shell("mknod probe c 1 3 && rm probe") != 0)) {
      std::cout << "skipped (needs root that may make device nodes): " << row.name << "\n";
      continue;
    }
    TearDown();
    SetUp();
    ASSERT_EQ(Shell(row.before), 0) << Read(".err");
    const std::map<std::string, std::string> before = RegularFiles();
    EXPECT_EQ(Shell(row.run), row.status) << Read(".err");
    const std::string err = Read(".err");
    EXPECT_NE(err.find(row.says), std::string::npos) << err;
    for (const auto& [name, want] : row.after) Check(name, want, before);
    for (const std::string& name : Entries()) EXPECT_EQ(name.find(".~"), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace ostrel
