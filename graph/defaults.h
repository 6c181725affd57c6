// SPDX-License-Identifier: GPL-3.0-or-later
// Defaults of the graph, series and axis records: colours, markers and fills
// cycled per series, data ranges of the series, and rounded axis ranges with
// their tick spacing. A failing operation leaves its records unchanged
// (initGraphRecord excepted, which always fills the record).
#pragma once

#include <span>

#include "graph/records.h"

namespace tavel::graph {

// Decimals the defaults give the tick labels of a linear axis (other than theta).
inline constexpr int kDefaultLinearDecimals = 3;
// Decimals the defaults give a logarithmic axis whose lowest decade is 1 or more.
inline constexpr int kDefaultLogDecimals = 2;

// Decimals of a logarithmic axis whose lowest major tick is base^lowestPower:
// one per decade below 1, so that the lowest label is written exactly.
inline int defaultLogDecimals(double lowestPower) {
  return lowestPower < 0.0 ? static_cast<int>(-lowestPower) : kDefaultLogDecimals;
}

// Sequences that vary successive series; n is the 1-based count of series
// defaulted against the graph, this one included.
int seriesColour(int n);
int seriesMarker(int n);
int seriesBarFill(int n);

// Fills graph from the template with graphType stored; 3 when the type is not 1..6.
int initGraphRecord(int graphType, GraphRecord& graph);

// x-y and polar graphs (types 4..6): defaults and data ranges of every
// record in series; data holds the series one after another.
int initSeriesRecordMulti(GraphRecord& graph, int pointCount, std::span<const float> data,
                          std::span<SeriesRecord> series);
int initSeriesRecord(GraphRecord& graph, int pointCount, std::span<const float> data,
                     SeriesRecord& series);

// Category graphs (types 1..3). labels is accepted for symmetry and not used.
int initCategorySeriesRecordMulti(GraphRecord& graph, int pointCount,
                                  std::span<const std::string> labels, std::span<const float> data,
                                  std::span<SeriesRecord> series);
int initCategorySeriesRecord(GraphRecord& graph, int pointCount,
                             std::span<const std::string> labels, std::span<const float> data,
                             SeriesRecord& series);

// Axis of the given function (kAxisX..kAxisTheta) and scale type from the
// ranges of the series; updates the graph's axis counters.
int initAxisRecordMulti(GraphRecord& graph, std::span<const SeriesRecord> series, int axisFunction,
                        int scaleType, AxisRecord& axis);
int initAxisRecord(GraphRecord& graph, const SeriesRecord& series, int axisFunction, int scaleType,
                   AxisRecord& axis);

// 1-based position in the data array of component c of point j of series s,
// or -1 when c or j is out of range for the record.
int seriesValueIndex(const SeriesRecord& series, int s, int j, int c);

}  // namespace tavel::graph
