// SPDX-License-Identifier: GPL-3.0-or-later
// The model file: a Model as JSON, so it can be applied later or elsewhere.
//
// Layout (format version 1):
//   {"format": "tavel-model", "version": 1,
//    "data_file": "rates.dat", "observations": 40,
//    "options": {"NumTerm": 2, "DelRsq": "9.999999747378752e-05",
//                "bass": "5", "span": "0",
//                "extrapolate": "hold"},
//    "rsq": "0.9871",
//    "predictors": [{"name": "T", "source": "T", "log": false, "code": 3,
//                    "values": ["300", "310"], "transforms": ["-1.2", "-0.9"]}],
//    "response": {"name": "_ln_RATE", "source": "RATE", "log": true, "code": 3,
//                 "values": [...], "transforms": [...]}}
// A category also has "labels": ["cu", "pt"], label k being the value k + 1.
// "bass" and "span" (the supersmoother's, span 0 for the adaptive one) may
// be missing: older files mean bass 5 and the adaptive span.
// A cross-validated fit also has
//   "cross_validation": {"folds": 5, "rsq": "0.64", "response_rsq": "0.595",
//                        "response_rmse": "21.3", "response_scale": "as fitted"}
// ("exponentiated" for a log response; the response_ keys only when the
// response was inverted).
// "extrapolate" ("hold" or "linear", Model::extrapolate) may be absent: such
// a file predicts with the hold rule.
// Every double is a string holding its shortest decimal form that reads back
// to the same double (also "nan", "inf", "-inf"), so a model reads back bit
// for bit and independently of any locale.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "model/model.h"

namespace tavel::model {

inline constexpr std::string_view kModelFormatName = "tavel-model";
inline constexpr int kModelFormatVersion = 1;

// Receives the file text in order, in pieces of about 64 KiB; false stops
// the writing (a write that failed).
using ModelPieceSink = std::function<bool(std::string_view piece)>;

// Writes the file text to sink piece by piece, never holding more than a
// piece of it: a model of millions of values costs no memory of its own to
// save. False when sink refused a piece (nothing more is handed to it then).
bool writeModelJson(const Model& model, const ModelPieceSink& sink);

// The whole file text (one line per table entry keeps large models diffable).
std::string modelToJson(const Model& model);

// Why a model cannot predict, or an empty text: rsq not a number in [0, 1],
// a response table of one value or of equal transforms (nothing can be
// inverted through it), a predictor listed twice, or a name (of a variable
// or of its column) holding control characters.
std::string modelProblem(const Model& model);

// Reads a model as it is parsed (the tables go straight into numbers, no
// document of the whole file is built); false with one line for the user in message when the text
// is not JSON, not a Tavel model, of an unknown version, inconsistent
// (tables of unequal lengths, values not ascending, codes out of range) or
// unable to predict (modelProblem).
bool modelFromJson(std::string_view text, Model& model, std::string& message);

// Gives the next piece of a file's text; false at its end.
using ModelPieceSource = std::function<bool(std::string& piece)>;

// The same reading from a text handed over in pieces, so that a model file
// need never be held whole: a file of a million values costs its numbers.
bool modelFromJsonPieces(const ModelPieceSource& source, Model& model, std::string& message);

// The largest model file read: a model of 10^7 distinct values, each written
// with its transform in at most 64 bytes, fits in 640 MB; anything larger is
// refused rather than read until memory runs out.
inline constexpr std::size_t kMaxModelFileBytes = std::size_t{1} << 30;

}  // namespace tavel::model
