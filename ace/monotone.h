// Linear-time form of the nondecreasing fit used by the monotone smoother.
#pragma once

namespace tavel::ace {

// Gives exactly the values of monotone_fit(v, n), bit for bit, but keeps the
// pooled blocks on a stack and writes each value once, so a long decreasing
// run costs O(n) instead of O(n^2). starts and values are work arrays of n
// doubles each.
void monotone_fit_pooled(double* v, int n, double* starts, double* values);

}  // namespace tavel::ace
