// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/model.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <thread>

namespace tavel::model {
namespace {

using detail::at;

// Straight line through (v0, t0) and (v1, t1) at v, with v0 < v1.
double between(double v0, double t0, double v1, double t1, double v) {
  return t0 + (v - v0) * (t1 - t0) / (v1 - v0);
}

void raise(RowStatus& status, RowStatus to) {
  if (static_cast<int>(to) > static_cast<int>(status)) status = to;
}

// Where score t lies against the fitted range of the response table's
// transforms: -1 beyond the end of its smallest value, 1 beyond that of its
// largest, 0 within. A table whose end transforms are equal has no
// direction: its inversion is refused by interpolateTable.
int beyondFittedRange(const Variable& r, double t) {
  if (r.values.size() < 2 || r.transforms.size() != r.values.size()) return 0;
  const double first = r.transforms.front();
  const double last = r.transforms.back();
  if (!(first != last)) return 0;
  const bool asc = last > first;
  if (asc ? t < first : t > first) return -1;
  if (asc ? t > last : t < last) return 1;
  return 0;
}

// The engine smooths a circular variable with period 1 only when all its
// values lie in [0, 1]; otherwise it treats it as an ordinary one.
bool isPeriodic(const Variable& v) {
  return v.flag == VarFlag::Circular && !v.values.empty() && v.values.front() >= 0.0 &&
         v.values.back() <= 1.0;
}

// Finds lower_bound positions in a sorted table in near-constant time for
// values spread like the table's: the position is first guessed from where
// the value lies between the table's ends, then bracketed by steps that
// double outwards from the guess, and the bracket searched. The bracket
// always holds the lower_bound, so the position is the one a search of the
// whole table finds; a good guess costs one or two cache misses instead of
// twenty on a table of a million entries, a bad one at most twice a search.
class Locator {
 public:
  // indexed = false: plain binary search, for a single look-up.
  Locator(const std::vector<double>& values, bool indexed) : vs_(values) {
    const std::size_t n = vs_.size();
    if (!indexed || n < 2 || !(vs_.back() > vs_.front())) return;
    lo_ = vs_.front();
    scale_ = static_cast<double>(n - 1) / (vs_.back() - lo_);
    guessing_ = std::isfinite(scale_);
  }

  std::size_t lowerBound(double v) const {
    const auto first = vs_.begin();
    if (!guessing_ || !(v > lo_) || !(v <= vs_.back()))
      return static_cast<std::size_t>(std::lower_bound(first, vs_.end(), v) - first);
    const std::size_t n = vs_.size();
    const double r = (v - lo_) * scale_;
    std::size_t g = r >= static_cast<double>(n - 1) ? n - 1 : static_cast<std::size_t>(r);
    // Invariant: the lower_bound lies in [lo, hi].
    std::size_t lo = 0, hi = n - 1;  // vs_.back() >= v, so n - 1 qualifies
    if (vs_[g] >= v) {
      hi = g;
      for (std::size_t step = 1; hi >= step; step *= 2) {
        if (vs_[hi - step] < v) {
          lo = hi - step + 1;
          break;
        }
        hi -= step;
      }
    } else {
      lo = g + 1;
      for (std::size_t step = 1; lo + step - 1 < n; step *= 2) {
        if (vs_[lo + step - 1] >= v) {
          hi = lo + step - 1;
          break;
        }
        lo += step;
      }
    }
    return static_cast<std::size_t>(std::lower_bound(first + lo, first + hi, v) - first);
  }

 private:
  const std::vector<double>& vs_;
  double lo_ = 0.0;
  double scale_ = 0.0;
  bool guessing_ = false;
};

double transformWith(const Variable& variable, const Locator& locator, double value,
                     RowStatus& status);

}  // namespace

void fillTable(int n, const int* order, const double* raw, const double* transformed,
               Variable& variable) {
  variable.values.clear();
  variable.transforms.clear();
  int r = 0;
  while (r < n) {
    const int i = order[r];
    if (i < 1 || i > n || std::isnan(raw[i - 1])) {
      ++r;
      continue;
    }
    const double v = raw[i - 1];
    double sum = 0.0;
    int count = 0;
    bool allEqual = true;
    const double first = transformed[i - 1];
    // The run of equal values that starts here.
    while (r < n) {
      const int k = order[r];
      if (k < 1 || k > n || !(raw[k - 1] == v)) break;
      sum += transformed[k - 1];
      allEqual = allEqual && transformed[k - 1] == first;
      ++count;
      ++r;
    }
    variable.values.push_back(v);
    // Equal transforms are kept as they are, so the table reproduces the
    // fit to the last bit; the mean of unequal ones is the best single value.
    variable.transforms.push_back(allEqual ? first : sum / count);
  }
}

Model buildModel(const FitArrays& fit, const std::vector<Variable>& descriptions) {
  Model model;
  model.observations = fit.n;
  for (int j = 0; j <= fit.p; ++j) {
    Variable v = descriptions[static_cast<std::size_t>(j)];
    const int* order = fit.m + at(0, j, fit.n);
    if (j < fit.p) {
      fillTable(fit.n, order, fit.x + at(0, j, fit.n), fit.tx + at(0, j, fit.n), v);
      model.predictors.push_back(std::move(v));
    } else {
      fillTable(fit.n, order, fit.y, fit.ty, v);
      model.response = std::move(v);
    }
  }
  return model;
}

std::string_view statusText(RowStatus status) {
  switch (status) {
    case RowStatus::Ok:
      return "ok";
    case RowStatus::OutOfRange:
      return "out of range";
    case RowStatus::Held:
      return "response held at the fitted range";
    case RowStatus::Unknown:
      break;
  }
  return "unknown category";
}

double transformValue(const Variable& variable, double value, RowStatus& status) {
  return transformWith(variable, Locator(variable.values, false), value, status);
}

namespace {

double transformWith(const Variable& variable, const Locator& locator, double value,
                     RowStatus& status) {
  const std::vector<double>& vs = variable.values;
  const std::vector<double>& ts = variable.transforms;
  const std::size_t n = vs.size();
  if (n == 0 || std::isnan(value)) {
    raise(status, RowStatus::Unknown);
    return 0.0;
  }
  const std::size_t k = locator.lowerBound(value);
  if (k < n && vs[k] == value) return ts[k];  // a fitted value: its own transform, exactly
  if (variable.flag == VarFlag::Unorderable) {
    raise(status, RowStatus::Unknown);
    return 0.0;
  }
  if (isPeriodic(variable) && std::isfinite(value)) {
    double w = value - std::floor(value);  // in [0, 1)
    if (w < vs.front()) w += 1.0;          // now in [first, first + 1)
    const std::size_t j = locator.lowerBound(w);
    if (j < n && vs[j] == w) return ts[j];
    if (j > 0 && j < n) return between(vs[j - 1], ts[j - 1], vs[j], ts[j], w);
    // Between the last value and the first one a period later.
    if (n == 1) return ts[0];
    return between(vs[n - 1], ts[n - 1], vs[0] + 1.0, ts[0], w);
  }
  if (k == 0 || k == n) {
    raise(status, RowStatus::OutOfRange);
    return k == 0 ? ts.front() : ts.back();
  }
  return between(vs[k - 1], ts[k - 1], vs[k], ts[k], value);
}

}  // namespace

namespace {

// Rows begin..end-1 of a prediction; told receives the first message of the
// response's inversion.
void predictRange(const Model& model, const std::vector<Locator>& locators, int n, const double* x,
                  Predictions& out, int begin, int end, std::string& told) {
  const int p = static_cast<int>(model.predictors.size());
  for (int j = 0; j < p; ++j) {
    const Variable& v = model.predictors[static_cast<std::size_t>(j)];
    const double* xj = x + at(0, j, n);
    double* txj = out.tx.data() + at(0, j, n);
    for (int i = begin; i < end; ++i)
      txj[i] = transformWith(v, locators[static_cast<std::size_t>(j)], xj[i], out.status[i]);
  }
  // The score is summed over the predictors in their order from 0.0, as the
  // Run sums its transforms, so the fitted rows give the Run's own sums.
  for (int i = begin; i < end; ++i) {
    if (out.status[i] == RowStatus::Unknown) continue;
    double s = 0.0;
    for (int j = 0; j < p; ++j) s += out.tx[at(i, j, n)];
    out.score[i] = s;
  }
  if (!out.predictsResponse) return;
  const Variable& r = model.response;
  const int k = static_cast<int>(r.values.size());
  const bool monotone = isMonotoneTable(k, r.transforms.data());
  const LineSink once = [&told](std::string_view line) {
    if (told.empty()) told = std::string(line);
  };
  const bool hold = model.extrapolate == Extrapolation::Hold;
  for (int i = begin; i < end; ++i) {
    if (out.status[i] == RowStatus::Unknown) continue;
    double y = 0.0;
    const int side = beyondFittedRange(r, out.score[i]);
    if (hold && side != 0) {
      y = side < 0 ? r.values.front() : r.values.back();
      raise(out.status[i], RowStatus::Held);
    } else {
      interpolateTable(k, r.values.data(), r.transforms.data(), out.score[i], y, once, monotone);
      const double response = r.isLog ? std::exp(y) : y;
      if (!std::isfinite(response) && k >= 2) {
        y = y > r.values.back() ? r.values.back() : r.values.front();
        raise(out.status[i], RowStatus::Held);
      }
    }
    out.response[i] = r.isLog ? std::exp(y) : y;
  }
}

// Below this many rows a second thread costs more than it saves.
constexpr int kParallelRows = 50000;

}  // namespace

void predictRows(const Model& model, int n, const double* x, Predictions& out,
                 const LineSink& sink) {
  const int p = static_cast<int>(model.predictors.size());
  out.tx.assign(static_cast<std::size_t>(n) * p, 0.0);
  out.score.assign(n, 0.0);
  out.status.assign(n, RowStatus::Ok);
  out.predictsResponse = predictsResponse(model);
  out.response.assign(out.predictsResponse ? n : 0, 0.0);
  std::vector<Locator> locators;
  locators.reserve(static_cast<std::size_t>(p));
  for (const Variable& v : model.predictors) locators.emplace_back(v.values, true);
  // Rows are independent: two halves on two threads, the same numbers.
  std::string toldA, toldB;
  if (n >= kParallelRows) {
    const int half = n / 2;
    std::thread second([&] { predictRange(model, locators, n, x, out, half, n, toldB); });
    predictRange(model, locators, n, x, out, 0, half, toldA);
    second.join();
  } else {
    predictRange(model, locators, n, x, out, 0, n, toldA);
  }
  // A degenerate response table would say so for every row: once is enough.
  const std::string& told = toldA.empty() ? toldB : toldA;
  if (!told.empty() && sink) sink(told);
  out.ok = out.outOfRange = out.held = out.unknown = 0;
  for (RowStatus s : out.status) {
    if (s == RowStatus::Ok) ++out.ok;
    if (s == RowStatus::OutOfRange) ++out.outOfRange;
    if (s == RowStatus::Held) ++out.held;
    if (s == RowStatus::Unknown) ++out.unknown;
  }
}

}  // namespace tavel::model
