#include "app/data_file.h"

#include <algorithm>
#include <span>

#include "app/column_kinds.h"
#include "app/csv_reader.h"
#include "app/field_format.h"
#include "app/free_form_reader.h"
#include "app/prepare_dialog.h"
#include "app/trace.h"

namespace tavel::app {
namespace {

// The rest of a long header line is read in pieces of this size, only to
// count the names it drops.
constexpr std::size_t kHeaderTailPiece = 4096;

bool isNameSeparator(char c) { return c == ' ' || c == '\t' || c == '~'; }

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Bytes of the UTF-8 character a lead byte starts (0: not a lead byte).
std::size_t utf8Length(char c) {
  const unsigned char b = static_cast<unsigned char>(c);
  if (b >= 0xC0 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF7) return 4;
  return 0;
}

std::string plural(int count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string nameList(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& n : names) {
    if (!list.empty()) list += ", ";
    list += trimName(n);
  }
  return list;
}

// Puts the earlier data file back on the data unit after a failed choice, so
// the table that is kept still describes the open file.
void reopenPrevious(platform::Runtime& runtime, const DataTable& data, bool wasOpen) {
  runtime.close(kDataUnit);
  if (wasOpen && !data.dataFileName.empty())
    runtime.openFileForReading(kDataUnit, data.dataFileName);
}

void clearTable(DataTable& data) {
  data.numCol1 = 0;
  data.numCol = 0;
  data.nRows = 0;
  data.colName.clear();
  data.lnSource.clear();
  data.allPositive.assign(kMaxNames, true);
  data.rowCarryIn.clear();
  data.csvSeparator = 0;
  data.cellKind.clear();
  data.cellLabels.clear();
}

void resetRunOptions(RunOptions& options) {
  const RunOptions defaults;
  options.NumTerm = defaults.NumTerm;
  options.DelRsq = defaults.DelRsq;
  options.Equilibration = defaults.Equilibration;
  options.ScreenCaptures = defaults.ScreenCaptures;
  options.CvFolds = defaults.CvFolds;
}

// Counts the names that begin in a piece of the header line beyond its
// first kHeaderLength characters; inName carries over between pieces.
int namesStarting(std::string_view piece, bool& inName) {
  int count = 0;
  for (char c : piece) {
    if (isNameSeparator(c)) {
      inName = false;
    } else if (!inName) {
      inName = true;
      ++count;
    }
  }
  return count;
}

// Names of the variable lists that occur more than once (each listed once).
std::vector<std::string> namesAlike(const std::vector<std::string>& names) {
  std::vector<std::string> alike;
  for (std::size_t i = 0; i < names.size(); ++i) {
    bool earlier = false;
    for (std::size_t k = 0; k < i && !earlier; ++k) earlier = names[k] == names[i];
    if (earlier) continue;
    for (std::size_t k = i + 1; k < names.size(); ++k) {
      if (names[k] == names[i]) {
        alike.push_back(names[i]);
        break;
      }
    }
  }
  return alike;
}

// Fields of a whitespace data line as the free-form rules separate them
// (blanks, tabs, commas; a slash ends the line's values), in bounded pieces.
template <typename OnLine>
void forEachWordLine(platform::Runtime& runtime, int unit, OnLine&& onLine) {
  constexpr std::size_t kPiece = std::size_t{1} << 16;
  std::vector<std::string> words;
  std::string piece;
  std::string word;
  bool ended = false;
  bool stopped = false;
  int line = 1;
  while (runtime.readPiece(unit, piece, kPiece, ended) == platform::ReadResult::Success) {
    for (char c : piece) {
      if (stopped) break;
      if (c == ' ' || c == '\t' || c == ',' || c == '/') {
        if (!word.empty()) words.push_back(std::move(word));
        word.clear();
        stopped = c == '/';
      } else if (word.size() < FreeFormReader::kMaxFieldChars) {
        word += c;
      }
    }
    if (!ended) continue;
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
    onLine(words, ++line);
    words.clear();
    stopped = false;
  }
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// The kinds of a file's columns from their survey; rowNames marks a first
// column without a name. Says once what was found, column by column.
std::vector<ColumnKind> kindsFromSurvey(platform::Runtime& runtime, const ColumnSurvey& survey,
                                        const std::vector<std::string>& cellNames, bool rowNames) {
  std::vector<ColumnKind> kinds;
  for (std::size_t c = 0; c < survey.cells.size(); ++c) {
    const ColumnCells& cells = survey.cells[c];
    if (c == 0 && rowNames) {
      kinds.push_back(ColumnKind::Skipped);
      traceBoth(runtime, " the first column has no name: read as row names, not used");
      continue;
    }
    const ColumnKind kind = columnKindOf(cells);
    kinds.push_back(kind);
    const std::string column = "column " + quoted(trimName(cellNames[c]));
    if (kind == ColumnKind::Date)
      traceBoth(runtime, " " + column + " holds ISO dates: read as the decimal year");
    else if (kind == ColumnKind::Skipped)
      traceBoth(runtime, " " + column + " holds text (line " +
                             std::to_string(cells.firstTextLine) + ": " +
                             quoted(cells.firstText) + "), a label for every row: not used");
  }
  return kinds;
}

// The labels of each category column in their order, numbered from 1, and
// said once on the screen and in the log.
void keepLabels(platform::Runtime& runtime, DataTable& data, const CellPlan& plan,
                const std::vector<std::string>& cellNames, const ColumnSurvey& survey) {
  data.cellLabels.assign(plan.cells(), {});
  for (std::size_t c = 0; c < plan.cells(); ++c) {
    if (plan.kind(c) != ColumnKind::Category) continue;
    std::vector<std::string> labels = plan.labels()[c];
    std::sort(labels.begin(), labels.end());
    std::string line = " column " + quoted(trimName(cellNames[c])) + " holds text (line " +
                       std::to_string(survey.cells[c].firstTextLine) + ": " +
                       quoted(survey.cells[c].firstText) + "): offered as a category:";
    for (std::size_t k = 0; k < labels.size(); ++k)
      line += (k == 0 ? " " : ", ") + labels[k] + " = " + std::to_string(k + 1);
    traceBoth(runtime, line);
    data.cellLabels[c] = std::move(labels);
  }
}

// The table's names and kinds from the file's cells: skipped cells are no
// variables.
void takeColumns(DataTable& data, const std::vector<std::string>& cellNames,
                 const std::vector<ColumnKind>& kinds) {
  data.cellLabels.clear();
  data.cellKind = kinds;
  data.colName.clear();
  for (std::size_t c = 0; c < kinds.size(); ++c)
    if (kinds[c] != ColumnKind::Skipped) data.colName.push_back(cellNames[c]);
  data.numCol1 = static_cast<int>(data.colName.size());
}

// A file whose every column was set aside has nothing to analyse.
bool refusedWithoutColumns(platform::Runtime& runtime, AppState& state, const std::string& name) {
  if (state.data.numCol1 > 0) return false;
  clearTable(state.data);
  refuse(runtime, state,
         " no column of " + name + " can be analysed: each holds a label of its own in every row");
  return true;
}

std::string unreadableLine(int rows, int line, int cell, const std::string& text,
                           const std::vector<std::string>& cellNames) {
  std::string where = "the first at line " + std::to_string(line);
  if (cell >= 0 && static_cast<std::size_t>(cell) < cellNames.size())
    where += ": " + quoted(text) + " in column " + quoted(trimName(cellNames[cell]));
  return " " + plural(rows, "unreadable row", "unreadable rows") +
         " skipped: a cell that is not a number (" + where + ")";
}

std::string incompleteLine(int rows, int line) {
  return " " + plural(rows, "incomplete row", "incomplete rows") +
         " skipped for a missing value (a cell empty, NA, NaN, N/A or .; the first at line " +
         std::to_string(line) + ")";
}

void finishScan(platform::Runtime& runtime, AppState& state);
void scanCsv(platform::Runtime& runtime, AppState& state, const std::string& name, bool wasOpen);

}  // namespace

bool isCsvFileName(std::string_view name) {
  constexpr std::string_view kCsv = ".csv";
  return name.size() >= kCsv.size() && sameLetters(name.substr(name.size() - kCsv.size()), kCsv);
}

std::string cutToWidth(std::string_view text, std::size_t width, bool* cutInsideCharacter) {
  if (cutInsideCharacter != nullptr) *cutInsideCharacter = false;
  std::size_t cut = std::min(text.size(), width);
  if (text.size() > width && isContinuationByte(text[width])) {
    // Back to the lead byte of the character the cut would split, when the
    // bytes really are one UTF-8 character (other encodings are cut as is).
    std::size_t lead = width;
    while (lead > 0 && width - lead < 3 && isContinuationByte(text[lead - 1])) --lead;
    if (lead > 0) {
      --lead;
      const std::size_t length = utf8Length(text[lead]);
      bool whole = length > width - lead && lead + length <= text.size();
      for (std::size_t i = lead + 1; whole && i < lead + length; ++i)
        whole = isContinuationByte(text[i]);
      if (whole) {
        cut = lead;
        if (cutInsideCharacter != nullptr) *cutInsideCharacter = true;
      }
    }
  }
  std::string s(text.substr(0, cut));
  s.resize(width, ' ');
  return s;
}

HeaderNames splitHeader(std::string_view headerLine) {
  if (headerLine.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    headerLine.remove_prefix(kByteOrderMark.size());
  if (!headerLine.empty() && headerLine.back() == '\r') headerLine.remove_suffix(1);
  // The header is taken as a blank-padded text of kHeaderLength characters;
  // the padding separates a name that ends before the last character.
  const std::string_view text = headerLine.substr(0, kHeaderLength);
  const std::size_t length = kHeaderLength;
  auto at = [&](std::size_t i) { return i < text.size() ? text[i] : ' '; };

  HeaderNames h;
  std::size_t i = 0;
  while (i < length) {
    while (i < length && isNameSeparator(at(i))) ++i;
    const std::size_t start = i;
    while (i < length && !isNameSeparator(at(i))) ++i;
    if (i == start) break;
    if (i == length) {  // no separator after it
      h.lastReachesEnd = true;
      break;
    }
    ++h.complete;
    if (static_cast<int>(h.names.size()) == kMaxNames) continue;
    bool splitCharacter = false;
    h.names.push_back(cutToWidth(text.substr(start, i - start), kNameLength, &splitCharacter));
    if (splitCharacter) h.cutInsideCharacter.push_back(h.names.back());
  }
  return h;
}

std::vector<std::string> headerToNames(std::string_view headerLine) {
  return splitHeader(headerLine).names;
}

ColumnSurvey surveyColumns(platform::Runtime& runtime, int unit, char csvSeparator,
                           std::size_t columns) {
  ColumnSurvey survey;
  survey.cells.resize(columns);
  survey.decimalComma = csvSeparator == ';';
  runtime.rewind(unit);
  if (csvSeparator != 0) {
    CsvReader finder(runtime, unit, csvSeparator);
    std::vector<std::string> cells;
    int line = 0;
    finder.readHeader(cells, 0);
    while (finder.nextCells(cells, line)) survey.addLine(cells, line);
  } else {
    FreeFormReader(runtime, unit).discardRecord();
    forEachWordLine(runtime, unit,
                    [&](const std::vector<std::string>& words, int line) {
                      survey.addLine(words, line);
                    });
  }
  runtime.rewind(unit);
  return survey;
}

void readDataFile(platform::Runtime& runtime, AppState& state, std::string_view fileName) {
  DataTable& data = state.data;
  const std::string name(fileName);
  traceBoth(runtime, listLine({"open ", padded(name, kFileNameLength)}));

  if (runtime.pathKind(name) == platform::PathKind::Other) {
    refuse(runtime, state,
           " error: cannot read " + name + ": it is not a regular file (a folder, pipe or device)");
    return;
  }
  const bool wasOpen = runtime.isOpen(kDataUnit);
  runtime.close(kDataUnit);
  if (!runtime.openFileForReading(kDataUnit, name)) {
    refuse(runtime, state, " error: cannot read " + name);
    reopenPrevious(runtime, data, wasOpen);
    return;
  }

  if (state.readAsCsv || isCsvFileName(name)) {
    scanCsv(runtime, state, name, wasOpen);
    return;
  }

  // The header in bounded pieces: its first kHeaderLength characters (after
  // a byte-order mark) hold the names; the rest is only counted.
  std::string header;
  bool ended = false;
  const platform::ReadResult headerRead =
      runtime.readPiece(kDataUnit, header, kByteOrderMark.size() + kHeaderLength, ended);
  if (headerRead == platform::ReadResult::Error) {
    refuse(runtime, state, " error: cannot read " + name);
    reopenPrevious(runtime, data, wasOpen);
    return;
  }
  data.dataFileName = name;
  if (headerRead == platform::ReadResult::EndOfFile) {
    traceBoth(runtime, listLine({"empty file"}));
    // Nothing of the earlier file may be offered for a file without data.
    clearTable(data);
    return;
  }

  HeaderNames h = splitHeader(header);
  const bool marked = std::string_view(header).substr(0, kByteOrderMark.size()) == kByteOrderMark;
  const std::size_t textEnd = (marked ? kByteOrderMark.size() : 0) + kHeaderLength;
  bool inName = h.lastReachesEnd;
  int pastEnd = h.lastReachesEnd ? 1 : 0;
  if (header.size() > textEnd)
    pastEnd += namesStarting(std::string_view(header).substr(textEnd), inName);
  std::string piece;
  while (!ended && runtime.readPiece(kDataUnit, piece, kHeaderTailPiece, ended) ==
                       platform::ReadResult::Success)
    pastEnd += namesStarting(piece, inName);

  const int beyondMax = h.complete - static_cast<int>(h.names.size());
  if (beyondMax > 0)
    traceBoth(runtime, " " + plural(beyondMax, "name", "names") + " beyond the " +
                           std::to_string(kMaxNames) + "th dropped: only " +
                           std::to_string(kMaxNames) + " columns are read");
  if (pastEnd > 0)
    traceBoth(runtime, " " + plural(pastEnd, "name", "names") + " dropped: only the first " +
                           std::to_string(kHeaderLength) +
                           " characters of the first line are read, and a name needs a blank "
                           "after it within them");
  if (!h.cutInsideCharacter.empty())
    traceBoth(
        runtime,
        " " + plural(static_cast<int>(h.cutInsideCharacter.size()), "name", "names") +
            " longer than " + std::to_string(kNameLength) +
            " bytes cut before a character that did not fit: " + nameList(h.cutInsideCharacter));

  if (h.names.empty()) {
    clearTable(data);
    refuse(runtime, state, " no column names in the first line of " + name);
    return;
  }

  // The columns' kinds, from every line that has a field per name. A header
  // that begins with a blank over lines with one field more is the layout of
  // a table with row names (pandas' to_csv with sep=" ").
  std::vector<std::string> cellNames = h.names;
  ColumnSurvey survey = surveyColumns(runtime, kDataUnit, 0, cellNames.size());
  const bool leadingBlank = !header.empty() && isNameSeparator(header[marked ? 3 : 0]);
  const bool rowNames = leadingBlank && survey.more > 0 && survey.oneMore == survey.more &&
                        survey.agreeing == 0 && survey.fewer == 0;
  if (rowNames) {
    cellNames.insert(cellNames.begin(), cutToWidth("", kNameLength));
    survey = surveyColumns(runtime, kDataUnit, 0, cellNames.size());
  }
  // Past the header again for the rows.
  for (ended = false; !ended && runtime.readPiece(kDataUnit, piece, kHeaderTailPiece, ended) ==
                                    platform::ReadResult::Success;) {
  }
  const std::vector<ColumnKind> kinds = kindsFromSurvey(runtime, survey, cellNames, rowNames);
  CellPlan plan(kinds, {}, true);
  takeColumns(data, cellNames, kinds);
  if (refusedWithoutColumns(runtime, state, name)) return;
  data.allPositive.assign(kMaxNames, true);
  // Values left out of the first row are zero, in this scan and in the Run's
  // re-read alike, whatever file was read before.
  data.rowCarryIn.assign(static_cast<std::size_t>(data.numCol1), 0.0);

  data.nRows = 0;
  FreeFormReader reader(runtime, kDataUnit, 1);
  reader.setPlan(&plan);
  std::vector<float> rowBuffer(static_cast<std::size_t>(data.numCol1), 0.0f);
  const std::span<float> row(rowBuffer);
  while (reader.nextRow(row)) {
    for (int j = 0; j < data.numCol1; ++j)
      data.allPositive[j] = data.allPositive[j] && row[static_cast<std::size_t>(j)] > 0.0f;
    ++data.nRows;
  }
  if (reader.inputFailed()) refuse(runtime, state, " error: cannot read " + name);
  keepLabels(runtime, data, plan, cellNames, survey);
  if (reader.incompleteRows() > 0)
    traceBoth(runtime, incompleteLine(reader.incompleteRows(), reader.firstIncompleteLine()));
  if (reader.unreadableRows() > 0)
    traceBoth(runtime, unreadableLine(reader.unreadableRows(), reader.firstUnreadableLine(),
                                      reader.firstUnreadableCell(), reader.firstUnreadableText(),
                                      cellNames));
  if (reader.rowsKeepingValues() > 0)
    traceBoth(runtime,
              " " + plural(reader.rowsKeepingValues(), "row", "rows") +
                  " with empty fields or a slash took the values left out from the row before "
                  "(zero in the first row; the first at line " +
                  std::to_string(reader.firstKeepingLine()) + ")");

  data.csvSeparator = 0;
  finishScan(runtime, state);
}

namespace {

// The scan's end for both kinds of file: the log variables, the rewind for
// the Run, the options' defaults and the Prepare dialog.
void finishScan(platform::Runtime& runtime, AppState& state) {
  DataTable& data = state.data;
  data.numCol = data.numCol1;
  data.lnSource.assign(static_cast<std::size_t>(data.numCol1), 0);
  for (int j = 1; j <= data.numCol1; ++j) {
    // The logarithm of a category's number means nothing.
    if (!data.allPositive[j - 1] || columnKind(data, j) == ColumnKind::Category) continue;
    ++data.numCol;
    data.lnSource.push_back(j);
    data.colName.push_back("_ln_" + cutToWidth(data.colName[j - 1], kLnNameChars));
  }
  const std::vector<std::string> alike = namesAlike(data.colName);
  if (!alike.empty())
    traceBoth(runtime, " names that cannot be told apart (equal in their first " +
                           std::to_string(kNameLength) +
                           " characters, or equal to a log variable's name): " + nameList(alike));

  runtime.rewind(kDataUnit);
  resetRunOptions(state.options);
  if (data.nRows != 0) prepareDialog(runtime, state);
}

void scanCsv(platform::Runtime& runtime, AppState& state, const std::string& name, bool wasOpen) {
  DataTable& data = state.data;
  const char separator = detectCsvSeparator(runtime, kDataUnit);
  CsvReader reader(runtime, kDataUnit, separator);
  std::vector<std::string> cells;
  // A few bytes beyond a name's width tell whether the cut splits a character.
  const bool haveHeader = reader.readHeader(cells, kNameLength + 4);
  if (reader.inputFailed()) {
    refuse(runtime, state, " error: cannot read " + name);
    reopenPrevious(runtime, data, wasOpen);
    return;
  }
  data.dataFileName = name;
  if (!haveHeader) {
    traceBoth(runtime, listLine({"empty file"}));
    clearTable(data);
    return;
  }
  traceBoth(runtime,
            separator == ';'
                ? std::string(" read as CSV: cells separated by semicolons, decimal commas")
                : std::string(" read as CSV: cells separated by commas"));
  std::vector<std::string> names;
  std::vector<std::string> cutInside;
  for (std::size_t c = 0; c < cells.size() && names.size() < static_cast<std::size_t>(kMaxNames);
       ++c) {
    // A column without a name still holds its place among the cells.
    const std::string text = cells[c].empty() ? "(column " + std::to_string(c + 1) + ")" : cells[c];
    bool splitCharacter = false;
    names.push_back(cutToWidth(text, kNameLength, &splitCharacter));
    if (splitCharacter) cutInside.push_back(names.back());
  }
  const int beyondMax = static_cast<int>(cells.size()) - static_cast<int>(names.size());
  if (beyondMax > 0)
    traceBoth(runtime, " " + plural(beyondMax, "name", "names") + " beyond the " +
                           std::to_string(kMaxNames) + "th dropped: only " +
                           std::to_string(kMaxNames) + " columns are read");
  if (!cutInside.empty())
    traceBoth(runtime,
              " " + plural(static_cast<int>(cutInside.size()), "name", "names") + " longer than " +
                  std::to_string(kNameLength) +
                  " bytes cut before a character that did not fit: " + nameList(cutInside));
  if (names.empty()) {
    clearTable(data);
    refuse(runtime, state, " no column names in the first line of " + name);
    return;
  }

  // The columns' kinds from every row's cells, then the rows by them. An
  // empty first name over the first column is R's and pandas' row names.
  const std::vector<std::string> cellNames = names;
  const ColumnSurvey survey = surveyColumns(runtime, kDataUnit, separator, cellNames.size());
  // The rows from the start again, by a reader of their own (its lines
  // count from the header).
  CsvReader rows(runtime, kDataUnit, separator);
  rows.readHeader(cells, kNameLength + 4);
  const bool rowNames = cellNames.size() > 1 && !cells.empty() && cells[0].empty();
  const std::vector<ColumnKind> kinds = kindsFromSurvey(runtime, survey, cellNames, rowNames);
  CellPlan plan(kinds, {}, true);
  takeColumns(data, cellNames, kinds);
  if (refusedWithoutColumns(runtime, state, name)) return;
  data.allPositive.assign(kMaxNames, true);
  data.rowCarryIn.assign(static_cast<std::size_t>(data.numCol1), 0.0);
  data.csvSeparator = separator;
  data.nRows = 0;
  rows.setPlan(&plan);
  std::vector<float> row(static_cast<std::size_t>(data.numCol1), 0.0f);
  while (rows.nextRow(std::span<float>(row))) {
    for (int j = 0; j < data.numCol1; ++j)
      data.allPositive[j] = data.allPositive[j] && row[static_cast<std::size_t>(j)] > 0.0f;
    ++data.nRows;
  }
  if (rows.inputFailed()) refuse(runtime, state, " error: cannot read " + name);
  keepLabels(runtime, data, plan, cellNames, survey);
  if (rows.incompleteRows() > 0)
    traceBoth(runtime, incompleteLine(rows.incompleteRows(), rows.firstIncompleteLine()));
  if (rows.unreadableRows() > 0)
    traceBoth(runtime, unreadableLine(rows.unreadableRows(), rows.firstUnreadableLine(),
                                      rows.firstUnreadableCell(), rows.firstUnreadableText(),
                                      cellNames));
  finishScan(runtime, state);
}

}  // namespace

void inputDataFile(platform::Runtime& runtime, AppState& state) {
  const std::vector<platform::FileFilter> filters = {
      {"Data files(*.DAT)", "*.dat"}, {"All files(*.*)", "*.*"}, {"CSV files(*.CSV)", "*.csv"}};
  std::string name = state.data.dataFileName;
  if (!runtime.openFileDialog(kDataFileDialogTitle, filters, name) || name.empty()) return;
  readDataFile(runtime, state, name);
}

}  // namespace tavel::app
