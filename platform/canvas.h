// SPDX-License-Identifier: GPL-3.0-or-later
// The graphics primitives of one graphics window, as the graphing library and
// the result plots see them. Realised on a QImage (platform/qt) and by a
// recorder that logs every call (platform/headless).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavel::platform {

// Shape control codes of the rectangle, ellipse and polygon primitives.
inline constexpr int kBorder = 2;
inline constexpr int kFill = 3;

struct WindowConfig {
  int pixelsX = 0;  // width in pixels
  int pixelsY = 0;  // height in pixels
};

struct FontInfo {
  int pixelHeight = 0;
  int pixelWidth = 0;
  int type = 0;  // non-zero for a scalable (outline) font
};

using FillMask = std::array<std::uint8_t, 8>;

class Canvas {
 public:
  virtual ~Canvas() = default;

  // Window configuration: size in pixels; false when it cannot be read.
  virtual bool getWindowConfig(WindowConfig& config) = 0;
  // Every field -1: as large as possible. True on success.
  virtual bool setWindowConfigMaximum() = 0;
  virtual void clearWindow() = 0;
  // Writes the pixel rectangle as an image file (format from the extension,
  // BMP when none); a negative result on failure.
  virtual int saveImage(const std::string& path, int x1, int y1, int x2, int y2) = 0;

  // Colour index 0..15 of the fixed palette; returns the previous index.
  virtual int setColour(int index) = 0;
  // 16-bit line style, set bits drawn (bit 15 first).
  virtual void setLineStyle(std::uint16_t mask) = 0;
  // 8 x 8 pattern, one byte per row (bit 7 leftmost); solid = no mask.
  virtual void setFillMask(const FillMask& mask) = 0;
  virtual void setSolidFill() = 0;

  // Pixel origin at (left, top), clipping to the rectangle.
  virtual void setViewport(int left, int top, int right, int bottom) = 0;
  virtual void clearViewport() = 0;
  // Maps world x1..x2, y1..y2 onto the viewport as WorldWindow does (both ends on
  // visible pixels); y grows downwards unless invert.
  virtual void setWorldWindow(double x1, double y1, double x2, double y2, bool invert) = 0;

  virtual void rectanglePixel(int control, int x1, int y1, int x2, int y2) = 0;  // viewport pixels
  virtual void rectangleWorld(int control, double x1, double y1, double x2, double y2) = 0;
  virtual void ellipseWorld(int control, double x1, double y1, double x2, double y2) = 0;
  // xy holds n points as x, y pairs; n >= 3.
  virtual void polygonWorld(int control, const double* xy, int n) = 0;
  virtual void moveToWorld(double x, double y) = 0;
  virtual void lineToWorld(double x, double y) = 0;
  virtual void moveToPixel(int x, int y) = 0;  // viewport pixels
  virtual void getPositionPixel(int& x, int& y) = 0;

  // Fonts: option text such as "t'Courier New'h20w10b". A positive font
  // number on success, 0 or less on failure.
  virtual int initFonts() = 0;
  virtual int setFont(std::string_view options) = 0;
  virtual FontInfo fontInfo() = 0;
  virtual int textExtent(std::string_view text) = 0;  // pixels
  // Draws text with its top-left corner at the current position.
  virtual void outText(std::string_view text) = 0;
  // Tenths of degrees: 900 (reading upwards) or 0.
  virtual void setTextRotation(int tenths) = 0;
  // Non-zero after a request the canvas could not honour (e.g. a turn).
  virtual int graphicsStatus() = 0;
};

}  // namespace tavel::platform
