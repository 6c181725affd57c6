// SPDX-License-Identifier: GPL-3.0-or-later
#include "graph/window.h"

#include <gtest/gtest.h>

#include "graph_support.h"

namespace tavel::graph {
namespace {

using testing::RecordingCanvas;

TEST(GraphWindow, ViewportMustFitTheWindow) {
  RecordingCanvas canvas;
  canvas.window = {640, 480};
  GraphRecord graph = testing::windowGraph(kXY);
  graph.right = 640;  // "exceeds" is the test: the window width itself is accepted
  graph.bottom = 479;
  EXPECT_TRUE(beginGraphWindow(canvas, graph));
  EXPECT_EQ(canvas.lines(), (std::vector<std::string>{
                                "setViewport 0 0 640 479", "clearViewport", "setLineStyle \"FFFF\"",
                                "setSolidFill", "setColour 1", "rectanglePixel 3 0 0 640 479",
                                "setColour 15", "setWorldWindow 0 0 10240 7680 0"}));
  canvas.clearLog();
  graph.right = 641;
  EXPECT_FALSE(beginGraphWindow(canvas, graph));
  graph.right = 639;
  graph.top = -1;
  EXPECT_FALSE(beginGraphWindow(canvas, graph));
  graph.top = 300;
  graph.bottom = 299;  // empty viewport
  EXPECT_FALSE(beginGraphWindow(canvas, graph));
  EXPECT_TRUE(canvas.calls().empty());
}

TEST(GraphWindow, MaximisedOnlyBeforeTheFirstDrawingWhenAsked) {
  RecordingCanvas canvas;
  canvas.window = {100, 100};
  GraphRecord graph = testing::windowGraph(kXY);
  graph.maximiseWindow = kTrue;
  EXPECT_TRUE(beginGraphWindow(canvas, graph));  // grows to 800 x 600, then fits
  EXPECT_EQ(testing::callsNamed(canvas, "setWindowConfigMaximum").size(), 1u);

  canvas.clearLog();
  graph.timesDrawn = 1;
  canvas.window = {100, 100};
  EXPECT_FALSE(beginGraphWindow(canvas, graph));  // left as it is: too small now
  EXPECT_TRUE(testing::callsNamed(canvas, "setWindowConfigMaximum").empty());

  graph.timesDrawn = 0;
  graph.maximiseWindow = kFalse;
  canvas.clearLog();
  beginGraphWindow(canvas, graph);
  EXPECT_TRUE(testing::callsNamed(canvas, "setWindowConfigMaximum").empty());

  graph.maximiseWindow = kTrue;
  canvas.maximiseAnswer = false;
  canvas.window = {800, 600};
  EXPECT_FALSE(beginGraphWindow(canvas, graph));
}

TEST(GraphWindow, LineTypesFillsAndFonts) {
  RecordingCanvas canvas;
  EXPECT_FALSE(setLineTypeCode(canvas, 2));
  EXPECT_TRUE(setLineTypeCode(canvas, 9));
  EXPECT_FALSE(setLineTypeCode(canvas, 0));  // leaves the style alone
  EXPECT_FALSE(setLineTypeCode(canvas, 11));
  setFillCode(canvas, 1);
  setFillCode(canvas, 2);
  setFillCode(canvas, 5);
  setFillCode(canvas, 7);  // leaves the pattern alone
  EXPECT_EQ(canvas.lines(),
            (std::vector<std::string>{"setLineStyle \"EEEE\"", "setLineStyle \"ECCC\"",
                                      "setFillMask \"00 00 00 00 00 00 00 00\"", "setSolidFill",
                                      "setFillMask \"28 50 A0 41 82 05 0A 14\""}));

  canvas.clearLog();
  EXPECT_GT(selectGraphFont(canvas, 3), 0);
  EXPECT_EQ(currentFontHeight(canvas), 26);
  selectGraphFont(canvas, 9);  // unknown codes use the first font
  const std::string first = "t'Courier New'h20w10b";
  EXPECT_EQ(testing::callsNamed(canvas, "setFont").back().text,
            first + std::string(50 - first.size(), ' '));
  EXPECT_EQ(testing::callsNamed(canvas, "setFont").front().text.size(), 50u);

  canvas.setFontMetrics(graphFontOptions(1), 0, 10);
  selectGraphFont(canvas, 1);
  EXPECT_EQ(currentFontHeight(canvas), 16);  // scalable font without a height
  canvas.fontType = 0;
  EXPECT_EQ(currentFontHeight(canvas), 0);
}

TEST(StyledLines, ThickLinesAreThreeStrokes) {
  RecordingCanvas canvas;
  drawStyledLine(canvas, 6, 100, 200, 900, 200);  // horizontal: shifted vertically
  auto lines = testing::segments(canvas);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].y1, 216);
  EXPECT_EQ(lines[1].y2, 216);
  EXPECT_EQ(lines[2].y1, 184);
  EXPECT_EQ(lines[2].x1, 100);

  canvas.clearLog();
  drawStyledLine(canvas, 7, 0, 0, 1000, 577.35);  // 30 degrees: shifted vertically
  lines = testing::segments(canvas);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].x1, 0);
  EXPECT_EQ(lines[1].y1, 16);
  EXPECT_EQ(lines[1].style, "EEEE");

  canvas.clearLog();
  drawStyledLine(canvas, 6, 0, 0, 577.35, 1000);  // 60 degrees: shifted horizontally
  lines = testing::segments(canvas);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].x1, 16);
  EXPECT_EQ(lines[2].x1, -16);
  EXPECT_EQ(lines[2].y2, 1000);

  canvas.clearLog();
  drawStyledLine(canvas, 1, 0, 0, 10, 10);
  drawStyledLine(canvas, 0, 0, 0, 10, 10);  // no new style: the last one applies
  EXPECT_EQ(testing::callsNamed(canvas, "setLineStyle").size(), 1u);
  EXPECT_EQ(testing::segments(canvas).size(), 2u);

  canvas.clearLog();
  drawStyledCircle(canvas, 100, 100, 50, 10, platform::kBorder);
  EXPECT_EQ(canvas.lines(),
            (std::vector<std::string>{"setLineStyle \"AAAA\"", "ellipseWorld 2 50 50 150 150",
                                      "ellipseWorld 2 34 34 166 166"}));
}

TEST(TextPlacement, CentredAndAligned) {
  RecordingCanvas canvas;
  selectGraphFont(canvas, 1);  // 20 pixels high, 10 wide
  canvas.clearLog();
  drawTextCentred(canvas, 2.0, 3.0, 0, 1000, 100, 100, "  abc  ");
  EXPECT_EQ(canvas.lines(), (std::vector<std::string>{"moveToWorld 470 70", "outText \"abc\""}));
  canvas.clearLog();
  drawTextCentred(canvas, 2.0, 3.0, 0, 1000, 100, 100, "     ");
  EXPECT_EQ(canvas.lines(), (std::vector<std::string>{"moveToWorld 500 70", "outText \"\""}));
  canvas.clearLog();
  drawTextAligned(canvas, 2.0, 3.0, 500, true, 0, 200, "ab");
  drawTextAligned(canvas, 2.0, 3.0, 500, false, 0, 200, "ab");
  EXPECT_EQ(canvas.lines(), (std::vector<std::string>{"moveToWorld 460 70", "outText \"ab\"",
                                                      "moveToWorld 500 70", "outText \"ab\""}));
}

TEST(TextPlacement, VerticalTextTurnedOrStacked) {
  RecordingCanvas canvas;
  selectGraphFont(canvas, 1);  // 20 x 10 pixels
  canvas.clearLog();
  // Turned: starts at the bottom end of the text, centred in the box.
  drawTextVerticalCentred(canvas, 1.0, 1.0, 100, 100, 0, 1000, "Title");
  EXPECT_EQ(canvas.lines(), (std::vector<std::string>{"setTextRotation 900", "moveToWorld 90 525",
                                                      "outText \"Title\"", "setTextRotation 0"}));
  EXPECT_EQ(verticalTextExtent(canvas, "ab c  ", true), 80);
  EXPECT_EQ(verticalTextExtent(canvas, "ab c  ", false), 60);

  // Refused turn: letters one under the other, the column centred on the same box.
  canvas.rotationRefused = true;
  canvas.clearLog();
  drawTextVerticalCentred(canvas, 1.0, 1.0, 100, 100, 0, 1000, "abc");
  EXPECT_EQ(canvas.lines(),
            (std::vector<std::string>{"setTextRotation 900", "moveToWorld 90 470",
                                      "moveToPixel 90 470", "outText \"a\"", "moveToPixel 90 490",
                                      "outText \"b\"", "moveToPixel 90 510", "outText \"c\"",
                                      "moveToPixel 90 530", "setTextRotation 0"}));
  canvas.clearLog();
  drawTextVerticalAligned(canvas, 1.0, 1.0, 300, true, 0, 1000, "abc");
  EXPECT_EQ(testing::callsNamed(canvas, "moveToWorld")[0].args[0], 280);
}

}  // namespace
}  // namespace tavel::graph
