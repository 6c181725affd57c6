// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/model_hooks.h"

#include "io/field_format.h"
#include "io/trace.h"
#include "model/cross_validation.h"
#include "run/report.h"

namespace tavel::run {
namespace {

model::Variable describe(const app::DataTable& data, int v, int code) {
  model::Variable d;
  d.flag = model::flagFromCode(code).value_or(model::VarFlag::Orderable);
  d.name = std::string(trimmedName(data.colName[static_cast<std::size_t>(v - 1)]));
  d.isLog = v > data.numCol1;
  d.source = d.isLog ? std::string(trimmedName(
                           data.colName[static_cast<std::size_t>(data.lnSource[v - 1] - 1)]))
                     : d.name;
  d.labels = app::categoryLabels(data, v);
  return d;
}

}  // namespace

std::vector<model::Variable> modelVariables(const app::AppState& state) {
  const app::VarSelection& sel = state.selection;
  std::vector<model::Variable> out;
  for (int j = 0; j < sel.p; ++j)
    out.push_back(describe(state.data, sel.indep[j], model::engineCode(state.options.l[j])));
  out.push_back(describe(state.data, sel.dep, model::engineCode(state.options.l[sel.p])));
  return out;
}

void keepRunModel(app::AppState& state, const model::FitArrays& fit, double rsq) {
  model::Model m = model::buildModel(fit, modelVariables(state));
  m.dataFileName = std::string(trimmedName(state.data.dataFileName));
  m.NumTerm = state.options.NumTerm;
  m.DelRsq = state.options.DelRsq;
  m.bass = state.aceSettings.bass;
  m.span = state.aceSettings.fixed_span;
  m.rsq = rsq;
  m.extrapolate = state.options.extrapolate;
  state.model = std::move(m);
}

std::vector<std::string> crossValidationLines(int folds, double rsq, bool responseErrors,
                                              double Avedev, double Stdev, double Bias,
                                              int unknown) {
  std::vector<std::string> lines;
  std::string line = " CROSS-VALIDATED SQUARED CORRELATION (" + std::to_string(folds) + " FOLDS) =";
  app::appendF(line, rsq, 7, 4);
  lines.push_back(line);
  if (responseErrors) {
    line = " CV_Avedev=";
    app::appendG(line, Avedev, 11, 3);
    app::appendX(line, 3);
    line += "CV_Stdev=";
    app::appendG(line, Stdev, 11, 3);
    app::appendX(line, 3);
    line += "CV_Bias=";
    app::appendG(line, Bias, 11, 3);
    lines.push_back(line);
  }
  if (unknown > 0)
    lines.push_back(app::listLine({"Cross-validation left out", unknown,
                                   " held-out rows of a category their fold never saw"}));
  return lines;
}

bool crossValidateRun(platform::Runtime& runtime, app::AppState& state, int n, int p,
                      const double* x, const double* y) {
  const int folds = state.options.CvFolds;
  if (folds == 0) return true;
  model::CvInput in;
  in.n = n;
  in.p = p;
  in.x = x;
  in.y = y;
  const std::vector<int> codes = app::engineCodes(state.options.l);
  in.codes = codes.data();
  in.DelRsq = state.options.DelRsq;
  in.NumTerm = state.options.NumTerm;
  in.settings = state.aceSettings;
  in.folds = folds;
  in.logResponse = state.selection.dep > state.data.numCol1;
  in.extrapolate = state.options.extrapolate;
  runtime.reportStage("Cross-validation: fitting fold 1 of " + std::to_string(folds));
  const model::CvResult cv = model::crossValidate(
      in, [&runtime](std::string_view line) { runtime.writeLine(platform::kScreenUnit, line); });
  if (!cv.done) {
    const std::string line = " Cross-validation refused: " + cv.refusal + ".";
    app::traceBoth(runtime, line);
    state.problems.push_back(cv.refusal);
    return false;
  }
  std::vector<std::string> lines = crossValidationLines(folds, cv.rsq, cv.responseErrors, cv.Avedev,
                                                        cv.Stdev, cv.Bias, cv.unknown);
  // The response scale follows the transformed scale's figures.
  if (cv.responseScale) {
    const auto after = lines.begin() + (cv.responseErrors ? 2 : 1);
    lines.insert(after,
                 model::responseScaleLine(folds, cv.responseRsq, cv.responseRmse, in.logResponse));
  }
  if (cv.held > 0)
    lines.push_back(" Cross-validation held " + std::to_string(cv.held) + " of " +
                    std::to_string(cv.scored) +
                    " held-out predictions at their fold's observed response range");
  for (const std::string& line : lines) app::traceBoth(runtime, line);
  if (state.model) {
    state.model->crossValidation = model::CvSummary{.folds = folds,
                                                    .rsq = cv.rsq,
                                                    .responseScale = cv.responseScale,
                                                    .responseRsq = cv.responseRsq,
                                                    .responseRmse = cv.responseRmse,
                                                    .exponentiated = in.logResponse};
  }
  if (state.results) {
    auto& figures = state.results->figures;
    figures.emplace_back("CV folds", folds);
    figures.emplace_back("CV r**2", cv.rsq);
    if (cv.responseErrors) {
      figures.emplace_back("CV_Avedev", cv.Avedev);
      figures.emplace_back("CV_Stdev", cv.Stdev);
      figures.emplace_back("CV_Bias", cv.Bias);
    }
    if (cv.responseScale) {
      figures.emplace_back("CV response-scale R^2", cv.responseRsq);
      figures.emplace_back("CV response-scale RMSE", cv.responseRmse);
    }
  }
  return true;
}

}  // namespace tavel::run
