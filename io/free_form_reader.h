// SPDX-License-Identifier: GPL-3.0-or-later
// Free-form reading of numbers, shared by the data file scan (single
// precision), the Run's re-read of the same file (double precision) and the
// OPTIONS edit boxes, so every reader accepts exactly the same texts.
//
// A row of n values is read from consecutive records (lines):
// - values are separated by blanks, tabs or a comma (blanks around a comma
//   belong to it); the end of a record counts as a blank, so a row that a
//   line does not complete continues on the next line(s);
// - a value is an integer, fixed or exponent number: [+-]digits[.digits]
//   or [+-].digits, optionally followed by E, e, D or d and a signed or
//   unsigned integer exponent;
// - r*value stands for r equal values; r* alone for r empty fields;
// - an empty field (two commas with only blanks between them, or a comma
//   before any value of the row) leaves that value as it was; a slash ends
//   the row early and leaves the remaining values as they were;
// - once the n-th value is read, the rest of its record is ignored;
// - anything else (a word, a semicolon, "nan", "inf", a NUL byte, a number
//   beyond the double range) makes the row unreadable.
// The caller's buffer is changed only by a row that is read completely, so
// the values that an empty field keeps are always those of the previous row
// that was read successfully.
//
// Example: with n = 3 and the buffer holding 7 8 9, the records "1,,3"
// give 1 8 3; "4 /" then gives 4 8 3; "2*5" then "x" gives 5 5 3 and then
// an unreadable row.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/column_kinds.h"
#include "platform/runtime.h"

namespace tavel::io {

// Reads rows from one text unit (of the runtime, or of a reader of its own
// for another thread: Runtime::readAgain). One reader per pass over the
// file; it holds its buffers so that reading allocates nothing per value
// (and nothing per row once the buffers have grown). A record is taken in
// pieces, so a huge line is never held whole: only a field being read is
// kept, and a field longer than kMaxFieldChars makes its row unreadable.
class FreeFormReader {
 public:
  static constexpr std::size_t kMaxFieldChars = std::size_t{1} << 20;

  // linesBefore: records of the unit read before this reader starts (the
  // header line of a data file whose reader starts after it), so that line
  // numbers are those of the file.
  FreeFormReader(platform::TextSource& source, int unit, int linesBefore = 0);

  // Reads one row of values.size() values, starting at the next record.
  // Success: the buffer holds the row. EndOfFile: the file ended before the
  // row was complete (or the unit could not be read at all: see
  // inputFailed). Error: the row was unreadable; the record holding the
  // fault has been consumed and the buffer is unchanged. A row of zero values
  // consumes one record whatever it holds.
  platform::ReadResult readRow(std::span<float> values);
  platform::ReadResult readRow(std::span<double> values);

  // Reads and throws away one record. EndOfFile when there is none.
  platform::ReadResult discardRecord();

  // One step of the loop both passes run: reads rows until one is readable.
  // Each unreadable row is skipped together with the record after it; when
  // that further record does not exist (the unreadable row was the last) the
  // read ends as at an ordinary end of file. True with the row in values;
  // false at the end of the file.
  bool nextRow(std::span<float> values);
  bool nextRow(std::span<double> values);

  // Reads the rows by a plan of the file's column kinds: values.size() is
  // then the plan's table width, the fields of text and date columns are
  // read whole by the plan, a missing mark (NA, NaN, N/A, ".") makes the row
  // incomplete, and an unreadable row is skipped alone.
  void setPlan(CellPlan* plan) { plan_ = plan; }

  // True when the unit reported a read failure that is not an end of file
  // (a folder, an I/O error); the reader then reports EndOfFile.
  bool inputFailed() const { return inputFailed_; }
  // Rows skipped as unreadable by nextRow, and the line of the record that
  // made the first of them unreadable (0: none).
  int unreadableRows() const { return unreadableRows_; }
  int firstUnreadableLine() const { return firstUnreadableLine_; }
  // The value's place in its row (0-based) and the text of the field that
  // made the first unreadable row so.
  int firstUnreadableCell() const { return firstUnreadableCell_; }
  const std::string& firstUnreadableText() const { return firstUnreadableText_; }
  // Whether the last row readRow found unreadable held a missing mark
  // (with a plan only) rather than a field that is not a value.
  bool lastRowMissing() const { return lastMissing_; }
  // Rows with a missing mark (with a plan only), and the first one's line.
  int incompleteRows() const { return incompleteRows_; }
  int firstIncompleteLine() const { return firstIncompleteLine_; }
  // Rows read whose values were not all given (an empty field, r*, or a
  // slash before the last value), so that some kept those of the row
  // before; and the line where the first of them left a value out (0: none).
  int rowsKeepingValues() const { return rowsKeepingValues_; }
  int firstKeepingLine() const { return firstKeepingLine_; }

 private:
  enum class RecordEnd { Read, NoRecord, FieldTooLong };
  template <typename Consume>
  RecordEnd readRecord(Consume&& consume);
  template <typename T>
  platform::ReadResult readRowImpl(std::span<T> values, std::vector<T>& staging,
                                   std::vector<T>& previous);
  template <typename T>
  bool nextRowImpl(std::span<T> values);
  int currentLine() const { return linesBefore_ + recordsRead_; }

  platform::TextSource& source_;
  int unit_;
  int linesBefore_;
  int recordsRead_ = 0;
  std::string piece_;
  std::string carry_;                // a field that goes on in the next piece
  std::vector<float> stagingFloat_;  // the row being read, committed on success
  std::vector<double> stagingDouble_;
  bool inputFailed_ = false;
  int unreadableRows_ = 0;
  int firstUnreadableLine_ = 0;
  int rowsKeepingValues_ = 0;
  int firstKeepingLine_ = 0;
  CellPlan* plan_ = nullptr;
  std::vector<float> previousFloat_;  // with a plan: the last row read, per file column
  std::vector<double> previousDouble_;
  bool lastMissing_ = false;
  int lastFaultCell_ = -1;
  std::string lastFaultText_;
  int firstUnreadableCell_ = -1;
  std::string firstUnreadableText_;
  int incompleteRows_ = 0;
  int firstIncompleteLine_ = 0;
};

// One number read in free form from a text (an edit box): the first field of
// the text. False, leaving value unchanged, when the text is empty or blank,
// the first field is empty or a slash, or it is not a number of the kind
// asked for (a whole number for int: "4" and " +4 " read, "4.0" does not).
bool readFreeFormNumber(std::string_view text, int& value);
bool readFreeFormNumber(std::string_view text, double& value);

// One value of a row by the rules above (no blanks around it, no repeat):
// the CSV reader uses it so both kinds of data file read numbers alike.
bool readRealValue(std::string_view token, float& value);
bool readRealValue(std::string_view token, double& value);
// Whether readRealValue reads token as a double, without converting it when
// its form alone tells (the column survey asks this of every cell).
bool isRealValue(std::string_view token);

}  // namespace tavel::io
