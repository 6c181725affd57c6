#include "app/trace.h"

#include <string>

#include "app/records.h"

namespace tavel::app {

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

}  // namespace tavel::app
