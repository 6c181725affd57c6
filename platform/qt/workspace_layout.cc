// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/workspace_layout.h"

#include <algorithm>

namespace tavel::platform::qt {
namespace {

// The scale at which a picture fits a cell once the window's frame is taken.
double fitScale(QSize cell, QSize picture, QSize decorations) {
  const double sx = double(cell.width() - decorations.width()) / picture.width();
  const double sy = double(cell.height() - decorations.height()) / picture.height();
  return std::min(sx, sy);
}

}  // namespace

TileLayout tileLayout(const QRect& area, int plots, QSize picture, QSize decorations,
                      int minOutputHeight) {
  TileLayout layout;
  if (plots <= 0 || area.isEmpty()) {
    layout.output = area;
    return layout;
  }
  const int outputHeight =
      std::min(std::max(area.height() / 4, minOutputHeight), area.height() / 2);
  const QRect plotArea(area.left(), area.top(), area.width(), area.height() - outputHeight);
  layout.output = QRect(area.left(), plotArea.bottom() + 1, area.width(), outputHeight);

  int bestColumns = 1;
  double bestScale = -1.0;
  for (int columns = 1; columns <= plots; ++columns) {
    const int rows = (plots + columns - 1) / columns;
    const QSize cell(plotArea.width() / columns, plotArea.height() / rows);
    const double scale = fitScale(cell, picture, decorations);
    if (scale > bestScale + 1e-9) {
      bestScale = scale;
      bestColumns = columns;
    }
  }
  const int columns = bestColumns;
  const int rows = (plots + columns - 1) / columns;
  for (int k = 0; k < plots; ++k) {
    const int r = k / columns;
    const int c = k % columns;
    // Cell edges from the cumulative division, so the grid fills the area
    // without gaps whatever the remainders.
    const int x0 = plotArea.left() + plotArea.width() * c / columns;
    const int x1 = plotArea.left() + plotArea.width() * (c + 1) / columns;
    const int y0 = plotArea.top() + plotArea.height() * r / rows;
    const int y1 = plotArea.top() + plotArea.height() * (r + 1) / rows;
    layout.plots.emplace_back(x0, y0, x1 - x0, y1 - y0);
  }
  return layout;
}

bool plotsReadable(const TileLayout& layout, QSize decorations) {
  for (const QRect& r : layout.plots)
    if (r.width() - decorations.width() < kMinReadablePlot.width() ||
        r.height() - decorations.height() < kMinReadablePlot.height())
      return false;
  return true;
}

std::vector<QRect> cascadeLayout(const QRect& area, int windows, int step) {
  std::vector<QRect> rects;
  if (windows <= 0 || area.isEmpty()) return rects;
  int dx = step;
  int dy = step;
  if (windows > 1) {
    // Keep every window at least ~55% of the area.
    dx = std::min(step, area.width() * 45 / 100 / (windows - 1));
    dy = std::min(step, area.height() * 45 / 100 / (windows - 1));
  }
  const QSize size(area.width() - dx * (windows - 1), area.height() - dy * (windows - 1));
  for (int k = 0; k < windows; ++k)
    rects.emplace_back(QPoint(area.left() + dx * k, area.top() + dy * k), size);
  return rects;
}

}  // namespace tavel::platform::qt
