// SPDX-License-Identifier: GPL-3.0-or-later
#include "graph/window.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

namespace tavel::graph {

namespace {

constexpr std::array<std::uint16_t, 5> kLineMasks = {0xFFFF, 0xEEEE, 0xECEC, 0xECCC, 0xAAAA};

constexpr std::array<platform::FillMask, 7> kFillMasks = {{
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x01},
    {0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01, 0x80},
    {0x28, 0x50, 0xA0, 0x41, 0x82, 0x05, 0x0A, 0x14},
    {0x14, 0x0A, 0x05, 0x82, 0x41, 0xA0, 0x50, 0x28},
}};

// Option texts, each handed to the runtime blank padded to 50 characters.
constexpr int kFontOptionLength = 50;
const std::array<std::string, 6>& fontOptionTable() {
  static const std::array<std::string, 6> table = [] {
    std::array<std::string, 6> t = {"t'Courier New'h20w10b",     "t'Courier New'h20w9b",
                                    "t'Times New Roman'h26w13b", "t'Times New Roman'h16w8b",
                                    "t'MS Sans Serif'h24w12b",   "t'MS Sans Serif'h12w6b"};
    for (std::string& option : t) option.resize(kFontOptionLength, ' ');
    return t;
  }();
  return table;
}

}  // namespace

std::string_view trimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

PixelScale pixelScale(const GraphRecord& graph) {
  PixelScale scale;
  scale.sx = kWorldWidth / (graph.right - graph.left + 1);
  scale.sy = kWorldHeight / (graph.bottom - graph.top + 1);
  return scale;
}

bool maximiseGraphWindow(platform::Canvas& canvas) { return canvas.setWindowConfigMaximum(); }

bool beginGraphWindow(platform::Canvas& canvas, const GraphRecord& graph) {
  if (isTrue(graph.maximiseWindow) && graph.timesDrawn == 0) {
    if (!maximiseGraphWindow(canvas)) return false;
  }
  platform::WindowConfig config;
  if (!canvas.getWindowConfig(config)) return false;
  if (graph.bottom > config.pixelsY || graph.right > config.pixelsX || graph.left < 0 ||
      graph.top < 0) {
    return false;
  }
  // An empty viewport has no world space to map onto.
  if (graph.right < graph.left || graph.bottom < graph.top) return false;

  canvas.setViewport(graph.left, graph.top, graph.right, graph.bottom);
  canvas.clearViewport();
  canvas.setLineStyle(0xFFFF);
  canvas.setSolidFill();
  canvas.setColour(graph.backgroundColour);
  // The whole viewport takes the background colour, wherever it lies in the window.
  canvas.rectanglePixel(platform::kFill, 0, 0, graph.right - graph.left, graph.bottom - graph.top);
  canvas.setColour(graph.graphColour);
  canvas.setWorldWindow(0.0, 0.0, kWorldWidth, kWorldHeight, false);
  return true;
}

bool setLineTypeCode(platform::Canvas& canvas, int code) {
  if (code < 1 || code > 10) return false;
  canvas.setLineStyle(kLineMasks[static_cast<size_t>((code - 1) % 5)]);
  return code >= 6;
}

void setFillCode(platform::Canvas& canvas, int code) {
  if (code < 0 || code > 6) return;
  if (code == 2) {
    canvas.setSolidFill();
  } else {
    canvas.setFillMask(kFillMasks[static_cast<size_t>(code)]);
  }
}

std::string_view graphFontOptions(int code) {
  if (code < 1 || code > 6) code = 1;
  return fontOptionTable()[static_cast<size_t>(code - 1)];
}

int selectGraphFont(platform::Canvas& canvas, int code) {
  return canvas.setFont(graphFontOptions(code));
}

int currentFontHeight(platform::Canvas& canvas) {
  const platform::FontInfo info = canvas.fontInfo();
  if (info.type != 0 && info.pixelHeight <= 0) return 16;
  return info.pixelHeight;
}

void moveToWorld(platform::Canvas& canvas, double x, double y) { canvas.moveToWorld(x, y); }

void drawStyledLine(platform::Canvas& canvas, int lineType, double x1, double y1, double x2,
                    double y2) {
  const bool thick = setLineTypeCode(canvas, lineType);
  canvas.moveToWorld(x1, y1);
  canvas.lineToWorld(x2, y2);
  if (!thick) return;
  const bool shiftVertically = (y1 == y2) || std::fabs(y2 - y1) <= std::fabs(x2 - x1);
  for (double offset : {kThickOffset, -kThickOffset}) {
    if (shiftVertically) {
      canvas.moveToWorld(x1, y1 + offset);
      canvas.lineToWorld(x2, y2 + offset);
    } else {
      canvas.moveToWorld(x1 + offset, y1);
      canvas.lineToWorld(x2 + offset, y2);
    }
  }
}

void drawStyledCircle(platform::Canvas& canvas, double x, double y, double radius, int lineType,
                      int control) {
  const bool thick = setLineTypeCode(canvas, lineType);
  canvas.ellipseWorld(control, x - radius, y - radius, x + radius, y + radius);
  if (thick) {
    const double r = radius + kThickOffset;
    canvas.ellipseWorld(control, x - r, y - r, x + r, y + r);
  }
}

void drawTextCentred(platform::Canvas& canvas, double sx, double sy, double x1, double x2,
                     double y1, double y2, std::string_view text) {
  const std::string_view t = trimBlanks(text);
  const int w = canvas.textExtent(t);
  const int h = currentFontHeight(canvas);
  const double x = x1 + ((x2 - x1) - w * sx) / 2.0;
  const double y = y1 + ((y2 - y1) - h * sy) / 2.0;
  canvas.moveToWorld(x, y);
  canvas.outText(t);
}

void drawTextAligned(platform::Canvas& canvas, double sx, double sy, double x, bool rightAligned,
                     double y1, double y2, std::string_view text) {
  const std::string_view t = trimBlanks(text);
  const int w = canvas.textExtent(t);
  const int h = currentFontHeight(canvas);
  const double xStart = rightAligned ? x - w * sx : x;
  const double y = y1 + ((y2 - y1) - h * sy) / 2.0;
  canvas.moveToWorld(xStart, y);
  canvas.outText(t);
}

namespace {

// Turned text, reading upwards, its left edge at x and centred on y1..y2;
// stacked letter by letter when the font cannot be turned.
void drawTurnedText(platform::Canvas& canvas, double sy, double x, double y1, double y2,
                    std::string_view t, bool stacked) {
  const int w = verticalTextExtent(canvas, t, stacked);
  const double y = y1 + ((y2 - y1) + w * sy) / 2.0;
  if (!stacked) {
    canvas.moveToWorld(x, y);
    canvas.outText(t);
  } else {
    canvas.moveToWorld(x, y - w * sy);
    drawTextStacked(canvas, t);
  }
  canvas.setTextRotation(0);
}

}  // namespace

void drawTextVerticalCentred(platform::Canvas& canvas, double sx, double sy, double x1, double x2,
                             double y1, double y2, std::string_view text) {
  const std::string_view t = trimBlanks(text);
  canvas.setTextRotation(900);
  const bool stacked = canvas.graphicsStatus() != 0;
  const int h = currentFontHeight(canvas);
  const double x = x1 + ((x2 - x1) - h * sx) / 2.0;
  drawTurnedText(canvas, sy, x, y1, y2, t, stacked);
}

void drawTextVerticalAligned(platform::Canvas& canvas, double sx, double sy, double x, bool before,
                             double y1, double y2, std::string_view text) {
  const std::string_view t = trimBlanks(text);
  canvas.setTextRotation(900);
  const bool stacked = canvas.graphicsStatus() != 0;
  const int h = currentFontHeight(canvas);
  const double xStart = before ? x - h * sx : x;
  drawTurnedText(canvas, sy, xStart, y1, y2, t, stacked);
}

void drawTextStacked(platform::Canvas& canvas, std::string_view text) {
  int x0 = 0;
  int y = 0;
  canvas.getPositionPixel(x0, y);
  const int height = currentFontHeight(canvas);
  const int width = canvas.fontInfo().pixelWidth;
  for (size_t i = 0; i < text.size(); ++i) {
    const std::string_view ch = text.substr(i, 1);
    const int x = x0 + (width - canvas.textExtent(ch)) / 2;
    canvas.moveToPixel(x, y);
    canvas.outText(ch);
    y += height;
  }
  canvas.moveToPixel(x0, y);
}

int verticalTextExtent(platform::Canvas& canvas, std::string_view text, bool stacked) {
  if (!stacked) return canvas.textExtent(text);
  const size_t last = text.find_last_not_of(' ');
  const int characters = (last == std::string_view::npos) ? 0 : static_cast<int>(last + 1);
  return characters * currentFontHeight(canvas);
}

}  // namespace tavel::graph
