// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's two ways to the same digits: the fast one (vector lanes, two
// threads, linear-time pooling) that callers get, and the plain one that
// follows the method step by step. Tests run both and compare every bit.
#pragma once

#include <vector>

#include "ace/ace.h"
#include "ace/ace_settings.h"
#include "ace/running_line_lanes.h"

namespace tavel::ace {

enum class Paths { kFast, kPlain };

class HelperThread;

// helper: a started helper thread for the fast path, or null (one thread).
// spare: n doubles the fast supersmoother may use instead of allocating
// them, or null. groups: the abscissa's tie groups when the caller keeps
// them, or null, and the fast supersmoother finds them.
void smooth_variable_on(Paths paths, int code, int n, int ld, const double* abscissa,
                        const double* ordinate, const double* weights, double* result,
                        double* scratch, const AceSettings& settings, HelperThread* helper,
                        double* spare = nullptr, const TieMarks* groups = nullptr);

// ace_solve on the chosen paths.
AceSummary ace_solve_on(Paths paths, const AceProblem& problem, const AceOptions& options,
                        const LineSink& sink = {});

}  // namespace tavel::ace
