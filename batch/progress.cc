// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/progress.h"

namespace tavel::batch {
namespace {

constexpr std::size_t kWidth = 79;

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The number after "r**2" and the last '=' of a line ("r**2 = 1 - e**2 =
// 0.98", "r**2 =   0.99"), or nothing.
std::string_view rsqOf(std::string_view line) {
  if (line.find("r**2") == std::string_view::npos) return {};
  const std::size_t eq = line.rfind('=');
  return trimmed(line.substr(eq + 1));
}

}  // namespace

void Progress::stage(std::string_view what) {
  stage_ = std::string(what);
  detail_.clear();
  redraw();
}

void Progress::screenLine(std::string_view line) {
  if (!sink_) return;
  const std::string_view text = trimmed(line);
  // The engine's " iteration 3  r**2 = 1 - e**2 =   0.98" and " iteration10 ...".
  constexpr std::string_view kIteration = "iteration";
  constexpr std::string_view kFold = "Cross-validation fold ";
  if (text.substr(0, kIteration.size()) == kIteration && !rsqOf(text).empty()) {
    const std::string_view pass = trimmed(text.substr(kIteration.size(), 3));
    detail_ = "pass " + std::string(pass) + ", r**2 = " + std::string(rsqOf(text));
  } else if (text.substr(0, kFold.size()) == kFold) {
    const std::size_t colon = text.find(':');
    detail_ =
        "cross-validation fold " + std::string(text.substr(kFold.size(), colon - kFold.size()));
    if (!rsqOf(text).empty()) detail_ += ", r**2 = " + std::string(rsqOf(text));
  }
}

void Progress::redraw() {
  if (!sink_ || stage_.empty()) return;
  const std::string text = "tavel-batch: " + stage_ + (detail_.empty() ? "" : ": " + detail_);
  if (shown_ > 0 && text == drawn_) return;
  drawn_ = text;
  show(text);
}

void Progress::clear() {
  if (!sink_ || shown_ == 0) return;
  sink_("\r" + std::string(shown_, ' ') + "\r");
  shown_ = 0;
}

void Progress::show(std::string text) {
  // A line wider than the terminal would wrap, and '\r' goes back one row only.
  if (text.size() > kWidth) text.resize(kWidth);
  if (text.size() < shown_) text += std::string(shown_ - text.size(), ' ');
  sink_("\r" + text);
  shown_ = text.size();
}

}  // namespace tavel::batch
