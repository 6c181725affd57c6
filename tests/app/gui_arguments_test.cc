// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/gui_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/prepare_dialog.h"
#include "app_test_support.h"

namespace tavel::app {
namespace {

using Kind = GuiRequest::Kind;
using Args = std::vector<std::string>;

TEST(GuiArgumentsTest, HelpAndVersionWinBeforeQtHasTakenItsOptions) {
  // Before Qt starts, its options and their values are not known: they must
  // neither hide --help nor be taken for errors.
  EXPECT_EQ(readGuiArguments({"-platform", "offscreen", "--version"}, false).kind, Kind::Version);
  EXPECT_EQ(readGuiArguments({"a.dat", "-h"}, false).kind, Kind::Help);
  EXPECT_EQ(readGuiArguments({"--bogus", "--help", "--version"}, false).kind, Kind::Help);
  const GuiRequest loose = readGuiArguments({"-style", "fusion", "a.dat"}, false);
  EXPECT_EQ(loose.kind, Kind::Window);
  EXPECT_EQ(loose.dataFile, "");  // only the strict reading names the file
  // After "--" they are names of files.
  EXPECT_EQ(readGuiArguments({"--", "--version"}, false).kind, Kind::Window);
}

TEST(GuiArgumentsTest, WhatIsLeftAfterQtIsOneFileOrAMistake) {
  EXPECT_EQ(readGuiArguments({}, true).kind, Kind::Window);
  EXPECT_EQ(readGuiArguments({}, true).dataFile, "");
  EXPECT_EQ(readGuiArguments({"/data/rates.csv"}, true).dataFile, "/data/rates.csv");
  const GuiRequest dashed = readGuiArguments({"--", "-x.dat"}, true);
  EXPECT_EQ(dashed.kind, Kind::Window);
  EXPECT_EQ(dashed.dataFile, "-x.dat");

  const struct {
    Args args;
    std::string problem;
  } wrong[] = {
      {{"--bogus", "a.dat"}, "unknown option '--bogus'"},
      {{"a.dat", "b.dat"}, "one data file at a time, not also 'b.dat'"},
      {{""}, "an empty file name"},
      {{"-"}, "the desktop program does not read standard input (tavel-batch - does)"},
  };
  for (const auto& w : wrong) {
    const GuiRequest r = readGuiArguments(w.args, true);
    EXPECT_EQ(r.kind, Kind::Usage) << w.problem;
    EXPECT_EQ(r.problem, w.problem);
    EXPECT_EQ(r.dataFile, "");
  }
  // A mistake does not hide a later --help.
  EXPECT_EQ(readGuiArguments({"--bogus", "--help"}, true).kind, Kind::Help);
}

TEST(GuiArgumentsTest, TextsNameTheProgramAndItsOptions) {
  const std::string version = guiVersionText();
  EXPECT_EQ(version.rfind("tavel ", 0), 0u);
  EXPECT_EQ(version.back(), '\n');
  EXPECT_EQ(version.find("beta"), std::string::npos);
  for (const char* option : {"\n  --help, -h ", "\n  --version "})
    EXPECT_NE(guiUsageText().find(option), std::string::npos) << option;
}

// The file of `tavel FILE` goes the way of a file chosen in the open-file
// dialog: scanned, then the Prepare dialog.
class OpenDataFileTest : public testing::AppTest {};

TEST_F(OpenDataFileTest, ReadsTheFileAndOpensPrepare) {
  writeFile("ab.dat", "A B\n1 2\n3 5\n");
  runtime_->queueDialogScript(kPrepareResource,
                              {testing::selectVars({"A", "B"}), testing::pressIn(),
                               testing::clickDepRow(2), platform::headless::DialogAction::close()});
  shell_->openDataFile("ab.dat");
  EXPECT_EQ(state_.data.nRows, 2);
  EXPECT_EQ(state_.data.dataFileName, "ab.dat");
  EXPECT_EQ(state_.selection.p, 1);  // the Prepare dialog ran its script
  EXPECT_EQ(depName(), "B");
  EXPECT_TRUE(runtime_->fileDialogTitles().empty());  // no dialog asked for the name
  EXPECT_TRUE(state_.problems.empty());
}

TEST_F(OpenDataFileTest, AMissingFileIsRefusedAndNotMade) {
  shell_->openDataFile("missing.dat");
  const std::string refusal = "error: cannot read missing.dat: no such file";
  EXPECT_FALSE(exists("missing.dat"));
  ASSERT_FALSE(runtime_->screen().empty());
  EXPECT_EQ(runtime_->screen().back(), " " + refusal);
  EXPECT_NE(logText().find(" " + refusal + "\n"), std::string::npos);
  ASSERT_EQ(state_.problems.size(), 1u);
  EXPECT_EQ(state_.problems[0], refusal);
  EXPECT_EQ(state_.data.nRows, 0);
}

}  // namespace
}  // namespace tavel::app
