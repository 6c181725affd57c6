// The engine's two ways to the same digits: the fast one (vector lanes, two
// threads, linear-time pooling) that callers get, and the plain one that
// follows the method step by step. Tests run both and compare every bit.
#pragma once

#include "ace/ace.h"
#include "ace/ace_settings.h"

namespace tavel::ace {

enum class Paths { kFast, kPlain };

class HelperThread;

// helper: a started helper thread for the fast path, or null (one thread).
void smooth_variable_on(Paths paths, int code, int n, int ld, const double* abscissa,
                        const double* ordinate, const double* weights, double* result,
                        double* scratch, const AceSettings& settings, HelperThread* helper);

// How much smoothing a call did: inner passes summed over the outer passes,
// and smooths of predictors and of the response.
struct EngineCounts {
  int inner_passes = 0;
  int predictor_smooths = 0;
  int response_smooths = 0;
};

void ace_estimate_on(Paths paths, int n, int p, const double* x, const double* y, const double* w,
                     const int* l, double DelRsq, double* tx, double* ty, double& rsq, int& ierr,
                     int* m, double* z, int ld, const AceSettings& settings, int& NumTerm,
                     RsqHistory& rsq_history, const LineSink& sink, EngineCounts* counts = nullptr);

}  // namespace tavel::ace
