// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/prepare_dialog.h"

#include <memory>
#include <string>
#include <vector>

#include "app/session.h"
#include "io/field_format.h"
#include "io/trace.h"

namespace tavel::app {
namespace {

using platform::ControlKind;
using platform::ControlSpec;
using platform::Dialog;

constexpr int kListStyle = platform::kStyleSorted | platform::kStyleMultiSelect |
                           platform::kStyleNotify | platform::kStyleVerticalScroll;
constexpr int kDepRadioGroup = 1;

int radioId(int row) { return kFirstDepRadio + row - 1; }

void onArrowButton(Dialog& dialog, int id, VarSelection& selection) {
  if (id == kPrepareMoveIn)
    moveSelected(dialog, kPrepareVariableList, kPrepareIncludeList, selection);
  else
    moveSelected(dialog, kPrepareIncludeList, kPrepareVariableList, selection);
  dialog.setLogical(kPrepareMoveIn, dialog.getInt(kPrepareVariableList) >= 1);
  dialog.setLogical(kPrepareMoveOut, dialog.getInt(kPrepareIncludeList) >= 1);
}

}  // namespace

platform::DialogResource prepareDialogResource() {
  platform::DialogResource r;
  r.id = kPrepareResource;
  r.title = "Prepare";
  r.width = 293;
  r.height = 314;
  r.controls = {
      {kOkButton, ControlKind::DefaultPushButton, "OK", 226, 15, 50, 14, 0, 0},
      {-1, ControlKind::GroupBox, "Column", 5, 13, 64, 147, 0, 0},
      {kPrepareVariableList, ControlKind::ListBox, "", 9, 26, 55, 128, kListStyle, 0},
      {kPrepareMoveIn, ControlKind::PushButton, "&>>", 74, 70, 22, 18, 0, 0},
      {kPrepareMoveOut, ControlKind::PushButton, "&<<", 74, 94, 22, 18, 0, 0},
      {-1, ControlKind::GroupBox, "Include into ACE", 100, 13, 105, 288, 0, 0},
      {kPrepareIncludeList, ControlKind::ListBox, "", 111, 50, 60, 245, kListStyle, 0},
      {-1, ControlKind::StaticText, "   Select  dependent     variable", 162, 21, 36, 24, 0, 0},
  };
  // One radio button per include-list row, 8 units apart like the rows.
  for (int k = 0; k < kMaxIncluded; ++k)
    r.controls.push_back({kFirstDepRadio + k, ControlKind::RadioButton, "Radio1", 180, 52 + 8 * k,
                          11, 6, 0, kDepRadioGroup});
  return r;
}

void updateDepRadios(Dialog& dialog, VarSelection& selection) {
  const int n = dialog.getInt(kPrepareIncludeList);
  if (selection.depChoice > n) {
    selection.depChoice = 1;
    for (int row = 1; row <= kMaxIncluded; ++row) dialog.setLogical(radioId(row), false);
  }
  for (int row = 1; row <= kMaxIncluded; ++row)
    dialog.setLogical(radioId(row), row <= n, platform::kIndexEnable);
}

void moveSelected(Dialog& dialog, int from, int to, VarSelection& selection) {
  const int nFrom = dialog.getInt(from);
  const int nTo = dialog.getInt(to);
  int nSel = 0;
  while (dialog.getInt(from, nSel + 1) != 0) ++nSel;
  int nMove = nSel;
  if (to == kPrepareIncludeList && nTo + nSel > kMaxIncluded) nMove = kMaxIncluded - nTo;

  dialog.setInt(to, nTo + nMove);
  for (int j = 1; j <= nMove; ++j)
    dialog.setText(to, dialog.getText(from, dialog.getInt(from, j)), nTo + j);

  // Fill each moved position, highest first, with the current last item:
  // the lower selected positions stay valid while this runs.
  int last = nFrom;
  for (int j = nMove; j >= 1; --j) {
    dialog.setText(from, dialog.getText(from, last), dialog.getInt(from, j));
    --last;
  }
  dialog.setInt(from, nFrom - nMove);
  updateDepRadios(dialog, selection);
}

void tracePrepareVariables(platform::Runtime& runtime, const DataTable& data) {
  traceBoth(runtime, listLine({"numCol1=", data.numCol1, "   numCol=", data.numCol}),
            listLine({" numCol1=", data.numCol1, " numCol=", data.numCol}));
  for (int v = 1; v <= data.numCol; ++v)
    traceBoth(runtime, listLine({v, " ", data.colName[v - 1]}));
}

void prepareDialog(platform::Runtime& runtime, AppState& state) {
  const DataTable& data = state.data;
  VarSelection& sel = state.selection;
  std::unique_ptr<Dialog> dialog = runtime.initDialog(kPrepareResource);
  if (!dialog) {
    traceScreen(runtime, listLine({"error: resource not found"}));
    return;
  }

  dialog->setInt(kPrepareVariableList, data.numCol);
  for (int v = 1; v <= data.numCol; ++v)
    dialog->setText(kPrepareVariableList, trimName(data.colName[v - 1]), v);
  dialog->setInt(kPrepareIncludeList, 0);
  auto arrows = [&sel](Dialog& d, int id, int) { onArrowButton(d, id, sel); };
  dialog->setCallback(kPrepareMoveIn, arrows);
  dialog->setCallback(kPrepareMoveOut, arrows);

  tracePrepareVariables(runtime, data);

  sel.depChoice = 1;
  sel.p = 0;
  updateDepRadios(*dialog, sel);
  for (int row = 1; row <= kMaxIncluded; ++row)
    dialog->setCallback(
        radioId(row), [&sel](Dialog&, int id, int) { sel.depChoice = id - (kFirstDepRadio - 1); });

  dialog->runModal();

  std::vector<std::string> rows;
  for (int i = 1; i <= dialog->getInt(kPrepareIncludeList); ++i)
    rows.push_back(dialog->getText(kPrepareIncludeList, i));
  dialog.reset();
  // Fewer than two rows leave no analysis chosen; the shell says so.
  Session(runtime, state).chooseIncluded(rows, sel.depChoice);
}

}  // namespace tavel::app
