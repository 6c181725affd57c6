// SPDX-License-Identifier: GPL-3.0-or-later
// The image canvas: pixels where the primitives promise them.
#include "platform/qt/qimage_canvas.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QImageReader>
#include <string>
#include <vector>

#include "platform/headless/recording_canvas.h"
#include "tests/qt/qt_test_support.h"

namespace tavel::platform::qt {
namespace {

using qt_test::countPixels;

constexpr int kWhite = 15;
constexpr int kYellow = 14;
constexpr int kBlue = 1;

class CanvasTest : public ::testing::Test {
 protected:
  bool lit(int x, int y) { return canvas.image().pixel(x, y) == paletteColour(kWhite).rgb(); }
  // The pixels x0..x0+n-1 of row y as '#' (white) and '.' (anything else).
  std::string row(int x0, int y, int n) {
    std::string s;
    for (int x = x0; x < x0 + n; ++x) s += lit(x, y) ? '#' : '.';
    return s;
  }
  void horizontalLine(std::uint16_t mask, int y, int length) {
    canvas.setLineStyle(mask);
    canvas.moveToWorld(0, y);
    canvas.lineToWorld(length - 1, y);
  }
  // The application must exist before the canvas (it measures fonts).
  QApplication& app_ = qt_test::app();
  QImageCanvas canvas;
};

TEST_F(CanvasTest, WindowIsBlack800x600AndStaysThatSizeWhenMaximised) {
  WindowConfig config;
  ASSERT_TRUE(canvas.getWindowConfig(config));
  EXPECT_EQ(config.pixelsX, 800);
  EXPECT_EQ(config.pixelsY, 600);
  EXPECT_TRUE(canvas.setWindowConfigMaximum());
  ASSERT_TRUE(canvas.getWindowConfig(config));
  EXPECT_EQ(config.pixelsX, 800);
  EXPECT_EQ(config.pixelsY, 600);
  EXPECT_EQ(countPixels(canvas.image(), canvas.image().rect(), qRgb(0, 0, 0)), 800 * 600);
}

TEST_F(CanvasTest, PaletteAndColourSelection) {
  EXPECT_EQ(paletteColour(6), QColor(170, 85, 0));  // brown, not dark yellow
  EXPECT_EQ(paletteColour(7), QColor(170, 170, 170));
  EXPECT_EQ(paletteColour(8), QColor(85, 85, 85));
  EXPECT_EQ(canvas.setColour(4), 15);  // starts with bright white
  EXPECT_EQ(canvas.setColour(2), 4);
}

TEST_F(CanvasTest, LineStyleMasksDrawTheirBitsFromBit15) {
  horizontalLine(0xFFFF, 10, 32);
  EXPECT_EQ(row(0, 10, 33), "################################.");
  horizontalLine(0xEEEE, 12, 32);
  EXPECT_EQ(row(0, 12, 32), "###.###.###.###.###.###.###.###.");
  horizontalLine(0xECEC, 14, 32);
  EXPECT_EQ(row(0, 14, 32), "###.##..###.##..###.##..###.##..");
  horizontalLine(0xECCC, 16, 32);
  EXPECT_EQ(row(0, 16, 32), "###.##..##..##..###.##..##..##..");
  horizontalLine(0xAAAA, 18, 32);
  EXPECT_EQ(row(0, 18, 32), "#.#.#.#.#.#.#.#.#.#.#.#.#.#.#.#.");
  // A mask that begins with clear bits starts the line with a gap.
  horizontalLine(0x0FF0, 20, 32);
  EXPECT_EQ(row(0, 20, 32), "....########........########....");
  horizontalLine(0x0000, 22, 32);
  EXPECT_EQ(row(0, 22, 32), std::string(32, '.'));
}

TEST_F(CanvasTest, WorldWindowMapsOntoTheViewportBothEndsVisible) {
  canvas.setViewport(100, 50, 499, 349);  // 400 x 300 pixels
  canvas.setWorldWindow(0, 0, 10240, 7680, false);
  int x = -1, y = -1;
  canvas.moveToWorld(0, 0);
  canvas.getPositionPixel(x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  canvas.moveToWorld(10240, 7680);
  canvas.getPositionPixel(x, y);
  EXPECT_EQ(x, 399);
  EXPECT_EQ(y, 299);
  canvas.moveToWorld(5120, 3840);
  canvas.getPositionPixel(x, y);
  EXPECT_EQ(x, 200);  // 199.5 rounds away from zero
  EXPECT_EQ(y, 150);

  canvas.setWorldWindow(0, 0, 10, 10, true);  // y upwards
  canvas.moveToWorld(0, 0);
  canvas.getPositionPixel(x, y);
  EXPECT_EQ(y, 299);
  canvas.moveToWorld(0, 10);
  canvas.getPositionPixel(x, y);
  EXPECT_EQ(y, 0);

  // A degenerate window is refused and keeps the previous mapping.
  canvas.setWorldWindow(5, 0, 5, 10, false);
  EXPECT_NE(canvas.graphicsStatus(), 0);
  canvas.moveToWorld(0, 10);
  canvas.getPositionPixel(x, y);
  EXPECT_EQ(y, 0);
}

// The graph tests read positions from the recording canvas; they only
// vouch for the pictures if it puts every world point on the pixel the
// image canvas paints.
TEST_F(CanvasTest, RecordingCanvasPutsWorldPointsOnThePaintedPixels) {
  constexpr int kLeft = 130, kTop = 70, kRight = 466, kBottom = 271;  // 337 x 202
  const double points[][2] = {{-50, 20},      {250, 120},     {250, 20},    {-50, 120},
                              {0, 50},        {100.3, 70.7},  {13.9, 99.1}, {-49.6, 20.4},
                              {249.6, 119.6}, {199.99, 33.33}};
  for (const bool invert : {false, true}) {
    headless::RecordingCanvas recording;
    for (Canvas* c : {static_cast<Canvas*>(&canvas), static_cast<Canvas*>(&recording)}) {
      c->setViewport(kLeft, kTop, kRight, kBottom);
      c->setWorldWindow(-50, 20, 250, 120, invert);
    }
    for (const auto& [x, y] : points) {
      SCOPED_TRACE(testing::Message() << "invert " << invert << " at " << x << ", " << y);
      canvas.clearWindow();
      canvas.rectangleWorld(kFill, x, y, x, y);
      const QImage& img = canvas.image();
      std::vector<QPoint> painted;
      for (int py = 0; py < img.height(); ++py)
        for (int px = 0; px < img.width(); ++px)
          if (img.pixel(px, py) == paletteColour(kWhite).rgb()) painted.emplace_back(px, py);
      ASSERT_EQ(painted.size(), 1u);

      recording.moveToWorld(x, y);
      int rx = -1, ry = -1;
      recording.getPositionPixel(rx, ry);
      EXPECT_EQ(QPoint(kLeft + rx, kTop + ry), painted[0]);
    }
    // The corners of the world window are the corners of the viewport.
    int rx = -1, ry = -1;
    recording.moveToWorld(250, invert ? 20 : 120);
    recording.getPositionPixel(rx, ry);
    EXPECT_EQ(QPoint(rx, ry), QPoint(kRight - kLeft, kBottom - kTop));
  }
}

TEST_F(CanvasTest, RectanglesCoverTheirCornerPixelsAndClipToTheViewport) {
  canvas.rectanglePixel(kBorder, 10, 10, 20, 15);
  EXPECT_TRUE(lit(10, 10) && lit(20, 10) && lit(20, 15) && lit(10, 15));
  EXPECT_FALSE(lit(21, 10) || lit(10, 16) || lit(15, 12));
  EXPECT_EQ(countPixels(canvas.image(), QRect(0, 0, 40, 40), qRgb(255, 255, 255)), 2 * 11 + 2 * 4);

  canvas.rectanglePixel(kFill, 30, 30, 34, 32);  // corners given in either order
  EXPECT_EQ(countPixels(canvas.image(), QRect(28, 28, 10, 10), qRgb(255, 255, 255)), 5 * 3);

  // Viewport pixel coordinates start at its top-left; nothing leaks outside.
  canvas.setViewport(100, 100, 199, 149);
  canvas.rectanglePixel(kFill, -50, -50, 500, 500);
  const QImage& img = canvas.image();
  EXPECT_EQ(countPixels(img, QRect(90, 90, 120, 70), qRgb(255, 255, 255)), 100 * 50);
  canvas.setColour(kBlue);
  canvas.clearViewport();
  EXPECT_EQ(countPixels(canvas.image(), QRect(100, 100, 100, 50), qRgb(0, 0, 0)), 100 * 50);
  EXPECT_TRUE(lit(10, 10));  // outside the viewport: untouched
}

TEST_F(CanvasTest, FillMaskPaintsSetBitsAndLeavesTheRestOnThePixelGrid) {
  // Background blue, pattern in yellow over a scaled world window: the
  // pattern must stay 8 x 8 device pixels.
  canvas.setColour(kBlue);
  canvas.rectanglePixel(kFill, 0, 0, 799, 599);
  canvas.setWorldWindow(0, 0, 10240, 7680, false);
  canvas.setColour(kYellow);
  const FillMask diagonal = {0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x01};
  canvas.setFillMask(diagonal);
  canvas.rectangleWorld(kFill, 0, 0, 10240, 7680);
  const QImage& img = canvas.image();
  const QRgb yellow = paletteColour(kYellow).rgb();
  const QRgb blue = paletteColour(kBlue).rgb();
  int wrong = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool set = diagonal[static_cast<std::size_t>(y % 8)] & (0x80 >> (x % 8));
      if (img.pixel(x, y) != (set ? yellow : blue)) ++wrong;
    }
  EXPECT_EQ(wrong, 0);

  // An all-clear mask paints nothing; solid fill paints everything.
  canvas.setFillMask(FillMask{});
  canvas.setColour(kWhite);
  canvas.rectanglePixel(kFill, 0, 0, 63, 63);
  EXPECT_EQ(countPixels(canvas.image(), QRect(0, 0, 64, 64), qRgb(255, 255, 255)), 0);
  canvas.setSolidFill();
  canvas.rectanglePixel(kFill, 0, 0, 63, 63);
  EXPECT_EQ(countPixels(canvas.image(), QRect(0, 0, 64, 64), qRgb(255, 255, 255)), 64 * 64);
}

TEST_F(CanvasTest, EllipsesAndPolygonsStayInTheirBox) {
  canvas.ellipseWorld(kBorder, 100, 100, 140, 120);
  const QImage& img = canvas.image();
  const QRgb white = qRgb(255, 255, 255);
  EXPECT_GT(countPixels(img, QRect(100, 100, 41, 21), white), 60);
  EXPECT_EQ(countPixels(img, QRect(0, 0, 800, 600), white),
            countPixels(img, QRect(100, 100, 41, 21), white));
  EXPECT_FALSE(lit(120, 110));  // a border leaves the inside alone

  canvas.ellipseWorld(kFill, 200, 100, 240, 120);
  EXPECT_TRUE(lit(220, 110));

  const double triangle[] = {300, 100, 340, 100, 300, 140};
  canvas.polygonWorld(kFill, triangle, 3);
  EXPECT_TRUE(lit(305, 105));
  EXPECT_FALSE(lit(335, 135));
  canvas.polygonWorld(kFill, triangle, 2);  // too few points
  EXPECT_NE(canvas.graphicsStatus(), 0);
}

TEST_F(CanvasTest, FontsResolveToInstalledFacesAtTheAskedSize) {
  EXPECT_GT(canvas.initFonts(), 0);
  EXPECT_EQ(resolveFontFamily("Courier New"), "Liberation Mono");
  EXPECT_EQ(resolveFontFamily("times new roman"), "Liberation Serif");
  EXPECT_FALSE(resolveFontFamily("MS Sans Serif").isEmpty());

  const struct {
    const char* options;
    int height, width;
  } cases[] = {{"t'Courier New'h20w10b", 20, 10},     {"t'Courier New'h20w9b", 20, 9},
               {"t'Times New Roman'h26w13b", 26, 13}, {"t'Times New Roman'h16w8b", 16, 8},
               {"t'MS Sans Serif'h24w12b", 24, 12},   {"t'MS Sans Serif'h12w6b", 12, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    // The graphs pass their option texts blank padded.
    std::string padded = c.options;
    padded.resize(50, ' ');
    EXPECT_GT(canvas.setFont(padded), 0);
    EXPECT_EQ(canvas.graphicsStatus(), 0);
    const FontInfo info = canvas.fontInfo();
    EXPECT_EQ(info.pixelHeight, c.height);
    EXPECT_EQ(info.pixelWidth, c.width);
    // The face is fitted into that cell.
    EXPECT_LE(QFontMetrics(canvas.font()).height(), c.height);
    EXPECT_GE(QFontMetrics(canvas.font()).height(), c.height - 2);
    EXPECT_NEAR(QFontMetricsF(canvas.font()).averageCharWidth(), c.width, 0.75);
    EXPECT_TRUE(canvas.font().bold());
  }
  canvas.setFont("t'Courier New'h20w10b");
  EXPECT_NEAR(canvas.textExtent("0123456789"), 100, 4);  // monospaced: 10 x w

  const int before = canvas.setFont("t'Courier New'h20w9b");
  EXPECT_LE(canvas.setFont("t'No Such Face At All'h20w9"), 0);
  EXPECT_NE(canvas.graphicsStatus(), 0);
  EXPECT_LE(canvas.setFont("h20w9"), 0);  // no face
  EXPECT_EQ(canvas.setFont("t'Courier New'h20w9b"), before);

  const FontOptions o = parseFontOptions("t'Times New Roman'h16w8bi");
  EXPECT_TRUE(o.valid);
  EXPECT_EQ(o.face, "Times New Roman");
  EXPECT_EQ(o.height, 16);
  EXPECT_EQ(o.width, 8);
  EXPECT_TRUE(o.bold && o.italic && !o.underline);
  EXPECT_FALSE(parseFontOptions("t'Courier New").valid);
  EXPECT_FALSE(parseFontOptions("t'Courier New'hx").valid);
}

TEST_F(CanvasTest, TextHangsBelowThePositionOrReadsUpwardsWhenTurned) {
  ASSERT_GT(canvas.setFont("t'Courier New'h20w10b"), 0);
  const int w = canvas.textExtent("HHHH");
  const int h = canvas.fontInfo().pixelHeight;
  const QRgb white = qRgb(255, 255, 255);

  canvas.moveToPixel(100, 100);
  canvas.outText("HHHH");
  const QImage& img = canvas.image();
  const int inside = countPixels(img, QRect(100, 100, w, h), white);
  EXPECT_GT(inside, 50);
  EXPECT_EQ(countPixels(img, QRect(0, 0, 800, 600), white), inside);
  int x = 0, y = 0;
  canvas.getPositionPixel(x, y);
  EXPECT_EQ(x, 100 + w);  // the position moves past the text
  EXPECT_EQ(y, 100);

  canvas.clearWindow();
  canvas.setTextRotation(900);
  EXPECT_EQ(canvas.graphicsStatus(), 0);  // outline fonts turn
  canvas.moveToPixel(300, 300);
  canvas.outText("HHHH");
  const QImage& turned = canvas.image();
  const int up = countPixels(turned, QRect(300, 300 - w, h, w + 1), white);
  EXPECT_GT(up, 50);
  EXPECT_EQ(countPixels(turned, QRect(0, 0, 800, 600), white), up);
  canvas.getPositionPixel(x, y);
  EXPECT_EQ(x, 300);
  EXPECT_EQ(y, 300 - w);
  canvas.setTextRotation(0);
}

TEST_F(CanvasTest, SavesTheRectangleAsBmpOrPngAndReportsFailure) {
  canvas.setColour(kYellow);
  canvas.rectanglePixel(kFill, 0, 0, 9, 9);
  const QString dir = qt_test::tempDir();

  const std::string bmp = (dir + "/pic_A.bmp").toStdString();
  EXPECT_GE(canvas.saveImage(bmp, 0, 0, 799, 599), 0);
  QImageReader bmpReader(QString::fromStdString(bmp));
  EXPECT_EQ(bmpReader.format(), "bmp");
  const QImage back = bmpReader.read();
  EXPECT_EQ(back.size(), QSize(800, 600));
  EXPECT_EQ(back.pixel(5, 5), paletteColour(kYellow).rgb());
  EXPECT_EQ(back.pixel(10, 10), qRgb(0, 0, 0));

  const std::string png = (dir + "/part.png").toStdString();
  EXPECT_GE(canvas.saveImage(png, 5, 5, 14, 24), 0);
  QImageReader pngReader(QString::fromStdString(png));
  EXPECT_EQ(pngReader.format(), "png");
  EXPECT_EQ(pngReader.read().size(), QSize(10, 20));

  const std::string plain = (dir + "/noextension").toStdString();
  EXPECT_GE(canvas.saveImage(plain, 0, 0, 799, 599), 0);
  EXPECT_EQ(QImageReader(QString::fromStdString(plain)).format(), "bmp");

  EXPECT_LT(canvas.saveImage((dir + "/missing/dir/x.bmp").toStdString(), 0, 0, 799, 599), 0);
  EXPECT_LT(canvas.saveImage((dir + "/outside.bmp").toStdString(), 900, 700, 999, 799), 0);
  EXPECT_FALSE(QFile::exists(dir + "/outside.bmp"));
}

TEST_F(CanvasTest, ExportsTheDrawingAsSvgAndKeepsRecordingAfterwards) {
  if (!QImageCanvas::svgSupported()) GTEST_SKIP() << "built without SVG support";
  const QString dir = qt_test::tempDir();
  EXPECT_FALSE(canvas.recording());
  EXPECT_FALSE(canvas.exportSvg(dir + "/nothing.svg"));  // nothing recorded
  canvas.setRecording(true);
  canvas.setColour(kYellow);
  canvas.rectanglePixel(kFill, 10, 10, 50, 50);
  ASSERT_TRUE(canvas.exportSvg(dir + "/one.svg"));
  canvas.setFont("t'Courier New'h20w10b");
  canvas.setColour(12);
  canvas.moveToPixel(100, 100);
  canvas.outText("Sum_Tr_Indep");
  ASSERT_TRUE(canvas.exportSvg(dir + "/two.svg"));
  QFile file(dir + "/two.svg");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray svg = file.readAll();
  EXPECT_TRUE(svg.contains("<svg"));
  EXPECT_TRUE(svg.contains("#ffff55"));  // the rectangle drawn before the first export
  // Text goes in as outlines of the fitted face, so viewers cannot change it.
  EXPECT_FALSE(svg.contains("<text"));
  EXPECT_TRUE(svg.contains("#ff5555"));
  EXPECT_FALSE(canvas.exportSvg(dir + "/missing/dir/x.svg"));

  // SVG has no clipping or pattern brushes of its own: a shape the viewport
  // cuts and a patterned fill go in as the pixels they leave; shapes wholly
  // inside stay vectors.
  canvas.clearWindow();
  canvas.setColour(kYellow);
  canvas.ellipseWorld(kFill, 600, 100, 640, 140);
  ASSERT_TRUE(canvas.exportSvg(dir + "/three.svg"));
  QFile inside(dir + "/three.svg");
  ASSERT_TRUE(inside.open(QIODevice::ReadOnly));
  const QByteArray vector = inside.readAll();
  EXPECT_TRUE(vector.contains("<circle") || vector.contains("<ellipse"));
  EXPECT_FALSE(vector.contains("<image"));
  EXPECT_FALSE(vector.contains("#ff5555"));  // cleared

  canvas.clearWindow();
  canvas.setViewport(300, 300, 399, 399);
  canvas.ellipseWorld(kFill, -50, -50, 50, 50);
  canvas.setFillMask({0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x01});
  canvas.rectanglePixel(kFill, 60, 60, 90, 90);
  ASSERT_TRUE(canvas.exportSvg(dir + "/four.svg"));
  QFile cut(dir + "/four.svg");
  ASSERT_TRUE(cut.open(QIODevice::ReadOnly));
  const QByteArray pixels = cut.readAll();
  EXPECT_FALSE(pixels.contains("<circle") || pixels.contains("<ellipse"));
  EXPECT_EQ(pixels.count("<image"), 2);

  // Recording switched on late starts from the pixels drawn so far.
  canvas.setRecording(false);
  canvas.setViewport(0, 0, 799, 599);
  canvas.setSolidFill();
  canvas.ellipseWorld(kFill, 100, 100, 140, 140);
  canvas.setRecording(true);
  ASSERT_TRUE(canvas.exportSvg(dir + "/five.svg"));
  QFile late(dir + "/five.svg");
  ASSERT_TRUE(late.open(QIODevice::ReadOnly));
  const QByteArray snapshot = late.readAll();
  EXPECT_EQ(snapshot.count("<image"), 1);
  EXPECT_FALSE(snapshot.contains("<circle") || snapshot.contains("<ellipse"));
}

}  // namespace
}  // namespace tavel::platform::qt
