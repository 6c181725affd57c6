// SPDX-License-Identifier: GPL-3.0-or-later
// Dialogs built from resource tables: ids, geometry, lists, radio groups,
// check boxes, edit boxes, buttons and the way a modal run ends.
#include "platform/qt/qt_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <string>
#include <vector>

#include "tests/qt/qt_test_support.h"

namespace tavel::platform::qt {
namespace {

constexpr int kOk = 1;
constexpr int kMulti = 1016;   // sorted, multiple selection, notify
constexpr int kSingle = 1017;  // sorted, single selection, notify
constexpr int kPlain = 1020;   // unsorted, single selection, no notify
constexpr int kMove = 1018;
constexpr int kRowA = 1052, kRowB = 1053, kRowC = 1054;  // group 1
constexpr int kFlag1 = 1173, kFlag2 = 1174;              // group 2
constexpr int kLoner = 1190, kLoner2 = 1191;             // no group
constexpr int kCheck = 1180;
constexpr int kEdit = 1178;

DialogResource testResource() {
  DialogResource r;
  r.id = 50;
  r.title = "Test";
  r.width = 200;
  r.height = 150;
  auto add = [&r](int id, ControlKind kind, std::string text, int x, int y, int w, int h,
                  int style = 0, int group = 0) {
    r.controls.push_back(ControlSpec{id, kind, std::move(text), x, y, w, h, style, group});
  };
  add(kOk, ControlKind::DefaultPushButton, "OK", 140, 5, 50, 14);
  add(-1, ControlKind::GroupBox, "Frame", 2, 2, 130, 140);
  add(-1, ControlKind::StaticText, "   Select  dependent     variable", 140, 25, 36, 24);
  add(kMulti, ControlKind::ListBox, "", 5, 10, 50, 60,
      kStyleSorted | kStyleMultiSelect | kStyleNotify | kStyleVerticalScroll);
  add(kSingle, ControlKind::ListBox, "", 60, 10, 50, 60, kStyleSorted | kStyleNotify);
  add(kPlain, ControlKind::ListBox, "", 60, 80, 50, 30, 0);
  add(kMove, ControlKind::PushButton, "&>>", 140, 60, 22, 14);
  add(kRowA, ControlKind::RadioButton, "Radio1", 112, 12, 11, 6, 0, 1);
  add(kRowB, ControlKind::RadioButton, "Radio1", 112, 20, 11, 6, 0, 1);
  add(kRowC, ControlKind::RadioButton, "Radio1", 112, 28, 11, 6, 0, 1);
  add(kFlag1, ControlKind::RadioButton, "Orderable", 5, 75, 50, 10, 0, 2);
  add(kFlag2, ControlKind::RadioButton, "Circular", 5, 87, 50, 10, 0, 2);
  add(kLoner, ControlKind::RadioButton, "Alone", 5, 99, 50, 10);
  add(kLoner2, ControlKind::RadioButton, "Also alone", 5, 111, 50, 10);
  add(kCheck, ControlKind::CheckBox, "Equilibration", 140, 80, 60, 14);
  add(kEdit, ControlKind::EditBox, "", 140, 100, 54, 12);
  return r;
}

class DialogTest : public ::testing::Test {
 protected:
  QApplication& app_ = qt_test::app();
  QtDialog dialog{testResource(), nullptr};

  template <typename W>
  W* widget(int id) {
    return qobject_cast<W*>(dialog.control(id));
  }
  std::vector<std::string> shown(int id) {
    std::vector<std::string> items;
    auto* list = widget<QListWidget>(id);
    for (int i = 0; i < list->count(); ++i) items.push_back(list->item(i)->text().toStdString());
    return items;
  }
  void fill(int id, const std::vector<std::string>& items) {
    dialog.setInt(id, static_cast<int>(items.size()));
    for (std::size_t i = 0; i < items.size(); ++i)
      dialog.setText(id, items[i], static_cast<int>(i) + 1);
  }
  // Shows pending list changes the way a closed callback does.
  void settle() {
    dialog.setCallback(kMove, [](Dialog&, int, int) {});
    widget<QPushButton>(kMove)->click();
  }
  // Selects rows (1-based) as a user's clicks would.
  void userSelects(int id, const std::vector<int>& rows) {
    auto* list = widget<QListWidget>(id);
    for (int r : rows) list->item(r - 1)->setSelected(true);
  }
};

TEST_F(DialogTest, ControlsCarryTheirIdsAndSitWhereTheDialogUnitsSay) {
  QDialog* d = dialog.widget();
  EXPECT_EQ(d->windowTitle(), "Test");
  EXPECT_NE(d->findChild<QPushButton*>("1"), nullptr);
  EXPECT_NE(d->findChild<QListWidget*>("1016"), nullptr);
  EXPECT_NE(d->findChild<QListWidget*>("1017"), nullptr);
  EXPECT_NE(d->findChild<QPushButton*>("1018"), nullptr);
  EXPECT_NE(d->findChild<QRadioButton*>("1052"), nullptr);
  EXPECT_NE(d->findChild<QRadioButton*>("1174"), nullptr);
  EXPECT_NE(d->findChild<QCheckBox*>("1180"), nullptr);
  EXPECT_NE(d->findChild<QLineEdit*>("1178"), nullptr);
  EXPECT_EQ(d->findChildren<QGroupBox*>().size(), 1);
  EXPECT_TRUE(widget<QPushButton>(kOk)->isDefault());

  const DialogBaseUnits& u = dialog.baseUnits();
  EXPECT_GE(u.x, 4);
  EXPECT_LE(u.x, 9);
  EXPECT_GE(u.y, 10);
  EXPECT_LE(u.y, 17);
  EXPECT_EQ(u.toPixelsX(4), u.x);
  EXPECT_EQ(u.toPixelsY(8), u.y);
  EXPECT_EQ(d->size(), QSize(u.toPixelsX(200), u.toPixelsY(150)));
  EXPECT_EQ(dialog.control(kOk)->geometry(),
            QRect(u.toPixelsX(140), u.toPixelsY(5), u.toPixelsX(50), u.toPixelsY(14)));
  EXPECT_EQ(dialog.control(kMulti)->geometry(),
            QRect(u.toPixelsX(5), u.toPixelsY(10), u.toPixelsX(50), u.toPixelsY(60)));

  // Placeholder radio texts are not shown; the program still reads them.
  EXPECT_TRUE(widget<QRadioButton>(kRowA)->text().isEmpty());
  EXPECT_EQ(dialog.getText(kRowA), "Radio1");
  EXPECT_EQ(widget<QRadioButton>(kFlag1)->text(), "Orderable");
  // Each row radio stays centred on its row even though it grew to fit.
  const QRect row = dialog.control(kRowB)->geometry();
  EXPECT_NEAR(row.center().y(), u.toPixelsY(20) + u.toPixelsY(6) / 2, 2);
  // A caption's blanks are kept (it wraps at them).
  const auto captions = d->findChildren<QLabel*>();
  ASSERT_EQ(captions.size(), 1);
  EXPECT_EQ(captions[0]->text(), "   Select  dependent     variable");
}

TEST_F(DialogTest, SortedListsShowTheirItemsInListOrderOnceTheProgramIsDone) {
  fill(kMulti, {"b", "A", "_ln_c", "a"});
  fill(kPlain, {"b", "A"});
  // Until the program is done, positions are those it wrote.
  EXPECT_EQ(dialog.getText(kMulti, 1), "b");
  EXPECT_EQ(dialog.getText(kMulti, 3), "_ln_c");
  EXPECT_EQ(dialog.getText(kMulti, 5), "");  // past the end
  EXPECT_EQ(dialog.getText(kMulti, 0), "");
  settle();
  const std::vector<std::string> sorted = {"_ln_c", "A", "a", "b"};
  EXPECT_EQ(shown(kMulti), sorted);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(dialog.getText(kMulti, i + 1), sorted[i]);
  EXPECT_EQ(shown(kPlain), (std::vector<std::string>{"b", "A"}));  // unsorted list

  // Blank padding (fixed-length names) is kept in the value, not shown.
  dialog.setText(kMulti, "Z" + std::string(49, ' '), 1);
  settle();
  EXPECT_EQ(shown(kMulti).back(), "Z");
  EXPECT_EQ(dialog.getText(kMulti, 4), "Z" + std::string(49, ' '));

  // Shrinking drops items at the end; growing adds empty ones.
  dialog.setInt(kMulti, 2);
  settle();
  EXPECT_EQ(shown(kMulti), (std::vector<std::string>{"A", "a"}));
  dialog.setInt(kMulti, 3);
  EXPECT_EQ(dialog.getInt(kMulti), 3);
  EXPECT_EQ(dialog.getText(kMulti, 3), "");
}

TEST_F(DialogTest, ListSelectionIsReadByRankAndReportedWhenNotifying) {
  fill(kMulti, {"a", "b", "c", "d"});
  fill(kPlain, {"x", "y"});
  settle();
  std::vector<int> reasons;
  dialog.setCallback(kMulti, [&](Dialog& d, int id, int reason) {
    EXPECT_EQ(&d, &dialog);
    EXPECT_EQ(id, kMulti);
    reasons.push_back(reason);
  });
  EXPECT_EQ(dialog.getInt(kMulti, 1), 0);  // nothing selected
  userSelects(kMulti, {2, 4});
  EXPECT_EQ(dialog.getInt(kMulti), 4);
  EXPECT_EQ(dialog.getInt(kMulti, 1), 2);
  EXPECT_EQ(dialog.getInt(kMulti, 2), 4);
  EXPECT_EQ(dialog.getInt(kMulti, 3), 0);
  EXPECT_EQ(reasons, (std::vector<int>{kReasonSelectionChanged, kReasonSelectionChanged}));

  // A list without the notify style calls nobody but still tracks selection.
  bool called = false;
  dialog.setCallback(kPlain, [&](Dialog&, int, int) { called = true; });
  userSelects(kPlain, {2});
  EXPECT_FALSE(called);
  EXPECT_EQ(dialog.getInt(kPlain, 1), 2);
  // Single selection: the next choice replaces the first.
  widget<QListWidget>(kPlain)->setCurrentRow(0);
  EXPECT_EQ(dialog.getInt(kPlain, 1), 1);
  EXPECT_EQ(dialog.getInt(kPlain, 2), 0);
}

TEST_F(DialogTest, MovingSelectedItemsBetweenListsByTheirTexts) {
  // The way the program moves items: append the selected texts to the
  // target, overwrite each selected source item (highest rank first) with
  // the current last item, then shrink the source.
  fill(kMulti, {"C", "A", "E", "B", "D"});
  settle();  // A B C D E
  dialog.setCallback(kMove, [](Dialog& d, int, int) {
    const int nFrom = d.getInt(kMulti);
    const int nTo = d.getInt(kSingle);
    int nSel = 0;
    while (d.getInt(kMulti, nSel + 1) != 0) ++nSel;
    d.setInt(kSingle, nTo + nSel);
    for (int j = 1; j <= nSel; ++j)
      d.setText(kSingle, d.getText(kMulti, d.getInt(kMulti, j)), nTo + j);
    int last = nFrom;
    for (int j = nSel; j >= 1; --j)
      d.setText(kMulti, d.getText(kMulti, last--), d.getInt(kMulti, j));
    d.setInt(kMulti, nFrom - nSel);
  });
  userSelects(kMulti, {2, 4});  // B and D
  widget<QPushButton>(kMove)->click();
  EXPECT_EQ(shown(kMulti), (std::vector<std::string>{"A", "C", "E"}));
  EXPECT_EQ(shown(kSingle), (std::vector<std::string>{"B", "D"}));
  // A list the program rewrote comes back without selection.
  EXPECT_EQ(dialog.getInt(kMulti, 1), 0);
  EXPECT_TRUE(widget<QListWidget>(kMulti)->selectedItems().isEmpty());

  // Selecting nothing and moving changes nothing.
  widget<QPushButton>(kMove)->click();
  EXPECT_EQ(shown(kMulti), (std::vector<std::string>{"A", "C", "E"}));
  EXPECT_EQ(shown(kSingle), (std::vector<std::string>{"B", "D"}));
}

TEST_F(DialogTest, RadioGroupsAreExclusiveWithinTheirGroupOnly) {
  std::vector<int> clicked;
  for (int id : {kRowA, kRowB, kRowC, kFlag1, kFlag2})
    dialog.setCallback(id, [&](Dialog&, int id, int reason) {
      EXPECT_EQ(reason, kReasonClicked);
      clicked.push_back(id);
    });
  dialog.setLogical(kFlag2, true);
  widget<QRadioButton>(kRowB)->click();
  EXPECT_TRUE(dialog.getLogical(kRowB));
  EXPECT_TRUE(dialog.getLogical(kFlag2));  // another group keeps its choice
  widget<QRadioButton>(kRowC)->click();
  EXPECT_FALSE(dialog.getLogical(kRowB));
  EXPECT_TRUE(dialog.getLogical(kRowC));
  widget<QRadioButton>(kRowC)->click();  // clicking the checked one keeps it
  EXPECT_TRUE(dialog.getLogical(kRowC));
  EXPECT_EQ(clicked, (std::vector<int>{kRowB, kRowC, kRowC}));

  // The program checks and unchecks; checking unchecks the group.
  dialog.setLogical(kRowA, true);
  EXPECT_TRUE(dialog.getLogical(kRowA));
  EXPECT_FALSE(dialog.getLogical(kRowC));
  dialog.setLogical(kRowA, false);  // a group may end up with none checked
  EXPECT_FALSE(dialog.getLogical(kRowA) || dialog.getLogical(kRowB) || dialog.getLogical(kRowC));

  // A radio without a group leaves the others alone.
  dialog.setLogical(kFlag1, true);
  dialog.setLogical(kLoner2, true);
  dialog.setLogical(kLoner, true);
  widget<QRadioButton>(kLoner)->click();
  EXPECT_TRUE(dialog.getLogical(kFlag1));
  EXPECT_TRUE(dialog.getLogical(kLoner));
  EXPECT_TRUE(dialog.getLogical(kLoner2));

  // Disabled radios keep their check mark and take no clicks.
  dialog.setLogical(kRowB, true);
  dialog.setLogical(kRowB, false, kIndexEnable);
  EXPECT_FALSE(dialog.getLogical(kRowB, kIndexEnable));
  EXPECT_TRUE(dialog.getLogical(kRowB));
  clicked.clear();
  dialog.setLogical(kRowC, false, kIndexEnable);
  widget<QRadioButton>(kRowC)->click();
  EXPECT_TRUE(clicked.empty());
  EXPECT_FALSE(dialog.getLogical(kRowC));
}

// Arrow keys step through a group and check the button they reach, as in
// any radio group, passing over disabled buttons and going round the group.
TEST_F(DialogTest, ArrowKeysCheckTheNextRadioButtonOfTheGroup) {
  std::vector<int> clicked;
  for (int id : {kRowA, kRowB, kRowC})
    dialog.setCallback(id, [&](Dialog&, int id, int) { clicked.push_back(id); });
  dialog.setLogical(kRowA, true);
  dialog.setLogical(kFlag1, true);
  dialog.setLogical(kRowB, false, kIndexEnable);
  auto press = [&](int id, Qt::Key key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(widget<QRadioButton>(id), &event);
  };
  press(kRowA, Qt::Key_Down);  // B is disabled
  EXPECT_TRUE(dialog.getLogical(kRowC));
  EXPECT_FALSE(dialog.getLogical(kRowA));
  press(kRowC, Qt::Key_Right);  // round to the first
  EXPECT_TRUE(dialog.getLogical(kRowA));
  press(kRowA, Qt::Key_Up);  // and back round to the last
  EXPECT_TRUE(dialog.getLogical(kRowC));
  EXPECT_EQ(clicked, (std::vector<int>{kRowC, kRowA, kRowC}));
  EXPECT_TRUE(dialog.getLogical(kFlag1));  // the other group is left alone
}

TEST_F(DialogTest, CheckBoxesEditBoxesAndButtonStates) {
  int clicks = 0;
  dialog.setCallback(kCheck, [&](Dialog& d, int, int reason) {
    EXPECT_EQ(reason, kReasonClicked);
    EXPECT_TRUE(d.getLogical(kCheck));  // the new state is visible to the callback
    ++clicks;
  });
  EXPECT_FALSE(dialog.getLogical(kCheck));
  widget<QCheckBox>(kCheck)->click();
  EXPECT_TRUE(dialog.getLogical(kCheck));
  EXPECT_EQ(clicks, 1);
  dialog.setLogical(kCheck, false);
  EXPECT_FALSE(widget<QCheckBox>(kCheck)->isChecked());

  dialog.setText(kEdit, "1.0E-04");
  EXPECT_EQ(widget<QLineEdit>(kEdit)->text(), "1.0E-04");
  widget<QLineEdit>(kEdit)->setText("5e-3");  // the user types
  EXPECT_EQ(dialog.getText(kEdit), "5e-3");

  // A push button's logical is its enabled state.
  EXPECT_TRUE(dialog.getLogical(kMove));
  dialog.setLogical(kMove, false);
  EXPECT_FALSE(widget<QPushButton>(kMove)->isEnabled());
  EXPECT_FALSE(dialog.getLogical(kMove));
  dialog.setLogical(kMove, true, kIndexEnable);
  EXPECT_TRUE(dialog.getLogical(kMove));

  // Unknown ids are ignored.
  EXPECT_EQ(dialog.getInt(4711), 0);
  EXPECT_EQ(dialog.getText(4711), "");
  dialog.setLogical(4711, true);
}

TEST_F(DialogTest, ModalRunEndsByOkOrCloseBoxButNotByOtherButtons) {
  bool moved = false;
  dialog.setCallback(kMove, [&](Dialog&, int, int) { moved = true; });
  const auto pressMoveThenOk = qt_test::whenModalShown([this](QWidget* modal) {
    EXPECT_EQ(modal, dialog.widget());
    widget<QPushButton>(kMove)->click();
    EXPECT_TRUE(dialog.widget()->isVisible());
    widget<QPushButton>(kOk)->click();
  });
  EXPECT_EQ(dialog.runModal(), kOk);
  EXPECT_TRUE(moved);

  const auto closeBox = qt_test::whenModalShown([](QWidget* modal) { modal->close(); });
  EXPECT_EQ(dialog.runModal(), 0);

  // Items set up before the run are shown sorted when the dialog appears.
  fill(kSingle, {"y", "x"});
  std::vector<std::string> seen;
  const auto readListThenClose = qt_test::whenModalShown([&](QWidget* modal) {
    seen = shown(kSingle);
    modal->close();
  });
  dialog.runModal();
  EXPECT_EQ(seen, (std::vector<std::string>{"x", "y"}));
}

}  // namespace
}  // namespace tavel::platform::qt
