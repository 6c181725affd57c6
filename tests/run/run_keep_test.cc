// SPDX-License-Identifier: GPL-3.0-or-later
// What a Run keeps for later commands (the model, the results for the
// export) changes none of its outputs, and a run long enough for its tables
// and spreadsheets to be written block by block keeps every row in order.
#include <gtest/gtest.h>

#include <charconv>
#include <string>
#include <vector>

#include "tests/run/run_session_support.h"

namespace tavel::run {
namespace {

using testing::fileLines;
using testing::fileText;
using testing::Session;

// More rows than two blocks of row_lines.h, so a helper formats some.
constexpr int kRows = 5000;

std::string number(double v) {
  char digits[32];
  return std::string(digits, std::to_chars(digits, digits + sizeof digits, v).ptr);
}

// A = 1..kRows, B cycles through 0.5 .. 10.5, Y positive (so _ln_Y exists).
std::string dataText() {
  std::string text = "A B Y\n";
  for (int i = 0; i < kRows; ++i) {
    const double a = i + 1;
    const double b = ((i * 37) % 101) / 10.0 + 0.5;
    text += number(a) + " " + number(b) + " " + number(2.0 + a / 1000.0 + b * b / 10.0) + "\n";
  }
  return text;
}

void runAll(Session& s) {
  s.writeFile("ab.dat", dataText());
  s.input("ab.dat", {"A", "B", "_ln_Y"}, "_ln_Y");
  s.options({{"A", 3}, {"B", 3}, {"_ln_Y", 3}}, true);
  s.run();
}

double field(const std::string& record, int k) {
  std::size_t at = 0;
  for (int i = 0; i < k; ++i) at = record.find('\t', at) + 1;
  const std::size_t begin = record.find_first_not_of(' ', at);
  double v = 0.0;
  std::from_chars(record.data() + begin, record.data() + record.find('\t', begin), v);
  return v;
}

TEST(RunKeep, KeepingNeitherModelNorResultsWritesTheSameFiles) {
  Session kept;
  runAll(kept);
  Session bare;
  bare.state.keepModel = false;
  bare.state.keepResults = false;
  runAll(bare);

  ASSERT_TRUE(kept.state.model.has_value());
  ASSERT_TRUE(kept.state.results.has_value());
  EXPECT_FALSE(bare.state.model.has_value());
  EXPECT_FALSE(bare.state.results.has_value());
  EXPECT_EQ(bare.runLog(), kept.runLog());
  for (const char* sheet : {"Taveltr.xls", "Tavelcr.xls"})
    EXPECT_EQ(fileText(bare.path(sheet)), fileText(kept.path(sheet))) << sheet;

  // Every observation once, in order: A is the row number, exact in E15.5.
  const std::vector<std::string> tr = fileLines(kept.path("Taveltr.xls"));
  const std::vector<std::string> cr = fileLines(kept.path("Tavelcr.xls"));
  ASSERT_EQ(tr.size(), kRows + 2u);
  ASSERT_EQ(cr.size(), kRows + 2u);
  for (int i = 0; i < kRows; ++i) {
    ASSERT_EQ(field(tr[i + 2], 0), i + 1) << i;
    ASSERT_EQ(field(cr[i + 2], 0), i + 1) << i;
  }
  // The log's tables hold every row too: the dependent's table is numbered.
  const std::vector<std::string> log = kept.runLog();
  std::size_t table = 0;
  while (table < log.size() &&
         log[table] != " ORIGINAL, TRANSFORMED AND EQUILIBRATED DEPENDENT VARIABLE")
    ++table;
  ASSERT_LT(table + kRows, log.size());
  EXPECT_EQ(log[table + 1], std::string("    1") + log[table + 1].substr(5));
  EXPECT_EQ(log[table + kRows].substr(0, 5), " 5000");

  // The kept results are the printed values: x and its equilibrated value
  // of the last row, as Tavelcr.xls shows them to 6 digits.
  const app::RunResults& r = *kept.state.results;
  ASSERT_EQ(r.n, kRows);
  ASSERT_EQ(r.xEq.size(), 2u * kRows);
  ASSERT_EQ(r.yEq.size(), static_cast<std::size_t>(kRows));
  const std::string& last = cr.back();
  EXPECT_NEAR(r.x[kRows - 1], field(last, 0), 1e-5 * kRows);
  EXPECT_NEAR(r.xEq[kRows - 1], field(last, 1), 1e-5 * std::abs(field(last, 1)) + 1e-300);
  EXPECT_NEAR(r.yEq[kRows - 1], field(last, 5), 1e-5 * std::abs(field(last, 5)) + 1e-300);
}

}  // namespace
}  // namespace tavel::run
