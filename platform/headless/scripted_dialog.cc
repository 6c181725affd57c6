// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/headless/scripted_dialog.h"

#include <algorithm>
#include <cassert>

#include "platform/list_items.h"

namespace tavel::platform::headless {
namespace {
std::string trimRight(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return std::string(s.substr(0, n));
}
}  // namespace

DialogAction DialogAction::select(int id, std::vector<std::string> names) {
  DialogAction a;
  a.kind = Kind::SelectNames;
  a.id = id;
  a.names = std::move(names);
  return a;
}
DialogAction DialogAction::selectRows(int id, std::vector<int> rows) {
  DialogAction a;
  a.kind = Kind::SelectRows;
  a.id = id;
  a.rows = std::move(rows);
  return a;
}
DialogAction DialogAction::press(int id) {
  DialogAction a;
  a.kind = Kind::Press;
  a.id = id;
  return a;
}
DialogAction DialogAction::clickRadio(int id) {
  DialogAction a;
  a.kind = Kind::ClickRadio;
  a.id = id;
  return a;
}
DialogAction DialogAction::check(int id, bool value) {
  DialogAction a;
  a.kind = Kind::Check;
  a.id = id;
  a.value = value;
  return a;
}
DialogAction DialogAction::type(int id, std::string text) {
  DialogAction a;
  a.kind = Kind::Type;
  a.id = id;
  a.text = std::move(text);
  return a;
}
DialogAction DialogAction::run(std::function<void(ScriptedDialog&)> call) {
  DialogAction a;
  a.kind = Kind::Call;
  a.call = std::move(call);
  return a;
}
DialogAction DialogAction::close() { return DialogAction{}; }

ScriptedDialog::ScriptedDialog(const DialogResource& resource, DialogScript script)
    : script_(std::move(script)) {
  for (const ControlSpec& def : resource.controls) {
    Control c;
    c.def = def;
    if (def.kind != ControlKind::ListBox && def.kind != ControlKind::EditBox) c.text = def.text;
    controls_.push_back(std::move(c));
  }
}

ScriptedDialog::Control* ScriptedDialog::find(int id) {
  if (id < 0) return nullptr;
  for (Control& c : controls_)
    if (c.def.id == id) return &c;
  return nullptr;
}

int ScriptedDialog::getInt(int id, int index) {
  Control* c = find(id);
  if (c == nullptr) return 0;
  if (c->def.kind != ControlKind::ListBox) return 0;
  if (index == kIndexValue) return c->list.count();
  return c->list.selectedPosition(index);
}

void ScriptedDialog::setInt(int id, int value, int index) {
  Control* c = find(id);
  if (c == nullptr || c->def.kind != ControlKind::ListBox || index != kIndexValue) return;
  c->list.resize(value);
}

bool ScriptedDialog::getLogical(int id, int index) {
  Control* c = find(id);
  if (c == nullptr) return false;
  if (index == kIndexEnable) return c->enabled;
  switch (c->def.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
      return c->enabled;
    case ControlKind::RadioButton:
    case ControlKind::CheckBox:
      return c->checked;
    default:
      return false;
  }
}

void ScriptedDialog::setLogical(int id, bool value, int index) {
  Control* c = find(id);
  if (c == nullptr) return;
  if (index == kIndexEnable) {
    c->enabled = value;
    return;
  }
  switch (c->def.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
      c->enabled = value;
      break;
    case ControlKind::RadioButton:
      if (value && c->def.group != 0) {
        for (Control& other : controls_)
          if (other.def.kind == ControlKind::RadioButton && other.def.group == c->def.group)
            other.checked = false;
      }
      c->checked = value;
      break;
    case ControlKind::CheckBox:
      c->checked = value;
      break;
    default:
      break;
  }
}

std::string ScriptedDialog::getText(int id, int index) {
  Control* c = find(id);
  if (c == nullptr) return {};
  if (c->def.kind == ControlKind::ListBox) {
    return c->list.text(index);
  }
  return c->text;
}

void ScriptedDialog::setText(int id, std::string_view text, int index) {
  Control* c = find(id);
  if (c == nullptr) return;
  if (c->def.kind == ControlKind::ListBox) {
    c->list.setText(index, text);
    return;
  }
  c->text = std::string(text);
}

void ScriptedDialog::setCallback(int id, DialogCallback callback) {
  if (Control* c = find(id)) c->callback = std::move(callback);
}

void ScriptedDialog::refresh() {
  for (Control& c : controls_) c.list.refresh(c.def.style & kStyleSorted);
}

void ScriptedDialog::fire(Control& c, int reason) {
  if (c.callback) {
    DialogCallback cb = c.callback;  // the callback may replace itself
    cb(*this, c.def.id, reason);
  }
  refresh();
}

int ScriptedDialog::runModal() {
  refresh();
  closedBy_ = 0;
  for (const DialogAction& a : script_) {
    if (!play(a)) return closedBy_;
  }
  return 0;
}

bool ScriptedDialog::play(const DialogAction& a) {
  if (a.kind == DialogAction::Kind::Close) {
    closedBy_ = 0;
    return false;
  }
  if (a.kind == DialogAction::Kind::Call) {
    if (a.call) a.call(*this);
    return true;
  }
  Control* c = find(a.id);
  assert(c != nullptr && "the script names a control the dialog does not have");
  if (c == nullptr || !c->enabled) return true;  // a user cannot operate a disabled control
  switch (a.kind) {
    case DialogAction::Kind::SelectNames:
    case DialogAction::Kind::SelectRows: {
      std::fill(c->list.selected.begin(), c->list.selected.end(), false);
      std::vector<std::size_t> rows;
      if (a.kind == DialogAction::Kind::SelectRows) {
        for (int r : a.rows)
          if (r >= 1 && r <= c->list.count()) rows.push_back(static_cast<std::size_t>(r - 1));
      } else {
        for (const std::string& name : a.names)
          for (std::size_t i = 0; i < c->list.items.size(); ++i)
            if (trimRight(c->list.items[i]) == name) {
              rows.push_back(i);
              break;
            }
      }
      if (!(c->def.style & kStyleMultiSelect) && rows.size() > 1)
        rows.erase(rows.begin(), rows.end() - 1);
      for (std::size_t r : rows) c->list.selected[r] = true;
      if (c->def.style & kStyleNotify) fire(*c, kReasonSelectionChanged);
      return true;
    }
    case DialogAction::Kind::Press:
      if (c->def.id == 1 || c->def.kind == ControlKind::DefaultPushButton) {
        closedBy_ = c->def.id;
        return false;
      }
      fire(*c, kReasonClicked);
      return true;
    case DialogAction::Kind::ClickRadio:
      setLogical(c->def.id, true);
      fire(*c, kReasonClicked);
      return true;
    case DialogAction::Kind::Check:
      c->checked = a.value;
      fire(*c, kReasonClicked);
      return true;
    case DialogAction::Kind::Type:
      c->text = a.text;
      return true;
    default:
      return true;
  }
}

std::vector<std::string> ScriptedDialog::items(int id) {
  Control* c = find(id);
  return c ? c->list.items : std::vector<std::string>{};
}
bool ScriptedDialog::enabled(int id) {
  Control* c = find(id);
  return c && c->enabled;
}
bool ScriptedDialog::checked(int id) {
  Control* c = find(id);
  return c && c->checked;
}

}  // namespace tavel::platform::headless
