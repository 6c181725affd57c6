// SPDX-License-Identifier: GPL-3.0-or-later
// Predictions near the ends of the response's transformation: a constructed
// data set whose transformation is flat at its top end, a new row beyond it
// (held at the observed range, or extended when asked), the in-sample report
// of predictions far outside the range, and a log dependent whose extended
// prediction overflows exp and still completes its Run.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/model_commands.h"
#include "model/model_file.h"
#include "tests/run/run_session_support.h"

namespace tavel::run {
namespace {

using testing::fileLines;
using testing::Session;
using testing::sheetColumns;

// A small generator of its own, so the rows are the same everywhere.
class Uniform {
 public:
  explicit Uniform(std::uint64_t seed) : s_(seed) {}
  double next() {
    s_ = s_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(s_ >> 11) / 9007199254740992.0;  // 2^53
  }

 private:
  std::uint64_t s_;
};

std::string fixed3(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
  return std::string(buf, r.ptr);
}

double number(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  double v = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), v);
  return v;
}

// Y = A + B + noise on the square without its corner A, B > 0.75, and three
// rows of ordinary A and B with Y far above (3 to 8): the top of Y is
// unrelated to the predictors, so its monotone transformation is nearly
// flat there, while a row near the missing corner scores above all of it.
// withExp adds Z = exp(Y), so that _ln_Z is Y again.
struct Flat {
  std::string text;
  std::vector<double> y;  // as written
};

Flat flatTopData(bool withExp) {
  Uniform u(5);
  Flat d;
  d.text = withExp ? "A B Y Z\n" : "A B Y\n";
  auto row = [&](double a, double b, double y) {
    const std::string ys = fixed3(y);
    d.y.push_back(number(ys));
    d.text += fixed3(a) + " " + fixed3(b) + " " + ys;
    if (withExp) {
      char buf[40];
      const auto r = std::to_chars(buf, buf + sizeof buf, std::exp(number(ys)),
                                   std::chars_format::scientific, 16);
      d.text += " " + std::string(buf, r.ptr);
    }
    d.text += "\n";
  };
  for (int i = 0; i < 40; ++i) {
    const double a = u.next();
    const double b = u.next();
    if (a > 0.75 && b > 0.75) continue;
    row(a, b, a + b + 0.2 * (u.next() - 0.5));
  }
  for (int k = 0; k < 3; ++k) {
    const double a = 0.5 + 0.2 * u.next();
    const double b = 0.5 + 0.2 * u.next();
    row(a, b, 3.0 + 2.5 * k + u.next());
  }
  return d;
}

class PredictionRangeTest : public ::testing::Test {
 protected:
  void fit(const std::string& dep = "Y") {
    data = flatTopData(dep != "Y");
    s.writeFile("flat.dat", data.text);
    s.input("flat.dat", {"A", "B", dep}, dep);
    s.run();
    top = *std::max_element(data.y.begin(), data.y.end());
  }
  Session s;
  Flat data;
  double top = 0.0;
};

// The new rows: both predictors inside their fitted ranges, the first near
// the missing corner, the second in the middle.
constexpr const char* kNewRows = "A B\n0.74 0.74\n0.3 0.3\n";

TEST_F(PredictionRangeTest, NewRowBeyondTheFlatEndIsHeldAtTheLargestResponse) {
  fit();
  ASSERT_TRUE(s.state.model.has_value()) << s.state.problems.front();
  s.writeFile("new.dat", kNewRows);
  ASSERT_TRUE(app::predictDataFile(s.runtime, s.state, *s.state.model, "new.dat"));
  auto held = sheetColumns(fileLines(s.path("Tavelpr.xls")), 0);
  EXPECT_EQ(held["Status"], (std::vector<std::string>{"response held at the fitted range", "ok"}));
  EXPECT_NEAR(number(held["Y_Pred"][0]), top, 1e-5 * top);
  // The middle row: about 0.6 (A + B), nowhere near an end.
  EXPECT_NEAR(number(held["Y_Pred"][1]), 0.6, 0.3);
  EXPECT_NE(s.runtime.screen().end()[-2].find(": 0 out of range, 1 response held at the fitted "
                                              "range, 0 not predicted"),
            std::string::npos)
      << s.runtime.screen().end()[-2];

  // Extended along the nearly flat end interval, the same row lands at many
  // times the largest Y ever seen: what the hold rule is for.
  s.state.model->extrapolate = model::Extrapolation::Linear;
  ASSERT_TRUE(app::predictDataFile(s.runtime, s.state, *s.state.model, "new.dat"));
  auto extended = sheetColumns(fileLines(s.path("Tavelpr.xls")), 0);
  EXPECT_EQ(extended["Status"][0], "ok");
  EXPECT_GT(number(extended["Y_Pred"][0]), 10.0 * top);
  EXPECT_EQ(extended["Y_Pred"][1], held["Y_Pred"][1]);
}

TEST_F(PredictionRangeTest, TheRuleTravelsWithTheModelFile) {
  fit();
  ASSERT_TRUE(s.state.model.has_value());
  s.state.model->extrapolate = model::Extrapolation::Linear;
  const std::string linear = model::modelToJson(*s.state.model);
  ASSERT_NE(linear.find("\"extrapolate\": \"linear\""), std::string::npos);
  model::Model back;
  std::string message;
  ASSERT_TRUE(model::modelFromJson(linear, back, message)) << message;
  EXPECT_EQ(back.extrapolate, model::Extrapolation::Linear);
  // A file from before the choice existed has no rule: it holds.
  std::string older = linear;
  older.replace(older.find(",\n  \"extrapolate\": \"linear\""),
                std::string(",\n  \"extrapolate\": \"linear\"").size(), "");
  ASSERT_EQ(older.find("extrapolate"), std::string::npos) << older.substr(0, 300);
  ASSERT_TRUE(model::modelFromJson(older, back, message)) << message;
  EXPECT_EQ(back.extrapolate, model::Extrapolation::Hold);
  std::string unknown = linear;
  unknown.replace(unknown.find("\"linear\""), 8, "\"cubic\"");
  EXPECT_FALSE(model::modelFromJson(unknown, back, message));
  EXPECT_NE(message.find("neither \"hold\" nor \"linear\""), std::string::npos) << message;
}

// Cross-validation holds a held-out score beyond its fold's fitted range as
// the model does, and says how many; extended instead, the same folds give
// a far worse response-scale score.
TEST_F(PredictionRangeTest, CrossValidationHoldsAsTheModelDoes) {
  int runs = 1;
  auto responseRsq = [this, &runs](model::Extrapolation rule) {
    s.state.options.CvFolds = 5;
    s.state.options.extrapolate = rule;
    s.run();
    const std::vector<std::string> log = s.runLog(++runs);
    double rsq = 0.0;
    int heldLines = 0;
    for (const std::string& l : log) {
      if (l.starts_with(" CV on the response scale: R^2 = 1 - SSE/SST = "))
        rsq = number(std::string_view(l).substr(l.find("SSE/SST = ") + 10));
      heldLines += l.starts_with(" Cross-validation held ") &&
                   l.ends_with(" held-out predictions at their fold's observed response range");
    }
    EXPECT_EQ(heldLines, rule == model::Extrapolation::Hold ? 1 : 0);
    return rsq;
  };
  fit();
  const double held = responseRsq(model::Extrapolation::Hold);
  const double extended = responseRsq(model::Extrapolation::Linear);
  EXPECT_LT(extended, held - 0.5) << held << " " << extended;
}

// The in-sample prediction keeps its documented rule; the report counts the
// predictions beyond the observed range by more than a tenth of it and
// names the farthest, as Taveltr.xls shows them.
TEST_F(PredictionRangeTest, InSampleReportCountsPredictionsFarOutsideTheRange) {
  fit();
  auto tr = sheetColumns(fileLines(s.path("Taveltr.xls")), 1);
  const std::vector<std::string>& predicted = tr["Y_Calc_Inv_Tr"];
  ASSERT_EQ(predicted.size(), data.y.size());
  const double lo = *std::min_element(data.y.begin(), data.y.end());
  const double margin = 0.1 * (top - lo);
  int count = 0;
  std::size_t farthest = 0;
  double distance = 0.0;
  for (std::size_t i = 0; i < predicted.size(); ++i) {
    const double p = number(predicted[i]);
    const double beyond = p > top ? p - top : lo - p;
    if (beyond <= margin) continue;
    ++count;
    if (beyond > distance) {
      distance = beyond;
      farthest = i;
    }
  }
  ASSERT_GT(count, 1);
  char value[16];
  const auto end = std::to_chars(value, value + sizeof value, number(predicted[farthest]),
                                 std::chars_format::general, 4);
  const std::string expected =
      " " + std::to_string(count) + " predictions of Y lie outside its observed range " +
      fixed3(lo) + " .. " + fixed3(top) + " by more than a tenth of it (the farthest " +
      std::string(value, end.ptr) + ", row " + std::to_string(farthest + 1) +
      "): the inverse transformation was extended past its ends";
  const std::vector<std::string> log = s.runLog();
  const auto stats = std::find_if(log.begin(), log.end(),
                                  [](const std::string& l) { return l.starts_with(" Avedev="); });
  ASSERT_NE(stats, log.end());
  EXPECT_EQ(stats[1], expected);
  const std::vector<std::string>& screen = s.runtime.screen();
  EXPECT_NE(std::find(screen.begin(), screen.end(), expected), screen.end());
}

// ln Z is Y: the extended prediction of the far rows overflows exp. The Run
// holds those rows at the observed range of ln Z and goes on to its plots,
// sheets and model.
TEST_F(PredictionRangeTest, LogDependentWhoseExtensionOverflowsExpCompletes) {
  fit("_ln_Z");
  EXPECT_TRUE(s.state.problems.empty()) << s.state.problems.front();
  ASSERT_TRUE(s.state.model.has_value());
  const std::vector<std::string> log = s.runLog();
  const auto line = std::find_if(log.begin(), log.end(), [](const std::string& l) {
    return l.find(" predictions of _ln_Z lie outside") != std::string::npos;
  });
  ASSERT_NE(line, log.end());
  EXPECT_TRUE(line->ends_with("could not be represented were held at the nearer end") ||
              line->ends_with("could not be represented was held at the nearer end"))
      << *line;
  const auto exp = std::find_if(log.begin(), log.end(),
                                [](const std::string& l) { return l.starts_with(" Exp_Avedev="); });
  ASSERT_NE(exp, log.end());
  EXPECT_EQ(exp->find("Infinity"), std::string::npos) << *exp;
  EXPECT_EQ(exp->find("NaN"), std::string::npos) << *exp;

  // Every back-transformed prediction is a number; the held ones are the
  // largest Z (within the sheet's six digits), the others as extended.
  auto tr = sheetColumns(fileLines(s.path("Taveltr.xls")), 1);
  ASSERT_EQ(tr["Z_Calc_Inv_Tr"].size(), data.y.size());
  int atTop = 0;
  for (const std::string& v : tr["Z_Calc_Inv_Tr"]) {
    const double z = number(v);
    EXPECT_TRUE(std::isfinite(z)) << v;
    atTop += std::fabs(z - std::exp(top)) < 1e-5 * std::exp(top);
  }
  EXPECT_GT(atTop, 0);
  EXPECT_TRUE(std::filesystem::exists(s.path("Taveltr.xls")));
  EXPECT_GT(s.state.lastPlotUnit, 0);
}

}  // namespace
}  // namespace tavel::run
