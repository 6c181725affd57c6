// SPDX-License-Identifier: GPL-3.0-or-later
// A modal Qt dialog built from a dialog resource table. Positions and sizes
// in dialog units are converted from the dialog's font the way desktop
// dialogs do it (x: average character width / 4, y: character height / 8).
// Every addressed control carries its id as its object name ("1016"), so
// tests and tools can find it.
//
// List boxes keep their items in a model of their own: changes made by the
// program are shown, and sorted lists re-sorted (platform::listItemLess),
// once the program is done with them (after a callback returns and when the
// dialog is shown), which also clears their selection. Until then positions
// are the positions the program wrote, so a callback that rewrites a list
// item by item sees its own order.
#pragma once

#include <QDialog>
#include <QFont>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialog.h"

class QAbstractButton;
class QWidget;

namespace tavel::platform::qt {

// Dialog units to pixels for a font: {average character width, height}.
struct DialogBaseUnits {
  int x = 6;
  int y = 13;
  int toPixelsX(int units) const { return (units * x + 2) / 4; }
  int toPixelsY(int units) const { return (units * y + 4) / 8; }
};
DialogBaseUnits baseUnitsOf(const QFont& font);

// The font a dialog resource asks for, resolved to an installed face.
QFont dialogFont(const DialogResource& resource);

class QtDialog : public Dialog {
 public:
  // beforeShow runs right before the dialog is shown (e.g. to bring the
  // output window up to date).
  QtDialog(const DialogResource& resource, QWidget* parent, std::function<void()> beforeShow = {});
  ~QtDialog() override;

  int getInt(int id, int index = kIndexValue) override;
  void setInt(int id, int value, int index = kIndexValue) override;
  bool getLogical(int id, int index = kIndexValue) override;
  void setLogical(int id, bool value, int index = kIndexValue) override;
  std::string getText(int id, int index = kIndexValue) override;
  void setText(int id, std::string_view text, int index = kIndexValue) override;
  void setCallback(int id, DialogCallback callback) override;
  int runModal() override;

  QDialog* widget() const { return dialog_.get(); }
  // The widget of a control, or null.
  QWidget* control(int id) const;
  const DialogBaseUnits& baseUnits() const { return units_; }

 private:
  struct Control;
  Control* find(int id);
  void build(const DialogResource& resource);
  void fire(Control& control, int reason);
  void refresh();  // shows pending list changes
  void showList(Control& control);
  void takeSelection(Control& control);  // the user changed a selection
  void checkRadio(Control& control);     // checks it, unchecks its group
  QAbstractButton* radioNeighbour(const Control& from, bool forward);

  std::unique_ptr<QDialog> dialog_;
  std::vector<std::unique_ptr<Control>> controls_;
  DialogBaseUnits units_;
  std::function<void()> beforeShow_;
  int closedBy_ = 0;
  bool showing_ = false;  // widgets being updated by the program
};

}  // namespace tavel::platform::qt
