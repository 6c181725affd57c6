// SPDX-License-Identifier: GPL-3.0-or-later
// Sorting with a carried index and the initial least-squares scaling of the
// predictor transformations.
#pragma once

namespace tavel::ace {

// Sorts v(ii..jj) ascending in place and moves a(ii..jj) along with it.
// Indices are 1-based: v[0] is v(1). The order left among equal values is
// part of the result (the smoothers see tied abscissae in it). No recursion,
// no allocation.
void sort_with_index(double* v, int* a, int ii, int jj);

// Conjugate-gradient least squares: finds c minimising
// sum_j w(j) (ty(j) - sum_i c_i tx(j,i))**2 and replaces each column tx(.,i)
// by c_i tx(.,i). r is (n) work; sc is (p, 5) work, five columns of p
// coefficients each (sc[0..p-1] holds c on return), so it is sized by the
// number of predictors whatever n and ld are. maxit limits the restarts, eps
// the change of c per restart.
// Given a helper thread and u, n doubles of work, the sweeps over the
// observations run on two threads: every sum still adds its terms in
// observation order, so c and tx are those of one thread to the last bit.
class HelperThread;
void scale_predictors(int n, int p, int ld, const double* w, double sw, const double* ty,
                      double* tx, double eps, int maxit, double* r, double* sc,
                      HelperThread* helper = nullptr, double* u = nullptr);

}  // namespace tavel::ace
