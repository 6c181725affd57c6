// SPDX-License-Identifier: GPL-3.0-or-later
#include "ace/helpers.h"

#include <cmath>
#include <utility>

#include "ace/helper_thread.h"
#include "ace/view.h"

namespace tavel::ace {

namespace {

// Pending segments of the quicksort. The longer part of every partition is
// the one stacked, so the depth stays below log2 of the length; 64 entries
// cover any int length with room to spare.
constexpr int kStackSize = 64;

}  // namespace

void sort_with_index(double* v_data, int* a_data, int ii, int jj) {
  Vec1<double> v(v_data);
  Vec1<int> a(a_data);
  int il[kStackSize + 1];
  int iu[kStackSize + 1];
  auto exchange = [&](int p, int q) {
    std::swap(v(p), v(q));
    std::swap(a(p), a(q));
  };

  int lev = 1;
  int i = ii;
  int j = jj;
  int k = 0;
  int l = 0;
  double vt = 0.0;

  // The labels follow the numbered steps of the method: partition (step 3),
  // pop (step 6), choose what to do with the current segment (step 7).
  enum class Next { kCheck, kPartition, kPop, kSegment };
  Next next = Next::kCheck;
  for (;;) {
    switch (next) {
      case Next::kCheck:
        next = i >= j ? Next::kPop : Next::kPartition;
        break;

      case Next::kPartition: {
        k = i;
        const int ij = (i + j) / 2;
        vt = v(ij);
        if (v(i) > vt) {
          exchange(i, ij);
          vt = v(ij);
        }
        l = j;
        if (v(j) < vt) {
          exchange(j, ij);
          vt = v(ij);
          if (v(i) > vt) {
            exchange(i, ij);
            vt = v(ij);
          }
        }
        for (;;) {
          do {
            --l;
          } while (v(l) > vt);
          do {
            ++k;
          } while (v(k) < vt);
          if (k > l) break;
          exchange(k, l);
        }
        if (l - i > j - k) {
          il[lev] = i;
          iu[lev] = l;
          i = k;
        } else {
          il[lev] = k;
          iu[lev] = j;
          j = l;
        }
        ++lev;
        next = Next::kSegment;
        break;
      }

      case Next::kPop:
        --lev;
        if (lev == 0) return;
        i = il[lev];
        j = iu[lev];
        next = Next::kSegment;
        break;

      case Next::kSegment:
        if (j - i > 10) {
          next = Next::kPartition;
          break;
        }
        if (i == ii) {
          next = Next::kCheck;
          break;
        }
        // Straight insertion of a short segment that is not the first one:
        // everything left of it is no greater than its elements. Equal
        // elements are shifted past the one being inserted; the first
        // position of the range is never shifted.
        for (int q = i; q < j; ++q) {
          if (v(q) > v(q + 1)) {
            const double lifted = v(q + 1);
            const int lifted_a = a(q + 1);
            int t = q;
            v(t + 1) = v(t);
            a(t + 1) = a(t);
            --t;
            while (t > ii && v(t) >= lifted) {
              v(t + 1) = v(t);
              a(t + 1) = a(t);
              --t;
            }
            v(t + 1) = lifted;
            a(t + 1) = lifted_a;
          }
        }
        next = Next::kPop;
        break;
    }
  }
}

namespace {

// Two jobs at once: job(0) on this thread and job(1) on the helper.
template <typename Job>
void on_both(HelperThread& helper, Job&& job) {
  auto second = [&] { job(1); };
  helper.start(second);
  job(0);
  helper.wait();
}

// The points 1..n in two halves, one per thread.
template <typename Part>
void in_halves(HelperThread& helper, int n, Part&& part) {
  on_both(helper, [&](int side) { side == 0 ? part(n / 2 + 1, n) : part(1, n / 2); });
}

// sum_j r(j) tx(j,i) in the order of j, for the columns side+1, side+3, ...
// of tx, four columns to a pass over r; into sc(i, 2).
void gradient_columns(int side, int n, int p, Vec1<const double> r, Mat1<double> tx,
                      Mat1<double> sc) {
  int cols[4];
  int count = 0;
  auto pass = [&] {
    double g[4] = {0.0, 0.0, 0.0, 0.0};
    const double* t[4];
    for (int k = 0; k < count; ++k) t[k] = tx.col(cols[k]);
    if (count == 4) {
      for (int j = 1; j <= n; ++j) {
        const double rj = r(j);
        g[0] += rj * t[0][j - 1];
        g[1] += rj * t[1][j - 1];
        g[2] += rj * t[2][j - 1];
        g[3] += rj * t[3][j - 1];
      }
    } else {
      for (int j = 1; j <= n; ++j)
        for (int k = 0; k < count; ++k) g[k] += r(j) * t[k][j - 1];
    }
    for (int k = 0; k < count; ++k) sc(cols[k], 2) = g[k];
    count = 0;
  };
  for (int i = side + 1; i <= p; i += 2) {
    cols[count++] = i;
    if (count == 4) pass();
  }
  if (count > 0) pass();
}

}  // namespace

void scale_predictors(int n, int p, int ld, const double* w_data, double sw, const double* ty_data,
                      double* tx_data, double eps, int maxit, double* r_data, double* sc_data,
                      HelperThread* helper, double* u_data) {
  Vec1<const double> w(w_data);
  Vec1<const double> ty(ty_data);
  Mat1<double> tx(tx_data, ld);
  Vec1<double> r(r_data);
  Vec1<double> u_of(u_data);
  const bool split = helper != nullptr && u_data != nullptr;
  // Rows of sc are predictors, so its row count is p, never ld: with more
  // predictors than observations a row count of ld would make the columns
  // overlap and run past the caller's storage.
  Mat1<double> sc(sc_data, p);
  // sc columns: 1 coefficients c, 2 gradient g, 3 direction d, 4 previous
  // direction, 5 coefficients at the start of the restart.
  for (int i = 1; i <= p; ++i) sc(i, 1) = 0.0;
  int nit = 0;
  double h = 0.0;  // squared gradient norm of the previous step
  for (;;) {
    ++nit;
    for (int i = 1; i <= p; ++i) sc(i, 5) = sc(i, 1);
    for (int s = 1; s <= p; ++s) {
      // Residuals and gradient in one sweep; every gradient component still
      // sums its terms in observation order.
      for (int i = 1; i <= p; ++i) sc(i, 2) = 0.0;
      if (split) {
        // The residuals point by point, then each gradient component as
        // its own sum, the components shared between the threads.
        in_halves(*helper, n, [&](int first, int last) {
          for (int j = first; j <= last; ++j) {
            double fit = 0.0;
            for (int i = 1; i <= p; ++i) fit += sc(i, 1) * tx(j, i);
            r(j) = (ty(j) - fit) * w(j);
          }
        });
        on_both(*helper, [&](int side) {
          gradient_columns(side, n, p, Vec1<const double>(r_data), tx, sc);
        });
      } else {
        for (int j = 1; j <= n; ++j) {
          double fit = 0.0;
          for (int i = 1; i <= p; ++i) fit += sc(i, 1) * tx(j, i);
          const double rj = (ty(j) - fit) * w(j);
          r(j) = rj;
          for (int i = 1; i <= p; ++i) sc(i, 2) += rj * tx(j, i);
        }
      }
      double q = 0.0;
      for (int i = 1; i <= p; ++i) {
        sc(i, 2) = -2.0 * sc(i, 2) / sw;
        q += sc(i, 2) * sc(i, 2);
      }
      if (q <= 0.0) break;
      if (s == 1) {
        for (int i = 1; i <= p; ++i) sc(i, 3) = -sc(i, 2);
      } else {
        for (int i = 1; i <= p; ++i) sc(i, 3) = (q / h) * sc(i, 4) - sc(i, 2);
      }
      h = q;
      double num = 0.0;
      double den = 0.0;
      if (split) {
        // The direction's values point by point, then the two sums, one a thread.
        in_halves(*helper, n, [&](int first, int last) {
          for (int j = first; j <= last; ++j) {
            double u = 0.0;
            for (int i = 1; i <= p; ++i) u += sc(i, 3) * tx(j, i);
            u_of(j) = u;
          }
        });
        on_both(*helper, [&](int side) {
          if (side == 0) {
            for (int j = 1; j <= n; ++j) num += u_of(j) * r(j);
          } else {
            for (int j = 1; j <= n; ++j) den += w(j) * (u_of(j) * u_of(j));
          }
        });
      } else {
        for (int j = 1; j <= n; ++j) {
          double u = 0.0;
          for (int i = 1; i <= p; ++i) u += sc(i, 3) * tx(j, i);
          num += u * r(j);
          den += w(j) * (u * u);
        }
      }
      // A direction that no observation with weight sees cannot be
      // followed; stop this restart instead of stepping by 0/0.
      if (!(den > 0.0)) break;
      const double alpha = num / den;
      for (int i = 1; i <= p; ++i) {
        sc(i, 1) += alpha * sc(i, 3);
        sc(i, 4) = sc(i, 3);
      }
    }
    double v = 0.0;
    for (int i = 1; i <= p; ++i) v = std::fmax(v, std::fabs(sc(i, 1) - sc(i, 5)));
    if (!(v >= eps && nit < maxit)) break;
  }
  for (int i = 1; i <= p; ++i) {
    const double c = sc(i, 1);
    for (int j = 1; j <= n; ++j) tx(j, i) = c * tx(j, i);
  }
}

}  // namespace tavel::ace
