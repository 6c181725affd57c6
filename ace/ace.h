// SPDX-License-Identifier: GPL-3.0-or-later
// The ACE engine's entry point: optimal transformations of one response and
// up to 30 predictors by alternating conditional expectations. Pure numerics
// on caller-owned column-major arrays; progress and error lines go to a
// caller-provided line sink.
//
// A call describes the data in an AceProblem and the tuning in AceOptions,
// and gets an AceSummary back (x, y, w, codes: vectors of the data):
//
//   std::vector<double> tx(n * p), ty(n);  // m, z left empty: the engine allocates them
//   const ace::AceProblem problem{.n = n, .p = p, .ld = n, .x = x, .y = y, .w = w, .l = codes,
//                                 .tx = tx, .ty = ty, .m = {}, .z = {}};
//   const ace::AceSummary summary = ace::ace_solve(problem, {}, [](auto s) { show(s); });
//   if (summary.error != ace::AceError::kNone) return static_cast<int>(summary.error);
//
// ace_estimate keeps the long positional form for callers that hold every
// array themselves and keep NumTerm and the rsq history between calls.
#pragma once

#include <array>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "ace/ace_settings.h"

namespace tavel::ace {

// Receives one text line at a time, without a line terminator.
using LineSink = std::function<void(std::string_view line)>;

// The rsq values of the last NumTerm outer passes; entries 1..NumTerm (index
// 0..NumTerm-1) are reset at every call, the rest keep their values.
using RsqHistory = std::array<double, 10>;

// Why a call gave no transformations. The values are the engine's printed
// error numbers ("ierr = 6: ..."), which callers also show.
enum class AceError : int {
  kNone = 0,
  kWeightsNotPositive = 1,  // the weights sum to 0 or less
  kYZeroVariance = 2,       // y is constant (positive response code)
  kTyZeroVariance = 3,      // the starting ty is constant (negative response code), or
                            // a response step smoothed ty to a constant
  kResponseCodeZero = 4,    // l(p+1) is 0
  kNoPredictor = 5,         // every predictor code is 0
  kCodeOutOfRange = 6,      // some code lies outside -5..5
  kTooFewObservations = 7,  // n < kMinObservations: the smoothers need more rows
};

inline constexpr int kTooFewObservations = static_cast<int>(AceError::kTooFewObservations);
inline constexpr int kMinObservations = 5;
// Columns of the work array z.
inline constexpr int kWorkColumns = 12;

// The arrays of one call, as views of caller-owned storage. Matrices are
// column-major with row count ld (ld >= n): x(j, i) is x[(i-1)*ld + j-1].
struct AceProblem {
  int n = 0;  // observations
  int p = 0;  // predictors
  int ld = 0;
  std::span<const double> x;  // (ld, p) raw predictor values
  std::span<const double> y;  // (n) response
  std::span<const double> w;  // (n) weights
  std::span<const int> l;     // (p+1) codes -5..5; l[p] is the response's code
  // Outputs. On entry, the columns of predictors with a negative code (and ty
  // when the response's code is negative) hold the starting values.
  std::span<double> tx;  // (ld, p)
  std::span<double> ty;  // (n)
  // Work arrays. Left empty, the engine allocates them for the call; given,
  // the call allocates nothing of its own and m holds the sort orders on
  // return (column i orders x(., i), column p+1 orders y).
  std::span<int> m;     // (ld, p+1)
  std::span<double> z;  // (ld, kWorkColumns)
};

// The defaults are those of the Options dialog.
struct AceOptions {
  double DelRsq = static_cast<double>(1.0e-4f);  // convergence tolerance on rsq
  int NumTerm = 2;  // outer passes compared for convergence; 1..10 are used
  AceSettings settings;
  // The history the call starts from: it resets entries 0..NumTerm-1 and
  // hands the rest back unchanged in the summary.
  RsqHistory rsq_history{};
  // 1: the whole call on the calling thread (for callers that keep every
  // core busy with calls of their own); otherwise long inputs are sorted and
  // smoothed on two threads. The digits are the same either way.
  int threads = 0;
};

struct AceSummary {
  AceError error = AceError::kNone;
  // 1 - e**2 of the returned transformations; 0 when the call stopped before
  // its first pass.
  double rsq = 0.0;
  int outer_passes = 0;  // passes begun; each finished one wrote an iteration line
  int inner_passes = 0;  // backfitting passes, summed over the outer passes
  int num_term = 0;      // NumTerm clamped to 1..10; the given value when no pass was made
  RsqHistory rsq_history{};
};

// Estimates the transformations. Any n >= 5 and p >= 0 keep every access
// inside the arrays described above. Besides the work arrays it leaves to the
// engine, a call allocates only the supersmoother's scratch vector (n doubles,
// once for all its smooths, and none when every weight is the same), with
// more than 7 ld / 5 predictors one block of 5 p coefficients for the
// initial scaling, and for each variable with tied values the list of their
// groups (a bit a point, kept for the call); long inputs are sorted and
// smoothed on two threads, same digits.
// sink receives the iteration and error lines (none when empty); it is not
// copied, so passing it costs nothing.
AceSummary ace_solve(const AceProblem& problem, const AceOptions& options,
                     const LineSink& sink = {});

// The same call with every array and setting positional:
//   n, p        observations and predictors
//   x           (ld, p) raw predictor values, x[(i-1)*ld + j-1] is x(j,i)
//   y, w        (n) response and weights
//   l           (p+1) variable codes -5..5; l[p] is the response's code
//   DelRsq      convergence tolerance on rsq
//   tx, ty      (ld, p) and (n) transformations; on entry the starting values
//               of variables with a negative code
//   rsq, ierr   achieved 1 - e**2 (unchanged when no pass was made), and 0 or
//               an AceError value 1..7
//   m           (ld, p+1) work: sort orders on return
//   z           (ld, kWorkColumns) work
//   ld          row count of x, tx, m and z (ld >= n)
//   settings    tuning values of the smoothers and the iteration cap
//   NumTerm     passes compared for convergence; clamped to 1..10 and stored back
//   rsq_history kept between calls
//   sink        receives the iteration and error lines
void ace_estimate(int n, int p, const double* x, const double* y, const double* w, const int* l,
                  double DelRsq, double* tx, double* ty, double& rsq, int& ierr, int* m, double* z,
                  int ld, const AceSettings& settings, int& NumTerm, RsqHistory& rsq_history,
                  const LineSink& sink);

// The line written after every outer pass, 43 characters for passes below
// 100 and |rsq| below 1000: " iteration" I2 "  r**2 = 1 - e**2 =" F12.7.
std::string ace_iteration_line(int pass, double rsq);

// rsq as the iteration line writes it: F12.7, right-aligned in 12 characters.
std::string ace_rsq_field(double rsq);

}  // namespace tavel::ace
