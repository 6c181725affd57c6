// SPDX-License-Identifier: GPL-3.0-or-later
// The progress line of tavel-batch on a terminal: the stage, the engine's
// pass and r**2, the cross-validation's folds, redrawn in place with '\r'
// and wiped before any other text reaches the terminal. It reads the lines
// the Run writes to the main output window; it writes nothing without a sink.
//
//   Progress progress(toStderr);
//   progress.stage("fitting");
//   progress.screenLine(" iteration 3  r**2 = 1 - e**2 =   0.9856863");
//   progress.redraw();   // "tavel-batch: fitting: pass 3, r**2 = 0.9856863"
//   progress.clear();
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tavel::batch {

class Progress {
 public:
  explicit Progress(std::function<void(std::string_view)> sink = {}) : sink_(std::move(sink)) {}
  ~Progress() { clear(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // A new stage ("reading 'data.dat'", "fitting"); the pass is forgotten.
  void stage(std::string_view what);
  // A line of the main output window: an engine pass or a fold is kept for
  // the next redraw.
  void screenLine(std::string_view line);
  // Wipes the line (before other text, and at the end).
  void clear();
  // Draws the line again after clear().
  void redraw();

 private:
  void show(std::string text);

  std::function<void(std::string_view)> sink_;
  std::string stage_;
  std::string detail_;
  std::string drawn_;      // the line as last drawn
  std::size_t shown_ = 0;  // characters on the terminal's line now
};

}  // namespace tavel::batch
