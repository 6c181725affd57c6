// SPDX-License-Identifier: GPL-3.0-or-later
// What the columns of a data file hold, found by looking at their cells
// before the rows are counted: numbers, text labels (a category such as a
// site or a catalyst), ISO dates, or nothing the analysis can use (row names,
// one label per row). Shared by the scan, the Run's re-read and Predict New
// Data, so all three turn the same cells into the same values.
//
// Example: the columns site, date, T of the rows "S2 2024-01-05 300" and
// "S1 2024-03-01 310" are a category (S1 = 1, S2 = 2, numbered in label
// order), a date read as the decimal year (2024.0109..., 2024.1639...) and a
// number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tavel::io {

enum class ColumnKind : std::uint8_t {
  Number,    // numbers, as the reading rules have always read them
  Category,  // text labels, numbered 1, 2, ... in the sorted order of the labels
  Date,      // ISO 8601 dates and times, as the decimal year
  Skipped,   // read over and left out: row names, or a label for every row
};

// The marks spreadsheets and statistics programs write for a missing value:
// an empty cell, ".", NA, NaN or N/A in any case.
bool isMissingMark(std::string_view cell);

// A number written with a decimal comma, as a semicolon file writes it,
// where points group the digits: "1,5" is 1.5, "3.459" is 3459 and
// "1.234.567,8" is 1234567.8. A point that does not group three digits
// ("1.5") is not read: in such a file it would be a guess.
bool readDecimalCommaNumber(std::string_view text, double& value);
bool readDecimalCommaNumber(std::string_view text, float& value);

// An ISO 8601 date, optionally with a time: YYYY-MM-DD, then T or one blank
// and HH:MM, HH:MM:SS or HH:MM:SS.fraction, optionally ending in Z. The
// value is the decimal year: the year plus the days (and fraction of a day)
// since its 1 January over the days of that year, so 2024-01-05 gives
// 2024 + 4/366. False for anything else (2024-02-30, 2024-1-5, 13:45).
bool readIsoDate(std::string_view text, double& decimalYear);

// What the cells of one file column were, counted over the rows the column
// finder saw.
struct ColumnCells {
  int numbers = 0;
  int dates = 0;
  int texts = 0;  // neither a number, a date nor a missing mark
  int firstTextLine = 0;
  std::string firstText;
  std::map<std::string, int> labels;  // distinct texts, while there are few enough to count
  bool tooManyLabels = false;
  // decimalComma: numbers are written with a decimal comma (a semicolon file).
  void add(std::string_view cell, int line, bool decimalComma = false);
};

// What the data lines of a file hold, cell by cell, before the rows are
// counted: the cells of every line that has a field per column, and how
// many lines have fewer or more.
struct ColumnSurvey {
  std::vector<ColumnCells> cells;  // one per column
  int agreeing = 0;
  int fewer = 0;
  int more = 0;
  int oneMore = 0;  // lines with exactly one field more than the columns
  // The first line with fewer and with more fields, and their counts.
  int firstFewerLine = 0, firstFewerFields = 0;
  int firstMoreLine = 0, firstMoreFields = 0;
  bool commaInFirstMore = false;  // that line has a comma (a decimal comma?)
  // Lines with fewer fields that add up to whole rows, line after line (a
  // row written over a fixed number of lines), and those that do not.
  int pendingFields = 0;
  bool linesMakeRows = true;
  bool decimalComma = false;
  void addLine(const std::vector<std::string>& fields, int line, bool hasComma = false);
};

// Distinct labels a category may have; a column with more is an identifier.
inline constexpr std::size_t kMaxCategoryLabels = 1000;

// The kind a column takes from its cells: a date column when at least half
// of its filled cells are ISO dates, a text column when most of its filled
// cells are text, else numbers (where a stray word makes its row unreadable,
// as before). A text column is a category when some label comes more than
// once and it has at most kMaxCategoryLabels labels; a column where every
// label is its own (a sample id) is skipped as an identifier.
ColumnKind columnKindOf(const ColumnCells& cells);

// How each cell of a row becomes a value. A plan without cells reads every
// cell as a number (the old rule, for callers that know no kinds).
class CellPlan {
 public:
  CellPlan() = default;
  // What a label that the plan was not given becomes.
  enum class NewLabels {
    Unreadable,  // the row cannot be read (the Run: it reads what the scan read)
    Collect,     // the next free number (the scan, which renumbers when it is done)
    NotANumber,  // NaN, which a prediction reports as an unknown category
  };
  // kinds: per file column. Category labels are numbered by the order of
  // labels (per file column), from 1.
  CellPlan(std::vector<ColumnKind> kinds, std::vector<std::vector<std::string>> labels,
           NewLabels newLabels);

  bool empty() const { return kinds_.empty(); }
  std::size_t cells() const { return kinds_.size(); }
  ColumnKind kind(std::size_t cell) const { return kinds_[cell]; }
  // The table column a cell fills (-1: skipped).
  int column(std::size_t cell) const { return columns_[cell]; }
  std::size_t columns() const { return columnCount_; }

  // The value of a non-number cell that is not a missing mark. False when
  // it cannot be read as its kind (a text in a date column, an unseen label
  // when not collecting).
  bool convert(std::size_t cell, std::string_view text, double& value);
  bool convert(std::size_t cell, std::string_view text, float& value);

  // The labels seen, per file column, in the order they were first seen
  // (collecting) or as given.
  const std::vector<std::vector<std::string>>& labels() const { return labels_; }

 private:
  std::vector<ColumnKind> kinds_;
  std::vector<int> columns_;
  std::size_t columnCount_ = 0;
  std::vector<std::vector<std::string>> labels_;
  std::vector<std::map<std::string, int, std::less<>>> numbers_;
  NewLabels newLabels_ = NewLabels::Unreadable;
};

}  // namespace tavel::io
