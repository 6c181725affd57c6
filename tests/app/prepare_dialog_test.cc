// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/prepare_dialog.h"

#include <algorithm>
#include <random>
#include <set>

#include "app_test_support.h"
#include "io/field_format.h"
#include "io/trace.h"

namespace tavel::app::testing {
namespace {

using Names = std::vector<std::string>;
using Ints = std::vector<int>;

class PrepareTest : public AppTest {
 protected:
  // A file with these columns; those in `positive` get a log variable.
  void load(const Names& columns, const std::set<std::string>& positive = {}) {
    std::string text;
    for (const std::string& c : columns) text += c + " ";
    text += "\n";
    for (const std::string& c : columns) text += positive.count(c) ? "2 " : "-1 ";
    writeFile("data.dat", text + "\n");
    scan("data.dat", {});  // the automatic Prepare closes at once
  }
  Ints fromltoreg(int n) const {
    return {state_.selection.fromltoreg.begin(), state_.selection.fromltoreg.begin() + n};
  }
  static Names numbered(int count) {
    Names out;
    for (int i = 1; i <= count; ++i) out.push_back((i < 10 ? "v0" : "v") + std::to_string(i));
    return out;
  }
};

TEST_F(PrepareTest, DependentByRadioRow) {
  load({"C", "A", "B"});
  prepare({selectVars({"A", "B", "C"}), pressIn(), clickDepRow(2), DialogAction::close()});
  EXPECT_EQ(state_.selection.p, 2);
  EXPECT_EQ(depName(), "B");
  EXPECT_EQ(indepNames(), (Names{"A", "C"}));
  EXPECT_EQ(fromltoreg(3), (Ints{1, 3, 2}));
  const Ints codes = engineCodes(state_.options.l);
  EXPECT_EQ(Ints(codes.begin(), codes.begin() + 4), (Ints{1, 1, 3, 1}));
  EXPECT_EQ(codes[30], 1);

  // Without a click the first row of the sorted list is the dependent; a
  // log variable ("_" sorts before letters) goes with its source column.
  load({"B", "A"}, {"A"});
  prepare({selectVars({"B", "_ln_A", "A"}), pressIn(), DialogAction::close()});
  EXPECT_EQ(state_.selection.dep, 3);
  EXPECT_EQ(indepNames(), (Names{"A", "B"}));
  EXPECT_EQ(fromltoreg(3), (Ints{3, 1, 2}));
}

TEST_F(PrepareTest, TraceLines) {
  load({"A", "B"});
  runtime_->clearFocusedWindow();
  prepare({selectVars({"A", "B"}), pressIn(), clickDepRow(2), DialogAction::close()});
  const std::string a = padded("A", kNameLength), b = padded("B", kNameLength);
  const std::vector<std::string> screen = {
      " numCol1=           2   numCol=           2",
      listLine({1, " ", a}),
      listLine({2, " ", b}),
      " num of indep p:           1",
      " indep var:",
      "            1           1 " + a,
      " dep var:",
      listLine({2, 2, " ", b}),
      " Prepare done:",
  };
  EXPECT_EQ(runtime_->screen(), screen);
  // The log words its first line differently, then has the same lines.
  std::string expected = "  numCol1=           2 numCol=           2\n";
  for (std::size_t i = 1; i < screen.size(); ++i) expected += screen[i] + "\n";
  const std::string log = logText();
  ASSERT_GE(log.size(), expected.size());
  EXPECT_EQ(log.substr(log.size() - expected.size()), expected);
}

TEST_F(PrepareTest, IncludeListHoldsThirtyRows) {
  load(numbered(40));
  prepare({selectVars(numbered(28)), pressIn(), selectVars({"v29", "v33", "v31", "v30", "v32"}),
           pressIn(), selectVars({"v34"}), pressIn(), DialogAction::close()});
  // The first two of the five by position moved; a full list takes no more.
  EXPECT_EQ(state_.selection.p, 29);
  EXPECT_EQ(depName(), "v01");
  const Names thirty = numbered(30);
  EXPECT_EQ(indepNames(), Names(thirty.begin() + 1, thirty.end()));
  EXPECT_EQ(state_.options.l[29], model::VarFlag::Monotone);
}

TEST_F(PrepareTest, MovingOutOfTheMiddleAndArrowsWithNothingToMove) {
  load({"A", "B", "C", "D", "E"});
  prepare({selectVars({"A", "B", "C", "D", "E"}), pressIn(), selectIncluded({"B", "D"}), pressOut(),
           clickDepRow(3), DialogAction::close()});
  EXPECT_EQ(depName(), "E");
  EXPECT_EQ(indepNames(), (Names{"A", "C"}));
  // No selection moves nothing; with every variable included "&>>" is
  // disabled and a press does nothing.
  prepare({pressIn(), pressOut(), selectVars({"A", "B", "C", "D", "E"}), pressIn(), pressIn(),
           selectIncluded({"A", "E"}), pressOut(), selectVars({"E"}), pressIn(),
           DialogAction::close()});
  EXPECT_EQ(depName(), "B");
  EXPECT_EQ(indepNames(), (Names{"C", "D", "E"}));
}

TEST_F(PrepareTest, RandomMovesKeepEveryVariableExactlyOnce) {
  const Names all = numbered(12);
  load(all);
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

TEST_F(PrepareTest, FewerThanTwoIncludedKeepsTheEarlierSelection) {
  load({"A", "B", "C"});
  prepare({selectVars({"A", "B", "C"}), pressIn(), clickDepRow(3), DialogAction::close()});
  state_.options.l[0] = model::VarFlag::Linear;
  runtime_->clearFocusedWindow();
  prepare({selectVars({"B"}), pressIn(), DialogAction::close()});
  EXPECT_EQ(state_.selection.p, 0);
  EXPECT_EQ(state_.selection.dep, 3);
  EXPECT_EQ(state_.selection.indep, (Ints{1, 2}));
  EXPECT_EQ(state_.options.l[0], model::VarFlag::Linear);
  EXPECT_EQ(runtime_->screen().back(), listLine({3, " ", state_.data.colName[2]}));
  prepare({DialogAction::close()});
  EXPECT_EQ(state_.selection.p, -1);
}

TEST_F(PrepareTest, DependentRowThatDisappearsGoesBackToRowOne) {
  load({"A", "B", "C"});
  prepare({selectVars({"A", "B", "C"}), pressIn(), clickDepRow(3), selectIncluded({"C"}),
           pressOut(), DialogAction::close()});
  EXPECT_EQ(depName(), "A");
  EXPECT_EQ(indepNames(), (Names{"B"}));
  // A row that still exists keeps its choice, whatever variable it now shows.
  prepare({selectVars({"A", "B", "C"}), pressIn(), clickDepRow(2), selectIncluded({"A"}),
           pressOut(), DialogAction::close()});
  EXPECT_EQ(depName(), "C");
}

TEST_F(PrepareTest, MissingResourceOnlyTraces) {
  load({"A", "B"});
  runtime_->clearFocusedWindow();
  runtime_->hideDialogResource(kPrepareResource);
  const std::string logBefore = logText();
  shell_->onPrepare(false);
  EXPECT_EQ(runtime_->screen(), (std::vector<std::string>{" error: resource not found"}));
  EXPECT_EQ(logText(), logBefore);
}

}  // namespace
}  // namespace tavel::app::testing
