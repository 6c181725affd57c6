// SPDX-License-Identifier: GPL-3.0-or-later
// A graphics window's drawing surface: an 800 x 600 QImage painted with the
// primitives of platform::Canvas. Works without any window (the offscreen
// platform is enough), so the batch program draws its pictures with it too.
// With recording on (graphics windows switch it on), every primitive is also
// recorded on a QPicture, so the same drawing can be written as SVG.
//
// Coordinates: the viewport is a pixel rectangle of the image (its top-left
// is the pixel origin, drawing is clipped to it); world positions map onto it
// as platform::WorldWindow says (both ends of the world range visible) and
// are rounded to whole pixels before drawing, as a raster device would.
//
// Fonts: option texts such as "t'Courier New'h20w10b" (face, cell height and
// average width in pixels, b bold) resolve to installed faces: Courier New ->
// Liberation Mono, Times New Roman -> Liberation Serif, MS Sans Serif ->
// DejaVu Sans; the size is fitted so the font's line height is h pixels and
// its average character width w pixels.
#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPicture>
#include <QPoint>
#include <QPointF>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/canvas.h"
#include "platform/world_window.h"

namespace tavel::platform::qt {

// The 16 colours of the classic VGA palette, index 0 black .. 15 bright white.
QColor paletteColour(int index);

// The installed family used for a face named in a font option text, or an
// empty string when the face is unknown.
QString resolveFontFamily(const QString& face);

// Parsed font option text. Valid is false when the text names no face or a
// size is malformed.
struct FontOptions {
  bool valid = false;
  QString face;
  int height = 0;  // pixels; 0 = not given
  int width = 0;   // pixels; 0 = not given
  bool bold = false;
  bool italic = false;
  bool underline = false;
};
FontOptions parseFontOptions(std::string_view options);

// A QFont of the resolved family fitted to the given cell height and average
// character width in pixels (either 0 = take the face's natural value).
QFont fittedFont(const QString& family, int height, int width, bool bold);

class QImageCanvas : public Canvas {
 public:
  static constexpr int kWidth = 800;
  static constexpr int kHeight = 600;

  // A picture of another size (a window's own): the graphs drawn on it
  // keep their fonts' pixel sizes and spread their world space over it.
  explicit QImageCanvas(int width = kWidth, int height = kHeight);
  ~QImageCanvas() override;
  int width() const { return width_; }
  int height() const { return height_; }
  QImageCanvas(const QImageCanvas&) = delete;
  QImageCanvas& operator=(const QImageCanvas&) = delete;

  // The picture as drawn so far (ends any painting in progress), for the
  // thread that draws.
  const QImage& image();
  // A copy of the picture for any other thread (a window showing it while a
  // command draws): taken between two primitives, never in the middle of one.
  QImage snapshot();
  // The same without waiting: false while a primitive is being drawn. The
  // GUI thread uses it, so it never waits for a drawing thread that the
  // scheduler has set aside.
  bool trySnapshot(QImage& picture);
  // Writes the drawing as SVG; false when it cannot be written or SVG
  // support is not built in.
  bool exportSvg(const QString& path);
  static bool svgSupported();
  // Recording for SVG costs time and memory, so it is off until asked for;
  // switched on late, it starts from a snapshot of the pixels.
  void setRecording(bool on);
  bool recording() const { return recording_; }
  // Called after every primitive (e.g. to repaint the window showing it).
  void setChangedHook(std::function<void()> hook) { changed_ = std::move(hook); }

  // ---- Canvas
  bool getWindowConfig(WindowConfig& config) override;
  bool setWindowConfigMaximum() override;
  void clearWindow() override;
  int saveImage(const std::string& path, int x1, int y1, int x2, int y2) override;

  int setColour(int index) override;
  void setLineStyle(std::uint16_t mask) override;
  void setFillMask(const FillMask& mask) override;
  void setSolidFill() override;

  void setViewport(int left, int top, int right, int bottom) override;
  void clearViewport() override;
  void setWorldWindow(double x1, double y1, double x2, double y2, bool invert) override;

  void rectanglePixel(int control, int x1, int y1, int x2, int y2) override;
  void rectangleWorld(int control, double x1, double y1, double x2, double y2) override;
  void ellipseWorld(int control, double x1, double y1, double x2, double y2) override;
  void polygonWorld(int control, const double* xy, int n) override;
  void moveToWorld(double x, double y) override;
  void lineToWorld(double x, double y) override;
  void moveToPixel(int x, int y) override;
  void getPositionPixel(int& x, int& y) override;

  int initFonts() override;
  int setFont(std::string_view options) override;
  FontInfo fontInfo() override;
  int textExtent(std::string_view text) override;
  void outText(std::string_view text) override;
  void setTextRotation(int tenths) override;
  int graphicsStatus() override;

  // Current state, for tests and the window showing the canvas.
  int colour() const { return colour_; }
  std::uint16_t lineStyle() const { return lineStyle_; }
  QRect viewport() const { return viewport_; }
  QFont font() const { return font_; }

 private:
  class Painters;

  QPoint toDevice(double x, double y) const;
  QRect deviceRect(const QPoint& a, const QPoint& b) const;
  QPen currentPen() const;
  QBrush currentBrush() const;
  template <typename F>
  void paint(const QRect& bounds, bool vector, F&& draw);
  void fillShape(int control, const QRect& box, bool ellipse);
  void touched();

  int width_ = kWidth;
  int height_ = kHeight;
  QImage image_;
  std::unique_ptr<Painters> painters_;
  std::mutex pixels_;  // guards image_ and its painter against snapshot()
  bool recording_ = false;
  bool blank_ = true;  // nothing drawn since the last clear
  std::function<void()> changed_;

  int colour_ = 15;
  std::uint16_t lineStyle_ = 0xFFFF;
  bool solidFill_ = true;
  FillMask fillMask_{};
  QRect viewport_;       // the clip rectangle, image pixels
  WorldWindow mapping_;  // world positions to image pixels
  QPoint position_;      // current position in image pixels
  // Fitting a font measures it several times and plots select the same few
  // fonts over and over, so each canvas keeps the fonts it has fitted. Per
  // canvas, not per process: canvases draw on different threads, and a
  // font's number stays the one this canvas answered for it.
  struct FittedFont {
    QFont font;
    int number;
    FontInfo info;
  };
  QHash<QString, FittedFont> fonts_;
  QFont font_;
  FontInfo fontInfo_;
  int fontNumber_ = 0;
  int rotation_ = 0;  // tenths of degrees
  int status_ = 0;
};

}  // namespace tavel::platform::qt
