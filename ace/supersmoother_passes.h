// Pieces of the supersmoother shared by its plain and lane-parallel forms,
// and the plain form itself (the reference the fast one must match bit for
// bit).
#pragma once

#include "ace/ace_settings.h"

namespace tavel::ace {

// Per point: the trial span whose smoothed residual (columns 2, 4, 6) is
// least, raised towards the largest by the bass control; into column 7.
void supersmoother_choose_span(int n, double* sc, int ld, double alpha,
                               const AceSettings& settings);

// Per point: clamps the smoothed span (column 2) and blends the trial smooths
// (columns 1, 3, 5) accordingly into column 4.
void supersmoother_blend(int n, double* sc, int ld, const AceSettings& settings);

namespace plain {

// One running-line pass after the other, as the method is written.
void supersmoother(int n, int ld, const double* x, const double* y, const double* w, int iper,
                   double span, double alpha, double* smo, double* sc, const AceSettings& settings);

}  // namespace plain

}  // namespace tavel::ace
