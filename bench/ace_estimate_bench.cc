// SPDX-License-Identifier: GPL-3.0-or-later
// Wall time of a whole engine call with the Run's settings on
// y = sum of smooth functions of the x plus noise.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "ace/ace.h"
#include "ace/engine_paths.h"

namespace {

void BM_AceEstimate(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int p = static_cast<int>(state.range(1));
  const int ld = n;
  std::vector<double> x(static_cast<size_t>(ld) * p), y(n), w(n, 1.0);
  std::mt19937 gen(17);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.5);
  for (int j = 0; j < n; ++j) {
    double s = 0.0;
    for (int i = 0; i < p; ++i) {
      const double v = u(gen);
      x[static_cast<size_t>(i) * ld + j] = v;
      switch (i % 3) {
        case 0:
          s += std::sin(3.0 * v);
          break;
        case 1:
          s += v * v;
          break;
        default:
          s += std::exp(v);
          break;
      }
    }
    y[j] = std::exp(0.5 * (s + noise(gen)));
  }
  std::vector<int> l(p + 1, 1);
  l[p] = 3;
  std::vector<double> tx(static_cast<size_t>(ld) * p), ty(n), z(static_cast<size_t>(ld) * 12);
  std::vector<int> m(static_cast<size_t>(ld) * (p + 1));
  const tavel::ace::AceProblem problem{n, p, ld, x, y, w, l, tx, ty, m, z};
  const tavel::ace::AceOptions options;  // the Run's defaults: DelRsq 1e-4, NumTerm 2
  tavel::ace::AceSummary summary;
  for (auto _ : state) {
    summary = tavel::ace::ace_solve_on(tavel::ace::Paths::kFast, problem, options);
    benchmark::DoNotOptimize(ty.data());
  }
  // Every code is nonzero: each inner pass smooths all p predictors.
  state.counters["passes"] = summary.outer_passes;  // outer passes (iteration lines)
  state.counters["inner"] = summary.inner_passes;
  state.counters["smooths"] = summary.inner_passes * p + summary.outer_passes;
  state.counters["rsq"] = summary.rsq;
}

}  // namespace

BENCHMARK(BM_AceEstimate)
    ->ArgsProduct({{100000, 1000000}, {1, 5, 10}})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
