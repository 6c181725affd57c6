// SPDX-License-Identifier: GPL-3.0-or-later
// The commands that use the current model: save it, open one, and predict
// the rows of a new data file into Tavelpr.xls. Each writes what it did (or
// why it could not) to the main output window and the log; a refusal is
// also kept in AppState::problems.
#pragma once

#include <string>
#include <string_view>

#include "app/records.h"
#include "platform/runtime.h"

namespace tavel::app {

inline constexpr std::string_view kPredictionSheetName = "Tavelpr.xls";
// Units of the new data file and of Tavelpr.xls: above every plot window.
inline constexpr int kPredictDataUnit = 91;
inline constexpr int kPredictionSheetUnit = 92;
// Rows predicted at a time: enough for two threads to share a block, few
// enough that a block's predictions are a few MiB whatever the file's size.
inline constexpr int kPredictBlockRows = 1 << 16;

// Writes the current model as JSON to path (relative names from the
// runtime's current folder). False when there is no model or the file could
// not be written.
bool saveModel(platform::Runtime& runtime, AppState& state, const std::string& path);

// Makes the model in path the current one. False, keeping the current
// model, when the file is not a model this program knows.
bool openModel(platform::Runtime& runtime, AppState& state, const std::string& path);

// Reads a data file with the scan's reading rules (the same file kinds,
// separators and names), looks up each of the model's variables by name (a
// log variable by its column, taking the logarithm; a category by its
// labels; a date column as the decimal year), predicts every row and writes
// Tavelpr.xls in the current folder: a title record, then one record per
// data row of the file, in order: its row number, the predictors' values,
// their transforms, the score, the response (when the model inverts it) and
// the row's status, each field followed by a tab. A row that cannot be
// predicted leaves the predicted fields empty (an unknown category) or all
// its fields (a missing value, an unreadable row). False when the file
// cannot be read, lacks a column or has two of one name, has no data rows,
// or Tavelpr.xls cannot be written.
bool predictDataFile(platform::Runtime& runtime, AppState& state, const model::Model& model,
                     const std::string& path);

// Menu commands: File / "Save &Model...", "&Open Model...", "&Predict New
// Data..." (the file dialog, then the command above; cancelling does
// nothing).
void onSaveModel(platform::Runtime& runtime, AppState& state);
void onOpenModel(platform::Runtime& runtime, AppState& state);
void onPredictNewData(platform::Runtime& runtime, AppState& state);

}  // namespace tavel::app
