// SPDX-License-Identifier: GPL-3.0-or-later
#include "ace/helper_thread.h"

#include <system_error>

namespace tavel::ace {

HelperThread::HelperThread() {
  try {
    thread_ = std::thread([this] { loop(); });
  } catch (const std::system_error&) {
    // No thread to be had: started() stays false.
  }
}

HelperThread::~HelperThread() {
  if (!started()) return;
  post(kQuit);
  thread_.join();
}

void HelperThread::post(int state) {
  state_.store(state, std::memory_order_release);
  state_.notify_all();
}

void HelperThread::wait() {
  for (;;) {
    const int now = state_.load(std::memory_order_acquire);
    if (now == kDone) break;
    state_.wait(now, std::memory_order_acquire);
  }
  state_.store(kIdle, std::memory_order_relaxed);
}

void HelperThread::loop() {
  for (;;) {
    const int now = state_.load(std::memory_order_acquire);
    if (now == kQuit) return;
    if (now != kPosted) {
      state_.wait(now, std::memory_order_acquire);
      continue;
    }
    entry_(context_);
    post(kDone);
  }
}

}  // namespace tavel::ace
