// SPDX-License-Identifier: GPL-3.0-or-later
// The mapping between a canvas's world coordinates and its device pixels,
// written once so that every canvas (the image one the user sees, the
// recording one the graph tests read) puts a world point on the same pixel.
//
// The viewport is a rectangle of device pixels, corners inclusive. The world
// window maps world x1..x2 onto the viewport's pixel columns left..right and
// y1..y2 onto its rows top..bottom (bottom..top when inverted, for y growing
// upwards), so both ends of the world range land on visible pixels. Until a
// world window is set, world positions are pixels from the viewport's
// top-left corner.
//
//   WorldWindow m;
//   m.setViewport(100, 50, 499, 349);             // 400 x 300 pixels
//   m.setWindow(0, 0, 10240, 7680, false);
//   m.toPixel(10240, 7680);                       // {499, 349}
#pragma once

namespace tavel::platform {

struct PixelPoint {
  int x = 0;
  int y = 0;
  friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

struct WorldPoint {
  double x = 0.0;
  double y = 0.0;
};

class WorldWindow {
 public:
  // Device coordinates are kept well inside the range where a raster engine
  // is exact; shapes reaching further out are clipped away anyway.
  static constexpr double kCoordinateLimit = 30000.0;

  // Corners in either order.
  void setViewport(int left, int top, int right, int bottom);
  // Refused (false, mapping unchanged) when the window has no width or no
  // height or a corner is not finite.
  bool setWindow(double x1, double y1, double x2, double y2, bool invert);

  // World to device pixels, unrounded.
  WorldPoint toDevice(double x, double y) const;
  // World to the device pixel a raster device draws it on: rounded half away
  // from zero, kept within kCoordinateLimit, NaN at the origin.
  PixelPoint toPixel(double x, double y) const;
  // Device pixel (centre) back to world coordinates.
  WorldPoint toWorld(double px, double py) const;

  int left() const { return left_; }
  int top() const { return top_; }
  int right() const { return right_; }
  int bottom() const { return bottom_; }

 private:
  int left_ = 0, top_ = 0, right_ = 799, bottom_ = 599;
  bool windowSet_ = false;
  double x1_ = 0.0, y1_ = 0.0, x2_ = 1.0, y2_ = 1.0;
  bool invert_ = false;
};

// Rounds a device coordinate as WorldWindow::toPixel does.
int roundToPixel(double v);

}  // namespace tavel::platform
