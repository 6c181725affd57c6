#include "platform/qt/graphics_view.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QRegularExpression>

namespace tavel::platform::qt {

GraphicsView::GraphicsView(QWidget* parent)
    : QWidget(parent), canvas_(std::make_unique<QImageCanvas>()) {
  setFixedSize(QImageCanvas::kWidth, QImageCanvas::kHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
  canvas_->setRecording(true);  // for "Save Picture As..." in SVG
  canvas_->setChangedHook([this] {
    // One repaint request per batch of primitives: plots draw many.
    if (!repaintRequested_) {
      repaintRequested_ = true;
      update();
    }
    if (changed_) changed_();
  });
}

GraphicsView::~GraphicsView() { canvas_->setChangedHook({}); }

void GraphicsView::paintEvent(QPaintEvent* event) {
  repaintRequested_ = false;
  QPainter painter(this);
  painter.drawImage(event->rect(), canvas_->image(), event->rect());
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

  QFileDialog dialog(window(), QStringLiteral("Save Picture As"), QDir::currentPath());
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
  if (!savePicture(path)) {
    QMessageBox::warning(window(), QStringLiteral("Save Picture As"),
                         QStringLiteral("The picture could not be saved as\n%1").arg(path));
  }
}

}  // namespace tavel::platform::qt
