// SPDX-License-Identifier: GPL-3.0-or-later
// drawGraph: everything of a graph except its data (frame, titles and the
// Cartesian, category or polar axes), and the announcement of the number of
// series that will be plotted on it.
#pragma once

#include <span>
#include <string>

#include "graph/records.h"
#include "platform/canvas.h"

namespace tavel::graph {

// Fixed geometry of the Cartesian plot area, in world units (y downwards).
inline constexpr double kPlotLeft = 1300.0;
inline constexpr double kPlotRight = 8940.0;
inline constexpr double kPlotTop = 1248.0;
inline constexpr double kPlotBottom = 6032.0;
inline constexpr double kPlotWidth = 7640.0;
inline constexpr double kPlotHeight = 4784.0;
// The polar circle.
inline constexpr double kPolarCentreX = 5120.0;
inline constexpr double kPolarCentreY = 3640.0;
inline constexpr double kPolarRadius = 2560.0;

// axes.size() is the axis count; the graph record is updated only on success.
int drawGraph(platform::Canvas& canvas, GraphRecord& graph, std::span<const AxisRecord> axes,
              int seriesCount);

// The tick label of a value: fixed point, width 10, the given decimals,
// trimmed of blanks (ten asterisks when it does not fit).
std::string tickLabel(double value, int labelDecimals);

}  // namespace tavel::graph
