// SPDX-License-Identifier: GPL-3.0-or-later
// The graphing library's plain records, owned by the caller and passed by
// reference: one GraphRecord per graph, one AxisRecord per axis and one
// SeriesRecord per data series, plus the result codes every operation returns.
// Logical fields hold -1 (true) or 0 (false); only their lowest bit is tested.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavel::graph {

// Result codes of every library operation.
inline constexpr int kOk = 0;
inline constexpr int kWindowError = 1;  // window cannot be configured / viewport does not fit
inline constexpr int kFontError = 2;    // a font cannot be selected
inline constexpr int kTypeError = 3;    // graph type not accepted, or more series than announced
inline constexpr int kAxisError = 4;    // invalid axis record or axis set
inline constexpr int kRangeError = 5;   // no usable axis range
inline constexpr int kSeriesError = 6;  // series without points or with unusable values per point
inline constexpr int kCountError = 7;   // a count argument below 1 (or beyond the data given)
inline constexpr int kNotDrawn = 8;     // series plotted before drawGraph succeeded

inline constexpr int kTrue = -1;
inline constexpr int kFalse = 0;
inline bool isTrue(int logical) { return (logical & 1) != 0; }

// Lengths of the blank-padded text fields.
inline constexpr int kGraphTitleLength = 40;
inline constexpr int kAxisTitleLength = 25;
inline constexpr int kSeriesTitleLength = 20;

// The text blank padded or cut to length characters.
std::string paddedText(std::string_view text, int length);

// Graph types (GraphRecord::graphType).
inline constexpr int kCategoryBars = 1;
inline constexpr int kCategoryLines = 2;
inline constexpr int kCategoryLinesErrors = 3;
inline constexpr int kXY = 4;
inline constexpr int kXYErrors = 5;
inline constexpr int kPolar = 6;

// Axis functions (AxisRecord::axisFunction).
inline constexpr int kAxisX = 0;
inline constexpr int kAxisY = 1;
inline constexpr int kAxisR = 2;
inline constexpr int kAxisTheta = 3;

// Scale types (AxisRecord::scaleType).
inline constexpr int kLinear = 0;
inline constexpr int kLog10 = 1;
inline constexpr int kLogE = 2;
inline constexpr int kLog2 = 3;

// A legend entry as it was drawn: what the library needs to draw it again
// when a later entry's title asks for wider legend cells.
struct LegendSample {
  int lineType = 0;
  int lineColour = 0;
  int markerType = 0;
  int markerColour = 0;
  int barFill = 0;
  int barColour = 0;
  int textColour = 0;
  int font = 0;
  std::string title;
};

struct GraphRecord {
  std::string title = paddedText("Graph", kGraphTitleLength);
  int titleFont = 1;
  int titleColour = 14;
  std::string subtitle = std::string(kGraphTitleLength, ' ');
  int subtitleFont = 2;
  int subtitleColour = 7;
  int graphType = 0;  // 1..6, set by initGraphRecord
  int graphColour = 15;
  int backgroundColour = 1;
  int left = 0;
  int top = 0;
  int right = 639;
  int bottom = 479;
  int maximiseWindow = kTrue;
  // Counters kept by the library; a caller leaves them alone after initGraphRecord.
  int seriesDefaulted = 0;
  int xAxesDefaulted = 0;
  int yAxesDefaulted = 0;
  int timesDrawn = 0;
  int legendEntriesExpected = 0;
  int legendEntriesDrawn = 0;
  // The legend so far: its entries and the cell width they were drawn with.
  std::vector<LegendSample> legendSamples;
  double legendCellWidth = 0.0;
};

struct SeriesRecord {
  std::string title = std::string(kSeriesTitleLength, ' ');
  int legendFont = 0;
  int legendColour = 0;
  int markerType = 0;  // 0 none, 1..10
  int markerColour = 0;
  int lineType = 0;  // 0 none, 1..10
  int lineColour = 0;
  int barFill = 0;  // 0 not a bar series, 1..6
  int barColour = 0;
  int errorBarType = 0;  // 0 none, 1 thin, 2 thick
  int errorBarColour = 0;
  int dataKind = 0;  // 1 x-y, 2 category
  int componentsInOrder = kTrue;
  int pointCount = 0;
  int valuesPerPoint = 0;  // 1..3
  double xMin = 0.0;
  double xMax = 0.0;
  double yMin = 0.0;
  double yMax = 0.0;
};

struct AxisRecord {
  std::string title = std::string(kAxisTitleLength, ' ');
  int titleFont = 0;
  int titleColour = 0;
  int labelFont = 0;
  int verticalLabels = kFalse;  // Y axes only
  int position = 0;             // 1 bottom, 2 top, 3 left, 4 right
  int axisFunction = 0;         // 0 X, 1 Y, 2 R, 3 Theta
  int axisColour = 0;
  int scaleType = 0;       // 0 linear, 1 log10, 2 ln, 3 log2
  int clockwise = kFalse;  // Theta axes only
  double low = 0.0;
  double high = 0.0;
  double tickInterval = 0.0;  // in decades for logarithmic axes
  int labelDecimals = 0;
  int tickType = 0;  // 0 none, 1 inside, 2 outside, 3 crossing
  int majorTickColour = 0;
  int minorTickColour = 0;
  int minorTicks = 0;
  int gridStyle = 0;  // 0..5
  int gridLineType = 0;
  int gridColour = 0;
};

}  // namespace tavel::graph
