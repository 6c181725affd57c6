// The ACE engine's entry point: optimal transformations of one response and
// up to 30 predictors by alternating conditional expectations. Pure numerics
// on caller-owned column-major arrays; progress and error lines go to a
// caller-provided line sink.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "ace/ace_settings.h"

namespace tavel::ace {

// Receives one text line at a time, without a line terminator.
using LineSink = std::function<void(std::string_view line)>;

// The rsq values of the last NumTerm outer passes; entries 1..NumTerm (index
// 0..NumTerm-1) are reset at every call, the rest keep their values.
using RsqHistory = std::array<double, 10>;

// Error code returned when there are fewer than kMinObservations rows: the
// smoothers cannot work on fewer points.
inline constexpr int kTooFewObservations = 7;
inline constexpr int kMinObservations = 5;

// Estimates the transformations.
//   n, p        observations and predictors
//   x           (ld, p) raw predictor values, x[(i-1)*ld + j-1] is x(j,i)
//   y, w        (n) response and weights
//   l           (p+1) variable codes -5..5; l[p] is the response's code
//   DelRsq      convergence tolerance on rsq
//   tx, ty      (ld, p) and (n) transformations; on entry the starting values
//               of variables with a negative code
//   rsq, ierr   achieved 1 - e**2, and 0 or an error code 1..7
//   m           (ld, p+1) work: sort orders on return
//   z           (ld, 12) work
//   ld          row count of x, tx, m and z (ld >= n)
//   settings    tuning values of the smoothers and the iteration cap
//   NumTerm     passes compared for convergence; clamped to 1..10 and stored back
//   rsq_history kept between calls
//   sink        receives the iteration and error lines
// Any n >= 5 and p >= 0 keep every access inside these arrays. Allocates
// nothing itself (the supersmoother takes one scratch vector per call, and
// with more than 7 ld / 5 predictors the initial scaling one block of 5 p
// coefficients); long inputs are sorted and smoothed on two threads, same
// digits.
void ace_estimate(int n, int p, const double* x, const double* y, const double* w, const int* l,
                  double DelRsq, double* tx, double* ty, double& rsq, int& ierr, int* m, double* z,
                  int ld, const AceSettings& settings, int& NumTerm, RsqHistory& rsq_history,
                  const LineSink& sink);

// The line written after every outer pass, 43 characters for passes below
// 100 and |rsq| below 1000: " iteration" I2 "  r**2 = 1 - e**2 =" F12.7.
std::string ace_iteration_line(int pass, double rsq);

}  // namespace tavel::ace
