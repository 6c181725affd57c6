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

// Collects the degenerate-table messages of one table's inversions, so that
// a constant variable of a million rows says so once, with the count,
// instead of once per row.
class TableMessages {
 public:
  TableMessages(const LineSink& sink, std::string_view kept) : sink_(sink), kept_(kept) {}
  TableMessages(const TableMessages&) = delete;
  TableMessages& operator=(const TableMessages&) = delete;
  ~TableMessages() {
    if (count_ > 0) say(sink_, degenerateTableLine(count_, kept_));
  }
  const LineSink& counter() { return counter_; }

 private:
  const LineSink& sink_;
  std::string_view kept_;
  int count_ = 0;
  LineSink counter_ = [this](std::string_view) { ++count_; };
};

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

int buildInvTable(int n, const int* order, const double* raw, const double* transformed,
                  InvTable& table) {
  int k = 0;
  double prev = kTableStartValue;
  for (int r = 0; r < n; ++r) {
    const int i = order[r];
    if (i < 1 || i > n) continue;
    const double v = raw[i - 1];
    if (v != prev) {
      table.raw[k] = v;
      table.transformed[k] = transformed[i - 1];
      ++k;
      prev = v;
    }
  }
  table.size = k;
  return k;
}

bool isMonotoneTable(int n, const double* b) {
  bool up = true;
  bool down = true;
  for (int i = 1; i < n; ++i) {
    if (b[i] < b[i - 1]) up = false;
    if (b[i] > b[i - 1]) down = false;
    if (b[i] != b[i]) return false;  // a NaN belongs to no order
  }
  return up || down;
}

namespace {

// The interval the outward search from j0 reaches first, for a monotone
// table. The intervals k in 1..n-1 holding t are the run kLo..kHi; the search
// tests j0-1-r before j0+r for r = 0, 1, ..., so it stops at the run's upper
// end when the run lies below j0, at its lower end when it lies from j0 up,
// and at j0-1 when the run covers both j0-1 and j0. Returns 0 when no
// interval holds t.
int monotoneInterval(int n, const double* b, bool asc, double t, int j0) {
  // 0-based views: B(k) is b[k-1]. "at or before t in the table's direction".
  auto before = [&](double v) { return asc ? v <= t : v >= t; };
  auto after = [&](double v) { return asc ? v >= t : v <= t; };
  // P: the last k with before(B(k)); Q: the first k with after(B(k)).
  const double* pEnd = std::partition_point(b, b + n, before);
  const int P = static_cast<int>(pEnd - b);
  const double* qBegin = std::partition_point(b, b + n, [&](double v) { return !after(v); });
  const int Q = static_cast<int>(qBegin - b) + 1;
  const int kLo = std::max(1, Q - 1);
  const int kHi = std::min(n - 1, P);
  if (P < 1 || Q > n || kLo > kHi) return 0;
  if (kHi <= j0 - 1) return kHi;
  if (kLo >= j0) return kLo;
  return j0 - 1 > 0 ? j0 - 1 : j0;
}

}  // namespace

void interpolateTable(int n, const double* a, const double* b, double t, double& result,
                      const LineSink& sink, bool monotone) {
  // The description is 1-based: A(k) is a[k-1], B(k) is b[k-1].
  auto A = [a](int k) { return a[k - 1]; };
  auto B = [b](int k) { return b[k - 1]; };
  if (n < 2) {
    say(sink, kDegenerateTableLine);
    return;
  }
  const bool asc = B(n) > B(1);
  int k = 0;
  if (asc && t <= B(1)) {
    k = 1;
  } else if (!asc && t >= B(1)) {
    k = 1;
  } else if (asc && t >= B(n - 1)) {
    k = n - 1;
  } else if (!asc && t <= B(n - 1)) {
    k = n - 1;
  }
  if (k == 0) {
    if (A(n) == A(1) || B(n) == B(1)) {
      say(sink, kDegenerateTableLine);
      return;
    }
    // Starting guess; n, not n - 1, is the factor. Clamped as a double so a
    // far-off guess (a table that is not monotone, or t not a number) stays
    // a valid index.
    double guess = std::round(std::fabs(n * (t - B(1)) / (B(n) - B(1))));
    if (!(guess >= 1.0)) guess = 1.0;
    if (guess > n - 1) guess = n - 1;
    const int j0 = static_cast<int>(guess);
    if (monotone) {
      if (t != t) return;  // no interval holds a NaN
      k = monotoneInterval(n, b, asc, t, j0);
      if (k == 0) return;
    }
    auto holds = [&](int kk) {
      return asc ? (B(kk) <= t && t <= B(kk + 1)) : (B(kk) >= t && t >= B(kk + 1));
    };
    for (int r = 0; r < n && k == 0 && !monotone; ++r) {
      const int d = j0 - 1 - r;
      if (d > 0 && holds(d)) {
        k = d;
        break;
      }
      const int u = j0 + r;
      if (u < n && holds(u)) k = u;
    }
    if (k == 0) return;
  }
  if (B(k + 1) == B(k)) {
    result = A(k);
  } else {
    result = A(k) + (t - B(k)) * (A(k + 1) - A(k)) / (B(k + 1) - B(k));
  }
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
    TableMessages messages(sink, kKeepRaw);
    for (int i = 0; i < n; ++i) {
      const double t = txj[i] + (run.ty[i] - eqTarget[i]) / p;
      interpolateTable(k, table.raw, table.transformed, t, xEqj[i], messages.counter(), monotone);
    }
  }
  const int k = buildInvTable(n, run.m + at(0, p, n), run.y, run.ty, table);
  const bool monotone = isMonotoneTable(k, table.transformed);
  TableMessages messages(sink, kKeepRaw);
  for (int i = 0; i < n; ++i) {
    interpolateTable(k, table.raw, table.transformed, eqTarget[i], yEq[i], messages.counter(),
                     monotone);
  }
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
  {
    TableMessages messages(sink, "hold 0.0");
    for (int i = 0; i < n; ++i) {
      interpolateTable(k, table.raw, table.transformed, sumTx[i], yPred[i], messages.counter(),
                       monotone);
      const double d = run.y[i] - yPred[i];
      sum += d;
      sumAbs += std::fabs(d);
      sumSq += d * d;
    }
  }
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
