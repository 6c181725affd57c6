// SPDX-License-Identifier: GPL-3.0-or-later
// The fitted model of a Run: every variable's transformation kept as a table
// of its distinct values (ascending) beside their transformed values, so the
// transformations can be applied to observations the Run never saw.
//
// Worked example: an Orderable predictor fitted on x = 1, 2, 2, 4 with
// tx = -1, 0, 0, 1 keeps values {1, 2, 4} and transforms {-1, 0, 1}. A new
// x = 3 gives tx = 0.5 (linear between 2 and 4); x = 9 gives 1 (the end value
// held) and marks its row out of range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/inverse_table.h"
#include "model/variable_flag.h"

namespace tavel::model {

namespace detail {

// Offset of element (i, j) of a column-major array of n rows.
inline std::size_t at(int i, int j, int n) {
  return static_cast<std::size_t>(j) * static_cast<std::size_t>(n) + static_cast<std::size_t>(i);
}

}  // namespace detail

struct Variable {
  std::string name;    // as the data file's header names it, without trailing blanks
  std::string source;  // the file column read: name itself, or for a log variable its column
  bool isLog = false;  // the variable is ln(source)
  VarFlag flag = VarFlag::Orderable;  // the engine's code is engineCode(flag)
  std::vector<double> values;         // distinct, strictly ascending
  std::vector<double> transforms;     // transforms[k] belongs to values[k]
  // A category of text labels: label k (0-based) was read as the value k + 1.
  std::vector<std::string> labels;
};

// How a score beyond the fitted range of the response's transformation is
// inverted. ACE often flattens the response's transformation at its ends,
// and the end interval's slope is then tiny: extended along it, one such
// score can be predicted at many times the largest response ever observed.
// Hold inverts it to the nearer end of the observed response range instead;
// Linear extends the end interval as the Run's own in-sample prediction does.
enum class Extrapolation : std::uint8_t { Hold, Linear };

// The cross-validation of the fit, when one was done: kept with the model
// so that its file says how well it predicted rows it was not fitted on.
struct CvSummary {
  int folds = 0;
  double rsq = 0.0;            // on the response's transformed scale
  bool responseScale = false;  // the two below are set
  double responseRsq = 0.0;    // 1 - SSE/SST on the response's own scale
  double responseRmse = 0.0;   // in the response's units
  bool exponentiated = false;  // a log response, scored on its column's raw scale
};

struct Model {
  std::string dataFileName;  // the data file the model was fitted to
  int observations = 0;      // rows fitted
  int NumTerm = 0;           // the fit's options, as the Run used them
  double DelRsq = 0.0;
  double bass = 5.0;  // the supersmoother's bass and fixed span (0: adaptive)
  double span = 0.0;
  double rsq = 0.0;  // the fit's final squared correlation (in sample)
  Extrapolation extrapolate = Extrapolation::Hold;  // of the response, for new rows
  std::vector<Variable> predictors;
  Variable response;
  std::optional<CvSummary> crossValidation;
};

// A variable's table from one column of a fit: order holds the 1-based
// observation numbers in ascending order of raw (the engine's sort order).
// Observations with equal raw values share one entry whose transform is the
// mean of theirs (the engine gives ties equal transforms; the mean keeps a
// table well defined should a smoother ever not). NaN raw values are left
// out. Linear in n.
void fillTable(int n, const int* order, const double* raw, const double* transformed,
               Variable& variable);

// The model of a fit: names/sources/isLog/flags per engine position (p
// predictors, then the response), column-major x and tx of n rows, the
// engine's sort orders m (n, p+1).
struct FitArrays {
  int n = 0;
  int p = 0;
  const double* x = nullptr;
  const double* y = nullptr;
  const double* tx = nullptr;
  const double* ty = nullptr;
  const int* m = nullptr;
};
Model buildModel(const FitArrays& fit, const std::vector<Variable>& descriptions);

// What became of one row: Held, its response was inverted to an end of the
// observed range (its score lay beyond the fitted range of the response's
// transformation, or the extended value was no number a double holds).
enum class RowStatus : std::uint8_t { Ok, OutOfRange, Held, Unknown };

// "ok", "out of range", "response held at the fitted range", "unknown category"
std::string_view statusText(RowStatus status);

// tx of one value: linear interpolation between the neighbouring values of
// the table; outside the fitted range the end value is held and status
// becomes OutOfRange. Unorderable needs an exact match (else Unknown, result
// 0); Circular on a table within [0, 1] (the engine's periodic case) interpolates
// with period 1 and is never out of range. A NaN value is Unknown. status is
// only ever raised (Ok -> OutOfRange -> Held -> Unknown), so one variable can be
// applied after another to the same row.
double transformValue(const Variable& variable, double value, RowStatus& status);

// Predictions for n rows. x is column-major (n, p) in the model's predictor
// order. tx (n, p), score (n) and status (n) are always filled; response
// (n) only when the response is Monotone: the score inverted through the
// response table as the Run does (interpolateTable) and exponentiated for a
// log response. A score beyond the table's fitted range is held at the
// nearer end of the response's values under Extrapolation::Hold and extended
// along the end interval under Linear; either way a response that is no
// finite double (an extension past the range of doubles, or its exponential)
// is held, and the row's status is Held. An unknown row has score and
// response 0 and must not be used.
struct Predictions {
  std::vector<double> tx, score, response;
  std::vector<RowStatus> status;
  int ok = 0;
  int outOfRange = 0;
  int held = 0;
  int unknown = 0;
  bool predictsResponse = false;
};
void predictRows(const Model& model, int n, const double* x, Predictions& out,
                 const LineSink& sink = {});

// True when the response is inverted (it is Monotone).
inline bool predictsResponse(const Model& model) {
  return model.response.flag == VarFlag::Monotone;
}

}  // namespace tavel::model
