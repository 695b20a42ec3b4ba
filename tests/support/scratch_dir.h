#pragma once

// A scratch folder for each test, removed afterwards, with the bundled example at hand and
// ostrel-cli run inside it.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostrel::testing_support {

class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() / ("ostrel_" + std::to_string(::getpid()) + "_" +
                                                     info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return Path(name);
  }
  // The whole file as bytes, read here rather than with the product's own reader, so that the
  // tests of every layer can use the folder.
  std::string Read(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + Path(name));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The names in the folder, sorted, but for the captured output (.out, .err): a temporary
  // file left behind shows here.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      if (e.path().filename().string()[0] != '.') names.push_back(e.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Copies examples/AAAc.zv and the package it names into the folder.
  void CopyExample() const {
    for (const char* name : {"AAAc.zv", "AAAc.tmv"}) {
      std::filesystem::copy(std::filesystem::path(OSTREL_EXAMPLES_DIR) / name, dir_ / name);
    }
  }

  struct CliRun {
    int status;
    std::string out, err;
  };
  // The shell command that runs ostrel-cli with `args` in the folder, its output in .out and
  // .err there.
  std::string CliCommand(const std::string& args) const {
    return "cd '" + dir_.string() + "' && '" + OSTREL_CLI_PATH + "' " + args + " >'" +
           Path(".out") + "' 2>'" + Path(".err") + "'";
  }
  // Runs ostrel-cli with `args` in the folder.
  CliRun Cli(const std::string& args) const {
    const int raw = std::system(CliCommand(args).c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read(".out"), Read(".err")};
  }

  std::filesystem::path dir_;
};

}  // namespace ostrel::testing_support
