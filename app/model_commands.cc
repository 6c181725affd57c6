// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/model_commands.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "app/data_file.h"
#include "app/sheet_dialog.h"
#include "io/column_kinds.h"
#include "io/csv_reader.h"
#include "io/field_format.h"
#include "io/file_format.h"
#include "io/free_form_reader.h"
#include "io/row_reader.h"
#include "io/trace.h"
#include "io/workbook.h"
#include "model/cross_validation.h"
#include "model/model_file.h"
#include "platform/file_units.h"

namespace tavel::app {
namespace {

constexpr std::string_view kModelDialogTitle = "Tavel Model File";
constexpr std::string_view kPredictDialogTitle = "Data File to Predict";

// why has no leading blank; the screen and log line do.
void refuseCommand(platform::Runtime& runtime, AppState& state, const std::string& why) {
  refuse(runtime, state, " " + why);
}

bool isFile(platform::Runtime& runtime, const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(runtime.resolvePath(path), ec);
}

// The name a prediction column takes from the response: a log response is
// predicted on its column's own scale, so it is named by that column.
std::string responseColumnName(const model::Variable& response) {
  return (response.isLog ? response.source : response.name) + "_Pred";
}

// One Tavelpr.xls record built in a reused buffer: E15.5 values and texts,
// each followed by a tab.
class Record {
 public:
  void clear() { text_.clear(); }
  void value(double v) {
    // A label the model never saw has no number to show.
    if (std::isnan(v)) return text("");
    const std::size_t at = text_.size();
    text_.resize(at + 15);
    putE(text_.data() + at, v, 15, 5);
    text_.push_back('\t');
  }
  void text(std::string_view t) {
    text_ += t;
    text_.push_back('\t');
  }
  std::string_view view() const { return text_; }

 private:
  std::string text_;
};

}  // namespace

bool saveModel(platform::Runtime& runtime, AppState& state, const std::string& path) {
  if (!state.model) {
    refuseCommand(runtime, state,
                  "There is no model to save: run an analysis or open a model first.");
    return false;
  }
  const std::string target = runtime.resolvePath(path);
  // The model never takes the place of the data it was fitted on or of the log.
  const std::string others[] = {state.data.dataFileName, std::string(kLogFileName)};
  for (const std::string& other : others) {
    if (other.empty() || !platform::wouldReplace(target, runtime.resolvePath(other))) continue;
    refuseCommand(runtime, state,
                  path + " is " + (other == others[0] ? "the data file " : "the run log ") + other +
                      "; the model was not saved.");
    return false;
  }
  // A file that would be refused when read is not written.
  if (const std::string problem = model::modelProblem(*state.model); !problem.empty()) {
    refuseCommand(runtime, state, "The model cannot predict (" + problem + "); it was not saved.");
    return false;
  }
  std::string why;
  const StageTimer timer(state.timings, "model save");
  if (!platform::replaceFileWithPieces(
          target, [&](const auto& write) { return model::writeModelJson(*state.model, write); },
          why)) {
    refuseCommand(runtime, state, "The model file " + path + " " + why + "; it was not saved.");
    return false;
  }
  traceBoth(runtime, " Model saved to " + path);
  state.status = "Model saved to " + target;
  return true;
}

bool openModel(platform::Runtime& runtime, AppState& state, const std::string& path) {
  const StageTimer timer(state.timings, "model open");
  model::Model m;
  std::string message;
  // Parsed as it is read: a model of millions of values never exists twice,
  // once as text and once as numbers.
  platform::RegularFilePieces file(runtime.resolvePath(path), model::kMaxModelFileBytes);
  const bool parsed = file.why().empty() &&
                      model::modelFromJsonPieces(
                          [&file](std::string& piece) { return file.next(piece); }, m, message);
  // A file that could not be read to its end is not called a bad model.
  if (!file.why().empty()) {
    message = file.why();
    if (message.starts_with("is larger")) message += ", the most a model file may hold";
    refuseCommand(runtime, state, "The model file " + path + " " + message + "; nothing opened.");
    return false;
  }
  if (!parsed) {
    refuseCommand(runtime, state, path + ": " + message);
    return false;
  }
  std::string line = " Model opened from " + path + ": " + std::to_string(m.predictors.size()) +
                     " predictors, response " + m.response.name + ", fitted r**2 =";
  appendF(line, m.rsq, 7, 4);
  if (m.crossValidation && m.crossValidation->responseScale) {
    const model::CvSummary& cv = *m.crossValidation;
    line +=
        ";" + model::responseScaleLine(cv.folds, cv.responseRsq, cv.responseRmse, cv.exponentiated);
  }
  state.model = std::move(m);
  traceBoth(runtime, line);
  state.status = line.substr(1);
  return true;
}

bool predictDataFile(platform::Runtime& runtime, AppState& state, const model::Model& model,
                     const std::string& path) {
  std::optional<StageTimer> timer(std::in_place, state.timings, "predict: read");
  // Opening a missing file would create it: a prediction only reads.
  SheetRead sheet;
  std::string why;
  const bool workbook = isWorkbookFileName(path);
  if (!isFile(runtime, path) ||
      !(workbook ? openWorkbookForReading(runtime, kPredictDataUnit, runtime.resolvePath(path),
                                          state.sheetAsked, sheet, why)
                 : runtime.openFileForReading(kPredictDataUnit, path))) {
    refuseCommand(runtime, state,
                  "The data file " + path + " cannot be read" + (why.empty() ? "" : ": " + why) +
                      "; nothing predicted.");
    return false;
  }
  // New rows are read as the scan would read the same file, so a model
  // predicts its own training file.
  const char separator =
      workbook ? ',' : chooseFileReading(runtime, kPredictDataUnit, path, readingAsked(state));
  std::optional<CsvReader> csvReader;
  std::vector<std::string> names;
  if (separator != 0) {
    csvReader.emplace(runtime, kPredictDataUnit, separator);
    std::vector<std::string> cells;
    // Every cell is a column here: the rows are read as wide as the header.
    if (csvReader->readHeader(cells, kNameKeepBytes))
      names = namesFromCells(std::move(cells), std::numeric_limits<std::size_t>::max()).names;
  } else {
    HeaderNames header;
    if (readFreeFormHeader(runtime, kPredictDataUnit, header) == platform::ReadResult::Success)
      names = std::move(header.names);
  }
  const int p = static_cast<int>(model.predictors.size());
  std::vector<int> column(static_cast<std::size_t>(p), -1);
  for (int j = 0; j < p; ++j) {
    const model::Variable& v = model.predictors[static_cast<std::size_t>(j)];
    int found = 0;
    for (std::size_t c = 0; c < names.size(); ++c) {
      if (trimName(names[c]) != v.source) continue;
      if (found++ == 0) column[j] = static_cast<int>(c);
    }
    // Two columns of one name cannot be told apart, here as in the scan.
    const std::string why = found == 0
                                ? "has no column " + v.source + " (needed for " + v.name + ")"
                            : found > 1 ? "has " + std::to_string(found) + " columns named " +
                                              v.source + ", which cannot be told apart"
                                        : std::string();
    if (!why.empty()) {
      runtime.close(kPredictDataUnit);
      refuseCommand(runtime, state, "The data file " + path + " " + why + "; nothing predicted.");
      return false;
    }
  }

  // Only the columns the model needs are read, each as its kind: a
  // category by the model's own labels (one it never saw is an unknown
  // category), a date column as the decimal year. Other columns, text or
  // not, never make a row unreadable.
  const ColumnSurvey survey = surveyColumns(runtime, kPredictDataUnit, separator, names.size());
  std::vector<ColumnKind> kinds(names.size(), ColumnKind::Skipped);
  std::vector<std::vector<std::string>> labels(names.size());
  for (int j = 0; j < p; ++j) {
    const auto c = static_cast<std::size_t>(column[j]);
    const model::Variable& v = model.predictors[static_cast<std::size_t>(j)];
    kinds[c] = !v.labels.empty()                                   ? ColumnKind::Category
               : columnKindOf(survey.cells[c]) == ColumnKind::Date ? ColumnKind::Date
                                                                   : ColumnKind::Number;
    if (!v.labels.empty()) labels[c] = v.labels;
  }
  io::RowFormat format;
  format.csvSeparator = separator;
  format.plan = CellPlan(kinds, labels, CellPlan::NewLabels::NotANumber);
  io::RowReader rows(runtime, kPredictDataUnit, std::move(format));
  const CellPlan& plan = rows.plan();

  // Every row of the file in order, the readable ones kept only as the
  // model takes them (p values a row, in blocks that never move once
  // filled), the others only by what became of them. The whole file is read
  // before Tavelpr.xls is begun, so a file that fails half way leaves an
  // earlier sheet as it was; the predictions themselves never exist for more
  // than a block of rows.
  enum class Read : std::uint8_t { Ok, Missing, Unreadable };
  std::vector<Read> read;
  const auto blockSize = static_cast<std::size_t>(kPredictBlockRows) * p;
  std::vector<std::vector<double>> blocks;  // row-major, kPredictBlockRows rows each
  std::vector<double> row(plan.columns(), 0.0);
  std::size_t kept = 0;
  const auto keep = [&] {
    read.push_back(Read::Ok);
    if (kept % kPredictBlockRows == 0) blocks.emplace_back().reserve(blockSize);
    std::vector<double>& block = blocks.back();
    for (int j = 0; j < p; ++j) {
      const double v = row[static_cast<std::size_t>(plan.column(column[j]))];
      block.push_back(model.predictors[static_cast<std::size_t>(j)].isLog ? std::log(v) : v);
    }
    ++kept;
  };
  for (io::RowRead r;
       !row.empty() && (r = rows.readRow(std::span<double>(row))) != io::RowRead::End;) {
    if (r == io::RowRead::Row)
      keep();
    else
      read.push_back(r == io::RowRead::Incomplete ? Read::Missing : Read::Unreadable);
  }
  const bool unreadable = rows.inputFailed();
  runtime.close(kPredictDataUnit);
  if (unreadable) {
    refuseCommand(runtime, state, "The data file " + path + " cannot be read; nothing predicted.");
    return false;
  }
  if (read.empty()) {
    refuseCommand(runtime, state,
                  "The data file " + path + " has no data rows; nothing predicted.");
    return false;
  }

  // One record per row of the file, numbered as the file's rows are.
  timer.emplace(state.timings, "predict: sheet");
  const bool predictsResponse = model::predictsResponse(model);
  bool ok = runtime.openFileReplacing(kPredictionSheetUnit, kPredictionSheetName);
  Record r;
  if (ok) {
    r.text("Row");
    for (const model::Variable& v : model.predictors) r.text(v.name);
    for (const model::Variable& v : model.predictors) r.text(v.name + "_Tr");
    r.text("Score");
    if (predictsResponse) r.text(responseColumnName(model.response));
    r.text("Status");
    ok = runtime.writeLine(kPredictionSheetUnit, r.view());
  }
  const int fields = 2 * p + 1 + (predictsResponse ? 1 : 0);
  int missing = 0, notRead = 0;
  int predictedOk = 0, outOfRange = 0, held = 0, unknown = 0;
  // A degenerate response table says so for every row: once is enough.
  bool told = false;
  const model::LineSink tell = [&](std::string_view line) {
    if (!told) traceScreen(runtime, line);
    told = true;
  };
  model::Predictions pred;
  std::vector<double> x;  // the block's rows column-major, as predictRows takes them
  int n = 0;              // rows of the block
  int fitted = 0;         // the next of them to write
  std::size_t block = 0;
  for (std::size_t k = 0; ok && k < read.size(); ++k) {
    r.clear();
    r.text(std::to_string(k + 1));
    if (read[k] != Read::Ok) {
      for (int f = 0; f < fields; ++f) r.text("");
      r.text(read[k] == Read::Missing ? "missing value" : "unreadable");
      (read[k] == Read::Missing ? missing : notRead) += 1;
      ok = runtime.writeLine(kPredictionSheetUnit, r.view());
      continue;
    }
    if (fitted == n) {
      timer.emplace(state.timings, "predict: rows");
      std::vector<double>& rowsOf = blocks[block];
      n = static_cast<int>(
          std::min<std::size_t>(kPredictBlockRows, kept - block * kPredictBlockRows));
      x.resize(rowsOf.size());
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < p; ++j)
          x[static_cast<std::size_t>(j) * n + i] = rowsOf[static_cast<std::size_t>(i) * p + j];
      std::vector<double>().swap(rowsOf);  // written once: its memory goes now
      ++block;
      fitted = 0;
      model::predictRows(model, n, x.data(), pred, tell);
      predictedOk += pred.ok;
      outOfRange += pred.outOfRange;
      held += pred.held;
      unknown += pred.unknown;
      timer.emplace(state.timings, "predict: sheet");
    }
    const auto at = [n](int i, int j) { return static_cast<std::size_t>(j) * n + i; };
    const int i = fitted++;
    for (int j = 0; j < p; ++j) r.value(x[at(i, j)]);
    const bool predicted = pred.status[i] != model::RowStatus::Unknown;
    for (int j = 0; j < p; ++j) predicted ? r.value(pred.tx[at(i, j)]) : r.text("");
    predicted ? r.value(pred.score[i]) : r.text("");
    if (predictsResponse) predicted ? r.value(pred.response[i]) : r.text("");
    r.text(model::statusText(pred.status[i]));
    ok = runtime.writeLine(kPredictionSheetUnit, r.view());
  }
  ok = runtime.closeChecked(kPredictionSheetUnit) && ok;
  if (!ok) {
    refuseCommand(runtime, state,
                  std::string(kPredictionSheetName) +
                      " could not be written; an earlier one is left unchanged.");
    return false;
  }
  traceBoth(runtime,
            " Predicted " + std::to_string(predictedOk + outOfRange + held) + " of " +
                std::to_string(read.size()) + " rows of " + path + ": " +
                std::to_string(outOfRange) + " out of range, " +
                (predictsResponse ? std::to_string(held) + " response held at the fitted range, "
                                  : std::string()) +
                std::to_string(unknown) + " not predicted (unknown category), " +
                std::to_string(missing) + " with a missing value, " + std::to_string(notRead) +
                " unreadable.");
  traceScreen(runtime, listLine({std::string(kPredictionSheetName) + " is done"}));
  state.status = "Predicted " + std::to_string(predictedOk + outOfRange) + " of " +
                 std::to_string(read.size()) +
                 " rows: " + runtime.resolvePath(kPredictionSheetName) + " written";
  return true;
}

void onSaveModel(platform::Runtime& runtime, AppState& state) {
  if (!state.model) {
    traceScreen(runtime, " There is no model to save: run an analysis or open a model first.");
    state.status = "Save Model refused: there is no model; run an analysis or open a model first";
    return;
  }
  std::string name = "model.json";
  if (!runtime.saveFileDialog(kModelDialogTitle, {{"Model files(*.JSON)", "*.json"}}, name) ||
      name.empty())
    return;
  saveModel(runtime, state, name);
}

void onOpenModel(platform::Runtime& runtime, AppState& state) {
  std::string name;
  if (!runtime.openFileDialog(kModelDialogTitle,
                              {{"Model files(*.JSON)", "*.json"}, {"All files(*.*)", "*.*"}},
                              name) ||
      name.empty())
    return;
  openModel(runtime, state, name);
}

void onPredictNewData(platform::Runtime& runtime, AppState& state) {
  if (!state.model) {
    traceScreen(runtime, " There is no model to predict with: run an analysis or open a model.");
    state.status =
        "Predict New Data refused: there is no model; run an analysis or open a model first";
    return;
  }
  std::string name;
  if (!runtime.openFileDialog(kPredictDialogTitle,
                              {{"Data files(*.DAT)", "*.dat"},
                               {"All files(*.*)", "*.*"},
                               {"CSV files(*.CSV)", "*.csv"},
                               {"Spreadsheets", "*.xlsx *.ods"}},
                              name) ||
      name.empty())
    return;
  readChosenSheet(runtime, state, name,
                  [&] { predictDataFile(runtime, state, *state.model, name); });
}

}  // namespace tavel::app
