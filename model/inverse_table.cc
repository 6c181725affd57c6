// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/inverse_table.h"

#include <algorithm>
#include <cmath>

namespace tavel::model {
namespace {

void say(const LineSink& sink, std::string_view line) {
  if (sink) sink(line);
}

}  // namespace

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

}  // namespace tavel::model
