// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/headless/scripted_dialog.h"

#include <gtest/gtest.h>

#include "platform/list_order.h"

namespace tavel::platform::headless {
namespace {

DialogResource smallResource() {
  DialogResource r;
  r.id = 5;
  r.title = "Small";
  r.controls = {
      {1, ControlKind::DefaultPushButton, "OK", 0, 0, 10, 10, 0, 0},
      {10, ControlKind::ListBox, "", 0, 0, 10, 10, kStyleSorted | kStyleMultiSelect | kStyleNotify,
       0},
      {11, ControlKind::PushButton, "&>>", 0, 0, 10, 10, 0, 0},
      {20, ControlKind::RadioButton, "a", 0, 0, 10, 10, 0, 1},
      {21, ControlKind::RadioButton, "b", 0, 0, 10, 10, 0, 1},
      {30, ControlKind::CheckBox, "c", 0, 0, 10, 10, 0, 0},
      {40, ControlKind::EditBox, "", 0, 0, 10, 10, 0, 0},
  };
  return r;
}

TEST(ListOrder, CaseInsensitiveThenBytes) {
  EXPECT_TRUE(listItemLess("apple", "Banana"));
  EXPECT_TRUE(listItemLess("A", "a"));  // ties broken by bytes: 'A' < 'a'
  EXPECT_TRUE(listItemLess("A   ", "AB  "));
  EXPECT_TRUE(listItemLess("_ln_X", "a"));
  EXPECT_FALSE(listItemLess("b", "B"));
}

TEST(ScriptedDialog, ListsSortOnlyWhenTheChangeIsOver) {
  ScriptedDialog d(smallResource(),
                   {DialogAction::select(10, {"b", "c"}), DialogAction::press(11)});
  d.setInt(10, 3);
  d.setText(10, "c", 1);
  d.setText(10, "a", 2);
  d.setText(10, "b", 3);
  // Still in program order while the program is filling the list.
  EXPECT_EQ(d.getText(10, 1), "c");
  std::vector<int> seenSelected;
  d.setCallback(11, [&](Dialog& dlg, int, int) {
    for (int k = 1; dlg.getInt(10, k) != 0; ++k) seenSelected.push_back(dlg.getInt(10, k));
    // Overwrite the first selected row; the second stays selected at its position.
    dlg.setText(10, "z", dlg.getInt(10, 1));
    EXPECT_EQ(dlg.getInt(10, 2), 3);
  });
  EXPECT_EQ(d.runModal(), 0);
  EXPECT_EQ(seenSelected, (std::vector<int>{2, 3}));
  EXPECT_EQ(d.items(10), (std::vector<std::string>{"a", "c", "z"}));
  EXPECT_EQ(d.getInt(10, 1), 0);  // the change cleared the selection
}

TEST(ScriptedDialog, RadioGroupAndDisabledControlsIgnoreClicks) {
  ScriptedDialog d(smallResource(), {DialogAction::clickRadio(20), DialogAction::clickRadio(21),
                                     DialogAction::check(30, true), DialogAction::type(40, "5e-3"),
                                     DialogAction::press(1), DialogAction::clickRadio(20)});
  int clicks = 0;
  d.setCallback(21, [&](Dialog&, int id, int reason) {
    EXPECT_EQ(id, 21);
    EXPECT_EQ(reason, kReasonClicked);
    ++clicks;
  });
  EXPECT_EQ(d.runModal(), 1);
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(d.getLogical(20));
  EXPECT_TRUE(d.getLogical(21));
  EXPECT_TRUE(d.getLogical(30));
  EXPECT_EQ(d.getText(40), "5e-3");

  ScriptedDialog e(smallResource(), {DialogAction::clickRadio(20)});
  e.setLogical(20, false, kIndexEnable);
  e.runModal();
  EXPECT_FALSE(e.getLogical(20));
}

}  // namespace
}  // namespace tavel::platform::headless
