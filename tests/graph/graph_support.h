// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for reading back what the graphing library drew on a recording
// canvas: line segments and placed texts with the colour and style in force.
#pragma once

#include <string>
#include <vector>

#include "graph/graph.h"
#include "platform/headless/recording_canvas.h"

namespace tavel::graph::testing {

using platform::headless::RecordedCall;
using platform::headless::RecordingCanvas;

struct Segment {
  double x1, y1, x2, y2;
  int colour;
  std::string style;  // line-style mask in hex, e.g. "FFFF"
};

struct PlacedText {
  double x, y;  // world position the text was drawn from
  std::string text;
  int colour;
};

// Every moveToWorld + lineToWorld pair, in drawing order.
std::vector<Segment> segments(const RecordingCanvas& canvas);
// Every outText after a moveToWorld.
std::vector<PlacedText> texts(const RecordingCanvas& canvas);
std::vector<RecordedCall> callsNamed(const RecordingCanvas& canvas, const std::string& name);
bool hasText(const RecordingCanvas& canvas, const std::string& text);
const PlacedText* findText(const std::vector<PlacedText>& all, const std::string& text);

// A graph of the given type filling the recording canvas' 800 x 600 window,
// without asking for the window to be maximised.
GraphRecord windowGraph(int graphType);
// A linear axis with the given range, interval and placement.
AxisRecord linearAxis(int function, int position, double low, double high, double interval,
                      int minorTicks);

}  // namespace tavel::graph::testing
