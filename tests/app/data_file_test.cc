#include "app/data_file.h"

#include <filesystem>

#include "app/free_form_reader.h"
#include "app_test_support.h"

namespace tavel::app::testing {
namespace {

using Names = std::vector<std::string>;

Names trimmed(const Names& names) {
  Names out;
  for (const std::string& n : names) {
    EXPECT_EQ(n.size(), static_cast<std::size_t>(kNameLength));
    out.emplace_back(n.substr(0, n.find_last_not_of(' ') + 1));
  }
  return out;
}

TEST(HeaderToNames, SeparatorsCutsAndThe256Characters) {
  EXPECT_EQ(trimmed(headerToNames("X1 X2\tY")), (Names{"X1", "X2", "Y"}));
  EXPECT_EQ(trimmed(headerToNames("\t A\t\tB")), (Names{"A", "B"}));
  EXPECT_EQ(trimmed(headerToNames("~a,b~~c;d  (e)")), (Names{"a,b", "c;d", "(e)"}));
  EXPECT_EQ(trimmed(headerToNames("\xEF\xBB\xBF"
                                  "A B\r")),
            (Names{"A", "B"}));
  EXPECT_TRUE(headerToNames(" \t ~~ ").empty());
  EXPECT_EQ(trimmed(headerToNames(std::string(60, 'n') + " B")),
            (Names{std::string(50, 'n'), "B"}));
  // A name reaching the 256th character has no separator after it.
  EXPECT_EQ(trimmed(headerToNames("A " + std::string(254, 'z'))), (Names{"A"}));
  EXPECT_EQ(headerToNames("A " + std::string(253, 'z')).size(), 2u);
  EXPECT_TRUE(headerToNames(std::string(250, ' ') + "ABCDEFGHIJ K").empty());
  std::string many;
  for (int i = 0; i < 100; ++i) many += "v ";
  EXPECT_EQ(headerToNames(many).size(), 64u);
}

class DataFileTest : public AppTest {};

TEST_F(DataFileTest, ScanFillsTheTableAndResetsTheOptions) {
  writeFile("ab.dat", "A B\n1 2\n3 -4\n");
  state_.options.NumTerm = 7;
  state_.options.DelRsq = 0.5;
  state_.options.Equilibration = state_.options.ScreenCaptures = true;
  scan("ab.dat");
  const DataTable& d = state_.data;
  EXPECT_EQ(d.numCol1, 2);
  EXPECT_EQ(d.nRows, 2);
  EXPECT_EQ(d.numCol, 3);
  EXPECT_EQ(names(), (Names{"A", "B", "_ln_A"}));
  EXPECT_EQ(d.lnSource[2], 1);
  EXPECT_EQ(state_.options.NumTerm, 2);
  EXPECT_EQ(state_.options.DelRsq, 9.999999747378752e-05);
  EXPECT_FALSE(state_.options.Equilibration || state_.options.ScreenCaptures);
  // Left open and rewound for the Run.
  std::string line;
  ASSERT_EQ(runtime_->readLine(kDataUnit, line), platform::ReadResult::Success);
  EXPECT_EQ(line, "A B");
  const std::string open = " open ab.dat" + std::string(94, ' ');
  EXPECT_EQ(runtime_->screen().front(), open);
  EXPECT_EQ(logText().substr(0, open.size() + 1), open + "\n");
  EXPECT_EQ(runtime_->screen()[1], " numCol1=           2   numCol=           3");  // Prepare
}

TEST_F(DataFileTest, RowsOverLinesTextLinesZerosAndLongNames) {
  const std::string longName(55, 'L');
  writeFile("mix.dat", "A B " + longName + "\n1\n2 3\ntext line\n9 9 9\n4 0 5\n6 7 8\n");
  scan("mix.dat");
  EXPECT_EQ(state_.data.nRows, 3);
  EXPECT_EQ(names(),
            (Names{"A", "B", std::string(50, 'L'), "_ln_A", "_ln_" + std::string(46, 'L')}));
  EXPECT_EQ(state_.data.lnSource[4], 3);
  writeFile("one.dat", "Only\n5\n6\n");
  scan("one.dat");
  EXPECT_EQ(names(), (Names{"Only", "_ln_Only"}));
}

TEST_F(DataFileTest, HeaderOnlyEmptyAndSeparatorOnlyFiles) {
  writeFile("header.dat", "A B\n");
  state_.options.NumTerm = 5;
  scan("header.dat");
  EXPECT_EQ(state_.data.nRows, 0);
  EXPECT_EQ(state_.options.NumTerm, 2);
  EXPECT_EQ(runtime_->screen().size(), 1u);  // the "open" line; no Prepare dialog

  // A new name is created empty; the earlier file's table is not kept.
  writeFile("ab.dat", "A B\n1 2\n");
  scan("ab.dat");
  scan("new.dat");
  EXPECT_TRUE(exists("new.dat"));
  EXPECT_EQ(runtime_->screen().back(), " empty file");
  EXPECT_NE(logText().find(" empty file\n"), std::string::npos);
  EXPECT_EQ(state_.data.numCol1 + state_.data.numCol + state_.data.nRows, 0);

  writeFile("blank.dat", " \t \nwhatever\n1 2\n\n");
  scan("blank.dat");
  EXPECT_EQ(state_.data.numCol1, 0);
  EXPECT_EQ(state_.data.nRows, 3);
}

TEST_F(DataFileTest, CancelledOrUnreadableChoiceKeepsTheTable) {
  writeFile("ab.dat", "A B\n1 2\n3 4\n");
  scan("ab.dat");
  runtime_->queueFileChoice(std::nullopt);
  shell_->onInputDataFile(false);
  EXPECT_EQ(runtime_->lastOfferedFileName(), "ab.dat");
  EXPECT_EQ(runtime_->fileDialogTitles().back(), "Input Tavel Data File");

  std::filesystem::create_directory(path("folder.dat"));
  scan("folder.dat");
  EXPECT_EQ(runtime_->screen().back(), " error: cannot read folder.dat");
  EXPECT_NE(logText().find(" error: cannot read folder.dat"), std::string::npos);
  EXPECT_EQ(state_.data.dataFileName, "ab.dat");
  EXPECT_EQ(state_.data.nRows, 2);
  EXPECT_EQ(state_.data.numCol, 4);
  std::string line;  // the earlier file is open again
  ASSERT_EQ(runtime_->readLine(kDataUnit, line), platform::ReadResult::Success);
  EXPECT_EQ(line, "A B");
}

TEST_F(DataFileTest, RealFilesAndCapacities) {
  std::string file = "\xEF\xBB\xBFP\tQ\r\n1,2\r\n3 " + std::string(100000, ' ') + "4\r\n";
  file += std::string("\x01\xff\x00 5\n", 6) + "9 9\n-1 6\r\n";
  writeFile("real.dat", file);
  scan("real.dat");
  EXPECT_EQ(names(), (Names{"P", "Q", "_ln_Q"}));
  EXPECT_EQ(state_.data.nRows, 3);

  std::string header, row;
  for (int j = 1; j <= 70; ++j) {
    header += "c" + std::to_string(j) + " ";
    row += std::to_string(j) + " ";
  }
  writeFile("wide.dat", header + "\n" + row + "\n" + row + "\n");
  scan("wide.dat");
  EXPECT_EQ(state_.data.numCol1, 64);
  EXPECT_EQ(state_.data.numCol, 128);
  EXPECT_EQ(state_.data.colName[127].substr(0, 8), "_ln_c64 ");
  EXPECT_EQ(state_.data.lnSource[127], 64);
}

TEST_F(DataFileTest, ScanAndReReadSeeTheSameRows) {
  writeFile("tricky.dat",
            "A B C\r\n,5,,\r\n1 2\r\n3\r\n2*4 /\r\nx 1 1\r\n7 7 7\r\n8,,9 extra\r\n"
            "1e-60 2.5D1 3\r\nbad\r\n");
  state_.scanRow[0] = 11.0f;  // left by an earlier file: the first row keeps it
  scan("tricky.dat");
  ASSERT_EQ(state_.data.nRows, 5);
  EXPECT_FALSE(state_.data.allPositive[0]);  // 1e-60 is zero in single precision
  EXPECT_TRUE(state_.data.allPositive[1]);
  EXPECT_FALSE(state_.data.allPositive[2]);  // the first row keeps C's zero

  // The re-read as the Run does it: skip the header, start from the values
  // the scan started from, read doubles.
  ASSERT_TRUE(runtime_->rewind(kDataUnit));
  FreeFormReader reader(*runtime_, kDataUnit);
  ASSERT_EQ(reader.discardRecord(), platform::ReadResult::Success);
  std::vector<double> buf(state_.data.rowCarryIn.begin(), state_.data.rowCarryIn.begin() + 3);
  std::vector<std::vector<double>> rows;
  while (reader.nextRow(std::span<double>(buf))) rows.push_back(buf);
  EXPECT_EQ(rows, (std::vector<std::vector<double>>{
                      {11, 5, 0}, {1, 2, 3}, {4, 4, 3}, {8, 4, 9}, {1e-60, 25, 3}}));
}

}  // namespace
}  // namespace tavel::app::testing
