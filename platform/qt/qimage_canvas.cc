// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/qimage_canvas.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QHash>
#include <QImageWriter>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPolygon>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "platform/file_units.h"

#ifdef TAVEL_HAVE_SVG
#include <QSvgGenerator>
#endif

namespace tavel::platform::qt {
namespace {

constexpr int kBackground = 0;  // palette index the window is cleared to

QString fromText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Parses an unsigned number at text[i], advancing i; -1 when there is none.
int readNumber(std::string_view text, std::size_t& i) {
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
  long value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = std::min<long>(value * 10 + (text[i] - '0'), 100000);
    ++i;
  }
  return static_cast<int>(value);
}

}  // namespace

QColor paletteColour(int index) {
  static const QRgb kPalette[16] = {
      qRgb(0, 0, 0),     qRgb(0, 0, 170),    qRgb(0, 170, 0),    qRgb(0, 170, 170),
      qRgb(170, 0, 0),   qRgb(170, 0, 170),  qRgb(170, 85, 0),   qRgb(170, 170, 170),
      qRgb(85, 85, 85),  qRgb(85, 85, 255),  qRgb(85, 255, 85),  qRgb(85, 255, 255),
      qRgb(255, 85, 85), qRgb(255, 85, 255), qRgb(255, 255, 85), qRgb(255, 255, 255)};
  return QColor(kPalette[index & 15]);
}

QString resolveFontFamily(const QString& face) {
  // Metric-compatible stand-ins for the faces the graphs ask for.
  static const std::pair<const char*, const char*> kStandIns[] = {
      {"courier new", "Liberation Mono"},      {"courier", "Liberation Mono"},
      {"times new roman", "Liberation Serif"}, {"times", "Liberation Serif"},
      {"ms sans serif", "DejaVu Sans"},        {"arial", "Liberation Sans"},
      {"helvetica", "Liberation Sans"}};
  const QString key = face.trimmed().toLower();
  if (key.isEmpty()) return {};
  const QStringList installed = QFontDatabase::families();
  for (const auto& [name, family] : kStandIns) {
    if (key == QLatin1String(name)) {
      if (installed.contains(QLatin1String(family))) return QLatin1String(family);
      // Without the stand-in, let the font system pick its nearest face.
      return face.trimmed();
    }
  }
  for (const QString& family : installed)
    if (family.compare(face.trimmed(), Qt::CaseInsensitive) == 0) return family;
  return {};
}

FontOptions parseFontOptions(std::string_view options) {
  FontOptions result;
  std::size_t i = 0;
  bool ok = true;
  while (i < options.size() && ok) {
    // ASCII only: std::tolower follows the C locale, which the toolkit takes
    // from the environment (a Turkish 'I' is not an 'i' there).
    const char c =
        (options[i] >= 'A' && options[i] <= 'Z') ? static_cast<char>(options[i] + 32) : options[i];
    ++i;
    switch (c) {
      case 't': {
        if (i >= options.size() || options[i] != '\'') {
          ok = false;
          break;
        }
        const std::size_t end = options.find('\'', i + 1);
        if (end == std::string_view::npos) {
          ok = false;
          break;
        }
        result.face = fromText(options.substr(i + 1, end - i - 1));
        i = end + 1;
        break;
      }
      case 'h':
        result.height = readNumber(options, i);
        ok = result.height > 0;
        break;
      case 'w':
        result.width = readNumber(options, i);
        ok = result.width > 0;
        break;
      case 'b':
        result.bold = true;
        break;
      case 'i':
        result.italic = true;
        break;
      case 'u':
        result.underline = true;
        break;
      case ' ':
      case 'f':  // fixed / proportional / vector / raster / best fit: the
      case 'p':  // face decides, nothing to choose here
      case 'v':
      case 'r':
      case 'e':
        break;
      default:
        ok = false;
    }
  }
  result.valid = ok && !result.face.trimmed().isEmpty();
  return result;
}

QFont fittedFont(const QString& family, int height, int width, bool bold) {
  QFont font(family);
  font.setBold(bold);
  font.setStyleStrategy(QFont::PreferOutline);
  if (height > 0) {
    // The largest pixel size whose line height (ascent + descent) fits.
    int size = height;
    font.setPixelSize(size);
    while (size > 1 && QFontMetrics(font).height() > height) font.setPixelSize(--size);
    while (true) {
      QFont larger = font;
      larger.setPixelSize(size + 1);
      if (QFontMetrics(larger).height() > height) break;
      font = larger;
      ++size;
    }
  }
  if (width > 0) {
    const double natural = QFontMetricsF(font).averageCharWidth();
    if (natural > 0) {
      const int stretch = static_cast<int>(std::lround(100.0 * width / natural));
      if (stretch != 100) font.setStretch(std::clamp(stretch, 1, 4000));
    }
  }
  return font;
}

// The painters of the image and of the recording, begun on first use and
// ended whenever somebody wants to look at the result.
class QImageCanvas::Painters {
 public:
  QPainter onImage;
  QPicture picture;
  QPainter onPicture;
  QRect imageClip;

  void endImage() {
    if (onImage.isActive()) onImage.end();
  }
  void endPicture() {
    if (onPicture.isActive()) onPicture.end();
  }
  QPainter& image(QImage& target) {
    if (!onImage.isActive()) {
      onImage.begin(&target);
      onImage.setRenderHint(QPainter::Antialiasing, false);
      imageClip = QRect();
    }
    return onImage;
  }
  QPainter& recording() {
    if (!onPicture.isActive()) {
      // Picking up after an export: keep what was drawn before.
      QPicture earlier = picture;
      picture = QPicture();
      onPicture.begin(&picture);
      onPicture.setRenderHint(QPainter::Antialiasing, false);
      if (earlier.size() > 0) onPicture.drawPicture(0, 0, earlier);
    }
    return onPicture;
  }
  void restartRecording() {
    endPicture();
    picture = QPicture();
  }
};

QImageCanvas::QImageCanvas(int width, int height)
    : width_(std::max(1, width)),
      height_(std::max(1, height)),
      image_(width_, height_, QImage::Format_RGB32),
      painters_(std::make_unique<Painters>()),
      viewport_(0, 0, width_, height_) {
  mapping_.setViewport(0, 0, width_ - 1, height_ - 1);
  font_ = fittedFont(resolveFontFamily(QStringLiteral("Courier New")), 16, 8, false);
  fontInfo_ = FontInfo{16, 8, 1};
  clearWindow();
}

QImageCanvas::~QImageCanvas() {
  painters_->endImage();
  painters_->endPicture();
}

const QImage& QImageCanvas::image() {
  std::lock_guard lock(pixels_);
  painters_->endImage();
  return image_;
}

QImage QImageCanvas::snapshot() {
  std::lock_guard lock(pixels_);
  painters_->endImage();
  return image_;
}

bool QImageCanvas::trySnapshot(QImage& picture) {
  std::unique_lock lock(pixels_, std::try_to_lock);
  if (!lock.owns_lock()) return false;
  painters_->endImage();
  picture = image_;
  return true;
}

void QImageCanvas::setRecording(bool on) {
  if (on == recording_) return;
  recording_ = on;
  painters_->restartRecording();
  if (on) {
    // What was drawn before the recording began goes in as it looks.
    QPainter& p = painters_->recording();
    if (blank_) {
      p.fillRect(QRect(0, 0, width_, height_), paletteColour(kBackground));
    } else {
      p.drawImage(0, 0, image());
    }
  }
}

bool QImageCanvas::svgSupported() {
#ifdef TAVEL_HAVE_SVG
  return true;
#else
  return false;
#endif
}

bool QImageCanvas::exportSvg(const QString& path) {
#ifdef TAVEL_HAVE_SVG
  if (!recording_) return false;
  painters_->endPicture();
  QByteArray bytes;
  QBuffer file(&bytes);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QSvgGenerator generator;
  generator.setOutputDevice(&file);
  generator.setSize(QSize(width_, height_));
  generator.setViewBox(QRect(0, 0, width_, height_));
  // Replaying a picture scales it by the ratio of the two resolutions; the
  // same resolution keeps one SVG unit per image pixel.
  generator.setResolution(painters_->picture.logicalDpiX());
  generator.setTitle(QStringLiteral("Tavel picture"));
  QPainter painter;
  if (!painter.begin(&generator)) return false;
  painter.setClipRect(QRect(0, 0, width_, height_));
  painter.drawPicture(0, 0, painters_->picture);
  if (!painter.end()) return false;
  std::string why;
  return replaceFileWith(path.toStdString(), std::string_view(bytes.constData(), bytes.size()),
                         why);
#else
  (void)path;
  return false;
#endif
}

template <typename F>
void QImageCanvas::paint(const QRect& bounds, bool vector, F&& draw) {
  {
    std::lock_guard lock(pixels_);
    QPainter& onImage = painters_->image(image_);
    if (painters_->imageClip != viewport_) {
      onImage.setClipRect(viewport_);
      painters_->imageClip = viewport_;
    }
    draw(onImage);
  }
  blank_ = false;
  if (recording_) {
    QPainter& onPicture = painters_->recording();
    if (vector && viewport_.contains(bounds)) {
      draw(onPicture);
    } else {
      // SVG output knows neither clipping nor pattern brushes: what the
      // viewport cuts, or a pattern paints, is recorded as the pixels it
      // leaves.
      const QRect area = bounds.intersected(viewport_);
      if (!area.isEmpty()) {
        QImage tile(area.size(), QImage::Format_ARGB32_Premultiplied);
        tile.fill(Qt::transparent);
        QPainter onTile(&tile);
        onTile.setRenderHint(QPainter::Antialiasing, false);
        onTile.translate(-area.topLeft());  // keeps patterns on the window's grid
        onTile.setClipRect(viewport_);
        draw(onTile);
        onTile.end();
        onPicture.drawImage(area.topLeft(), tile);
      }
    }
  }
  touched();
}

void QImageCanvas::touched() {
  if (changed_) changed_();
}

// ---- window

bool QImageCanvas::getWindowConfig(WindowConfig& config) {
  config.pixelsX = width_;
  config.pixelsY = height_;
  return true;
}

// The window already is as large as a graphics window gets.
bool QImageCanvas::setWindowConfigMaximum() { return true; }

void QImageCanvas::clearWindow() {
  {
    std::lock_guard lock(pixels_);
    painters_->endImage();
    image_.fill(paletteColour(kBackground));
  }
  blank_ = true;
  if (recording_) {
    painters_->restartRecording();
    QPainter& p = painters_->recording();
    p.fillRect(QRect(0, 0, width_, height_), paletteColour(kBackground));
  }
  touched();
}

int QImageCanvas::saveImage(const std::string& path, int x1, int y1, int x2, int y2) {
  status_ = 0;
  const QRect wanted =
      QRect(QPoint(std::min(x1, x2), std::min(y1, y2)), QPoint(std::max(x1, x2), std::max(y1, y2)))
          .intersected(QRect(0, 0, width_, height_));
  const QString name = QString::fromStdString(path);
  if (wanted.isEmpty() || name.isEmpty()) {
    status_ = -1;
    return -1;
  }
  const QString suffix = QFileInfo(name).suffix().toLower();
  const QByteArray format = suffix == QLatin1String("png") ? "PNG" : "BMP";
  // Encoded in memory, then written as every output file is: beside the
  // target and renamed, so a failed save never leaves a truncated picture
  // where a good one was, and a link at the name is replaced, not followed.
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  std::string why;
  if (!writer.write(image().copy(wanted)) ||
      !replaceFileWith(path, std::string_view(bytes.constData(), bytes.size()), why)) {
    status_ = -1;
    return -1;
  }
  return 0;
}

// ---- state

int QImageCanvas::setColour(int index) {
  const int previous = colour_;
  colour_ = index & 15;
  return previous;
}

void QImageCanvas::setLineStyle(std::uint16_t mask) { lineStyle_ = mask; }

void QImageCanvas::setFillMask(const FillMask& mask) {
  fillMask_ = mask;
  solidFill_ = false;
}

void QImageCanvas::setSolidFill() { solidFill_ = true; }

QPen QImageCanvas::currentPen() const {
  if (lineStyle_ == 0) return QPen(Qt::NoPen);
  QPen pen(paletteColour(colour_));
  pen.setWidth(1);
  pen.setCosmetic(true);
  pen.setCapStyle(Qt::FlatCap);
  pen.setJoinStyle(Qt::MiterJoin);
  if (lineStyle_ == 0xFFFF) return pen;
  // Bit 15 is the first pixel of a line. Qt's dash pattern must begin with a
  // dash, so start the pattern at the first set bit that follows a clear one
  // and shift it back with the dash offset.
  auto bit = [this](int k) { return (lineStyle_ >> (15 - (k & 15))) & 1; };
  int start = 0;
  while (!(bit(start) == 1 && bit(start - 1) == 0)) ++start;
  QList<qreal> pattern;
  int run = 0;
  int current = 1;
  for (int k = 0; k < 16; ++k) {
    const int b = bit(start + k);
    if (b == current) {
      ++run;
    } else {
      pattern << run;
      run = 1;
      current = b;
    }
  }
  pattern << run;
  pen.setDashPattern(pattern);
  pen.setDashOffset((16 - start) % 16);
  return pen;
}

QBrush QImageCanvas::currentBrush() const {
  const QColor colour = paletteColour(colour_);
  if (solidFill_) return QBrush(colour);
  // Set bits take the colour; clear bits stay transparent so whatever lies
  // below shows through. The painter draws in image pixels, so the 8 x 8
  // pattern lands on the pixel grid (aligned to the window's origin).
  QImage texture(8, 8, QImage::Format_ARGB32);
  texture.fill(Qt::transparent);
  for (int row = 0; row < 8; ++row)
    for (int col = 0; col < 8; ++col)
      if (fillMask_[static_cast<std::size_t>(row)] & (0x80 >> col))
        texture.setPixelColor(col, row, colour);
  QBrush brush;
  brush.setTextureImage(texture);
  return brush;
}

void QImageCanvas::setViewport(int left, int top, int right, int bottom) {
  mapping_.setViewport(left, top, right, bottom);
  viewport_ =
      QRect(QPoint(mapping_.left(), mapping_.top()), QPoint(mapping_.right(), mapping_.bottom()));
  position_ = viewport_.topLeft();
}

void QImageCanvas::clearViewport() {
  const QRect area = viewport_;
  paint(area, true, [&](QPainter& p) { p.fillRect(area, paletteColour(kBackground)); });
}

void QImageCanvas::setWorldWindow(double x1, double y1, double x2, double y2, bool invert) {
  status_ = mapping_.setWindow(x1, y1, x2, y2, invert) ? 0 : -1;
}

QPoint QImageCanvas::toDevice(double x, double y) const {
  const PixelPoint p = mapping_.toPixel(x, y);
  return QPoint(p.x, p.y);
}

QRect QImageCanvas::deviceRect(const QPoint& a, const QPoint& b) const {
  return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
               QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

// ---- shapes

void QImageCanvas::fillShape(int control, const QRect& box, bool ellipse) {
  if (control == kFill) {
    const QBrush brush = currentBrush();
    // A filled shape covers its corner pixels inclusively.
    const QRect area(box.topLeft(), QSize(box.width(), box.height()));
    paint(area, solidFill_, [&](QPainter& p) {
      if (ellipse) {
        p.setPen(Qt::NoPen);
        p.setBrush(brush);
        p.drawEllipse(area);
      } else {
        p.fillRect(area, brush);
      }
    });
    return;
  }
  const QPen pen = currentPen();
  // The outline runs through the corner pixels: Qt's outline of a w x h
  // rectangle covers w + 1 pixels, hence the one-pixel smaller box.
  const QRect outline(box.topLeft(), QSize(box.width() - 1, box.height() - 1));
  paint(box, true, [&](QPainter& p) {
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    if (ellipse) {
      p.drawEllipse(outline);
    } else if (box.width() == 1 || box.height() == 1) {
      p.drawLine(box.topLeft(), box.bottomRight());
    } else {
      p.drawRect(outline);
    }
  });
}

void QImageCanvas::rectanglePixel(int control, int x1, int y1, int x2, int y2) {
  const QPoint origin = viewport_.topLeft();
  fillShape(control, deviceRect(origin + QPoint(x1, y1), origin + QPoint(x2, y2)), false);
}

void QImageCanvas::rectangleWorld(int control, double x1, double y1, double x2, double y2) {
  fillShape(control, deviceRect(toDevice(x1, y1), toDevice(x2, y2)), false);
}

void QImageCanvas::ellipseWorld(int control, double x1, double y1, double x2, double y2) {
  fillShape(control, deviceRect(toDevice(x1, y1), toDevice(x2, y2)), true);
}

void QImageCanvas::polygonWorld(int control, const double* xy, int n) {
  status_ = 0;
  if (xy == nullptr || n < 3) {
    status_ = -1;
    return;
  }
  QPolygon polygon;
  polygon.reserve(n);
  for (int i = 0; i < n; ++i) polygon << toDevice(xy[2 * i], xy[2 * i + 1]);
  if (control == kFill) {
    const QBrush brush = currentBrush();
    paint(polygon.boundingRect(), solidFill_, [&](QPainter& p) {
      p.setPen(Qt::NoPen);
      p.setBrush(brush);
      p.drawPolygon(polygon, Qt::OddEvenFill);
    });
  } else {
    const QPen pen = currentPen();
    paint(polygon.boundingRect(), true, [&](QPainter& p) {
      p.setPen(pen);
      p.setBrush(Qt::NoBrush);
      p.drawPolygon(polygon);
    });
  }
}

// ---- lines

void QImageCanvas::moveToWorld(double x, double y) { position_ = toDevice(x, y); }

void QImageCanvas::lineToWorld(double x, double y) {
  const QPoint from = position_;
  const QPoint to = toDevice(x, y);
  position_ = to;
  const QPen pen = currentPen();
  // Qt leaves out a line's last pixel; a raster line includes it when the
  // style has that pixel's bit set.
  const int steps = std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
  const bool lastLit = lineStyle_ != 0 && ((lineStyle_ >> (15 - steps % 16)) & 1);
  paint(deviceRect(from, to), true, [&](QPainter& p) {
    p.setPen(pen);
    p.drawLine(from, to);
    // Pixels only: the recording draws vectors, and points cost it dearly.
    if (lastLit && p.paintEngine()->type() == QPaintEngine::Raster)
      p.fillRect(QRect(to, QSize(1, 1)), pen.color());
  });
}

void QImageCanvas::moveToPixel(int x, int y) { position_ = viewport_.topLeft() + QPoint(x, y); }

void QImageCanvas::getPositionPixel(int& x, int& y) {
  x = position_.x() - viewport_.left();
  y = position_.y() - viewport_.top();
}

// ---- fonts and text

int QImageCanvas::initFonts() {
  int found = 0;
  for (const char* face : {"Courier New", "Times New Roman", "MS Sans Serif"})
    if (!resolveFontFamily(QLatin1String(face)).isEmpty()) ++found;
  return found > 0 ? found : -1;
}

int QImageCanvas::setFont(std::string_view options) {
  status_ = 0;
  QString key = fromText(options).trimmed();
  auto it = fonts_.find(key);
  if (it == fonts_.end()) {
    const FontOptions parsed = parseFontOptions(key.toStdString());
    const QString family = parsed.valid ? resolveFontFamily(parsed.face) : QString();
    if (family.isEmpty()) {
      status_ = -1;
      return -1;
    }
    QFont font = fittedFont(family, parsed.height, parsed.width, parsed.bold);
    font.setItalic(parsed.italic);
    font.setUnderline(parsed.underline);
    // The cell the font was fitted into is its size, as a raster font of
    // that size would report it.
    const QFontMetricsF metrics(font);
    FontInfo info;
    info.pixelHeight =
        parsed.height > 0 ? parsed.height : static_cast<int>(std::lround(metrics.height()));
    info.pixelWidth =
        parsed.width > 0 ? parsed.width : static_cast<int>(std::lround(metrics.averageCharWidth()));
    info.type = 1;  // outline fonts: they turn
    it = fonts_.insert(key, FittedFont{font, static_cast<int>(fonts_.size()) + 1, info});
  }
  font_ = it->font;
  fontInfo_ = it->info;
  fontNumber_ = it->number;
  return fontNumber_;
}

FontInfo QImageCanvas::fontInfo() { return fontInfo_; }

int QImageCanvas::textExtent(std::string_view text) {
  return QFontMetrics(font_).horizontalAdvance(fromText(text));
}

void QImageCanvas::outText(std::string_view text) {
  const QString s = fromText(text);
  const QFontMetrics metrics(font_);
  const QPoint at = position_;
  const double degrees = rotation_ / 10.0;
  const QPen pen(paletteColour(colour_));
  QTransform turn;
  turn.translate(at.x(), at.y());
  turn.rotate(-degrees);
  const QRect bounds = turn.mapRect(QRect(0, 0, metrics.horizontalAdvance(s) + 1, metrics.height()))
                           .adjusted(-1, -1, 1, 1);
  paint(bounds, true, [&](QPainter& p) {
    p.save();
    p.setFont(font_);
    p.setPen(pen);
    p.translate(at);
    // Tenths of degrees counter-clockwise on the screen; Qt turns clockwise.
    if (rotation_ != 0) p.rotate(-degrees);
    if (p.paintEngine()->type() == QPaintEngine::Picture) {
      // SVG viewers would set the text in faces of their own, without the
      // width the text was fitted to; outlines look the same everywhere.
      QPainterPath outline;
      outline.addText(QPointF(0, metrics.ascent()), font_, s);
      p.fillPath(outline, pen.color());
    } else {
      p.drawText(QPoint(0, metrics.ascent()), s);
    }
    p.restore();
  });
  // The current position moves to the end of the text, along its direction.
  const double advance = metrics.horizontalAdvance(s);
  const double radians = degrees * std::numbers::pi / 180.0;
  position_ = at + QPoint(roundToPixel(advance * std::cos(radians)),
                          -roundToPixel(advance * std::sin(radians)));
}

void QImageCanvas::setTextRotation(int tenths) {
  status_ = 0;
  rotation_ = tenths % 3600;
}

int QImageCanvas::graphicsStatus() { return status_; }

}  // namespace tavel::platform::qt
