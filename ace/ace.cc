// SPDX-License-Identifier: GPL-3.0-or-later
#include "ace/ace.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
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

// " ierr = K: <before>" I2 "<after>": the error lines that name a code's index.
std::string indexed_line(std::string_view before, int index, std::string_view after) {
  std::string line(before);
  append_int(line, index, 2);
  line += after;
  return line;
}

// The views and running values of one call.
struct Call {
  Paths paths;
  int n;
  int p;
  Mat1<const double> x;
  Vec1<const double> y;
  Vec1<const double> w;
  Vec1<const int> l;
  Mat1<double> tx;
  Vec1<double> ty;
  Mat1<int> m;
  Mat1<double> z;
  double DelRsq;
  const AceSettings& settings;
  const LineSink& sink;
  double sw = 0.0;  // sum of the weights
  int np = 0;       // predictors with a nonzero code
  HelperThread* helper = nullptr;
  // All weights the same (as the Run passes them), on the fast path: the
  // weights in any order are w itself, nothing to gather, and column 4 of z
  // is free to hold the supersmoother's spare vector.
  bool equal_weights = false;
  // n doubles for the fast supersmoother: column 4 of z or the call's own.
  double* spare = nullptr;
  double rsq = 0.0;
  // On the fast path, the tie groups of each variable's sorted values
  // (index i, the response at p+1), found at its first smooth: the values
  // stay the same for the whole call. Empty slots are not known yet.
  std::vector<std::optional<TieMarks>> ties{};

  // Variable i's tie groups for sorted values x, or null (plain path, a
  // smoother that does not use them, or no room to keep them).
  const TieMarks* tie_groups_of(int i, const double* x) {
    if (paths != Paths::kFast || std::abs(l(i)) > 3) return nullptr;
    try {
      if (ties.empty()) ties.resize(static_cast<std::size_t>(p) + 2);
      std::optional<TieMarks>& slot = ties[static_cast<std::size_t>(i)];
      if (!slot) slot.emplace(n, x);
      return &*slot;
    } catch (const std::bad_alloc&) {
      ties.clear();
      return nullptr;
    }
  }

  // The weights in the order of a sort, as the smoothers get them.
  Vec1<const double> sorted_weights() const {
    return equal_weights ? w : Vec1<const double>(z.col(4));
  }

  int resp() const { return p + 1; }
  // The sum of the used predictors' transformations of observation k, in
  // index order.
  double predictor_sum(int k) const {
    double s = 0.0;
    for (int i = 1; i <= p; ++i) {
      if (l(i) != 0) s += tx(k, i);
    }
    return s;
  }
};

// Every failing check writes its line and the checks go on, so the caller
// sees every fault at once; the last failing check names the error. Sums the
// weights and, for a positive response code, starts ty from y on the way.
AceError validate(Call& c) {
  AceError error = AceError::kNone;
  for (int i = 1; i <= c.p + 1; ++i) {
    if (c.l(i) < -5 || c.l(i) > 5) {
      error = AceError::kCodeOutOfRange;
      emit(c.sink, indexed_line(" ierr = 6: l(", i, ") must be .ge. -5 and .le. 5."));
    }
  }
  if (c.l(c.resp()) == 0) {
    error = AceError::kResponseCodeZero;
    emit(c.sink, indexed_line(" ierr = 4: l(", c.resp(), ") must be nonzero."));
  }
  for (int i = 1; i <= c.p; ++i) {
    if (c.l(i) != 0) ++c.np;
  }
  if (c.np < 1) {
    error = AceError::kNoPredictor;
    emit(c.sink, indexed_line(" ierr = 5: at least one l(1) - l(", c.p, ") must be positive."));
  }
  const bool copy_y = c.l(c.resp()) > 0;
  for (int j = 1; j <= c.n; ++j) {
    c.sw += c.w(j);
    if (copy_y) c.ty(j) = c.y(j);
  }
  if (c.sw <= 0.0) {
    error = AceError::kWeightsNotPositive;
    emit(c.sink, " ierr = 1: sum of weights not positive.");
  }
  return error;
}

// Predictors start from x (positive code) or the caller's values (negative
// code), centred; unused predictors are 0.
void centre_predictors(Call& c) {
  for (int i = 1; i <= c.p; ++i) {
    if (c.l(i) == 0) {
      for (int j = 1; j <= c.n; ++j) c.tx(j, i) = 0.0;
      continue;
    }
    if (c.l(i) > 0) {
      for (int j = 1; j <= c.n; ++j) c.tx(j, i) = c.x(j, i);
    }
    double s = 0.0;
    for (int j = 1; j <= c.n; ++j) s += c.w(j) * c.tx(j, i);
    s = s / c.sw;
    for (int j = 1; j <= c.n; ++j) c.tx(j, i) -= s;
  }
}

// ty centred and scaled to unit weighted variance; a constant ty cannot be.
// Also lays out y and the observation numbers for the response's sort.
AceError standardise_response(Call& c) {
  for (int j = 1; j <= c.n; ++j) {
    c.m(j, c.resp()) = j;
    c.z(j, 2) = c.y(j);
  }
  double s = 0.0;
  for (int j = 1; j <= c.n; ++j) s += c.w(j) * c.ty(j);
  s = s / c.sw;
  for (int j = 1; j <= c.n; ++j) c.ty(j) -= s;
  double v = 0.0;
  for (int j = 1; j <= c.n; ++j) v += c.w(j) * (c.ty(j) * c.ty(j));
  v = v / c.sw;
  if (v <= 0.0) {
    if (c.l(c.resp()) > 0) {
      emit(c.sink, " ierr = 2: y has zero variance.");
      return AceError::kYZeroVariance;
    }
    emit(c.sink, " ierr = 3: y has zero variance.");
    return AceError::kTyZeroVariance;
  }
  const double scale = 1.0 / std::sqrt(v);
  for (int j = 1; j <= c.n; ++j) c.ty(j) = c.ty(j) * scale;
  return AceError::kNone;
}

// Each predictor's start scaled by its least-squares coefficient on ty.
void initial_scaling(Call& c) {
  // The scaling needs five columns of p coefficients. Columns 6 to 12 of z
  // (7 ld doubles, free until the first smooth) hold them unless there are
  // far more predictors than rows; only then is a separate block taken.
  std::vector<double> coefficient_block;
  double* coefficients = c.z.col(6);
  if (static_cast<std::ptrdiff_t>(kScaleColumns) * c.p >
      static_cast<std::ptrdiff_t>(7) * c.z.ld()) {
    coefficient_block.resize(static_cast<std::size_t>(kScaleColumns) * c.p);
    coefficients = coefficient_block.data();
  }
  // With the coefficients in columns 6 and 7, column 8 takes the direction's
  // values and the sweeps run on both threads.
  const bool room =
      static_cast<std::ptrdiff_t>(kScaleColumns) * c.p <= static_cast<std::ptrdiff_t>(2) * c.z.ld();
  double* u = c.helper != nullptr && room ? c.z.col(8) : nullptr;
  scale_predictors(c.n, c.p, c.z.ld(), c.w.data(), c.sw, c.ty.data(), c.tx.col(1), c.DelRsq, c.p,
                   c.z.col(5), coefficients, c.helper, u);
}

// Runs part(first, last) over the points 1..n, as two halves side by side
// when the call has a helper thread. Only for loops whose points are
// independent of each other (gathers and scatters through a sort order, one
// value per point): no sum is split, so the digits are those of one loop.
template <typename Part>
void over_points(Call& c, Part&& part) {
  if (c.helper == nullptr) {
    part(1, c.n);
    return;
  }
  const int mid = c.n / 2;
  auto first_half = [&] { part(1, mid); };
  c.helper->start(first_half);
  part(mid + 1, c.n);
  c.helper->wait();
}

// Smooths predictor i's partial residual (z(., 5) + tx(., i)) against x(., i)
// and keeps the centred smooth only when it raises rsq.
void smooth_predictor(Call& c, int i) {
  Vec1<double> z1 = c.z.column(1);
  Vec1<double> z2 = c.z.column(2);
  Vec1<double> z3 = c.z.column(3);
  Vec1<double> z4 = c.z.column(4);
  Vec1<double> z5 = c.z.column(5);
  const Vec1<const double> ws = c.sorted_weights();
  Vec1<const int> order = Vec1<const int>(c.m.col(i));
  Vec1<const double> xi(c.x.col(i));
  Vec1<double> txi = c.tx.column(i);
  const int n = c.n;
  over_points(c, [&](int first, int last) {
    for (int j = first; j <= last; ++j) {
      if (j + kAhead <= last) {
        const int ka = order(j + kAhead);
        __builtin_prefetch(&z5(ka));
        __builtin_prefetch(&txi(ka));
        __builtin_prefetch(&xi(ka));
        if (!c.equal_weights) __builtin_prefetch(&c.w(ka));
      }
      const int k = order(j);
      z1(j) = z5(k) + txi(k);
      z2(j) = xi(k);
      if (!c.equal_weights) z4(j) = c.w(k);
    }
  });
  smooth_variable_on(c.paths, std::abs(c.l(i)), n, c.z.ld(), z2.data(), z1.data(), ws.data(),
                     z3.data(), c.z.col(6), c.settings, c.helper, c.spare,
                     c.tie_groups_of(i, z2.data()));
  double s = 0.0;
  for (int j = 1; j <= n; ++j) s += z3(j) * ws(j);
  s = s / c.sw;
  for (int j = 1; j <= n; ++j) z3(j) -= s;
  double e = 0.0;
  for (int j = 1; j <= n; ++j) {
    const double d = z1(j) - z3(j);
    e += ws(j) * (d * d);
  }
  const double candidate = 1.0 - e / c.sw;
  if (!(candidate > c.rsq)) return;
  c.rsq = candidate;
  over_points(c, [&](int first, int last) {
    for (int j = first; j <= last; ++j) {
      if (j + kAhead <= last) {
        const int ka = order(j + kAhead);
        __builtin_prefetch(&txi(ka), 1);
        __builtin_prefetch(&z5(ka), 1);
      }
      const int k = order(j);
      txi(k) = z3(j);
      z5(k) = z1(j) - z3(j);
    }
  });
}

// One backfitting pass: the residuals ty - sum of tx, then every used
// predictor in index order against its partial residual.
void inner_pass(Call& c) {
  Vec1<double> z5 = c.z.column(5);
  over_points(c, [&](int first, int last) {
    for (int j = first; j <= last; ++j) z5(j) = c.ty(j) - c.predictor_sum(j);
  });
  for (int i = 1; i <= c.p; ++i) {
    if (c.l(i) != 0) smooth_predictor(c, i);
  }
}

// Backfitting until a pass raises rsq by no more than DelRsq. With one used
// predictor a second pass would smooth the same residual again: one pass.
void backfit(Call& c, AceSummary& summary) {
  int inner = 0;
  double rsq0 = 0.0;
  do {
    ++inner;
    ++summary.inner_passes;
    rsq0 = c.rsq;
    inner_pass(c);
  } while (c.np != 1 && inner < c.settings.max_iterations && c.rsq - rsq0 > c.DelRsq);
}

// The response step's inputs in y order: y, w, and the sum of the predictor
// transformations. On the fast path the sums are formed in observation order
// first (column 6 is free until the smoother runs), so the gather reads one
// scattered value instead of one per predictor.
void gather_response(Call& c) {
  Vec1<double> z1 = c.z.column(1);
  Vec1<double> z2 = c.z.column(2);
  Vec1<double> z4 = c.z.column(4);
  Vec1<double> z6 = c.z.column(6);
  Vec1<const int> order(c.m.col(c.resp()));
  const int n = c.n;
  if (c.paths == Paths::kFast) {
    over_points(c, [&](int first, int last) {
      for (int j = first; j <= last; ++j) z6(j) = c.predictor_sum(j);
    });
    over_points(c, [&](int first, int last) {
      for (int j = first; j <= last; ++j) {
        if (j + kAhead <= last) {
          const int ka = order(j + kAhead);
          __builtin_prefetch(&c.y(ka));
          __builtin_prefetch(&z6(ka));
          if (!c.equal_weights) __builtin_prefetch(&c.w(ka));
        }
        const int k = order(j);
        z2(j) = c.y(k);
        if (!c.equal_weights) z4(j) = c.w(k);
        z1(j) = z6(k);
      }
    });
    return;
  }
  for (int j = 1; j <= n; ++j) {
    const int k = order(j);
    z2(j) = c.y(k);
    z4(j) = c.w(k);
    z1(j) = c.predictor_sum(k);
  }
}

// Smooths the sum of the predictor transformations against y, standardises
// the smooth into ty and measures rsq. A constant smooth cannot be
// standardised: ty keeps its values and the step fails.
AceError response_step(Call& c, int outer) {
  gather_response(c);
  Vec1<double> z1 = c.z.column(1);
  Vec1<double> z2 = c.z.column(2);
  Vec1<double> z3 = c.z.column(3);
  const Vec1<const double> ws = c.sorted_weights();
  Vec1<const int> order(c.m.col(c.resp()));
  const int n = c.n;
  smooth_variable_on(c.paths, std::abs(c.l(c.resp())), n, c.z.ld(), z2.data(), z1.data(), ws.data(),
                     z3.data(), c.z.col(6), c.settings, c.helper, c.spare,
                     c.tie_groups_of(c.resp(), z2.data()));
  double s = 0.0;
  for (int j = 1; j <= n; ++j) s += ws(j) * z3(j);  // ws(j) is w(k)
  // The sums of the transformations back in observation order.
  over_points(c, [&](int first, int last) {
    for (int j = first; j <= last; ++j) {
      if (j + kAhead <= last) __builtin_prefetch(&z2(order(j + kAhead)), 1);
      z2(order(j)) = z1(j);
    }
  });
  s = s / c.sw;
  for (int j = 1; j <= n; ++j) z3(j) -= s;
  double v = 0.0;
  for (int j = 1; j <= n; ++j) v += (z3(j) * z3(j)) * ws(j);
  v = v / c.sw;
  if (v <= 0.0) {
    emit(c.sink, " ier = 3: ty has zero variance.");
    return AceError::kTyZeroVariance;
  }
  const double root = std::sqrt(v);
  over_points(c, [&](int first, int last) {
    for (int j = first; j <= last; ++j) c.ty(order(j)) = z3(j) / root;
  });
  double e = 0.0;
  for (int j = 1; j <= n; ++j) {
    const double d = c.ty(j) - z2(j);
    e += c.w(j) * (d * d);
  }
  c.rsq = 1.0 - e / c.sw;
  emit(c.sink, ace_iteration_line(outer, c.rsq));
  return AceError::kNone;
}

// Records rsq as the newest of the last num_term passes; true while those
// passes still differ by more than DelRsq (entries not yet filled hold 100.0,
// so the first num_term passes are always made).
bool rsq_still_moving(RsqHistory& history, int num_term, int& position, double rsq, double DelRsq) {
  position = position % num_term + 1;
  history[position - 1] = rsq;
  double lo = 100.0;
  double hi = -100.0;
  for (int t = 0; t < num_term; ++t) {
    if (history[t] < lo) lo = history[t];
    if (history[t] > hi) hi = history[t];
  }
  return hi - lo > DelRsq;
}

// Outer passes (backfitting, then the response step) until rsq settles or
// the iteration cap is reached.
AceError iterate(Call& c, AceSummary& summary) {
  const int num_term = summary.num_term;
  int position = 0;
  for (int t = 0; t < num_term; ++t) summary.rsq_history[t] = 100.0;
  for (;;) {
    const int outer = ++summary.outer_passes;
    backfit(c, summary);
    const AceError error = response_step(c, outer);
    if (error != AceError::kNone) return error;
    const bool moving = rsq_still_moving(summary.rsq_history, num_term, position, c.rsq, c.DelRsq);
    if (!(outer < c.settings.max_iterations && moving)) return AceError::kNone;
  }
}

std::size_t extent(int rows, int columns) {
  if (rows <= 0 || columns <= 0) return 0;
  return static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
}

// The caller's work array, or one of the same shape owned by the call.
template <typename T>
T* work_array(std::span<T> given, std::size_t size, std::vector<T>& own) {
  if (!given.empty()) {
    assert(given.size() >= size && "work array too small");
    return given.data();
  }
  own.resize(size);
  return own.data();
}

}  // namespace

std::string ace_iteration_line(int pass, double rsq) {
  std::string line = " iteration";
  append_int(line, pass, 2);
  line += "  r**2 = 1 - e**2 =";
  line += ace_rsq_field(rsq);
  return line;
}

std::string ace_rsq_field(double rsq) {
  std::string field;
  append_fixed(field, rsq, 12, 7);
  return field;
}

AceSummary ace_solve(const AceProblem& problem, const AceOptions& options, const LineSink& sink) {
  return ace_solve_on(Paths::kFast, problem, options, sink);
}

AceSummary ace_solve_on(Paths paths, const AceProblem& problem, const AceOptions& options,
                        const LineSink& sink) {
  AceSummary summary;
  summary.num_term = options.NumTerm;
  summary.rsq_history = options.rsq_history;
  const int n = problem.n;
  const int p = problem.p;
  const int ld = problem.ld;
  // The smoothers' first windows and quartile scale need five points; with
  // fewer they would read outside their arrays, so nothing is touched.
  if (n < kMinObservations) {
    summary.error = AceError::kTooFewObservations;
    emit(sink, " ierr = 7: n must be .ge. 5 (fewer than 5 observations).");
    return summary;
  }
  assert(ld >= n && "the arrays must hold every observation");
  assert(p >= 0 && "the response code sits at l(p+1)");
  assert(problem.x.size() >= extent(ld, p) && problem.tx.size() >= extent(ld, p));
  assert(problem.y.size() >= extent(n, 1) && problem.w.size() >= extent(n, 1));
  assert(problem.ty.size() >= extent(n, 1) && problem.l.size() >= extent(p + 1, 1));
  std::vector<int> own_m;
  std::vector<double> own_z;
  int* m = work_array(problem.m, extent(ld, p + 1), own_m);
  double* z = work_array(problem.z, extent(ld, kWorkColumns), own_z);
  Call c{paths,
         n,
         p,
         Mat1<const double>(problem.x.data(), ld),
         Vec1<const double>(problem.y.data()),
         Vec1<const double>(problem.w.data()),
         Vec1<const int>(problem.l.data()),
         Mat1<double>(problem.tx.data(), ld),
         Vec1<double>(problem.ty.data()),
         Mat1<int>(m, ld),
         Mat1<double>(z, ld),
         options.DelRsq,
         options.settings,
         sink};

  summary.error = validate(c);
  if (summary.error != AceError::kNone) return summary;
  centre_predictors(c);
  summary.error = standardise_response(c);
  if (summary.error != AceError::kNone) return summary;

  // One helper thread for the whole call (sorting and smoothing), started
  // here so that the loops below start none.
  std::optional<HelperThread> helper_thread;
  if (paths == Paths::kFast && n >= kTwoThreadsMinRows && options.threads != 1)
    helper_thread.emplace();
  c.helper = helper_thread && helper_thread->started() ? &*helper_thread : nullptr;
  // Each variable is sorted once; every later pass goes through these orders.
  sort_orders(c.helper, n, p, ld, problem.l.data(), problem.x.data(), m, z);
  initial_scaling(c);

  // The history position is taken modulo NumTerm: below 1 would divide by 0.
  summary.num_term = std::clamp(options.NumTerm, 1, 10);
  c.equal_weights = paths == Paths::kFast;
  for (int j = 2; j <= n && c.equal_weights; ++j) {
    c.equal_weights = std::bit_cast<std::uint64_t>(c.w(j)) == std::bit_cast<std::uint64_t>(c.w(1));
  }
  // One spare vector for every smooth of the call, never one per smooth.
  std::unique_ptr<double[]> own_spare;
  if (c.equal_weights) {
    c.spare = c.z.col(4);
  } else if (paths == Paths::kFast) {
    own_spare.reset(new (std::nothrow) double[static_cast<std::size_t>(n)]);
    c.spare = own_spare.get();
  }
  summary.error = iterate(c, summary);
  summary.rsq = c.rsq;
  return summary;
}

void ace_estimate(int n, int p, const double* x, const double* y, const double* w, const int* l,
                  double DelRsq, double* tx, double* ty, double& rsq, int& ierr, int* m, double* z,
                  int ld, const AceSettings& settings, int& NumTerm, RsqHistory& rsq_history,
                  const LineSink& sink) {
  const AceProblem problem{n,
                           p,
                           ld,
                           {x, extent(ld, p)},
                           {y, extent(n, 1)},
                           {w, extent(n, 1)},
                           {l, extent(p + 1, 1)},
                           {tx, extent(ld, p)},
                           {ty, extent(n, 1)},
                           {m, extent(ld, p + 1)},
                           {z, extent(ld, kWorkColumns)}};
  const AceOptions options{DelRsq, NumTerm, settings, rsq_history};
  const AceSummary summary = ace_solve(problem, options, sink);
  ierr = static_cast<int>(summary.error);
  // Before its first pass the engine has no rsq: the caller's stays.
  if (summary.outer_passes > 0) rsq = summary.rsq;
  NumTerm = summary.num_term;
  rsq_history = summary.rsq_history;
}

}  // namespace tavel::ace
