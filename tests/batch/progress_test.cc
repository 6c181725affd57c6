// SPDX-License-Identifier: GPL-3.0-or-later
// The progress line: what it shows of the engine's lines, drawn over itself,
// and wiped without a trace; nothing at all without a sink.
#include "batch/progress.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tavel::batch::Progress;

TEST(Progress, ShowsTheStagePassAndFoldOverItselfAndWipesItself) {
  std::string terminal;
  {
    Progress progress([&terminal](std::string_view text) { terminal += text; });
    progress.stage("fitting");
    EXPECT_EQ(terminal, "\rtavel-batch: fitting");
    terminal.clear();
    progress.screenLine(" iteration 3  r**2 = 1 - e**2 =   0.9856863");
    progress.redraw();
    EXPECT_EQ(terminal, "\rtavel-batch: fitting: pass 3, r**2 = 0.9856863");
    terminal.clear();
    // Other lines change nothing, and the same line is not drawn again.
    progress.screenLine(" ACE DONE");
    progress.redraw();
    EXPECT_EQ(terminal, "");
    progress.screenLine(" iteration10  r**2 = 1 - e**2 =   0.9987297");
    progress.screenLine(" Cross-validation fold 2 of 4: fitted on 150 rows, r**2 =   0.9985653");
    progress.redraw();
    EXPECT_EQ(terminal, "\rtavel-batch: fitting: cross-validation fold 2 of 4, r**2 = 0.9985653");
    terminal.clear();
    // A shorter line blanks out the rest of the longer one before it.
    progress.stage("done");
    EXPECT_EQ(terminal, "\rtavel-batch: done" + std::string(51, ' '));
    terminal.clear();
  }
  EXPECT_EQ(terminal, "\r" + std::string(68, ' ') + "\r");

  Progress silent;
  silent.stage("fitting");
  silent.screenLine(" iteration 1  r**2 = 1 - e**2 =   0.5");
  silent.redraw();
  silent.clear();  // nothing to draw on, nothing drawn
}

}  // namespace
