// SPDX-License-Identifier: GPL-3.0-or-later
// A Run's model used as a user would: predicting the Run's own rows, saving
// and opening it through the File menu, applying it to new rows, and the
// cross-validation that follows a Run.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "app/model_commands.h"
#include "io/field_format.h"
#include "tests/run/run_session_support.h"

namespace tavel::run {
namespace {

using testing::fileLines;
using testing::Session;
using testing::sheetColumns;

// Rates against temperature and pressure with a catalyst category:
// ln RATE = 0.03 T + 0.4 P - 0.2 CAT, 30 rows with ties in P and CAT.
std::string ratesText() {
  std::string text = "T P CAT RATE\n";
  for (int i = 0; i < 30; ++i) {
    const double t = 300.0 + (i * 17) % 31 * 3.0;
    const double p = 1.0 + (i * 7) % 5 * 0.5;
    const int cat = 1 + i % 3;
    const double rate = std::exp(0.03 * (t - 300.0) + 0.4 * p - 0.2 * cat);
    text += app::fieldF(t, 8, 1) + app::fieldF(p, 6, 2) + " " + std::to_string(cat) +
            app::fieldE(rate, 14, 6) + "\n";
  }
  return text;
}

double number(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  double v = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), v);
  return v;
}

// The number after `key` in a line.
double after(const std::string& line, std::string_view key) {
  const std::size_t at = line.find(key);
  EXPECT_NE(at, std::string::npos) << key << " in " << line;
  return at == std::string::npos ? 0.0 : number(std::string_view(line).substr(at + key.size()));
}

class ModelRunTest : public ::testing::Test {
 protected:
  void fit(int cvFolds = 0) {
    s.writeFile("rates.dat", ratesText());
    s.input("rates.dat", {"T", "P", "CAT", "_ln_RATE"}, "_ln_RATE");
    s.options({{"T", 3}, {"CAT", 5}}, false);
    s.state.options.CvFolds = cvFolds;
    s.run();
  }
  Session s;
};

TEST_F(ModelRunTest, PredictingTheFittedRowsReproducesTheRunsPrediction) {
  fit();
  ASSERT_TRUE(s.state.model.has_value());
  // The in-sample rule: end intervals extended, as the Run's own prediction.
  s.state.model->extrapolate = model::Extrapolation::Linear;
  ASSERT_TRUE(app::predictDataFile(s.runtime, s.state, *s.state.model, "rates.dat"));
  auto tr = sheetColumns(fileLines(s.path("Taveltr.xls")), 1);
  auto pr = sheetColumns(fileLines(s.path("Tavelpr.xls")), 0);
  ASSERT_EQ(pr["Status"], std::vector<std::string>(30, "ok"));
  for (const char* name : {"T", "P", "CAT"}) {
    EXPECT_EQ(pr[name], tr[name]) << name;
    EXPECT_EQ(pr[std::string(name) + "_Tr"], tr[std::string(name) + "_Tr"]) << name;
  }
  EXPECT_EQ(pr["Score"], tr["Sum_Tr_Indep"]);
  // A log response is predicted on its column's own scale.
  EXPECT_EQ(pr["RATE_Pred"], tr["RATE_Calc_Inv_Tr"]);
  EXPECT_TRUE(s.state.problems.empty());

  // The model's own rule: a score beyond the fitted range of the response's
  // transformation gives the nearer end of the observed RATE; every other
  // row is predicted as before.
  s.state.model->extrapolate = model::Extrapolation::Hold;
  ASSERT_TRUE(app::predictDataFile(s.runtime, s.state, *s.state.model, "rates.dat"));
  auto held = sheetColumns(fileLines(s.path("Tavelpr.xls")), 0);
  double lo = 1e300, hi = -1e300;
  for (const std::string& r : tr["RATE_Meas"]) {
    lo = std::min(lo, number(r));
    hi = std::max(hi, number(r));
  }
  int heldRows = 0;
  for (std::size_t i = 0; i < 30; ++i) {
    if (held["Status"][i] == "ok") {
      EXPECT_EQ(held["RATE_Pred"][i], tr["RATE_Calc_Inv_Tr"][i]) << i;
      continue;
    }
    ASSERT_EQ(held["Status"][i], "response held at the fitted range") << i;
    ++heldRows;
    const double extended = number(tr["RATE_Calc_Inv_Tr"][i]);
    // Extended just past an end it may print as the end itself.
    const double end = std::fabs(extended - hi) < std::fabs(extended - lo) ? hi : lo;
    EXPECT_NEAR(number(held["RATE_Pred"][i]), end, 1e-5 * end) << i;
  }
  EXPECT_GT(heldRows, 0);  // this fit does flatten an end
  EXPECT_NE(s.runtime.screen().end()[-2].find(" " + std::to_string(heldRows) +
                                              " response held at the fitted range, "),
            std::string::npos)
      << s.runtime.screen().end()[-2];
}

TEST_F(ModelRunTest, SavedModelOpensAndAppliesToNewRows) {
  fit();
  s.runtime.queueFileChoice("rates.json");
  ASSERT_TRUE(s.runtime.invokeMenu("Save &Model..."));

  Session other;
  std::filesystem::copy_file(s.path("rates.json"), other.path("rates.json"));
  other.writeFile("not_a_model.json", "{\"format\": \"tavel-model\", \"version\": 99}");
  other.runtime.queueFileChoice("not_a_model.json");
  other.runtime.invokeMenu("&Open Model...");
  EXPECT_FALSE(other.state.model.has_value());
  ASSERT_EQ(other.state.problems.size(), 1u);
  EXPECT_NE(other.state.problems[0].find("version 99 is not known"), std::string::npos);

  other.runtime.queueFileChoice("rates.json");
  other.runtime.invokeMenu("&Open Model...");
  ASSERT_TRUE(other.state.model.has_value());
  // Columns in another order, an extra one, and rows that cannot all be placed:
  // in range; T above the fitted range; a catalyst never seen; P not positive
  // is fine (P is not a log variable).
  other.writeFile("new.dat",
                  "CAT X P T\n"
                  "2 0 2.0 330\n"
                  "1 0 2.0 900\n"
                  "7 0 2.0 330\n"
                  "3 0 -1 330\n");
  other.runtime.queueFileChoice("new.dat");
  other.runtime.invokeMenu("&Predict New Data...");
  auto pr = sheetColumns(fileLines(other.path("Tavelpr.xls")), 0);
  EXPECT_EQ(pr["Status"],
            (std::vector<std::string>{"ok", "out of range", "unknown category", "out of range"}));
  EXPECT_EQ(pr["RATE_Pred"][2], "");  // not predicted: no number pretends to be one
  const double fresh = std::stod(pr["RATE_Pred"][0]);
  const double truth = std::exp(0.03 * 30.0 + 0.4 * 2.0 - 0.2 * 2);
  EXPECT_NEAR(fresh, truth, 0.1 * truth);  // a smooth fit of 30 rows, not an exact one
  EXPECT_EQ(other.runtime.screen().back(), " Tavelpr.xls is done");
  EXPECT_EQ(other.state.problems.size(), 1u);  // only the refused open

  // A file without a column the model needs writes nothing and names it.
  std::filesystem::remove(other.path("Tavelpr.xls"));
  other.writeFile("short.dat", "CAT T\n1 330\n");
  EXPECT_FALSE(app::predictDataFile(other.runtime, other.state, *other.state.model, "short.dat"));
  EXPECT_NE(other.state.problems.back().find("no column P"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(other.path("Tavelpr.xls")));
  EXPECT_FALSE(app::predictDataFile(other.runtime, other.state, *other.state.model, "none.dat"));
  EXPECT_FALSE(std::filesystem::exists(other.path("none.dat")));  // never created by reading
}

// Rows are predicted a block at a time: a row's record must not depend on
// where the blocks fall. Each new file below is built of the rows of a small
// one (in range, beyond the fitted range, an unknown catalyst, a missing
// value, an unreadable one), whose records predicted in one go are the
// expectation, renumbered.
TEST_F(ModelRunTest, PredictionRecordsDoNotDependOnBlockBoundaries) {
  fit();
  const std::vector<std::string> patterns = {"2,0,2.0,330", "1,0,2.0,900", "7,0,2.0,330",
                                             "3,0,2.0,", "3,0,2.0,abc"};
  std::string small = "CAT,X,P,T\n";
  for (const std::string& row : patterns) small += row + "\n";
  s.writeFile("small.csv", small);
  ASSERT_TRUE(app::predictDataFile(s.runtime, s.state, *s.state.model, "small.csv"))
      << s.state.problems.back();
  const std::vector<std::string> one = fileLines(s.path("Tavelpr.xls"));
  ASSERT_EQ(one.size(), patterns.size() + 1);
  ASSERT_NE(one[4].find("missing value"), std::string::npos) << one[4];
  ASSERT_NE(one[5].find("unreadable"), std::string::npos) << one[5];
  // A record without its row number (the text up to the first tab).
  const auto body = [](const std::string& record) { return record.substr(record.find('\t')); };

  // pick[k]: which small row the file's row k is.
  const auto check = [&](const std::vector<std::size_t>& pick, int readable) {
    std::string text = "CAT,X,P,T\n";
    for (std::size_t k : pick) text += patterns[k] + "\n";
    s.writeFile("big.csv", text);
    ASSERT_TRUE(app::predictDataFile(s.runtime, s.state, *s.state.model, "big.csv"));
    const std::vector<std::string> lines = fileLines(s.path("Tavelpr.xls"));
    ASSERT_EQ(lines.size(), pick.size() + 1);
    EXPECT_EQ(lines[0], one[0]);
    int wrong = 0;
    for (std::size_t k = 0; k < pick.size(); ++k) {
      const std::string expected = std::to_string(k + 1) + body(one[pick[k] + 1]);
      if (lines[k + 1] != expected && wrong++ < 3)
        ADD_FAILURE() << "row " << k + 1 << ": " << lines[k + 1] << " is not " << expected;
    }
    EXPECT_EQ(wrong, 0);
    const std::string& said = s.runtime.screen().end()[-2];
    EXPECT_EQ(said.rfind(" Predicted ", 0), 0u) << said;
    EXPECT_NE(said.find(" of " + std::to_string(pick.size()) + " rows"), std::string::npos) << said;
    int unknown = 0;
    for (std::size_t k : pick) unknown += k == 2 ? 1 : 0;
    EXPECT_NE(said.find(", " + std::to_string(unknown) + " not predicted"), std::string::npos)
        << said;
    EXPECT_NE(said.find("Predicted " + std::to_string(readable - unknown) + " of"),
              std::string::npos)
        << said;
  };
  constexpr int kBlock = app::kPredictBlockRows;
  // Exactly one block of readable rows.
  std::vector<std::size_t> pick;
  for (int i = 0; i < kBlock; ++i) pick.push_back(static_cast<std::size_t>(i % 3));
  check(pick, kBlock);
  // One block and one row, with refused rows between and after them.
  pick.insert(pick.begin() + 5, 3);
  pick.push_back(3);
  pick.push_back(1);
  pick.push_back(4);
  check(pick, kBlock + 1);
}

TEST_F(ModelRunTest, CrossValidationFollowsTheClosingReport) {
  fit(4);  // 3 folds would hold out exactly the one catalyst each fold lacks
  const std::vector<std::string> log = s.runLog();
  std::size_t final = 0, cv = 0;
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i].rfind(" FINAL SQUARED CORRELATION =", 0) == 0) final = i;
    if (log[i].rfind(" CROSS-VALIDATED SQUARED CORRELATION (4 FOLDS) =", 0) == 0) cv = i;
  }
  ASSERT_GT(cv, final) << (s.state.problems.empty() ? "" : s.state.problems[0]);
  EXPECT_EQ(log[cv].size(),
            std::string(" CROSS-VALIDATED SQUARED CORRELATION (4 FOLDS) =").size() + 7);
  EXPECT_EQ(log[cv + 1].rfind(" CV_Avedev=", 0), 0u);
  EXPECT_NE(log[cv + 1].find("   CV_Stdev="), std::string::npos);
  EXPECT_TRUE(s.state.problems.empty());
}

// The response-scale figures are recomputed here from the outside: each
// fold's training rows are fitted by a Run of their own, its model predicts
// the fold's held-out rows into Tavelpr.xls, and R^2 and RMSE are pooled over
// the predictions read back (raw RATE, as the log response is exponentiated).
TEST_F(ModelRunTest, ResponseScaleCvIsWhatHeldOutPredictionsGive) {
  constexpr int kFolds = 5;
  fit(kFolds);
  const std::vector<std::string> log = s.runLog();
  std::string line;
  for (std::size_t i = 0; i + 1 < log.size(); ++i)
    if (log[i].starts_with(" CV_Avedev=")) line = log[i + 1];
  ASSERT_TRUE(line.starts_with(" CV on the response scale, exponentiated: R^2 = 1 - SSE/SST = "))
      << line;
  EXPECT_TRUE(line.ends_with("   (5 folds, pooled)")) << line;
  const double printedRsq = after(line, "SSE/SST = ");
  const double printedRmse = after(line, "RMSE = ");
  ASSERT_TRUE(s.state.model && s.state.model->crossValidation);
  EXPECT_EQ(s.state.model->crossValidation->folds, kFolds);

  std::vector<std::string> rows;
  const std::string text = ratesText();
  std::string header;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1)
    (header.empty() ? header : rows.emplace_back()) = text.substr(start, end - start);
  std::vector<double> measured, predicted;
  for (int f = 0; f < kFolds; ++f) {
    std::string training = header + "\n", held = header + "\n";
    std::vector<double> heldRates;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (static_cast<int>(i) % kFolds == f) {
        held += rows[i] + "\n";
        heldRates.push_back(number(rows[i].substr(rows[i].rfind(' '))));
      } else {
        training += rows[i] + "\n";
      }
    }
    Session fold;
    fold.writeFile("train.dat", training);
    fold.writeFile("held.dat", held);
    fold.input("train.dat", {"T", "P", "CAT", "_ln_RATE"}, "_ln_RATE");
    fold.options({{"T", 3}, {"CAT", 5}}, false);
    fold.run();
    ASSERT_TRUE(fold.state.model.has_value()) << f;
    ASSERT_TRUE(app::predictDataFile(fold.runtime, fold.state, *fold.state.model, "held.dat"));
    auto pr = sheetColumns(fileLines(fold.path("Tavelpr.xls")), 0);
    ASSERT_EQ(pr["RATE_Pred"].size(), heldRates.size());
    for (std::size_t k = 0; k < heldRates.size(); ++k) {
      measured.push_back(heldRates[k]);
      predicted.push_back(number(pr["RATE_Pred"][k]));
    }
  }
  const double mean = std::accumulate(measured.begin(), measured.end(), 0.0) / measured.size();
  double sse = 0.0, sst = 0.0;
  for (std::size_t i = 0; i < measured.size(); ++i) {
    sse += (measured[i] - predicted[i]) * (measured[i] - predicted[i]);
    sst += (measured[i] - mean) * (measured[i] - mean);
  }
  // The line shows 3 decimals and 3 digits; Tavelpr.xls keeps 6 digits.
  EXPECT_NEAR(printedRsq, 1.0 - sse / sst, 6e-4);
  const double rmse = std::sqrt(sse / measured.size());
  EXPECT_NEAR(printedRmse, rmse, 6e-3 * rmse);
  EXPECT_LT(printedRsq, 1.0);
  EXPECT_GT(printedRsq, 0.5);  // a smooth truth of 30 rows
}

// A model that would be refused when read is not written either.
TEST_F(ModelRunTest, AModelThatCouldNotBeReadBackIsNotSaved) {
  fit();
  ASSERT_TRUE(s.state.model.has_value());
  s.state.model->predictors[0].name = "T\a";
  EXPECT_FALSE(app::saveModel(s.runtime, s.state, "bell.json"));
  EXPECT_FALSE(std::filesystem::exists(s.path("bell.json")));
  ASSERT_EQ(s.state.problems.size(), 1u);
  EXPECT_NE(s.state.problems[0].find("holds control characters); it was not saved"),
            std::string::npos)
      << s.state.problems[0];
}

TEST_F(ModelRunTest, RefusedCrossValidationAndUnfinishedRuns) {
  fit(31);                                 // more folds than rows
  EXPECT_TRUE(s.state.model.has_value());  // the fit itself is fine
  ASSERT_EQ(s.state.problems.size(), 1u);
  EXPECT_NE(s.state.problems[0].find("from 2 to 30 folds"), std::string::npos);

  s.writeFile("four.dat", "A B\n1 2\n2 3\n3 5\n4 4\n");
  s.input("four.dat", {"A", "B"}, "B");
  s.run();  // too few rows: no fit, and no model of the earlier data
  EXPECT_FALSE(s.state.model.has_value());
}

}  // namespace
}  // namespace tavel::run
