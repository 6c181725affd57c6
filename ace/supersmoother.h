// SPDX-License-Identifier: GPL-3.0-or-later
// Variable-span smoothing with running straight lines.
#pragma once

#include "ace/ace_settings.h"

namespace tavel::ace {

// Weighted running-line smooth of fixed span over ascending x (n >= 5).
// |iper| == 2 wraps the window around period 1; iper > 0 also writes the
// absolute cross-validation residuals to acvr (acvr may be null otherwise).
// vsmlsp is the floor below which a window's spread of x gives no slope.
void running_line_smooth(int n, const double* x, const double* y, const double* w, double span,
                         int iper, double vsmlsp, double* smo, double* acvr);

// Friedman's supersmoother over ascending x (n >= 5). iper == 2 asks for a
// periodic fit (granted when all x lie in [0, 1]); span > 0 gives a single
// fixed-span smooth, otherwise the span adapts per point with bass alpha.
// sc is (ld, 7) work. Allocates one scratch vector of n doubles per call; on
// long non-periodic inputs a second thread shares the passes (same digits).
void supersmoother(int n, int ld, const double* x, const double* y, const double* w, int iper,
                   double span, double alpha, double* smo, double* sc, const AceSettings& settings);

}  // namespace tavel::ace
