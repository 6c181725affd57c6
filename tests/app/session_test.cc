// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis session: what a choice stores (the include list's order, the
// reset flags), the trace lines it leaves, and its refusals, which change
// nothing.
#include "app/session.h"

#include <cmath>
#include <limits>

#include "tests/app/app_test_support.h"

namespace tavel::app::testing {
namespace {

using model::VarFlag;

class SessionTest : public AppTest {
 protected:
  SessionTest() : session_(*runtime_, state_) {
    // b, A, y: all positive, so each has a log variable (_ln_b, _ln_A, _ln_y).
    writeFile("d.dat", "b A y\n1 2 3\n2 3 5\n3 5 8\n4 4 9\n5 7 12\n6 6 13\n7 9 17\n");
  }
  Session session_;
};

TEST_F(SessionTest, ChoiceTakesTheSortedIncludeListsOrderAndResetsTheFlags) {
  ASSERT_TRUE(session_.load("d.dat").ok);
  EXPECT_EQ(state_.data.numCol, 6);
  state_.options.l[0] = VarFlag::Linear;  // an earlier choice's flag must not survive
  const std::size_t linesBefore = runtime_->screenHistory().size();
  ASSERT_TRUE(session_.choose("y", {"b", "A"}).ok);
  // The list sorts without regard to case: A, b, y; y is row 3.
  EXPECT_EQ(indepNames(), (std::vector<std::string>{"A", "b"}));
  EXPECT_EQ(depName(), "y");
  EXPECT_EQ(state_.selection.depChoice, 3);
  EXPECT_EQ(std::vector<int>(state_.selection.fromltoreg.begin(),
                             state_.selection.fromltoreg.begin() + 3),
            (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(std::vector<VarFlag>(state_.options.l.begin(), state_.options.l.begin() + 4),
            (std::vector<VarFlag>{VarFlag::Orderable, VarFlag::Orderable, VarFlag::Monotone,
                                  VarFlag::Orderable}));
  const std::vector<std::string> lines(runtime_->screenHistory().begin() + linesBefore,
                                       runtime_->screenHistory().end());
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.front().find("numCol1="), std::string::npos);
  EXPECT_EQ(lines.back(), " Prepare done:");

  // The flag of b (row 2) is traced as a click on its radio button.
  ASSERT_TRUE(session_.setFlag("b", VarFlag::Linear).ok);
  EXPECT_EQ(state_.options.l[1], VarFlag::Linear);
  EXPECT_EQ(runtime_->screenHistory().back(),
            " Selected, l(fromltoreg(sel)):           2           4");
}

TEST_F(SessionTest, RefusalsSayWhyAndChangeNothing) {
  EXPECT_EQ(session_.choose("y", {"A"}).lines,
            (std::vector<std::string>{"load a data file first: File / Input Dat File..."}));
  EXPECT_EQ(session_.setFlag("A", VarFlag::Monotone).lines,
            (std::vector<std::string>{"choose the variables before their flags"}));
  ASSERT_TRUE(session_.load("d.dat").ok);
  const struct {
    std::string dep;
    std::vector<std::string> indep;
    std::string line;
  } cases[] = {
      {"y", {"A", "NOPE"}, "unknown variable 'NOPE'"},
      {"y", {"A", "y"}, "the dependent variable 'y' was also named as an independent variable"},
      {"_ln_y",
       {"A", "y"},
       "the dependent variable '_ln_y' was also named as an independent variable, as 'y' on its "
       "other scale"},
      {"y", {"A", "b", "A"}, "'A' was named twice as an independent variable"},
      {"y", {}, "no independent variable was chosen for the dependent variable 'y'"},
  };
  for (const auto& c : cases) {
    const Outcome o = session_.choose(c.dep, c.indep);
    EXPECT_FALSE(o.ok) << c.line;
    EXPECT_EQ(o.lines, std::vector<std::string>{c.line});
    EXPECT_EQ(state_.selection.p, 0) << c.line;
  }
  std::vector<std::string> many(kMaxIncluded, "A");
  EXPECT_EQ(session_.choose("y", many).lines.front(),
            "31 variables were chosen, but at most 30 variables, the dependent and 29 "
            "independents, can be chosen");

  ASSERT_TRUE(session_.choose("y", {"A"}).ok);
  EXPECT_EQ(session_.setFlag("b", VarFlag::Circular).lines,
            (std::vector<std::string>{"'b' is not a chosen variable"}));

  // Every bad setting is named; none of the good ones beside them is stored.
  const RunOptions before = state_.options;
  const Outcome bad = session_.setOptions({.numTerm = 0,
                                           .delRsq = std::numeric_limits<double>::quiet_NaN(),
                                           .equilibration = true,
                                           .screenCaptures = std::nullopt,
                                           .cvFolds = 0,
                                           .bass = 10.5,
                                           .span = -0.1,
                                           .tune = std::nullopt,
                                           .extrapolate = std::nullopt});
  EXPECT_EQ(bad.lines, (std::vector<std::string>{"NumTerm 0 is not a whole number of at least 1",
                                                 "DelRsq nan is not a number",
                                                 "Bass 10.5 is not a number from 0 to 10",
                                                 "Span -0.1 is not a number from 0 to 1"}));
  EXPECT_FALSE(state_.options.Equilibration);
  EXPECT_EQ(state_.options.NumTerm, before.NumTerm);
  // 3 folds of 7 rows leave 4 to fit on: too few for the smoothers.
  const Outcome folds = session_.setOptions({.numTerm = std::nullopt,
                                             .delRsq = std::nullopt,
                                             .equilibration = std::nullopt,
                                             .screenCaptures = std::nullopt,
                                             .cvFolds = 3,
                                             .bass = std::nullopt,
                                             .span = std::nullopt,
                                             .tune = std::nullopt,
                                             .extrapolate = std::nullopt});
  ASSERT_EQ(folds.lines.size(), 1u);
  EXPECT_EQ(folds.lines[0].rfind("CV folds 3: ", 0), 0u) << folds.lines[0];
  EXPECT_EQ(state_.options.CvFolds, 0);

  EXPECT_EQ(session_.run().lines, (std::vector<std::string>{"there is no Run command"}));
  EXPECT_FALSE(session_.predict("d.dat").ok);
  EXPECT_FALSE(session_.load("missing.dat").ok);
}

}  // namespace
}  // namespace tavel::app::testing
