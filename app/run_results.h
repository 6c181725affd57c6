// SPDX-License-Identifier: GPL-3.0-or-later
// What the last Run that reached its end found, kept for File / "Export
// Results..." and tavel-batch --export: the values of every observation at
// full precision, and the run's settings and figures.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tavel::app {

struct RunResults {
  std::string dataFile;  // as chosen
  std::string sheet;     // the worksheet read, for a workbook
  int n = 0;
  int p = 0;
  // By engine position (p predictors, then the response): names without
  // their trailing blanks, and the flag codes.
  std::vector<std::string> names;
  std::vector<int> codes;
  int NumTerm = 0;
  double DelRsq = 0.0;
  double bass = 0.0;          // the smoothness the engine used
  double span = 0.0;          // 0: adaptive
  bool prediction = false;    // the response is monotone: sumTx and yPred hold the prediction
  bool logResponse = false;   // the response is a "_ln_" variable
  bool equilibrated = false;  // xEq and yEq hold the equilibrated data
  // Column-major (n, p) and (n) arrays as the Run printed them; xEq and yEq
  // only when equilibrated (else empty: the Run printed 0.0).
  std::vector<double> x, tx, xEq;
  std::vector<double> y, ty, yEq, sumTx, yPred;
  // The run's figures in the order it reported them ("r**2", "Avedev", ...,
  // the cross-validated ones when asked for).
  std::vector<std::pair<std::string, double>> figures;
};

}  // namespace tavel::app
