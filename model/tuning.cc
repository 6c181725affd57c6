// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/tuning.h"

#include <charconv>
#include <cstdlib>

#include "model/model.h"

namespace tavel::model {
namespace {

std::string chars(double v, std::chars_format format, int precision) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, format, precision);
  return std::string(buf, r.ptr);
}

std::string shortest(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace

std::vector<TuningCandidate> tuningCandidates(const int* codes, int p,
                                              const ace::AceSettings& settings) {
  std::vector<TuningCandidate> out;
  const std::vector<int> given(codes, codes + p + 1);
  for (double bass : kTuningBasses) {
    TuningCandidate c;
    c.label = "bass " + shortest(bass);
    c.settings = settings;
    c.settings.bass = bass;
    c.settings.fixed_span = 0.0;
    c.codes = given;
    out.push_back(std::move(c));
  }
  // Every Orderable independent and a Monotone dependent Linear Tr: with no
  // other codes, least squares.
  TuningCandidate linear;
  linear.label = "linear";
  linear.settings = settings;
  linear.settings.bass = ace::AceSettings{}.bass;
  linear.settings.fixed_span = 0.0;
  linear.codes = given;
  bool any = false;
  for (int j = 0; j < p; ++j) {
    if (std::abs(linear.codes[j]) == engineCode(VarFlag::Orderable)) {
      linear.codes[j] = engineCode(VarFlag::Linear);
      any = true;
    }
  }
  int& dependent = linear.codes[static_cast<std::size_t>(p)];
  if (std::abs(dependent) == engineCode(VarFlag::Monotone)) dependent = engineCode(VarFlag::Linear);
  if (any) out.push_back(std::move(linear));
  return out;
}

TuningResult tuneSmoothness(const CvInput& input,
                            const std::function<void(const TuningResult&, int)>& scored) {
  TuningResult result;
  result.candidates = tuningCandidates(input.codes, input.p, input.settings);
  std::vector<CvInput> inputs;
  for (const TuningCandidate& c : result.candidates) {
    CvInput in = input;
    in.codes = c.codes.data();
    in.settings = c.settings;
    inputs.push_back(in);
  }
  // Every candidate's folds share the cores; each candidate is ranked, in
  // order, as soon as its own folds are done.
  responseScaleCvEach(inputs, [&](int k, const ResponseScaleCv& score) {
    TuningCandidate& c = result.candidates[static_cast<std::size_t>(k)];
    c.score = score;
    if (c.score.done) {
      const bool better =
          result.best < 0 ||
          c.score.rmse < result.candidates[static_cast<std::size_t>(result.best)].score.rmse;
      if (better) result.best = k;
    } else if (result.refusal.empty()) {
      result.refusal = c.score.refusal;
    }
    if (scored) scored(result, k);
  });
  result.done = result.best >= 0;
  return result;
}

std::vector<std::string> tuningHeading(int folds, bool exponentiated) {
  return {" Smoothness tuned by " + std::to_string(folds) +
              "-fold cross-validation on the response scale" +
              (exponentiated ? ", exponentiated" : "") + ":",
          "   candidate                  CV R^2     CV RMSE"};
}

std::string tuningTableLine(const TuningCandidate& c) {
  std::string line = "   " + c.label;
  line.resize(29, ' ');
  if (!c.score.done) return line + "not scored: " + c.score.refusal;
  std::string rsq = chars(c.score.rsq, std::chars_format::fixed, 4);
  if (rsq.size() < 7) rsq.insert(0, 7 - rsq.size(), ' ');
  return line + rsq + "    " + chars(c.score.rmse, std::chars_format::general, 4);
}

std::string tuningWinnerLine(const TuningResult& result) {
  const TuningCandidate& c = result.candidates[static_cast<std::size_t>(result.best)];
  return " Tuned: " + c.label + " has the smallest CV error (R^2 " +
         chars(c.score.rsq, std::chars_format::fixed, 4) +
         ") and is used for this run; its CV figures are the tuning score, so slightly "
         "optimistic.";
}

}  // namespace tavel::model
