// SPDX-License-Identifier: GPL-3.0-or-later
// The column names of a data file's first line, for the scan and for Predict
// New Data alike, so a model names its columns as the file it came from did.
//
// - A free-form header is read whole, however long: names are separated by
//   runs of blanks, tabs and "~", and the line end ends the last name.
// - The cells of a CSV header become names with their tabs, carriage
//   returns and line ends turned into blanks, so the tab-separated sheets
//   that print them stay aligned; a cell without text is "(column N)".
// - A name that is not valid UTF-8 (judged on the kNameKeepBytes bytes of
//   it that are kept) is taken as Latin-1 and converted, so a name written
//   by an older spreadsheet keeps its letters.
// - Each name is cut to kNameLength bytes (never inside a UTF-8 character)
//   and blank padded; at most maxNames are kept.
//
// Example: the bytes "T\xE9mp P\n" give the names "T\xC3\xA9mp" and "P",
// and "T\xC3\xA9mp" is listed in readAsLatin1.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "io/data_table.h"
#include "platform/runtime.h"

namespace tavel::io {

// A text blank padded or cut to width bytes; a cut never splits a UTF-8
// character (the name then ends before it, and cutInsideCharacter is set).
std::string cutToWidth(std::string_view text, std::size_t width,
                       bool* cutInsideCharacter = nullptr);

// True when text is valid UTF-8; with mayEndInside, a character that the
// end of text cuts short still counts as valid (text is the kept start of a
// longer name).
bool isUtf8(std::string_view text, bool mayEndInside = false);

// Every byte of text as the Latin-1 character of that code, in UTF-8.
std::string latin1ToUtf8(std::string_view text);

// The names of a header line and what the reading did to them.
struct HeaderNames {
  std::vector<std::string> names;               // at most maxNames, each kNameLength bytes
  int complete = 0;                             // names in the line, kept or not
  std::vector<std::string> cutInsideCharacter;  // kept names shortened to a whole character
  std::vector<std::string> readAsLatin1;        // kept names converted from Latin-1
};

// Splits a free-form header line given in pieces, holding only the names
// it keeps (a few bytes beyond kNameLength of each).
class FreeFormHeaderSplitter {
 public:
  explicit FreeFormHeaderSplitter(std::size_t maxNames = kMaxNames) : maxNames_(maxNames) {}
  void add(std::string_view piece);
  HeaderNames finish();

 private:
  void endName();

  std::size_t maxNames_;
  bool started_ = false;
  bool inName_ = false;
  bool truncated_ = false;
  std::string current_;
  std::vector<std::string> raw_;
  std::vector<bool> rawTruncated_;
  int complete_ = 0;
};

// The names of a whole free-form header line (a UTF-8 byte-order mark and a
// carriage return ending it are dropped).
// "X1 X2\tY" gives X1, X2, Y; "\t A\t\tB" gives A, B.
HeaderNames splitHeader(std::string_view headerLine);
std::vector<std::string> headerToNames(std::string_view headerLine);

// Reads the first line of a unit, in bounded pieces, as a free-form header.
// EndOfFile for a file without a line, Error when the unit cannot be read.
platform::ReadResult readFreeFormHeader(platform::Runtime& runtime, int unit, HeaderNames& header);

// The names of the cells of a CSV header (each cell at most a few bytes
// beyond kNameLength, as CsvReader::readHeader keeps them).
HeaderNames namesFromCells(std::vector<std::string> cells, std::size_t maxNames = kMaxNames);

// Bytes of a header cell that CsvReader::readHeader should keep: enough to
// convert and cut a name and to see whether the cut splits a character.
inline constexpr std::size_t kNameKeepBytes = kNameLength + 4;

}  // namespace tavel::io
