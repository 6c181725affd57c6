// The model file: a Model as JSON, so it can be applied later or elsewhere.
//
// Layout (format version 1):
//   {"format": "tavel-model", "version": 1,
//    "data_file": "rates.dat", "observations": 40,
//    "options": {"NumTerm": 2, "DelRsq": "9.999999747378752e-05"},
//    "rsq": "0.9871",
//    "predictors": [{"name": "T", "source": "T", "log": false, "code": 3,
//                    "values": ["300", "310"], "transforms": ["-1.2", "-0.9"]}],
//    "response": {"name": "_ln_RATE", "source": "RATE", "log": true, "code": 3,
//                 "values": [...], "transforms": [...]}}
// Every double is a string holding its shortest decimal form that reads back
// to the same double (also "nan", "inf", "-inf"), so a model reads back bit
// for bit and independently of any locale.
#pragma once

#include <string>
#include <string_view>

#include "model/model.h"

namespace tavel::model {

inline constexpr std::string_view kModelFormatName = "tavel-model";
inline constexpr int kModelFormatVersion = 1;

// The whole file text (one line per table entry keeps large models diffable).
std::string modelToJson(const Model& model);

// Reads a model; false with one line for the user in message when the text
// is not JSON, not a Tavel model, of an unknown version, or inconsistent
// (tables of unequal lengths, values not ascending, codes out of range).
bool modelFromJson(std::string_view text, Model& model, std::string& message);

// File forms of the two above. saveModelFile writes a temporary file beside
// the target and renames it into place, so an earlier model survives a
// failed write.
bool saveModelFile(const Model& model, const std::string& path, std::string& message);
bool loadModelFile(const std::string& path, Model& model, std::string& message);

}  // namespace tavel::model
