// SPDX-License-Identifier: GPL-3.0-or-later
// Linear-time form of the nondecreasing fit used by the monotone smoother.
#pragma once

namespace tavel::ace {

// Gives exactly the values of monotone_fit(v, n), bit for bit, but keeps the
// pooled blocks on a stack and writes each value once, so a long decreasing
// run costs O(n) instead of O(n^2). starts and values are work arrays of n
// doubles each.
void monotone_fit_pooled(double* v, int n, double* starts, double* values);

// The monotone smoother's step after the supersmoother: replaces result(1..n)
// by the better of its nondecreasing and nonincreasing fits, spreads flat
// stretches into ramps, and gives equal abscissae the mean of their values.
// scratch is (ld, 7) work; columns 1 to 4 are used.
void monotone_step(int n, int ld, const double* abscissa, double* result, double* scratch);

}  // namespace tavel::ace
