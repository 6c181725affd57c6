// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a data file exported from a spreadsheet as CSV, shared by the data
// file scan (single precision) and the Run's re-read (double precision), so
// both passes take exactly the same rows.
//
// - The first record holds the names. Cells are separated by commas, or by
//   semicolons when the first line has semicolons and no commas outside
//   quotes (the European export, whose numbers then use a decimal comma).
// - A cell may be double-quoted: the quotes are removed, a doubled quote is
//   one quote, separators and blanks inside are kept. Blanks around a cell
//   are not part of it. A quoted name may go on over a line end (a blank in
//   the name); a data row is one line.
// - Every following line is one row: a cell that is empty, NA, NaN, N/A or
//   "." (in any case) makes the row incomplete; a row with fewer cells than
//   names is incomplete too. Any other cell that is not a number (a word, a
//   quote left open, a non-empty cell beyond the names) makes the row
//   unreadable. Both kinds are skipped alone and counted; empty lines are
//   not rows. Numbers follow the free-form reader's value rules.
//
// Example: names "T [K]",P with the rows 300,1.5 / 310,NA / 320,x / 330,2
// give the rows 300 1.5 and 330 2, one incomplete row (line 3) and one
// unreadable row (line 4).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/column_kinds.h"
#include "platform/runtime.h"

namespace tavel::io {

// The UTF-8 byte order mark some programs write before the first name.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// True when a and b are the same text but for the case of ASCII letters.
bool sameLetters(std::string_view a, std::string_view b);

// The separator of a CSV file from its first line (the unit is rewound to
// its start afterwards): ';' or ','.
char detectCsvSeparator(platform::Runtime& runtime, int unit);

class CsvReader {
 public:
  static constexpr std::size_t kMaxCellChars = std::size_t{1} << 20;

  // Reads from the current position of the unit (its start).
  CsvReader(platform::TextSource& source, int unit, char separator);

  // The names of the first record: the quoted or trimmed cell texts, a
  // byte-order mark dropped, each kept to its first keepChars bytes. Empty
  // cells at the end of the record are dropped. False when the file has no
  // record at all.
  bool readHeader(std::vector<std::string>& names, std::size_t keepChars);

  // The next complete and readable row of values.size() values; false at
  // the end of the file.
  bool nextRow(std::span<float> values);
  bool nextRow(std::span<double> values);

  // The next row whatever became of it (blank lines are no rows): values
  // holds it only for Row; the counts of skipped rows are kept as above.
  enum class RowRead { Row, Incomplete, Unreadable, End };
  RowRead readRow(std::span<double> values);

  // Reads the rows by a plan of the file's column kinds (values.size() is
  // then the plan's table width); without one, every cell is a number.
  void setPlan(CellPlan* plan) { plan_ = plan; }

  // The next record's cells as texts (trimmed, quotes removed), and its
  // line; a record with a malformed quote gives no cells. False at the end.
  bool nextCells(std::vector<std::string>& cells, int& line);

  bool inputFailed() const { return inputFailed_; }
  int incompleteRows() const { return incompleteRows_; }
  int firstIncompleteLine() const { return firstIncompleteLine_; }
  int unreadableRows() const { return unreadableRows_; }
  int firstUnreadableLine() const { return firstUnreadableLine_; }
  // The file column (0-based; -1: none) and text of the first unreadable cell.
  int firstUnreadableCell() const { return firstUnreadableCell_; }
  const std::string& firstUnreadableText() const { return firstUnreadableText_; }

 private:
  struct Cell {
    std::string text;
    bool quoted = false;
    bool malformed = false;  // a stray quote, text after a closing quote, a quote left open
    bool truncated = false;  // longer than the reader keeps
  };
  // Reads one record cell by cell; false when no record is left.
  template <typename OnCell>
  bool readRecord(bool multiLine, std::size_t keepChars, OnCell&& onCell);
  template <typename T>
  bool nextRowImpl(std::span<T> values);
  template <typename T>
  RowRead readRowImpl(std::span<T> values);
  template <typename T>
  bool numberCell(std::string_view text, T& value);

  platform::TextSource& source_;
  int unit_;
  char separator_;
  int linesRead_ = 0;
  std::string piece_;
  bool inputFailed_ = false;
  int incompleteRows_ = 0;
  int firstIncompleteLine_ = 0;
  int unreadableRows_ = 0;
  int firstUnreadableLine_ = 0;
  int firstUnreadableCell_ = -1;
  std::string firstUnreadableText_;
  CellPlan* plan_ = nullptr;
};

}  // namespace tavel::io
