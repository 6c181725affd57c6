// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/model_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

namespace tavel::model {
namespace {

using nlohmann::json;

std::string doubleText(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

bool textDouble(std::string_view s, double& v) {
  // from_chars takes neither a leading "+" nor leading blanks: a written
  // model has neither, and anything else is refused rather than guessed.
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

// Written in a fixed key order (format and version first), read in any.
using ordered_json = nlohmann::ordered_json;

ordered_json numbers(const std::vector<double>& vs) {
  ordered_json a = ordered_json::array();
  for (double v : vs) a.push_back(doubleText(v));
  return a;
}

ordered_json variableJson(const Variable& v) {
  ordered_json j{
      {"name", v.name}, {"source", v.source},          {"log", v.isLog},
      {"code", v.code}, {"values", numbers(v.values)}, {"transforms", numbers(v.transforms)}};
  // A category's labels by number; absent for other variables, so files of
  // numbers alone read as before.
  if (!v.labels.empty()) j["labels"] = v.labels;
  return j;
}

// Reading with one message for the first thing that is wrong.
class Reader {
 public:
  bool ok() const { return message_.empty(); }
  const std::string& message() const { return message_; }

  void fail(const std::string& what) {
    if (message_.empty()) message_ = what;
  }

  const json* member(const json& o, const char* key, const std::string& where) {
    if (!o.is_object() || !o.contains(key)) {
      fail("the model has no \"" + std::string(key) + "\"" + where);
      return nullptr;
    }
    return &o[key];
  }

  std::string text(const json& o, const char* key, const std::string& where) {
    const json* m = member(o, key, where);
    if (m && m->is_string()) return m->get<std::string>();
    if (m) fail("\"" + std::string(key) + "\"" + where + " is not a text");
    return {};
  }

  long long integer(const json& o, const char* key, const std::string& where) {
    const json* m = member(o, key, where);
    if (m && m->is_number_integer()) return m->get<long long>();
    if (m) fail("\"" + std::string(key) + "\"" + where + " is not a whole number");
    return 0;
  }

  bool logical(const json& o, const char* key, const std::string& where) {
    const json* m = member(o, key, where);
    if (m && m->is_boolean()) return m->get<bool>();
    if (m) fail("\"" + std::string(key) + "\"" + where + " is not true or false");
    return false;
  }

  double number(const json& o, const char* key, const std::string& where) {
    const json* m = member(o, key, where);
    double v = 0.0;
    if (m && !(m->is_string() && textDouble(m->get_ref<const std::string&>(), v)))
      fail("\"" + std::string(key) + "\"" + where + " is not a number written as text");
    return v;
  }

  std::vector<double> numberList(const json& o, const char* key, const std::string& where) {
    std::vector<double> out;
    const json* m = member(o, key, where);
    if (!m) return out;
    if (!m->is_array()) {
      fail("\"" + std::string(key) + "\"" + where + " is not a list");
      return out;
    }
    out.reserve(m->size());
    for (const json& e : *m) {
      double v = 0.0;
      if (!(e.is_string() && textDouble(e.get_ref<const std::string&>(), v))) {
        fail("an entry of \"" + std::string(key) + "\"" + where +
             " is not a number written as text");
        break;
      }
      out.push_back(v);
    }
    return out;
  }

  Variable variable(const json& o, const std::string& where) {
    Variable v;
    if (!o.is_object()) {
      fail(where.substr(1) + " is not an object");
      return v;
    }
    v.name = text(o, "name", where);
    v.source = text(o, "source", where);
    v.isLog = logical(o, "log", where);
    const long long code = integer(o, "code", where);
    v.values = numberList(o, "values", where);
    v.transforms = numberList(o, "transforms", where);
    if (o.contains("labels")) {
      const json& labels = o["labels"];
      if (!labels.is_array()) fail("\"labels\"" + where + " is not a list");
      for (std::size_t k = 0; ok() && k < labels.size(); ++k) {
        if (!labels[k].is_string()) fail("a label" + where + " is not a text");
        if (ok()) v.labels.push_back(labels[k].get<std::string>());
      }
    }
    if (!ok()) return v;
    if (code < 1 || code > 5) fail("the code" + where + " is not 1 to 5");
    v.code = static_cast<int>(code);
    if (v.name.empty() || v.source.empty()) fail("a name" + where + " is empty");
    if (v.values.empty()) fail("the table" + where + " is empty");
    if (v.values.size() != v.transforms.size())
      fail("the values and transforms" + where + " differ in length");
    for (std::size_t k = 0; ok() && k < v.values.size(); ++k) {
      if (!std::isfinite(v.values[k]) || (k > 0 && !(v.values[k - 1] < v.values[k])))
        fail("the values" + where + " are not finite and strictly ascending");
      if (!std::isfinite(v.transforms[k])) fail("a transform" + where + " is not finite");
    }
    return v;
  }

 private:
  std::string message_;
};

// A C0 control, DEL, or a C1 control in UTF-8 (U+0080 to U+009F): bytes a
// terminal or a sheet may act on rather than show.
bool holdsControl(std::string_view text) {
  for (std::size_t k = 0; k < text.size(); ++k) {
    const auto c = static_cast<unsigned char>(text[k]);
    if (c < 0x20 || c == 0x7f) return true;
    if (c == 0xc2 && k + 1 < text.size()) {
      const auto next = static_cast<unsigned char>(text[k + 1]);
      if (next >= 0x80 && next <= 0x9f) return true;
    }
  }
  return false;
}

}  // namespace

std::string modelProblem(const Model& model) {
  if (!(model.rsq >= 0.0 && model.rsq <= 1.0)) return "\"rsq\" is not a number from 0 to 1";
  const Variable& r = model.response;
  if (r.values.size() < 2)
    return "the response's table holds one value: no score can be inverted through it";
  if (std::all_of(r.transforms.begin(), r.transforms.end(),
                  [&](double t) { return t == r.transforms.front(); }))
    return "the response's transforms are all equal: no score can be inverted through them";
  std::vector<const Variable*> all;
  for (const Variable& v : model.predictors) all.push_back(&v);
  all.push_back(&r);
  for (std::size_t j = 0; j < all.size(); ++j) {
    if (holdsControl(all[j]->name) || holdsControl(all[j]->source))
      return std::string(j + 1 < all.size() ? "the name of predictor " + std::to_string(j + 1)
                                            : std::string("the response's name")) +
             " holds control characters";
    for (std::size_t k = 0; k < j && j + 1 < all.size(); ++k)
      if (all[k]->name == all[j]->name)
        return "the predictor " + all[j]->name + " is listed twice (predictors " +
               std::to_string(k + 1) + " and " + std::to_string(j + 1) + ")";
  }
  return {};
}

std::string modelToJson(const Model& model) {
  ordered_json predictors = ordered_json::array();
  for (const Variable& v : model.predictors) predictors.push_back(variableJson(v));
  ordered_json doc = {
      {"format", kModelFormatName},
      {"version", kModelFormatVersion},
      {"data_file", model.dataFileName},
      {"observations", model.observations},
      {"options",
       {{"NumTerm", model.NumTerm},
        {"DelRsq", doubleText(model.DelRsq)},
        {"bass", doubleText(model.bass)},
        {"span", doubleText(model.span)},
        {"extrapolate", model.extrapolate == Extrapolation::Linear ? "linear" : "hold"}}},
      {"rsq", doubleText(model.rsq)},
      {"predictors", predictors},
      {"response", variableJson(model.response)},
  };
  // How the fit predicted rows it was not fitted on, when it was
  // cross-validated; absent otherwise, so other files read as before.
  if (const auto& cv = model.crossValidation) {
    ordered_json summary = {{"folds", cv->folds}, {"rsq", doubleText(cv->rsq)}};
    if (cv->responseScale) {
      summary["response_rsq"] = doubleText(cv->responseRsq);
      summary["response_rmse"] = doubleText(cv->responseRmse);
      summary["response_scale"] = cv->exponentiated ? "exponentiated" : "as fitted";
    }
    doc["cross_validation"] = summary;
  }
  // Names come from data files of any encoding; bytes that are not UTF-8
  // are written as the replacement character rather than refusing the save.
  return doc.dump(1, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

bool modelFromJson(std::string_view text, Model& model, std::string& message) {
  json doc;
  try {
    doc = json::parse(text.begin(), text.end());
  } catch (const json::exception& e) {
    message = "not a Tavel model: the file is not JSON (" + std::string(e.what()) + ")";
    return false;
  }
  if (!doc.is_object() || !doc.contains("format") || !doc["format"].is_string() ||
      doc["format"].get<std::string>() != kModelFormatName) {
    message = "not a Tavel model: \"format\" is not \"" + std::string(kModelFormatName) + "\"";
    return false;
  }
  if (!doc.contains("version") || !doc["version"].is_number_integer() ||
      doc["version"].get<long long>() != kModelFormatVersion) {
    const std::string shown = doc.contains("version") ? doc["version"].dump() : "missing";
    message = "model format version " + shown + " is not known (this program reads version " +
              std::to_string(kModelFormatVersion) + ")";
    return false;
  }
  Reader r;
  Model m;
  m.dataFileName = r.text(doc, "data_file", "");
  const long long observations = r.integer(doc, "observations", "");
  if (r.ok() && (observations < 0 || observations > 2147483647LL))
    r.fail("\"observations\" is out of range");
  m.observations = static_cast<int>(observations);
  if (const json* o = r.member(doc, "options", "")) {
    const long long numTerm = r.integer(*o, "NumTerm", " of the options");
    m.NumTerm = static_cast<int>(std::clamp(numTerm, -1000000LL, 1000000LL));
    m.DelRsq = r.number(*o, "DelRsq", " of the options");
    // Files written before the smoothness could be chosen were fitted with
    // the engine's own: bass 5 and the adaptive span.
    if (o->is_object() && o->contains("bass")) m.bass = r.number(*o, "bass", " of the options");
    if (o->is_object() && o->contains("span")) m.span = r.number(*o, "span", " of the options");
    if (r.ok() && !(m.bass >= 0.0 && m.bass <= 10.0 && m.span >= 0.0 && m.span <= 1.0))
      r.fail("the smoothness of the options (bass 0 to 10, span 0 to 1) is out of range");
    // Files written before the choice existed have none. Their program
    // extended the end intervals because it knew nothing better, not because
    // anyone chose it; they are read with the rule every model now has.
    if (r.ok() && o->is_object() && o->contains("extrapolate")) {
      const std::string rule = r.text(*o, "extrapolate", " of the options");
      if (rule == "linear")
        m.extrapolate = Extrapolation::Linear;
      else if (rule != "hold")
        r.fail("\"extrapolate\" of the options is neither \"hold\" nor \"linear\"");
    }
  }
  m.rsq = r.number(doc, "rsq", "");
  if (const json* ps = r.member(doc, "predictors", "")) {
    if (!ps->is_array() || ps->empty()) r.fail("\"predictors\" is not a list of variables");
    for (std::size_t j = 0; r.ok() && j < ps->size(); ++j)
      m.predictors.push_back(r.variable((*ps)[j], " of predictor " + std::to_string(j + 1)));
  }
  if (const json* resp = r.member(doc, "response", ""))
    m.response = r.variable(*resp, " of the response");
  if (r.ok() && doc.contains("cross_validation")) {
    const json& o = doc["cross_validation"];
    const std::string where = " of the cross-validation";
    CvSummary cv;
    const long long folds = r.integer(o, "folds", where);
    cv.folds = static_cast<int>(std::clamp(folds, 0LL, 2147483647LL));
    cv.rsq = r.number(o, "rsq", where);
    cv.responseScale = o.is_object() && o.contains("response_rsq");
    if (cv.responseScale) {
      cv.responseRsq = r.number(o, "response_rsq", where);
      cv.responseRmse = r.number(o, "response_rmse", where);
      cv.exponentiated = r.text(o, "response_scale", where) == "exponentiated";
    }
    m.crossValidation = cv;
  }
  if (r.ok()) r.fail(modelProblem(m));
  if (!r.ok()) {
    message = "not a usable Tavel model: " + r.message();
    return false;
  }
  model = std::move(m);
  return true;
}

}  // namespace tavel::model
