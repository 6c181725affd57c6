// SPDX-License-Identifier: GPL-3.0-or-later
// Up to four running-line smooths over the same abscissa, weights and
// periodicity, computed together in one sweep: the windows' divisions of the
// different smooths then share vector instructions. Every lane performs
// exactly the floating-point operations of running_line_smooth, so its
// results are the same to the last bit. A sweep can be advanced in pieces,
// so that another thread may consume what it has finished.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavel::ace {

struct RunningLineLane {
  const double* y = nullptr;  // ordinate (n)
  double span = 0.0;
  double* smo = nullptr;   // out (n)
  double* acvr = nullptr;  // out (n) when residuals are asked for
};

inline constexpr int kMaxLanes = 4;

// A run of equal neighbouring abscissae (x(j+1) <= x(j) for j = first ..
// last-1), 1-based, of at least two points; first 0: none.
struct TieGroup {
  int first = 0;
  int last = 0;
};

// The tie groups of a sorted abscissa as one bit per point (whether it ties
// with the next): the sweeps over one abscissa share them instead of each
// testing every neighbour again, at an eighth of a byte a point.
class TieMarks {
 public:
  TieMarks() = default;
  TieMarks(int n, const double* x);
  bool empty() const { return !any_; }
  // The first group that begins at point `from` (1-based) or later.
  TieGroup next_group(int from) const;

 private:
  // The first point index (0-based) at or after i whose bit is `set`.
  int next_bit(int i, bool set) const;

  int n_ = 0;
  bool any_ = false;
  std::vector<std::uint64_t> bits_;
};

class RunningLineSweep {
 public:
  // jper: 2 periodic, anything else plain. residuals: fill each lane's acvr
  // (as running_line_smooth does for a positive iper). ties: whether some
  // neighbouring abscissae are equal (x(j+1) <= x(j)); without ties the
  // averaging over equal abscissae has nothing to do. equal_weights: every
  // w(j) has the bits of w(1), so the windows need not fetch them.
  // groups: the abscissa's tie groups, or null, and the sweep finds them
  // itself where ties is true; it must outlive the sweep.
  RunningLineSweep(int n, const double* x, const double* w, int jper, bool residuals, double vsmlsp,
                   const RunningLineLane* lanes, int count, bool ties, bool equal_weights = false,
                   const TieMarks* groups = nullptr);

  // The highest input point read before the outputs of point j exist (a
  // periodic sweep reads the far end at once).
  int needs(int j) const;

  // The lowest input point that producing the remaining outputs may still
  // read (n + 1 when the sweep is complete); a plain sweep only.
  int reads_from() const;

  // Produces the outputs up to point last (in order, continuing where the
  // previous call stopped) and returns the last point whose outputs are final:
  // tied abscissae get their common value only when their group is complete.
  int advance(int last);

 private:
  template <int L>
  void run(int from, int to);
  void average_complete_groups();
  void average_listed_groups();
  void average_group(int first, int last);

  int n_;
  const double* x_;
  const double* w_;
  int jper_;
  bool residuals_;
  double vsmlsp_;
  int count_;
  bool ties_;
  bool equal_weights_;
  const TieMarks* groups_;
  TieGroup pending_{};  // the first marked group not yet averaged
  bool pending_known_ = false;
  int ibw_[kMaxLanes];
  const double* y_[kMaxLanes];
  double* smo_[kMaxLanes];
  double* acvr_[kMaxLanes];
  // Window state per lane: weight sum, means of x and y, sums of squares and
  // cross products, and the last cross-validation residual.
  double state_[6][kMaxLanes] = {};
  bool started_ = false;
  int next_ = 1;         // next point to produce
  int scanned_ = 1;      // next point to test for the end of a tie group
  int group_start_ = 1;  // first point of the open tie group
  int final_ = 0;
};

// Runs a whole sweep at once.
void running_line_lanes(int n, const double* x, const double* w, int jper, bool residuals,
                        double vsmlsp, const RunningLineLane* lanes, int count, bool ties);

}  // namespace tavel::ace
