#pragma once

// Helpers for the export tests: a scratch folder with the bundled example, running commands
// (ostrel-cli, jq, xmllint, ngspice) in it, and reading the report's wire values back.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostrel::testing_support {

namespace fs = std::filesystem;

// The whole content of a file as bytes, read here so that the export tests need nothing above
// the export layer (the product's own reader belongs to app).
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes `text` as the whole content of the file at `path`, for the tools that read it next.
inline void WriteWholeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  if (!(out << text).flush()) throw std::runtime_error("cannot write " + path);
}

// A fresh folder named after the running test and process, holding the bundled example.
inline fs::path ExampleFolder() {
  const fs::path dir = fs::temp_directory_path() /
                       ("ostrel_export_" + std::to_string(::getpid()) + "_" +
                        std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const char* name : {"AAAc.zv", "AAAc.tmv"}) {
    fs::copy(fs::path(OSTREL_EXAMPLES_DIR) / name, dir / name);
  }
  return dir;
}

// Runs a shell command in `dir`; returns its exit status and fills `output` with its stdout
// (and stderr too when `with_errors`).
inline int RunIn(const fs::path& dir, const std::string& command, std::string& output,
                 bool with_errors = true) {
  const std::string cmd =
      "cd '" + dir.string() + "' && " + command + (with_errors ? " 2>&1" : " 2>/dev/null");
  FILE* pipe = ::popen(cmd.c_str(), "r");
  if (pipe == nullptr) return -1;
  output.clear();
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  const int raw = ::pclose(pipe);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Runs ostrel-cli with `args` on the example in `dir`, which must succeed; returns its output.
inline std::string RunCli(const fs::path& dir, const std::string& args) {
  std::string log;
  EXPECT_EQ(RunIn(dir, std::string("'") + OSTREL_CLI_PATH + "' " + args + " AAAc.zv", log), 0)
      << log;
  return log;
}

// Output of a reader (jq, xmllint) on `file`, which must accept it.
inline std::string Query(const fs::path& dir, const std::string& command) {
  std::string out;
  EXPECT_EQ(RunIn(dir, command, out, false), 0) << command << "\n" << out;
  return out;
}

// Lines of `text` split at `separator` (a trailing separator ends the last line).
inline std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = text.find(separator, pos);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(pos, end - pos));
    pos = end + separator.size();
  }
  return parts;
}

// XPath of the wire paths of the SVG picture, whose elements are in the SVG namespace.
constexpr const char* kPaths = "//*[local-name()=\"path\"][@data-wire]";

// Attributes of wire path `i` (from 1) of an SVG file, read by xmllint: name, kind, stroke, d.
inline std::vector<std::string> PathFields(const fs::path& dir, const std::string& file,
                                           std::size_t i) {
  const std::string p = std::string("(") + kPaths + ")[" + std::to_string(i) + "]/@";
  return Split(Query(dir, "xmllint --xpath 'concat(" + p + "data-wire, \"\n\", " + p +
                              "data-kind, \"\n\", " + p + "stroke, \"\n\", " + p + "d)' " + file),
               "\n");
}

inline float ParseFloat(const std::string& text) {
  float value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  EXPECT_TRUE(ec == std::errc() && ptr == text.data() + text.size()) << "not a number: " << text;
  return value;
}

// The wire blocks of the report: per wire its name, then its six values as printed (length,
// resistance, DC, AC, self and mutual inductance).
inline std::vector<std::vector<std::string>> ReportWires(const std::string& report) {
  std::vector<std::vector<std::string>> wires;
  for (const std::string& line : Split(report, "\r\n")) {
    if (line.rfind("Pad: ", 0) == 0) {
      wires.push_back({line.substr(5)});
    } else if (!wires.empty() && line.size() > 35 && line.rfind("  ", 0) == 0) {
      const std::string field = line.substr(23, 12);
      wires.back().push_back(field.substr(field.find_first_not_of(' ')));
    }
  }
  return wires;
}

}  // namespace ostrel::testing_support
