// SPDX-License-Identifier: GPL-3.0-or-later
// Pieces of the supersmoother shared by its plain and lane-parallel forms,
// and the plain form itself (the reference the fast one must match bit for
// bit).
#pragma once

#include <vector>

#include "ace/ace_settings.h"
#include "ace/running_line_lanes.h"

namespace tavel::ace {

// For points first..last: the trial span whose smoothed residual (columns 2, 4, 6) is
// least, raised towards the largest by the bass control; into column 7.
void supersmoother_choose_span(int first, int last, double* sc, int ld, double alpha,
                               const AceSettings& settings);

// For points first..last: clamps the smoothed span (column 2) and blends the trial smooths
// (columns 1, 3, 5) accordingly into column 4.
void supersmoother_blend(int first, int last, double* sc, int ld, const AceSettings& settings);

class HelperThread;

// The supersmoother with its independent passes as vector lanes, and, given
// a helper thread (for long, non-periodic inputs), its dependent passes
// following each other on two threads. Same digits as the plain form.
// spare: n doubles of the caller's for the first trial's residuals, or null,
// and the call allocates them itself. groups: x's tie groups, or null, and
// the call finds them.
void supersmoother_in_lanes(int n, int ld, const double* x, const double* y, const double* w,
                            int iper, double span, double alpha, double* smo, double* sc,
                            const AceSettings& settings, HelperThread* helper,
                            double* spare = nullptr, const TieMarks* groups = nullptr);

// Inputs shorter than this are smoothed on one thread.
inline constexpr int kPipelineMinPoints = 16384;

namespace plain {

// One running-line pass after the other, as the method is written.
void supersmoother(int n, int ld, const double* x, const double* y, const double* w, int iper,
                   double span, double alpha, double* smo, double* sc, const AceSettings& settings);

}  // namespace plain

}  // namespace tavel::ace
