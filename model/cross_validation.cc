#include "model/cross_validation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "ace/ace.h"
#include "model/model.h"

namespace tavel::model {
namespace {

constexpr int kScratchColumns = 12;  // what the engine asks for

std::size_t at(int i, int j, int n) {
  return static_cast<std::size_t>(j) * static_cast<std::size_t>(n) + static_cast<std::size_t>(i);
}

// Rows of fold f (1-based) among n: those i with (i - 1) mod K = f - 1.
int foldSize(int n, int folds, int f) { return f <= n ? (n - f) / folds + 1 : 0; }

std::string text(int v) { return std::to_string(v); }

}  // namespace

CvResult crossValidate(const CvInput& in, const LineSink& progress) {
  CvResult result;
  const int n = in.n;
  const int p = in.p;
  const int K = in.folds;
  if (K < 2 || K > n) {
    result.refusal = "cross-validation needs from 2 to " + text(n) +
                     " folds (one per row at most); " + text(K) + " were asked for";
    return result;
  }
  // Fold 1 is the largest, so its training part is the smallest.
  const int smallestTraining = n - foldSize(n, K, 1);
  if (smallestTraining < kMinFoldTraining || smallestTraining < p) {
    result.refusal = "cross-validation with " + text(K) + " folds leaves " +
                     text(smallestTraining) + " rows to fit on in fold 1; at least " +
                     text(std::max(kMinFoldTraining, p)) + " are needed";
    return result;
  }

  std::vector<double> score(n, 0.0), target(n, 0.0), yPred(n, 0.0);
  std::vector<RowStatus> status(n, RowStatus::Ok);
  const bool inverse = in.codes[p] == kCodeMonotone;
  std::vector<Variable> descriptions(p + 1);
  for (int j = 0; j <= p; ++j) descriptions[j].code = in.codes[j];

  for (int f = 1; f <= K; ++f) {
    const int held = foldSize(n, K, f);
    const int nt = n - held;
    std::vector<double> xt(static_cast<std::size_t>(nt) * p), yt(nt), w(nt, 1.0), tx(xt.size()),
        ty(nt), z(static_cast<std::size_t>(nt) * kScratchColumns);
    std::vector<double> xh(static_cast<std::size_t>(held) * p);
    std::vector<int> m(static_cast<std::size_t>(nt) * (p + 1));
    std::vector<int> heldRows;
    heldRows.reserve(held);
    int it = 0;
    for (int i = 0; i < n; ++i) {
      if (i % K == f - 1) {
        const int ih = static_cast<int>(heldRows.size());
        for (int j = 0; j < p; ++j) xh[at(ih, j, held)] = in.x[at(i, j, n)];
        heldRows.push_back(i);
      } else {
        for (int j = 0; j < p; ++j) xt[at(it, j, nt)] = in.x[at(i, j, n)];
        yt[it] = in.y[i];
        ++it;
      }
    }
    double rsq = 0.0;
    int ierr = 0;
    int numTerm = in.NumTerm;
    ace::RsqHistory history{};
    ace::ace_estimate(nt, p, xt.data(), yt.data(), w.data(), in.codes, in.DelRsq, tx.data(),
                      ty.data(), rsq, ierr, m.data(), z.data(), nt, in.settings, numTerm, history,
                      {});
    if (ierr != 0) {
      result.refusal = "cross-validation stopped: the fit of fold " + text(f) + " of " + text(K) +
                       " failed (engine error " + text(ierr) + ")";
      return result;
    }
    if (progress) {
      progress(" Cross-validation fold " + text(f) + " of " + text(K) + ": fitted on " + text(nt) +
               " rows, r**2 =" + ace::ace_iteration_line(0, rsq).substr(31));
    }
    const Model model = buildModel(
        FitArrays{nt, p, xt.data(), yt.data(), tx.data(), ty.data(), m.data()}, descriptions);
    Predictions pred;
    predictRows(model, held, xh.data(), pred);
    // The held-out target: the fold's response table read forwards, its end
    // values held, whatever the response's code.
    Variable responseTable = model.response;
    responseTable.code = kCodeOrderable;
    const int k = static_cast<int>(model.response.values.size());
    const bool monotone = isMonotoneTable(k, model.response.transforms.data());
    for (int ih = 0; ih < held; ++ih) {
      const int i = heldRows[ih];
      status[i] = pred.status[ih];
      if (status[i] == RowStatus::Unknown) continue;
      score[i] = pred.score[ih];
      RowStatus ignored = RowStatus::Ok;
      target[i] = transformValue(responseTable, in.y[i], ignored);
      if (inverse) {
        interpolateTable(k, model.response.values.data(), model.response.transforms.data(),
                         score[i], yPred[i], {}, monotone);
      }
    }
  }

  // Sums in row order, so the result does not depend on the fold order.
  double mean = 0.0;
  for (int i = 0; i < n; ++i) {
    if (status[i] == RowStatus::Unknown) {
      ++result.unknown;
      continue;
    }
    ++result.scored;
    if (status[i] == RowStatus::OutOfRange) ++result.outOfRange;
    mean += target[i];
  }
  if (result.scored == 0) {
    result.refusal =
        "cross-validation scored no row: every held-out row has a category its fold "
        "never saw";
    return result;
  }
  mean /= result.scored;
  double residual = 0.0, spread = 0.0, sum = 0.0, sumAbs = 0.0, sumSq = 0.0;
  for (int i = 0; i < n; ++i) {
    if (status[i] == RowStatus::Unknown) continue;
    residual += (score[i] - target[i]) * (score[i] - target[i]);
    spread += (target[i] - mean) * (target[i] - mean);
    const double d = in.y[i] - yPred[i];
    sum += d;
    sumAbs += std::fabs(d);
    sumSq += d * d;
  }
  if (!(spread > 0.0)) {
    result.refusal =
        "cross-validation cannot score: the held-out rows' transformed responses "
        "are all equal";
    return result;
  }
  result.rsq = 1.0 - residual / spread;
  if (inverse) {
    const double count = static_cast<double>(result.scored);
    result.responseErrors = true;
    result.Avedev = sumAbs / count;
    result.Stdev = std::sqrt(sumSq / count);
    result.Bias = sum / count;
  }
  result.done = true;
  return result;
}

}  // namespace tavel::model
