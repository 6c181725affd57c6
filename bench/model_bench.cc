// SPDX-License-Identifier: GPL-3.0-or-later
// The model's costs: prediction of new rows (one binary search per value and
// predictor) and cross-validation (K fits of the engine).
//   ./build/bench/model_bench --benchmark_filter=Predict
//   ./build/bench/model_bench --benchmark_filter=CrossValidate
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "model/cross_validation.h"
#include "model/model.h"
#include "model/model_file.h"

namespace {

using tavel::model::Model;
using tavel::model::Variable;

constexpr int kPredictors = 10;

// Rows of p uniform predictors and y = sum of smooth functions plus noise.
struct Rows {
  int n = 0;
  std::vector<double> x, y;
};

Rows makeRows(int n, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Rows r;
  r.n = n;
  r.x.resize(static_cast<std::size_t>(n) * kPredictors);
  r.y.assign(n, 0.0);
  for (int j = 0; j < kPredictors; ++j)
    for (int i = 0; i < n; ++i) {
      const double v = u(gen);
      r.x[static_cast<std::size_t>(j) * n + i] = v;
      r.y[i] += std::sin(3.0 * v + j);
    }
  for (int i = 0; i < n; ++i) r.y[i] += 0.1 * u(gen);
  return r;
}

// A model of the shape a fit of 10^6 rows leaves: every table 10^6 entries.
Model makeModel(int entries) {
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Model m;
  for (int j = 0; j < kPredictors; ++j) {
    Variable v;
    v.name = v.source = "X" + std::to_string(j + 1);
    v.flag = tavel::model::VarFlag::Orderable;
    for (int k = 0; k < entries; ++k) v.values.push_back((k + u(gen) * 0.5) / entries);
    for (double value : v.values) v.transforms.push_back(std::sin(3.0 * value + j));
    m.predictors.push_back(std::move(v));
  }
  m.response.name = m.response.source = "Y";
  m.response.flag = tavel::model::VarFlag::Monotone;
  for (int k = 0; k < entries; ++k) {
    m.response.values.push_back(-10.0 + 20.0 * k / entries);
    m.response.transforms.push_back(-3.0 + 6.0 * k / entries);
  }
  return m;
}

void BM_PredictRows(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const Model model = makeModel(n);
  const Rows rows = makeRows(n, 11);
  tavel::model::Predictions out;
  for (auto _ : state) {
    tavel::model::predictRows(model, n, rows.x.data(), out);
    benchmark::DoNotOptimize(out.response.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_PredictRows)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The model file of such a fit: written as a stream (here into a counter of
// bytes) and read back.
void BM_WriteModelFile(benchmark::State& state) {
  const Model model = makeModel(static_cast<int>(state.range(0)));
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    tavel::model::writeModelJson(model, [&bytes](std::string_view piece) {
      bytes += piece.size();
      return true;
    });
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_WriteModelFile)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReadModelFile(benchmark::State& state) {
  const std::string text = tavel::model::modelToJson(makeModel(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    Model back;
    std::string message;
    if (!tavel::model::modelFromJson(text, back, message)) state.SkipWithError(message.c_str());
    benchmark::DoNotOptimize(back.response.values.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadModelFile)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CrossValidate(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const Rows rows = makeRows(n, 5);
  std::vector<int> codes(kPredictors, 1);
  codes.push_back(3);
  tavel::model::CvInput in;
  in.n = n;
  in.p = kPredictors;
  in.x = rows.x.data();
  in.y = rows.y.data();
  in.codes = codes.data();
  in.DelRsq = static_cast<double>(1.0e-4f);
  in.folds = 5;
  for (auto _ : state) {
    const tavel::model::CvResult cv = tavel::model::crossValidate(in);
    state.counters["cv_rsq"] = cv.rsq;
  }
}
BENCHMARK(BM_CrossValidate)->Arg(100000)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
