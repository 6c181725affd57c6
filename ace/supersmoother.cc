// SPDX-License-Identifier: GPL-3.0-or-later
#include "ace/supersmoother.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "ace/helper_thread.h"
#include "ace/running_line.h"
#include "ace/running_line_lanes.h"
#include "ace/supersmoother_passes.h"
#include "ace/view.h"

namespace tavel::ace {

void average_ties(int n, const double* x_data, const double* w_data, double* smo_data) {
  Vec1<const double> x(x_data);
  Vec1<const double> w(w_data);
  Vec1<double> smo(smo_data);
  int j = 1;
  while (j <= n) {
    int k = j;
    while (k < n && x(k + 1) <= x(k)) ++k;
    if (k > j) {
      double sw = 0.0;
      double swy = 0.0;
      for (int t = j; t <= k; ++t) {
        sw += w(t);
        swy += w(t) * smo(t);
      }
      const double mean = sw > 0.0 ? swy / sw : 0.0;
      for (int t = j; t <= k; ++t) smo(t) = mean;
    }
    j = k + 1;
  }
}

void running_line_smooth(int n, const double* x_data, const double* y_data, const double* w_data,
                         double span, int iper, double vsmlsp, double* smo_data,
                         double* acvr_data) {
  Vec1<const double> x(x_data);
  Vec1<const double> y(y_data);
  Vec1<const double> w(w_data);
  Vec1<double> smo(smo_data);
  Vec1<double> acvr(acvr_data);
  const int jper = iper < 0 ? -iper : iper;
  const int ibw = running_line_half_width(n, span);
  const int it = 2 * ibw + 1;

  LineWindow win;
  for (int i = 1; i <= it; ++i) {
    int j = jper == 2 ? i - ibw - 1 : i;
    double xt = 0.0;
    if (j < 1) {
      j = n + j;
      xt = x(j) - 1.0;
    } else {
      xt = x(j);
    }
    win.add(xt, y(j), w(j));
  }

  for (int j = 1; j <= n; ++j) {
    int out = j - ibw - 1;
    int in = j + ibw;
    if (jper == 2 || (out >= 1 && in <= n)) {
      double xo = 0.0;
      double xi = 0.0;
      if (out < 1) {
        out = n + out;
        xo = x(out) - 1.0;
        xi = x(in);
      } else if (in > n) {
        in = in - n;
        xi = x(in) + 1.0;
        xo = x(out);
      } else {
        xo = x(out);
        xi = x(in);
      }
      win.remove(xo, y(out), w(out));
      win.add(xi, y(in), w(in));
    }
    const double a = win.var > vsmlsp ? win.cvar / win.var : 0.0;
    smo(j) = a * (x(j) - win.xm) + win.ym;
    if (iper > 0) {
      double h = win.fbw > 0.0 ? 1.0 / win.fbw : 0.0;
      if (win.var > vsmlsp) {
        const double dx = x(j) - win.xm;
        h = h + dx * dx / win.var;
      }
      const double d = 1.0 - w(j) * h;
      if (d > 0.0) {
        acvr(j) = std::fabs(y(j) - smo(j)) / d;
      } else {
        acvr(j) = j > 1 ? acvr(j - 1) : 0.0;
      }
    }
  }

  average_ties(n, x_data, w_data, smo_data);
}

namespace {

struct Prologue {
  bool done = false;  // the abscissa was constant and smo is filled
  int jper = 1;
  double vsmlsp = 0.0;
};

// Constant abscissa, variance floor and periodicity, common to both paths.
Prologue supersmoother_prologue(int n, const double* x_data, const double* y_data,
                                const double* w_data, int iper, double* smo_data,
                                const AceSettings& settings) {
  Vec1<const double> x(x_data);
  Vec1<const double> y(y_data);
  Vec1<const double> w(w_data);
  Vec1<double> smo(smo_data);
  Prologue pro;
  if (x(n) <= x(1)) {
    double sw = 0.0;
    double swy = 0.0;
    for (int j = 1; j <= n; ++j) {
      sw += w(j);
      swy += w(j) * y(j);
    }
    const double mean = sw > 0.0 ? swy / sw : 0.0;
    for (int j = 1; j <= n; ++j) smo(j) = mean;
    pro.done = true;
    return pro;
  }
  int i = n / 4;
  int k = 3 * i;
  double scale = x(k) - x(i);
  while (scale <= 0.0) {
    if (k < n) ++k;
    if (i > 1) --i;
    scale = x(k) - x(i);
  }
  const double fs = settings.scale_fraction * scale;
  pro.vsmlsp = fs * fs;
  int jper = iper;
  if (iper == 2 && (x(1) < 0.0 || x(n) > 1.0)) jper = 1;
  if (jper != 1 && jper != 2) jper = 1;
  pro.jper = jper;
  return pro;
}

}  // namespace

void supersmoother_choose_span(int first, int last, double* sc_data, int ld, double alpha,
                               const AceSettings& settings) {
  Mat1<double> sc(sc_data, ld);
  const auto& s = settings.trial_spans;
  for (int j = first; j <= last; ++j) {
    double resmin = settings.huge_value;
    for (int t = 1; t <= 3; ++t) {
      if (sc(j, 2 * t) < resmin) {
        resmin = sc(j, 2 * t);
        sc(j, 7) = s[t - 1];
      }
    }
    if (resmin > 0.0 && alpha > 0.0 && alpha <= 10.0 && resmin < sc(j, 6)) {
      const double f = std::fmax(resmin / sc(j, 6), settings.tiny_value);
      sc(j, 7) = sc(j, 7) + (s[2] - sc(j, 7)) * std::pow(f, 10.0 - alpha);
    }
  }
}

void supersmoother_blend(int first, int last, double* sc_data, int ld,
                         const AceSettings& settings) {
  Mat1<double> sc(sc_data, ld);
  const auto& s = settings.trial_spans;
  for (int j = first; j <= last; ++j) {
    if (sc(j, 2) <= s[0]) sc(j, 2) = s[0];
    if (sc(j, 2) >= s[2]) sc(j, 2) = s[2];
    double f = sc(j, 2) - s[1];
    if (f >= 0.0) {
      f = f / (s[2] - s[1]);
      sc(j, 4) = (1.0 - f) * sc(j, 3) + f * sc(j, 5);
    } else {
      f = -f / (s[1] - s[0]);
      sc(j, 4) = (1.0 - f) * sc(j, 3) + f * sc(j, 1);
    }
  }
}

namespace plain {

void supersmoother(int n, int ld, const double* x, const double* y, const double* w, int iper,
                   double span, double alpha, double* smo, double* sc_data,
                   const AceSettings& settings) {
  const Prologue pro = supersmoother_prologue(n, x, y, w, iper, smo, settings);
  if (pro.done) return;
  const int jper = pro.jper;
  const double vsmlsp = pro.vsmlsp;
  Mat1<double> sc(sc_data, ld);
  if (span > 0.0) {
    running_line_smooth(n, x, y, w, span, jper, vsmlsp, smo, sc.col(1));
    return;
  }
  const auto& s = settings.trial_spans;
  // The residual smooths below ask for no residuals of their own, so the
  // scratch vector for them is never written and need not exist.
  for (int t = 1; t <= 3; ++t) {
    running_line_smooth(n, x, y, w, s[t - 1], jper, vsmlsp, sc.col(2 * t - 1), sc.col(7));
    running_line_smooth(n, x, sc.col(7), w, s[1], -jper, vsmlsp, sc.col(2 * t), nullptr);
  }
  supersmoother_choose_span(1, n, sc_data, ld, alpha, settings);
  running_line_smooth(n, x, sc.col(7), w, s[1], -jper, vsmlsp, sc.col(2), nullptr);
  supersmoother_blend(1, n, sc_data, ld, settings);
  running_line_smooth(n, x, sc.col(4), w, s[0], -jper, vsmlsp, smo, nullptr);
}

}  // namespace plain

namespace {

bool has_ties(int n, const double* x) {
  for (int j = 1; j < n; ++j) {
    if (x[j] <= x[j - 1]) return true;
  }
  return false;
}

bool all_weights_equal(int n, const double* w) {
  const auto first = std::bit_cast<std::uint64_t>(w[0]);
  for (int j = 1; j < n; ++j) {
    if (std::bit_cast<std::uint64_t>(w[j]) != first) return false;
  }
  return true;
}

// Points produced between two looks at the other thread's progress.
constexpr int kChunk = 4096;

// Tells the processor that this thread is spinning, so that a sibling
// hardware thread gets the core's resources meanwhile.
inline void spin_pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield" ::: "memory");
#else
  std::this_thread::yield();
#endif
}

// Waits until the other thread's progress reaches value: a short spin, as it
// is usually about to get there, then a proper sleep, so that a busy machine
// can give the core to the thread being waited for.
void wait_for(const std::atomic<int>& progress, int value) {
  for (int spins = 0;; ++spins) {
    const int now = progress.load(std::memory_order_acquire);
    if (now >= value) return;
    if (spins < 2000) {
      spin_pause();
    } else {
      progress.wait(now, std::memory_order_acquire);
    }
  }
}

void publish(std::atomic<int>& progress, int value) {
  progress.store(value, std::memory_order_release);
  progress.notify_all();
}

// The passes of one adaptive smooth, in the order of their dependencies.
struct Passes {
  int n;
  int ld;
  double* sc;
  double alpha;
  const AceSettings& settings;
  RunningLineSweep& trials;     // three trial smooths with residuals
  RunningLineSweep& residuals;  // their residuals smoothed
  RunningLineSweep& spans;      // the chosen spans smoothed
  RunningLineSweep& result;     // the blend smoothed

  void one_after_the_other() {
    trials.advance(n);
    residuals.advance(n);
    supersmoother_choose_span(1, n, sc, ld, alpha, settings);
    spans.advance(n);
    supersmoother_blend(1, n, sc, ld, settings);
    result.advance(n);
  }

  // Two threads. The helper runs the trial smooths while this thread smooths
  // their residuals a little behind it. Then the helper chooses the spans of
  // the first half and smooths the chosen spans, while this thread chooses
  // the spans of the second half, and then blends and smooths the blend a
  // little behind the helper. A pass at point j reads its input only up to
  // needs(j), so it waits until its producer has finished that far; a span is
  // chosen only where the residual smooths are final and will not read
  // column 7 there again. Each point's arithmetic is unchanged, so the digits
  // are those of one thread.
  void pipelined(HelperThread& helper) {
    const int split = n / 2;  // first point whose span this thread chooses
    std::atomic<int> trials_done{0};
    std::atomic<int> residuals_safe{0};  // residual smooths final and read
    std::atomic<int> chosen_back{split - 1};
    std::atomic<int> spans_done{0};
    auto helper_part = [&] {
      for (int j = 0; j < n;) {
        j = std::min(n, j + kChunk);
        publish(trials_done, trials.advance(j));
      }
      for (int q = 1; q < split;) {
        wait_for(residuals_safe, q);
        const int upto = std::min(split - 1, residuals_safe.load(std::memory_order_acquire));
        supersmoother_choose_span(q, upto, sc, ld, alpha, settings);
        q = upto + 1;
      }
      for (int j = 0; j < n;) {
        j = std::min(n, j + kChunk);
        wait_for(chosen_back, spans.needs(j));
        publish(spans_done, spans.advance(j));
      }
    };
    helper.start(helper_part);
    for (int j = 0; j < n;) {
      j = std::min(n, j + kChunk);
      wait_for(trials_done, residuals.needs(j));
      const int final_point = residuals.advance(j);
      publish(residuals_safe, std::min(final_point, residuals.reads_from() - 1));
    }
    for (int q = split; q <= n;) {
      const int upto = std::min(n, q + kChunk - 1);
      supersmoother_choose_span(q, upto, sc, ld, alpha, settings);
      publish(chosen_back, upto);
      q = upto + 1;
    }
    int blended = 0;
    for (int j = 0; j < n;) {
      j = std::min(n, j + kChunk);
      const int need = result.needs(j);
      wait_for(spans_done, need);
      if (need > blended) {
        supersmoother_blend(blended + 1, need, sc, ld, settings);
        blended = need;
      }
      result.advance(j);
    }
    helper.wait();
  }
};

}  // namespace

// The same passes as the plain form, but the three trial smooths run as lanes
// of one sweep, and so do the three residual smooths. The trial residuals all
// need a home at once: the second goes to the result vector (written only by
// the last pass) and the first to the caller's spare vector, or else to one
// of the call's own; the third stays in column 7 as in the plain form.
void supersmoother_in_lanes(int n, int ld, const double* x, const double* y, const double* w,
                            int iper, double span, double alpha, double* smo, double* sc_data,
                            const AceSettings& settings, HelperThread* helper, double* spare,
                            const TieMarks* given_groups) {
  const Prologue pro = supersmoother_prologue(n, x, y, w, iper, smo, settings);
  if (pro.done) return;
  const int jper = pro.jper;
  const double vsmlsp = pro.vsmlsp;
  Mat1<double> sc(sc_data, ld);
  if (span > 0.0) {
    running_line_smooth(n, x, y, w, span, jper, vsmlsp, smo, sc.col(1));
    return;
  }
  const auto& s = settings.trial_spans;
  // The four sweeps share one marking of the abscissa's tie groups; without
  // room for it each finds them as it goes.
  const bool ties = given_groups != nullptr ? !given_groups->empty() : has_ties(n, x);
  TieMarks marks;
  if (ties && given_groups == nullptr) {
    try {
      marks = TieMarks(n, x);
    } catch (const std::bad_alloc&) {
      marks = TieMarks();
    }
  }
  const bool equal_w = all_weights_equal(n, w);
  std::unique_ptr<double[]> own;
  if (spare == nullptr) {
    own.reset(new (std::nothrow) double[static_cast<std::size_t>(n)]);
    spare = own.get();
  }
  if (spare == nullptr) {
    // Without room for the second trial's residuals the passes run one after
    // the other, which needs no more than the caller's scratch.
    plain::supersmoother(n, ld, x, y, w, iper, span, alpha, smo, sc_data, settings);
    return;
  }
  const RunningLineLane trial_lanes[3] = {
      {y, s[0], sc.col(1), spare}, {y, s[1], sc.col(3), smo}, {y, s[2], sc.col(5), sc.col(7)}};
  const RunningLineLane residual_lanes[3] = {{spare, s[1], sc.col(2), nullptr},
                                             {smo, s[1], sc.col(4), nullptr},
                                             {sc.col(7), s[1], sc.col(6), nullptr}};
  const RunningLineLane span_lane{sc.col(7), s[1], sc.col(2), nullptr};
  const RunningLineLane result_lane{sc.col(4), s[0], smo, nullptr};
  const TieMarks* listed = !ties                     ? nullptr
                           : given_groups != nullptr ? given_groups
                           : marks.empty()           ? nullptr
                                                     : &marks;
  RunningLineSweep trials(n, x, w, jper, true, vsmlsp, trial_lanes, 3, ties, equal_w, listed);
  RunningLineSweep residuals(n, x, w, jper, false, vsmlsp, residual_lanes, 3, ties, equal_w,
                             listed);
  RunningLineSweep spans(n, x, w, jper, false, vsmlsp, &span_lane, 1, ties, equal_w, listed);
  RunningLineSweep result(n, x, w, jper, false, vsmlsp, &result_lane, 1, ties, equal_w, listed);
  Passes passes{n, ld, sc_data, alpha, settings, trials, residuals, spans, result};
  // A periodic pass reads the far end of its input first, so it cannot follow
  // its producer; those passes run one after the other.
  if (helper != nullptr && helper->started() && jper != 2 && n >= kPipelineMinPoints) {
    passes.pipelined(*helper);
    return;
  }
  passes.one_after_the_other();
}

void supersmoother(int n, int ld, const double* x, const double* y, const double* w, int iper,
                   double span, double alpha, double* smo, double* sc,
                   const AceSettings& settings) {
  if (n >= kPipelineMinPoints) {
    HelperThread helper;
    supersmoother_in_lanes(n, ld, x, y, w, iper, span, alpha, smo, sc, settings, &helper);
  } else {
    supersmoother_in_lanes(n, ld, x, y, w, iper, span, alpha, smo, sc, settings, nullptr);
  }
}

}  // namespace tavel::ace
