// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's smoothing entry: conditional expectation of an ordinate given
// an ascending abscissa, shaped by the variable code.
#pragma once

#include "ace/ace_settings.h"

namespace tavel::ace {

// code 1 orderable, 2 circular, 3 monotone, 4 linear, 5 (and any other)
// unorderable. scratch is (ld, 7) work, ld >= n. Needs n >= 5 for codes 1-3.
void smooth_variable(int code, int n, int ld, const double* abscissa, const double* ordinate,
                     const double* weights, double* result, double* scratch,
                     const AceSettings& settings);

// Replaces v(1..n) by its nondecreasing least-squares fit, every element
// counting once (pool adjacent violators).
void monotone_fit(double* v, int n);

}  // namespace tavel::ace
