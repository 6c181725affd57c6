#include "app/options_dialog.h"

#include "app/field_format.h"
#include "app/prepare_dialog.h"
#include "app_test_support.h"
#include "platform/headless/scripted_dialog.h"

namespace tavel::app::testing {
namespace {

using platform::headless::ScriptedDialog;

class OptionsTest : public AppTest {
 protected:
  // Columns A, B, C (no log variables); A and C independent, B dependent.
  void loadAndPrepare() {
    writeFile("abc.dat", "A B C\n-1 -1 -1\n");
    scan("abc.dat",
         {selectVars({"A", "B", "C"}), pressIn(), clickDepRow(2), DialogAction::close()});
    ASSERT_EQ(state_.selection.p, 2);
    runtime_->clearFocusedWindow();
  }
  // Runs the dialog on a scripted dialog the test keeps, to look at it.
  std::unique_ptr<ScriptedDialog> show(DialogScript script) {
    auto dialog = std::make_unique<ScriptedDialog>(optionsDialogResource(), std::move(script));
    setUpOptionsDialog(*runtime_, *dialog, state_);
    dialog->runModal();
    return dialog;
  }
  // The checked flag radio button (1..5), 0 when none.
  static int shownFlag(ScriptedDialog& d) {
    for (int k = 0; k < 5; ++k)
      if (d.checked(kFirstFlagRadio + k)) return k + 1;
    return 0;
  }
  static bool flagsEnabled(ScriptedDialog& d) {
    bool all = true, any = false;
    for (int k = 0; k < 5; ++k) {
      all = all && d.enabled(kFirstFlagRadio + k);
      any = any || d.enabled(kFirstFlagRadio + k);
    }
    EXPECT_EQ(all, any);
    return all;
  }
};

TEST_F(OptionsTest, ShowsTheSettings) {
  loadAndPrepare();
  auto d = show({});
  EXPECT_EQ(d->getText(kNumTermBox), "   2");
  EXPECT_EQ(d->getText(kDelRsqBox), "1.0E-04");
  EXPECT_FALSE(d->checked(kEquilibrationBox));
  EXPECT_EQ(d->items(kOptionsVariableList), (std::vector<std::string>{"A", "B", "C"}));
  // Nothing selected: the first row's flag, radio buttons disabled.
  EXPECT_EQ(shownFlag(*d), kOrderable);
  EXPECT_FALSE(flagsEnabled(*d));
}

TEST_F(OptionsTest, FlagsAfterPrepare) {
  loadAndPrepare();
  for (const auto& [name, flag] : std::vector<std::pair<std::string, int>>{
           {"A", kOrderable}, {"B", kMonotone}, {"C", kOrderable}}) {
    auto d = show({DialogAction::select(kOptionsVariableList, {name})});
    EXPECT_EQ(shownFlag(*d), flag) << name;
    EXPECT_TRUE(flagsEnabled(*d));
  }
}

TEST_F(OptionsTest, FlagClickIsStoredAtOnceAndShownAgain) {
  loadAndPrepare();
  options({DialogAction::select(kOptionsVariableList, {"C"}),
           DialogAction::clickRadio(kFirstFlagRadio + kLinear - 1), DialogAction::close()});
  // C is row 3 of the list and engine position 2.
  EXPECT_EQ(state_.options.l[1], kLinear);
  EXPECT_EQ(runtime_->screen(),
            (std::vector<std::string>{listLine({"Selected, l(fromltoreg(sel)):", 3, 4}),
                                      " Options done:"}));
  EXPECT_EQ(runtime_->screen()[0], " Selected, l(fromltoreg(sel)):           3           4");
  // The flag trace is on the screen only; "Options done:" in the log too.
  const std::string log = logText();
  EXPECT_EQ(log.find("Selected"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 15), " Options done:\n");

  auto d = show({DialogAction::select(kOptionsVariableList, {"C"})});
  EXPECT_EQ(shownFlag(*d), kLinear);
}

TEST_F(OptionsTest, CriteriaAndSwitchesReadBack) {
  loadAndPrepare();
  // Unchanged boxes: DelRsq becomes the double its text shows.
  options({DialogAction::close()});
  EXPECT_EQ(state_.options.NumTerm, 2);
  EXPECT_EQ(state_.options.DelRsq, 0.0001);

  options({DialogAction::type(kNumTermBox, "4"), DialogAction::type(kDelRsqBox, "0.00123"),
           DialogAction::check(kEquilibrationBox, true),
           DialogAction::check(kScreenCapturesBox, true), DialogAction::close()});
  EXPECT_EQ(state_.options.NumTerm, 4);
  EXPECT_EQ(state_.options.DelRsq, 0.00123);
  EXPECT_TRUE(state_.options.Equilibration);
  EXPECT_TRUE(state_.options.ScreenCaptures);

  // Two significant digits survive a reopening.
  options({DialogAction::close()});
  EXPECT_EQ(state_.options.DelRsq, 0.0012);
  EXPECT_TRUE(state_.options.Equilibration);

  options({DialogAction::type(kDelRsqBox, "5e-3"), DialogAction::type(kNumTermBox, ""),
           DialogAction::check(kEquilibrationBox, false), DialogAction::close()});
  EXPECT_EQ(state_.options.DelRsq, 0.005);
  EXPECT_EQ(state_.options.NumTerm, 4);
  EXPECT_FALSE(state_.options.Equilibration);

  // Text that is no number, and a count the engine cannot use, keep the
  // settings.
  for (const char* numTerm : {"abc", "0", "-2", "2.5"}) {
    options({DialogAction::type(kDelRsqBox, "letters"), DialogAction::type(kNumTermBox, numTerm),
             DialogAction::close()});
    EXPECT_EQ(state_.options.DelRsq, 0.005) << numTerm;
    EXPECT_EQ(state_.options.NumTerm, 4) << numTerm;
  }
  // Only the first 20 characters of the DelRsq box are read.
  options({DialogAction::type(kDelRsqBox, std::string(20, ' ') + "7e-3"), DialogAction::close()});
  EXPECT_EQ(state_.options.DelRsq, 0.005);
}

TEST_F(OptionsTest, WithoutAUsableSelection) {
  // A file with rows, but the Prepare dialog closed with one variable.
  writeFile("ab.dat", "A B\n1 2\n");
  scan("ab.dat", {selectVars({"A"}), pressIn(), DialogAction::close()});
  ASSERT_EQ(state_.selection.p, 0);
  auto d = show({DialogAction::check(kScreenCapturesBox, true)});
  EXPECT_TRUE(d->items(kOptionsVariableList).empty());
  EXPECT_FALSE(flagsEnabled(*d));
  EXPECT_EQ(shownFlag(*d), 0);
  readBackOptions(*d, state_.options);
  EXPECT_TRUE(state_.options.ScreenCaptures);
}

TEST_F(OptionsTest, NothingBeforeDataOrWithoutRows) {
  options({DialogAction::type(kNumTermBox, "9"), DialogAction::close()});
  EXPECT_EQ(state_.options.NumTerm, 2);
  writeFile("header.dat", "A B\n");
  scan("header.dat");
  options({DialogAction::type(kNumTermBox, "9"), DialogAction::close()});
  EXPECT_EQ(state_.options.NumTerm, 2);
  EXPECT_EQ(std::count(runtime_->screenHistory().begin(), runtime_->screenHistory().end(),
                       " Options done:"),
            0);
}

TEST_F(OptionsTest, MissingResourceOnlyTraces) {
  loadAndPrepare();
  runtime_->hideDialogResource(kOptionsResource);
  state_.options.NumTerm = 6;
  shell_->onOptions(false);
  EXPECT_EQ(runtime_->screen(), (std::vector<std::string>{" error: resource not found"}));
  EXPECT_EQ(state_.options.NumTerm, 6);
}

}  // namespace
}  // namespace tavel::app::testing
