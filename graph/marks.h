// The marks that series are drawn with: markers, error bars, filled boxes
// and legend entries. World coordinates, y downwards.
#pragma once

#include <string_view>

#include "platform/canvas.h"

namespace tavel::graph {

// Legend box geometry for a legend of `entries` entries (at most 8 shown).
struct LegendBox {
  int rows = 0;
  int columns = 0;
  double left = 0.0;
  double top = 0.0;
  double width = 0.0;
  double height = 0.0;
};
inline constexpr double kLegendCellWidth = 2000.0;
inline constexpr double kLegendCellHeight = 320.0;
inline constexpr int kMaxLegendEntries = 8;
LegendBox legendBox(int entries, double sy);

void drawMarker(platform::Canvas& canvas, double x, double y, int markerType, int colour);
void drawErrorBar(platform::Canvas& canvas, double x, double y, double yLow, double yHigh, int type,
                  int colour);
void drawFilledBox(platform::Canvas& canvas, double x, double y, double width, double height,
                   int fill, int colour);
void drawLegendEntry(platform::Canvas& canvas, double sx, double sy, int entry, int entries,
                     int lineType, int lineColour, int markerType, int markerColour, int barFill,
                     int barColour, int textColour, std::string_view title, int frameColour);

}  // namespace tavel::graph
