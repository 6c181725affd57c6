// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/column_kinds.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "io/csv_reader.h"
#include "io/data_table.h"
#include "io/free_form_reader.h"

namespace tavel::io {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Exactly `count` digits at text[at...] as a number.
bool digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (!isDigit(text[i])) return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeapYear(y) ? 29 : kDays[m - 1];
}

// The digits grouped by points before a decimal comma or an exponent:
// one to three digits, then groups of exactly three.
bool groupsOfThree(std::string_view t) {
  std::size_t i = t.empty() || (t[0] != '+' && t[0] != '-') ? 0 : 1;
  const std::size_t end = std::min(t.find_first_of(",eEdD"), t.size());
  std::size_t lead = 0;
  while (i < end && isDigit(t[i])) ++i, ++lead;
  if (lead == 0 || lead > 3) return false;
  while (i < end) {
    if (t[i] != '.' || i + 4 > end) return false;
    for (std::size_t k = i + 1; k < i + 4; ++k)
      if (!isDigit(t[k])) return false;
    i += 4;
  }
  return true;
}

template <typename T>
bool decimalCommaNumber(std::string_view text, T& value) {
  const bool grouped = text.find('.') != std::string_view::npos;
  if (grouped && !groupsOfThree(text)) return false;
  std::string point;
  point.reserve(text.size());
  for (char c : text)
    if (c != '.') point += c == ',' ? '.' : c;
  return readRealValue(point, value);
}

}  // namespace

bool readDecimalCommaNumber(std::string_view text, double& value) {
  return decimalCommaNumber(text, value);
}
bool readDecimalCommaNumber(std::string_view text, float& value) {
  return decimalCommaNumber(text, value);
}

bool isMissingMark(std::string_view cell) {
  return cell.empty() || cell == "." || sameLetters(cell, "na") || sameLetters(cell, "nan") ||
         sameLetters(cell, "n/a");
}

bool readIsoDate(std::string_view t, double& decimalYear) {
  int year = 0, month = 0, day = 0;
  if (!digits(t, 0, 4, year) || t.size() < 10 || t[4] != '-' || !digits(t, 5, 2, month) ||
      t[7] != '-' || !digits(t, 8, 2, day))
    return false;
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return false;
  double seconds = 0.0;
  std::size_t i = 10;
  if (i < t.size()) {
    if (t[i] != 'T' && t[i] != ' ') return false;
    int hour = 0, minute = 0, second = 0;
    if (!digits(t, i + 1, 2, hour) || i + 3 >= t.size() || t[i + 3] != ':' ||
        !digits(t, i + 4, 2, minute) || hour > 23 || minute > 59)
      return false;
    seconds = hour * 3600.0 + minute * 60.0;
    i += 6;
    if (i < t.size() && t[i] == ':') {
      if (!digits(t, i + 1, 2, second) || second > 59) return false;
      seconds += second;
      i += 3;
      if (i < t.size() && t[i] == '.') {
        std::size_t end = i + 1;
        while (end < t.size() && isDigit(t[end])) ++end;
        if (end == i + 1) return false;
        double fraction = 0.0;
        const std::string_view text = t.substr(i, end - i);
        std::string copy = "0" + std::string(text);
        std::from_chars(copy.data(), copy.data() + copy.size(), fraction);
        seconds += fraction;
        i = end;
      }
    }
    if (i < t.size() && t[i] == 'Z') ++i;
    if (i != t.size()) return false;
  }
  int dayOfYear = day - 1;
  for (int m = 1; m < month; ++m) dayOfYear += daysInMonth(year, m);
  const double daysInYear = isLeapYear(year) ? 366.0 : 365.0;
  decimalYear = year + (dayOfYear + seconds / 86400.0) / daysInYear;
  return true;
}

void ColumnCells::add(std::string_view cell, int line, bool decimalComma) {
  if (isMissingMark(cell)) return;
  double v = 0.0;
  if (decimalComma ? readDecimalCommaNumber(cell, v) : isRealValue(cell)) {
    ++numbers;
    return;
  }
  if (readIsoDate(cell, v)) {
    ++dates;
    return;
  }
  if (texts++ == 0) {
    firstTextLine = line;
    firstText = std::string(cell.substr(0, 40));
  }
  if (tooManyLabels) return;
  ++labels[std::string(cell)];
  tooManyLabels = labels.size() > kMaxCategoryLabels;
  if (tooManyLabels) labels.clear();
}

void ColumnSurvey::addLine(const std::vector<std::string>& fields, int line, bool hasComma) {
  const std::size_t columns = cells.size();
  if (fields.empty() || (fields.size() == 1 && fields[0].empty())) return;
  if (fields.size() != columns) {
    // Only lines of numbers tell the shape of the rows: a line with a word
    // in it is an unreadable row, said as such.
    for (const std::string& f : fields) {
      double v = 0.0;
      if (!isMissingMark(f) && !isRealValue(f) && !readIsoDate(f, v)) return;
    }
  }
  if (pendingFields > 0 || fields.size() < columns) {
    pendingFields += static_cast<int>(fields.size());
    if (pendingFields == static_cast<int>(columns)) pendingFields = 0;
    if (pendingFields > static_cast<int>(columns)) linesMakeRows = false;
  }
  if (fields.size() < columns) {
    if (fewer++ == 0) {
      firstFewerLine = line;
      firstFewerFields = static_cast<int>(fields.size());
    }
    return;
  }
  if (fields.size() > columns) {
    if (more++ == 0) {
      firstMoreLine = line;
      firstMoreFields = static_cast<int>(fields.size());
      commaInFirstMore = hasComma;
    }
    oneMore += fields.size() == columns + 1;
    return;
  }
  ++agreeing;
  for (std::size_t c = 0; c < columns; ++c) cells[c].add(fields[c], line, decimalComma);
}

ColumnKind columnKindOf(const ColumnCells& c) {
  const int filled = c.numbers + c.dates + c.texts;
  if (c.dates > 0 && 2 * c.dates >= filled) return ColumnKind::Date;
  if (c.texts == 0 || c.texts <= c.numbers + c.dates) return ColumnKind::Number;
  const bool labelPerRow = c.labels.size() == static_cast<std::size_t>(c.texts);
  if (c.tooManyLabels || labelPerRow) return ColumnKind::Skipped;
  return ColumnKind::Category;
}

CellPlan::CellPlan(std::vector<ColumnKind> kinds, std::vector<std::vector<std::string>> labels,
                   NewLabels newLabels)
    : kinds_(std::move(kinds)), labels_(std::move(labels)), newLabels_(newLabels) {
  labels_.resize(kinds_.size());
  numbers_.resize(kinds_.size());
  for (std::size_t c = 0; c < kinds_.size(); ++c) {
    columns_.push_back(kinds_[c] == ColumnKind::Skipped ? -1 : static_cast<int>(columnCount_++));
    for (std::size_t k = 0; k < labels_[c].size(); ++k)
      numbers_[c].emplace(labels_[c][k], static_cast<int>(k) + 1);
  }
}

bool CellPlan::convert(std::size_t cell, std::string_view text, double& value) {
  switch (kinds_[cell]) {
    case ColumnKind::Number:
      return readRealValue(text, value);
    case ColumnKind::Date:
      return readIsoDate(text, value);
    case ColumnKind::Skipped:
      return true;
    case ColumnKind::Category:
      break;
  }
  auto& numbers = numbers_[cell];
  const auto it = numbers.find(text);
  if (it != numbers.end()) {
    value = it->second;
    return true;
  }
  if (newLabels_ == NewLabels::NotANumber) {
    value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (newLabels_ == NewLabels::Unreadable) return false;
  labels_[cell].emplace_back(text);
  const int number = static_cast<int>(labels_[cell].size());
  numbers.emplace(std::string(text), number);
  value = number;
  return true;
}

bool CellPlan::convert(std::size_t cell, std::string_view text, float& value) {
  if (kinds_[cell] == ColumnKind::Number) return readRealValue(text, value);
  double wide = 0.0;
  if (!convert(cell, text, wide)) return false;
  value = static_cast<float>(wide);
  return true;
}

namespace {

// The file column of table column j (0-based), -1 when there is none.
int cellOfColumn(const DataTable& data, int j) {
  int seen = -1;
  for (std::size_t c = 0; c < data.cellKind.size(); ++c)
    if (data.cellKind[c] != ColumnKind::Skipped && ++seen == j) return static_cast<int>(c);
  return -1;
}

}  // namespace

ColumnKind columnKind(const DataTable& data, int v) {
  if (v < 1 || v > data.numCol1) return ColumnKind::Number;
  const int c = cellOfColumn(data, v - 1);
  return c < 0 ? ColumnKind::Number : data.cellKind[static_cast<std::size_t>(c)];
}

const std::vector<std::string>& categoryLabels(const DataTable& data, int v) {
  static const std::vector<std::string> kNone;
  if (columnKind(data, v) != ColumnKind::Category) return kNone;
  const auto c = static_cast<std::size_t>(cellOfColumn(data, v - 1));
  return c < data.cellLabels.size() ? data.cellLabels[c] : kNone;
}

CellPlan readingPlan(const DataTable& data) {
  return CellPlan(data.cellKind, data.cellLabels, CellPlan::NewLabels::Unreadable);
}

}  // namespace tavel::io
