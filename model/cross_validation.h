// SPDX-License-Identifier: GPL-3.0-or-later
// K-fold cross-validation of a fit: an honest, out-of-sample score.
//
// Row i (1-based) goes to fold ((i - 1) mod K) + 1, so the folds are the
// same at every call. Each fold is fitted on the other rows with the same
// engine call, codes and settings as the whole fit; its held-out rows are
// predicted with the model rules (held ends, exact categories, periodic
// circular variables) and scored against the fold's own transformation of
// their response:
//   target = the fold's response table at the row's y, end value held;
//   CV r**2 = 1 - sum (score - target)**2 / sum (target - mean target)**2
// over every scored row, with one common mean. It can be negative: a model
// that predicts worse than the mean. Rows with an unknown category are not
// scored and are counted. When the response's code is 3 the held-out y is
// also predicted on its own scale and its errors (measured minus predicted)
// averaged over the scored rows; a score beyond the fold's fitted range of
// the response's transformation is inverted by the input's extrapolation
// rule (held at the fold's observed response range by default).
//
// On the response's own scale (response code 3 or 4, both monotone and so
// invertible), the pooled figures other tools print:
//   R^2 = 1 - SSE / SST, SSE = sum (y - predicted y)**2,
//   SST = sum (y - mean y)**2, RMSE = sqrt(SSE / scored rows),
// over every scored row with one common mean. For a response that is a
// natural logarithm both y and its prediction are exponentiated first, so
// the figures are on the raw scale of the file's column.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ace/ace.h"
#include "ace/ace_settings.h"
#include "model/inverse_table.h"
#include "model/model.h"

namespace tavel::model {

struct CvInput {
  int n = 0;
  int p = 0;
  const double* x = nullptr;   // (n, p) column-major
  const double* y = nullptr;   // (n)
  const int* codes = nullptr;  // l(1..p+1)
  double DelRsq = 0.0;
  int NumTerm = ace::AceOptions{}.NumTerm;
  ace::AceSettings settings;
  int folds = 0;             // K
  bool logResponse = false;  // y holds natural logarithms (a "_ln_" response)
  Extrapolation extrapolate = Extrapolation::Hold;  // held-out scores beyond the fitted range
  // Folds fitted at the same time (0: defaultThreadCount()); the results are
  // the same for any number.
  int threads = 0;
};

struct CvResult {
  bool done = false;
  std::string refusal;          // why it was not done (one line for the user)
  double rsq = 0.0;             // the cross-validated squared correlation
  int scored = 0;               // held-out rows scored
  int outOfRange = 0;           // of those, scored with a held end value
  int held = 0;                 // of those, the response held at the fold's observed range
  int unknown = 0;              // held-out rows left out: a category the fold never saw
  bool responseErrors = false;  // response code 3: the three below are set
  double Avedev = 0.0, Stdev = 0.0, Bias = 0.0;
  bool responseScale = false;  // response code 3 or 4: the two below are set
  double responseRsq = 0.0;    // 1 - SSE/SST on the response's own scale
  double responseRmse = 0.0;   // sqrt(SSE / scored), in the response's units
};

// The smallest training part a fold may have.
inline constexpr int kMinFoldTraining = 5;

// Why K folds cannot be fitted on n rows of p predictors (K outside 2..n, a
// training part below kMinFoldTraining rows or below p rows); empty when they
// can. Callers that know n early refuse before anything else is done.
std::string crossValidationRefusal(int n, int p, int folds);

// Refuses before any fit (K outside 2..n, a training part below
// kMinFoldTraining rows or below p rows); an engine error in a fold refuses
// the whole cross-validation, naming the fold (the first failed one). The
// folds are fitted in parallel (CvInput::threads); progress receives one
// line per fold, in fold order and on the calling thread, as soon as the
// folds before it are done; the engine's own lines are not passed on.
CvResult crossValidate(const CvInput& input, const LineSink& progress = {});

// The response-scale score of one setting (codes, engine settings, folds):
// what a search over settings ranks candidates by. done is false, with the
// reason in refusal, when the cross-validation was refused or the response's
// code is neither 3 nor 4.
struct ResponseScaleCv {
  bool done = false;
  std::string refusal;
  double rsq = 0.0;   // 1 - SSE/SST
  double rmse = 0.0;  // sqrt(SSE / scored)
  int scored = 0;
};
ResponseScaleCv responseScaleCv(const CvInput& input);

// Several cross-validations at once, every fold of every input one job on
// the same threads (the largest CvInput::threads asked, 0 winning), so that
// few folds per input still keep every core busy. Each result is the one
// crossValidate(inputs[c]) gives (without progress lines); done(c, result)
// is called on the calling thread in the order of c, as soon as the folds of
// inputs 0 .. c are done.
std::vector<CvResult> crossValidateEach(const std::vector<CvInput>& inputs,
                                        const std::function<void(int, const CvResult&)>& done = {});

// What responseScaleCv makes of a cross-validation's result.
ResponseScaleCv responseScaleOf(const CvResult& cv);

// responseScaleCv of every input, on the threads of crossValidateEach;
// scored(c, score) in the order of c as each is known.
std::vector<ResponseScaleCv> responseScaleCvEach(
    const std::vector<CvInput>& inputs,
    const std::function<void(int, const ResponseScaleCv&)>& scored = {});

// " CV on the response scale: R^2 = 1 - SSE/SST = 0.595   RMSE = 21.3   (5
// folds, pooled)"; for a log response " CV on the response scale,
// exponentiated: ..." (y and its prediction exponentiated first).
std::string responseScaleLine(int folds, double rsq, double rmse, bool exponentiated);

}  // namespace tavel::model
