// SPDX-License-Identifier: GPL-3.0-or-later
// The question which worksheet to read, asked when the file chosen in the
// GUI is a workbook with several sheets: a list of the sheets in workbook
// order, the first selected, and OK. Closing the box reads nothing.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/records.h"
#include "platform/dialog.h"
#include "platform/runtime.h"

namespace tavel::app {

inline constexpr int kSheetResource = 121;
inline constexpr int kSheetList = 1211;

platform::DialogResource sheetDialogResource();

// The sheet chosen: its name; nullopt when the user closed the box. Without
// the dialog resource the first sheet is taken.
std::optional<std::string> askSheet(platform::Runtime& runtime,
                                    const std::vector<std::string>& sheets);

// Runs read for the file name chosen in a dialog: for a workbook of several
// sheets (and no sheet asked for already) after asking which, with
// state.sheetAsked saying it for the length of read. Closing the question
// runs nothing. A workbook that cannot be opened is left to read's refusal.
void readChosenSheet(platform::Runtime& runtime, AppState& state, const std::string& name,
                     const std::function<void()>& read);

}  // namespace tavel::app
