// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/data_file.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <span>
#include <system_error>
#include <thread>

#include "io/column_kinds.h"
#include "io/csv_reader.h"
#include "io/field_format.h"
#include "io/file_format.h"
#include "io/free_form_reader.h"
#include "io/row_reader.h"
#include "io/trace.h"
#include "io/workbook.h"

namespace tavel::io {
namespace {

// What one scan fills: the table, and the lines of what it could not do and
// of what the user should know of.
struct ScanState {
  const ReadingRequest& request;
  DataTable& data;
  std::vector<std::string>& problems;
  std::vector<std::string>& warnings;
};

void refuse(platform::Runtime& runtime, ScanState& state, std::string_view line) {
  io::refuse(runtime, state.problems, line);
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
  if (!wasOpen || data.dataFileName.empty()) return;
  openScannedFile(runtime, data);
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
  data.sheetName.clear();
  data.cellKind.clear();
  data.cellLabels.clear();
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
  bool slash = false;
  bool comma = false;  // a comma since the last field: a second one is an empty field
  bool anyComma = false;
  int line = 1;
  const auto separates = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '/'; };
  while (runtime.readPiece(unit, piece, kPiece, ended) == platform::ReadResult::Success) {
    const std::size_t size = piece.size();
    for (std::size_t i = 0; i < size && !slash;) {
      const char c = piece[i];
      if (!separates(c)) {
        // A field's characters are taken as one run, up to the longest
        // field a row may have.
        std::size_t j = i + 1;
        while (j < size && !separates(piece[j])) ++j;
        const std::size_t room = FreeFormReader::kMaxFieldChars - word.size();
        word.append(piece, i, std::min(j - i, room));
        i = j;
        continue;
      }
      ++i;
      if (!word.empty()) {
        words.push_back(std::move(word));
        comma = false;
      }
      word.clear();
      if (c == ',') {
        if (comma || words.empty()) words.emplace_back();
        comma = true;
        anyComma = true;
      }
      slash = c == '/';
    }
    if (!ended) continue;
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
    onLine(words, ++line, slash, anyComma);
    words.clear();
    slash = comma = anyComma = false;
  }
}

// Reads the first line from the start of the unit; true when it begins
// with a separator (after a byte-order mark): no name over the first column.
bool skipHeaderLine(platform::Runtime& runtime, int unit) {
  constexpr std::size_t kPiece = 4096;
  runtime.rewind(unit);
  std::string piece;
  bool ended = false;
  if (runtime.readPiece(unit, piece, kPiece, ended) != platform::ReadResult::Success) return false;
  std::string_view first(piece);
  if (first.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    first.remove_prefix(kByteOrderMark.size());
  const bool leading =
      !first.empty() && (first.front() == ' ' || first.front() == '\t' || first.front() == '~');
  while (!ended && runtime.readPiece(unit, piece, kPiece, ended) == platform::ReadResult::Success) {
  }
  return leading;
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// What the scan's pass over the rows finds: how many rows read, and which
// columns hold only positive values (single precision, as the scan has
// always read them).
struct RowCount {
  int rows = 0;
  std::vector<bool> allPositive;
};

// Every row the reader gives; stops early (with a count that is not used)
// when stop is set.
void countRows(RowReader& reader, std::size_t columns, RowCount& count,
               const std::atomic<bool>* stop = nullptr) {
  constexpr int kRowsBetweenLooks = 4096;
  count.rows = 0;
  count.allPositive.assign(std::max<std::size_t>(kMaxNames, columns), true);
  std::vector<float> rowBuffer(columns, 0.0f);
  const std::span<float> row(rowBuffer);
  while (reader.nextRow(row)) {
    for (std::size_t j = 0; j < columns; ++j)
      count.allPositive[j] = count.allPositive[j] && row[j] > 0.0f;
    ++count.rows;
    if (stop != nullptr && count.rows % kRowsBetweenLooks == 0 &&
        stop->load(std::memory_order_relaxed))
      return;
  }
}

// The pass over the rows, made on a second thread while the column survey
// reads the file on this one, with every cell taken for a number, as in
// most files. When the survey finds every column a number, the scan takes
// this pass for its own (the same reader and rules over the same bytes, so
// the same counts and lines); otherwise it is stopped, and the rows are read
// again by the kinds found. The file is read through a reader of its own
// (Runtime::readAgain); without one, there is no early pass.
class EarlyRows {
 public:
  EarlyRows(platform::Runtime& runtime, const std::string& name, RowFormat format,
            std::size_t columns)
      : source_(runtime.readAgain(name)) {
    if (!source_) return;
    try {
      thread_ = std::thread([this, format = std::move(format), columns]() mutable {
        try {
          reader_.emplace(*source_, 1, std::move(format));
          countRows(*reader_, columns, count_, &stop_);
          done_ = !stop_.load();
        } catch (...) {
          // (Memory, most likely.) The rows are read the ordinary way instead.
          done_ = false;
        }
      });
    } catch (const std::system_error&) {
      // No thread to be had: no early pass.
    }
  }
  EarlyRows(const EarlyRows&) = delete;
  EarlyRows& operator=(const EarlyRows&) = delete;
  ~EarlyRows() { stop(); }

  // Gives the pass up, and waits for its thread to see that.
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // When the pass is what the scan needs (usable: the survey found every
  // column a number), waits for it to end and gives its reader (for the
  // counts of rows skipped) and its count; null when it is not usable, was
  // not made, or did not read the whole file. Otherwise gives it up.
  RowReader* takeIf(bool usable, RowCount& count) {
    if (!usable) {
      stop();
      return nullptr;
    }
    if (thread_.joinable()) thread_.join();
    if (!done_ || !reader_ || reader_->inputFailed()) return nullptr;
    count = std::move(count_);
    return &*reader_;
  }

 private:
  std::unique_ptr<platform::TextSource> source_;
  std::optional<RowReader> reader_;
  RowCount count_;
  std::atomic<bool> stop_{false};
  bool done_ = false;
  std::thread thread_;
};

// The format of the early pass: every one of the columns a number.
RowFormat everyCellANumber(std::size_t columns, char csvSeparator, std::size_t headerKeepChars) {
  RowFormat format;
  format.csvSeparator = csvSeparator;
  format.headerKeepChars = headerKeepChars;
  format.plan = CellPlan(std::vector<ColumnKind>(columns, ColumnKind::Number), {},
                         CellPlan::NewLabels::Collect);
  format.carryIn.assign(columns, 0.0);
  return format;
}

bool allNumbers(const std::vector<ColumnKind>& kinds) {
  return std::all_of(kinds.begin(), kinds.end(),
                     [](ColumnKind k) { return k == ColumnKind::Number; });
}

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
      traceBoth(runtime, " " + column + " holds text (line " + std::to_string(cells.firstTextLine) +
                             ": " + quoted(cells.firstText) + "), a label for every row: not used");
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

// A whitespace file whose every line disagrees with its names the same way
// would be read wrong throughout: rows made of two lines (a name with a
// blank), or values cut apart (decimal commas, digit grouping). Refused with
// the likely cause. Lines that disagree here and there are said once.
bool refusedForLineShapes(platform::Runtime& runtime, ScanState& state, const std::string& name,
                          const ColumnSurvey& survey, std::size_t names, bool rowNames,
                          bool namesDropped) {
  // Names beyond those kept leave values on every line, as they always did.
  if (rowNames || namesDropped) return false;
  const std::string first = "the first line has " + std::to_string(names) + " names but line ";
  std::string why;
  if (survey.agreeing == 0 && survey.more == 0 && survey.fewer > 0 && !survey.linesMakeRows)
    why = first + std::to_string(survey.firstFewerLine) + " has " +
          std::to_string(survey.firstFewerFields) +
          " values: a name with a blank? Quote the names or use a CSV file";
  if (survey.agreeing == 0 && survey.fewer == 0 && survey.more > 0)
    why = first + std::to_string(survey.firstMoreLine) + " has " +
          std::to_string(survey.firstMoreFields) + " values: " +
          (survey.commaInFirstMore
               ? "this looks like decimal commas or digit grouping (1,5 or 1,234.5); save the "
                 "file as CSV with semicolons, or write numbers with a point and no grouping"
               : "a name missing from the first line?");
  if (!why.empty()) {
    clearTable(state.data);
    refuse(runtime, state, " error: " + name + " cannot be read as a table: " + why);
    return true;
  }
  const auto warn = [&](const std::string& line) {
    traceBoth(runtime, line);
    state.warnings.push_back(line.substr(1));
  };
  if (survey.agreeing > 0 && survey.fewer > 0)
    warn(" " + plural(survey.fewer, "line has", "lines have") +
         " fewer values than names (the first at line " + std::to_string(survey.firstFewerLine) +
         "): the row goes on over the next line");
  if (survey.agreeing > 0 && survey.more > 0)
    warn(" " + plural(survey.more, "line has", "lines have") +
         " more values than names (the first at line " + std::to_string(survey.firstMoreLine) +
         "): the values beyond the names are not read");
  return false;
}

// A file whose every column was set aside has nothing to analyse.
bool refusedWithoutColumns(platform::Runtime& runtime, ScanState& state, const std::string& name) {
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

// What the reading did to the names of either kind of header, said once.
void sayWhatNamesBecame(platform::Runtime& runtime, const HeaderNames& h) {
  if (!h.readAsLatin1.empty())
    traceBoth(runtime,
              " names read as Latin-1 and converted to UTF-8: " + nameList(h.readAsLatin1));
  const int beyondMax = h.complete - static_cast<int>(h.names.size());
  if (beyondMax > 0)
    traceBoth(runtime, " " + plural(beyondMax, "name", "names") + " beyond the " +
                           std::to_string(kMaxNames) + "th dropped: only " +
                           std::to_string(kMaxNames) + " columns are read");
  if (!h.cutInsideCharacter.empty())
    traceBoth(
        runtime,
        " " + plural(static_cast<int>(h.cutInsideCharacter.size()), "name", "names") +
            " longer than " + std::to_string(kNameLength) +
            " bytes cut before a character that did not fit: " + nameList(h.cutInsideCharacter));
}

void finishScan(platform::Runtime& runtime, ScanState& state);
bool scanCsv(platform::Runtime& runtime, ScanState& state, const std::string& name, bool wasOpen,
             char separator, const SheetRead* sheet = nullptr);

}  // namespace

bool isCsvFileName(std::string_view name) {
  constexpr std::string_view kCsv = ".csv";
  return name.size() >= kCsv.size() && sameLetters(name.substr(name.size() - kCsv.size()), kCsv);
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
    // A slash ends a row early: the values it leaves out are no fewer values.
    forEachWordLine(runtime, unit,
                    [&](std::vector<std::string>& words, int line, bool slash, bool comma) {
                      if (slash && words.size() < columns) words.resize(columns);
                      survey.addLine(words, line, comma);
                    });
  }
  runtime.rewind(unit);
  return survey;
}

bool openScannedFile(platform::Runtime& runtime, const DataTable& data) {
  runtime.close(kDataUnit);
  if (data.dataFileName.empty()) return false;
  if (data.sheetName.empty()) return runtime.openFileForReading(kDataUnit, data.dataFileName);
  SheetRead read;
  std::string why;
  return openWorkbookForReading(runtime, kDataUnit, runtime.resolvePath(data.dataFileName),
                                data.sheetName, read, why);
}

bool scanDataFile(platform::Runtime& runtime, const ReadingRequest& request,
                  std::string_view fileName, DataTable& table, std::vector<std::string>& problems,
                  std::vector<std::string>& warnings) {
  ScanState state{request, table, problems, warnings};
  DataTable& data = state.data;
  state.warnings.clear();
  const std::string name(fileName);
  // A path shorter than the old fixed field is padded to it, so logs read as before.
  traceBoth(runtime, listLine({"open ", name.size() < static_cast<std::size_t>(kFileNameLength)
                                            ? padded(name, kFileNameLength)
                                            : name}));

  if (runtime.pathKind(name) == platform::PathKind::Other) {
    refuse(runtime, state,
           " error: cannot read " + name + ": it is not a regular file (a folder, pipe or device)");
    return false;
  }
  const bool wasOpen = runtime.isOpen(kDataUnit);
  runtime.close(kDataUnit);
  if (isWorkbookFileName(name)) {
    // A worksheet is read as the CSV file of its cells.
    SheetRead sheet;
    std::string why;
    if (runtime.pathKind(name) == platform::PathKind::Missing) why = "there is no such file";
    if (!why.empty() || !openWorkbookForReading(runtime, kDataUnit, runtime.resolvePath(name),
                                                state.request.sheetAsked, sheet, why)) {
      refuse(runtime, state,
             " error: cannot read " + name + (why.empty() ? std::string() : ": " + why));
      reopenPrevious(runtime, data, wasOpen);
      return false;
    }
    return scanCsv(runtime, state, name, wasOpen, ',', &sheet);
  }
  if (!runtime.openFileForReading(kDataUnit, name)) {
    refuse(runtime, state, " error: cannot read " + name);
    reopenPrevious(runtime, data, wasOpen);
    return false;
  }

  const char separator = chooseFileReading(
      runtime, kDataUnit, name, ReadingAsked{.csv = request.readAsCsv, .tsv = request.readAsTsv});
  if (separator != 0) {
    return scanCsv(runtime, state, name, wasOpen, separator);
  }

  HeaderNames h;
  const platform::ReadResult headerRead = readFreeFormHeader(runtime, kDataUnit, h);
  if (headerRead == platform::ReadResult::Error) {
    refuse(runtime, state, " error: cannot read " + name);
    reopenPrevious(runtime, data, wasOpen);
    return false;
  }
  data.dataFileName = name;
  if (headerRead == platform::ReadResult::EndOfFile) {
    traceBoth(runtime, listLine({"empty file"}));
    // Nothing of the earlier file may be offered for a file without data.
    clearTable(data);
    return false;
  }
  sayWhatNamesBecame(runtime, h);

  if (h.names.empty()) {
    clearTable(data);
    refuse(runtime, state, " no column names in the first line of " + name);
    return false;
  }

  // The columns' kinds, from every line that has a field per name. A header
  // that begins with a blank over lines with one field more is the layout of
  // a table with row names (pandas' to_csv with sep=" ").
  std::vector<std::string> cellNames = h.names;
  EarlyRows earlyRows(runtime, name, everyCellANumber(cellNames.size(), 0, 0), cellNames.size());
  ColumnSurvey survey = surveyColumns(runtime, kDataUnit, 0, cellNames.size());
  const bool rowNames = survey.more > 0 && survey.oneMore == survey.more && survey.agreeing == 0 &&
                        survey.fewer == 0 && skipHeaderLine(runtime, kDataUnit);
  if (rowNames) {
    cellNames.insert(cellNames.begin(), cutToWidth("", kNameLength));
    survey = surveyColumns(runtime, kDataUnit, 0, cellNames.size());
  }
  if (refusedForLineShapes(runtime, state, name, survey, cellNames.size(), rowNames,
                           h.complete > static_cast<int>(h.names.size())))
    return false;
  const std::vector<ColumnKind> kinds = kindsFromSurvey(runtime, survey, cellNames, rowNames);
  takeColumns(data, cellNames, kinds);
  if (refusedWithoutColumns(runtime, state, name)) return false;
  // Values left out of the first row are zero, in this scan and in the Run's
  // re-read alike, whatever file was read before.
  data.rowCarryIn.assign(static_cast<std::size_t>(data.numCol1), 0.0);

  const auto columns = static_cast<std::size_t>(data.numCol1);
  RowCount count;
  RowReader* const early = earlyRows.takeIf(!rowNames && allNumbers(kinds), count);
  std::optional<RowReader> again;
  if (early == nullptr) {
    // Past the header again for the rows.
    RowFormat format;
    format.plan = CellPlan(kinds, {}, CellPlan::NewLabels::Collect);
    format.carryIn = data.rowCarryIn;
    again.emplace(runtime, kDataUnit, std::move(format));
    countRows(*again, columns, count);
  }
  RowReader& reader = early != nullptr ? *early : *again;
  data.nRows = count.rows;
  data.allPositive = std::move(count.allPositive);
  if (reader.inputFailed()) refuse(runtime, state, " error: cannot read " + name);
  keepLabels(runtime, data, reader.plan(), cellNames, survey);
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
  return true;
}

namespace {

// The scan's end for both kinds of file: the log variables and the rewind
// for the Run.
void finishScan(platform::Runtime& runtime, ScanState& state) {
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
}

bool scanCsv(platform::Runtime& runtime, ScanState& state, const std::string& name, bool wasOpen,
             char separator, const SheetRead* sheet) {
  DataTable& data = state.data;
  CsvReader reader(runtime, kDataUnit, separator);
  std::vector<std::string> cells;
  const bool haveHeader = reader.readHeader(cells, kNameKeepBytes);
  if (reader.inputFailed()) {
    refuse(runtime, state, " error: cannot read " + name);
    reopenPrevious(runtime, data, wasOpen);
    return false;
  }
  data.dataFileName = name;
  if (!haveHeader) {
    traceBoth(runtime, listLine({"empty file"}));
    clearTable(data);
    return false;
  }
  traceBoth(runtime, sheet != nullptr ? sheetReadingLine(*sheet) : csvReadingLine(separator));
  HeaderNames h = namesFromCells(std::move(cells));
  sayWhatNamesBecame(runtime, h);
  if (h.names.empty()) {
    clearTable(data);
    refuse(runtime, state, " no column names in the first line of " + name);
    return false;
  }

  // The columns' kinds from every row's cells, then the rows by them. An
  // empty first name over the first column is R's and pandas' row names.
  const std::vector<std::string> cellNames = h.names;
  constexpr std::size_t kHeaderKeep = kNameLength + 4;
  std::optional<EarlyRows> earlyRows;
  // (A worksheet's cells are on the data unit only.)
  if (sheet == nullptr)
    earlyRows.emplace(runtime, name, everyCellANumber(cellNames.size(), separator, kHeaderKeep),
                      cellNames.size());
  const ColumnSurvey survey = surveyColumns(runtime, kDataUnit, separator, cellNames.size());
  // The rows from the start again, by a reader of their own (its lines
  // count from the header).
  RowFormat format;
  format.csvSeparator = separator;
  format.headerKeepChars = kHeaderKeep;
  RowReader header(runtime, kDataUnit, std::move(format));
  const std::vector<std::string>& first = header.headerCells();
  const bool rowNames = cellNames.size() > 1 && !first.empty() && first[0].empty();
  const std::vector<ColumnKind> kinds = kindsFromSurvey(runtime, survey, cellNames, rowNames);
  takeColumns(data, cellNames, kinds);
  if (refusedWithoutColumns(runtime, state, name)) return false;
  data.rowCarryIn.assign(static_cast<std::size_t>(data.numCol1), 0.0);
  data.csvSeparator = separator;
  data.sheetName = sheet != nullptr ? sheet->sheetName : std::string();
  RowCount count;
  RowReader* const early = earlyRows ? earlyRows->takeIf(allNumbers(kinds), count) : nullptr;
  if (early == nullptr) {
    header.setPlan(CellPlan(kinds, {}, CellPlan::NewLabels::Collect));
    countRows(header, static_cast<std::size_t>(data.numCol1), count);
  }
  RowReader& rows = early != nullptr ? *early : header;
  data.nRows = count.rows;
  data.allPositive = std::move(count.allPositive);
  if (rows.inputFailed()) refuse(runtime, state, " error: cannot read " + name);
  keepLabels(runtime, data, rows.plan(), cellNames, survey);
  if (rows.incompleteRows() > 0)
    traceBoth(runtime, incompleteLine(rows.incompleteRows(), rows.firstIncompleteLine()));
  if (rows.unreadableRows() > 0)
    traceBoth(runtime,
              unreadableLine(rows.unreadableRows(), rows.firstUnreadableLine(),
                             rows.firstUnreadableCell(), rows.firstUnreadableText(), cellNames));
  finishScan(runtime, state);
  return true;
}

}  // namespace

}  // namespace tavel::io
