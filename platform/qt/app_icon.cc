// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/app_icon.h"

#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#ifdef TAVEL_HAVE_SVG
#include <QSvgRenderer>
#endif

namespace tavel::platform::qt {
namespace {

constexpr int kSizes[] = {16, 24, 32, 48, 64, 128, 256};
const char* const kIconResource = ":/tavel/icons/tavel.svg";

// The motif of the SVG drawing on its 64-unit grid.
void paintMotif(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x2b, 0x4c, 0x7e), 2));
  p.setBrush(QColor(0xf7, 0xf9, 0xfc));
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 8, 8);
  p.setPen(QPen(QColor(0x33, 0x33, 0x33), 2.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(12, 52), QPointF(12, 12));
  p.drawLine(QPointF(12, 52), QPointF(54, 52));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x2b, 0x7b, 0xd6));
  const QPointF dots[] = {{17, 46}, {22, 40}, {26, 43}, {30, 33}, {35, 30},
                          {39, 24}, {44, 22}, {48, 15}, {51, 17}};
  for (const QPointF& d : dots) p.drawEllipse(d, 2.6, 2.6);
  QPainterPath curve(QPointF(14, 48));
  curve.cubicTo(QPointF(26, 42), QPointF(36, 30), QPointF(52, 14));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0xd6, 0x45, 0x2b), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawPath(curve);
}

}  // namespace

QIcon applicationIcon() {
  QIcon icon;
#ifdef TAVEL_HAVE_SVG
  QSvgRenderer renderer{QString::fromLatin1(kIconResource)};
  const bool svg = renderer.isValid();
#else
  const bool svg = false;
#endif
  for (int size : kSizes) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
#ifdef TAVEL_HAVE_SVG
    if (svg) {
      renderer.render(&painter, QRectF(0, 0, size, size));
      icon.addPixmap(pixmap);
      continue;
    }
#endif
    (void)svg;
    painter.scale(size / 64.0, size / 64.0);
    paintMotif(painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace tavel::platform::qt
