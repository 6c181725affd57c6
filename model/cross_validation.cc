// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/cross_validation.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ace/ace.h"
#include "model/column_scale.h"
#include "model/model.h"
#include "model/parallel_for.h"

namespace tavel::model {
namespace {

using detail::at;

// Rows of fold f (1-based) among n: those i with (i - 1) mod K = f - 1.
int foldSize(int n, int folds, int f) { return f <= n ? (n - f) / folds + 1 : 0; }

std::string text(int v) { return std::to_string(v); }

}  // namespace

std::string crossValidationRefusal(int n, int p, int K) {
  if (K < 2 || K > n) {
    return "cross-validation needs from 2 to " + text(n) + " folds (one per row at most); " +
           text(K) + " were asked for";
  }
  // Fold 1 is the largest, so its training part is the smallest.
  const int smallestTraining = n - foldSize(n, K, 1);
  if (smallestTraining < kMinFoldTraining || smallestTraining < p) {
    return "cross-validation with " + text(K) + " folds leaves " + text(smallestTraining) +
           " rows to fit on in fold 1; at least " + text(std::max(kMinFoldTraining, p)) +
           " are needed";
  }
  return {};
}

namespace {

// One fold: its training rows with their fit, and its held-out rows.
struct Fold {
  int nt = 0;    // training rows
  int held = 0;  // held-out rows
  std::vector<double> xt, yt, tx, ty;
  std::vector<int> m;  // the fit's sort orders, which the model tables read
  std::vector<double> xh;
  std::vector<int> heldRows;  // row numbers (0-based) of the held-out rows
};

Fold splitFold(const CvInput& in, int f) {
  const int n = in.n;
  const int p = in.p;
  const int K = in.folds;
  Fold fold;
  fold.held = foldSize(n, K, f);
  fold.nt = n - fold.held;
  const int nt = fold.nt;
  fold.xt.resize(static_cast<std::size_t>(nt) * p);
  fold.yt.resize(nt);
  fold.xh.resize(static_cast<std::size_t>(fold.held) * p);
  fold.heldRows.reserve(fold.held);
  int it = 0;
  for (int i = 0; i < n; ++i) {
    if (i % K == f - 1) {
      const int ih = static_cast<int>(fold.heldRows.size());
      for (int j = 0; j < p; ++j) fold.xh[at(ih, j, fold.held)] = in.x[at(i, j, n)];
      fold.heldRows.push_back(i);
    } else {
      for (int j = 0; j < p; ++j) fold.xt[at(it, j, nt)] = in.x[at(i, j, n)];
      fold.yt[it] = in.y[i];
      ++it;
    }
  }
  return fold;
}

// The fold's fit with the whole fit's codes and settings, a fresh history
// and unit weights; the engine's own lines are not passed on.
ace::AceSummary fitFold(const CvInput& in, Fold& fold, int engineThreads) {
  const int nt = fold.nt;
  const int p = in.p;
  const std::vector<double> w(nt, 1.0);
  fold.tx.resize(fold.xt.size());
  fold.ty.resize(nt);
  fold.m.resize(static_cast<std::size_t>(nt) * (p + 1));
  const ace::AceProblem problem{.n = nt,
                                .p = p,
                                .ld = nt,
                                .x = fold.xt,
                                .y = fold.yt,
                                .w = w,
                                .l = {in.codes, static_cast<std::size_t>(p) + 1},
                                .tx = fold.tx,
                                .ty = fold.ty,
                                .m = fold.m,
                                .z = {}};  // the engine's own
  const ace::AceOptions options{.DelRsq = in.DelRsq,
                                .NumTerm = in.NumTerm,
                                .settings = in.settings,
                                .rsq_history = {},
                                .threads = engineThreads};
  return ace::ace_solve(problem, options);
}

// What each row scores when held out, in row order.
struct HeldOutRows {
  std::vector<double> score, target, yPred;
  std::vector<RowStatus> status;
  HeldOutRows() = default;
  explicit HeldOutRows(int n) : score(n, 0.0), target(n, 0.0), yPred(n, 0.0), status(n) {}
};

// Predicts the fold's held-out rows with the fold's model and finds their
// targets; when the response is inverted also their y on its own scale.
void scoreFold(const CvInput& in, Fold& fold, const std::vector<Variable>& descriptions,
               bool inverse, int yExponent, HeldOutRows& rows) {
  Model model = buildModel(FitArrays{fold.nt, in.p, fold.xt.data(), fold.yt.data(), fold.tx.data(),
                                     fold.ty.data(), fold.m.data()},
                           descriptions);
  // The tables hold what the scoring needs of the fit: its arrays go now,
  // so that a fold being scored costs little more than its model while
  // another fold is fitted beside it.
  std::vector<double>().swap(fold.xt);
  std::vector<double>().swap(fold.yt);
  std::vector<double>().swap(fold.tx);
  std::vector<double>().swap(fold.ty);
  std::vector<int>().swap(fold.m);
  // A linear transformation inverts through its table as a monotone one does.
  if (inverse) model.response.flag = VarFlag::Monotone;
  model.extrapolate = in.extrapolate;
  Predictions pred;
  predictRows(model, fold.held, fold.xh.data(), pred);
  // The held-out target: the fold's response table read forwards, its end
  // values held, whatever the response's code.
  Variable responseTable = model.response;
  responseTable.flag = VarFlag::Orderable;
  for (int ih = 0; ih < fold.held; ++ih) {
    const int i = fold.heldRows[ih];
    rows.status[i] = pred.status[ih];
    if (rows.status[i] == RowStatus::Unknown) continue;
    rows.score[i] = pred.score[ih];
    RowStatus ignored = RowStatus::Ok;
    rows.target[i] = transformValue(responseTable, in.y[i], ignored);
    // predictRows has already inverted the score through the response table.
    if (!inverse) continue;
    rows.yPred[i] = pred.response[ih];
    // The tables hold the logarithms (perhaps scaled); an extension whose
    // exponential is no number is held as predictRows holds its own.
    if (in.logResponse && !std::isfinite(std::exp(std::ldexp(rows.yPred[i], -yExponent)))) {
      rows.yPred[i] = model.response.values.back();
      rows.status[i] = RowStatus::Held;
    }
  }
}

// The pooled response-scale figures of the scored rows. y and yPred are the
// engine's (scaled by 2^yExponent); R^2 does not depend on that scale, the
// RMSE is taken back to the response's units. A log response is
// exponentiated on its own scale first.
// yOffset is the common part taken off a response of a large offset, which
// exponentiating needs back.
void responseFigures(const CvInput& in, const HeldOutRows& rows, int yExponent, double yOffset,
                     CvResult& result) {
  const int n = in.n;
  auto raw = [&](double v) {
    return in.logResponse ? std::exp(std::ldexp(v, -yExponent) + yOffset) : v;
  };
  double mean = 0.0;
  for (int i = 0; i < n; ++i)
    if (rows.status[i] != RowStatus::Unknown) mean += raw(in.y[i]);
  mean /= result.scored;
  double sse = 0.0, sst = 0.0;
  for (int i = 0; i < n; ++i) {
    if (rows.status[i] == RowStatus::Unknown) continue;
    const double y = raw(in.y[i]);
    const double d = y - raw(rows.yPred[i]);
    sse += d * d;
    sst += (y - mean) * (y - mean);
  }
  if (!(sst > 0.0)) return;
  result.responseScale = true;
  result.responseRsq = 1.0 - sse / sst;
  const double rmse = std::sqrt(sse / result.scored);
  result.responseRmse = in.logResponse ? rmse : std::ldexp(rmse, -yExponent);
}

// The scores over every scored row, summed in row order so that the result
// does not depend on the fold order. Refuses when there is nothing to score.
// errors: response code 3, whose errors are also averaged; inverse: the
// response was inverted (code 3 or 4).
void summarise(const CvInput& in, const HeldOutRows& rows, bool errors, bool inverse, int yExponent,
               double yOffset, CvResult& result) {
  const int n = in.n;
  double mean = 0.0;
  for (int i = 0; i < n; ++i) {
    if (rows.status[i] == RowStatus::Unknown) {
      ++result.unknown;
      continue;
    }
    ++result.scored;
    if (rows.status[i] == RowStatus::OutOfRange) ++result.outOfRange;
    if (rows.status[i] == RowStatus::Held) ++result.held;
    mean += rows.target[i];
  }
  if (result.scored == 0) {
    result.refusal =
        "cross-validation scored no row: every held-out row has a category its fold "
        "never saw";
    return;
  }
  mean /= result.scored;
  double residual = 0.0, spread = 0.0, sum = 0.0, sumAbs = 0.0, sumSq = 0.0;
  for (int i = 0; i < n; ++i) {
    if (rows.status[i] == RowStatus::Unknown) continue;
    residual += (rows.score[i] - rows.target[i]) * (rows.score[i] - rows.target[i]);
    spread += (rows.target[i] - mean) * (rows.target[i] - mean);
    const double d = in.y[i] - rows.yPred[i];
    sum += d;
    sumAbs += std::fabs(d);
    sumSq += d * d;
  }
  if (!(spread > 0.0)) {
    result.refusal =
        "cross-validation cannot score: the held-out rows' transformed responses "
        "are all equal";
    return;
  }
  result.rsq = 1.0 - residual / spread;
  if (errors) {
    const double count = static_cast<double>(result.scored);
    result.responseErrors = true;
    result.Avedev = std::ldexp(sumAbs / count, -yExponent);
    result.Stdev = std::ldexp(std::sqrt(sumSq / count), -yExponent);
    result.Bias = std::ldexp(sum / count, -yExponent);
  }
  if (inverse) responseFigures(in, rows, yExponent, yOffset, result);
  result.done = true;
}

// Columns beyond the magnitudes the engine's sums can hold go in scaled by
// a power of two, as in the whole fit; copies are made only of the columns
// that need it. Returns false when a column cannot be analysed at all.
struct ScaledInput {
  std::vector<double> x, y;
  int yExponent = 0;
  double yOffset = 0.0;
};

// Columns of a large common offset are analysed from their median, as in
// the whole fit (the response's differences, and so its errors, are the same
// either way).
bool scaleInput(CvInput& in, ScaledInput& scaled) {
  bool anyScaled = false;
  std::vector<int> exponents(static_cast<std::size_t>(in.p) + 1, 0);
  std::vector<double> offsets(static_cast<std::size_t>(in.p) + 1, 0.0);
  std::vector<double> shifted;
  for (int j = 0; j <= in.p; ++j) {
    const double* column = j < in.p ? in.x + at(0, j, in.n) : in.y;
    const bool circular = std::abs(in.codes[j]) == engineCode(VarFlag::Circular);
    const double offset = columnOffset(column, in.n, circular);
    if (offset != 0.0) {
      shifted.assign(column, column + in.n);
      shiftColumn(shifted.data(), in.n, offset, 1);
      column = shifted.data();
    }
    const ColumnCheck check = checkColumn(column, in.n, circular);
    if (check.state != ColumnState::kUsable) return false;
    exponents[static_cast<std::size_t>(j)] = check.exponent;
    offsets[static_cast<std::size_t>(j)] = offset;
    anyScaled = anyScaled || check.exponent != 0 || offset != 0.0;
  }
  if (!anyScaled) return true;
  scaled.x.assign(in.x, in.x + at(0, in.p, in.n));
  scaled.y.assign(in.y, in.y + in.n);
  for (int j = 0; j < in.p; ++j) {
    double* column = scaled.x.data() + at(0, j, in.n);
    shiftColumn(column, in.n, offsets[static_cast<std::size_t>(j)], 1);
    scaleColumn(column, in.n, exponents[static_cast<std::size_t>(j)]);
  }
  scaled.yExponent = exponents[static_cast<std::size_t>(in.p)];
  scaled.yOffset = offsets[static_cast<std::size_t>(in.p)];
  shiftColumn(scaled.y.data(), in.n, offsets[static_cast<std::size_t>(in.p)], 1);
  scaleColumn(scaled.y.data(), in.n, scaled.yExponent);
  in.x = scaled.x.data();
  in.y = scaled.y.data();
  return true;
}

}  // namespace

namespace {

// One cross-validation under way. Its folds may be fitted side by side, each
// with its own arrays, each scoring only its own held-out rows; what they
// found is reported and summed in fold order once they are done, so the
// lines and figures are those of one fold after another.
struct CvRun {
  CvInput in;
  ScaledInput scaled;
  bool errors = false;   // response code 3
  bool inverse = false;  // response code 3 or 4
  std::vector<Variable> descriptions;
  HeldOutRows rows;
  struct Outcome {
    ace::AceSummary fit;
    int nt = 0;
  };
  std::vector<Outcome> outcomes;
  CvResult result;
  bool prepared = false;  // folds may be fitted
  bool stopped = false;   // a fold failed: the refusal is set
};

// False, with the refusal in run.result, when no fold may be fitted.
bool prepare(const CvInput& input, CvRun& run) {
  CvResult& result = run.result;
  const int K = input.folds;
  result.refusal = crossValidationRefusal(input.n, input.p, K);
  if (!result.refusal.empty()) return false;
  run.in = input;
  CvInput& in = run.in;
  if (!scaleInput(in, run.scaled)) {
    result.refusal =
        "cross-validation cannot use columns with values that are not finite or "
        "span too many orders of magnitude";
    return false;
  }
  run.rows = HeldOutRows(in.n);
  const int responseCode = in.codes[in.p];
  run.errors = responseCode == engineCode(VarFlag::Monotone);
  run.inverse = run.errors || responseCode == engineCode(VarFlag::Linear);
  run.descriptions.resize(static_cast<std::size_t>(in.p) + 1);
  // The engine smooths a variable by the size of its code (a negative one
  // only says where the first pass starts), and so the folds' tables apply it.
  for (int j = 0; j <= in.p; ++j)
    run.descriptions[j].flag = flagFromCode(std::abs(in.codes[j])).value_or(VarFlag::Orderable);
  run.outcomes.resize(static_cast<std::size_t>(K));
  run.prepared = true;
  return true;
}

// Fold k (0-based): its fit and the scores of its held-out rows. Touches only
// its own outcome and its own rows of run.rows.
// The engine's threads for job `job` of `jobs` run on `threads` workers
// (0: the default count): while the workers keep every core busy, each fit
// runs on its own thread, as a second one would only wait for a core; the
// jobs left over after the last full round get the engine's two.
int engineThreadsFor(int job, int jobs, int threads) {
  const int workers = std::min(threads > 0 ? threads : defaultThreadCount(), jobs);
  if (workers <= 1) return 0;
  return job < jobs - jobs % workers ? 1 : 0;
}

void fitAndScore(CvRun& run, int k, int engineThreads) {
  Fold fold = splitFold(run.in, k + 1);
  CvRun::Outcome& o = run.outcomes[static_cast<std::size_t>(k)];
  o.fit = fitFold(run.in, fold, engineThreads);
  o.nt = fold.nt;
  if (o.fit.error == ace::AceError::kNone)
    scoreFold(run.in, fold, run.descriptions, run.inverse, run.scaled.yExponent, run.rows);
}

// Reports fold k once the folds before it are done; false when it failed.
bool reportFold(CvRun& run, int k, const LineSink& progress) {
  const CvRun::Outcome& o = run.outcomes[static_cast<std::size_t>(k)];
  const int f = k + 1;
  const int K = run.in.folds;
  if (o.fit.error != ace::AceError::kNone) {
    run.result.refusal = "cross-validation stopped: the fit of fold " + text(f) + " of " + text(K) +
                         " failed (engine error " + text(static_cast<int>(o.fit.error)) + ")";
    run.stopped = true;
    return false;
  }
  if (progress) {
    progress(" Cross-validation fold " + text(f) + " of " + text(K) + ": fitted on " + text(o.nt) +
             " rows, r**2 =" + ace::ace_rsq_field(o.fit.rsq));
  }
  return true;
}

void finish(CvRun& run) {
  if (!run.prepared || run.stopped) return;
  summarise(run.in, run.rows, run.errors, run.inverse, run.scaled.yExponent, run.scaled.yOffset,
            run.result);
  // The rows are not needed any more; a search over many settings keeps
  // only the figures.
  run.rows = HeldOutRows();
}

}  // namespace

CvResult crossValidate(const CvInput& input, const LineSink& progress) {
  CvRun run;
  if (!prepare(input, run)) return run.result;
  parallelFor(
      run.in.folds, run.in.threads,
      [&](int k) { fitAndScore(run, k, engineThreadsFor(k, run.in.folds, run.in.threads)); },
      [&](int k) { return reportFold(run, k, progress); });
  finish(run);
  return run.result;
}

std::vector<CvResult> crossValidateEach(const std::vector<CvInput>& inputs,
                                        const std::function<void(int, const CvResult&)>& done) {
  const int count = static_cast<int>(inputs.size());
  std::vector<CvRun> runs(inputs.size());
  // Every fold of every input is one job: (input, fold) in order.
  std::vector<std::pair<int, int>> jobs;
  int threads = 1;
  for (int c = 0; c < count; ++c) {
    if (!prepare(inputs[static_cast<std::size_t>(c)], runs[static_cast<std::size_t>(c)])) continue;
    for (int k = 0; k < inputs[static_cast<std::size_t>(c)].folds; ++k) jobs.emplace_back(c, k);
    threads = std::max(threads, inputs[static_cast<std::size_t>(c)].threads);
    if (inputs[static_cast<std::size_t>(c)].threads == 0) threads = 0;
  }
  int next = 0;  // the next input to hand to done
  const auto doneUpTo = [&](int last) {
    for (; next <= last; ++next) {
      CvRun& run = runs[static_cast<std::size_t>(next)];
      finish(run);
      if (done) done(next, run.result);
    }
  };
  parallelFor(
      static_cast<int>(jobs.size()), threads,
      [&](int t) {
        const auto [c, k] = jobs[static_cast<std::size_t>(t)];
        CvRun& run = runs[static_cast<std::size_t>(c)];
        fitAndScore(run, k, engineThreadsFor(t, static_cast<int>(jobs.size()), threads));
      },
      [&](int t) {
        const auto [c, k] = jobs[static_cast<std::size_t>(t)];
        CvRun& run = runs[static_cast<std::size_t>(c)];
        doneUpTo(c - 1);  // inputs refused before any fit, and finished ones
        if (!run.stopped) reportFold(run, k, {});
        return true;
      });
  doneUpTo(count - 1);
  std::vector<CvResult> out;
  out.reserve(runs.size());
  for (CvRun& run : runs) out.push_back(std::move(run.result));
  return out;
}

namespace {

std::string chars(double v, std::chars_format format, int precision) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, format, precision);
  return std::string(buf, r.ptr);
}

}  // namespace

std::string responseScaleLine(int folds, double rsq, double rmse, bool exponentiated) {
  return std::string(" CV on the response scale") + (exponentiated ? ", exponentiated" : "") +
         ": R^2 = 1 - SSE/SST = " + chars(rsq, std::chars_format::fixed, 3) +
         "   RMSE = " + chars(rmse, std::chars_format::general, 3) + "   (" +
         std::to_string(folds) + " folds, pooled)";
}

namespace {

// Why the response of input cannot be scored on its own scale, or nothing.
std::string responseScaleRefusal(const CvInput& input) {
  const int code = input.p >= 0 && input.codes ? input.codes[input.p] : 0;
  if (code != engineCode(VarFlag::Monotone) && code != engineCode(VarFlag::Linear))
    return "the response is scored on its own scale only when its flag is Monotone Tr or Linear "
           "Tr";
  return {};
}

}  // namespace

ResponseScaleCv responseScaleOf(const CvResult& cv) {
  ResponseScaleCv out;
  out.refusal = cv.refusal;
  if (cv.done && !cv.responseScale) {
    out.refusal = "the held-out responses are all equal on their own scale";
    return out;
  }
  out.done = cv.done;
  out.rsq = cv.responseRsq;
  out.rmse = cv.responseRmse;
  out.scored = cv.scored;
  return out;
}

std::vector<ResponseScaleCv> responseScaleCvEach(
    const std::vector<CvInput>& inputs,
    const std::function<void(int, const ResponseScaleCv&)>& scored) {
  std::vector<ResponseScaleCv> out(inputs.size());
  // Those that cannot be scored are not cross-validated at all.
  std::vector<CvInput> run;
  std::vector<int> which;
  for (std::size_t c = 0; c < inputs.size(); ++c) {
    out[c].refusal = responseScaleRefusal(inputs[c]);
    if (!out[c].refusal.empty()) continue;
    run.push_back(inputs[c]);
    which.push_back(static_cast<int>(c));
  }
  int told = 0;
  const auto tellUpTo = [&](int last) {
    for (; told <= last; ++told)
      if (scored) scored(told, out[static_cast<std::size_t>(told)]);
  };
  crossValidateEach(run, [&](int r, const CvResult& cv) {
    const int c = which[static_cast<std::size_t>(r)];
    out[static_cast<std::size_t>(c)] = responseScaleOf(cv);
    tellUpTo(c);
  });
  tellUpTo(static_cast<int>(inputs.size()) - 1);
  return out;
}

ResponseScaleCv responseScaleCv(const CvInput& input) {
  ResponseScaleCv out;
  out.refusal = responseScaleRefusal(input);
  if (!out.refusal.empty()) return out;
  return responseScaleOf(crossValidate(input));
}

}  // namespace tavel::model
