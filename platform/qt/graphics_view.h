// The inside of a graphics window: shows its canvas pixel for pixel and
// offers "Save Picture As..." (PNG, BMP or SVG) on its context menu.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "platform/qt/qimage_canvas.h"

namespace tavel::platform::qt {

class GraphicsView : public QWidget {
 public:
  explicit GraphicsView(QWidget* parent = nullptr);
  ~GraphicsView() override;

  QImageCanvas& canvas() { return *canvas_; }
  // Called whenever the canvas changed (after scheduling a repaint).
  void setChangedHook(std::function<void()> hook) { changed_ = std::move(hook); }
  // While false the context menu offers nothing (a command is running).
  void setSavingAllowed(std::function<bool()> allowed) { allowed_ = std::move(allowed); }

  // Writes the picture; the format follows the extension (.svg, .png,
  // anything else BMP). False when it could not be written.
  bool savePicture(const QString& path);
  // The file dialog of "Save Picture As...".
  void saveAs();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  std::unique_ptr<QImageCanvas> canvas_;
  std::function<void()> changed_;
  std::function<bool()> allowed_;
  bool repaintRequested_ = false;
};

}  // namespace tavel::platform::qt
