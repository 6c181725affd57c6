// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/report.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/headless/headless_runtime.h"

namespace tavel::run {
namespace {

using Lines = std::vector<std::string>;

std::string name50(const std::string& s) { return s + std::string(50 - s.size(), ' '); }

// A runtime in a fresh folder with the log open on unit 2.
class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tavel_report_XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    runtime_ = std::make_unique<platform::headless::HeadlessRuntime>(dir_);
    ASSERT_TRUE(runtime_->openFile(app::kLogUnit, "Tavel.log", false));
  }
  void TearDown() override {
    runtime_.reset();
    std::filesystem::remove_all(dir_);
  }

  Lines fileLines(const std::string& name) {
    runtime_->flush(app::kLogUnit);
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    Lines lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }
  Lines log() { return fileLines("Tavel.log"); }
  const Lines& screen() { return runtime_->screen(); }

  std::string dir_;
  std::unique_ptr<platform::headless::HeadlessRuntime> runtime_;
};

// Field texts, written out by hand from the layouts.
const std::string kE1 = "  1.000E+00";
const std::string kE2 = "  2.000E+00";
const std::string kE0 = "  0.000E+00";
const std::string kEm1 = " -1.000E+00";

TEST_F(ReportTest, InputEchoWithContinuationLines) {
  // p = 7: the Column line holds six names and then two; the Flag line six
  // codes and then two (the first of them in I7); the rows six values and two.
  const Lines names = {name50("ALPHA"), name50("BETA_LONGER_NAME"),
                       name50("C"),     name50("D"),
                       name50("E"),     name50("F"),
                       name50("G"),     name50("_ln_RATE")};
  const int codes[] = {1, 2, 3, 4, 5, 1, 3, 3};
  const int n = 4;
  const std::vector<double> row = {0.1, 999.5, -12.345, 0.0, 1234.5, 0.09995, 2.0};
  std::vector<double> x(n * 7), y(n, 1.0);
  for (int j = 0; j < 7; ++j)
    for (int i = 0; i < n; ++i) x[j * n + i] = row[j];
  ReportArrays arrays;
  arrays.n = n;
  arrays.p = 7;
  arrays.x = x.data();
  arrays.y = y.data();
  writeInputEcho(*runtime_, names, codes, arrays);

  const Lines head = {
      "  INDEPENDENT VARIABLES, DEPENDENT VARIABLE IS LAST",
      "",
  };
  const Lines columns = {
      " Column:    ALPHA      BETA_LONGE C          D          E          F          ",
      " G          _ln_RATE   ",
  };
  const Lines flags = {
      " Flag:            1          2          3          4          5          1",
      "       3          3",
  };
  auto rowLines = [](const std::string& number) {
    return Lines{
        " " + number + "  0.100      0.100E+04  -12.3      0.000E+00  0.123E+04" + "  0.100    ",
        "    2.00       1.00    "};
  };
  Lines expectedScreen = head;
  expectedScreen.insert(expectedScreen.end(), columns.begin(), columns.end());
  expectedScreen.insert(expectedScreen.end(), flags.begin(), flags.end());
  Lines expectedLog = expectedScreen;
  for (const char* i : {"          1", "          2", "          3"}) {
    for (const std::string& l : rowLines(i)) expectedScreen.push_back(l);
  }
  expectedScreen.push_back("  ...");
  for (const char* i : {"          1", "          2", "          3", "          4"}) {
    for (const std::string& l : rowLines(i)) expectedLog.push_back(l);
  }
  EXPECT_EQ(screen(), expectedScreen);
  EXPECT_EQ(log(), expectedLog);
}

TEST_F(ReportTest, InputEchoOfTwoRowsStillEndsWithTheDots) {
  const Lines names = {name50("X"), name50("Y")};
  const int codes[] = {1, 3};
  const std::vector<double> x = {1.0, 2.0}, y = {3.0, 4.0};
  ReportArrays arrays;
  arrays.n = 2;
  arrays.p = 1;
  arrays.x = x.data();
  arrays.y = y.data();
  writeInputEcho(*runtime_, names, codes, arrays);
  const Lines expectedLog = {
      "  INDEPENDENT VARIABLES, DEPENDENT VARIABLE IS LAST",
      "",
      " Column:    X          Y          ",
      " Flag:            1          3",
      "           1   1.00       3.00    ",
      "           2   2.00       4.00    ",
  };
  Lines expectedScreen = expectedLog;
  expectedScreen.push_back("  ...");
  EXPECT_EQ(screen(), expectedScreen);
  EXPECT_EQ(log(), expectedLog);
}

TEST_F(ReportTest, ClosingReportForTwoPredictors) {
  const int n = 4;
  const std::vector<double> y = {12.345, -0.004, 0.0, 9.9995};
  const std::vector<double> ty = {1.0, -1.0, 0.5, 2.0};
  const std::vector<double> zeros(2 * n, 0.0);
  const std::vector<double> x = {1, 1, 1, 1, 2, 2, 2, 2};
  const std::vector<double> tx = {-1, -1, -1, -1, 1, 1, 1, 1};
  ReportArrays a;
  a.n = n;
  a.p = 2;
  a.x = x.data();
  a.tx = tx.data();
  a.xEq = zeros.data();
  a.y = y.data();
  a.ty = ty.data();
  a.yEq = zeros.data();
  writeClosingReport(*runtime_, 0.98765, a);

  const std::string dep = " ORIGINAL, TRANSFORMED AND EQUILIBRATED DEPENDENT VARIABLE";
  const std::string ind = " ORIGINAL, TRANSFORMED AND EQUILIBRATED INDEPENDENT VARIABLES";
  const Lines depRows = {
      "    1   1.235E+01   1.000E+00   0.000E+00",
      "    2  -4.000E-03  -1.000E+00   0.000E+00",
      "    3   0.000E+00   5.000E-01   0.000E+00",
      "    4   1.000E+01   2.000E+00   0.000E+00",
  };
  auto indRows = [&](int count) {
    Lines rows;
    for (int i = 1; i <= count; ++i) {
      rows.push_back("    " + std::to_string(i) + " " + kE1 + " " + kEm1 + " " + kE0);
      rows.push_back(" " + kE2 + " " + kE1 + " " + kE0);
    }
    return rows;
  };
  Lines expectedScreen = {" FINAL SQUARED CORRELATION = 0.9877", "", dep};
  expectedScreen.insert(expectedScreen.end(), depRows.begin(), depRows.begin() + 3);
  expectedScreen.push_back("");
  expectedScreen.push_back(ind);
  for (const std::string& l : indRows(3)) expectedScreen.push_back(l);

  Lines expectedLog = {" FINAL SQUARED CORRELATION = 0.9877", "", dep};
  expectedLog.insert(expectedLog.end(), depRows.begin(), depRows.end());
  expectedLog.push_back("");
  expectedLog.push_back(ind);
  for (const std::string& l : indRows(4)) expectedLog.push_back(l);

  EXPECT_EQ(screen(), expectedScreen);
  EXPECT_EQ(log(), expectedLog);
}

TEST_F(ReportTest, ClosingReportTablesForThreeAndSevenPredictors) {
  const std::vector<double> y = {1.0}, ty = {1.0}, yEq = {0.0};
  const std::vector<double> seven = {1, 1, 1, 1, 1, 1, 2};
  const std::vector<double> eq(7, 0.0);
  ReportArrays a;
  a.n = 1;
  a.y = y.data();
  a.ty = ty.data();
  a.yEq = yEq.data();
  a.x = seven.data();
  a.tx = seven.data();
  a.xEq = eq.data();

  a.p = 3;
  writeClosingReport(*runtime_, 1.0, a);
  const Lines three = {
      " FINAL SQUARED CORRELATION = 1.0000",
      "",
      " ORIGINAL, TRANSFORMED AND EQUILIBRATED DEPENDENT VARIABLE",
      "    1 " + kE1 + " " + kE1 + " " + kE0,
      "",
      " TRANSFORMED INDEPENDENT VARIABLES ",
      "    1" + kE1 + kE1 + kE1,
      "",
      " EQUILIBRATED INDEPENDENT VARIABLES ",
      "    1" + kE0 + kE0 + kE0,
  };
  EXPECT_EQ(log(), three);

  runtime_->clearFocusedWindow();
  a.p = 7;
  writeClosingReport(*runtime_, 1.0, a);
  const Lines seven7 = {
      " FINAL SQUARED CORRELATION = 1.0000",
      "",
      " ORIGINAL, TRANSFORMED AND EQUILIBRATED DEPENDENT VARIABLE",
      "    1 " + kE1 + " " + kE1 + " " + kE0,
      "",
      " TRANSFORMED INDEPENDENT VARIABLES ",
      "    1" + kE1 + kE1 + kE1 + kE1 + kE1 + kE1,
      "     " + kE2,
      "",
      " EQUILIBRATED INDEPENDENT VARIABLES ",
      "    1" + kE0 + kE0 + kE0 + kE0 + kE0 + kE0,
      "     " + kE0,
  };
  EXPECT_EQ(screen(), seven7);
}

TEST_F(ReportTest, NoticeAndStatisticsLines) {
  writeEquilibrationNotice(*runtime_);
  writePredictionStats(*runtime_, {0.5, 1234.5, -0.004});
  ExpStats e;
  e.Exp_Avedev = 0.0;
  e.Exp_Stdev = 999.4;
  e.Exp_Bias = -999.5;
  e.Exp_AvedevPercent = 37.5;
  e.Exp_StdevPercent = 39.528;
  e.Exp_BiasPercent = 12.5;
  writeBackTransformedStats(*runtime_, e);
  const Lines expected = {
      "  EQUILIBRATION IS ENABLED",
      " Avedev=  0.500       Stdev=  0.123E+04   Bias= -0.400E-02",
      " Exp_Avedev=  0.000E+00   Exp_Stdev=   999.       Exp_Bias= -0.100E+04",
      " Exp_Avedev%=   37.5       Exp_Stdev%=   39.5       Exp_Bias%=   12.5    ",
  };
  EXPECT_EQ(screen(), expected);
  EXPECT_EQ(log(), expected);
}

// Two observations, p = 2, response "_ln_RATE".
struct SheetData {
  Lines names = {name50("A"), name50("B"), name50("_ln_RATE")};
  std::vector<double> x = {1.0, 2.0, 10.0, 20.0};
  std::vector<double> tx = {-1.0, 1.0, 0.5, -0.5};
  std::vector<double> xEq = {1.5, 2.5, 12.0, 18.0};
  std::vector<double> y = {0.0, 1.0};
  std::vector<double> ty = {-1.0, 1.0};
  std::vector<double> yEq = {0.25, 0.75};
  std::vector<double> sumTx = {-0.5, 0.5};
  std::vector<double> yPred = {0.0, 2.0};
  ReportArrays arrays() const {
    return ReportArrays{2,         2,          x.data(),   y.data(),     tx.data(),
                        ty.data(), xEq.data(), yEq.data(), sumTx.data(), yPred.data()};
  }
};

TEST_F(ReportTest, TransformSheetWithLogResponse) {
  const SheetData d;
  ASSERT_TRUE(writeTransformSheet(*runtime_, d.names, d.arrays(), true, true));
  const std::string e1 = "    1.00000E+00\t", e2 = "    2.00000E+00\t";
  const std::string e0 = "    0.00000E+00\t", em1 = "   -1.00000E+00\t";
  // exp(1) = 2.718281828..., exp(2) = 7.389056098...
  const Lines expected = {
      "    2\t    2\t",
      "A\tA_Tr\tB\tB_Tr\t_ln_RATE\t_ln_RATE_Tr\tSum_Tr_Indep\t_ln_RATE_Meas\t"
      "_ln_RATE_Calc_Inv_Tr\tRATE_Meas\tRATE_Calc_Inv_Tr\t",
      e1 + em1 + "    1.00000E+01\t" + "    5.00000E-01\t" + e0 + em1 + "   -5.00000E-01\t" + e0 +
          e0 + e1 + e1,
      e2 + e1 + "    2.00000E+01\t" + "   -5.00000E-01\t" + e1 + e1 + "    5.00000E-01\t" + e1 +
          e2 + "    2.71828E+00\t" + "    7.38906E+00\t",
  };
  EXPECT_EQ(fileLines("Taveltr.xls"), expected);
  EXPECT_EQ(screen(), Lines{" Taveltr.xls is done"});
  EXPECT_TRUE(log().empty());
}

TEST_F(ReportTest, TransformSheetWithoutPredictionHoldsZeros) {
  SheetData d;
  d.names[2] = name50("RATE");
  ASSERT_TRUE(writeTransformSheet(*runtime_, d.names, d.arrays(), false, false));
  const Lines lines = fileLines("Taveltr.xls");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1],
            "A\tA_Tr\tB\tB_Tr\tRATE\tRATE_Tr\tSum_Tr_Indep\tRATE_Meas\tRATE_Calc_Inv_Tr\t");
  // x1 tx1 x2 tx2 y ty s y q: s and q are zero.
  EXPECT_EQ(lines[3],
            "    2.00000E+00\t    1.00000E+00\t    2.00000E+01\t   -5.00000E-01\t"
            "    1.00000E+00\t    1.00000E+00\t    0.00000E+00\t    1.00000E+00\t"
            "    0.00000E+00\t");
}

TEST_F(ReportTest, CorrectionSheet) {
  const SheetData d;
  ASSERT_TRUE(writeCorrectionSheet(*runtime_, d.names, d.arrays()));
  const Lines expected = {
      "    2\t    2\t",
      "A\tA_Corr\tB\tB_Corr\t_ln_RATE\t_ln_RATE_Corr\t",
      "    1.00000E+00\t    1.50000E+00\t    1.00000E+01\t    1.20000E+01\t"
      "    0.00000E+00\t    2.50000E-01\t",
      "    2.00000E+00\t    2.50000E+00\t    2.00000E+01\t    1.80000E+01\t"
      "    1.00000E+00\t    7.50000E-01\t",
  };
  EXPECT_EQ(fileLines("Tavelcr.xls"), expected);
  EXPECT_EQ(screen(), Lines{" Tavelcr.xls is done"});
}

// A runtime in a folder that takes no new files, as a read-only one (the
// tests run as root, for whom permissions would not stop the write).
class ReadOnlyFolderRuntime : public platform::headless::HeadlessRuntime {
 public:
  using HeadlessRuntime::HeadlessRuntime;
  bool openFileReplacing(int, std::string_view) override { return false; }
};

TEST_F(ReportTest, SheetThatCannotBeWrittenIsReportedAndTheRunGoesOn) {
  // A folder where the file should be: it cannot be opened for writing.
  ASSERT_TRUE(std::filesystem::create_directory(dir_ + "/Taveltr.xls"));
  const SheetData d;
  EXPECT_FALSE(writeTransformSheet(*runtime_, d.names, d.arrays(), true, true));
  const Lines message = {" Taveltr.xls could not be written: a folder of that name is in the way"};
  EXPECT_EQ(screen(), message);
  EXPECT_EQ(log(), message);

  // The other sheet is still written, and an earlier one is replaced whole.
  std::ofstream(dir_ + "/Tavelcr.xls") << "earlier content that is much longer than the new file\n"
                                       << std::string(5000, 'x') << "\n";
  EXPECT_TRUE(writeCorrectionSheet(*runtime_, d.names, d.arrays()));
  EXPECT_EQ(fileLines("Tavelcr.xls").size(), 4u);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/Tavelcr.xls.part"));
}

TEST_F(ReportTest, FailedSheetsPromiseAnEarlierFileOnlyWhenThereIsOne) {
  ReadOnlyFolderRuntime readOnly(dir_);
  ASSERT_TRUE(readOnly.openFile(app::kLogUnit, "Tavel.log", true));
  const SheetData d;
  // No earlier files: nothing is said to be left unchanged, and no file is
  // left behind.
  SheetResults r = writeSpreadsheets(readOnly, d.names, d.arrays(), true, true, true);
  EXPECT_FALSE(r.transform);
  EXPECT_FALSE(r.correction);
  EXPECT_EQ(r.problems,
            (Lines{"Taveltr.xls could not be written", "Tavelcr.xls could not be written"}));
  EXPECT_EQ(readOnly.screen(),
            (Lines{" Taveltr.xls could not be written", " Tavelcr.xls could not be written"}));
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/Taveltr.xls"));
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/Tavelcr.xls"));

  // An earlier Taveltr.xls: it is named, and it is indeed unchanged.
  std::ofstream(dir_ + "/Taveltr.xls") << "earlier\n";
  r = writeSpreadsheets(readOnly, d.names, d.arrays(), true, true, false);
  EXPECT_EQ(r.problems,
            Lines{"Taveltr.xls could not be written; an earlier Taveltr.xls is left unchanged"});
  EXPECT_EQ(readOnly.screen().back(),
            " Taveltr.xls could not be written; an earlier Taveltr.xls is left unchanged");
  EXPECT_EQ(fileLines("Taveltr.xls"), Lines{"earlier"});
  readOnly.close(app::kLogUnit);
  const Lines log = fileLines("Tavel.log");
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[2], readOnly.screen().back());
}

TEST_F(ReportTest, OnePassWritesTheSameFilesAsTwo) {
  const SheetData d;
  ASSERT_TRUE(writeTransformSheet(*runtime_, d.names, d.arrays(), true, true));
  ASSERT_TRUE(writeCorrectionSheet(*runtime_, d.names, d.arrays()));
  const Lines tr = fileLines("Taveltr.xls");
  const Lines cr = fileLines("Tavelcr.xls");
  const Lines notices = {" Taveltr.xls is done", " Tavelcr.xls is done"};
  EXPECT_EQ(screen(), notices);

  runtime_->clearFocusedWindow();
  std::filesystem::remove(dir_ + "/Taveltr.xls");
  std::filesystem::remove(dir_ + "/Tavelcr.xls");
  const SheetResults both = writeSpreadsheets(*runtime_, d.names, d.arrays(), true, true, true);
  EXPECT_TRUE(both.transform);
  EXPECT_TRUE(both.correction);
  EXPECT_EQ(fileLines("Taveltr.xls"), tr);
  EXPECT_EQ(fileLines("Tavelcr.xls"), cr);
  EXPECT_EQ(screen(), notices);

  // Without the correction sheet an earlier one stays as it was.
  std::ofstream(dir_ + "/Tavelcr.xls") << "earlier\n";
  const SheetResults one = writeSpreadsheets(*runtime_, d.names, d.arrays(), true, true, false);
  EXPECT_TRUE(one.transform);
  EXPECT_FALSE(one.correction);
  EXPECT_EQ(fileLines("Tavelcr.xls"), Lines{"earlier"});

  // One file that cannot be written does not spoil the other.
  std::filesystem::remove(dir_ + "/Taveltr.xls");
  ASSERT_TRUE(std::filesystem::create_directory(dir_ + "/Taveltr.xls"));
  const SheetResults half = writeSpreadsheets(*runtime_, d.names, d.arrays(), true, true, true);
  EXPECT_FALSE(half.transform);
  EXPECT_TRUE(half.correction);
  EXPECT_EQ(fileLines("Tavelcr.xls"), cr);
}

TEST_F(ReportTest, LargeCountsWidenInsteadOfTurningIntoAsterisks) {
  const int n = 10000;
  std::vector<double> v(n, 1.0), zero(n, 0.0);
  ReportArrays a;
  a.n = n;
  a.p = 1;
  a.x = a.tx = a.y = a.ty = a.sumTx = a.yPred = v.data();
  a.xEq = a.yEq = zero.data();
  writeClosingReport(*runtime_, 0.5, a);
  const Lines lines = log();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), " 10000 " + kE1 + " " + kE1 + " " + kE0);
  const Lines names = {name50("X"), name50("Y")};
  ASSERT_TRUE(writeCorrectionSheet(*runtime_, names, a));
  EXPECT_EQ(fileLines("Tavelcr.xls")[0], "10000\t    1\t");
}

}  // namespace
}  // namespace tavel::run
