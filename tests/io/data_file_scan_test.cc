// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <string>
#include <vector>

#include "io/data_file.h"
#include "io_test_support.h"

namespace tavel::io::testing {
namespace {

using Lines = std::vector<std::string>;

class ScanTest : public IoTest {
 protected:
  bool scan(std::string_view name, const ReadingRequest& request = {}) {
    return scanDataFile(*runtime_, request, path(name), table_, problems_, warnings_);
  }
  DataTable table_;
  Lines problems_;
  Lines warnings_;
};

TEST_F(ScanTest, TheRequestDecidesWhatTheNameDoesNot) {
  // Tab-separated cells in a .dat file: free form by its name and content,
  // CSV with tabs when asked.
  writeFile("t.dat", "A\tB\n1\t2\n3\t4\n");
  ASSERT_TRUE(scan("t.dat"));
  EXPECT_EQ(table_.csvSeparator, '\0');
  EXPECT_EQ(table_.nRows, 2);
  ReadingRequest tabs;
  tabs.readAsTsv = true;
  ASSERT_TRUE(scan("t.dat", tabs));
  EXPECT_EQ(table_.csvSeparator, '\t');
  EXPECT_EQ(table_.nRows, 2);
  EXPECT_EQ(table_.numCol, 4);  // both columns are positive: two log variables
  EXPECT_TRUE(problems_.empty());
}

TEST_F(ScanTest, ARefusalKeepsTheTableAndIsAddedToTheProblems) {
  writeFile("ab.dat", "A B\n1 2\n");
  ASSERT_TRUE(scan("ab.dat"));
  problems_ = {"earlier"};
  warnings_ = {"of the earlier file"};
  std::filesystem::create_directory(path("folder"));
  EXPECT_FALSE(scan("folder"));
  EXPECT_EQ(problems_,
            (Lines{"earlier", "error: cannot read " + path("folder") +
                                  ": it is not a regular file (a folder, pipe or device)"}));
  EXPECT_TRUE(warnings_.empty());
  EXPECT_EQ(table_.dataFileName, path("ab.dat"));
  EXPECT_EQ(table_.nRows, 1);
}

TEST_F(ScanTest, LinesThatDisagreeHereAndThereAreWarnings) {
  // Line 3 has one value too many; the other lines agree with the names.
  writeFile("w.dat", "A B\n1 2\n3 4 5\n6 7\n");
  ASSERT_TRUE(scan("w.dat"));
  EXPECT_EQ(warnings_,
            (Lines{"1 line has more values than names (the first at line 3): the values beyond "
                   "the names are not read"}));
  EXPECT_TRUE(problems_.empty());
}

// A runtime that has no reader of its own to give: the scan reads the rows
// after the survey, on its one thread.
class OneReader : public platform::headless::HeadlessRuntime {
 public:
  using HeadlessRuntime::HeadlessRuntime;
  std::unique_ptr<platform::TextSource> readAgain(std::string_view) override { return nullptr; }
};

// One that does, and counts how often it was asked.
class TwoReaders : public platform::headless::HeadlessRuntime {
 public:
  using HeadlessRuntime::HeadlessRuntime;
  std::unique_ptr<platform::TextSource> readAgain(std::string_view name) override {
    ++asked;
    return HeadlessRuntime::readAgain(name);
  }
  int asked = 0;
};

TEST_F(ScanTest, RowsReadBesideTheSurveyAreTheRowsReadAfterIt) {
  // Rows counted by hand. Free form: line 4 unreadable ("x"), line 6
  // incomplete (NA), line 7 takes B from line 5 (a slash); rows 2 3 5 7 8.
  // CSV: the same with an empty cell. Text in a column (a category, then a
  // label per row) stops the rows read beside the survey.
  struct Case {
    const char* name;
    const char* content;
    int rows;
    int numCol;  // with the log variables
  };
  const Case cases[] = {
      {"free.dat", "A B\n1 2\n3 4\nx 5\n6 7\n8 NA\n9 /\n-1 3\n", 5, 3},
      {"comma.csv", "A,B\n1,2\n3,4\nx,5\n6,7\n8,\n-1,3\n", 4, 3},
      {"site.dat", "S T\nn1 2\nn2 3\nn1 4\n", 3, 3},
      {"ids.csv", "ID,T\na,1\nb,-2\nc,3\n", 3, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(c.name, c.content);
    OneReader alone(dir_);
    TwoReaders two(dir_);
    DataTable afterSurvey, beside;
    Lines problems, warnings, problemsBeside;
    ASSERT_TRUE(scanDataFile(alone, {}, path(c.name), afterSurvey, problems, warnings));
    ASSERT_TRUE(scanDataFile(two, {}, path(c.name), beside, problemsBeside, warnings));
    EXPECT_EQ(two.asked, 1);
    EXPECT_EQ(beside.nRows, c.rows);
    EXPECT_EQ(beside.numCol, c.numCol);
    EXPECT_EQ(afterSurvey.nRows, beside.nRows);
    EXPECT_EQ(afterSurvey.colName, beside.colName);
    EXPECT_EQ(afterSurvey.allPositive, beside.allPositive);
    EXPECT_EQ(afterSurvey.cellLabels, beside.cellLabels);
    // The same lines on the screen: rows skipped, kept and labelled alike.
    EXPECT_EQ(alone.screen(), two.screen());
    EXPECT_EQ(problems, problemsBeside);
  }
}

}  // namespace
}  // namespace tavel::io::testing
