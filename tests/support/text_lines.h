// Test support: a text cut into its lines, for checking program output and
// the line-based files of a run.
#pragma once

#include <string>
#include <vector>

// The lines of `text` without their "\n"; a final line break adds no empty line.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}
