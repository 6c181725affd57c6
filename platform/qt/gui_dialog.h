// SPDX-License-Identifier: GPL-3.0-or-later
// A dialog as a command on the worker thread sees it: every call is carried
// to the GUI thread, where the widgets live and the modal loop runs. The
// dialog's callbacks run on the GUI thread while the command waits in
// runModal, so program code never runs on two threads at once.
#pragma once

#include <QObject>
#include <memory>
#include <string>
#include <string_view>

#include "platform/dialog.h"
#include "platform/qt/gui_thread.h"
#include "platform/qt/qt_dialog.h"

namespace tavel::platform::qt {

class GuiDialog : public Dialog {
 public:
  // gui: an object of the GUI thread that outlives the dialog.
  GuiDialog(QObject* gui, std::unique_ptr<QtDialog> dialog)
      : gui_(gui), dialog_(std::move(dialog)) {}
  ~GuiDialog() override {
    onThreadOf(gui_, [this] { dialog_.reset(); });
  }
  GuiDialog(const GuiDialog&) = delete;
  GuiDialog& operator=(const GuiDialog&) = delete;

  int getInt(int id, int index) override {
    return onThreadOf(gui_, [&] { return dialog_->getInt(id, index); });
  }
  void setInt(int id, int value, int index) override {
    onThreadOf(gui_, [&] { dialog_->setInt(id, value, index); });
  }
  bool getLogical(int id, int index) override {
    return onThreadOf(gui_, [&] { return dialog_->getLogical(id, index); });
  }
  void setLogical(int id, bool value, int index) override {
    onThreadOf(gui_, [&] { dialog_->setLogical(id, value, index); });
  }
  std::string getText(int id, int index) override {
    return onThreadOf(gui_, [&] { return dialog_->getText(id, index); });
  }
  void setText(int id, std::string_view text, int index) override {
    onThreadOf(gui_, [&] { dialog_->setText(id, text, index); });
  }
  void setCallback(int id, DialogCallback callback) override {
    onThreadOf(gui_, [&] { dialog_->setCallback(id, std::move(callback)); });
  }
  int runModal() override {
    return onThreadOf(gui_, [&] { return dialog_->runModal(); });
  }

  QtDialog& dialog() { return *dialog_; }

 private:
  QObject* gui_;
  std::unique_ptr<QtDialog> dialog_;
};

}  // namespace tavel::platform::qt
