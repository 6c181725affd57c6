// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/inverse_stats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>

#include "model/parallel_for.h"

namespace tavel::run {
namespace {

inline std::size_t at(int i, int j, int n) {
  return static_cast<std::size_t>(j) * static_cast<std::size_t>(n) + static_cast<std::size_t>(i);
}

// The parts of a long prediction, and the rows below which it is one.
constexpr int kParts = 4;
constexpr int kRowsPerPart = 1 << 16;

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
  // Each row is looked up on its own: long runs are cut into parts predicted
  // side by side, each counting its own failures.
  const int parts = n >= kRowsPerPart ? kParts : 1;
  int failedIn[kParts] = {};
  model::parallelFor(parts, 0, [&](int part) {
    const LineSink counter = counting(failedIn[part]);
    const int last = static_cast<int>(static_cast<long long>(n) * (part + 1) / parts);
    for (int i = static_cast<int>(static_cast<long long>(n) * part / parts); i < last; ++i)
      interpolateTable(k, table.raw, table.transformed, sumTx[i], yPred[i], counter, monotone);
  });
  int failed = 0;
  for (int part = 0; part < parts; ++part) failed += failedIn[part];
  sayCount(sink, failed, "hold 0.0");
  return errorStats(n, run.y, yPred);
}

PredictionStats errorStats(int n, const double* y, const double* yPred) {
  double sum = 0.0;
  double sumAbs = 0.0;
  double sumSq = 0.0;
  for (int i = 0; i < n; ++i) {
    const double d = y[i] - yPred[i];
    sum += d;
    sumAbs += std::fabs(d);
    sumSq += d * d;
  }
  PredictionStats stats;
  const double count = static_cast<double>(n);
  stats.Avedev = sumAbs / count;
  stats.Stdev = std::sqrt(sumSq / count);
  stats.Bias = sum / count;
  return stats;
}

namespace {

bool squareIsFinite(double v) { return std::isfinite(v * v); }

// Whether prediction p of measured y (both scaled by 2^e) gives every
// statistic of its row a finite term.
bool representable(double y, double p, int e, bool logResponse) {
  if (!std::isfinite(std::ldexp(p, -e)) || !squareIsFinite(y - p)) return false;
  if (!logResponse) return true;
  const double measured = std::exp(std::ldexp(y, -e));
  const double d = measured - std::exp(std::ldexp(p, -e));
  return squareIsFinite(d) && squareIsFinite(d / measured);
}

// Four significant digits, as the range is read, not as it is stored.
std::string shown(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 4);
  return std::string(buf, r.ptr);
}

}  // namespace

OutsideRange holdUnrepresentable(int n, const double* y, double* yPred, int yExponent,
                                 bool logResponse) {
  OutsideRange range;
  if (n < 1) return range;
  const auto [lo, hi] = std::minmax_element(y, y + n);
  const double margin = kOutsideMargin * (*hi - *lo);
  double farthest = 0.0;
  double distance = -1.0;
  for (int i = 0; i < n; ++i) {
    const double p = yPred[i];
    if (p >= *lo && p <= *hi) continue;
    // A NaN is farther than any number.
    const double beyond = p > *hi ? p - *hi : *lo - p;
    const bool held = !representable(y[i], p, yExponent, logResponse);
    if (held) {
      yPred[i] = p > *hi ? *hi : *lo;
      ++range.held;
    }
    if (!held && beyond <= margin) continue;
    ++range.count;
    if (!(beyond <= distance)) {
      distance = beyond;
      farthest = p;
      range.farthestRow = i + 1;
    }
  }
  range.lo = std::ldexp(*lo, -yExponent);
  range.hi = std::ldexp(*hi, -yExponent);
  range.farthest = std::ldexp(farthest, -yExponent);
  return range;
}

std::string outsideRangeLine(const OutsideRange& range, std::string_view name) {
  if (range.count == 0) return {};
  const bool one = range.count == 1;
  std::string line =
      " " + std::to_string(range.count) + (one ? " prediction of " : " predictions of ");
  line += name;
  line += one ? " lies" : " lie";
  line += " outside its observed range " + shown(range.lo) + " .. " + shown(range.hi) +
          " by more than a tenth of it (";
  if (!one) line += "the farthest ";
  line += std::isfinite(range.farthest) ? shown(range.farthest) : "beyond the range of numbers";
  line += ", row " + std::to_string(range.farthestRow) +
          "): the inverse transformation was extended past its ends";
  if (range.held > 0) {
    line += "; " + std::to_string(range.held) +
            (range.held == 1 ? " that could not be represented was"
                             : " that could not be represented were") +
            " held at the nearer end";
  }
  return line;
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
