#include "platform/qt/stall_probe.h"

#include <QWidget>
#include <algorithm>

namespace tavel::platform::qt {

std::unique_ptr<QApplication> offscreenApplication(int& argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  return std::make_unique<QApplication>(argc, argv);
}

void closeModalDialog() {
  if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
}

StallProbe::StallProbe(int periodMs) : period_(periodMs) {
  timer_.setInterval(period_);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    const std::int64_t now = clock_.elapsed();
    if (last_ >= 0) longest_ = std::max(longest_, now - last_);
    last_ = now;
    if (action_) action_();
  });
}

void StallProbe::start() {
  last_ = -1;
  longest_ = 0;
  clock_.start();
  timer_.start();
}

void StallProbe::stop() { timer_.stop(); }

std::int64_t StallProbe::longestStallMs() const {
  return std::max<std::int64_t>(0, longest_ - period_);
}

}  // namespace tavel::platform::qt
