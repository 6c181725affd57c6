// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/csv_reader.h"

#include <algorithm>
#include <string_view>

#include "io/column_kinds.h"
#include "io/free_form_reader.h"

namespace tavel::io {
namespace {

using platform::ReadResult;

constexpr std::size_t kPiece = std::size_t{1} << 16;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

bool sameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

char detectCsvSeparator(platform::Runtime& runtime, int unit) {
  std::string piece;
  bool ended = false;
  bool inQuotes = false;
  bool comma = false;
  bool semicolon = false;
  while (!ended && runtime.readPiece(unit, piece, kPiece, ended) == ReadResult::Success) {
    for (char c : piece) {
      if (c == '"') {
        inQuotes = !inQuotes;
      } else if (!inQuotes) {
        comma = comma || c == ',';
        semicolon = semicolon || c == ';';
      }
    }
  }
  runtime.rewind(unit);
  return semicolon && !comma ? ';' : ',';
}

CsvReader::CsvReader(platform::TextSource& source, int unit, char separator)
    : source_(source), unit_(unit), separator_(separator) {}

// Hands every cell of the next record to onCell. Cells are parsed as the
// pieces come, so a huge line is never held whole; a cell keeps at most
// keepChars bytes (truncated marks one that had more).
template <typename OnCell>
bool CsvReader::readRecord(bool multiLine, std::size_t keepChars, OnCell&& onCell) {
  if (inputFailed_) return false;
  bool ended = false;
  ReadResult r = source_.readPiece(unit_, piece_, kPiece, ended);
  if (r != ReadResult::Success) {
    inputFailed_ = r == ReadResult::Error;
    return false;
  }
  if (linesRead_ == 0 &&
      std::string_view(piece_).substr(0, kByteOrderMark.size()) == kByteOrderMark)
    piece_.erase(0, kByteOrderMark.size());
  ++linesRead_;

  enum class State { Start, Unquoted, Quoted, QuoteSeen, AfterQuote };
  State state = State::Start;
  Cell cell;
  bool truncated = false;
  const auto keep = [&](char c) {
    if (cell.text.size() < keepChars)
      cell.text += c;
    else
      truncated = true;
  };
  const auto endCell = [&] {
    if (state == State::Unquoted) cell.text.resize(trimmed(cell.text).size());
    if (state == State::Quoted) cell.malformed = true;  // its quote was never closed
    cell.truncated = truncated;
    onCell(cell);
    cell = Cell{};
    truncated = false;
    state = State::Start;
  };
  while (true) {
    for (char c : piece_) {
      switch (state) {
        case State::Start:
          if (c == separator_) {
            endCell();
          } else if (c == '"') {
            state = State::Quoted;
            cell.quoted = true;
          } else if (!isBlank(c)) {
            state = State::Unquoted;
            keep(c);
          }
          break;
        case State::Unquoted:
          if (c == separator_) {
            endCell();
          } else {
            if (c == '"') cell.malformed = true;
            keep(c);
          }
          break;
        case State::Quoted:
          if (c == '"')
            state = State::QuoteSeen;
          else
            keep(c);
          break;
        case State::QuoteSeen:
          if (c == '"') {
            keep('"');
            state = State::Quoted;
            break;
          }
          state = State::AfterQuote;
          [[fallthrough]];
        case State::AfterQuote:
          if (c == separator_) {
            endCell();
          } else if (!isBlank(c)) {
            cell.malformed = true;
            keep(c);
          }
          break;
      }
    }
    // The line goes on in the next piece, or a quoted name goes on over
    // the line end (which it keeps as a blank).
    const bool newLine = ended;
    if (ended && !(state == State::Quoted && multiLine)) break;
    if (newLine) keep(' ');
    r = source_.readPiece(unit_, piece_, kPiece, ended);
    if (r != ReadResult::Success) {
      inputFailed_ = r == ReadResult::Error;
      break;
    }
    if (newLine) ++linesRead_;
  }
  endCell();
  return true;
}

bool CsvReader::readHeader(std::vector<std::string>& names, std::size_t keepChars) {
  names.clear();
  if (!readRecord(true, keepChars, [&](Cell& c) { names.push_back(std::move(c.text)); }))
    return false;
  // Spreadsheets end every line with the separators of their widest row.
  while (!names.empty() && names.back().empty()) names.pop_back();
  return true;
}

bool CsvReader::nextCells(std::vector<std::string>& cells, int& line) {
  cells.clear();
  line = linesRead_ + 1;
  bool malformed = false;
  const bool read = readRecord(false, kMaxCellChars, [&](Cell& c) {
    malformed = malformed || c.malformed;
    cells.push_back(std::string(trimmed(c.text)));
  });
  if (malformed) cells.clear();
  return read;
}

// A number cell; a semicolon file writes its decimal point as a comma and
// may group digits with points.
template <typename T>
bool CsvReader::numberCell(std::string_view text, T& value) {
  if (separator_ == ';') return readDecimalCommaNumber(text, value);
  return readRealValue(text, value);
}

template <typename T>
bool CsvReader::nextRowImpl(std::span<T> values) {
  while (true) {
    switch (readRowImpl(values)) {
      case RowRead::Row:
        return true;
      case RowRead::End:
        return false;
      case RowRead::Incomplete:
      case RowRead::Unreadable:
        break;
    }
  }
}

CsvReader::RowRead CsvReader::readRow(std::span<double> values) { return readRowImpl(values); }

template <typename T>
CsvReader::RowRead CsvReader::readRowImpl(std::span<T> values) {
  // Without a plan every cell is a number of the table column of its place.
  const std::size_t cellCount = plan_ != nullptr ? plan_->cells() : values.size();
  while (true) {
    const int line = linesRead_ + 1;
    std::size_t k = 0;
    int cells = 0;
    bool blankLine = false;
    bool incomplete = false;
    bool unreadable = false;
    int badCell = -1;
    std::string badText;
    const bool read = readRecord(false, kMaxCellChars, [&](Cell& c) {
      if (++cells == 1) blankLine = c.text.empty() && !c.quoted && !c.malformed;
      if (unreadable) return;
      const std::size_t at = k++;
      const auto fail = [&](std::string_view text) {
        unreadable = true;
        badCell = static_cast<int>(at);
        badText = std::string(text.substr(0, 40));
      };
      if (c.malformed || c.truncated) return fail(c.text);
      const std::string_view text = trimmed(c.text);
      if (at >= cellCount) {
        if (!text.empty()) fail(text);  // a value beyond the names
        return;
      }
      const ColumnKind kind = plan_ != nullptr ? plan_->kind(at) : ColumnKind::Number;
      if (kind == ColumnKind::Skipped) return;
      T& target = values[plan_ != nullptr ? static_cast<std::size_t>(plan_->column(at)) : at];
      if (isMissingMark(text)) {
        incomplete = true;
      } else if (kind == ColumnKind::Number ? !numberCell(text, target)
                                            : !plan_->convert(at, text, target)) {
        fail(text);
      }
    });
    if (!read) return RowRead::End;
    if (cells == 1 && blankLine) continue;
    if (unreadable) {
      if (unreadableRows_++ == 0) {
        firstUnreadableLine_ = line;
        firstUnreadableCell_ = badCell;
        firstUnreadableText_ = badText;
      }
      return RowRead::Unreadable;
    }
    if (incomplete || k < cellCount) {
      ++incompleteRows_;
      if (firstIncompleteLine_ == 0) firstIncompleteLine_ = line;
      return RowRead::Incomplete;
    }
    return RowRead::Row;
  }
}

bool CsvReader::nextRow(std::span<float> values) { return nextRowImpl(values); }
bool CsvReader::nextRow(std::span<double> values) { return nextRowImpl(values); }

}  // namespace tavel::io
