// SPDX-License-Identifier: GPL-3.0-or-later
// Per-point cost of the running-line smoother and the supersmoother.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "ace/ace_settings.h"
#include "ace/helper_thread.h"
#include "ace/supersmoother.h"
#include "ace/supersmoother_passes.h"

namespace {

struct Series {
  std::vector<double> x, y, w;
};

Series MakeSeries(int n) {
  std::mt19937 gen(42);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.3);
  Series s;
  s.x.resize(n);
  for (double& v : s.x) v = u(gen);
  std::sort(s.x.begin(), s.x.end());
  for (int j = 0; j < n; ++j) {
    s.y.push_back(std::sin(6.0 * s.x[j]) + noise(gen));
    s.w.push_back(1.0);
  }
  return s;
}

void BM_RunningLine(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const Series s = MakeSeries(n);
  std::vector<double> smo(n), acvr(n);
  for (auto _ : state) {
    tavel::ace::running_line_smooth(n, s.x.data(), s.y.data(), s.w.data(), 0.2, 1, 1e-12,
                                    smo.data(), acvr.data());
    benchmark::DoNotOptimize(smo.data());
  }
  state.counters["ns_per_point"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

// 0: the plain passes one after the other; 1: lanes on one thread; 2: lanes
// and two threads (what the engine uses).
template <int kForm>
void BM_Supersmoother(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const Series s = MakeSeries(n);
  std::vector<double> smo(n), sc(static_cast<size_t>(n) * 7);
  tavel::ace::AceSettings settings;
  tavel::ace::HelperThread helper;  // the engine starts one per call
  for (auto _ : state) {
    if (kForm == 0) {
      tavel::ace::plain::supersmoother(n, n, s.x.data(), s.y.data(), s.w.data(), 1, 0.0, 5.0,
                                       smo.data(), sc.data(), settings);
    } else {
      tavel::ace::supersmoother_in_lanes(n, n, s.x.data(), s.y.data(), s.w.data(), 1, 0.0, 5.0,
                                         smo.data(), sc.data(), settings,
                                         kForm == 2 ? &helper : nullptr);
    }
    benchmark::DoNotOptimize(smo.data());
  }
  state.counters["ns_per_point"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

}  // namespace

// Per-point figures are wall-clock time: the two-thread form's work is spread
// over both cores.
BENCHMARK(BM_RunningLine)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Supersmoother<2>)
    ->Name("BM_Supersmoother")
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Supersmoother<1>)
    ->Name("BM_SupersmootherOneThread")
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Supersmoother<0>)
    ->Name("BM_SupersmootherPlain")
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
