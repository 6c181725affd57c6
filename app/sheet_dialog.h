// The question which worksheet to read, asked when the file chosen in the
// GUI is a workbook with several sheets: a list of the sheets in workbook
// order, the first selected, and OK. Closing the box reads nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

}  // namespace tavel::app
