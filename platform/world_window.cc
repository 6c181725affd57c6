// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/world_window.h"

#include <algorithm>
#include <cmath>

namespace tavel::platform {

int roundToPixel(double v) {
  if (!(v == v)) return 0;  // NaN: draw at the origin rather than fail
  return static_cast<int>(
      std::lround(std::clamp(v, -WorldWindow::kCoordinateLimit, WorldWindow::kCoordinateLimit)));
}

void WorldWindow::setViewport(int left, int top, int right, int bottom) {
  left_ = std::min(left, right);
  right_ = std::max(left, right);
  top_ = std::min(top, bottom);
  bottom_ = std::max(top, bottom);
}

bool WorldWindow::setWindow(double x1, double y1, double x2, double y2, bool invert) {
  if (!(x1 != x2 && y1 != y2) || !std::isfinite(x1 + x2 + y1 + y2)) return false;
  windowSet_ = true;
  x1_ = x1;
  y1_ = y1;
  x2_ = x2;
  y2_ = y2;
  invert_ = invert;
  return true;
}

// The pictures users keep were drawn with exactly this arithmetic; a
// reordering changes the rounding of points that fall half way between two
// pixels.
WorldPoint WorldWindow::toDevice(double x, double y) const {
  if (!windowSet_) return WorldPoint{left_ + x, top_ + y};
  const double w = right_ - left_;
  const double h = bottom_ - top_;
  const double dx = left_ + (x - x1_) * w / (x2_ - x1_);
  const double dy =
      invert_ ? top_ + (y2_ - y) * h / (y2_ - y1_) : top_ + (y - y1_) * h / (y2_ - y1_);
  return WorldPoint{dx, dy};
}

PixelPoint WorldWindow::toPixel(double x, double y) const {
  const WorldPoint p = toDevice(x, y);
  return PixelPoint{roundToPixel(p.x), roundToPixel(p.y)};
}

WorldPoint WorldWindow::toWorld(double px, double py) const {
  if (!windowSet_) return WorldPoint{px - left_, py - top_};
  // A viewport one pixel wide shows only the window's first edge.
  const double w = right_ - left_;
  const double h = bottom_ - top_;
  const double x = w == 0 ? x1_ : x1_ + (px - left_) * (x2_ - x1_) / w;
  const double along = h == 0 ? 0.0 : (py - top_) * (y2_ - y1_) / h;
  return WorldPoint{x, invert_ ? y2_ - along : y1_ + along};
}

}  // namespace tavel::platform
