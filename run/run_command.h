// SPDX-License-Identifier: GPL-3.0-or-later
// The Run command: from the chosen variables to every number, line, file and
// plot of one analysis. Re-reads the data file, echoes the input, calls the
// ACE engine once, equilibrates, predicts through the inverse transformation,
// draws the result plots and writes the closing report and the spreadsheets.
#pragma once

#include <string>

#include "ace/ace.h"
#include "app/records.h"
#include "app/shell.h"
#include "platform/runtime.h"

namespace tavel::run {

// Fewer observations than this leave the smoothers without data: the Run then
// says so and changes nothing.
inline constexpr int kMinRunObservations = ace::kMinObservations;

// Whether every one of the p + 1 codes is "Monotone Tr": equilibration
// needs it.
bool allCodesMonotone(const int* l, int p);

// The other scale of variable number v: for a file column its log variable,
// for a log variable its file column; 0 when it has none. A variable and its
// twin hold the same information, so one must never predict the other.
int logTwin(const app::DataTable& data, int v);

// The line that refuses a selection whose independents hold the dependent's
// twin, or an empty text.
std::string dependentTwinRefusal(const app::DataTable& data, const app::VarSelection& sel);

// Menu callback of "&Run". Does nothing visible before a data file has been
// scanned or while fewer than two variables are selected. Data it cannot
// analyse (too few rows for the smoothers or for the independents, values
// that are not finite numbers) and an engine error end it with one line on
// the screen and in the log, kept in state.problems too, before any plot or
// spreadsheet is made. A spreadsheet or log that cannot be written is told
// and kept the same way, and the other outputs are still made.
void onRun(platform::Runtime& runtime, app::AppState& state, app::Shell& shell);

}  // namespace tavel::run
