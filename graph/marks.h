// SPDX-License-Identifier: GPL-3.0-or-later
// The marks that series are drawn with: markers, error bars, filled boxes
// and legend entries. World coordinates, y downwards.
#pragma once

#include <string_view>

#include "platform/canvas.h"

namespace tavel::graph {

// Legend box geometry for a legend of `entries` entries (at most 8 shown),
// centred under the plot area. Cells are as wide as asked, at least the
// standard 2000 units and at most what keeps the box inside the picture.
struct LegendBox {
  int rows = 0;
  int columns = 0;
  double left = 0.0;
  double top = 0.0;
  double width = 0.0;
  double height = 0.0;
  double cellWidth = 0.0;
};
inline constexpr double kLegendCellWidth = 2000.0;
inline constexpr double kLegendCellHeight = 320.0;
inline constexpr int kMaxLegendEntries = 8;
// Space kept between the legend box and the picture's left and right edges.
inline constexpr double kLegendSideMargin = 160.0;
LegendBox legendBox(int entries, double sy, double cellWidth = kLegendCellWidth);
// World units a legend title takes in the current font: its first 20
// characters, trailing blanks not counted.
double legendTitleWidth(platform::Canvas& canvas, double sx, std::string_view title);
// The cell width an entry needs: its line or fill sample, then its title of
// titleWidth world units, with the sample's inset kept free after the title.
double legendCellWidthFor(double titleWidth);

void drawMarker(platform::Canvas& canvas, double x, double y, int markerType, int colour);
void drawErrorBar(platform::Canvas& canvas, double x, double y, double yLow, double yHigh, int type,
                  int colour);
void drawFilledBox(platform::Canvas& canvas, double x, double y, double width, double height,
                   int fill, int colour);
void drawLegendEntry(platform::Canvas& canvas, double sx, double sy, int entry, int entries,
                     int lineType, int lineColour, int markerType, int markerColour, int barFill,
                     int barColour, int textColour, std::string_view title, int frameColour,
                     double cellWidth = kLegendCellWidth);

}  // namespace tavel::graph
