#include "app/data_file.h"

#include <span>

#include "app/field_format.h"
#include "app/free_form_reader.h"
#include "app/prepare_dialog.h"
#include "app/trace.h"

namespace tavel::app {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isNameSeparator(char c) { return c == ' ' || c == '\t' || c == '~'; }

void reportUnreadable(platform::Runtime& runtime, std::string_view fileName) {
  traceBoth(runtime, listLine({"error: cannot read ", fileName}));
}

// Puts the earlier data file back on the data unit after a failed choice, so
// the table that is kept still describes the open file.
void reopenPrevious(platform::Runtime& runtime, const DataTable& data, bool wasOpen) {
  runtime.close(kDataUnit);
  if (wasOpen && !data.dataFileName.empty()) runtime.openFile(kDataUnit, data.dataFileName, false);
}

void resetRunOptions(RunOptions& options) {
  const RunOptions defaults;
  options.NumTerm = defaults.NumTerm;
  options.DelRsq = defaults.DelRsq;
  options.Equilibration = defaults.Equilibration;
  options.ScreenCaptures = defaults.ScreenCaptures;
  options.CvFolds = defaults.CvFolds;
}

}  // namespace

std::vector<std::string> headerToNames(std::string_view headerLine) {
  if (headerLine.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    headerLine.remove_prefix(kByteOrderMark.size());
  if (!headerLine.empty() && headerLine.back() == '\r') headerLine.remove_suffix(1);
  // The header is taken as a blank-padded text of kHeaderLength characters;
  // the padding separates a name that ends before the last character.
  const std::string_view text = headerLine.substr(0, kHeaderLength);
  const std::size_t length = kHeaderLength;
  auto at = [&](std::size_t i) { return i < text.size() ? text[i] : ' '; };

  std::vector<std::string> names;
  std::size_t i = 0;
  while (i < length && static_cast<int>(names.size()) < kMaxNames) {
    while (i < length && isNameSeparator(at(i))) ++i;
    const std::size_t start = i;
    while (i < length && !isNameSeparator(at(i))) ++i;
    if (i == start || i == length) break;  // no name, or no separator after it
    names.push_back(padded(text.substr(start, i - start), kNameLength));
  }
  return names;
}

void readDataFile(platform::Runtime& runtime, AppState& state, std::string_view fileName) {
  DataTable& data = state.data;
  const std::string name(fileName);
  traceBoth(runtime, listLine({"open ", padded(name, kFileNameLength)}));

  const bool wasOpen = runtime.isOpen(kDataUnit);
  runtime.close(kDataUnit);
  if (!runtime.openFile(kDataUnit, name, false)) {
    reportUnreadable(runtime, name);
    reopenPrevious(runtime, data, wasOpen);
    return;
  }

  std::string header;
  const platform::ReadResult headerRead = runtime.readLine(kDataUnit, header);
  if (headerRead == platform::ReadResult::Error) {
    reportUnreadable(runtime, name);
    reopenPrevious(runtime, data, wasOpen);
    return;
  }
  data.dataFileName = name;
  if (headerRead == platform::ReadResult::EndOfFile) {
    traceBoth(runtime, listLine({"empty file"}));
    // Nothing of the earlier file may be offered for a file without data.
    data.numCol1 = 0;
    data.numCol = 0;
    data.nRows = 0;
    data.colName.clear();
    data.lnSource.clear();
    data.allPositive.assign(kMaxNames, true);
    return;
  }

  data.colName = headerToNames(header);
  data.numCol1 = static_cast<int>(data.colName.size());
  data.allPositive.assign(kMaxNames, true);
  data.rowCarryIn.assign(state.scanRow.begin(), state.scanRow.end());

  data.nRows = 0;
  FreeFormReader reader(runtime, kDataUnit);
  const std::span<float> row(state.scanRow.data(), static_cast<std::size_t>(data.numCol1));
  while (reader.nextRow(row)) {
    for (int j = 0; j < data.numCol1; ++j)
      data.allPositive[j] = data.allPositive[j] && row[static_cast<std::size_t>(j)] > 0.0f;
    ++data.nRows;
  }
  if (reader.inputFailed()) reportUnreadable(runtime, name);

  data.numCol = data.numCol1;
  data.lnSource.assign(static_cast<std::size_t>(data.numCol1), 0);
  for (int j = 1; j <= data.numCol1; ++j) {
    if (!data.allPositive[j - 1]) continue;
    ++data.numCol;
    data.lnSource.push_back(j);
    data.colName.push_back("_ln_" + data.colName[j - 1].substr(0, kLnNameChars));
  }

  runtime.rewind(kDataUnit);
  resetRunOptions(state.options);
  if (data.nRows != 0) prepareDialog(runtime, state);
}

void inputDataFile(platform::Runtime& runtime, AppState& state) {
  const std::vector<platform::FileFilter> filters = {{"Data files(*.DAT)", "*.dat"},
                                                     {"All files(*.*)", "*.*"}};
  std::string name = state.data.dataFileName;
  if (!runtime.openFileDialog(kDataFileDialogTitle, filters, name) || name.empty()) return;
  readDataFile(runtime, state, name);
}

}  // namespace tavel::app
