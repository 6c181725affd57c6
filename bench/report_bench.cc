// SPDX-License-Identifier: GPL-3.0-or-later
// The text output of a large run: the log (input echo and closing report)
// and both spreadsheets for n = 10^6 observations and p = 10 predictors,
// and the field writers alone.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/records.h"
#include "io/field_format.h"
#include "platform/headless/headless_runtime.h"
#include "run/report.h"

namespace {

using tavel::run::ReportArrays;

struct BigRun {
  int n;
  int p;
  std::vector<double> x, tx, xEq, y, ty, yEq, sumTx, yPred;
  std::vector<std::string> names;
  std::vector<int> codes;

  BigRun(int rows, int predictors) : n(rows), p(predictors) {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal(0.0, 100.0);
    const auto cells = static_cast<std::size_t>(n) * static_cast<std::size_t>(p);
    for (auto* v : {&x, &tx, &xEq}) v->resize(cells);
    for (auto* v : {&y, &ty, &yEq, &sumTx, &yPred}) v->resize(static_cast<std::size_t>(n));
    for (auto* v : {&x, &tx, &xEq, &y, &ty, &yEq, &sumTx, &yPred})
      for (double& e : *v) e = normal(rng);
    for (int j = 0; j < p; ++j) names.push_back("VAR" + std::to_string(j) + std::string(46, ' '));
    names.push_back("_ln_RATE" + std::string(42, ' '));
    codes.assign(static_cast<std::size_t>(p + 1), 3);
  }
  ReportArrays arrays() const {
    return ReportArrays{n,         p,          x.data(),   y.data(),     tx.data(),
                        ty.data(), xEq.data(), yEq.data(), sumTx.data(), yPred.data()};
  }
};

// The three writing stages of a Run one at a time, as --timings splits
// them: wall time and the CPU of both threads (the formatting helper's too).
enum class Stage { kEcho, kReport, kSheets };

void writeStage(const BigRun& run, const std::string& dir, Stage stage) {
  tavel::platform::headless::HeadlessRuntime runtime(dir);
  runtime.openFile(tavel::app::kLogUnit, "Tavel.log", false);
  switch (stage) {
    case Stage::kEcho:
      tavel::run::writeInputEcho(runtime, run.names, run.codes.data(), run.arrays());
      break;
    case Stage::kReport:
      tavel::run::writeClosingReport(runtime, 0.9, run.arrays());
      break;
    case Stage::kSheets:
      tavel::run::writeSpreadsheets(runtime, run.names, run.arrays(), true, false, false);
      break;
  }
  runtime.close(tavel::app::kLogUnit);
}

void BM_Stage(benchmark::State& state) {
  static const BigRun run(1000000, 10);
  char tmpl[] = "/tmp/tavel_report_bench_XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  for (auto _ : state) writeStage(run, dir, static_cast<Stage>(state.range(0)));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_Stage)
    ->ArgName("echo0_report1_sheets2")
    ->DenseRange(0, 2)
    ->Iterations(3)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_LogAndSpreadsheets(benchmark::State& state) {
  const BigRun run(static_cast<int>(state.range(0)), 10);
  char tmpl[] = "/tmp/tavel_report_bench_XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  for (auto _ : state) {
    tavel::platform::headless::HeadlessRuntime runtime(dir);
    runtime.openFile(tavel::app::kLogUnit, "Tavel.log", false);
    tavel::run::writeInputEcho(runtime, run.names, run.codes.data(), run.arrays());
    tavel::run::writeClosingReport(runtime, 0.9, run.arrays());
    runtime.close(tavel::app::kLogUnit);
    tavel::run::writeSpreadsheets(runtime, run.names, run.arrays(), true, true, true);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LogAndSpreadsheets)->Arg(1000000)->Iterations(1)->Unit(benchmark::kSecond);

void BM_FieldE15(benchmark::State& state) {
  std::mt19937_64 rng(3);
  std::normal_distribution<double> normal(0.0, 100.0);
  std::vector<double> values(4096);
  for (double& v : values) v = normal(rng);
  char buf[16];
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tavel::app::putE(buf, values[k++ & 4095], 15, 5));
  }
}
BENCHMARK(BM_FieldE15);

void BM_FieldG11(benchmark::State& state) {
  std::mt19937_64 rng(4);
  std::normal_distribution<double> normal(0.0, 100.0);
  std::vector<double> values(4096);
  for (double& v : values) v = normal(rng);
  char buf[16];
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tavel::app::putG(buf, values[k++ & 4095], 11, 3));
  }
}
BENCHMARK(BM_FieldG11);

}  // namespace
