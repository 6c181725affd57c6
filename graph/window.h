// SPDX-License-Identifier: GPL-3.0-or-later
// The thin drawing layer of the graphing library: a graph's viewport and its
// world space of 10240 x 7680 units (y downwards), line-type, fill and font
// codes, styled lines and circles, and text placement.
#pragma once

#include <string_view>

#include "graph/records.h"
#include "platform/canvas.h"

namespace tavel::graph {

inline constexpr double kWorldWidth = 10240.0;
inline constexpr double kWorldHeight = 7680.0;
// Offset between the strokes of a thick line, in world units.
inline constexpr double kThickOffset = 16.0;

// World units per pixel of the graph's viewport.
struct PixelScale {
  double sx = 1.0;
  double sy = 1.0;
};
PixelScale pixelScale(const GraphRecord& graph);

// Prepares the viewport (maximising the window first when asked, before the
// first drawing only) and the world space; false when the viewport does not fit.
bool beginGraphWindow(platform::Canvas& canvas, const GraphRecord& graph);
bool maximiseGraphWindow(platform::Canvas& canvas);

// Line types 1..10 (6..10 thick); other codes leave the style unchanged.
// Returns whether the type is thick.
bool setLineTypeCode(platform::Canvas& canvas, int code);
// Fill codes 0..6; other codes leave the pattern unchanged.
void setFillCode(platform::Canvas& canvas, int code);
// Font codes 1..6 (others as 1); the runtime's answer, above 0 on success.
int selectGraphFont(platform::Canvas& canvas, int code);
// The option text of a font code (as passed to the canvas, 50 characters).
std::string_view graphFontOptions(int code);
int currentFontHeight(platform::Canvas& canvas);

void drawStyledLine(platform::Canvas& canvas, int lineType, double x1, double y1, double x2,
                    double y2);
void drawStyledCircle(platform::Canvas& canvas, double x, double y, double radius, int lineType,
                      int control);
void moveToWorld(platform::Canvas& canvas, double x, double y);

// Text placement; every text is first trimmed of leading and trailing blanks.
void drawTextCentred(platform::Canvas& canvas, double sx, double sy, double x1, double x2,
                     double y1, double y2, std::string_view text);
void drawTextAligned(platform::Canvas& canvas, double sx, double sy, double x, bool rightAligned,
                     double y1, double y2, std::string_view text);
void drawTextVerticalCentred(platform::Canvas& canvas, double sx, double sy, double x1, double x2,
                             double y1, double y2, std::string_view text);
void drawTextVerticalAligned(platform::Canvas& canvas, double sx, double sy, double x, bool before,
                             double y1, double y2, std::string_view text);
void drawTextStacked(platform::Canvas& canvas, std::string_view text);
int verticalTextExtent(platform::Canvas& canvas, std::string_view text, bool stacked);

// The text without its leading and trailing blanks.
std::string_view trimBlanks(std::string_view text);

}  // namespace tavel::graph
