#pragma once

// Runs an independent reference script under Debian's Python (/usr/bin/python3, with its mpmath
// and scipy): one case a line on its stdin, one answer line of numbers per case back.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace ostrel::testing_support {

// The numbers of each answer line of `script` to `cases`, in order.
inline std::vector<std::vector<double>> RunReference(const std::string& script,
                                                     const std::vector<std::string>& cases) {
  std::string command = "/usr/bin/python3 '" + script + "' <<'EOF'\n";
  for (const std::string& c : cases) command += c + "\n";
  command += "EOF\n";
  FILE* pipe = popen(command.c_str(), "r");
  std::vector<std::vector<double>> out;
  char line[512];
  while (pipe && std::fgets(line, sizeof line, pipe)) {
    std::istringstream in(line);
    out.emplace_back();
    for (double v; in >> v;) out.back().push_back(v);
  }
  if (pipe) pclose(pipe);
  EXPECT_EQ(out.size(), cases.size()) << script << " did not answer every case";
  return out;
}

// A case line: its name and its numbers to 17 digits.
inline std::string CaseLine(const char* name, const std::vector<double>& values) {
  std::ostringstream s;
  s.precision(17);
  s << name;
  for (double v : values) s << ' ' << v;
  return s.str();
}

}  // namespace ostrel::testing_support
