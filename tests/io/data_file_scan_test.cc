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

}  // namespace
}  // namespace tavel::io::testing
