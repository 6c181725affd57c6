// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/world_window.h"

#include <gtest/gtest.h>

#include <limits>

namespace tavel::platform {
namespace {

// Viewport 10..110 x 20..70 (101 x 51 pixels): world 0..1000 across is 10
// world units a pixel, world 0..500 down also 10 a pixel.
TEST(WorldWindow, EndsOfTheWindowLandOnTheViewportsEdgePixels) {
  WorldWindow m;
  m.setViewport(110, 70, 10, 20);                    // corners in either order
  EXPECT_EQ(m.toPixel(3, 4), (PixelPoint{13, 24}));  // no window yet: viewport pixels
  ASSERT_TRUE(m.setWindow(0, 0, 1000, 500, false));
  EXPECT_EQ(m.toPixel(0, 0), (PixelPoint{10, 20}));
  EXPECT_EQ(m.toPixel(1000, 500), (PixelPoint{110, 70}));
  EXPECT_EQ(m.toPixel(15, 24.9), (PixelPoint{12, 22}));  // 11.5 rounds up, 22.49 down
  EXPECT_EQ(m.toPixel(-25, 1e9), (PixelPoint{8, static_cast<int>(WorldWindow::kCoordinateLimit)}));
  EXPECT_EQ(m.toPixel(std::numeric_limits<double>::quiet_NaN(), 0), (PixelPoint{0, 20}));

  ASSERT_TRUE(m.setWindow(0, 0, 1000, 500, true));  // y upwards
  EXPECT_EQ(m.toPixel(0, 0), (PixelPoint{10, 70}));
  EXPECT_EQ(m.toPixel(0, 500), (PixelPoint{10, 20}));
  const WorldPoint back = m.toWorld(60, 30);
  EXPECT_DOUBLE_EQ(back.x, 500);
  EXPECT_DOUBLE_EQ(back.y, 400);

  // A window without width or height, or not finite, keeps the mapping.
  EXPECT_FALSE(m.setWindow(5, 0, 5, 500, false));
  EXPECT_FALSE(m.setWindow(0, 0, std::numeric_limits<double>::infinity(), 500, false));
  EXPECT_EQ(m.toPixel(0, 500), (PixelPoint{10, 20}));

  // A one-pixel viewport shows the window's first edge.
  m.setViewport(40, 40, 40, 40);
  EXPECT_EQ(m.toPixel(1000, 0), (PixelPoint{40, 40}));
  EXPECT_DOUBLE_EQ(m.toWorld(40, 40).x, 0);
  EXPECT_DOUBLE_EQ(m.toWorld(40, 40).y, 500);
}

}  // namespace
}  // namespace tavel::platform
