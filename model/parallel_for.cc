// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/parallel_for.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tavel::model {

int defaultThreadCount() {
  if (const char* forced = std::getenv("TAVEL_THREADS")) {
    int n = 0;
    const char* end = forced + std::strlen(forced);
    const auto r = std::from_chars(forced, end, n);
    if (r.ec == std::errc() && r.ptr == end && n >= 1) return n;
  }
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

namespace {

void inOrder(int count, const std::function<void(int)>& task,
             const std::function<bool(int)>& reached) {
  for (int k = 0; k < count; ++k) {
    task(k);
    if (reached && !reached(k)) return;
  }
}

// What the jobs share; every member is guarded by mutex.
struct Jobs {
  std::mutex mutex;
  std::condition_variable changed;
  int next = 0;       // the next job to start
  bool stop = false;  // start no more
  std::vector<char> finished;
  std::vector<std::exception_ptr> errors;
};

void work(Jobs& jobs, int count, const std::function<void(int)>& task) {
  for (;;) {
    int k = 0;
    {
      const std::lock_guard lock(jobs.mutex);
      if (jobs.stop || jobs.next >= count) return;
      k = jobs.next++;
    }
    std::exception_ptr error;
    try {
      task(k);
    } catch (...) {
      error = std::current_exception();
    }
    {
      const std::lock_guard lock(jobs.mutex);
      jobs.finished[static_cast<std::size_t>(k)] = 1;
      if (error) {
        jobs.errors[static_cast<std::size_t>(k)] = error;
        jobs.stop = true;
      }
    }
    jobs.changed.notify_all();
  }
}

}  // namespace

void parallelFor(int count, int threads, const std::function<void(int)>& task,
                 const std::function<bool(int)>& reached) {
  if (count <= 0) return;
  if (threads <= 0) threads = defaultThreadCount();
  threads = std::min(threads, count);
  if (threads <= 1) return inOrder(count, task, reached);

  Jobs jobs;
  jobs.finished.assign(static_cast<std::size_t>(count), 0);
  jobs.errors.resize(static_cast<std::size_t>(count));
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(threads));
  // Joins on every way out, also when reached() throws.
  struct Joiner {
    Jobs& jobs;
    std::vector<std::thread>& pool;
    ~Joiner() {
      {
        const std::lock_guard lock(jobs.mutex);
        jobs.stop = true;
      }
      for (std::thread& t : pool) t.join();
    }
  } joiner{jobs, pool};
  for (int t = 0; t < threads; ++t) {
    try {
      pool.emplace_back([&jobs, count, &task] { work(jobs, count, task); });
    } catch (const std::system_error&) {
      break;  // fewer threads than asked: those started do every job
    }
  }
  if (pool.empty()) return inOrder(count, task, reached);

  for (int k = 0; k < count; ++k) {
    std::exception_ptr error;
    {
      std::unique_lock lock(jobs.mutex);
      jobs.changed.wait(lock, [&] { return jobs.finished[static_cast<std::size_t>(k)] != 0; });
      error = jobs.errors[static_cast<std::size_t>(k)];
      if (error) jobs.stop = true;
    }
    if (error) {
      // The jobs before k have all reported; those running end first.
      for (std::thread& t : pool) t.join();
      pool.clear();
      std::rethrow_exception(error);
    }
    if (reached && !reached(k)) return;
  }
}

}  // namespace tavel::model
