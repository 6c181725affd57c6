// SPDX-License-Identifier: GPL-3.0-or-later
// A Canvas that draws nothing: it logs every primitive call with its
// arguments and answers the configuration, font and extent queries with
// values a test can set. Fonts take the pixel height and width written in
// their option text ("h20w10"); a text is as wide as its characters times
// that width. World positions map onto pixels as on the image canvas
// (platform::WorldWindow), so the pen position a test reads is the pixel a
// user would see.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/canvas.h"
#include "platform/world_window.h"

namespace tavel::platform::headless {

struct RecordedCall {
  std::string name;          // the Canvas operation, e.g. "lineToWorld"
  std::vector<double> args;  // its numeric arguments in order
  std::string text;          // its text argument (options, output text, path, mask)
};

class RecordingCanvas : public Canvas {
 public:
  // Answers; change them before drawing.
  WindowConfig window{800, 600};
  bool windowReadable = true;
  bool maximiseAnswer = true;
  WindowConfig maximisedWindow{800, 600};  // size the window takes when maximised
  int fontType = 1;                        // reported by fontInfo
  bool rotationRefused = false;            // a 900 rotation leaves a non-zero status
  int saveImageResult = 0;
  // Font answers per option text (trailing blanks ignored): the number
  // setFont returns (0 or less refuses the font) and the font's metrics.
  void setFontAnswer(std::string_view options, int answer);
  void setFontMetrics(std::string_view options, int pixelHeight, int pixelWidth);
  // Metrics of fonts whose option text names no height or width.
  int defaultFontHeight = 16;
  int defaultFontWidth = 8;

  const std::vector<RecordedCall>& calls() const { return calls_; }
  // One text line per call: the name, the arguments, then the text in quotes.
  std::vector<std::string> lines() const;
  static std::string formatCall(const RecordedCall& call);
  void clearLog() { calls_.clear(); }

  int colour() const { return colour_; }
  int rotation() const { return rotation_; }

  bool getWindowConfig(WindowConfig& config) override;
  bool setWindowConfigMaximum() override;
  void clearWindow() override;
  int saveImage(const std::string& path, int x1, int y1, int x2, int y2) override;
  int setColour(int index) override;
  void setLineStyle(std::uint16_t mask) override;
  void setFillMask(const FillMask& mask) override;
  void setSolidFill() override;
  void setViewport(int left, int top, int right, int bottom) override;
  void clearViewport() override;
  void setWorldWindow(double x1, double y1, double x2, double y2, bool invert) override;
  void rectanglePixel(int control, int x1, int y1, int x2, int y2) override;
  void rectangleWorld(int control, double x1, double y1, double x2, double y2) override;
  void ellipseWorld(int control, double x1, double y1, double x2, double y2) override;
  void polygonWorld(int control, const double* xy, int n) override;
  void moveToWorld(double x, double y) override;
  void lineToWorld(double x, double y) override;
  void moveToPixel(int x, int y) override;
  void getPositionPixel(int& x, int& y) override;
  int initFonts() override;
  int setFont(std::string_view options) override;
  FontInfo fontInfo() override;
  int textExtent(std::string_view text) override;
  void outText(std::string_view text) override;
  void setTextRotation(int tenths) override;
  int graphicsStatus() override;

 private:
  struct FontEntry {
    int answer = 0;
    int height = 0;
    int width = 0;
  };
  FontEntry& fontEntry(std::string_view options);
  void record(std::string name, std::vector<double> args, std::string text = {});
  // The pen lands where the image canvas would put it: on a whole pixel.
  void movePen(double x, double y);

  std::vector<RecordedCall> calls_;
  std::map<std::string, FontEntry, std::less<>> fonts_;
  int colour_ = 15;
  int rotation_ = 0;
  int status_ = 0;
  FontEntry current_{0, 0, 0};
  WorldWindow mapping_;
  PixelPoint pen_;  // current position, pixels from the viewport's top-left
};

}  // namespace tavel::platform::headless
