// SPDX-License-Identifier: GPL-3.0-or-later
#include "ace/smoothers.h"

#include "ace/engine_paths.h"
#include "ace/helper_thread.h"
#include "ace/monotone.h"
#include "ace/supersmoother.h"
#include "ace/supersmoother_passes.h"
#include "ace/view.h"

namespace tavel::ace {

namespace {

// Last index of the run of equal abscissae starting at j (sorted ascending).
int group_end(Vec1<const double> x, int j, int n) {
  int k = j;
  while (k < n && x(k + 1) <= x(k)) ++k;
  return k;
}

void straight_line(int n, Vec1<const double> x, Vec1<const double> y, Vec1<const double> w,
                   Vec1<double> result) {
  double sxy = 0.0;
  double sxx = 0.0;
  double sx = 0.0;
  double sw = 0.0;
  for (int j = 1; j <= n; ++j) {
    sxy += w(j) * x(j) * y(j);
    sxx += w(j) * (x(j) * x(j));
    sx += w(j) * x(j);
    sw += w(j);
  }
  // All abscissae equal (or no weight): there is no slope to fit, and the
  // ordinates the engine hands over have mean 0, so the line is 0.
  const double den = sw > 0.0 ? sxx - sx * sx / sw : 0.0;
  if (!(x(n) > x(1)) || den == 0.0) {
    for (int j = 1; j <= n; ++j) result(j) = 0.0;
    return;
  }
  const double b = sxy / den;
  const double c = sx / sw;
  for (int j = 1; j <= n; ++j) result(j) = b * (x(j) - c);
}

void group_means(int n, Vec1<const double> x, Vec1<const double> y, Vec1<const double> w,
                 Vec1<double> result) {
  int j = 1;
  while (j <= n) {
    const int k = group_end(x, j, n);
    double sw = 0.0;
    double swy = 0.0;
    for (int t = j; t <= k; ++t) {
      sw += w(t);
      swy += w(t) * y(t);
    }
    // A group without weight has no mean; 0 keeps the sums of the caller finite.
    const double mean = sw > 0.0 ? swy / sw : 0.0;
    for (int t = j; t <= k; ++t) result(t) = mean;
    j = k + 1;
  }
}

}  // namespace

namespace {

void monotone_step_on(Paths paths, int n, int ld, const double* abscissa, double* result_data,
                      double* scratch_data) {
  Vec1<const double> x(abscissa);
  Vec1<double> result(result_data);
  Mat1<double> sc(scratch_data, ld);
  Vec1<double> up = sc.column(1);
  Vec1<double> down = sc.column(2);
  for (int j = 1; j <= n; ++j) {
    up(j) = result(j);
    down(n + 1 - j) = result(j);
  }
  if (paths == Paths::kFast) {
    monotone_fit_pooled(up.data(), n, sc.col(3), sc.col(4));
    monotone_fit_pooled(down.data(), n, sc.col(3), sc.col(4));
  } else {
    monotone_fit(up.data(), n);
    monotone_fit(down.data(), n);
  }
  double pp = 0.0;
  double qq = 0.0;
  for (int j = 1; j <= n; ++j) {
    const double dp = result(j) - up(j);
    const double dq = result(j) - down(n + 1 - j);
    pp += dp * dp;
    qq += dq * dq;
  }
  if (pp < qq) {
    for (int j = 1; j <= n; ++j) result(j) = up(j);
  } else {
    for (int j = 1; j <= n; ++j) result(j) = down(n + 1 - j);
  }

  // Flat stretches become ramps between the half-gaps to their neighbours.
  int i = 1;
  while (i <= n) {
    int k = i;
    while (k < n && result(k + 1) == result(i)) ++k;
    if (k > i) {
      double a = i > 1 ? 0.5 * (result(i) - result(i - 1)) : 0.0;
      const double b = k < n ? 0.5 * (result(k + 1) - result(k)) : 0.0;
      double d = (a + b) / (k - i);
      if (a == 0.0 || b == 0.0) {
        d = 2.0 * d;
        if (a == 0.0) a = b;
      }
      for (int t = 0; t <= k - i; ++t) result(i + t) = result(i + t) - a + d * t;
    }
    i = k + 1;
  }

  int j = 1;
  while (j <= n) {
    const int k = group_end(x, j, n);
    if (k > j) {
      double s = 0.0;
      for (int t = j; t <= k; ++t) s += result(t);
      const double mean = s / (k - j + 1);
      for (int t = j; t <= k; ++t) result(t) = mean;
    }
    j = k + 1;
  }
}

}  // namespace

void monotone_step(int n, int ld, const double* abscissa, double* result, double* scratch) {
  monotone_step_on(Paths::kFast, n, ld, abscissa, result, scratch);
}

void smooth_variable(int code, int n, int ld, const double* abscissa, const double* ordinate,
                     const double* weights, double* result, double* scratch,
                     const AceSettings& settings) {
  if (n >= kPipelineMinPoints) {
    HelperThread helper;
    smooth_variable_on(Paths::kFast, code, n, ld, abscissa, ordinate, weights, result, scratch,
                       settings, &helper);
  } else {
    smooth_variable_on(Paths::kFast, code, n, ld, abscissa, ordinate, weights, result, scratch,
                       settings, nullptr);
  }
}

void smooth_variable_on(Paths paths, int code, int n, int ld, const double* abscissa,
                        const double* ordinate, const double* weights, double* result,
                        double* scratch, const AceSettings& settings, HelperThread* helper,
                        double* spare, const TieMarks* groups) {
  Vec1<const double> x(abscissa);
  Vec1<const double> y(ordinate);
  Vec1<const double> w(weights);
  Vec1<double> r(result);
  switch (code) {
    case 1:
    case 2:
    case 3:
      if (paths == Paths::kFast) {
        supersmoother_in_lanes(n, ld, abscissa, ordinate, weights, code, settings.fixed_span,
                               settings.bass, result, scratch, settings, helper, spare, groups);
      } else {
        plain::supersmoother(n, ld, abscissa, ordinate, weights, code, settings.fixed_span,
                             settings.bass, result, scratch, settings);
      }
      if (code == 3) monotone_step_on(paths, n, ld, abscissa, result, scratch);
      break;
    case 4:
      straight_line(n, x, y, w, r);
      break;
    default:
      group_means(n, x, y, w, r);
      break;
  }
}

}  // namespace tavel::ace
