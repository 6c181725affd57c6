// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/trace.h"

#include <string>

#include "io/data_table.h"

namespace tavel::io {

void traceScreen(platform::Runtime& runtime, std::string_view line) {
  runtime.writeLine(platform::kScreenUnit, line);
}

void traceBoth(platform::Runtime& runtime, std::string_view line) {
  traceBoth(runtime, line, line);
}

void traceBoth(platform::Runtime& runtime, std::string_view screenLine, std::string_view logLine) {
  runtime.writeLine(platform::kScreenUnit, screenLine);
  // A log that could not be opened only loses the line; the screen has it.
  if (runtime.isOpen(kLogUnit)) runtime.writeLine(kLogUnit, logLine);
}

void refuse(platform::Runtime& runtime, std::vector<std::string>& problems, std::string_view line) {
  traceBoth(runtime, line);
  const std::size_t text = line.find_first_not_of(' ');
  problems.emplace_back(text == std::string_view::npos ? line : line.substr(text));
}

std::string_view trimName(std::string_view name) {
  std::size_t n = name.size();
  while (n > 0 && name[n - 1] == ' ') --n;
  return name.substr(0, n);
}

std::string padded(std::string_view text, std::size_t width) {
  std::string s(text.substr(0, width));
  s.resize(width, ' ');
  return s;
}

}  // namespace tavel::io
