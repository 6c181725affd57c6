// Measuring how long the window goes unserved: a timer on the GUI thread
// that records the longest gap between two of its ticks. For the stall
// benchmark, which runs the desktop program without a display.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

namespace tavel::platform::qt {

// A Qt application on the offscreen platform unless another one is asked
// for (QT_QPA_PLATFORM).
std::unique_ptr<QApplication> offscreenApplication(int& argc, char** argv);

// Closes the modal dialog that waits for the user, if any (unattended runs).
void closeModalDialog();

class StallProbe {
 public:
  explicit StallProbe(int periodMs = 10);
  void start();
  void stop();
  // The longest gap between two ticks beyond the period, in ms.
  std::int64_t longestStallMs() const;
  // Called at every tick, on the GUI thread.
  void onTick(std::function<void()> action) { action_ = std::move(action); }

 private:
  int period_;
  QTimer timer_;
  QElapsedTimer clock_;
  std::int64_t last_ = -1;
  std::int64_t longest_ = 0;
  std::function<void()> action_;
};

}  // namespace tavel::platform::qt
