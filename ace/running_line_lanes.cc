#include "ace/running_line_lanes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ace/running_line.h"

namespace tavel::ace {

// The vector helpers below are always inlined, so no vector ever crosses a
// call boundary; the note about the vector calling convention does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

typedef double V4 __attribute__((vector_size(32)));
typedef std::int64_t M4 __attribute__((vector_size(32)));

#define TAVEL_INLINE inline __attribute__((always_inline))

TAVEL_INLINE V4 Load(const double* p) {
  V4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

TAVEL_INLINE V4 Splat(double d) { return V4{d, d, d, d}; }

TAVEL_INLINE V4 Select(M4 mask, V4 a, V4 b) { return mask ? a : b; }

TAVEL_INLINE V4 Abs(V4 v) {
  const M4 bits = __builtin_bit_cast(M4, v) & M4{INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX};
  return __builtin_bit_cast(V4, bits);
}

// Window state of four lanes; the same update as LineWindow, lane by lane.
struct Windows {
  V4 fbw, xm, ym, var, cvar;
};

struct Sweep {
  int n;
  const double* x;  // 1-based access through x[j - 1]
  const double* w;
  double vsmlsp;
  int ibw[kMaxLanes];
  const double* y[kMaxLanes];
  double* smo[kMaxLanes];
  double* acvr[kMaxLanes];
  int count;
};

// How each lane's window moves over a stretch of points: the out and in
// points are j + out_off and j + in_off; a wrapped out point is read one
// period lower, a wrapped in point one period higher; a lane that does not
// move (near the ends of a plain fit) keeps its window.
struct Segment {
  int out_off[kMaxLanes];
  int in_off[kMaxLanes];
  M4 out_wraps;
  M4 in_wraps;
  M4 moves;
};

// Moves every lane's window to be centred on point j and writes the lanes'
// smooths (and residuals) for j.
template <bool kResiduals>
TAVEL_INLINE void Step(const Sweep& s, const Segment& g, int j, Windows& win, V4& prev) {
  const double* x = s.x - 1;
  const double* w = s.w - 1;
  // Vectors are built from scalars directly: writing lanes to memory and
  // reading them back as one vector would stall on every point.
  int out[kMaxLanes], in[kMaxLanes];
  for (int l = 0; l < kMaxLanes; ++l) {
    out[l] = j + g.out_off[l];
    in[l] = j + g.in_off[l];
  }
  const double* y0 = s.y[0] - 1;
  const double* y1 = s.y[1] - 1;
  const double* y2 = s.y[2] - 1;
  const double* y3 = s.y[3] - 1;
  const V4 one = Splat(1.0);
  const V4 zero = Splat(0.0);
  V4 vxo = V4{x[out[0]], x[out[1]], x[out[2]], x[out[3]]};
  vxo = Select(g.out_wraps, vxo - one, vxo);
  const V4 vwo = V4{w[out[0]], w[out[1]], w[out[2]], w[out[3]]};
  const V4 vyo = V4{y0[out[0]], y1[out[1]], y2[out[2]], y3[out[3]]};
  V4 vxi = V4{x[in[0]], x[in[1]], x[in[2]], x[in[3]]};
  vxi = Select(g.in_wraps, vxi + one, vxi);
  const V4 vwi = V4{w[in[0]], w[in[1]], w[in[2]], w[in[3]]};
  const V4 vyi = V4{y0[in[0]], y1[in[1]], y2[in[2]], y3[in[3]]};

  // Remove the point leaving the window.
  const V4 fbo = win.fbw;
  const V4 fbw1 = win.fbw - vwo;
  const M4 pos1 = fbw1 > zero;
  const V4 tmp1 = Select(pos1, fbo * vwo * (vxo - win.xm) / fbw1, zero);
  const V4 var1 = win.var - tmp1 * (vxo - win.xm);
  const V4 cvar1 = win.cvar - tmp1 * (vyo - win.ym);
  const V4 xm1 = Select(pos1, (fbo * win.xm - vwo * vxo) / fbw1, win.xm);
  const V4 ym1 = Select(pos1, (fbo * win.ym - vwo * vyo) / fbw1, win.ym);

  // Add the point entering it.
  const V4 fbw2 = fbw1 + vwi;
  const M4 pos2 = fbw2 > zero;
  const V4 xm2 = Select(pos2, (fbw1 * xm1 + vwi * vxi) / fbw2, xm1);
  const V4 ym2 = Select(pos2, (fbw1 * ym1 + vwi * vyi) / fbw2, ym1);
  const V4 tmp2 = Select(fbw1 > zero, fbw2 * vwi * (vxi - xm2) / fbw1, zero);
  const V4 var2 = var1 + tmp2 * (vxi - xm2);
  const V4 cvar2 = cvar1 + tmp2 * (vyi - ym2);

  win.fbw = Select(g.moves, fbw2, win.fbw);
  win.xm = Select(g.moves, xm2, win.xm);
  win.ym = Select(g.moves, ym2, win.ym);
  win.var = Select(g.moves, var2, win.var);
  win.cvar = Select(g.moves, cvar2, win.cvar);

  const V4 vsml = Splat(s.vsmlsp);
  const M4 sloped = win.var > vsml;
  const V4 a = Select(sloped, win.cvar / win.var, zero);
  const V4 dx = Splat(x[j]) - win.xm;
  const V4 smo = a * dx + win.ym;
  if (kResiduals) {
    V4 h = Select(win.fbw > zero, one / win.fbw, zero);
    h = Select(sloped, h + dx * dx / win.var, h);
    const V4 d = one - Splat(w[j]) * h;
    const V4 yj = V4{y0[j], y1[j], y2[j], y3[j]};
    const V4 r = Abs(yj - smo) / d;
    prev = Select(d > zero, r, prev);
    for (int l = 0; l < s.count; ++l) {
      s.smo[l][j - 1] = smo[l];
      s.acvr[l][j - 1] = prev[l];
    }
  } else {
    for (int l = 0; l < s.count; ++l) s.smo[l][j - 1] = smo[l];
  }
}

template <bool kPeriodic, bool kResiduals>
__attribute__((target_clones("avx2", "default"))) void Sweep4(const Sweep& s, const double* first) {
  // first: the lanes' starting window state, 5 values per lane.
  Windows win;
  alignas(32) double f[5][4];
  for (int l = 0; l < kMaxLanes; ++l) {
    for (int k = 0; k < 5; ++k) f[k][l] = first[5 * l + k];
  }
  win.fbw = Load(f[0]);
  win.xm = Load(f[1]);
  win.ym = Load(f[2]);
  win.var = Load(f[3]);
  win.cvar = Load(f[4]);
  V4 prev = Splat(0.0);

  // A lane changes how its window moves only at j = ibw + 2 (its out point
  // stops wrapping, or it starts sliding) and at j = n - ibw + 1 (its in
  // point starts wrapping, or it stops sliding).
  int cuts[2 * kMaxLanes + 2];
  int ncuts = 0;
  cuts[ncuts++] = 1;
  cuts[ncuts++] = s.n + 1;
  for (int l = 0; l < kMaxLanes; ++l) {
    cuts[ncuts++] = s.ibw[l] + 2;
    cuts[ncuts++] = s.n - s.ibw[l] + 1;
  }
  std::sort(cuts, cuts + ncuts);
  for (int c = 0; c + 1 < ncuts; ++c) {
    const int first_j = cuts[c] < 1 ? 1 : cuts[c];
    const int last_j = (cuts[c + 1] > s.n + 1 ? s.n + 1 : cuts[c + 1]) - 1;
    if (first_j > last_j) continue;
    Segment g{};
    std::int64_t ow[kMaxLanes], iw[kMaxLanes], mv[kMaxLanes];
    for (int l = 0; l < kMaxLanes; ++l) {
      const int out = first_j - s.ibw[l] - 1;
      const int in = first_j + s.ibw[l];
      g.out_off[l] = -s.ibw[l] - 1;
      g.in_off[l] = s.ibw[l];
      ow[l] = 0;
      iw[l] = 0;
      mv[l] = -1;
      if (kPeriodic) {
        if (out < 1) {
          g.out_off[l] += s.n;
          ow[l] = -1;
        } else if (in > s.n) {
          g.in_off[l] -= s.n;
          iw[l] = -1;
        }
      } else if (!(out >= 1 && in <= s.n)) {
        g.out_off[l] = 0;
        g.in_off[l] = 0;
        mv[l] = 0;
      }
    }
    g.out_wraps = M4{ow[0], ow[1], ow[2], ow[3]};
    g.in_wraps = M4{iw[0], iw[1], iw[2], iw[3]};
    g.moves = M4{mv[0], mv[1], mv[2], mv[3]};
    for (int j = first_j; j <= last_j; ++j) Step<kResiduals>(s, g, j, win, prev);
  }
}

}  // namespace

void running_line_lanes(int n, const double* x_data, const double* w_data, int jper, bool residuals,
                        double vsmlsp, const RunningLineLane* lanes, int count) {
  Sweep s;
  s.n = n;
  s.x = x_data;
  s.w = w_data;
  s.vsmlsp = vsmlsp;
  s.count = count;
  double first[5 * kMaxLanes];
  const double* x = x_data - 1;
  const double* w = w_data - 1;
  for (int l = 0; l < kMaxLanes; ++l) {
    // Unused lanes repeat the first one; their results are not stored.
    const RunningLineLane& lane = lanes[l < count ? l : 0];
    s.y[l] = lane.y;
    s.smo[l] = lane.smo;
    s.acvr[l] = lane.acvr;
    s.ibw[l] = running_line_half_width(n, lane.span);
    const int ibw = s.ibw[l];
    const double* y = lane.y - 1;
    LineWindow win;
    for (int i = 1; i <= 2 * ibw + 1; ++i) {
      int j = jper == 2 ? i - ibw - 1 : i;
      double xt = 0.0;
      if (j < 1) {
        j = n + j;
        xt = x[j] - 1.0;
      } else {
        xt = x[j];
      }
      win.add(xt, y[j], w[j]);
    }
    first[5 * l + 0] = win.fbw;
    first[5 * l + 1] = win.xm;
    first[5 * l + 2] = win.ym;
    first[5 * l + 3] = win.var;
    first[5 * l + 4] = win.cvar;
  }
  if (jper == 2) {
    if (residuals) {
      Sweep4<true, true>(s, first);
    } else {
      Sweep4<true, false>(s, first);
    }
  } else {
    if (residuals) {
      Sweep4<false, true>(s, first);
    } else {
      Sweep4<false, false>(s, first);
    }
  }

  for (int l = 0; l < count; ++l) average_ties(n, x_data, w_data, lanes[l].smo);
}

}  // namespace tavel::ace
