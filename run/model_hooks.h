// SPDX-License-Identifier: GPL-3.0-or-later
// What a Run leaves behind for later use: the model of the fit (kept in the
// application state) and, when asked for, its cross-validated score, written
// after the closing report.
#pragma once

#include <string>
#include <vector>

#include "app/records.h"
#include "model/model.h"
#include "platform/runtime.h"

namespace tavel::run {

// The names, sources and codes of the Run's variables by engine position
// (p predictors, then the response), without tables.
std::vector<model::Variable> modelVariables(const app::AppState& state);

// Keeps the model of a finished fit in state.model (column-major arrays of n
// rows as the engine left them).
void keepRunModel(app::AppState& state, const model::FitArrays& fit, double rsq);

// When state.options.CvFolds is not 0: cross-validates the fit's rows with
// the Run's codes and settings. Progress lines go to the screen; the result
// (" CROSS-VALIDATED SQUARED CORRELATION (K FOLDS) =" F7.4, and for a
// monotone response " CV_Avedev=" ... like the Run's statistics line, then
// for a response flagged 3 or 4 the response-scale line) to the screen and
// the log, and the figures into the kept model. A refusal is written there too and kept in
// state.problems. Returns false when refused.
bool crossValidateRun(platform::Runtime& runtime, app::AppState& state, int n, int p,
                      const double* x, const double* y);

// The result lines of a cross-validation that was done.
std::vector<std::string> crossValidationLines(int folds, double rsq, bool responseErrors,
                                              double Avedev, double Stdev, double Bias,
                                              int unknown);

}  // namespace tavel::run
