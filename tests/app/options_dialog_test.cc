// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/options_dialog.h"

#include "app/prepare_dialog.h"
#include "app_test_support.h"
#include "platform/headless/scripted_dialog.h"

namespace tavel::app::testing {
namespace {

using platform::headless::ScriptedDialog;

class OptionsTest : public AppTest {
 protected:
  // Columns A, B, C; A and C independent, B dependent.
  void loadAndPrepare() {
    writeFile("abc.dat", "A B C\n-1 -1 -1\n");
    scan("abc.dat",
         {selectVars({"A", "B", "C"}), pressIn(), clickDepRow(2), DialogAction::close()});
    ASSERT_EQ(state_.selection.p, 2);
    runtime_->clearFocusedWindow();
  }
  // Plays a script on a dialog the test keeps, to look at it afterwards.
  std::unique_ptr<ScriptedDialog> show(DialogScript script) {
    auto dialog = std::make_unique<ScriptedDialog>(optionsDialogResource(), std::move(script));
    setUpOptionsDialog(*runtime_, *dialog, state_);
    dialog->runModal();
    return dialog;
  }
  // The checked flag (1..5, 0 for none) and whether the buttons are enabled.
  static std::pair<int, bool> shownFlag(ScriptedDialog& d) {
    int flag = 0;
    for (int k = 0; k < 5; ++k)
      if (d.checked(kFirstFlagRadio + k)) flag = k + 1;
    return {flag, d.enabled(kFirstFlagRadio)};
  }
};

TEST_F(OptionsTest, ShowsTheSettingsAndEachVariablesFlag) {
  loadAndPrepare();
  auto d = show({});
  EXPECT_EQ(d->getText(kNumTermBox), "   2");
  EXPECT_EQ(d->getText(kDelRsqBox), "1.0E-04");
  EXPECT_EQ(d->items(kOptionsVariableList), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(shownFlag(*d), std::make_pair(1, false));  // no selection: row 1, disabled
  EXPECT_EQ(shownFlag(*show({DialogAction::select(kOptionsVariableList, {"B"})})),
            std::make_pair(3, true));
  EXPECT_EQ(shownFlag(*show({DialogAction::select(kOptionsVariableList, {"C"})})),
            std::make_pair(1, true));
}

TEST_F(OptionsTest, FlagClickIsStoredAtOnceAndShownAgain) {
  loadAndPrepare();
  options({DialogAction::select(kOptionsVariableList, {"C"}),
           DialogAction::clickRadio(flagRadio(model::VarFlag::Linear)), DialogAction::close()});
  EXPECT_EQ(state_.options.l[1], model::VarFlag::Linear);  // C: row 3, engine position 2
  EXPECT_EQ(runtime_->screen(),
            (std::vector<std::string>{" Selected, l(fromltoreg(sel)):           3           4",
                                      " Options done:"}));
  const std::string log = logText();
  EXPECT_EQ(log.find("Selected"), std::string::npos);  // screen only
  EXPECT_EQ(log.substr(log.size() - 15), " Options done:\n");
  EXPECT_EQ(shownFlag(*show({DialogAction::select(kOptionsVariableList, {"C"})})).first, 4);
}

TEST_F(OptionsTest, CriteriaAndSwitchesReadBack) {
  loadAndPrepare();
  options({DialogAction::close()});  // DelRsq becomes the double its text shows
  EXPECT_EQ(state_.options.NumTerm, 2);
  EXPECT_EQ(state_.options.DelRsq, 0.0001);

  options({DialogAction::type(kNumTermBox, "4"), DialogAction::type(kDelRsqBox, "0.00123"),
           DialogAction::check(kEquilibrationBox, true),
           DialogAction::check(kScreenCapturesBox, true), DialogAction::close()});
  EXPECT_EQ(state_.options.NumTerm, 4);
  EXPECT_EQ(state_.options.DelRsq, 0.00123);
  EXPECT_TRUE(state_.options.Equilibration && state_.options.ScreenCaptures);
  options({DialogAction::close()});
  EXPECT_EQ(state_.options.DelRsq, 0.0012);

  options({DialogAction::type(kDelRsqBox, "5e-3"), DialogAction::type(kNumTermBox, ""),
           DialogAction::check(kEquilibrationBox, false), DialogAction::close()});
  EXPECT_EQ(state_.options.DelRsq, 0.005);
  EXPECT_EQ(state_.options.NumTerm, 4);
  EXPECT_FALSE(state_.options.Equilibration);

  // No number, a count the engine cannot use, or a number past the 20
  // characters read: the settings stay.
  for (const char* numTerm : {"abc", "0", "-2", "2.5"}) {
    options({DialogAction::type(kDelRsqBox, "letters"), DialogAction::type(kNumTermBox, numTerm),
             DialogAction::close()});
    EXPECT_EQ(state_.options.NumTerm, 4) << numTerm;
  }
  options({DialogAction::type(kDelRsqBox, std::string(20, ' ') + "7e-3"), DialogAction::close()});
  EXPECT_EQ(state_.options.DelRsq, 0.005);
}

// A text that is not read keeps its setting, as documented, and the status
// line names the field, the text and the value kept.
TEST_F(OptionsTest, UnreadableTextsAreNamedWithTheValueKept) {
  loadAndPrepare();
  options({DialogAction::type(kNumTermBox, "abc"), DialogAction::type(kDelRsqBox, " letters "),
           DialogAction::type(kCvFoldsBox, "-1"), DialogAction::close()});
  EXPECT_EQ(state_.options.NumTerm, 2);
  EXPECT_EQ(runtime_->statusLines().back(),
            "Options done; NumTerm 'abc' is not a whole number of at least 1: 2 kept; DelRsq "
            "'letters' is not a number: 1.0E-04 kept; CV folds '-1' is not a whole number of 0 or "
            "more: 0 kept");
  options({DialogAction::type(kNumTermBox, "3"), DialogAction::close()});
  EXPECT_EQ(runtime_->statusLines().back(), "Options done");
}

TEST_F(OptionsTest, CvFoldsBoxAfterTheDocumentedControls) {
  loadAndPrepare();
  const platform::DialogResource r = optionsDialogResource();
  ASSERT_EQ(r.controls.back().id, kSpanBox);
  EXPECT_LE(r.controls.back().y + r.controls.back().height, r.height);  // inside the dialog
  EXPECT_EQ(show({})->getText(kCvFoldsBox), "   0");
  options({DialogAction::type(kCvFoldsBox, "5"), DialogAction::close()});
  EXPECT_EQ(state_.options.CvFolds, 5);
  for (const char* text : {"-1", "x", "", "2.5"}) {
    options({DialogAction::type(kCvFoldsBox, text), DialogAction::close()});
    EXPECT_EQ(state_.options.CvFolds, 5) << text;
  }
  options({DialogAction::type(kCvFoldsBox, "0"), DialogAction::close()});
  EXPECT_EQ(state_.options.CvFolds, 0);
  // A new data file starts without cross-validation again.
  options({DialogAction::type(kCvFoldsBox, "3"), DialogAction::close()});
  loadAndPrepare();
  EXPECT_EQ(state_.options.CvFolds, 0);
}

TEST_F(OptionsTest, SmoothnessBoxesTakeBassAndSpanInTheirRangesOnly) {
  loadAndPrepare();
  // The engine's own smoothness at first: bass 5, the adaptive span.
  auto shown = show({});
  EXPECT_EQ(shown->getText(kBassBox), "5");
  EXPECT_EQ(shown->getText(kSpanBox), "");
  EXPECT_FALSE(shown->getLogical(kTuneBox));
  options({DialogAction::type(kBassBox, "0"), DialogAction::type(kSpanBox, "0.3"),
           DialogAction::check(kTuneBox, true), DialogAction::close()});
  EXPECT_EQ(state_.options.Bass, 0.0);
  EXPECT_EQ(state_.options.Span, 0.3);
  EXPECT_TRUE(state_.options.Tune);
  EXPECT_EQ(show({})->getText(kSpanBox), "0.3");
  // Out of range or not a number: the setting keeps its value.
  for (const char* text : {"-0.5", "10.5", "x", "nan"}) {
    options({DialogAction::type(kBassBox, text), DialogAction::type(kSpanBox, text),
             DialogAction::close()});
    EXPECT_EQ(state_.options.Bass, 0.0) << text;
    EXPECT_EQ(state_.options.Span, 0.3) << text;
  }
  options({DialogAction::type(kBassBox, "10"), DialogAction::type(kSpanBox, "1"),
           DialogAction::close()});
  EXPECT_EQ(state_.options.Bass, 10.0);
  EXPECT_EQ(state_.options.Span, 1.0);
  // An empty span box is the adaptive span again.
  options({DialogAction::type(kSpanBox, ""), DialogAction::close()});
  EXPECT_EQ(state_.options.Span, 0.0);
  // A new data file starts from the engine's smoothness again.
  loadAndPrepare();
  EXPECT_EQ(state_.options.Bass, 5.0);
  EXPECT_EQ(state_.options.Span, 0.0);
  EXPECT_FALSE(state_.options.Tune);
}

TEST_F(OptionsTest, WithoutAUsableSelectionOrWithoutData) {
  options({DialogAction::type(kNumTermBox, "9"), DialogAction::close()});
  writeFile("header.dat", "A B\n");
  scan("header.dat");
  options({DialogAction::type(kNumTermBox, "9"), DialogAction::close()});
  EXPECT_EQ(state_.options.NumTerm, 2);  // no data: the command does nothing

  writeFile("ab.dat", "A B\n1 2\n");
  scan("ab.dat", {selectVars({"A"}), pressIn(), DialogAction::close()});
  auto d = show({DialogAction::check(kScreenCapturesBox, true)});
  EXPECT_TRUE(d->items(kOptionsVariableList).empty());
  EXPECT_EQ(shownFlag(*d), std::make_pair(0, false));
  readBackOptions(*d, state_.options);
  EXPECT_TRUE(state_.options.ScreenCaptures);

  runtime_->clearFocusedWindow();
  runtime_->hideDialogResource(kOptionsResource);
  shell_->onOptions(false);
  EXPECT_EQ(runtime_->screen(), (std::vector<std::string>{" error: resource not found"}));
}

}  // namespace
}  // namespace tavel::app::testing
