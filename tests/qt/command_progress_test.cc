// SPDX-License-Identifier: GPL-3.0-or-later
// What the status bar says while a command runs: the cross-validation's
// fold, from its progress lines, instead of the last file written.
#include "platform/qt/command_progress.h"

#include <gtest/gtest.h>

namespace tavel::platform::qt {
namespace {

TEST(CommandProgressTest, CrossValidationShowsTheFoldBeingFitted) {
  CommandProgress progress;
  progress.start();
  progress.fileOpened(81, "/tmp/Taveltr.xls", true);
  progress.lineWritten(81);
  EXPECT_EQ(progress.snapshot().stage, "Writing Taveltr.xls: 1 lines");

  progress.stageNamed("Cross-validation: fitting fold 1 of 5");
  EXPECT_EQ(progress.snapshot().stage, "Cross-validation: fitting fold 1 of 5");
  progress.screenLine(" Cross-validation fold 2 of 5: fitted on 80 rows, r**2 = 0.9912");
  CommandProgress::Snapshot now = progress.snapshot();
  EXPECT_EQ(now.stage, "Cross-validation: fitting fold 3 of 5");
  EXPECT_DOUBLE_EQ(now.fraction, 0.4);
  progress.screenLine(" Cross-validation fold 5 of 5: fitted on 80 rows, r**2 = 0.9900");
  EXPECT_EQ(progress.snapshot().stage, "Cross-validation: fold 5 of 5");
  // Other report lines leave the stage as it is.
  progress.screenLine(" FINAL SQUARED CORRELATION = 0.9950");
  EXPECT_EQ(progress.snapshot().stage, "Cross-validation: fold 5 of 5");
}

}  // namespace
}  // namespace tavel::platform::qt
