// SPDX-License-Identifier: GPL-3.0-or-later
// The Prepare dialog: which variables take part in the analysis and which of
// them is the dependent one. On closing it fills VarSelection and resets the
// flags of RunOptions (independents Orderable, the dependent Monotone Tr).
#pragma once

#include "app/records.h"
#include "platform/dialog.h"
#include "platform/runtime.h"

namespace tavel::app {

inline constexpr int kPrepareResource = 101;
inline constexpr int kPrepareVariableList = 1016;  // variables not included
inline constexpr int kPrepareIncludeList = 1017;   // "Include into ACE"
inline constexpr int kPrepareMoveIn = 1018;        // "&>>"
inline constexpr int kPrepareMoveOut = 1019;       // "&<<"
inline constexpr int kFirstDepRadio = 1052;        // radio button of include row 1
inline constexpr int kOkButton = 1;

platform::DialogResource prepareDialogResource();

// The dialog's first trace lines: the table's size and every variable.
void tracePrepareVariables(platform::Runtime& runtime, const DataTable& data);

// Runs the dialog (nothing but a trace line when its resource is missing).
void prepareDialog(platform::Runtime& runtime, AppState& state);

// Moves the selected items of list `from` to the end of list `to` (the
// include list takes at most kMaxIncluded rows: the first selected items by
// position fill it, the rest stay), then updates the radio buttons.
void moveSelected(platform::Dialog& dialog, int from, int to, VarSelection& selection);

// Enables the radio buttons of the include list's rows and disables the
// others. When the chosen row no longer exists, the choice goes back to
// row 1 and every check mark is cleared, so the dependent variable is always
// one of the included ones.
void updateDepRadios(platform::Dialog& dialog, VarSelection& selection);

}  // namespace tavel::app
