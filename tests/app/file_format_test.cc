// SPDX-License-Identifier: GPL-3.0-or-later
// Which reader a data file gets, from its name and its content, and what
// the scan makes of tab-separated files and of CSV that is not named so.
#include "io/file_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "io/trace.h"

namespace tavel::app::testing {
namespace {

using Names = std::vector<std::string>;

constexpr int kUnit = 5;

class FileFormatTest : public AppTest {
 protected:
  char sniffed(const std::string& content) {
    writeFile("sniff.txt", content);
    EXPECT_TRUE(runtime_->openFileForReading(kUnit, "sniff.txt"));
    const char s = sniffCsvSeparator(*runtime_, kUnit);
    // The unit is left at the start for the reader that follows.
    std::string first;
    EXPECT_EQ(runtime_->readLine(kUnit, first), platform::ReadResult::Success);
    runtime_->close(kUnit);
    return s;
  }
  char chosen(const std::string& name, const std::string& content, ReadingAsked asked = {}) {
    writeFile(name, content);
    EXPECT_TRUE(runtime_->openFileForReading(kUnit, name));
    const char s = chooseFileReading(*runtime_, kUnit, name, asked);
    runtime_->close(kUnit);
    return s;
  }
  long said(const std::string& line) const {
    return std::count(runtime_->screen().begin(), runtime_->screen().end(), line);
  }
};

TEST_F(FileFormatTest, ContentMakesCsvOnlyWhereBlanksWouldReadItOtherwise) {
  struct Case {
    const char* label;
    std::string content;
    char separator;
  };
  std::string twenty = "A,B\n";
  for (int i = 0; i < kSniffDataLines; ++i) twenty += "1,2\n";
  const std::vector<Case> cases = {
      {"commas", "A,B\n1,2\n3,4\n", ','},
      {"semicolons with decimal commas", "A;B\n1,5;2\n2,5;3,25\n", ';'},
      {"an empty tab cell", "A\tB\tC\n1\t\t3\n4\t5\t6\n", '\t'},
      {"tab names with blanks in them", "Temp K\tP\n1\t2\n", '\t'},
      {"blank lines are no data lines", "A,B\n\n  \n1,2\n", ','},
      {"quoted names, commas", "\xEF\xBB\xBF\"T [K]\",\"a,b\"\r\n1,2\r\n", ','},
      {"quoted names, semicolons", "\"A\";\"B,c\"\n1;2\n", ';'},
      {"quoted names, tabs", "\"A B\"\t\"C\"\n1\t2\n", '\t'},
      {"a quoted name over two lines", "\"A\nB\",C\n1,2\n", ','},
      {"one quoted name over decimal commas", "\"x\"\n1,5\n", ';'},
      {"the 21st data line is not looked at", twenty + "1,2,3\n", ','},
      // Files whose lines agree with their header when split at blanks.
      {"tabs that agree", "T\tP\tCATALYST\tRATE\n351.10\t3.529\t3\t9.81264e-02\n", 0},
      {"blanks", "A B\n1 2\n", 0},
      {"commas with blanks that agree", "A, B\n1, 2\n", 0},
      {"commas only in the names", "T_K a,\"b\" y\n1 2 3\n", 0},
      {"commas only in the rows", "A B\n1,2\n", 0},
      {"counts that differ", "A,B\n1,2\n3,4,5\n", 0},
      {"a header alone", "A,B\n", 0},
      {"quotes that are not whole names", "\"A\" \"B\"\n1 2\n", 0},
      {"an empty file", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.content.empty()) {
      writeFile("sniff.txt", "");
      ASSERT_TRUE(runtime_->openFileForReading(kUnit, "sniff.txt"));
      EXPECT_EQ(sniffCsvSeparator(*runtime_, kUnit), 0);
      runtime_->close(kUnit);
      continue;
    }
    EXPECT_EQ(sniffed(c.content), c.separator);
  }
}

TEST_F(FileFormatTest, NamesAndWhatWasAskedForComeBeforeTheContent) {
  const std::string commas = "A,B\n1,2\n";
  EXPECT_EQ(chosen("d.tsv", commas), '\t');
  EXPECT_EQ(chosen("d.TAB", commas), '\t');
  EXPECT_EQ(chosen("d.csv", "A;B\n1;2\n"), ';');
  EXPECT_EQ(chosen("d.CSV", "A B\n1 2\n"), ',');  // a .csv is never free form
  EXPECT_EQ(chosen("d.dat", commas), ',');
  EXPECT_EQ(chosen("d.dat", commas, {.tsv = true}), '\t');
  EXPECT_EQ(chosen("d.dat", "A B\n1 2\n", {.csv = true}), ',');
  EXPECT_EQ(chosen("d.tsv", commas, {.csv = true}), '\t');
  EXPECT_EQ(csvReadingLine('\t'), " read as CSV: cells separated by tabs");
}

// A tab-separated file with empty cells reads as the same data without them
// does, but for the rows with a missing value, which are skipped and counted.
TEST_F(FileFormatTest, TabFilesReadAsTheCleanTableWithIncompleteRowsCounted) {
  writeFile("clean.dat", "T P Y\n1 2 3\n4 5 6\n7 8 -9\n");
  scan("clean.dat");
  const DataTable clean = state_.data;
  ASSERT_EQ(clean.nRows, 3);
  EXPECT_EQ(clean.csvSeparator, 0);

  for (const std::string name : {"gaps.tsv", "gaps.tab"}) {
    SCOPED_TRACE(name);
    writeFile(name, "T\tP\tY\r\n1\t2\t3\r\n4\t\t6\r\n\t5\t6\r\n4\t5\t6\r\n1\t2\r\n7\t8\t-9\r\n");
    runtime_->clearFocusedWindow();
    scan(name);
    const DataTable& d = state_.data;
    EXPECT_EQ(d.csvSeparator, '\t');
    EXPECT_EQ(d.nRows, clean.nRows);
    EXPECT_EQ(d.colName, clean.colName);
    EXPECT_EQ(d.allPositive, clean.allPositive);
    EXPECT_EQ(said(" read as CSV: cells separated by tabs"), 1);
    EXPECT_EQ(said(" 3 incomplete rows skipped for a missing value (a cell empty, NA, NaN, N/A or "
                   ".; the first at line 3)"),
              1);
  }
}

TEST_F(FileFormatTest, CsvUnderAnotherNameIsSaidAsACsvFileIs) {
  const std::string text = "\"T [K]\";\"P\"\n300;1,5\n310;2,5\n";
  for (const std::string name : {"e.csv", "e.txt", "input.dat"}) {
    SCOPED_TRACE(name);
    writeFile(name, text);
    runtime_->clearFocusedWindow();
    scan(name);
    EXPECT_EQ(names(), (Names{"T [K]", "P", "_ln_T [K]", "_ln_P"}));
    EXPECT_EQ(state_.data.nRows, 2);
    EXPECT_EQ(state_.data.csvSeparator, ';');
    EXPECT_EQ(said(" read as CSV: cells separated by semicolons, decimal commas"), 1);
  }
}

TEST_F(FileFormatTest, LongHeadersLatin1NamesTabsInNamesAndLongPaths) {
  // Twenty names of 15 characters and a blank: 320 characters.
  std::string header, row;
  for (int j = 1; j <= 20; ++j) {
    header += "measurement_" + std::string(j < 10 ? "00" : "0") + std::to_string(j) + " ";
    row += std::to_string(j) + " ";
  }
  header.pop_back();
  ASSERT_GT(header.size(), 300u);
  writeFile("long.dat", header + "\n" + row + "\n");
  scan("long.dat");
  ASSERT_EQ(state_.data.numCol1, 20);
  EXPECT_EQ(trimName(state_.data.colName[19]), "measurement_020");
  EXPECT_EQ(state_.data.nRows, 1);

  // "\xE9" and "\xB5" are e acute and micro in Latin-1.
  const std::string converted =
      " names read as Latin-1 and converted to UTF-8: Temp\xC3\xA9rature, \xC2\xB5m";
  for (const std::string name : {"latin.dat", "latin.csv"}) {
    SCOPED_TRACE(name);
    const char sep = name.ends_with(".csv") ? ',' : ' ';
    writeFile(name, std::string("Temp\xE9rature") + sep + "\xB5m" + sep + "P\n1" + sep + "2" + sep +
                        "3\n");
    runtime_->clearFocusedWindow();
    scan(name);
    EXPECT_EQ(names(), (Names{"Temp\xC3\xA9rature", "\xC2\xB5m", "P", "_ln_Temp\xC3\xA9rature",
                              "_ln_\xC2\xB5m", "_ln_P"}));
    EXPECT_EQ(said(converted), 1);
    EXPECT_NE(logText().find(converted + "\n"), std::string::npos);
  }
  // UTF-8 names are kept as they are and nothing is said.
  writeFile("utf.dat", "Temp\xC3\xA9rature P\n1 2\n");
  runtime_->clearFocusedWindow();
  scan("utf.dat");
  EXPECT_EQ(names()[0], "Temp\xC3\xA9rature");
  EXPECT_EQ(runtime_->screen()[1], " numCol1=           2   numCol=           4");

  writeFile("tab.csv", "\"a\tb\",\"c\r\nd\",y\n1,2,3\n");
  scan("tab.csv");
  EXPECT_EQ(names(), (Names{"a b", "c d", "y", "_ln_a b", "_ln_c d", "_ln_y"}));

  // A path longer than the 100 characters of the old field is kept whole.
  const std::string longName = std::string(146, 'p') + ".dat";
  writeFile(longName, "A B\n1 2\n");
  runtime_->clearFocusedWindow();
  scan(longName);
  EXPECT_EQ(state_.data.dataFileName, longName);
  EXPECT_EQ(runtime_->screen().front(), " open " + longName);
  EXPECT_EQ(state_.data.nRows, 1);
}

}  // namespace
}  // namespace tavel::app::testing
