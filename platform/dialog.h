// SPDX-License-Identifier: GPL-3.0-or-later
// Modal dialogs addressed by control id, built from dialog resource tables
// that the application owns. Realised with Qt widgets and, without a display,
// by a dialog that plays a script of user actions.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tavel::platform {

enum class ControlKind {
  PushButton,
  DefaultPushButton,
  GroupBox,
  StaticText,
  ListBox,
  RadioButton,
  CheckBox,
  EditBox
};

// Style bits of a control.
inline constexpr int kStyleSorted = 1;          // list box keeps its items sorted
inline constexpr int kStyleMultiSelect = 2;     // list box with multiple selection
inline constexpr int kStyleNotify = 4;          // list box reports selection changes
inline constexpr int kStyleVerticalScroll = 8;  // list box with a vertical scroll bar

struct ControlSpec {
  int id = -1;  // -1 for controls the program never addresses (labels, frames)
  ControlKind kind = ControlKind::StaticText;
  std::string text;
  int x = 0, y = 0, width = 0, height = 0;  // dialog units
  int style = 0;
  int group = 0;  // radio buttons with the same non-zero group form one group
};

struct DialogResource {
  int id = 0;
  std::string title;
  std::string fontFace = "MS Sans Serif";
  int pointSize = 8;
  int width = 0, height = 0;  // dialog units
  std::vector<ControlSpec> controls;
};

// Index values of the get/set operations.
inline constexpr int kIndexValue = 0;    // the control's own value
inline constexpr int kIndexEnable = -1;  // the enabled state of any control

// Reasons passed to a callback.
inline constexpr int kReasonClicked = 1;
inline constexpr int kReasonSelectionChanged = 2;

class Dialog;
using DialogCallback = std::function<void(Dialog& dialog, int controlId, int reason)>;

// List boxes: the integer at index 0 is the item count (setting it adds empty
// items or drops items at the end); the integer at index k >= 1 is the
// position (1-based, displayed order) of the k-th selected item, 0 when there
// is none. The text at index i >= 1 is item i in displayed order; setting it
// replaces that item and the list re-sorts. Push buttons: the logical is the
// enabled state. Radio buttons and check boxes: the logical is the check
// state (checking a radio button unchecks the rest of its group); index
// kIndexEnable addresses the enabled state. Edit boxes: the text is the
// content.
//
// List refresh: while the program is changing a list (inside one callback, or
// before runModal), positions are the positions the list had when the change
// began plus the items added at its end, and selection flags stay with their
// positions, so a routine can read selected positions while it overwrites
// items. When the callback returns (and when runModal starts) every changed
// sorted list is re-sorted (platform::listItemLess) and its selection cleared;
// only then does the user see the new order.
class Dialog {
 public:
  virtual ~Dialog() = default;
  virtual int getInt(int id, int index = kIndexValue) = 0;
  virtual void setInt(int id, int value, int index = kIndexValue) = 0;
  virtual bool getLogical(int id, int index = kIndexValue) = 0;
  virtual void setLogical(int id, bool value, int index = kIndexValue) = 0;
  virtual std::string getText(int id, int index = kIndexValue) = 0;
  virtual void setText(int id, std::string_view text, int index = kIndexValue) = 0;
  virtual void setCallback(int id, DialogCallback callback) = 0;
  // Runs until the user closes the dialog (OK or the close box); returns the
  // id of the control that closed it, or 0 for the close box.
  virtual int runModal() = 0;
};

}  // namespace tavel::platform
