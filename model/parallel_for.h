// SPDX-License-Identifier: GPL-3.0-or-later
// Independent jobs on every core: task(k) for k = 0 .. count-1 on a few
// threads, with what each job leaves reported back in the order of k, so a
// caller's output is the same whichever thread finishes first.
//
//   std::vector<double> out(K);
//   parallelFor(K, 0, [&](int k) { out[k] = fit(k); },
//               [&](int k) { say(k, out[k]); return true; });
#pragma once

#include <functional>

namespace tavel::model {

// The threads a parallel job uses by default: TAVEL_THREADS when it holds a
// whole number of at least 1 (TAVEL_THREADS=1 runs everything in order on
// the caller's thread, for comparisons), else one per core, at least 1.
int defaultThreadCount();

// Runs task(k) for every k in 0 .. count-1 on min(threads, count) threads
// (threads 0: defaultThreadCount()); jobs start in the order of k. Then, on
// the calling thread, reached(k) is called for k = 0, 1, ... as soon as jobs
// 0 .. k have finished, while later jobs still run; a reached(k) that
// returns false stops the rest: no job starts after that, no later
// reached() is called, and the call returns once the running jobs end.
//
// Each task must touch only what no other job touches at the same time.
// An exception leaving task(k) (std::bad_alloc as much as any) stops the
// jobs not yet started and is thrown again from parallelFor, on the calling
// thread, once every running job has ended, in place of reached(k); of
// several, that of the smallest k. With one thread everything runs on the
// calling thread: task(0), reached(0), task(1), ...
void parallelFor(int count, int threads, const std::function<void(int)>& task,
                 const std::function<bool(int)>& reached = {});

}  // namespace tavel::model
