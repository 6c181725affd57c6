// SPDX-License-Identifier: GPL-3.0-or-later
// Input Dat File on a workbook of several sheets asks which one to read;
// closing the question reads nothing.
#include "app/sheet_dialog.h"

#include <xlsxwriter.h>

#include "app/prepare_dialog.h"
#include "tests/app/app_test_support.h"

namespace tavel::app::testing {
namespace {

class SheetQuestion : public AppTest {
 protected:
  void writeBook() {
    lxw_workbook* wb = workbook_new(path("two.xlsx").c_str());
    lxw_worksheet* first = workbook_add_worksheet(wb, "first");
    lxw_worksheet* second = workbook_add_worksheet(wb, "second");
    worksheet_write_string(first, 0, 0, "A", nullptr);
    worksheet_write_string(first, 0, 1, "B", nullptr);
    worksheet_write_string(second, 0, 0, "U", nullptr);
    worksheet_write_string(second, 0, 1, "V", nullptr);
    worksheet_write_string(second, 0, 2, "W", nullptr);
    for (int i = 1; i <= 6; ++i) {
      const auto r = static_cast<lxw_row_t>(i);
      worksheet_write_number(first, r, 0, i, nullptr);
      worksheet_write_number(first, r, 1, -i, nullptr);
      for (int c = 0; c < 3; ++c)
        worksheet_write_number(second, r, static_cast<lxw_col_t>(c), i + c, nullptr);
    }
    ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
  }
};

TEST_F(SheetQuestion, TheChosenSheetIsReadAndClosingReadsNothing) {
  writeBook();
  runtime_->queueDialogScript(kSheetResource, {DialogAction::select(kSheetList, {"second"}),
                                               DialogAction::press(kOkButton)});
  scan("two.xlsx");
  EXPECT_EQ(names(), (std::vector<std::string>{"U", "V", "W", "_ln_U", "_ln_V", "_ln_W"}));
  EXPECT_EQ(state_.data.nRows, 6);
  EXPECT_EQ(state_.data.sheetName, "second");
  EXPECT_NE(logText().find(" read sheet 'second' (2 of 2 sheets)"), std::string::npos);
  // The choice holds for this file only.
  EXPECT_TRUE(state_.sheetAsked.empty());

  runtime_->queueDialogScript(kSheetResource, {DialogAction::close()});
  scan("two.xlsx");
  EXPECT_EQ(state_.data.sheetName, "second");
  EXPECT_EQ(state_.data.numCol1, 3);

  // OK without a choice: the first sheet.
  runtime_->queueDialogScript(kSheetResource, {DialogAction::press(kOkButton)});
  scan("two.xlsx");
  EXPECT_EQ(names(), (std::vector<std::string>{"A", "B", "_ln_A"}));
}

}  // namespace
}  // namespace tavel::app::testing
