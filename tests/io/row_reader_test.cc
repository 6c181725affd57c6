// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/row_reader.h"

#include <string>
#include <vector>

#include "io_test_support.h"

namespace tavel::io::testing {
namespace {

using Rows = std::vector<std::vector<double>>;

RowFormat formatOf(char separator, CellPlan plan = {}, std::vector<double> carryIn = {}) {
  RowFormat format;
  format.csvSeparator = separator;
  format.plan = std::move(plan);
  format.carryIn = std::move(carryIn);
  return format;
}

RowFormat keepingNames() {
  RowFormat format = formatOf(',');
  format.headerKeepChars = 10;
  return format;
}

class RowReaderTest : public IoTest {
 protected:
  // Opens content as the data file and makes a reader of format for it.
  RowReader& open(std::string_view content, RowFormat format) {
    writeFile("rows.dat", content);
    runtime_->close(kDataUnit);
    EXPECT_TRUE(runtime_->openFile(kDataUnit, "rows.dat", false));
    reader_.reset();
    reader_ = std::make_unique<RowReader>(*runtime_, kDataUnit, std::move(format));
    return *reader_;
  }
  Rows allRows(RowReader& r, std::size_t n) {
    std::vector<double> buf(n, 0.0);
    Rows out;
    while (r.nextRow(std::span<double>(buf))) out.push_back(buf);
    return out;
  }
  std::unique_ptr<RowReader> reader_;
};

TEST_F(RowReaderTest, BothRulesTakeTheSameRowsAndCountLinesFromTheNames) {
  // Line 3 is unreadable and line 4 incomplete in both spellings.
  const CellPlan plan({ColumnKind::Number, ColumnKind::Number}, {},
                      CellPlan::NewLabels::Unreadable);
  for (const auto& [content, separator] : {std::pair{"A B\n1 2\nx 3\n4 NA\n5 6\n", '\0'},
                                           std::pair{"A,B\n1,2\nx,3\n4,NA\n5,6\n", ','}}) {
    SCOPED_TRACE(content);
    RowReader& r = open(content, formatOf(separator, plan));
    EXPECT_TRUE(r.hadHeader());
    EXPECT_EQ(allRows(r, 2), (Rows{{1, 2}, {5, 6}}));
    EXPECT_EQ(r.unreadableRows(), 1);
    EXPECT_EQ(r.firstUnreadableLine(), 3);
    EXPECT_EQ(r.firstUnreadableCell(), 0);
    EXPECT_EQ(r.firstUnreadableText(), "x");
    EXPECT_EQ(r.incompleteRows(), 1);
    EXPECT_EQ(r.firstIncompleteLine(), 4);
    EXPECT_FALSE(r.inputFailed());
  }
}

TEST_F(RowReaderTest, EveryRowSaysWhatBecameOfIt) {
  const CellPlan plan({ColumnKind::Number, ColumnKind::Number}, {},
                      CellPlan::NewLabels::Unreadable);
  for (const auto& [content, separator] : {std::pair{"A B\n1 2\nN/A 3\nx 3\n5 6\n", '\0'},
                                           std::pair{"A;B\n1;2\nN/A;3\nx;3\n5;6\n", ';'}}) {
    SCOPED_TRACE(content);
    RowReader& r = open(content, formatOf(separator, plan));
    std::vector<double> row(2, 0.0);
    std::vector<RowRead> got;
    for (RowRead k; (k = r.readRow(std::span<double>(row))) != RowRead::End;) got.push_back(k);
    EXPECT_EQ(got, (std::vector<RowRead>{RowRead::Row, RowRead::Incomplete, RowRead::Unreadable,
                                         RowRead::Row}));
    EXPECT_EQ(row, (std::vector<double>{5, 6}));
  }
}

TEST_F(RowReaderTest, TheFirstRowStartsFromTheCarryIn) {
  // Without a plan an empty field keeps the value before it: the carry-in
  // for the first row, then the row before.
  RowReader& r = open("A B C\n,5,6\n4 /\n", formatOf(0, {}, {7, 8, 9}));
  EXPECT_EQ(allRows(r, 3), (Rows{{7, 5, 6}, {4, 5, 6}}));
  EXPECT_EQ(r.rowsKeepingValues(), 2);
  EXPECT_EQ(r.firstKeepingLine(), 2);
}

TEST_F(RowReaderTest, AFileWithoutNamesHasNoRows) {
  for (char separator : {'\0', ','}) {
    RowReader& r = open("", formatOf(separator, {}, {1}));
    EXPECT_FALSE(r.hadHeader());
    std::vector<double> row(1, 0.0);
    EXPECT_FALSE(r.nextRow(std::span<double>(row)));
    EXPECT_EQ(r.readRow(std::span<double>(row)), RowRead::End);
  }
}

TEST_F(RowReaderTest, TheScansFormatReadsTheTableAsTheScanDid) {
  DataTable table;
  table.numCol1 = 2;
  table.csvSeparator = ';';
  table.cellKind = {ColumnKind::Category, ColumnKind::Number};
  table.cellLabels = {{"S1", "S2"}, {}};
  table.rowCarryIn = {0, 0};
  // Decimal commas with grouping points; S3 is a label the scan never saw.
  RowReader& r = open("site;T\nS2;1,5\nS3;2\nS1;1.234,5\n", rowFormat(table));
  EXPECT_EQ(allRows(r, 2), (Rows{{2, 1.5}, {1, 1234.5}}));
  EXPECT_EQ(r.unreadableRows(), 1);
  EXPECT_EQ(r.firstUnreadableLine(), 3);
}

TEST_F(RowReaderTest, APlanGivenAfterTheNamesCollectsLabels) {
  RowReader& r = open("site,T\nS2,1\nS1,2\nS2,3\n", keepingNames());
  EXPECT_EQ(r.headerCells(), (std::vector<std::string>{"site", "T"}));
  r.setPlan(CellPlan({ColumnKind::Category, ColumnKind::Number}, {}, CellPlan::NewLabels::Collect));
  std::vector<float> row(2, 0.0f);
  std::vector<std::vector<float>> got;
  while (r.nextRow(std::span<float>(row))) got.push_back(row);
  // Labels are numbered as they are first seen while collecting.
  EXPECT_EQ(got, (std::vector<std::vector<float>>{{1, 1}, {2, 2}, {1, 3}}));
  EXPECT_EQ(r.plan().labels()[0], (std::vector<std::string>{"S2", "S1"}));
}

}  // namespace
}  // namespace tavel::io::testing
