// SPDX-License-Identifier: GPL-3.0-or-later
// The rows of a data file, for every pass over it: the scan (single
// precision), the Run's re-read and Predict New Data (double precision). One
// reader hides which rules the file is read by (free form, or CSV with its
// separator), so the passes cannot drift apart in the rows they take.
//
// Example: a table scanned from "A,B\n1,2\nx,3\n4,5\n" as CSV gives
// rowFormat(table) with the separator ','; a RowReader of that format then
// yields the rows 1 2 and 4 5, and counts one unreadable row at line 3.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "io/column_kinds.h"
#include "io/csv_reader.h"
#include "io/data_table.h"
#include "io/free_form_reader.h"
#include "platform/runtime.h"

namespace tavel::io {

// How a file's rows are read.
struct RowFormat {
  char csvSeparator = 0;  // 0: free form; ',', ';' (decimal commas) or '\t': CSV
  // The kinds of the file's columns; empty: every cell is a number.
  CellPlan plan;
  // The values an empty field or a slash keeps in the first row (free form
  // without a plan); missing values are zeros.
  std::vector<double> carryIn;
  // Bytes of each header cell of a CSV file that headerCells keeps.
  std::size_t headerKeepChars = 0;
};

// The format by which the scan read the table's file: a later pass reads
// exactly the rows the scan read (labels unseen by the scan are unreadable).
RowFormat rowFormat(const DataTable& data);

// What became of one row.
using RowRead = CsvReader::RowRead;

class RowReader {
 public:
  // Reads the file open on unit from its start; the first record, the
  // names, is read at once and not as a row.
  RowReader(platform::TextSource& source, int unit, RowFormat format);
  RowReader(const RowReader&) = delete;
  RowReader& operator=(const RowReader&) = delete;

  // False when the file has no first record: there are no rows either.
  bool hadHeader() const { return hadHeader_; }
  // The cells of a CSV file's first record (empty for free form).
  const std::vector<std::string>& headerCells() const { return headerCells_; }

  // The plan the rows are read by; a scan that finds the columns' kinds
  // after the header gives it here, before the first row.
  void setPlan(CellPlan plan);
  const CellPlan& plan() const { return format_.plan; }

  // The next readable row; rows that are not are skipped and counted.
  // False at the end of the file. The first call starts values from the
  // format's carry-in.
  bool nextRow(std::span<float> values);
  bool nextRow(std::span<double> values);
  // The next row whatever became of it: values holds it only for Row. A
  // row that is not read is skipped alone.
  RowRead readRow(std::span<double> values);

  // The unit reported a read failure that is not an end of file.
  bool inputFailed() const;
  // Rows skipped for a missing value, and the first one's line (0: none).
  int incompleteRows() const;
  int firstIncompleteLine() const;
  // Rows skipped as unreadable, the first one's line, and the place in its
  // row (0-based; -1: none) and text of the cell that made it so.
  int unreadableRows() const;
  int firstUnreadableLine() const;
  int firstUnreadableCell() const;
  const std::string& firstUnreadableText() const;
  // Free form: rows whose values were not all given, so that some kept
  // those of the row before, and the first one's line (0: none).
  int rowsKeepingValues() const;
  int firstKeepingLine() const;

 private:
  template <typename T>
  void startFromCarryIn(std::span<T> values);
  CellPlan* planOrNone() { return format_.plan.empty() ? nullptr : &format_.plan; }

  RowFormat format_;
  std::optional<FreeFormReader> freeForm_;
  std::optional<CsvReader> csv_;
  bool hadHeader_ = false;
  bool started_ = false;
  std::vector<std::string> headerCells_;
};

}  // namespace tavel::io
