#include "app/data_file.h"

#include <span>

#include "app/csv_reader.h"
#include "app/field_format.h"
#include "app/file_format.h"
#include "app/free_form_reader.h"
#include "app/prepare_dialog.h"
#include "app/trace.h"

namespace tavel::app {
namespace {

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
}

void resetRunOptions(RunOptions& options) {
  const RunOptions defaults;
  options.NumTerm = defaults.NumTerm;
  options.DelRsq = defaults.DelRsq;
  options.Equilibration = defaults.Equilibration;
  options.ScreenCaptures = defaults.ScreenCaptures;
  options.CvFolds = defaults.CvFolds;
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

void finishScan(platform::Runtime& runtime, AppState& state);
void scanCsv(platform::Runtime& runtime, AppState& state, const std::string& name, bool wasOpen,
             char separator);

}  // namespace

bool isCsvFileName(std::string_view name) {
  constexpr std::string_view kCsv = ".csv";
  return name.size() >= kCsv.size() && sameLetters(name.substr(name.size() - kCsv.size()), kCsv);
}

void readDataFile(platform::Runtime& runtime, AppState& state, std::string_view fileName) {
  DataTable& data = state.data;
  const std::string name(fileName);
  // A path shorter than the old fixed field is padded to it, so logs read as before.
  traceBoth(runtime, listLine({"open ", name.size() < static_cast<std::size_t>(kFileNameLength)
                                            ? padded(name, kFileNameLength)
                                            : name}));

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

  const char separator = chooseFileReading(runtime, kDataUnit, name, readingAsked(state));
  if (separator != 0) {
    scanCsv(runtime, state, name, wasOpen, separator);
    return;
  }

  HeaderNames h;
  const platform::ReadResult headerRead = readFreeFormHeader(runtime, kDataUnit, h);
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
  sayWhatNamesBecame(runtime, h);

  if (h.names.empty()) {
    clearTable(data);
    refuse(runtime, state, " no column names in the first line of " + name);
    return;
  }

  data.colName = std::move(h.names);
  data.numCol1 = static_cast<int>(data.colName.size());
  data.allPositive.assign(kMaxNames, true);
  // Values left out of the first row are zero, in this scan and in the Run's
  // re-read alike, whatever file was read before.
  data.rowCarryIn.assign(static_cast<std::size_t>(data.numCol1), 0.0);

  data.nRows = 0;
  FreeFormReader reader(runtime, kDataUnit, 1);
  std::vector<float> rowBuffer(static_cast<std::size_t>(data.numCol1), 0.0f);
  const std::span<float> row(rowBuffer);
  while (reader.nextRow(row)) {
    for (int j = 0; j < data.numCol1; ++j)
      data.allPositive[j] = data.allPositive[j] && row[static_cast<std::size_t>(j)] > 0.0f;
    ++data.nRows;
  }
  if (reader.inputFailed()) refuse(runtime, state, " error: cannot read " + name);
  if (reader.unreadableRows() > 0)
    traceBoth(runtime, " " + plural(reader.unreadableRows(), "unreadable row", "unreadable rows") +
                           " skipped, each together with the record after it (the first at line " +
                           std::to_string(reader.firstUnreadableLine()) + ")");
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
    if (!data.allPositive[j - 1]) continue;
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

void scanCsv(platform::Runtime& runtime, AppState& state, const std::string& name, bool wasOpen,
             char separator) {
  DataTable& data = state.data;
  CsvReader reader(runtime, kDataUnit, separator);
  std::vector<std::string> cells;
  const bool haveHeader = reader.readHeader(cells, kNameKeepBytes);
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
  traceBoth(runtime, csvReadingLine(separator));
  HeaderNames h = namesFromCells(std::move(cells));
  sayWhatNamesBecame(runtime, h);
  if (h.names.empty()) {
    clearTable(data);
    refuse(runtime, state, " no column names in the first line of " + name);
    return;
  }

  data.colName = std::move(h.names);
  data.numCol1 = static_cast<int>(data.colName.size());
  data.allPositive.assign(kMaxNames, true);
  data.rowCarryIn.assign(static_cast<std::size_t>(data.numCol1), 0.0);
  data.csvSeparator = separator;
  data.nRows = 0;
  std::vector<float> row(static_cast<std::size_t>(data.numCol1), 0.0f);
  while (reader.nextRow(std::span<float>(row))) {
    for (int j = 0; j < data.numCol1; ++j)
      data.allPositive[j] = data.allPositive[j] && row[static_cast<std::size_t>(j)] > 0.0f;
    ++data.nRows;
  }
  if (reader.inputFailed()) refuse(runtime, state, " error: cannot read " + name);
  if (reader.incompleteRows() > 0)
    traceBoth(
        runtime,
        " " + plural(reader.incompleteRows(), "incomplete row", "incomplete rows") +
            " skipped for a missing value (a cell empty, NA, NaN, N/A or .; the first at line " +
            std::to_string(reader.firstIncompleteLine()) + ")");
  if (reader.unreadableRows() > 0)
    traceBoth(runtime, " " + plural(reader.unreadableRows(), "unreadable row", "unreadable rows") +
                           " skipped: a cell that is not a number (the first at line " +
                           std::to_string(reader.firstUnreadableLine()) + ")");
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
