// SPDX-License-Identifier: GPL-3.0-or-later
// Where the windows of the workspace go: the output window (the report) and
// the plot windows, each showing a whole 4:3 picture scaled to its window.
// Plain geometry, so the rules can be checked without widgets.
#pragma once

#include <QRect>
#include <QSize>
#include <vector>

namespace tavel::platform::qt {

// The least a plot window's inside may be for its tick labels and titles to
// be read: below it the workspace shows the windows as tabs instead.
inline constexpr QSize kMinReadablePlot(480, 360);

struct TileLayout {
  QRect output;
  std::vector<QRect> plots;
};

// Tile: the report across the bottom of the area (about a quarter of it, at
// least minOutputHeight), the plots above it in the grid that gives the
// largest pictures. decorations is what a sub-window adds around its
// contents (frame and title bar). With no plots the report takes the area.
TileLayout tileLayout(const QRect& area, int plots, QSize picture, QSize decorations,
                      int minOutputHeight);

// Whether every plot of a tile layout gets at least kMinReadablePlot inside
// its frame (decorations as for tileLayout). True without plots.
bool plotsReadable(const TileLayout& layout, QSize decorations);

// Cascade: n windows, the first at the back, each one title bar further
// down and right. Windows stay at least about half the area in both
// directions (the steps shrink when there are many), so the report stays
// readable; the caller caps plot windows at their picture's natural size.
std::vector<QRect> cascadeLayout(const QRect& area, int windows, int step);

}  // namespace tavel::platform::qt
