// SPDX-License-Identifier: GPL-3.0-or-later
// A second thread that runs one job at a time for its owner. It is started
// once (outside any loop) and reused, so handing it a job allocates nothing.
#pragma once

#include <atomic>
#include <thread>

namespace tavel::ace {

class HelperThread {
 public:
  // Starts the thread; when that is not possible, started() is false and the
  // owner does the work itself.
  HelperThread();
  ~HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  bool started() const { return thread_.joinable(); }

  // Runs job() on the helper; job must stay alive until wait() returns.
  template <typename Job>
  void start(Job& job) {
    entry_ = [](void* context) { (*static_cast<Job*>(context))(); };
    context_ = &job;
    post(kPosted);
  }

  // Blocks until the job handed to start() has finished.
  void wait();

 private:
  enum State : int { kIdle, kPosted, kDone, kQuit };
  void post(int state);
  void loop();

  void (*entry_)(void*) = nullptr;
  void* context_ = nullptr;
  std::atomic<int> state_{kIdle};
  std::thread thread_;
};

}  // namespace tavel::ace
