#include "app/prepare_dialog.h"

#include <algorithm>
#include <random>
#include <set>

#include "app/field_format.h"
#include "app/trace.h"
#include "app_test_support.h"

namespace tavel::app::testing {
namespace {

using Names = std::vector<std::string>;

class PrepareTest : public AppTest {
 protected:
  // A file with these columns; "neg" columns hold a negative value (no log
  // variable), the others only positive ones.
  void load(const Names& columns, const std::set<std::string>& negative = {}) {
    std::string text;
    for (const std::string& c : columns) text += c + " ";
    text += "\n";
    for (int row = 0; row < 3; ++row) {
      for (const std::string& c : columns) text += negative.count(c) ? "-1 " : "2 ";
      text += "\n";
    }
    writeFile("data.dat", text);
    scan("data.dat", {});  // the automatic Prepare closes at once
  }
  void loadNegative(const Names& columns) {
    load(columns, std::set<std::string>(columns.begin(), columns.end()));
  }
  std::vector<int> fromltoreg(int n) const {
    return {state_.selection.fromltoreg.begin(), state_.selection.fromltoreg.begin() + n};
  }
  std::vector<int> flags(int n) const {
    return {state_.options.l.begin(), state_.options.l.begin() + n};
  }
  static Names numbered(int count) {
    Names out;
    for (int i = 1; i <= count; ++i) out.push_back((i < 10 ? "v0" : "v") + std::to_string(i));
    return out;
  }
};

TEST_F(PrepareTest, DependentByRadioRow) {
  loadNegative({"C", "A", "B"});
  prepare({selectVars({"A", "B", "C"}), pressIn(), clickDepRow(2), DialogAction::close()});
  EXPECT_EQ(state_.selection.p, 2);
  EXPECT_EQ(depName(), "B");
  EXPECT_EQ(indepNames(), (Names{"A", "C"}));
  EXPECT_EQ(fromltoreg(3), (std::vector<int>{1, 3, 2}));
  EXPECT_EQ(flags(4), (std::vector<int>{1, 1, 3, 1}));
  EXPECT_EQ(state_.options.l[30], 1);

  // Without a click the first row of the sorted list is the dependent.
  prepare({selectVars({"C", "B", "A"}), pressIn(), DialogAction::close()});
  EXPECT_EQ(depName(), "A");
  EXPECT_EQ(indepNames(), (Names{"B", "C"}));
  EXPECT_EQ(fromltoreg(3), (std::vector<int>{3, 1, 2}));
}

TEST_F(PrepareTest, TraceLines) {
  loadNegative({"A", "B"});
  runtime_->clearFocusedWindow();
  prepare({selectVars({"A", "B"}), pressIn(), clickDepRow(2), DialogAction::close()});
  const std::string a = padded("A", kNameLength), b = padded("B", kNameLength);
  const std::vector<std::string> screen = {
      listLine({"numCol1=", 2, "   numCol=", 2}),
      listLine({1, " ", a}),
      listLine({2, " ", b}),
      listLine({"num of indep p:", 1}),
      listLine({"indep var:"}),
      listLine({1, 1, " ", a}),
      listLine({"dep var:"}),
      listLine({2, 2, " ", b}),
      listLine({"Prepare done:"}),
  };
  EXPECT_EQ(runtime_->screen(), screen);
  EXPECT_EQ(screen[0], " numCol1=           2   numCol=           2");
  EXPECT_EQ(screen[5], " " + std::string(11, ' ') + "1" + std::string(11, ' ') + "1 " + a);
  // The log gets its own wording of the first line, then the same lines.
  const std::string log = logText();
  std::string expected = listLine({" numCol1=", 2, " numCol=", 2}) + "\n";
  for (std::size_t i = 1; i < screen.size(); ++i) expected += screen[i] + "\n";
  ASSERT_GE(log.size(), expected.size());
  EXPECT_EQ(log.substr(log.size() - expected.size()), expected);
}

TEST_F(PrepareTest, IncludeListHoldsThirtyRows) {
  loadNegative(numbered(40));
  Names first28(numbered(28));
  prepare({selectVars(first28), pressIn(), selectVars({"v29", "v33", "v31", "v30", "v32"}),
           pressIn(), selectVars({"v34"}), pressIn(), DialogAction::close()});
  // The first two of the five by position moved; a full list takes no more.
  EXPECT_EQ(state_.selection.p, 29);
  EXPECT_EQ(depName(), "v01");
  const Names thirty = numbered(30);
  const Names expected(thirty.begin() + 1, thirty.end());
  EXPECT_EQ(indepNames(), expected);
  EXPECT_EQ(fromltoreg(30)[0], 30);
  EXPECT_EQ(state_.options.l[29], kMonotone);
}

TEST_F(PrepareTest, MovingOutOfTheMiddleKeepsTheOthers) {
  loadNegative({"A", "B", "C", "D", "E"});
  prepare({selectVars({"A", "B", "C", "D", "E"}), pressIn(), selectIncluded({"B", "D"}), pressOut(),
           clickDepRow(3), DialogAction::close()});
  EXPECT_EQ(depName(), "E");
  EXPECT_EQ(indepNames(), (Names{"A", "C"}));
  // B and D are back in the variable list and can be included again.
  prepare({selectVars({"A", "B", "C", "D", "E"}), pressIn(), selectIncluded({"A", "E"}), pressOut(),
           selectVars({"E"}), pressIn(), DialogAction::close()});
  EXPECT_EQ(depName(), "B");
  EXPECT_EQ(indepNames(), (Names{"C", "D", "E"}));
}

TEST_F(PrepareTest, ArrowsWithNothingSelectedOrNothingLeft) {
  loadNegative({"A", "B", "C"});
  // Pressing with no selection moves nothing. Once every variable is
  // included "&>>" is disabled, so a further press does nothing either.
  prepare({pressIn(), pressOut(), selectVars({"A", "B", "C"}), pressIn(), pressIn(),
           selectIncluded({"C"}), pressOut(), DialogAction::close()});
  EXPECT_EQ(depName(), "A");
  EXPECT_EQ(indepNames(), (Names{"B"}));
}

TEST_F(PrepareTest, FewerThanTwoIncludedKeepsTheEarlierSelection) {
  loadNegative({"A", "B", "C"});
  prepare({selectVars({"A", "B", "C"}), pressIn(), clickDepRow(3), DialogAction::close()});
  ASSERT_EQ(depName(), "C");
  state_.options.l[0] = kLinear;
  runtime_->clearFocusedWindow();
  prepare({selectVars({"B"}), pressIn(), DialogAction::close()});
  EXPECT_EQ(state_.selection.p, 0);
  EXPECT_EQ(state_.selection.dep, 3);
  EXPECT_EQ(state_.selection.indep, (std::vector<int>{1, 2}));
  EXPECT_EQ(state_.options.l[0], kLinear);
  EXPECT_EQ(std::count(runtime_->screen().begin(), runtime_->screen().end(), " Prepare done:"), 0);
  prepare({DialogAction::close()});
  EXPECT_EQ(state_.selection.p, -1);
}

TEST_F(PrepareTest, LogVariableWithItsSourceColumn) {
  load({"A", "B"}, {"B"});
  ASSERT_EQ(names(), (Names{"A", "B", "_ln_A"}));
  // "_" sorts before letters: _ln_A is row 1.
  prepare({selectVars({"A", "_ln_A", "B"}), pressIn(), DialogAction::close()});
  EXPECT_EQ(state_.selection.dep, 3);
  EXPECT_EQ(indepNames(), (Names{"A", "B"}));
}

TEST_F(PrepareTest, DependentRowThatDisappearsGoesBackToRowOne) {
  loadNegative({"A", "B", "C"});
  prepare({selectVars({"A", "B", "C"}), pressIn(), clickDepRow(3), selectIncluded({"C"}),
           pressOut(), DialogAction::close()});
  EXPECT_EQ(depName(), "A");
  EXPECT_EQ(indepNames(), (Names{"B"}));
  // A row that still exists keeps its choice, whatever variable it now shows.
  prepare({selectVars({"A", "B", "C"}), pressIn(), clickDepRow(2), selectIncluded({"A"}),
           pressOut(), DialogAction::close()});
  EXPECT_EQ(depName(), "C");
  EXPECT_EQ(indepNames(), (Names{"B"}));
}

TEST_F(PrepareTest, RandomMovesKeepEveryVariableExactlyOnce) {
  const Names all = numbered(12);
  loadNegative(all);
  std::mt19937 rng(20240611);
  for (int round = 0; round < 60; ++round) {
    std::set<std::string> included;
    DialogScript script;
    for (int step = 0; step < 8; ++step) {
      const bool in = rng() % 2 == 0;
      Names chosen;
      for (const std::string& n : all)
        if ((included.count(n) != 0) != in && rng() % 3 == 0) chosen.push_back(n);
      script.push_back(in ? selectVars(chosen) : selectIncluded(chosen));
      script.push_back(in ? pressIn() : pressOut());
      for (const std::string& n : chosen) in ? (void)included.insert(n) : (void)included.erase(n);
      // A list that became empty disables its arrow: keep the model in step
      // by never pressing a disabled arrow with a selection in it.
      if (included.empty() || included.size() == all.size()) break;
    }
    script.push_back(DialogAction::close());
    prepare(script);
    if (included.size() < 2) continue;
    Names got = indepNames();
    got.push_back(depName());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, Names(included.begin(), included.end())) << "round " << round;
  }
}

TEST_F(PrepareTest, MissingResourceOnlyTraces) {
  loadNegative({"A", "B"});
  runtime_->clearFocusedWindow();
  runtime_->hideDialogResource(kPrepareResource);
  const std::string logBefore = logText();
  shell_->onPrepare(false);
  EXPECT_EQ(runtime_->screen(), (std::vector<std::string>{" error: resource not found"}));
  EXPECT_EQ(logText(), logBefore);
}

TEST_F(PrepareTest, NothingBeforeData) {
  prepare({selectVars({"A"}), pressIn(), DialogAction::close()});
  EXPECT_TRUE(runtime_->screen().empty());
  EXPECT_EQ(state_.selection.p, 0);
}

TEST(PrepareResource, RadioButtonsBesideTheIncludeRows) {
  const platform::DialogResource r = prepareDialogResource();
  EXPECT_EQ(r.id, 101);
  EXPECT_EQ(r.title, "Prepare");
  EXPECT_EQ(r.width, 293);
  EXPECT_EQ(r.height, 314);
  int radios = 0;
  for (const platform::ControlSpec& c : r.controls) {
    if (c.kind != platform::ControlKind::RadioButton) continue;
    EXPECT_EQ(c.id, 1052 + radios);
    EXPECT_EQ(c.x, 180);
    EXPECT_EQ(c.y, 52 + 8 * radios);
    EXPECT_EQ(c.group, r.controls.back().group);
    ++radios;
  }
  EXPECT_EQ(radios, 30);
  const auto list = std::find_if(r.controls.begin(), r.controls.end(),
                                 [](const platform::ControlSpec& c) { return c.id == 1017; });
  ASSERT_NE(list, r.controls.end());
  EXPECT_EQ(list->style, platform::kStyleSorted | platform::kStyleMultiSelect |
                             platform::kStyleNotify | platform::kStyleVerticalScroll);
}

}  // namespace
}  // namespace tavel::app::testing
