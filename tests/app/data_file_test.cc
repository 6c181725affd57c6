// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/data_file.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app_test_support.h"
#include "io/csv_reader.h"
#include "io/free_form_reader.h"
#include "io/trace.h"

namespace tavel::app::testing {
namespace {

using Names = std::vector<std::string>;

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
  // The text line is skipped alone: the row after it counts.
  writeFile("mix.dat", "A B " + longName + "\n1\n2 3\ntext line\n9 9 9\n4 0 5\n6 7 8\n");
  scan("mix.dat");
  EXPECT_EQ(state_.data.nRows, 4);
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
}

TEST_F(DataFileTest, FirstLineWithoutNamesIsRefusedAndClearsTheTable) {
  writeFile("ab.dat", "A B\n1 2\n");
  scan("ab.dat");
  for (const char* file : {"blank.dat", "seps.dat"}) {
    SCOPED_TRACE(file);
    writeFile("blank.dat", "\n1 2\n3 4\n");
    writeFile("seps.dat", " \t ~~ \nwhatever\n1 2\n\n");
    runtime_->clearFocusedWindow();
    state_.problems.clear();
    scan(file);
    const std::string line = std::string("no column names in the first line of ") + file;
    EXPECT_EQ(runtime_->screen(), (Names{" open " + padded(file, 100), " " + line}));
    EXPECT_NE(logText().find(" " + line + "\n"), std::string::npos);
    EXPECT_EQ(state_.problems, (Names{line}));
    EXPECT_EQ(state_.data.numCol1 + state_.data.numCol + state_.data.nRows, 0);
    EXPECT_TRUE(state_.data.colName.empty());
  }
  EXPECT_TRUE(runtime_->invokeMenu("&Prepare"));  // nothing to prepare
  EXPECT_EQ(runtime_->screen().size(), 2u);
}

TEST_F(DataFileTest, CancelledOrUnreadableChoiceKeepsTheTable) {
  writeFile("ab.dat", "A B\n1 2\n3 4\n");
  scan("ab.dat");
  runtime_->queueFileChoice(std::nullopt);
  shell_->onInputDataFile(false);
  EXPECT_EQ(runtime_->lastOfferedFileName(), "ab.dat");
  EXPECT_EQ(runtime_->fileDialogTitles().back(), "Input Tavel Data File");

  EXPECT_TRUE(state_.problems.empty());

  // A folder or a pipe is refused at once (a pipe must never be waited on)
  // and the earlier file stays chosen and open.
  std::filesystem::create_directory(path("folder.dat"));
  ASSERT_EQ(::mkfifo(path("pipe.dat").c_str(), 0600), 0);
  for (const char* file : {"folder.dat", "pipe.dat"}) {
    SCOPED_TRACE(file);
    scan(file);
    const std::string refusal = std::string("error: cannot read ") + file +
                                ": it is not a regular file (a folder, pipe or device)";
    EXPECT_EQ(runtime_->screen().back(), " " + refusal);
    EXPECT_NE(logText().find(" " + refusal + "\n"), std::string::npos);
    EXPECT_EQ(state_.problems.back(), refusal);
    EXPECT_EQ(state_.data.dataFileName, "ab.dat");
    EXPECT_EQ(state_.data.nRows, 2);
    EXPECT_EQ(state_.data.numCol, 4);
    std::string line;
    ASSERT_EQ(runtime_->readLine(kDataUnit, line), platform::ReadResult::Success);
    EXPECT_EQ(line, "A B");
    runtime_->rewind(kDataUnit);
  }
  // The data file is only read, never written.
  EXPECT_FALSE(runtime_->writeLine(kDataUnit, "x"));
  runtime_->close(kDataUnit);
  EXPECT_EQ(readFile("ab.dat"), "A B\n1 2\n3 4\n");
}

TEST_F(DataFileTest, RealFilesAndCapacities) {
  std::string file = "\xEF\xBB\xBFP\tQ\r\n1,2\r\n3 " + std::string(100000, ' ') + "4\r\n";
  file += std::string("\x01\xff\x00 5\n", 6) + "9 9\n-1 6\r\n";
  writeFile("real.dat", file);
  scan("real.dat");
  EXPECT_EQ(names(), (Names{"P", "Q", "_ln_Q"}));
  EXPECT_EQ(state_.data.nRows, 4);

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

TEST_F(DataFileTest, EveryFileStartsFromZerosInScanAndReRead) {
  // The earlier file's last row must not fill the new file's first row.
  writeFile("earlier.dat", "A B C\n11 12 13\n");
  scan("earlier.dat");
  writeFile("tricky.dat",
            "A B C\r\n,5,,\r\n1 2\r\n3\r\n2*4 /\r\nx 1 1\r\n7 7 7\r\n8,,9 extra\r\n"
            "1e-60 2.5D1 3\r\nbad\r\n");
  scan("tricky.dat");
  ASSERT_EQ(state_.data.nRows, 6);
  EXPECT_FALSE(state_.data.allPositive[0]);  // the first row's A is zero
  EXPECT_TRUE(state_.data.allPositive[1]);
  EXPECT_FALSE(state_.data.allPositive[2]);
  EXPECT_EQ(state_.data.rowCarryIn, (std::vector<double>{0, 0, 0}));

  // The re-read as the Run does it: skip the header, start from the values
  // the scan started from, read doubles.
  ASSERT_TRUE(runtime_->rewind(kDataUnit));
  FreeFormReader reader(*runtime_, kDataUnit);
  CellPlan plan = readingPlan(state_.data);
  reader.setPlan(&plan);
  ASSERT_EQ(reader.discardRecord(), platform::ReadResult::Success);
  std::vector<double> buf(state_.data.rowCarryIn);
  std::vector<std::vector<double>> rows;
  while (reader.nextRow(std::span<double>(buf))) rows.push_back(buf);
  // "x 1 1" is skipped alone; the empty field of "8,,9" keeps the 7 before.
  EXPECT_EQ(rows, (std::vector<std::vector<double>>{
                      {0, 5, 0}, {1, 2, 3}, {4, 4, 3}, {7, 7, 7}, {8, 7, 9}, {1e-60, 25, 3}}));
}

TEST_F(DataFileTest, WhatTheReadingRulesDidIsSaidOnce) {
  // Lone carriage returns end lines. Lines 3 and 7 are unreadable, each
  // alone; line 5 ends its row with a slash, line 6 leaves A out.
  writeFile("rules.dat", "A B C\r1 2 3\rx 1 1\r7 7 7\r4 / \r,5,6\rbad\r8 8 8\r9 9 9\r");
  scan("rules.dat");
  EXPECT_EQ(state_.data.nRows, 6);
  EXPECT_EQ(names(), (Names{"A", "B", "C", "_ln_A", "_ln_B", "_ln_C"}));
  const Names said = {
      " 2 unreadable rows skipped: a cell that is not a number (the first at line 3: 'x' in "
      "column 'A')",
      " 2 rows with empty fields or a slash took the values left out from the row before (zero "
      "in the first row; the first at line 5)"};
  ASSERT_GE(runtime_->screen().size(), 3u);
  EXPECT_EQ(Names(runtime_->screen().begin() + 1, runtime_->screen().begin() + 3), said);
  const std::string log = logText();
  for (const std::string& line : said) EXPECT_NE(log.find(line + "\n"), std::string::npos);

  // Equal names, one equal to a log variable's name, and too many names,
  // some of them past the 256th character (each name here is two letters
  // and a blank, 3 characters: 70 of them fill 210 characters).
  std::string header;
  for (int i = 0; i < 70; ++i) header += std::string{char('a' + i / 26), char('a' + i % 26), ' '};
  header += std::string(60, 'z') + " y x";
  writeFile("names.dat", "B B _ln_A A\n-1 2 3 4\n");
  writeFile("wide.dat", header + "\n1\n");
  runtime_->clearFocusedWindow();
  scan("names.dat");
  EXPECT_EQ(names(), (Names{"B", "B", "_ln_A", "A", "_ln_B", "_ln__ln_A", "_ln_A"}));
  ASSERT_GE(runtime_->screen().size(), 2u);
  EXPECT_EQ(runtime_->screen()[1],
            " names that cannot be told apart (equal in their first 50 characters, or equal to a "
            "log variable's name): B, _ln_A");
  runtime_->clearFocusedWindow();
  scan("wide.dat");
  EXPECT_EQ(state_.data.numCol1, 64);
  EXPECT_EQ(runtime_->screen(),
            (Names{" open wide.dat" + std::string(92, ' '),
                   " 9 names beyond the 64th dropped: only 64 columns are read"}));

  // A log variable's name is cut at a whole character too.
  writeFile("utf.dat", std::string(45, 'b') + "\xC3\xA9x\n1\n");
  scan("utf.dat");
  ASSERT_EQ(state_.data.numCol, 2);
  EXPECT_EQ(state_.data.colName[1], "_ln_" + std::string(45, 'b') + " ");

  // A file the rules read as it stands says nothing more.
  runtime_->clearFocusedWindow();
  writeFile("plain.dat", "P Q\n1 2\n3 4\n");
  scan("plain.dat");
  EXPECT_EQ(runtime_->screen()[1], " numCol1=           2   numCol=           4");  // Prepare
}

// A spreadsheet's export: quoted names, either dialect, and rows skipped
// alone with the line of the first of each kind.
TEST_F(DataFileTest, CsvNamesDialectsAndSkippedRows) {
  writeFile("q.CSV",
            "\xEF\xBB\xBF\"T [K]\", \"a,\"\"b\"\"\" ,C,,\r\n"
            "1,2,3\r\n"
            "4,NA,6\r\n"
            "\r\n"
            "7,8\r\n"
            "9,x,1\r\n"
            "\"1.5\",2,3,,\r\n"
            "2,3,4,5\r\n"
            "1,2,\"3\r\n"
            "n/a,2,3\r\n");
  scan("q.CSV");
  EXPECT_EQ(names(), (Names{"T [K]", "a,\"b\"", "C", "_ln_T [K]", "_ln_a,\"b\"", "_ln_C"}));
  EXPECT_EQ(state_.data.nRows, 2);
  const Names said = {" read as CSV: cells separated by commas",
                      " 3 incomplete rows skipped for a missing value (a cell empty, NA, NaN, "
                      "N/A or .; the first at line 3)",
                      " 3 unreadable rows skipped: a cell that is not a number (the first at "
                      "line 6: 'x' in column 'a,\"b\"')"};
  const std::string log = logText();
  for (const std::string& line : said) {
    EXPECT_EQ(std::count(runtime_->screen().begin(), runtime_->screen().end(), line), 1) << line;
    EXPECT_NE(log.find(line + "\n"), std::string::npos) << line;
  }

  // Semicolons and decimal commas; a quoted name over two lines; a name of
  // 50 bytes cut before a two-byte character. Points group digits there:
  // "1.234,5" is 1234.5, and "1.5", which groups nothing, is not read.
  const std::string e = "\xC3\xA9";
  writeFile("s.csv", "A;\"B\n;1\";" + std::string(49, 'c') + e +
                         "\n1,5;-2;3e0\n\" 2,5 \";1;.\n1.5;2,5;1,1\n1.234,5;3.459;1.000.000\n");
  scan("s.csv");
  EXPECT_EQ(names(),
            (Names{"A", "B ;1", std::string(49, 'c'), "_ln_A", "_ln_" + std::string(46, 'c')}));
  EXPECT_EQ(state_.data.nRows, 2);
  EXPECT_EQ(std::count(runtime_->screen().begin(), runtime_->screen().end(),
                       " 1 incomplete row skipped for a missing value (a cell empty, NA, NaN, N/A "
                       "or .; the first at line 4)"),
            1);
  EXPECT_EQ(std::count(runtime_->screen().begin(), runtime_->screen().end(),
                       " 1 unreadable row skipped: a cell that is not a number (the first at line "
                       "5: '1.5' in column 'A')"),
            1);
  {
    ASSERT_TRUE(runtime_->rewind(kDataUnit));
    CsvReader reader(*runtime_, kDataUnit, ';');
    CellPlan plan = readingPlan(state_.data);
    reader.setPlan(&plan);
    std::vector<std::string> header;
    ASSERT_TRUE(reader.readHeader(header, 0));
    std::vector<double> row(3);
    ASSERT_TRUE(reader.nextRow(std::span<double>(row)));
    EXPECT_EQ(row, (std::vector<double>{1.5, -2, 3}));
    ASSERT_TRUE(reader.nextRow(std::span<double>(row)));
    EXPECT_EQ(row, (std::vector<double>{1234.5, 3459, 1e6}));
  }

  // Under another name the content decides: commas that agree line by line
  // while blanks do not split the file alike make it CSV; tavel-batch --csv
  // makes any file CSV.
  writeFile("s.txt", "A,B\n1,2\n");
  scan("s.txt");
  EXPECT_EQ(names(), (Names{"A", "B", "_ln_A", "_ln_B"}));
  // Free form then: one name over lines of two values is refused as a table.
  writeFile("t.txt", "A,B\n1 2\n");
  scan("t.txt");
  EXPECT_TRUE(names().empty());
  state_.readAsCsv = true;
  scan("t.txt");
  EXPECT_EQ(names(), (Names{"A", "B", "_ln_A", "_ln_B"}));
  EXPECT_EQ(state_.data.nRows, 0);  // "1 2" is one cell, not a number
}

TEST_F(DataFileTest, HugeLinesAreReadInBoundedPieces) {
  // A first line of 32 MB without a line end (a sparse file), and a row with
  // 32 MB of blanks between its values: memory must not follow.
  constexpr off_t kHuge = off_t{32} << 20;
  writeFile("zero.dat", "");
  ASSERT_EQ(::truncate(path("zero.dat").c_str(), kHuge), 0);
  writeFile("wide.dat", "A B\n1");
  {
    std::ofstream out(path("wide.dat"), std::ios::binary | std::ios::app);
    out << std::string(kHuge, ' ') << "2\n3 4\n";
  }
  struct rusage before {};
  ::getrusage(RUSAGE_SELF, &before);
  scan("zero.dat");
  // The whole line is one name (of NUL bytes), and no row follows it.
  EXPECT_EQ(state_.data.numCol1, 1);
  EXPECT_EQ(state_.data.nRows, 0);
  scan("wide.dat");
  EXPECT_EQ(state_.data.nRows, 2);
  struct rusage after {};
  ::getrusage(RUSAGE_SELF, &after);
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer keeps freed blocks in quarantine, so the peak resident
  // size counts every piece ever read, not the pieces alive at once; the
  // plain builds check the bound.
  (void)before;
  (void)after;
#else
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 8 * 1024);  // kilobytes
#endif
}

}  // namespace
}  // namespace tavel::app::testing
