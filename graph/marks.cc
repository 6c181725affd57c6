// SPDX-License-Identifier: GPL-3.0-or-later
#include "graph/marks.h"

#include <algorithm>
#include <string>

#include "graph/axes.h"
#include "graph/window.h"

namespace tavel::graph {

namespace {

constexpr double kSquareHalf = 48.0;
constexpr double kMarkerHalf = 64.0;
constexpr double kOctagonDiagonal = 45.248;
constexpr double kErrorCapHalf = 80.0;
constexpr double kSwatchInset = 160.0;
constexpr double kSwatchLine = 240.0;
constexpr double kSwatchBox = 160.0;
constexpr double kLegendTextOffset = 272.0;
// A title measured into a cell made for it fits, whatever the last bit of
// the sums that sized the cell.
constexpr double kFitSlack = 1e-6;

void polygon(platform::Canvas& canvas, int control, std::initializer_list<double> xy) {
  canvas.polygonWorld(control, xy.begin(), static_cast<int>(xy.size() / 2));
}

void segment(platform::Canvas& canvas, double x1, double y1, double x2, double y2) {
  canvas.moveToWorld(x1, y1);
  canvas.lineToWorld(x2, y2);
}

// The title as far as it fits in `room` world units in the current font.
// Only when the legend box could not be made wide enough are whole
// characters (never part of a UTF-8 sequence) dropped from its end.
std::string_view fittedTitle(platform::Canvas& canvas, double sx, std::string_view title,
                             double room) {
  room += kFitSlack;
  if (legendTitleWidth(canvas, sx, title) <= room) return title;
  std::string_view shown = title.substr(0, title.find_last_not_of(' ') + 1);
  while (!shown.empty() && canvas.textExtent(shown) * sx > room) {
    size_t end = shown.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(shown[end]) & 0xC0) == 0x80) --end;
    shown = shown.substr(0, end);
  }
  return shown;
}

}  // namespace

LegendBox legendBox(int entries, double sy, double cellWidth) {
  LegendBox box;
  if (entries < 1) return box;
  box.rows = (entries - 1) / 4 + 1;
  box.columns = (entries - 1) / box.rows + 1;
  const double widest = (kWorldWidth - 2.0 * kLegendSideMargin) / box.columns;
  box.cellWidth = std::min(std::max(cellWidth, kLegendCellWidth), widest);
  box.width = box.columns * box.cellWidth;
  box.height = box.rows * kLegendCellHeight;
  box.left = (6640.0 - box.width) / 2.0 + 1800.0;
  box.top = kPlotBottom + 2.0 * kLegendCellHeight + 16.0 * sy;
  return box;
}

double legendTitleWidth(platform::Canvas& canvas, double sx, std::string_view title) {
  title = title.substr(0, static_cast<size_t>(kSeriesTitleLength));
  return canvas.textExtent(title.substr(0, title.find_last_not_of(' ') + 1)) * sx;
}

double legendCellWidthFor(double titleWidth) {
  return std::max(kLegendCellWidth, kSwatchInset + kLegendTextOffset + titleWidth + kSwatchInset);
}

void drawMarker(platform::Canvas& canvas, double x, double y, int markerType, int colour) {
  if (markerType < 1 || markerType > 10) return;
  canvas.setColour(colour);
  setLineTypeCode(canvas, 1);
  setFillCode(canvas, 2);
  const double q = kSquareHalf;
  const double r = kMarkerHalf;
  const double o = kOctagonDiagonal;
  const int control = markerType >= 7 ? platform::kFill : platform::kBorder;
  switch (markerType) {
    case 1:
    case 7:
      canvas.rectangleWorld(control, x - q, y - q, x + q, y + q);
      break;
    case 2:
    case 8:
      polygon(canvas, control, {x, y - r, x + r, y + r, x - r, y + r});
      break;
    case 3:
    case 9:
      polygon(canvas, control, {x, y + r, x + r, y, x, y - r, x - r, y});
      break;
    case 4:
      canvas.ellipseWorld(platform::kBorder, x - r, y - r, x + r, y + r);
      break;
    case 5:
      segment(canvas, x - r, y, x + r, y);
      segment(canvas, x, y - r, x, y + r);
      break;
    case 6:
      segment(canvas, x - r, y + r, x + r, y - r);
      segment(canvas, x + r, y + r, x - r, y - r);
      break;
    default:  // 10
      polygon(canvas, platform::kFill,
              {x, y + r, x + o, y + o, x + r, y, x + o, y - o, x, y - r, x - o, y - o, x - r, y,
               x - o, y + o});
      break;
  }
}

void drawErrorBar(platform::Canvas& canvas, double x, double y, double yLow, double yHigh, int type,
                  int colour) {
  if (type != 1 && type != 2) return;
  const int lineType = (type == 2) ? 6 : 1;
  canvas.setColour(colour);
  drawStyledLine(canvas, lineType, x, y, x, yHigh);
  drawStyledLine(canvas, lineType, x - kErrorCapHalf, yHigh, x + kErrorCapHalf, yHigh);
  drawStyledLine(canvas, lineType, x, y, x, yLow);
  drawStyledLine(canvas, lineType, x - kErrorCapHalf, yLow, x + kErrorCapHalf, yLow);
}

void drawFilledBox(platform::Canvas& canvas, double x, double y, double width, double height,
                   int fill, int colour) {
  if (fill != 2) {
    // A patterned box shows its pattern over black, not over what lay beneath.
    canvas.setColour(0);
    setFillCode(canvas, 2);
    canvas.rectangleWorld(platform::kFill, x, y, x + width, y + height);
  }
  canvas.setColour(colour);
  setFillCode(canvas, fill);
  canvas.rectangleWorld(platform::kFill, x, y, x + width, y + height);
  canvas.rectangleWorld(platform::kBorder, x, y, x + width, y + height);
}

void drawLegendEntry(platform::Canvas& canvas, double sx, double sy, int entry, int entries,
                     int lineType, int lineColour, int markerType, int markerColour, int barFill,
                     int barColour, int textColour, std::string_view title, int frameColour,
                     double cellWidth) {
  if (entries > kMaxLegendEntries || entry < 1 || entry > entries) return;
  const LegendBox box = legendBox(entries, sy, cellWidth);
  const int row = (entry - 1) / box.columns + 1;
  const int column = (entry - 1) % box.columns + 1;
  canvas.setColour(frameColour);
  canvas.rectangleWorld(platform::kBorder, box.left, box.top, box.left + box.width,
                        box.top + box.height);

  const double x = box.left + kSwatchInset + (column - 1) * box.cellWidth;
  const double y = box.top + (row - 0.5) * kLegendCellHeight;
  if (barFill == 0) {
    // A series drawn without a joining line shows none in its legend either.
    if (lineType != 0) {
      canvas.setColour(lineColour);
      drawStyledLine(canvas, lineType, x, y, x + kSwatchLine, y);
    }
    drawMarker(canvas, x + kSwatchLine / 2.0, y, markerType, markerColour);
  } else {
    drawFilledBox(canvas, x, y - kSwatchBox / 2.0, kSwatchBox, kSwatchBox, barFill, barColour);
  }

  canvas.setColour(textColour);
  const int h = currentFontHeight(canvas);
  canvas.moveToWorld(x + kLegendTextOffset, y - 0.5 * h * sy);
  canvas.outText(fittedTitle(canvas, sx, title.substr(0, static_cast<size_t>(kSeriesTitleLength)),
                             box.cellWidth - 2.0 * kSwatchInset - kLegendTextOffset));
}

}  // namespace tavel::graph
