// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/graphics_view.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

namespace tavel::platform::qt {
namespace {

constexpr int kRepaintDelayMs = 150;
constexpr int kRedrawDelayMs = 80;  // after the last resize step

}  // namespace

GraphicsView::GraphicsView(QWidget* parent)
    : QWidget(parent), canvas_(std::make_unique<QImageCanvas>()) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  repaintTimer_.setSingleShot(true);
  repaintTimer_.setInterval(kRepaintDelayMs);
  QObject::connect(&repaintTimer_, &QTimer::timeout, this, [this] {
    repaintRequested_ = false;
    update();
  });
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  redrawTimer_.setSingleShot(true);
  redrawTimer_.setInterval(kRedrawDelayMs);
  QObject::connect(&redrawTimer_, &QTimer::timeout, this, [this] {
    drawAtOwnSize();
    update();
  });
  canvas_->setRecording(true);  // for "Save Picture As..." in SVG
  canvas_->setChangedHook([this] { canvasChanged(); });
}

GraphicsView::~GraphicsView() { canvas_->setChangedHook({}); }

QSize GraphicsView::sizeHint() const { return {QImageCanvas::kWidth, QImageCanvas::kHeight}; }

QSize GraphicsView::minimumSizeHint() const {
  return {QImageCanvas::kWidth / 5, QImageCanvas::kHeight / 5};
}

void GraphicsView::canvasChanged() {
  version_.fetch_add(1, std::memory_order_relaxed);
  // A plot draws thousands of primitives: the window shows them a few times
  // a second, not once each (scaling the picture costs the GUI thread).
  if (!repaintRequested_.exchange(true))
    QMetaObject::invokeMethod(
        this, [this] { repaintTimer_.start(); }, Qt::QueuedConnection);
}

QRect GraphicsView::pictureRect() const {
  const double scale =
      std::min(double(width()) / QImageCanvas::kWidth, double(height()) / QImageCanvas::kHeight);
  const QSize size(std::max(1, int(std::lround(QImageCanvas::kWidth * scale))),
                   std::max(1, int(std::lround(QImageCanvas::kHeight * scale))));
  return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void GraphicsView::setRedraw(std::function<void(Canvas&)> redraw) {
  redraw_ = std::move(redraw);
  drawn_ = QImage();
  update();
}

QImage GraphicsView::drawAtOwnSize() {
  if (!redraw_) return {};
  QImageCanvas own(std::max(1, width()), std::max(1, height()));
  redraw_(own);
  drawn_ = own.image().copy();
  return drawn_;
}

void GraphicsView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (redraw_) redrawTimer_.start();
}

void GraphicsView::paintEvent(QPaintEvent*) {
  if (redraw_) {
    if (drawn_.isNull()) drawAtOwnSize();
    QPainter painter(this);
    if (drawn_.size() == size()) {
      painter.drawImage(0, 0, drawn_);
    } else {
      // Resizing: the last drawing stretched until the pause redraws it.
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(rect(), drawn_);
    }
    return;
  }
  const QRect target = pictureRect();
  // Read the version first: a change made while the snapshot is taken asks
  // for another repaint.
  const std::uint64_t version = version_.load(std::memory_order_relaxed);
  if (version != shownVersion_) {
    QImage picture;
    if (canvas_->trySnapshot(picture)) {
      levels_.clear();
      levels_.push_back(std::move(picture));
      shownVersion_ = version;
    } else {
      repaintTimer_.start();  // the drawing thread is mid-primitive: soon again
    }
  }
  if (levels_.empty()) levels_.push_back(canvas_->snapshot());
  // Strong reductions go through copies halved with proper averaging (once
  // per picture, not per size), so thin lines survive; the last step is a
  // cheap filtered draw. Re-arranging many windows then costs little.
  std::size_t level = 0;
  while (target.width() * 2 <= levels_[level].width()) {
    if (level + 1 == levels_.size())
      levels_.push_back(levels_[level].scaled(levels_[level].size() / 2, Qt::IgnoreAspectRatio,
                                              Qt::SmoothTransformation));
    ++level;
  }
  QPainter painter(this);
  const QColor margin = palette().color(QPalette::Dark);
  painter.fillRect(QRect(0, 0, width(), target.top()), margin);
  painter.fillRect(QRect(0, target.bottom() + 1, width(), height() - target.bottom() - 1), margin);
  painter.fillRect(QRect(0, target.top(), target.left(), target.height()), margin);
  painter.fillRect(
      QRect(target.right() + 1, target.top(), width() - target.right() - 1, target.height()),
      margin);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, levels_[level]);
}

void GraphicsView::contextMenuEvent(QContextMenuEvent* event) {
  if (allowed_ && !allowed_()) return;
  QMenu menu(this);
  menu.addAction(QStringLiteral("Save Picture As..."), this, [this] { saveAs(); });
  menu.exec(event->globalPos());
}

bool GraphicsView::savePicture(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("svg")) return canvas_->exportSvg(path);
  return canvas_->saveImage(path.toStdString(), 0, 0, QImageCanvas::kWidth - 1,
                            QImageCanvas::kHeight - 1) >= 0;
}

void GraphicsView::saveAs() {
  static const QString kPng = QStringLiteral("PNG image (*.png)");
  static const QString kBmp = QStringLiteral("BMP image (*.bmp)");
  static const QString kSvg = QStringLiteral("SVG drawing (*.svg)");
  QStringList filters{kPng, kBmp};
  if (QImageCanvas::svgSupported()) filters << kSvg;

  const QString start =
      folder_ && !folder_->isEmpty() && QDir(*folder_).exists() ? *folder_ : QDir::currentPath();
  QFileDialog dialog(window(), QStringLiteral("Save Picture As"), start);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(filters);
  // Suggest a name after the graphics window's title.
  QWidget* titled = window();
  for (QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget()) {
    if (qobject_cast<QMdiSubWindow*>(w) != nullptr) {
      titled = w;
      break;
    }
  }
  QString base = titled->windowTitle().simplified();
  base.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]+")), QStringLiteral("_"));
  dialog.selectFile((base.isEmpty() ? QStringLiteral("picture") : base) + QStringLiteral(".png"));
  // The chosen filter decides the extension when the name has none.
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
    dialog.setDefaultSuffix(f == kSvg   ? QStringLiteral("svg")
                            : f == kBmp ? QStringLiteral("bmp")
                                        : QStringLiteral("png"));
  });
  dialog.setDefaultSuffix(QStringLiteral("png"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().first();
  if (folder_) *folder_ = QFileInfo(path).absolutePath();
  if (!savePicture(path)) {
    QMessageBox::warning(window(), QStringLiteral("Save Picture As"),
                         QStringLiteral("The picture could not be saved as\n%1").arg(path));
  }
}

}  // namespace tavel::platform::qt
