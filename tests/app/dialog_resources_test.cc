// SPDX-License-Identifier: GPL-3.0-or-later
// The Prepare and OPTIONS dialog resources, control by control, against the
// rows of their published layout, written out here by hand. The layout is a
// user-visible contract (people follow screenshots and talk about "the
// Include into ACE box"), and the Qt dialogs and the scripted dialogs are
// both built from these tables, so a shifted id or a moved box would go
// unnoticed by the tests that only address controls by id.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/options_dialog.h"
#include "app/prepare_dialog.h"
#include "platform/dialog.h"

namespace tavel::app {
namespace {

using platform::ControlKind;
using platform::ControlSpec;
using platform::DialogResource;

// A width the layout leaves open: not compared.
constexpr int kOpen = -1;
// Style bits as the layout names them for the list boxes.
constexpr int kSorted = platform::kStyleSorted;
constexpr int kMulti = platform::kStyleMultiSelect;
constexpr int kNotify = platform::kStyleNotify;
constexpr int kVScroll = platform::kStyleVerticalScroll;

struct Row {
  int id;  // -1: a label or frame the program never addresses
  ControlKind kind;
  std::string text;
  int x, y, width, height;
  int style;  // list boxes only; every other control has none
  // Radio buttons of one documented group share this tag (0: no group).
  int groupTag;
};

struct Layout {
  const char* name;
  int id;
  std::string title;
  std::string font;
  int pointSize;
  int width, height;
  std::vector<Row> rows;
};

Layout prepareLayout() {
  Layout l{"Prepare", 101, "Prepare", "MS Sans Serif", 8, 293, 314, {}};
  const int list = kSorted | kMulti | kNotify | kVScroll;
  l.rows = {
      {1, ControlKind::DefaultPushButton, "OK", 226, 15, 50, 14, 0, 0},
      {-1, ControlKind::GroupBox, "Column", 5, 13, 64, 147, 0, 0},
      {1016, ControlKind::ListBox, "", 9, 26, 55, 128, list, 0},
      {1018, ControlKind::PushButton, "&>>", 74, 70, 22, 18, 0, 0},
      {1019, ControlKind::PushButton, "&<<", 74, 94, 22, 18, 0, 0},
      {-1, ControlKind::GroupBox, "Include into ACE", 100, 13, 105, 288, 0, 0},
      {1017, ControlKind::ListBox, "", 111, 50, 60, 245, list, 0},
      {-1, ControlKind::StaticText, "   Select  dependent     variable", 162, 21, 36, 24, 0, 0},
  };
  // One radio button per include-list row, 8 units apart: only one row can
  // be the dependent variable, so they form one group.
  for (int k = 0; k < 30; ++k)
    l.rows.push_back({1052 + k, ControlKind::RadioButton, "Radio1", 180, 52 + 8 * k, 11, 6, 0, 1});
  return l;
}

Layout optionsLayout() {
  // 132 high as documented, and one row more for the additions below.
  Layout l{"OPTIONS", 107, "OPTIONS", "MS Sans Serif", 8, 192, 146, {}};
  l.rows = {
      {1, ControlKind::DefaultPushButton, "OK", 129, 7, 50, 14, 0, 0},
      {-1, ControlKind::GroupBox, "Variable Flag", 7, 1, 96, 120, 0, 0},
      {1016, ControlKind::ListBox, "", 11, 12, 79, 44, kSorted | kNotify | kVScroll, 0},
      // The layout gives the flag buttons' place and height, not their width.
      {1173, ControlKind::RadioButton, "Orderable", 27, 59, kOpen, 10, 0, 1},
      {1174, ControlKind::RadioButton, "Circular", 27, 71, kOpen, 10, 0, 1},
      {1175, ControlKind::RadioButton, "Monotone Tr", 27, 83, kOpen, 10, 0, 1},
      {1176, ControlKind::RadioButton, "Linear Tr", 27, 95, kOpen, 10, 0, 1},
      {1177, ControlKind::RadioButton, "Unorderable", 27, 107, kOpen, 10, 0, 1},
      {1180, ControlKind::CheckBox, "Equilibration", 112, 27, 64, 14, 0, 0},
      {1181, ControlKind::CheckBox, "Screen Captures", 112, 42, 64, 14, 0, 0},
      {-1, ControlKind::GroupBox, "Convergence Criteriom", 105, 62, 81, 59, 0, 0},
      {-1, ControlKind::StaticText, "NumTerm", 135, 73, 32, 8, 0, 0},
      {1178, ControlKind::EditBox, "", 123, 80, 54, 12, 0, 0},
      {-1, ControlKind::StaticText, "DelRsq", 137, 98, 24, 8, 0, 0},
      {1179, ControlKind::EditBox, "", 123, 105, 54, 13, 0, 0},
  };
  return l;
}

// The one addition to the published layouts: the cross-validation box of
// the OPTIONS dialog (id 1182) with its label. Its place is ours to choose;
// it must sit inside the dialog and clear of every published control.
struct Addition {
  int id;
  ControlKind kind;
  std::string text;
};
const std::vector<Addition> kOptionsAdditions = {{-1, ControlKind::StaticText, "CV folds"},
                                                 {1182, ControlKind::EditBox, ""},
                                                 {1185, ControlKind::CheckBox, "Tune by CV"},
                                                 {-1, ControlKind::StaticText, "Smoothness: bass"},
                                                 {1183, ControlKind::EditBox, ""},
                                                 {-1, ControlKind::StaticText, "fixed span"},
                                                 {1184, ControlKind::EditBox, ""}};

bool sameIdentity(const ControlSpec& c, int id, ControlKind kind, const std::string& text) {
  return c.id == id && c.kind == kind && c.text == text;
}

std::string describe(int id, const std::string& text) {
  return "control " + std::to_string(id) + " \"" + text + "\"";
}

bool overlaps(const ControlSpec& a, const Row& b) {
  const int bw = b.width == kOpen ? a.width : b.width;
  return a.x < b.x + bw && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

void expectMatchesLayout(const DialogResource& r, const Layout& l,
                         const std::vector<Addition>& additions) {
  SCOPED_TRACE(l.name);
  EXPECT_EQ(r.id, l.id);
  EXPECT_EQ(r.title, l.title);
  EXPECT_EQ(r.fontFace, l.font);
  EXPECT_EQ(r.pointSize, l.pointSize);
  EXPECT_EQ(r.width, l.width);
  EXPECT_EQ(r.height, l.height);

  std::vector<bool> used(r.controls.size(), false);
  std::vector<int> groupOfTag(3, 0);
  for (const Row& row : l.rows) {
    SCOPED_TRACE(describe(row.id, row.text));
    std::vector<std::size_t> found;
    for (std::size_t k = 0; k < r.controls.size(); ++k)
      if (sameIdentity(r.controls[k], row.id, row.kind, row.text)) found.push_back(k);
    if (found.size() != 1) {
      ADD_FAILURE() << (found.empty() ? "missing" : "doubled");
      continue;
    }
    const ControlSpec& c = r.controls[found[0]];
    used[found[0]] = true;
    EXPECT_EQ(c.x, row.x);
    EXPECT_EQ(c.y, row.y);
    if (row.width != kOpen) {
      EXPECT_EQ(c.width, row.width);
    }
    EXPECT_GT(c.width, 0);
    EXPECT_EQ(c.height, row.height);
    EXPECT_EQ(c.style, row.style);
    if (row.groupTag == 0) {
      EXPECT_EQ(c.group, 0);
    } else {
      EXPECT_NE(c.group, 0);
      if (groupOfTag[row.groupTag] == 0) groupOfTag[row.groupTag] = c.group;
      EXPECT_EQ(c.group, groupOfTag[row.groupTag]) << "not in the group of its neighbours";
    }
  }

  for (const Addition& a : additions) {
    SCOPED_TRACE("addition " + describe(a.id, a.text));
    const auto it = std::find_if(r.controls.begin(), r.controls.end(), [&](const ControlSpec& c) {
      return sameIdentity(c, a.id, a.kind, a.text);
    });
    if (it == r.controls.end()) {
      ADD_FAILURE() << "missing";
      continue;
    }
    const std::size_t k = static_cast<std::size_t>(it - r.controls.begin());
    EXPECT_FALSE(used[k]);
    used[k] = true;
    EXPECT_GE(it->x, 0);
    EXPECT_GE(it->y, 0);
    EXPECT_LE(it->x + it->width, r.width);
    EXPECT_LE(it->y + it->height, r.height);
    for (const Row& row : l.rows)
      EXPECT_FALSE(overlaps(*it, row)) << "covers " << describe(row.id, row.text);
  }

  for (std::size_t k = 0; k < r.controls.size(); ++k)
    EXPECT_TRUE(used[k]) << "undocumented " << describe(r.controls[k].id, r.controls[k].text);
}

TEST(DialogResourcesTest, BothDialogsHoldExactlyTheirPublishedControls) {
  const Layout prepare = prepareLayout();
  ASSERT_EQ(prepare.rows.size(), 38u);  // 8 rows and the 30 radio buttons
  expectMatchesLayout(prepareDialogResource(), prepare, {});
  const Layout options = optionsLayout();
  ASSERT_EQ(options.rows.size(), 15u);
  expectMatchesLayout(optionsDialogResource(), options, kOptionsAdditions);
}

}  // namespace
}  // namespace tavel::app
