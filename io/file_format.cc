// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/file_format.h"

#include <array>
#include <cstddef>
#include <string>

#include "io/csv_reader.h"
#include "io/data_file.h"

namespace tavel::io {
namespace {

using platform::ReadResult;

constexpr std::size_t kPiece = std::size_t{1} << 16;
// The start of the first line that is kept to see whether its names are
// quoted; a longer line is judged on this much.
constexpr std::size_t kQuoteCheckBytes = std::size_t{1} << 16;
// The separators a file may use, in the order they are preferred.
constexpr std::array<char, 3> kSeparators = {',', ';', '\t'};

bool endsWith(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() &&
         sameLetters(name.substr(name.size() - suffix.size()), suffix);
}

// What one record holds, counted as its pieces come.
struct LineCounts {
  std::array<int, kSeparators.size()> separators{};  // outside quotes
  int fields = 0;     // runs of characters between blanks (and "~" in a header)
  bool blank = true;  // nothing but blanks
  bool inQuotes = false;
  bool inField = false;

  void add(std::string_view piece, bool header) {
    for (char c : piece) {
      const bool space = c == ' ' || c == '\t' || (header && c == '~');
      if (space) {
        inField = false;
      } else {
        blank = false;
        if (!inField) ++fields;
        inField = true;
      }
      if (c == '"') inQuotes = !inQuotes;
      if (inQuotes) continue;
      for (std::size_t s = 0; s < kSeparators.size(); ++s) separators[s] += c == kSeparators[s];
    }
  }
};

// Reads one line into counts (and its start into kept, when asked). False
// when the file has no further line.
bool readCounted(platform::Runtime& runtime, int unit, std::string& piece, LineCounts& counts,
                 bool header, std::string* kept) {
  bool ended = false;
  bool any = false;
  while (!ended) {
    if (runtime.readPiece(unit, piece, kPiece, ended) != ReadResult::Success) return any;
    std::string_view text(piece);
    if (header && !any && text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
      text.remove_prefix(kByteOrderMark.size());
    any = true;
    counts.add(text, header);
    if (kept != nullptr && kept->size() < kQuoteCheckBytes)
      kept->append(text.substr(0, kQuoteCheckBytes - kept->size()));
  }
  return any;
}

// True when every cell of the header split at separator is either unquoted
// and free of quotes or double-quoted as a whole (blanks around it), and at
// least one is quoted. A quote still open at the end of a header cut short
// is taken as closed further on.
bool holdsQuotedNames(std::string_view header, char separator, bool cutShort) {
  enum class State { Start, Unquoted, Quoted, QuoteSeen, AfterQuote };
  State state = State::Start;
  bool quoted = false;
  for (char c : header) {
    const bool isSeparator = c == separator;
    const bool isBlank = !isSeparator && (c == ' ' || c == '\t');
    switch (state) {
      case State::Start:
        if (c == '"') {
          state = State::Quoted;
          quoted = true;
        } else if (!isSeparator && !isBlank) {
          state = State::Unquoted;
        }
        break;
      case State::Unquoted:
        if (c == '"') return false;
        if (isSeparator) state = State::Start;
        break;
      case State::Quoted:
        if (c == '"') state = State::QuoteSeen;
        break;
      case State::QuoteSeen:
        if (c == '"') {
          state = State::Quoted;  // a doubled quote inside the name
          break;
        }
        state = State::AfterQuote;
        [[fallthrough]];
      case State::AfterQuote:
        if (isSeparator)
          state = State::Start;
        else if (!isBlank)
          return false;
        break;
    }
  }
  return quoted && (state != State::Quoted || cutShort);
}

}  // namespace

bool isTabFileName(std::string_view name) {
  return endsWith(name, ".tsv") || endsWith(name, ".tab");
}

char chooseFileReading(platform::Runtime& runtime, int unit, std::string_view fileName,
                       ReadingAsked asked) {
  // A tab file's name fixes its separator; CSV asked for is CSV already.
  if (asked.tsv || isTabFileName(fileName)) return '\t';
  if (asked.csv || isCsvFileName(fileName)) return detectCsvSeparator(runtime, unit);
  return sniffCsvSeparator(runtime, unit);
}

char sniffCsvSeparator(platform::Runtime& runtime, int unit) {
  std::string piece;
  std::string kept;
  LineCounts header;
  bool haveHeader = readCounted(runtime, unit, piece, header, true, &kept);
  // A quoted name may go on over a line end, as the CSV reader reads it.
  for (int more = 0; haveHeader && header.inQuotes && more < kSniffDataLines; ++more) {
    header.inField = false;
    kept += ' ';
    if (!readCounted(runtime, unit, piece, header, true, &kept)) break;
  }
  std::vector<LineCounts> lines;
  while (haveHeader && static_cast<int>(lines.size()) < kSniffDataLines) {
    LineCounts line;
    if (!readCounted(runtime, unit, piece, line, false, nullptr)) break;
    if (!line.blank) lines.push_back(line);
  }
  runtime.rewind(unit);
  if (!haveHeader || header.blank) return 0;

  const auto sameCount = [&](std::size_t s) {
    for (const LineCounts& line : lines)
      if (line.separators[s] != header.separators[s]) return false;
    return true;
  };
  const bool cutShort = kept.size() >= kQuoteCheckBytes;
  char quotedChoice = 0;
  for (std::size_t s = 0; s < kSeparators.size(); ++s) {
    if (!holdsQuotedNames(kept, kSeparators[s], cutShort)) continue;
    if (sameCount(s)) return kSeparators[s];  // the data lines agree as well
    if (quotedChoice == 0) quotedChoice = kSeparators[s];
  }
  if (quotedChoice != 0) return quotedChoice;

  if (lines.empty()) return 0;
  for (std::size_t s = 0; s < kSeparators.size(); ++s) {
    const int count = header.separators[s];
    if (count < 1 || !sameCount(s)) continue;
    // Splitting at blanks must read the file otherwise for it to be CSV.
    bool disagree = header.fields != count + 1;
    for (const LineCounts& line : lines) disagree = disagree || line.fields != header.fields;
    if (disagree) return kSeparators[s];
  }
  return 0;
}

std::string csvReadingLine(char separator) {
  if (separator == ';') return " read as CSV: cells separated by semicolons, decimal commas";
  if (separator == '\t') return " read as CSV: cells separated by tabs";
  return " read as CSV: cells separated by commas";
}

}  // namespace tavel::io
