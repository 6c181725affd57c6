// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/command_progress.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace tavel::platform::qt {
namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Runs of blanks become one, so fixed-width report lines read as text.
std::string collapsed(std::string_view s) {
  std::string out;
  for (char c : trimmed(s)) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

}  // namespace

void CommandProgress::start() {
  std::lock_guard lock(mutex_);
  stage_ = "Working";
  fraction_ = -1;
  plots_ = 0;
  clock_.start();
}

void CommandProgress::set(std::string stage, double fraction) {
  stage_ = std::move(stage);
  fraction_ = fraction;
}

void CommandProgress::fileOpened(int unit, const std::string& path, bool replacing) {
  File file;
  const std::filesystem::path p(path);
  file.name = p.filename().string();
  std::error_code error;
  const auto size = std::filesystem::file_size(p, error);
  file.size = error ? 0 : size;
  file.replacing = replacing;
  std::lock_guard lock(mutex_);
  files_[unit] = std::move(file);
}

void CommandProgress::fileClosed(int unit) {
  std::lock_guard lock(mutex_);
  files_.erase(unit);
}

void CommandProgress::lineRead(int unit, std::size_t bytes) {
  std::lock_guard lock(mutex_);
  auto it = files_.find(unit);
  if (it == files_.end()) return;
  File& f = it->second;
  f.read += bytes;
  const double fraction = f.size > 0 ? std::min(1.0, double(f.read) / double(f.size)) : -1.0;
  if (stage_.size() < 8 || stage_.compare(8, std::string::npos, f.name) != 0)
    stage_ = "Reading " + f.name;
  fraction_ = fraction;
}

void CommandProgress::endOfFile(int unit) {
  std::lock_guard lock(mutex_);
  auto it = files_.find(unit);
  if (it != files_.end()) set("Read " + it->second.name, 1.0);
}

void CommandProgress::reportStarted() {
  std::lock_guard lock(mutex_);
  set("Estimating the transformations", -1);
}

void CommandProgress::rewound(int unit) {
  std::lock_guard lock(mutex_);
  auto it = files_.find(unit);
  if (it != files_.end()) it->second.read = 0;
}

void CommandProgress::lineWritten(int unit) {
  std::lock_guard lock(mutex_);
  auto it = files_.find(unit);
  if (it == files_.end() || !it->second.replacing) return;
  File& f = it->second;
  ++f.written;
  if ((f.written & 1023) == 1)
    set("Writing " + f.name + ": " + std::to_string(f.written) + " lines", -1);
}

void CommandProgress::screenLine(std::string_view line) {
  const std::string_view text = trimmed(line);
  // "Cross-validation fold 2 of 5: fitted on ...": the fold now done; the
  // next one is being fitted.
  constexpr std::string_view kFold = "Cross-validation fold ";
  if (text.rfind(kFold, 0) == 0) {
    const std::string_view rest = text.substr(kFold.size(), text.find(':') - kFold.size());
    int done = 0, folds = 0;
    const auto of = rest.find(" of ");
    if (of != std::string_view::npos) {
      std::from_chars(rest.data(), rest.data() + of, done);
      std::from_chars(rest.data() + of + 4, rest.data() + rest.size(), folds);
    }
    std::lock_guard lock(mutex_);
    if (folds > 0 && done < folds) {
      set("Cross-validation: fitting fold " + std::to_string(done + 1) + " of " +
              std::to_string(folds),
          double(done) / folds);
    } else {
      set("Cross-validation: fold " + collapsed(rest), -1);
    }
    return;
  }
  if (text.rfind("iteration", 0) != 0) return;
  std::lock_guard lock(mutex_);
  set("Estimating: " + collapsed(text), -1);
}

void CommandProgress::plotOpened(std::string_view title) {
  std::lock_guard lock(mutex_);
  ++plots_;
  set("Plotting " + collapsed(title) + " (plot " + std::to_string(plots_) + ")", -1);
}

void CommandProgress::stageNamed(std::string_view stage) {
  std::lock_guard lock(mutex_);
  set(std::string(stage), -1);
}

CommandProgress::Snapshot CommandProgress::snapshot() const {
  std::lock_guard lock(mutex_);
  return Snapshot{stage_, fraction_, clock_.isValid() ? clock_.elapsed() : 0};
}

bool CommandProgress::trySnapshot(Snapshot& now) const {
  std::unique_lock lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return false;
  now = Snapshot{stage_, fraction_, clock_.isValid() ? clock_.elapsed() : 0};
  return true;
}

}  // namespace tavel::platform::qt
