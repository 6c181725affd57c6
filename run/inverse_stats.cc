#include "run/inverse_stats.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

namespace tavel::run {
namespace {

inline std::size_t at(int i, int j, int n) {
  return static_cast<std::size_t>(j) * static_cast<std::size_t>(n) + static_cast<std::size_t>(i);
}

void say(const LineSink& sink, std::string_view line) {
  if (sink) sink(line);
}

// The tables' "cannot invert" lines are counted per table, so that a
// constant variable of a million rows says so once, with the count, instead
// of once per row.
LineSink counting(int& count) {
  return [&count](std::string_view) { ++count; };
}

void sayCount(const LineSink& sink, int count, std::string_view kept) {
  if (count > 0) say(sink, degenerateTableLine(count, kept));
}

constexpr std::string_view kKeepRaw = "keep their raw values";

}  // namespace

std::string degenerateTableLine(int count, std::string_view kept) {
  std::string line(kDegenerateTableLine);
  line += ": ";
  line += std::to_string(count);
  line += count == 1 ? " observation" : " observations";
  line += " could not be inverted and ";
  line += kept;
  return line;
}

void sumTransforms(int n, int p, const double* tx, double* sumTx) {
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int j = 0; j < p; ++j) s += tx[at(i, j, n)];
    sumTx[i] = s;
  }
}

void equilibrate(const RunArrays& run, double* tableRaw, double* tableTransformed, double* eqTarget,
                 double* xEq, double* yEq, const LineSink& sink) {
  const int n = run.n;
  const int p = run.p;
  // A value that cannot be moved (a constant variable has a one-entry
  // table) is its own corrected value.
  std::copy(run.x, run.x + at(0, p, n), xEq);
  std::copy(run.y, run.y + n, yEq);
  for (int i = 0; i < n; ++i) {
    double target = 0.5 * run.ty[i];
    for (int j = 0; j < p; ++j) target += 0.5 * run.tx[at(i, j, n)];
    eqTarget[i] = target;
  }
  InvTable table{tableRaw, tableTransformed, 0};
  for (int j = 0; j < p; ++j) {
    const double* txj = run.tx + at(0, j, n);
    const int k = buildInvTable(n, run.m + at(0, j, n), run.x + at(0, j, n), txj, table);
    double* xEqj = xEq + at(0, j, n);
    const bool monotone = isMonotoneTable(k, table.transformed);
    int failed = 0;
    const LineSink counter = counting(failed);
    for (int i = 0; i < n; ++i) {
      const double t = txj[i] + (run.ty[i] - eqTarget[i]) / p;
      interpolateTable(k, table.raw, table.transformed, t, xEqj[i], counter, monotone);
    }
    sayCount(sink, failed, kKeepRaw);
  }
  const int k = buildInvTable(n, run.m + at(0, p, n), run.y, run.ty, table);
  const bool monotone = isMonotoneTable(k, table.transformed);
  int failed = 0;
  const LineSink counter = counting(failed);
  for (int i = 0; i < n; ++i)
    interpolateTable(k, table.raw, table.transformed, eqTarget[i], yEq[i], counter, monotone);
  sayCount(sink, failed, kKeepRaw);
}

PredictionStats predictResponse(const RunArrays& run, const double* sumTx, double* tableRaw,
                                double* tableTransformed, double* yPred, const LineSink& sink) {
  const int n = run.n;
  std::fill(yPred, yPred + n, 0.0);
  InvTable table{tableRaw, tableTransformed, 0};
  const int k = buildInvTable(n, run.m + at(0, run.p, n), run.y, run.ty, table);
  const bool monotone = isMonotoneTable(k, table.transformed);
  double sum = 0.0;
  double sumAbs = 0.0;
  double sumSq = 0.0;
  int failed = 0;
  const LineSink counter = counting(failed);
  for (int i = 0; i < n; ++i) {
    interpolateTable(k, table.raw, table.transformed, sumTx[i], yPred[i], counter, monotone);
    const double d = run.y[i] - yPred[i];
    sum += d;
    sumAbs += std::fabs(d);
    sumSq += d * d;
  }
  sayCount(sink, failed, "hold 0.0");
  PredictionStats stats;
  const double count = static_cast<double>(n);
  stats.Avedev = sumAbs / count;
  stats.Stdev = std::sqrt(sumSq / count);
  stats.Bias = sum / count;
  return stats;
}

ExpStats backTransformedStats(int n, const double* y, const double* yPred, double* expPred) {
  for (int i = 0; i < n; ++i) expPred[i] = std::exp(yPred[i]);
  double sd = 0.0, sdAbs = 0.0, sdSq = 0.0;
  double sr = 0.0, srAbs = 0.0, srSq = 0.0;
  for (int i = 0; i < n; ++i) {
    const double e = std::exp(y[i]);
    const double d = e - expPred[i];
    const double r = d / e;
    sd += d;
    sdAbs += std::fabs(d);
    sdSq += d * d;
    sr += r;
    srAbs += std::fabs(r);
    srSq += r * r;
  }
  ExpStats s;
  const double count = static_cast<double>(n);
  s.Exp_Avedev = sdAbs / count;
  s.Exp_Stdev = std::sqrt(sdSq / count);
  s.Exp_Bias = sd / count;
  s.Exp_AvedevPercent = 100.0 * srAbs / count;
  s.Exp_StdevPercent = 100.0 * std::sqrt(srSq / count);
  s.Exp_BiasPercent = 100.0 * sr / count;
  return s;
}

bool isLogVariableName(std::string_view name) { return name.substr(0, 4) == "_ln_"; }

}  // namespace tavel::run
