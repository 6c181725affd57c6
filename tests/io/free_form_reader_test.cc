// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/free_form_reader.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "io_test_support.h"

namespace tavel::io::testing {
namespace {

using Rows = std::vector<std::vector<double>>;

class FreeFormReaderTest : public IoTest {
 protected:
  // Every row nextRow gives for this file content, n values each from zeros.
  template <typename T = double>
  std::vector<std::vector<T>> rows(std::string_view content, std::size_t n) {
    writeFile("rows.dat", content);
    EXPECT_TRUE(runtime_->openFile(kDataUnit, "rows.dat", false));
    reader_ = std::make_unique<FreeFormReader>(*runtime_, kDataUnit);
    std::vector<T> buf(n, T(0));
    std::vector<std::vector<T>> out;
    while (reader_->nextRow(std::span<T>(buf))) out.push_back(buf);
    return out;
  }
  std::unique_ptr<FreeFormReader> reader_;
};

TEST_F(FreeFormReaderTest, RowForms) {
  const struct {
    const char* content;
    std::size_t n;
    Rows expected;
  } cases[] = {
      // Blanks, tabs, commas; integer, fixed and exponent (E and D) forms.
      {"1 2.5\t-3e2\n+.5,4.,1D-2\n", 3, {{1, 2.5, -300}, {0.5, 4, 0.01}}},
      // A row continues over lines (empty ones too); the rest of its last
      // line is ignored, even unreadable text; CR belongs to no value.
      {"1\n\n2\n3 4 x;\r\n5 6\r\n", 2, {{1, 2}, {3, 4}, {5, 6}}},
      // Repeats, empty fields (also a leading one, and blanks between two
      // commas) and a slash keep the previous row's values.
      {"3*7\n2*, 9\n4,,6\n,8 , ,\n5 / junk\n",
       3,
       {{7, 7, 7}, {7, 7, 9}, {4, 7, 6}, {4, 8, 6}, {5, 8, 6}}},
      // A comma ending a line and one starting the next: an empty field.
      {"1 2 3\n4,\n,6\n", 3, {{1, 2, 3}, {4, 2, 6}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    EXPECT_EQ(rows(c.content, c.n), c.expected);
  }
}

TEST_F(FreeFormReaderTest, UnreadableRowsAreSkippedWithTheRecordAfterThem) {
  for (std::string_view bad : std::initializer_list<std::string_view>{
           "abc 1", "1;2", "nan 1", "inf 1", "1e", "1.2.3 4", "0*3", "2*x", "1e999 1",
           std::string_view("1 \0", 3)}) {
    SCOPED_TRACE(std::string(bad));
    EXPECT_EQ(rows("1 1\n" + std::string(bad) + "\n2 2\n3 3\n", 2), (Rows{{1, 1}, {3, 3}}));
  }
  // Inside a continued row, and as the last records: the read just ends.
  EXPECT_EQ(rows("1\nx\n5 5\n6 6\n", 2), (Rows{{6, 6}}));
  EXPECT_EQ(rows("1 1\nword\n", 2), (Rows{{1, 1}}));
  EXPECT_EQ(rows("1 1\nword\n2 2\n", 2), (Rows{{1, 1}}));
  EXPECT_EQ(rows("1 1\n2\n", 2), (Rows{{1, 1}}));  // the file ends inside a row
  // An unreadable row changes nothing that a later empty field could keep.
  EXPECT_EQ(rows("1 1\n7 x\nskipped\n,2\n", 2), (Rows{{1, 1}, {1, 2}}));
  // A row of no values takes one record, whatever it holds.
  EXPECT_EQ(rows("text\n\n", 0).size(), 2u);
  EXPECT_FALSE(reader_->inputFailed());
}

TEST_F(FreeFormReaderTest, LongRecordsArePiecedAtFieldsAndCountsSayWhere) {
  // Values that straddle the reader's 64 kB pieces, and a field longer than
  // it keeps: that row is unreadable (and takes the next record with it).
  const std::string gap(65533, ' ');
  const std::string longField = "1" + std::string(FreeFormReader::kMaxFieldChars, '0');
  EXPECT_EQ(rows(gap + "123456,\t" + gap + "7.5e1\n" + longField + " 1\nskipped\n8,,\n", 2),
            (Rows{{123456, 75}, {8, 75}}));
  EXPECT_EQ(reader_->unreadableRows(), 1);
  EXPECT_EQ(reader_->firstUnreadableLine(), 2);
  EXPECT_EQ(reader_->rowsKeepingValues(), 1);
  EXPECT_EQ(reader_->firstKeepingLine(), 4);

  // Line numbers count the records before the reader too (a data file's
  // header); rows left incomplete by a slash or by r* are counted.
  writeFile("n.dat", "H\n1 2\nx\ny\n3 /\n2*\nz\n");
  ASSERT_TRUE(runtime_->openFile(kDataUnit, "n.dat", false));
  std::string header;
  ASSERT_EQ(runtime_->readLine(kDataUnit, header), platform::ReadResult::Success);
  FreeFormReader reader(*runtime_, kDataUnit, 1);
  std::vector<double> buf(2);
  int n = 0;
  while (reader.nextRow(std::span<double>(buf))) ++n;
  EXPECT_EQ(n, 3);
  EXPECT_EQ(reader.unreadableRows(), 2);
  EXPECT_EQ(reader.firstUnreadableLine(), 3);
  EXPECT_EQ(reader.rowsKeepingValues(), 2);
  EXPECT_EQ(reader.firstKeepingLine(), 5);
}

TEST_F(FreeFormReaderTest, SinglePrecisionRanges) {
  const auto r = rows<float>("0.1 1e-50 1e39 3.4028235e38 1e-40\n", 5);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0][0], 0.1f);                                    // rounded once, to the nearest float
  EXPECT_EQ(r[0][1], 0.0f);                                    // underflows to zero: not positive
  EXPECT_EQ(r[0][2], std::numeric_limits<float>::infinity());  // fits a double only
  EXPECT_EQ(r[0][3], std::numeric_limits<float>::max());
  EXPECT_GT(r[0][4], 0.0f);  // subnormal, still positive
  EXPECT_EQ(rows("0.1 1e-50 1e39\n", 3), (Rows{{0.1, 1e-50, 1e39}}));
}

TEST_F(FreeFormReaderTest, UnitThatCannotBeReadEndsTheRead) {
  std::vector<double> buf(2);
  FreeFormReader r(*runtime_, 9);  // nothing open on unit 9
  EXPECT_FALSE(r.nextRow(std::span<double>(buf)));
  EXPECT_TRUE(r.inputFailed());
}

// The survey's quick test of a cell and the reading of its value agree,
// also where only the conversion can tell (the double range's edges).
TEST(FreeFormNumber, QuickTestOfACellAgreesWithItsReading) {
  const std::string digits309 = "1" + std::string(308, '0');  // 1e308: still a double
  const std::string digits310 = "1" + std::string(309, '0');  // 1e309: beyond
  const std::string zeros = std::string(400, '0') + "1";      // leading zeros: 1
  const std::string tiny = "0." + std::string(400, '0') + "1";
  const std::string bigFraction = digits310 + ".5";
  const std::vector<std::pair<std::string, bool>> cells = {
      {"1", true},        {"-0.5", true},   {"+.5", true},     {"5.", true},
      {"1.5d2", true},    {"1e308", true},  {"1e309", false},  {"-1e309", false},
      {"1e-400", true},   {"1d-400", true}, {digits309, true}, {"-" + digits309, true},
      {digits310, false}, {zeros, true},    {tiny, true},      {bigFraction, false},
      {"", false},        {".", false},     {"+-1", false},    {"1e", false},
      {"nan", false},     {"inf", false},   {"1,5", false},    {"2024-01-05", false}};
  for (const auto& [cell, number] : cells) {
    double v = 0;
    EXPECT_EQ(isRealValue(cell), number) << cell.substr(0, 20);
    EXPECT_EQ(readRealValue(cell, v), number) << cell.substr(0, 20);
  }
}

// Short decimals take a quicker conversion: every value must still be the
// correctly rounded one that the standard conversion gives, in both
// precisions, also at the edges of what the quick way takes.
TEST(FreeFormNumber, DecimalsReadAsTheStandardConversionReadsThem) {
  std::vector<std::string> texts = {"16777216",
                                    "16777217",
                                    "1.6777217",
                                    "0.16777215",
                                    "9007199254740992",
                                    "9007199254740993",
                                    "0.1",
                                    "-0",
                                    "-0.0",
                                    "+0.5",
                                    "5.",
                                    ".5",
                                    "0.3",
                                    "2.968148",
                                    "1234567.0",
                                    "0.0000000001",
                                    "0.00000000001",
                                    "1.00000000000000000001"};
  std::mt19937_64 random(7);
  for (int k = 0; k < 20000; ++k) {
    std::string t = random() % 2 ? "-" : "";
    const int whole = static_cast<int>(random() % 10);
    const int fraction = static_cast<int>(random() % 16);
    for (int d = 0; d < whole; ++d) t += static_cast<char>('0' + random() % 10);
    if (whole == 0 || fraction > 0) t += '.';
    for (int d = 0; d < std::max(fraction, whole == 0 ? 1 : 0); ++d)
      t += static_cast<char>('0' + random() % 10);
    texts.push_back(t);
  }
  for (const std::string& t : texts) {
    const std::string_view plain =
        t[0] == '+' ? std::string_view(t).substr(1) : std::string_view(t);
    float f = 0, fExpected = 0;
    double d = 0, dExpected = 0;
    std::from_chars(plain.data(), plain.data() + plain.size(), fExpected);
    std::from_chars(plain.data(), plain.data() + plain.size(), dExpected);
    ASSERT_TRUE(readRealValue(t, f) && readRealValue(t, d)) << t;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(f), std::bit_cast<std::uint32_t>(fExpected)) << t;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(d), std::bit_cast<std::uint64_t>(dExpected)) << t;
  }
}

TEST(FreeFormNumber, EditBoxTexts) {
  int i = 7;
  double d = 1;
  EXPECT_TRUE(readFreeFormNumber("  +12 junk", i));  // the first field only
  EXPECT_EQ(i, 12);
  EXPECT_TRUE(readFreeFormNumber("2*5", i));
  EXPECT_EQ(i, 5);
  EXPECT_TRUE(readFreeFormNumber("5e-3", d));
  EXPECT_EQ(d, 0.005);
  EXPECT_TRUE(readFreeFormNumber("1.5d2", d));
  EXPECT_EQ(d, 150.0);
  // Texts that leave the setting as it was.
  for (std::string_view keep :
       std::initializer_list<std::string_view>{"", "   ", "abc", ",5", "/", "2*", "nan", "1e999"}) {
    EXPECT_FALSE(readFreeFormNumber(keep, i) || readFreeFormNumber(keep, d)) << keep;
  }
  EXPECT_FALSE(readFreeFormNumber("4.0", i) || readFreeFormNumber("99999999999", i));
  EXPECT_EQ(i, 5);
  EXPECT_EQ(d, 150.0);
}

}  // namespace
}  // namespace tavel::io::testing
