// SPDX-License-Identifier: GPL-3.0-or-later
// The inside of a graphics window. Given a redraw (a plot's), it draws the
// picture again at the window's own size, so text keeps its pixel size and
// the graph fills the window; a short pause after a resize, and meanwhile it
// shows the last drawing stretched. Without one it shows its canvas's
// 800 x 600 picture whole, scaled to the window (aspect ratio kept, the rest
// of the window dark). "Save Picture As..." (PNG, BMP or SVG) on its context
// menu saves the 800 x 600 canvas, as captures do.
//
// The canvas may be drawn on by a command's worker thread: the view repaints
// from a snapshot of the pixels and is asked to repaint through the event
// queue, never from the drawing thread itself.
#pragma once

#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/qt/qimage_canvas.h"

namespace tavel::platform::qt {

class GraphicsView : public QWidget {
 public:
  explicit GraphicsView(QWidget* parent = nullptr);
  ~GraphicsView() override;

  QImageCanvas& canvas() { return *canvas_; }
  // GUI thread. The redraw may be called on the GUI thread at any time.
  void setRedraw(std::function<void(Canvas&)> redraw);
  bool hasRedraw() const { return static_cast<bool>(redraw_); }
  // Draws the picture at the view's size now and returns it (null without
  // a redraw).
  QImage drawAtOwnSize();
  // While false the context menu offers nothing (a command is running).
  void setSavingAllowed(std::function<bool()> allowed) { allowed_ = std::move(allowed); }
  // The folder "Save Picture As..." starts in, shared by the windows of one
  // workspace; a save remembers its folder there. Without one: the current
  // directory.
  void setPictureFolder(std::shared_ptr<QString> folder) { folder_ = std::move(folder); }

  // Writes the picture; the format follows the extension (.svg, .png,
  // anything else BMP). False when it could not be written.
  bool savePicture(const QString& path);
  // The file dialog of "Save Picture As...".
  void saveAs();

  // Where the picture is shown: the largest 4:3 rectangle centred in the view.
  QRect pictureRect() const;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void canvasChanged();  // on the drawing thread

  std::unique_ptr<QImageCanvas> canvas_;
  std::function<bool()> allowed_;
  std::shared_ptr<QString> folder_;
  QTimer repaintTimer_;
  std::atomic<bool> repaintRequested_{false};
  std::atomic<std::uint64_t> version_{0};  // counts changes of the canvas
  std::vector<QImage> levels_;             // the picture, then halved copies made on demand
  std::uint64_t shownVersion_ = ~std::uint64_t{0};
  std::function<void(Canvas&)> redraw_;
  QImage drawn_;  // the last drawing at the view's size
  QTimer redrawTimer_;
};

}  // namespace tavel::platform::qt
