#include "app/free_form_reader.h"

#include <cmath>
#include <limits>
#include <vector>

#include "app_test_support.h"

namespace tavel::app::testing {
namespace {

using platform::ReadResult;

class FreeFormReaderTest : public AppTest {
 protected:
  // Opens a file with this content on the data unit.
  FreeFormReader& open(std::string_view content) {
    writeFile("rows.dat", content);
    EXPECT_TRUE(runtime_->openFile(kDataUnit, "rows.dat", false));
    reader_ = std::make_unique<FreeFormReader>(*runtime_, kDataUnit);
    return *reader_;
  }
  // Every row nextRow returns, n values each, starting from zeros.
  template <typename T>
  std::vector<std::vector<T>> rows(std::string_view content, std::size_t n) {
    FreeFormReader& r = open(content);
    std::vector<T> buf(n, T(0));
    std::vector<std::vector<T>> out;
    while (r.nextRow(std::span<T>(buf))) out.push_back(buf);
    return out;
  }
  std::unique_ptr<FreeFormReader> reader_;
};

using Rows = std::vector<std::vector<double>>;

TEST_F(FreeFormReaderTest, SeparatorsNotationsAndContinuation) {
  // Blanks, tabs and commas; integer, fixed and exponent forms (E and D).
  EXPECT_EQ(rows<double>("1 2.5\t-3e2\n+.5,4.,1D-2\n", 3), (Rows{{1, 2.5, -300}, {0.5, 4, 0.01}}));
  // A row that one line does not complete goes on over the next lines, and
  // empty lines inside it count as blanks.
  EXPECT_EQ(rows<double>("1\n\n2\n3 4\n", 2), (Rows{{1, 2}, {3, 4}}));
  // Values beyond the row on its last line are ignored, even unreadable ones.
  EXPECT_EQ(rows<double>("1 2 3 x;\n4 5\n", 2), (Rows{{1, 2}, {4, 5}}));
  // A carriage return before the line end belongs to no value.
  EXPECT_EQ(rows<double>("1 2\r\n3 4\r\n", 2), (Rows{{1, 2}, {3, 4}}));
}

TEST_F(FreeFormReaderTest, RepeatsEmptyFieldsAndSlashKeepThePreviousRow) {
  EXPECT_EQ(rows<double>("3*7\n2*, 9\n", 3), (Rows{{7, 7, 7}, {7, 7, 9}}));
  // An empty field keeps the value of the row before; so does a leading comma.
  EXPECT_EQ(rows<double>("1 2 3\n4,,6\n,8,\n9\n", 3), (Rows{{1, 2, 3}, {4, 2, 6}, {4, 8, 9}}));
  // Blanks around a comma belong to it; blanks between two commas do not
  // make them one separator.
  EXPECT_EQ(rows<double>("1 , 2 , 3\n4 , , 6\n", 3), (Rows{{1, 2, 3}, {4, 2, 6}}));
  // A slash ends the row early; the rest of its record is not read.
  EXPECT_EQ(rows<double>("1 2 3\n5 / junk\n/\n", 3), (Rows{{1, 2, 3}, {5, 2, 3}, {5, 2, 3}}));
  // A comma at the end of a line and one at the start of the next are two
  // separators with a blank between them: an empty field.
  EXPECT_EQ(rows<double>("1 2 3\n4,\n,6\n", 3), (Rows{{1, 2, 3}, {4, 2, 6}}));
}

TEST_F(FreeFormReaderTest, UnreadableRowIsSkippedWithTheRecordAfterIt) {
  // Words, semicolons, nan, inf, NUL bytes, bad repeats and numbers beyond
  // the double range are all unreadable.
  for (std::string_view bad : std::initializer_list<std::string_view>{
           "abc 1", "1;2", "nan 1", "inf 1", "1 -Infinity", "1e", "1.2.3 4", "0*3", "*3", "2*x",
           "1e999 1", std::string_view("1 \0", 3)}) {
    SCOPED_TRACE(std::string(bad));
    std::string file = "1 1\n" + std::string(bad) + "\n2 2\n3 3\n";
    EXPECT_EQ(rows<double>(file, 2), (Rows{{1, 1}, {3, 3}}));
    EXPECT_EQ(reader_->unreadableRows(), 1);
  }
  // An unreadable row inside a continued row: its record is the second line.
  EXPECT_EQ(rows<double>("1\nx\n5 5\n6 6\n", 2), (Rows{{6, 6}}));
}

TEST_F(FreeFormReaderTest, UnreadableLastRecordsEndLikeEndOfFile) {
  EXPECT_EQ(rows<double>("1 1\nword\n", 2), (Rows{{1, 1}}));
  EXPECT_EQ(rows<double>("1 1\nword\n2 2\n", 2), (Rows{{1, 1}}));
  // A row the file ends in the middle of is not a row.
  EXPECT_EQ(rows<double>("1 1\n2\n", 2), (Rows{{1, 1}}));
  EXPECT_FALSE(reader_->inputFailed());
}

TEST_F(FreeFormReaderTest, FailedRowLeavesTheBufferUnchanged) {
  FreeFormReader& r = open("4 5 x\n,,9\n");
  std::vector<double> buf = {1, 2, 3};
  EXPECT_EQ(r.readRow(std::span<double>(buf)), ReadResult::Error);
  EXPECT_EQ(buf, (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(r.readRow(std::span<double>(buf)), ReadResult::Success);
  EXPECT_EQ(buf, (std::vector<double>{1, 2, 9}));
  EXPECT_EQ(r.readRow(std::span<double>(buf)), ReadResult::EndOfFile);
}

TEST_F(FreeFormReaderTest, RowOfNoValuesConsumesOneRecord) {
  FreeFormReader& r = open("anything at all\n\n");
  std::span<float> none;
  EXPECT_EQ(r.readRow(none), ReadResult::Success);
  EXPECT_EQ(r.readRow(none), ReadResult::Success);
  EXPECT_EQ(r.readRow(none), ReadResult::EndOfFile);
}

TEST_F(FreeFormReaderTest, SinglePrecisionRangesAndRounding) {
  const auto r = rows<float>("0.1 1e-50 -1e-50 1e39 3.4028235e38 1e-40\n", 6);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0][0], 0.1f);  // rounded once, to the nearest float
  EXPECT_EQ(r[0][1], 0.0f);  // underflows to zero: not positive
  EXPECT_FALSE(r[0][1] > 0.0f);
  EXPECT_TRUE(std::signbit(r[0][2]));
  EXPECT_EQ(r[0][3], std::numeric_limits<float>::infinity());  // a double, but no float
  EXPECT_EQ(r[0][4], std::numeric_limits<float>::max());
  EXPECT_GT(r[0][5], 0.0f);  // subnormal, still positive
  // The same text in double precision keeps every value.
  const auto d = rows<double>("0.1 1e-50 1e39\n", 3);
  EXPECT_EQ(d, (Rows{{0.1, 1e-50, 1e39}}));
}

TEST_F(FreeFormReaderTest, UnreadableUnitEndsTheRead) {
  std::vector<double> buf(2);
  FreeFormReader r(*runtime_, 9);  // nothing open on unit 9
  EXPECT_FALSE(r.nextRow(std::span<double>(buf)));
  EXPECT_TRUE(r.inputFailed());
}

TEST(FreeFormNumber, WholeNumbers) {
  int v = 7;
  EXPECT_TRUE(readFreeFormNumber("4", v));
  EXPECT_EQ(v, 4);
  EXPECT_TRUE(readFreeFormNumber("  +12 junk", v));  // the first field only
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(readFreeFormNumber("-3,", v));
  EXPECT_EQ(v, -3);
  EXPECT_TRUE(readFreeFormNumber("2*5", v));
  EXPECT_EQ(v, 5);
  for (std::string_view keep : std::initializer_list<std::string_view>{
           "", "   ", "4.0", "abc", ",5", "/", "2*", "99999999999", "1e2"}) {
    v = 7;
    EXPECT_FALSE(readFreeFormNumber(keep, v)) << keep;
    EXPECT_EQ(v, 7) << keep;
  }
}

TEST(FreeFormNumber, FloatingPoint) {
  double v = 1;
  EXPECT_TRUE(readFreeFormNumber("1.0E-04", v));
  EXPECT_EQ(v, 0.0001);
  EXPECT_TRUE(readFreeFormNumber("5e-3", v));
  EXPECT_EQ(v, 0.005);
  EXPECT_TRUE(readFreeFormNumber("3", v));
  EXPECT_EQ(v, 3.0);
  EXPECT_TRUE(readFreeFormNumber("1.5d2", v));
  EXPECT_EQ(v, 150.0);
  for (std::string_view keep :
       std::initializer_list<std::string_view>{"", "abc", "nan", "inf", "1e999", ",5e"}) {
    v = 1;
    EXPECT_FALSE(readFreeFormNumber(keep, v)) << keep;
    EXPECT_EQ(v, 1) << keep;
  }
}

}  // namespace
}  // namespace tavel::app::testing
