// SPDX-License-Identifier: GPL-3.0-or-later
// Wall-clock time per stage of a command (scan, re-read, echo, engine, ...),
// for tavel-batch --timings on standard error: where a long analysis spends
// its time. Never part of the log, the sheets or the screen lines.
#pragma once

#include <charconv>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavel::app {

class StageTimings {
 public:
  // Off, nothing is measured: the timers cost one test.
  bool enabled = false;

  // Adds to the stage's total (a stage met again, such as a fold, adds up);
  // stages are kept in the order first met.
  void add(std::string_view stage, double seconds) {
    for (auto& [name, total] : stages_)
      if (name == stage) {
        total += seconds;
        return;
      }
    stages_.emplace_back(std::string(stage), seconds);
  }
  const std::vector<std::pair<std::string, double>>& stages() const { return stages_; }

  // One line per stage: "timing: engine 1.234 s".
  std::string report() const {
    std::string text;
    for (const auto& [name, total] : stages_) {
      char digits[32];
      const auto end =
          std::to_chars(digits, digits + sizeof digits, total, std::chars_format::fixed, 3).ptr;
      text += "timing: " + name + " " + std::string(digits, end) + " s\n";
    }
    return text;
  }

 private:
  std::vector<std::pair<std::string, double>> stages_;
};

// Measures from its construction to its end, when the timings are on.
class StageTimer {
 public:
  StageTimer(StageTimings& timings, std::string_view stage)
      : timings_(timings), stage_(stage), start_(std::chrono::steady_clock::now()) {}
  ~StageTimer() {
    if (!timings_.enabled) return;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start_;
    timings_.add(stage_, took.count());
  }
  StageTimer(const StageTimer&) = delete;
  StageTimer& operator=(const StageTimer&) = delete;

 private:
  StageTimings& timings_;
  std::string_view stage_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace tavel::app
