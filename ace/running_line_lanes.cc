// SPDX-License-Identifier: GPL-3.0-or-later
#include "ace/running_line_lanes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "ace/running_line.h"

namespace tavel::ace {

// The vector helpers below are always inlined, so no vector ever crosses a
// call boundary; the note about the vector calling convention does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

typedef double V4 __attribute__((vector_size(32)));
typedef std::int64_t M4 __attribute__((vector_size(32)));

#define TAVEL_INLINE inline __attribute__((always_inline))

// Four lanes in one vector, or a single lane in plain doubles: the kernels
// below are written once for both.
template <int L>
struct Pack;

template <>
struct Pack<4> {
  using V = V4;
  using M = M4;
  static TAVEL_INLINE V splat(double d) { return V4{d, d, d, d}; }
  static TAVEL_INLINE V from(const double* a) { return V4{a[0], a[1], a[2], a[3]}; }
  static TAVEL_INLINE M mask(const std::int64_t* a) { return M4{a[0], a[1], a[2], a[3]}; }
  static TAVEL_INLINE V sel(M m, V a, V b) { return m ? a : b; }
  static TAVEL_INLINE V abs(V v) {
    const M4 bits = __builtin_bit_cast(M4, v) & M4{INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX};
    return __builtin_bit_cast(V4, bits);
  }
  static TAVEL_INLINE V gather(const double* const* base, const int* idx) {
    return V4{base[0][idx[0]], base[1][idx[1]], base[2][idx[2]], base[3][idx[3]]};
  }
  static TAVEL_INLINE V gather(const double* base, const int* idx) {
    return V4{base[idx[0]], base[idx[1]], base[idx[2]], base[idx[3]]};
  }
  static TAVEL_INLINE double lane(V v, int l) { return v[l]; }
};

template <>
struct Pack<1> {
  using V = double;
  using M = bool;
  static TAVEL_INLINE V splat(double d) { return d; }
  static TAVEL_INLINE V from(const double* a) { return a[0]; }
  static TAVEL_INLINE M mask(const std::int64_t* a) { return a[0] != 0; }
  static TAVEL_INLINE V sel(M m, V a, V b) { return m ? a : b; }
  static TAVEL_INLINE V abs(V v) { return std::fabs(v); }
  static TAVEL_INLINE V gather(const double* const* base, const int* idx) {
    return base[0][idx[0]];
  }
  static TAVEL_INLINE V gather(const double* base, const int* idx) { return base[idx[0]]; }
  static TAVEL_INLINE double lane(V v, int) { return v; }
};

// What a kernel needs of a sweep, with 1-based array bases.
struct Kernel {
  int n;
  const double* x;  // x[j] is x(j)
  const double* w;
  double w0;  // w(1), which every weight equals in a kEqualW kernel
  double vsmlsp;
  int count;
  int ibw[kMaxLanes];
  const double* y[kMaxLanes];
  double* smo[kMaxLanes];
  double* acvr[kMaxLanes];
  double (*state)[kMaxLanes];
};

// How each lane reads its points over a stretch of positions: the point is
// position + off; a `lower` point is read one period lower; an inactive lane
// keeps its window as it is.
struct Lanes {
  int off[kMaxLanes];
  std::int64_t lower[kMaxLanes];
  std::int64_t active[kMaxLanes];
};

struct Movement {
  Lanes out;
  Lanes in;
  std::int64_t in_raised[kMaxLanes];  // in point read one period higher
};

template <int L>
struct Windows {
  using P = Pack<L>;
  typename P::V fbw, xm, ym, var, cvar, prev;

  TAVEL_INLINE explicit Windows(double (*s)[kMaxLanes])
      : fbw(P::from(s[0])),
        xm(P::from(s[1])),
        ym(P::from(s[2])),
        var(P::from(s[3])),
        cvar(P::from(s[4])),
        prev(P::from(s[5])) {}

  TAVEL_INLINE void save(double (*s)[kMaxLanes]) const {
    for (int l = 0; l < L; ++l) {
      s[0][l] = P::lane(fbw, l);
      s[1][l] = P::lane(xm, l);
      s[2][l] = P::lane(ym, l);
      s[3][l] = P::lane(var, l);
      s[4][l] = P::lane(cvar, l);
      s[5][l] = P::lane(prev, l);
    }
  }

  // LineWindow::add, lane by lane, for the lanes in `take`.
  TAVEL_INLINE void add(typename P::V xt, typename P::V yt, typename P::V wt, typename P::M take) {
    using V = typename P::V;
    const V zero = P::splat(0.0);
    const V fbo = fbw;
    const V fbw2 = fbw + wt;
    const auto pos = fbw2 > zero;
    const V xm2 = P::sel(pos, (fbo * xm + wt * xt) / fbw2, xm);
    const V ym2 = P::sel(pos, (fbo * ym + wt * yt) / fbw2, ym);
    const V tmp = P::sel(fbo > zero, fbw2 * wt * (xt - xm2) / fbo, zero);
    const V var2 = var + tmp * (xt - xm2);
    const V cvar2 = cvar + tmp * (yt - ym2);
    fbw = P::sel(take, fbw2, fbw);
    xm = P::sel(take, xm2, xm);
    ym = P::sel(take, ym2, ym);
    var = P::sel(take, var2, var);
    cvar = P::sel(take, cvar2, cvar);
  }

  // LineWindow::remove followed by LineWindow::add, for the lanes in `take`.
  TAVEL_INLINE void slide(typename P::V xo, typename P::V yo, typename P::V wo, typename P::V xi,
                          typename P::V yi, typename P::V wi, typename P::M take) {
    using V = typename P::V;
    const V zero = P::splat(0.0);
    const V fbo = fbw;
    const V fbw1 = fbw - wo;
    const auto pos1 = fbw1 > zero;
    const V tmp1 = P::sel(pos1, fbo * wo * (xo - xm) / fbw1, zero);
    const V var1 = var - tmp1 * (xo - xm);
    const V cvar1 = cvar - tmp1 * (yo - ym);
    const V xm1 = P::sel(pos1, (fbo * xm - wo * xo) / fbw1, xm);
    const V ym1 = P::sel(pos1, (fbo * ym - wo * yo) / fbw1, ym);

    const V fbw2 = fbw1 + wi;
    const auto pos2 = fbw2 > zero;
    const V xm2 = P::sel(pos2, (fbw1 * xm1 + wi * xi) / fbw2, xm1);
    const V ym2 = P::sel(pos2, (fbw1 * ym1 + wi * yi) / fbw2, ym1);
    const V tmp2 = P::sel(fbw1 > zero, fbw2 * wi * (xi - xm2) / fbw1, zero);
    const V var2 = var1 + tmp2 * (xi - xm2);
    const V cvar2 = cvar1 + tmp2 * (yi - ym2);

    fbw = P::sel(take, fbw2, fbw);
    xm = P::sel(take, xm2, xm);
    ym = P::sel(take, ym2, ym);
    var = P::sel(take, var2, var);
    cvar = P::sel(take, cvar2, cvar);
  }
};

// With equal weights (kEqualW) the weight of every point is w(1), to the bit,
// so it is not fetched.
template <int L, bool kEqualW>
TAVEL_INLINE void ReadPoints(const Kernel& k, const Lanes& g, int pos, typename Pack<L>::V& xv,
                             typename Pack<L>::V& yv, typename Pack<L>::V& wv) {
  using P = Pack<L>;
  int idx[kMaxLanes];
  for (int l = 0; l < L; ++l) idx[l] = pos + g.off[l];
  xv = P::gather(k.x, idx);
  xv = P::sel(P::mask(g.lower), xv - P::splat(1.0), xv);
  yv = P::gather(k.y, idx);
  wv = kEqualW ? P::splat(k.w0) : P::gather(k.w, idx);
}

// Positions where some lane changes how it reads: each lane's cut points,
// within [lo, hi + 1], sorted. The list is kept sorted as it grows: for at
// most 2 * kMaxLanes + 2 entries an insertion does all a sort would (and
// std::sort's unrolled final pass, sized for 16 entries, makes GCC at -O3
// warn about reading past this short array).
TAVEL_INLINE int Cuts(int lo, int hi, const int* lane_cuts, int ncuts, int* out) {
  int m = 0;
  out[m++] = lo;
  for (int c = 0; c < ncuts; ++c) {
    const int cut = lane_cuts[c];
    if (cut <= lo || cut > hi) continue;
    int i = m++;
    for (; out[i - 1] > cut; --i) out[i] = out[i - 1];  // stops at out[0] = lo < cut
    out[i] = cut;
  }
  out[m++] = hi + 1;
  return m;
}

// The first window of every lane: points 1..2*ibw+1, or -ibw..ibw wrapped
// for a periodic fit.
template <int L, bool kPeriodic, bool kEqualW>
TAVEL_INLINE void FirstWindowsBody(const Kernel& k) {
  using P = Pack<L>;
  Windows<L> win(k.state);
  int max_it = 0;
  int lane_cuts[2 * kMaxLanes];
  int ncuts = 0;
  for (int l = 0; l < L; ++l) {
    max_it = std::max(max_it, 2 * k.ibw[l] + 1);
    lane_cuts[ncuts++] = 2 * k.ibw[l] + 2;             // lane l has taken all its points
    if (kPeriodic) lane_cuts[ncuts++] = k.ibw[l] + 2;  // its points stop wrapping
  }
  int cuts[2 * kMaxLanes + 2];
  const int m = Cuts(1, max_it, lane_cuts, ncuts, cuts);
  for (int c = 0; c + 1 < m; ++c) {
    const int first = cuts[c];
    const int last = cuts[c + 1] - 1;
    if (first > last) continue;
    Lanes g{};
    for (int l = 0; l < L; ++l) {
      g.active[l] = first <= 2 * k.ibw[l] + 1 ? -1 : 0;
      g.off[l] = kPeriodic ? -k.ibw[l] - 1 : 0;
      if (kPeriodic && first - k.ibw[l] - 1 < 1) {
        g.off[l] += k.n;
        g.lower[l] = -1;
      }
      if (!g.active[l]) g.off[l] = 1 - first;  // any valid point; not taken
    }
    const auto take = P::mask(g.active);
    for (int i = first; i <= last; ++i) {
      typename P::V xv, yv, wv;
      ReadPoints<L, kEqualW>(k, g, i, xv, yv, wv);
      win.add(xv, yv, wv, take);
    }
  }
  win.save(k.state);
}

template <int L, bool kPeriodic, bool kResiduals, bool kEqualW>
TAVEL_INLINE void StepsBody(const Kernel& k, int from, int to) {
  using P = Pack<L>;
  using V = typename P::V;
  Windows<L> win(k.state);
  const V zero = P::splat(0.0);
  const V one = P::splat(1.0);
  const V vsml = P::splat(k.vsmlsp);
  // A lane changes how its window moves only at ibw + 2 (its out point stops
  // wrapping, or it starts sliding) and at n - ibw + 1 (its in point starts
  // wrapping, or it stops sliding).
  int lane_cuts[2 * kMaxLanes];
  int ncuts = 0;
  for (int l = 0; l < L; ++l) {
    lane_cuts[ncuts++] = k.ibw[l] + 2;
    lane_cuts[ncuts++] = k.n - k.ibw[l] + 1;
  }
  int cuts[2 * kMaxLanes + 2];
  const int m = Cuts(from, to, lane_cuts, ncuts, cuts);
  for (int c = 0; c + 1 < m; ++c) {
    const int first = cuts[c];
    const int last = cuts[c + 1] - 1;
    if (first > last) continue;
    Movement g{};
    for (int l = 0; l < L; ++l) {
      const int out = first - k.ibw[l] - 1;
      const int in = first + k.ibw[l];
      g.out.off[l] = -k.ibw[l] - 1;
      g.in.off[l] = k.ibw[l];
      g.out.active[l] = -1;
      if (kPeriodic) {
        if (out < 1) {
          g.out.off[l] += k.n;
          g.out.lower[l] = -1;
        } else if (in > k.n) {
          g.in.off[l] -= k.n;
          g.in_raised[l] = -1;
        }
      } else if (!(out >= 1 && in <= k.n)) {
        g.out.off[l] = 0;
        g.in.off[l] = 0;
        g.out.active[l] = 0;
      }
    }
    const auto take = P::mask(g.out.active);
    const auto raise = P::mask(g.in_raised);
    for (int j = first; j <= last; ++j) {
      V xo, yo, wo, xi, yi, wi;
      ReadPoints<L, kEqualW>(k, g.out, j, xo, yo, wo);
      ReadPoints<L, kEqualW>(k, g.in, j, xi, yi, wi);
      xi = P::sel(raise, xi + one, xi);
      win.slide(xo, yo, wo, xi, yi, wi, take);

      const auto sloped = win.var > vsml;
      const V a = P::sel(sloped, win.cvar / win.var, zero);
      const V dx = P::splat(k.x[j]) - win.xm;
      const V smo = a * dx + win.ym;
      if (kResiduals) {
        V h = P::sel(win.fbw > zero, one / win.fbw, zero);
        h = P::sel(sloped, h + dx * dx / win.var, h);
        const V d = one - P::splat(kEqualW ? k.w0 : k.w[j]) * h;
        int idx[kMaxLanes] = {j, j, j, j};
        const V r = P::abs(P::gather(k.y, idx) - smo) / d;
        win.prev = P::sel(d > zero, r, win.prev);
        for (int l = 0; l < k.count; ++l) {
          k.smo[l][j] = P::lane(smo, l);
          k.acvr[l][j] = P::lane(win.prev, l);
        }
      } else {
        for (int l = 0; l < k.count; ++l) k.smo[l][j] = P::lane(smo, l);
      }
    }
  }
  win.save(k.state);
}

// Each kernel is compiled for the processor family at hand; on x86-64 also
// with AVX2, whose wider vectors divide four lanes at once, the choice being
// made at run time. (A resolver run by the loader would be simpler, but it
// runs before instrumented builds have set themselves up.) Elsewhere the
// compiler maps the four lanes onto the vectors it has (two NEON registers on
// ARM64) or onto plain doubles; every path does the same operations per
// lane, so the results agree to the last bit.
template <int L, bool kPeriodic, bool kEqualW>
void FirstWindowsBase(const Kernel& k) {
  FirstWindowsBody<L, kPeriodic, kEqualW>(k);
}

template <int L, bool kPeriodic, bool kResiduals, bool kEqualW>
void StepsBase(const Kernel& k, int from, int to) {
  StepsBody<L, kPeriodic, kResiduals, kEqualW>(k, from, to);
}

#if defined(__x86_64__)
template <int L, bool kPeriodic, bool kEqualW>
__attribute__((target("avx2"))) void FirstWindowsAvx2(const Kernel& k) {
  FirstWindowsBody<L, kPeriodic, kEqualW>(k);
}

template <int L, bool kPeriodic, bool kResiduals, bool kEqualW>
__attribute__((target("avx2"))) void StepsAvx2(const Kernel& k, int from, int to) {
  StepsBody<L, kPeriodic, kResiduals, kEqualW>(k, from, to);
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

template <int L, bool kPeriodic, bool kEqualW>
void FirstWindows(const Kernel& k) {
#if defined(__x86_64__)
  if (HasAvx2()) {
    FirstWindowsAvx2<L, kPeriodic, kEqualW>(k);
    return;
  }
#endif
  FirstWindowsBase<L, kPeriodic, kEqualW>(k);
}

template <int L, bool kPeriodic, bool kResiduals, bool kEqualW>
void Steps(const Kernel& k, int from, int to) {
#if defined(__x86_64__)
  if (HasAvx2()) {
    StepsAvx2<L, kPeriodic, kResiduals, kEqualW>(k, from, to);
    return;
  }
#endif
  StepsBase<L, kPeriodic, kResiduals, kEqualW>(k, from, to);
}

// The kernel for the sweep's periodicity, residuals and weights.
template <int L, bool kPeriodic, bool kResiduals>
void StepsFor(const Kernel& k, int from, int to, bool equal_w) {
  if (equal_w) {
    Steps<L, kPeriodic, kResiduals, true>(k, from, to);
  } else {
    Steps<L, kPeriodic, kResiduals, false>(k, from, to);
  }
}

template <int L, bool kPeriodic>
void FirstWindowsFor(const Kernel& k, bool equal_w) {
  if (equal_w) {
    FirstWindows<L, kPeriodic, true>(k);
  } else {
    FirstWindows<L, kPeriodic, false>(k);
  }
}

}  // namespace

RunningLineSweep::RunningLineSweep(int n, const double* x, const double* w, int jper,
                                   bool residuals, double vsmlsp, const RunningLineLane* lanes,
                                   int count, bool ties, bool equal_weights, const TieMarks* groups)
    : n_(n),
      x_(x),
      w_(w),
      jper_(jper),
      residuals_(residuals),
      vsmlsp_(vsmlsp),
      count_(count),
      ties_(ties),
      equal_weights_(equal_weights),
      groups_(groups) {
  for (int l = 0; l < kMaxLanes; ++l) {
    // Unused lanes repeat the first one; their results are not stored.
    const RunningLineLane& lane = lanes[l < count ? l : 0];
    ibw_[l] = running_line_half_width(n, lane.span);
    y_[l] = lane.y;
    smo_[l] = lane.smo;
    acvr_[l] = lane.acvr;
  }
}

int RunningLineSweep::needs(int j) const {
  if (jper_ == 2) return n_;
  int need = j;
  for (int l = 0; l < count_; ++l) need = std::max({need, 2 * ibw_[l] + 1, j + ibw_[l]});
  return std::min(need, n_);
}

int RunningLineSweep::reads_from() const {
  if (next_ > n_) return n_ + 1;
  int widest = 0;
  for (int l = 0; l < count_; ++l) widest = std::max(widest, ibw_[l]);
  // The next step's out point is the lowest any later step reads.
  return std::max(1, next_ - widest - 1);
}

template <int L>
void RunningLineSweep::run(int from, int to) {
  Kernel k;
  k.n = n_;
  k.x = x_ - 1;
  k.w = w_ - 1;
  k.w0 = w_[0];
  k.vsmlsp = vsmlsp_;
  k.count = count_;
  for (int l = 0; l < kMaxLanes; ++l) {
    k.ibw[l] = ibw_[l];
    k.y[l] = y_[l] - 1;
    k.smo[l] = smo_[l] - 1;
    k.acvr[l] = acvr_[l] != nullptr ? acvr_[l] - 1 : nullptr;
  }
  k.state = state_;
  const bool periodic = jper_ == 2;
  if (!started_) {
    if (periodic) {
      FirstWindowsFor<L, true>(k, equal_weights_);
    } else {
      FirstWindowsFor<L, false>(k, equal_weights_);
    }
    started_ = true;
  }
  if (from > to) return;
  if (periodic) {
    if (residuals_) {
      StepsFor<L, true, true>(k, from, to, equal_weights_);
    } else {
      StepsFor<L, true, false>(k, from, to, equal_weights_);
    }
  } else {
    if (residuals_) {
      StepsFor<L, false, true>(k, from, to, equal_weights_);
    } else {
      StepsFor<L, false, false>(k, from, to, equal_weights_);
    }
  }
}

int RunningLineSweep::advance(int last) {
  last = std::min(last, n_);
  if (count_ == 1) {
    run<1>(next_, last);
  } else {
    run<4>(next_, last);
  }
  if (last >= next_) next_ = last + 1;
  if (groups_ != nullptr) {
    average_listed_groups();
  } else if (!ties_) {
    final_ = next_ - 1;
  } else {
    average_complete_groups();
  }
  return final_;
}

// Same sums as average_ties for the group first..last.
void RunningLineSweep::average_group(int first, int last) {
  const double* w = w_ - 1;
  for (int l = 0; l < count_; ++l) {
    double* smo = smo_[l] - 1;
    double sw = 0.0;
    double swy = 0.0;
    for (int t = first; t <= last; ++t) {
      sw += w[t];
      swy += w[t] * smo[t];
    }
    const double mean = sw > 0.0 ? swy / sw : 0.0;
    for (int t = first; t <= last; ++t) smo[t] = mean;
  }
}

// Same groups as average_ties, one complete group at a time.
void RunningLineSweep::average_complete_groups() {
  const double* x = x_ - 1;
  for (int j = scanned_; j < next_; ++j) {
    if (j < n_ && x[j + 1] <= x[j]) continue;
    if (j > group_start_) average_group(group_start_, j);
    group_start_ = j + 1;
  }
  scanned_ = next_;
  final_ = group_start_ - 1;
}

// The same from the marked groups: those produced to their last point are
// averaged, and the outputs are final up to the start of the one still open.
void RunningLineSweep::average_listed_groups() {
  const int produced = next_ - 1;
  if (!pending_known_) {
    pending_ = groups_->next_group(1);
    pending_known_ = true;
  }
  while (pending_.first != 0 && pending_.last <= produced) {
    average_group(pending_.first, pending_.last);
    pending_ = groups_->next_group(pending_.last + 1);
  }
  final_ = pending_.first != 0 && pending_.first <= produced ? pending_.first - 1 : produced;
}

TieMarks::TieMarks(int n, const double* x) : n_(n) {
  bits_.assign(static_cast<std::size_t>(n) / 64 + 1, 0);
  for (int i = 0; i + 1 < n; ++i) {
    const std::uint64_t tie = x[i + 1] <= x[i] ? 1 : 0;
    bits_[static_cast<std::size_t>(i) / 64] |= tie << (i % 64);
  }
  any_ = std::any_of(bits_.begin(), bits_.end(), [](std::uint64_t w) { return w != 0; });
}

int TieMarks::next_bit(int i, bool set) const {
  if (i >= n_) return n_;
  std::size_t w = static_cast<std::size_t>(i) / 64;
  std::uint64_t word = set ? bits_[w] : ~bits_[w];
  word &= ~std::uint64_t{0} << (i % 64);
  while (word == 0) {
    if (++w >= bits_.size()) return n_;
    word = set ? bits_[w] : ~bits_[w];
  }
  return std::min(n_, static_cast<int>(w * 64) + std::countr_zero(word));
}

TieGroup TieMarks::next_group(int from) const {
  const int a = next_bit(from - 1, true);
  if (a >= n_) return {};
  // The last point of a group is the first whose bit is clear; the last
  // point of the data never ties with a next one.
  const int b = next_bit(a, false);
  return {a + 1, b + 1};
}

void running_line_lanes(int n, const double* x, const double* w, int jper, bool residuals,
                        double vsmlsp, const RunningLineLane* lanes, int count, bool ties) {
  RunningLineSweep sweep(n, x, w, jper, residuals, vsmlsp, lanes, count, ties);
  sweep.advance(n);
}

}  // namespace tavel::ace
