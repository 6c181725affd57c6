// SPDX-License-Identifier: GPL-3.0-or-later
// A canvas that draws nothing and reports an 800 x 600 window: enough for
// runs whose pictures nobody looks at, and for timing the graphing library
// without any painting.
#pragma once

#include "platform/canvas.h"

namespace tavel::platform::headless {

class BlankCanvas : public Canvas {
 public:
  bool getWindowConfig(WindowConfig& c) override {
    c.pixelsX = 800;
    c.pixelsY = 600;
    return true;
  }
  bool setWindowConfigMaximum() override { return true; }
  void clearWindow() override {}
  int saveImage(const std::string&, int, int, int, int) override { return -1; }
  int setColour(int index) override {
    const int previous = colour_;
    colour_ = index;
    return previous;
  }
  void setLineStyle(std::uint16_t) override {}
  void setFillMask(const FillMask&) override {}
  void setSolidFill() override {}
  void setViewport(int, int, int, int) override {}
  void clearViewport() override {}
  void setWorldWindow(double, double, double, double, bool) override {}
  void rectanglePixel(int, int, int, int, int) override {}
  void rectangleWorld(int, double, double, double, double) override {}
  void ellipseWorld(int, double, double, double, double) override {}
  void polygonWorld(int, const double*, int) override {}
  void moveToWorld(double, double) override {}
  void lineToWorld(double, double) override {}
  void moveToPixel(int x, int y) override {
    x_ = x;
    y_ = y;
  }
  void getPositionPixel(int& x, int& y) override {
    x = x_;
    y = y_;
  }
  int initFonts() override { return 1; }
  int setFont(std::string_view) override { return 1; }
  FontInfo fontInfo() override { return {16, 8, 1}; }
  int textExtent(std::string_view text) override { return 8 * static_cast<int>(text.size()); }
  void outText(std::string_view) override {}
  void setTextRotation(int) override {}
  int graphicsStatus() override { return 0; }

 private:
  int colour_ = 15;
  int x_ = 0, y_ = 0;
};

}  // namespace tavel::platform::headless
