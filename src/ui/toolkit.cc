#include "ui/toolkit.h"

namespace ostrel::ui {

std::vector<std::string> NameFilters(const std::string& filter) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= filter.size()) {
    const std::size_t bar = filter.find('|', start);
    const std::size_t end = bar == std::string::npos ? filter.size() : bar;
    parts.push_back(filter.substr(start, end - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  std::vector<std::string> filters;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string pattern = parts[i + 1] == "*.*" ? "*" : parts[i + 1];
    for (char& c : pattern) {
      if (c == ';') c = ' ';  // several patterns of one entry are blank-separated in Qt
    }
    filters.push_back(parts[i] + " (" + pattern + ")");
  }
  return filters;
}

}  // namespace ostrel::ui
