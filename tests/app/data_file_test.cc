#include "app/data_file.h"

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <span>

#include "app/free_form_reader.h"
#include "app/prepare_dialog.h"
#include "app_test_support.h"

namespace tavel::app::testing {
namespace {

std::vector<std::string> trimmed(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const std::string& n : names) {
    EXPECT_EQ(n.size(), static_cast<std::size_t>(kNameLength));
    out.emplace_back(n.substr(0, n.find_last_not_of(' ') + 1));
  }
  return out;
}

using Names = std::vector<std::string>;

TEST(HeaderToNames, SeparatorsAndCuts) {
  EXPECT_EQ(trimmed(headerToNames("X1 X2\tY")), (Names{"X1", "X2", "Y"}));
  EXPECT_EQ(trimmed(headerToNames("\t A\t\tB")), (Names{"A", "B"}));
  // "~" always separates; commas and punctuation belong to names.
  EXPECT_EQ(trimmed(headerToNames("~a,b~~c;d  (e)")), (Names{"a,b", "c;d", "(e)"}));
  EXPECT_TRUE(headerToNames("").empty());
  EXPECT_TRUE(headerToNames(" \t ~~ ").empty());
  // CRLF line end and a UTF-8 byte-order mark belong to no name.
  EXPECT_EQ(trimmed(headerToNames("\xEF\xBB\xBF"
                                  "A B\r")),
            (Names{"A", "B"}));
}

TEST(HeaderToNames, OnlyTheFirst256CharactersCount) {
  const std::string longName(60, 'n');
  EXPECT_EQ(trimmed(headerToNames(longName + " B")), (Names{std::string(50, 'n'), "B"}));
  // A name that reaches the 256th character has no separator after it.
  EXPECT_EQ(trimmed(headerToNames("A " + std::string(254, 'z'))), (Names{"A"}));
  EXPECT_EQ(trimmed(headerToNames("A " + std::string(253, 'z'))),
            (Names{"A", std::string(50, 'z')}));
  EXPECT_TRUE(headerToNames(std::string(300, 'q')).empty());
  // Beyond 256 characters nothing is read, however many names follow.
  std::string many;
  for (int i = 0; i < 200; ++i) many += "v ";
  EXPECT_EQ(headerToNames(many).size(), 64u);
  std::string late(250, ' ');
  late += "ABCDEFGHIJ K";
  EXPECT_TRUE(headerToNames(late).empty());
}

class DataFileTest : public AppTest {};

TEST_F(DataFileTest, ScanCountsRowsAndAddsLogVariables) {
  writeFile("ab.dat", "A B\n1 2\n3 -4\n");
  state_.options = RunOptions{};
  state_.options.NumTerm = 7;
  state_.options.DelRsq = 0.5;
  state_.options.Equilibration = true;
  state_.options.ScreenCaptures = true;
  scan("ab.dat");
  const DataTable& d = state_.data;
  EXPECT_EQ(d.numCol1, 2);
  EXPECT_EQ(d.nRows, 2);
  EXPECT_TRUE(d.allPositive[0]);
  EXPECT_FALSE(d.allPositive[1]);
  EXPECT_EQ(d.numCol, 3);
  EXPECT_EQ(names(), (Names{"A", "B", "_ln_A"}));
  EXPECT_EQ(d.lnSource[2], 1);
  EXPECT_EQ(d.dataFileName, "ab.dat");
  // The options are back at their defaults, DelRsq the float value of 1e-4.
  EXPECT_EQ(state_.options.NumTerm, 2);
  EXPECT_EQ(state_.options.DelRsq, 9.999999747378752e-05);
  EXPECT_FALSE(state_.options.Equilibration);
  EXPECT_FALSE(state_.options.ScreenCaptures);
  // The file stays open and rewound: its first line is the header again.
  std::string line;
  ASSERT_EQ(runtime_->readLine(kDataUnit, line), platform::ReadResult::Success);
  EXPECT_EQ(line, "A B");
  // Trace lines on the screen and in the log; then the Prepare dialog ran.
  const std::string open = " open ab.dat" + std::string(94, ' ');
  EXPECT_EQ(runtime_->screen().front(), open);
  EXPECT_EQ(logText().substr(0, open.size() + 1), open + "\n");
  EXPECT_NE(std::find(runtime_->screen().begin(), runtime_->screen().end(),
                      " numCol1=           2   numCol=           3"),
            runtime_->screen().end());
}

TEST_F(DataFileTest, RowsAcrossLinesTextLinesAndZeros) {
  // One row over two lines; a text line and the row after it are not
  // counted; a zero takes the log variable away, and a single positive
  // column still gets one.
  writeFile("mix.dat", "A B C\n1\n2 3\ntext line\n9 9 9\n4 0 5\n6 7 8\n");
  scan("mix.dat");
  EXPECT_EQ(state_.data.nRows, 3);
  EXPECT_EQ(names(), (Names{"A", "B", "C", "_ln_A", "_ln_C"}));
  EXPECT_EQ(state_.data.lnSource[3], 1);
  EXPECT_EQ(state_.data.lnSource[4], 3);

  writeFile("one.dat", "Only\n5\n6\n");
  scan("one.dat");
  EXPECT_EQ(names(), (Names{"Only", "_ln_Only"}));
}

TEST_F(DataFileTest, LogNameTakesTheFirst46Characters) {
  const std::string name(55, 'L');
  writeFile("long.dat", name + "\n1\n");
  scan("long.dat");
  ASSERT_EQ(state_.data.numCol, 2);
  EXPECT_EQ(state_.data.colName[0], std::string(50, 'L'));
  EXPECT_EQ(state_.data.colName[1], "_ln_" + std::string(46, 'L'));
}

TEST_F(DataFileTest, HeaderOnlyAndEmptyFiles) {
  writeFile("header.dat", "A B\n");
  state_.options.NumTerm = 5;
  scan("header.dat");
  EXPECT_EQ(state_.data.nRows, 0);
  EXPECT_EQ(state_.options.NumTerm, 2);  // still reset
  EXPECT_EQ(std::count(runtime_->screen().begin(), runtime_->screen().end(), " Prepare done:"), 0);
  EXPECT_EQ(runtime_->screen().size(), 1u);  // only the "open" line: no Prepare dialog

  // A name that does not exist is created empty and reported as empty, and
  // the earlier file's table is not offered any more.
  writeFile("ab.dat", "A B\n1 2\n");
  scan("ab.dat");
  ASSERT_EQ(state_.data.nRows, 1);
  scan("new.dat");
  EXPECT_TRUE(exists("new.dat"));
  EXPECT_EQ(runtime_->screen().back(), " empty file");
  EXPECT_EQ(state_.data.numCol1, 0);
  EXPECT_EQ(state_.data.nRows, 0);
  EXPECT_EQ(state_.data.numCol, 0);
  const std::string log = logText();
  EXPECT_NE(log.find(" empty file\n"), std::string::npos);
}

TEST_F(DataFileTest, HeaderOfSeparatorsOnlyCountsEveryRecord) {
  writeFile("blank.dat", " \t \nwhatever\n1 2\n\n");
  scan("blank.dat");
  EXPECT_EQ(state_.data.numCol1, 0);
  EXPECT_EQ(state_.data.nRows, 3);
}

TEST_F(DataFileTest, FileDialogOffersThePreviousNameAndCancelChangesNothing) {
  writeFile("ab.dat", "A B\n1 2\n");
  scan("ab.dat");
  const DataTable before = state_.data;
  runtime_->queueFileChoice(std::nullopt);
  shell_->onInputDataFile(false);
  EXPECT_EQ(runtime_->lastOfferedFileName(), "ab.dat");
  EXPECT_EQ(runtime_->fileDialogTitles().back(), "Input Tavel Data File");
  EXPECT_EQ(state_.data.colName, before.colName);
  EXPECT_EQ(state_.data.nRows, before.nRows);
}

TEST_F(DataFileTest, UnreadableChoiceKeepsTheTableAndTheOpenFile) {
  writeFile("ab.dat", "A B\n1 2\n3 4\n");
  scan("ab.dat");
  std::filesystem::create_directory(path("folder.dat"));
  scan("folder.dat");
  EXPECT_EQ(runtime_->screen().back(), " error: cannot read folder.dat");
  EXPECT_EQ(state_.data.dataFileName, "ab.dat");
  EXPECT_EQ(state_.data.nRows, 2);
  EXPECT_EQ(names(), (Names{"A", "B", "_ln_A", "_ln_B"}));
  EXPECT_NE(logText().find(" error: cannot read folder.dat"), std::string::npos);
  // The earlier file is open again for the Run.
  std::string line;
  ASSERT_EQ(runtime_->readLine(kDataUnit, line), platform::ReadResult::Success);
  EXPECT_EQ(line, "A B");
}

TEST_F(DataFileTest, RealFiles) {
  // CRLF line ends, a byte-order mark, a long line, binary junk.
  std::string file = "\xEF\xBB\xBFP\tQ\r\n1,2\r\n";
  file += "3 " + std::string(100000, ' ') + "4\r\n";
  file += std::string("\x01\x02\xff\x00 5\n", 7) + "9 9\n";
  file += "-1 6\r\n";
  writeFile("real.dat", file);
  scan("real.dat");
  EXPECT_EQ(names(), (Names{"P", "Q", "_ln_Q"}));
  EXPECT_EQ(state_.data.nRows, 3);
}

TEST_F(DataFileTest, SixtyFourColumnsAndTheirLogVariables) {
  std::string header, row;
  for (int j = 1; j <= 70; ++j) {
    header += "c" + std::to_string(j) + " ";
    row += std::to_string(j) + " ";
  }
  writeFile("wide.dat", header + "\n" + row + "\n" + row + "\n");
  scan("wide.dat");
  EXPECT_EQ(state_.data.numCol1, 64);
  EXPECT_EQ(state_.data.numCol, 128);
  EXPECT_EQ(state_.data.nRows, 2);
  EXPECT_EQ(state_.data.colName[127].substr(0, 7), "_ln_c64");
  EXPECT_EQ(state_.data.lnSource[127], 64);
}

TEST_F(DataFileTest, ScanAndReReadSeeTheSameRows) {
  // Continued rows, repeats, empty fields, a slash, an unreadable row with
  // the record it takes along, CRLF, and an unreadable last record.
  writeFile("tricky.dat",
            "A B C\r\n"
            ",5,,\r\n"
            "1 2\r\n"
            "3\r\n"
            "2*4 /\r\n"
            "x 1 1\r\n"
            "7 7 7\r\n"
            "8,,9 extra\r\n"
            "1e-60 2.5D1 3\r\n"
            "bad\r\n");
  state_.scanRow[0] = 11.0f;  // left by an earlier file: the first row keeps it
  scan("tricky.dat");
  ASSERT_EQ(state_.data.nRows, 5);
  EXPECT_FALSE(state_.data.allPositive[0]);  // 1e-60 is zero in single precision
  EXPECT_TRUE(state_.data.allPositive[1]);
  EXPECT_FALSE(state_.data.allPositive[2]);  // the first row keeps C's zero

  // The re-read as the Run does it: rewind, skip the header, start from the
  // scan's carried-in values, read doubles.
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
