// SPDX-License-Identifier: GPL-3.0-or-later
// The window arithmetic of the running-line smoother, shared by the plain
// smoother and by the lane-parallel passes so that both perform exactly the
// same floating-point operations.
#pragma once

namespace tavel::ace {

// Weighted running means and sums of squares of the points in a window.
struct LineWindow {
  double fbw = 0.0;   // weight sum
  double xm = 0.0;    // weighted mean of x
  double ym = 0.0;    // weighted mean of y
  double var = 0.0;   // weighted sum of squares of x about xm
  double cvar = 0.0;  // weighted cross products about (xm, ym)

  void add(double xt, double yt, double wt) {
    const double fbo = fbw;
    fbw = fbw + wt;
    if (fbw > 0.0) {
      xm = (fbo * xm + wt * xt) / fbw;
      ym = (fbo * ym + wt * yt) / fbw;
    }
    const double tmp = fbo > 0.0 ? fbw * wt * (xt - xm) / fbo : 0.0;
    var = var + tmp * (xt - xm);
    cvar = cvar + tmp * (yt - ym);
  }

  void remove(double xo, double yo, double wt) {
    const double fbo = fbw;
    fbw = fbw - wt;
    const double tmp = fbw > 0.0 ? fbo * wt * (xo - xm) / fbw : 0.0;
    var = var - tmp * (xo - xm);
    cvar = cvar - tmp * (yo - ym);
    if (fbw > 0.0) {
      xm = (fbo * xm - wt * xo) / fbw;
      ym = (fbo * ym - wt * yo) / fbw;
    }
  }
};

// Half-width of the window for a span over n points: at least 2, and never
// so wide that a window would hold a point twice (2 * ibw + 1 <= n).
inline int running_line_half_width(int n, double span) {
  const double half = 0.5 * span * n + 0.5;
  int ibw = 2;
  if (half >= n) {
    ibw = n;
  } else if (half > 2.0) {
    ibw = static_cast<int>(half);  // truncation
  }
  if (ibw > (n - 1) / 2) ibw = (n - 1) / 2;
  return ibw;
}

// Gives every maximal group of equal abscissae (x ascending) the weighted
// mean of its smooths; 0 for a group without positive weight.
void average_ties(int n, const double* x, const double* w, double* smo);

}  // namespace tavel::ace
