// SPDX-License-Identifier: GPL-3.0-or-later
// A smoothness the data choose: each candidate setting is cross-validated
// with the same folds and scored by its error on the response's own scale
// (responseScaleCv); the smallest error wins, the earliest candidate on a
// tie.
//
// The candidates: the supersmoother's bass 0, 2, 5, 8 and 10 with the
// adaptive span, then, when some independent is Orderable, "linear": every
// Orderable independent and a Monotone dependent Linear Tr (bass 5). With
// no other codes that candidate is least squares, so the tuned fit is never
// worse than least squares by more than the folds' noise. The winner's score is the
// best of several looks at the same folds, so it is slightly optimistic.
//
//   TuningInput in{cvInput};            // codes, settings, folds of the Run
//   TuningResult t = tuneSmoothness(in);
//   if (t.done) use t.candidates[t.best].settings and .codes
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model/cross_validation.h"

namespace tavel::model {

inline constexpr double kTuningBasses[] = {0.0, 2.0, 5.0, 8.0, 10.0};

struct TuningCandidate {
  std::string label;          // "bass 0", ..., "linear"
  ace::AceSettings settings;  // the engine's, with this bass and span
  std::vector<int> codes;     // l(1..p+1) of this candidate
  ResponseScaleCv score;      // done false: it could not be scored (refusal)
};

struct TuningResult {
  bool done = false;
  std::string refusal;  // why no candidate could be scored
  std::vector<TuningCandidate> candidates;
  int best = -1;  // index into candidates
};

// The candidates for a fit with these codes (p independents, then the
// dependent) and engine settings.
std::vector<TuningCandidate> tuningCandidates(const int* codes, int p,
                                              const ace::AceSettings& settings);

// Scores every candidate on the folds of `input` (its codes and settings
// give the candidates). scored(k) is called after candidate k, for progress.
TuningResult tuneSmoothness(const CvInput& input,
                            const std::function<void(const TuningResult&, int)>& scored = {});

// The report: a heading, one line per candidate, and the line that names
// the winner with the caveat on its score.
std::vector<std::string> tuningHeading(int folds, bool exponentiated);
std::string tuningTableLine(const TuningCandidate& candidate);
std::string tuningWinnerLine(const TuningResult& result);

}  // namespace tavel::model
