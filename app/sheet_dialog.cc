// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/sheet_dialog.h"

#include <memory>

#include "app/prepare_dialog.h"
#include "io/workbook.h"

namespace tavel::app {

platform::DialogResource sheetDialogResource() {
  platform::DialogResource r;
  r.id = kSheetResource;
  r.title = "Sheet";
  r.width = 160;
  r.height = 120;
  r.controls = {
      {-1, platform::ControlKind::StaticText, "Read the sheet:", 7, 6, 100, 9, 0, 0},
      {kSheetList, platform::ControlKind::ListBox, "", 7, 18, 90, 95,
       platform::kStyleVerticalScroll, 0},
      {kOkButton, platform::ControlKind::DefaultPushButton, "OK", 103, 18, 50, 14, 0, 0},
  };
  return r;
}

std::optional<std::string> askSheet(platform::Runtime& runtime,
                                    const std::vector<std::string>& sheets) {
  if (sheets.empty()) return std::string();
  std::unique_ptr<platform::Dialog> dialog = runtime.initDialog(kSheetResource);
  if (!dialog) return sheets.front();
  dialog->setInt(kSheetList, static_cast<int>(sheets.size()));
  for (std::size_t i = 0; i < sheets.size(); ++i)
    dialog->setText(kSheetList, sheets[i], static_cast<int>(i) + 1);
  if (dialog->runModal() != kOkButton) return std::nullopt;
  // Nothing selected: the first sheet, the one a file's reader takes.
  const int row = dialog->getInt(kSheetList, 1);
  if (row < 1 || row > static_cast<int>(sheets.size())) return sheets.front();
  return sheets[static_cast<std::size_t>(row - 1)];
}

void readChosenSheet(platform::Runtime& runtime, AppState& state, const std::string& name,
                     const std::function<void()>& read) {
  std::vector<std::string> sheets;
  std::string why;
  if (!isWorkbookFileName(name) || !state.sheetAsked.empty() ||
      !workbookSheetNames(runtime.resolvePath(name), sheets, why) || sheets.size() < 2) {
    read();
    return;
  }
  const std::optional<std::string> sheet = askSheet(runtime, sheets);
  if (!sheet) return;
  state.sheetAsked = *sheet;
  read();
  state.sheetAsked.clear();
}

}  // namespace tavel::app
