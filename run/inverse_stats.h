// SPDX-License-Identifier: GPL-3.0-or-later
// The numeric stages of a run outside the engine: the sum of the transformed
// predictors, equilibration, prediction of the response on its raw scale
// through the inverse of its transformation, and the error statistics.
//
// Inverse transformations are tables of the distinct raw values (ascending)
// beside their transformed values, read backwards by piecewise-linear
// interpolation. All arrays belong to the caller and are column-major with n
// rows; sort orders hold 1-based observation numbers as the engine leaves
// them. Messages go to a line sink as complete lines (the main output window).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "model/inverse_table.h"

namespace tavel::run {

using LineSink = std::function<void(std::string_view line)>;

// The inversion tables live with the model, which applies them to new data;
// the Run's stages use them under their own names.
using model::buildInvTable;
using model::interpolateTable;
using model::InvTable;
using model::isMonotoneTable;
using model::kDegenerateTableLine;
using model::kTableStartValue;

// What the stages below write once per table instead of kDegenerateTableLine
// per observation: the line followed by how many observations it concerned
// and what they hold instead (kept, e.g. "hold 0.0").
std::string degenerateTableLine(int count, std::string_view kept);

// sumTx[i] = tx(i,1) + ... + tx(i,p), accumulated from 0.0 in that order.
void sumTransforms(int n, int p, const double* tx, double* sumTx);

// The caller's arrays of one run (column-major, n rows, p predictors).
struct RunArrays {
  int n = 0;
  int p = 0;
  const double* x = nullptr;   // (n, p)
  const double* y = nullptr;   // (n)
  const double* tx = nullptr;  // (n, p)
  const double* ty = nullptr;  // (n)
  const int* m = nullptr;      // (n, p+1) sort orders, 1-based observation numbers
};

// Moves every transformed value half-way towards agreement of the two sides
// of the model and maps the moved values back to the raw scales:
// eqTarget = (ty + sum of tx) / 2, each predictor takes 1/p of the
// half-residual. xEq (n, p) and yEq (n) start as copies of x and y, so a
// value that cannot be inverted (a constant variable) keeps its raw value; a
// degenerate table says so once (degenerateTableLine). tableRaw and
// tableTransformed: n entries each.
void equilibrate(const RunArrays& run, double* tableRaw, double* tableTransformed, double* eqTarget,
                 double* xEq, double* yEq, const LineSink& sink);

struct PredictionStats {
  double Avedev = 0.0;
  double Stdev = 0.0;
  double Bias = 0.0;
};

// yPred[i] = the inverse of the response's transformation at sumTx[i]
// (yPred is set to 0.0 first; a degenerate table says so once); errors are
// measured minus predicted and averaged over n (not n - 1).
PredictionStats predictResponse(const RunArrays& run, const double* sumTx, double* tableRaw,
                                double* tableTransformed, double* yPred, const LineSink& sink);

// The errors (measured minus predicted) of n predictions, averaged over n:
// what predictResponse returns, summed in the same order.
PredictionStats errorStats(int n, const double* y, const double* yPred);

// The in-sample predictions that the inverse transformation, extended along
// its end intervals, put far outside the observed range of the response.
// An end interval extended a little is what the rule is for, and common (a
// smooth fit's largest scores overshoot its largest response slightly); a
// prediction beyond the range by more than this share of its width is one
// the data cannot support, and is said.
inline constexpr double kOutsideMargin = 0.1;

struct OutsideRange {
  int count = 0;              // predictions beyond lo .. hi by more than the margin, or held
  int held = 0;               // of those, not representable and held at the nearer end
  int farthestRow = 0;        // 1-based observation of the farthest one
  double farthest = 0.0;      // its value as extended; not finite when beyond doubles
  double lo = 0.0, hi = 0.0;  // the observed range of y
};

// Counts the predictions beyond the observed range of y by more than the
// margin, and holds at the nearer end (counting them too) those that cannot
// be represented: not a finite number, or an
// error whose square is not, or for a log response an exponential (or its
// error or relative error squared) that is not. y and yPred are scaled by
// 2^yExponent (the engine's columns); the range and the farthest value are
// reported on the response's own scale. Every other prediction is left as
// the documented rule made it.
OutsideRange holdUnrepresentable(int n, const double* y, double* yPred, int yExponent,
                                 bool logResponse);

// " 2 predictions of perm lie outside its observed range 6.3 .. 1300 by
// more than a tenth of it (the farthest 2596, row 17): the inverse
// transformation was extended past its ends", and what was held; empty when
// no prediction is counted.
std::string outsideRangeLine(const OutsideRange& range, std::string_view name);

struct ExpStats {
  double Exp_Avedev = 0.0;
  double Exp_Stdev = 0.0;
  double Exp_Bias = 0.0;
  double Exp_AvedevPercent = 0.0;  // Exp_Avedev%
  double Exp_StdevPercent = 0.0;   // Exp_Stdev%
  double Exp_BiasPercent = 0.0;    // Exp_Bias%
};

// For a response that is a natural logarithm: expPred = exp(yPred) and the
// statistics of exp(y) - expPred, absolute and relative to exp(y) (in per
// cent).
ExpStats backTransformedStats(int n, const double* y, const double* yPred, double* expPred);

// True when a 50-character variable name begins with "_ln_".
bool isLogVariableName(std::string_view name);

}  // namespace tavel::run
