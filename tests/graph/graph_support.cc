// SPDX-License-Identifier: GPL-3.0-or-later
#include "graph_support.h"

namespace tavel::graph::testing {

std::vector<Segment> segments(const RecordingCanvas& canvas) {
  std::vector<Segment> out;
  int colour = -1;
  std::string style = "FFFF";
  double x = 0.0;
  double y = 0.0;
  for (const RecordedCall& call : canvas.calls()) {
    if (call.name == "setColour") {
      colour = static_cast<int>(call.args[0]);
    } else if (call.name == "setLineStyle") {
      style = call.text;
    } else if (call.name == "moveToWorld") {
      x = call.args[0];
      y = call.args[1];
    } else if (call.name == "lineToWorld") {
      out.push_back(Segment{x, y, call.args[0], call.args[1], colour, style});
      x = call.args[0];
      y = call.args[1];
    }
  }
  return out;
}

std::vector<PlacedText> texts(const RecordingCanvas& canvas) {
  std::vector<PlacedText> out;
  int colour = -1;
  double x = 0.0;
  double y = 0.0;
  for (const RecordedCall& call : canvas.calls()) {
    if (call.name == "setColour") {
      colour = static_cast<int>(call.args[0]);
    } else if (call.name == "moveToWorld") {
      x = call.args[0];
      y = call.args[1];
    } else if (call.name == "outText") {
      out.push_back(PlacedText{x, y, call.text, colour});
    }
  }
  return out;
}

std::vector<RecordedCall> callsNamed(const RecordingCanvas& canvas, const std::string& name) {
  std::vector<RecordedCall> out;
  for (const RecordedCall& call : canvas.calls()) {
    if (call.name == name) out.push_back(call);
  }
  return out;
}

bool hasText(const RecordingCanvas& canvas, const std::string& text) {
  for (const RecordedCall& call : canvas.calls()) {
    if (call.name == "outText" && call.text == text) return true;
  }
  return false;
}

const PlacedText* findText(const std::vector<PlacedText>& all, const std::string& text) {
  for (const PlacedText& t : all) {
    if (t.text == text) return &t;
  }
  return nullptr;
}

GraphRecord windowGraph(int graphType) {
  GraphRecord graph;
  initGraphRecord(graphType, graph);
  graph.right = 799;
  graph.bottom = 599;
  graph.maximiseWindow = kFalse;
  return graph;
}

AxisRecord linearAxis(int function, int position, double low, double high, double interval,
                      int minorTicks) {
  AxisRecord axis;
  axis.axisFunction = function;
  axis.position = position;
  axis.low = low;
  axis.high = high;
  axis.tickInterval = interval;
  axis.minorTicks = minorTicks;
  axis.labelFont = 6;
  axis.titleFont = 1;
  axis.labelDecimals = 3;
  axis.tickType = 2;
  axis.gridStyle = 1;
  axis.gridLineType = 5;
  axis.axisColour = 15;
  axis.majorTickColour = 15;
  axis.minorTickColour = 7;
  axis.gridColour = 11;
  return axis;
}

}  // namespace tavel::graph::testing
