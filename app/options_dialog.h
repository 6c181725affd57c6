// SPDX-License-Identifier: GPL-3.0-or-later
// The OPTIONS dialog: the type flag of every selected variable (stored at
// once when its radio button is clicked), the convergence criteria NumTerm
// and DelRsq and the Equilibration and Screen Captures switches (taken when
// the dialog closes).
#pragma once

#include <string>
#include <vector>

#include "app/records.h"
#include "model/variable_flag.h"
#include "platform/dialog.h"
#include "platform/runtime.h"

namespace tavel::app {

inline constexpr int kOptionsResource = 107;
inline constexpr int kOptionsVariableList = 1016;
inline constexpr int kFirstFlagRadio = 1173;  // "Orderable"; 1177 "Unorderable"
// The radio button of a flag.
constexpr int flagRadio(model::VarFlag flag) {
  return kFirstFlagRadio - model::engineCode(model::VarFlag::Orderable) + model::engineCode(flag);
}
inline constexpr int kNumTermBox = 1178;
inline constexpr int kDelRsqBox = 1179;
inline constexpr int kEquilibrationBox = 1180;
inline constexpr int kScreenCapturesBox = 1181;
// Added after the documented controls: K of the cross-validation (0: none).
inline constexpr int kCvFoldsBox = 1182;
// The smoothness, after the cross-validation: the supersmoother's bass (0 to
// 10), a fixed span (0 < span <= 1; empty for the adaptive span), and the
// choice of both by cross-validation.
inline constexpr int kBassBox = 1183;
inline constexpr int kSpanBox = 1184;
inline constexpr int kTuneBox = 1185;
inline constexpr double kMaxBass = 10.0;
// Characters of the DelRsq box that are read back.
inline constexpr int kDelRsqTextLength = 20;

platform::DialogResource optionsDialogResource();

// Runs the dialog (nothing but a trace line when its resource is missing).
// Returns one line per criterion whose text could not be read and that kept
// its value ("NumTerm 'abc' is not a whole number of at least 1: 2 kept").
std::vector<std::string> optionsDialog(platform::Runtime& runtime, AppState& state);

// The steps around the modal run, for tests that drive a dialog directly:
// fills the boxes and the variable list from the settings and attaches the
// callbacks; reads the switches and the criteria back.
void setUpOptionsDialog(platform::Runtime& runtime, platform::Dialog& dialog, AppState& state);
// kept, when given, receives the lines of optionsDialog's result.
void readBackOptions(platform::Dialog& dialog, RunOptions& options,
                     std::vector<std::string>* kept = nullptr);

// Shows the flag of the selected row of the variable list (enabled radio
// buttons), or of the first row with the radio buttons disabled when no row
// is selected. With an empty list the radio buttons are only disabled.
void onVariableSelect(platform::Dialog& dialog, AppState& state);

// Stores the flag of the clicked radio button for the selected row and
// traces it on the screen.
void onFlagRadio(platform::Runtime& runtime, platform::Dialog& dialog, AppState& state, int id);

}  // namespace tavel::app
