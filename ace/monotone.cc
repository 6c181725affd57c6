// SPDX-License-Identifier: GPL-3.0-or-later
#include "ace/monotone.h"

#include <cmath>

#include "ace/smoothers.h"
#include "ace/view.h"

namespace tavel::ace {

void monotone_fit(double* v_data, int n) {
  Vec1<double> v(v_data);
  int eb = 0;
  for (;;) {
    if (eb >= n) return;
    int bb = eb + 1;
    eb = bb;
    while (eb < n && v(eb + 1) == v(bb)) ++eb;
    for (;;) {
      if (eb < n && v(eb) > v(eb + 1)) {
        const int br = eb + 1;
        int er = br;
        while (er < n && v(er + 1) == v(br)) ++er;
        const double pooled =
            (static_cast<double>(eb - bb + 1) * v(bb) + static_cast<double>(er - br + 1) * v(br)) /
            static_cast<double>(er - bb + 1);
        for (int t = bb; t <= er; ++t) v(t) = pooled;
        eb = er;
      }
      if (bb > 1 && v(bb - 1) > v(bb)) {
        const int el = bb - 1;
        int bl = el;
        while (bl > 1 && v(bl - 1) == v(el)) --bl;
        const double pooled =
            (static_cast<double>(el - bl + 1) * v(bl) + static_cast<double>(eb - bb + 1) * v(bb)) /
            static_cast<double>(eb - bl + 1);
        for (int t = bl; t <= eb; ++t) v(t) = pooled;
        bb = bl;
        continue;
      }
      break;
    }
  }
}

// The processed prefix 1..bb-1 is kept as a stack of pieces: runs that were
// either written by a pooling (all one value) or left as read (equal values,
// not necessarily the same zero sign). A piece records its first position,
// negated when it was written, and the value at that first position, which is
// what the pooling arithmetic reads. Adjacent pieces may hold equal values;
// the left block of a merge is the maximal equal run, so it pops all of them.
void monotone_fit_pooled(double* v_data, int n, double* starts_data, double* values_data) {
  Vec1<double> v(v_data);
  Vec1<double> starts(starts_data);
  Vec1<double> values(values_data);
  int top = 0;
  int eb = 0;
  while (eb < n) {
    int bb = eb + 1;
    eb = bb;
    double val = v(bb);
    bool written = false;
    while (eb < n && v(eb + 1) == val) ++eb;
    for (;;) {
      if (eb < n && val > v(eb + 1)) {
        const int br = eb + 1;
        const double vbr = v(br);
        int er = br;
        while (er < n && v(er + 1) == vbr) ++er;
        val = (static_cast<double>(eb - bb + 1) * val + static_cast<double>(er - br + 1) * vbr) /
              static_cast<double>(er - bb + 1);
        eb = er;
        written = true;
      }
      if (top > 0 && values(top) > val) {
        const int el = bb - 1;
        const double ref = values(top);
        int bl = 0;
        double vbl = 0.0;
        while (top > 0 && values(top) == ref) {
          const double s = starts(top);
          bl = static_cast<int>(s < 0.0 ? -s : s);
          vbl = values(top);
          --top;
        }
        val = (static_cast<double>(el - bl + 1) * vbl + static_cast<double>(eb - bb + 1) * val) /
              static_cast<double>(eb - bl + 1);
        bb = bl;
        written = true;
        continue;
      }
      break;
    }
    ++top;
    starts(top) = written ? -static_cast<double>(bb) : static_cast<double>(bb);
    values(top) = val;
  }
  for (int piece = 1; piece <= top; ++piece) {
    if (starts(piece) > 0.0) continue;
    const int first = static_cast<int>(-starts(piece));
    const int last = piece < top ? static_cast<int>(std::abs(starts(piece + 1))) - 1 : n;
    for (int t = first; t <= last; ++t) v(t) = values(piece);
  }
}

}  // namespace tavel::ace
