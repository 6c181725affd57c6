// The engine's two ways to the same digits: the fast one (vector lanes, two
// threads, linear-time pooling) that callers get, and the plain one that
// follows the method step by step. Tests run both and compare every bit.
#pragma once

#include "ace/ace.h"
#include "ace/ace_settings.h"

namespace tavel::ace {

enum class Paths { kFast, kPlain };

void smooth_variable_on(Paths paths, int code, int n, int ld, const double* abscissa,
                        const double* ordinate, const double* weights, double* result,
                        double* scratch, const AceSettings& settings);

void ace_estimate_on(Paths paths, int n, int p, const double* x, const double* y, const double* w,
                     const int* l, double DelRsq, double* tx, double* ty, double& rsq, int& ierr,
                     int* m, double* z, int ld, const AceSettings& settings, int& NumTerm,
                     RsqHistory& rsq_history, const LineSink& sink);

}  // namespace tavel::ace
