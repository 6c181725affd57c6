// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's tuning record; the Run assigns it before every engine call.
#pragma once

#include <array>

namespace tavel::ace {

struct AceSettings {
  int max_iterations = 10;  // cap on inner and outer passes
  double fixed_span = 0.0;  // 0 (or less): adaptive span
  double bass = 5.0;        // bass control of the supersmoother
  std::array<double, 3> trial_spans{0.05, 0.2, 0.5};
  double huge_value = 1e20;
  double tiny_value = 1e-7;
  double scale_fraction = 0.001;
};

}  // namespace tavel::ace
