#include "ace/ace.h"

#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ace/engine_paths.h"
#include "ace/helper_thread.h"
#include "ace/helpers.h"
#include "ace/smoothers.h"
#include "ace/view.h"

namespace tavel::ace {

namespace {

// Appends an integer right-justified in `width` columns (wider when it does
// not fit, so no digit is ever lost).
void append_int(std::string& line, int value, int width) {
  char buf[16];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  const int len = static_cast<int>(res.ptr - buf);
  if (len < width) line.append(static_cast<std::size_t>(width - len), ' ');
  line.append(buf, res.ptr);
}

void append_fixed(std::string& line, double value, int width, int decimals) {
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  const int len = static_cast<int>(res.ptr - buf);
  if (len < width) line.append(static_cast<std::size_t>(width - len), ' ');
  line.append(buf, res.ptr);
}

void emit(const LineSink& sink, const std::string& line) {
  if (sink) sink(line);
}

// The passes read and write through the sort orders, so their accesses jump
// around arrays far larger than the caches; the point kAhead steps on is
// requested early.
constexpr int kAhead = 24;

// Work columns of scale_predictors, each of p coefficients.
constexpr int kScaleColumns = 5;

// Below this many rows a second thread costs more than it saves.
constexpr int kTwoThreadsMinRows = 16384;

// Sorts y (into column p+1 of m) and every used predictor (column i), each
// carrying the observation numbers 1..n. The sorts are independent, so two
// threads share them, each with its own value column of z (2 and 3).
void sort_orders(HelperThread* helper, int n, int p, int ld, const int* l_data,
                 const double* x_data, int* m_data, double* z_data) {
  Vec1<const int> l(l_data);
  Mat1<const double> x(x_data, ld);
  Mat1<int> m(m_data, ld);
  Mat1<double> z(z_data, ld);
  // Column p+1 of m is already 1..n and column 2 of z already holds y; the
  // response comes first and always sorts in column 2.
  auto sort_column = [&](int i, int buffer) {
    if (i <= p) {
      for (int j = 1; j <= n; ++j) {
        m(j, i) = j;
        z(j, buffer) = x(j, i);
      }
    }
    sort_with_index(z.col(buffer), m.col(i), 1, n);
  };
  int count = 0;
  auto for_each_column = [&](auto&& f) {
    f(p + 1);
    for (int i = 1; i <= p; ++i) {
      if (l(i) != 0) f(i);
    }
  };
  for_each_column([&](int) { ++count; });
  if (helper != nullptr && count > 1) {
    // The response goes first on this thread, because column 2 holds it.
    auto helper_part = [&] {
      int k = 0;
      for_each_column([&](int i) {
        if (k++ % 2 == 1) sort_column(i, 3);
      });
    };
    helper->start(helper_part);
    int k = 0;
    for_each_column([&](int i) {
      if (k++ % 2 == 0) sort_column(i, 2);
    });
    helper->wait();
    return;
  }
  for_each_column([&](int i) { sort_column(i, 2); });
}

}  // namespace

std::string ace_iteration_line(int pass, double rsq) {
  std::string line = " iteration";
  append_int(line, pass, 2);
  line += "  r**2 = 1 - e**2 =";
  append_fixed(line, rsq, 12, 7);
  return line;
}

void ace_estimate(int n, int p, const double* x, const double* y, const double* w, const int* l,
                  double DelRsq, double* tx, double* ty, double& rsq, int& ierr, int* m, double* z,
                  int ld, const AceSettings& settings, int& NumTerm, RsqHistory& rsq_history,
                  const LineSink& sink) {
  ace_estimate_on(Paths::kFast, n, p, x, y, w, l, DelRsq, tx, ty, rsq, ierr, m, z, ld, settings,
                  NumTerm, rsq_history, sink);
}

void ace_estimate_on(Paths paths, int n, int p, const double* x_data, const double* y_data,
                     const double* w_data, const int* l_data, double DelRsq, double* tx_data,
                     double* ty_data, double& rsq, int& ierr, int* m_data, double* z_data, int ld,
                     const AceSettings& settings, int& NumTerm, RsqHistory& rsq_history,
                     const LineSink& sink, EngineCounts* counts) {
  EngineCounts unused;
  EngineCounts& count = counts != nullptr ? *counts : unused;
  count = EngineCounts{};
  ierr = 0;
  // The smoothers' first windows and quartile scale need five points; with
  // fewer they would read outside their arrays, so nothing is touched.
  if (n < kMinObservations) {
    ierr = kTooFewObservations;
    std::string line = " ierr = 7: n must be .ge. 5 (fewer than 5 observations).";
    emit(sink, line);
    return;
  }

  assert(ld >= n && "the arrays must hold every observation");
  assert(p >= 0 && "the response code sits at l(p+1)");
  Mat1<const double> x(x_data, ld);
  Vec1<const double> y(y_data);
  Vec1<const double> w(w_data);
  Vec1<const int> l(l_data);
  Mat1<double> tx(tx_data, ld);
  Vec1<double> ty(ty_data);
  Mat1<int> m(m_data, ld);
  Mat1<double> z(z_data, ld);

  // Validation: every failing check writes its line; the last one sets ierr.
  for (int i = 1; i <= p + 1; ++i) {
    if (l(i) < -5 || l(i) > 5) {
      ierr = 6;
      std::string line = " ierr = 6: l(";
      append_int(line, i, 2);
      line += ") must be .ge. -5 and .le. 5.";
      emit(sink, line);
    }
  }
  if (l(p + 1) == 0) {
    ierr = 4;
    std::string line = " ierr = 4: l(";
    append_int(line, p + 1, 2);
    line += ") must be nonzero.";
    emit(sink, line);
  }
  int np = 0;
  for (int i = 1; i <= p; ++i) {
    if (l(i) != 0) ++np;
  }
  if (np < 1) {
    ierr = 5;
    std::string line = " ierr = 5: at least one l(1) - l(";
    append_int(line, p, 2);
    line += ") must be positive.";
    emit(sink, line);
  }
  double sw = 0.0;
  const bool copy_y = l(p + 1) > 0;
  for (int j = 1; j <= n; ++j) {
    sw += w(j);
    if (copy_y) ty(j) = y(j);
  }
  if (sw <= 0.0) {
    ierr = 1;
    emit(sink, " ierr = 1: sum of weights not positive.");
  }
  if (ierr != 0) return;

  // Starting transformations, centred.
  for (int i = 1; i <= p; ++i) {
    if (l(i) == 0) {
      for (int j = 1; j <= n; ++j) tx(j, i) = 0.0;
      continue;
    }
    if (l(i) > 0) {
      for (int j = 1; j <= n; ++j) tx(j, i) = x(j, i);
    }
    double s = 0.0;
    for (int j = 1; j <= n; ++j) s += w(j) * tx(j, i);
    s = s / sw;
    for (int j = 1; j <= n; ++j) tx(j, i) -= s;
  }

  const int resp = p + 1;
  for (int j = 1; j <= n; ++j) {
    m(j, resp) = j;
    z(j, 2) = y(j);
  }
  {
    double s = 0.0;
    for (int j = 1; j <= n; ++j) s += w(j) * ty(j);
    s = s / sw;
    for (int j = 1; j <= n; ++j) ty(j) -= s;
    double v = 0.0;
    for (int j = 1; j <= n; ++j) v += w(j) * (ty(j) * ty(j));
    v = v / sw;
    if (v <= 0.0) {
      if (l(resp) > 0) {
        ierr = 2;
        emit(sink, " ierr = 2: y has zero variance.");
      } else {
        ierr = 3;
        emit(sink, " ierr = 3: y has zero variance.");
      }
      return;
    }
    const double scale = 1.0 / std::sqrt(v);
    for (int j = 1; j <= n; ++j) ty(j) = ty(j) * scale;
  }

  // One helper thread for the whole call (sorting and smoothing), started
  // here so that the loops below start none.
  std::optional<HelperThread> helper_thread;
  if (paths == Paths::kFast && n >= kTwoThreadsMinRows) helper_thread.emplace();
  HelperThread* helper = helper_thread && helper_thread->started() ? &*helper_thread : nullptr;

  // Each variable is sorted once; every later pass goes through these orders.
  sort_orders(helper, n, p, ld, l_data, x_data, m_data, z_data);

  // The scaling needs five columns of p coefficients. Columns 6 to 12 of z
  // (7 ld doubles, free until the first smooth) hold them unless there are
  // far more predictors than rows; only then is a separate block taken.
  std::vector<double> coefficient_block;
  double* coefficients = z.col(6);
  if (static_cast<std::ptrdiff_t>(kScaleColumns) * p > static_cast<std::ptrdiff_t>(7) * ld) {
    coefficient_block.resize(static_cast<std::size_t>(kScaleColumns) * p);
    coefficients = coefficient_block.data();
  }
  scale_predictors(n, p, ld, w_data, sw, ty_data, tx_data, DelRsq, p, z.col(5), coefficients);

  rsq = 0.0;
  if (NumTerm > 10) NumTerm = 10;
  // The history position is taken modulo NumTerm: below 1 would divide by 0.
  if (NumTerm < 1) NumTerm = 1;
  const int num_term = NumTerm;
  int outer = 0;
  int position = 0;
  for (int t = 0; t < num_term; ++t) rsq_history[t] = 100.0;

  // With all weights the same (as the Run passes them) the gathered weights
  // are that one value: nothing to fetch.
  bool equal_weights = paths == Paths::kFast;
  for (int j = 2; j <= n && equal_weights; ++j) {
    equal_weights = std::bit_cast<std::uint64_t>(w(j)) == std::bit_cast<std::uint64_t>(w(1));
  }

  Vec1<double> z1 = z.column(1);
  Vec1<double> z2 = z.column(2);
  Vec1<double> z3 = z.column(3);
  Vec1<double> z4 = z.column(4);
  Vec1<double> z5 = z.column(5);

  for (;;) {
    ++outer;
    int inner = 0;
    double rsq0 = 0.0;
    do {
      ++inner;
      ++count.inner_passes;
      rsq0 = rsq;
      for (int j = 1; j <= n; ++j) {
        double s = 0.0;
        for (int i = 1; i <= p; ++i) {
          if (l(i) != 0) s += tx(j, i);
        }
        z5(j) = ty(j) - s;
      }
      for (int i = 1; i <= p; ++i) {
        if (l(i) == 0) continue;
        Vec1<const int> order = Vec1<const int>(m.col(i));
        Vec1<const double> xi(x.col(i));
        Vec1<double> txi = tx.column(i);
        for (int j = 1; j <= n; ++j) {
          if (j + kAhead <= n) {
            const int ka = order(j + kAhead);
            __builtin_prefetch(&z5(ka));
            __builtin_prefetch(&txi(ka));
            __builtin_prefetch(&xi(ka));
            if (!equal_weights) __builtin_prefetch(&w(ka));
          }
          const int k = order(j);
          z1(j) = z5(k) + txi(k);
          z2(j) = xi(k);
          z4(j) = equal_weights ? w(1) : w(k);
        }
        const int code = l(i) < 0 ? -l(i) : l(i);
        ++count.predictor_smooths;
        smooth_variable_on(paths, code, n, ld, z2.data(), z1.data(), z4.data(), z3.data(), z.col(6),
                           settings, helper);
        double s = 0.0;
        for (int j = 1; j <= n; ++j) s += z3(j) * z4(j);
        s = s / sw;
        for (int j = 1; j <= n; ++j) z3(j) -= s;
        double e = 0.0;
        for (int j = 1; j <= n; ++j) {
          const double d = z1(j) - z3(j);
          e += z4(j) * (d * d);
        }
        const double candidate = 1.0 - e / sw;
        if (candidate > rsq) {
          rsq = candidate;
          for (int j = 1; j <= n; ++j) {
            if (j + kAhead <= n) {
              const int ka = order(j + kAhead);
              __builtin_prefetch(&txi(ka), 1);
              __builtin_prefetch(&z5(ka), 1);
            }
            const int k = order(j);
            txi(k) = z3(j);
            z5(k) = z1(j) - z3(j);
          }
        }
      }
    } while (np != 1 && inner < settings.max_iterations && rsq - rsq0 > DelRsq);

    // Response step: smooth the sum of the predictor transformations against
    // y. The sums are formed in observation order first (column 6 is free
    // until the smoother runs), so the gather reads one scattered value
    // instead of one per predictor.
    Vec1<const int> order(m.col(resp));
    Vec1<double> z6 = z.column(6);
    if (paths == Paths::kFast) {
      for (int j = 1; j <= n; ++j) {
        double s = 0.0;
        for (int i = 1; i <= p; ++i) {
          if (l(i) != 0) s += tx(j, i);
        }
        z6(j) = s;
      }
      for (int j = 1; j <= n; ++j) {
        if (j + kAhead <= n) {
          const int ka = order(j + kAhead);
          __builtin_prefetch(&y(ka));
          __builtin_prefetch(&z6(ka));
          if (!equal_weights) __builtin_prefetch(&w(ka));
        }
        const int k = order(j);
        z2(j) = y(k);
        z4(j) = equal_weights ? w(1) : w(k);
        z1(j) = z6(k);
      }
    } else {
      for (int j = 1; j <= n; ++j) {
        const int k = order(j);
        z2(j) = y(k);
        z4(j) = w(k);
        double s = 0.0;
        for (int i = 1; i <= p; ++i) {
          if (l(i) != 0) s += tx(k, i);
        }
        z1(j) = s;
      }
    }
    const int code = l(resp) < 0 ? -l(resp) : l(resp);
    ++count.response_smooths;
    smooth_variable_on(paths, code, n, ld, z2.data(), z1.data(), z4.data(), z3.data(), z.col(6),
                       settings, helper);
    double s = 0.0;
    for (int j = 1; j <= n; ++j) {
      if (j + kAhead <= n) __builtin_prefetch(&z2(order(j + kAhead)), 1);
      s += z4(j) * z3(j);  // z4(j) is w(k)
      z2(order(j)) = z1(j);
    }
    s = s / sw;
    for (int j = 1; j <= n; ++j) z3(j) -= s;
    double v = 0.0;
    for (int j = 1; j <= n; ++j) v += (z3(j) * z3(j)) * z4(j);
    v = v / sw;
    if (v <= 0.0) {
      ierr = 3;
      emit(sink, " ier = 3: ty has zero variance.");
      return;
    }
    const double root = std::sqrt(v);
    for (int j = 1; j <= n; ++j) ty(order(j)) = z3(j) / root;
    double e = 0.0;
    for (int j = 1; j <= n; ++j) {
      const double d = ty(j) - z2(j);
      e += w(j) * (d * d);
    }
    rsq = 1.0 - e / sw;
    emit(sink, ace_iteration_line(outer, rsq));

    position = position % num_term + 1;
    rsq_history[position - 1] = rsq;
    double lo = 100.0;
    double hi = -100.0;
    for (int t = 0; t < num_term; ++t) {
      if (rsq_history[t] < lo) lo = rsq_history[t];
      if (rsq_history[t] > hi) hi = rsq_history[t];
    }
    if (!(outer < settings.max_iterations && hi - lo > DelRsq)) return;
  }
}

}  // namespace tavel::ace
