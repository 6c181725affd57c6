// Up to four running-line smooths over the same abscissa, weights and
// periodicity, computed together in one sweep: the windows' dependent
// divisions of the different smooths then overlap in vector registers.
// Every lane performs exactly the floating-point operations of
// running_line_smooth, so its results are the same to the last bit.
#pragma once

namespace tavel::ace {

struct RunningLineLane {
  const double* y = nullptr;  // ordinate (n)
  double span = 0.0;
  double* smo = nullptr;   // out (n)
  double* acvr = nullptr;  // out (n) when residuals are asked for
};

inline constexpr int kMaxLanes = 4;

// jper: 2 periodic, anything else plain. residuals: fill each lane's acvr
// (as running_line_smooth does for a positive iper).
void running_line_lanes(int n, const double* x, const double* w, int jper, bool residuals,
                        double vsmlsp, const RunningLineLane* lanes, int count);

}  // namespace tavel::ace
