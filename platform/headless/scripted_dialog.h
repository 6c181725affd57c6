// SPDX-License-Identifier: GPL-3.0-or-later
// A dialog without a display: it keeps the state of every control of its
// resource and, when run, plays a script of user actions, calling the same
// callbacks a real dialog would.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/dialog.h"
#include "platform/list_items.h"

namespace tavel::platform::headless {

class ScriptedDialog;

struct DialogAction {
  enum class Kind { SelectNames, SelectRows, Press, ClickRadio, Check, Type, Call, Close };
  Kind kind = Kind::Close;
  int id = 0;
  std::vector<std::string> names;             // SelectNames: item texts without trailing blanks
  std::vector<int> rows;                      // SelectRows: 1-based displayed positions
  bool value = false;                         // Check
  std::string text;                           // Type
  std::function<void(ScriptedDialog&)> call;  // Call: decides at play time (sees the lists)

  // Replaces the list's selection by the named items (trailing blanks ignored).
  static DialogAction select(int id, std::vector<std::string> names);
  static DialogAction selectRows(int id, std::vector<int> rows);
  static DialogAction press(int id);
  static DialogAction clickRadio(int id);
  static DialogAction check(int id, bool value);
  static DialogAction type(int id, std::string text);
  static DialogAction run(std::function<void(ScriptedDialog&)> call);
  static DialogAction close();
};

using DialogScript = std::vector<DialogAction>;

class ScriptedDialog : public Dialog {
 public:
  ScriptedDialog(const DialogResource& resource, DialogScript script);

  int getInt(int id, int index = kIndexValue) override;
  void setInt(int id, int value, int index = kIndexValue) override;
  bool getLogical(int id, int index = kIndexValue) override;
  void setLogical(int id, bool value, int index = kIndexValue) override;
  std::string getText(int id, int index = kIndexValue) override;
  void setText(int id, std::string_view text, int index = kIndexValue) override;
  void setCallback(int id, DialogCallback callback) override;
  int runModal() override;

  // Plays one user action now (as the script would); false when the dialog
  // was closed by it.
  bool play(const DialogAction& action);

  // What the user sees now (for tests): list items in displayed order.
  std::vector<std::string> items(int id);
  bool enabled(int id);
  bool checked(int id);

 private:
  struct Control {
    ControlSpec def;
    bool enabled = true;
    bool checked = false;
    std::string text;
    ListItems list;
    DialogCallback callback;
  };
  Control* find(int id);
  void refresh();  // re-sorts changed sorted lists, as a real list would
  void fire(Control& c, int reason);

  std::vector<Control> controls_;
  DialogScript script_;
  int closedBy_ = 0;
};

}  // namespace tavel::platform::headless
