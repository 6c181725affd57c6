// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/model_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <istream>
#include <nlohmann/json.hpp>
#include <streambuf>
#include <string>
#include <vector>

#include "model/parallel_for.h"

namespace tavel::model {
namespace {

using nlohmann::json;

bool textDouble(std::string_view s, double& v) {
  // from_chars takes neither a leading "+" nor leading blanks: a written
  // model has neither, and anything else is refused rather than guessed.
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

// The file is written piece by piece into a buffer handed on in blocks, so
// a model of millions of values never exists as a document in memory: the
// layout is the one a JSON serializer gives with an indent of one blank
// (one entry per line), which older files have too.
class Writer {
 public:
  explicit Writer(const ModelPieceSink& sink) : sink_(sink) { buffer_.reserve(kBlock + 4096); }

  bool finish() {
    flush();
    return ok_;
  }

  void raw(std::string_view s) {
    buffer_ += s;
    if (buffer_.size() >= kBlock) flush();
  }

  // Names come from data files of any encoding; bytes that are not UTF-8
  // are written as the replacement character rather than refusing the save.
  // Plain printable ASCII, the usual case, needs no escaping at all.
  void text(std::string_view s) {
    const bool plain = std::all_of(s.begin(), s.end(), [](char c) {
      const auto u = static_cast<unsigned char>(c);
      return u >= 0x20 && u < 0x80 && c != '"' && c != '\\';
    });
    if (plain) {
      buffer_ += '"';
      buffer_ += s;
      buffer_ += '"';
    } else {
      raw(json(std::string(s)).dump(-1, ' ', false, json::error_handler_t::replace));
      return;
    }
    if (buffer_.size() >= kBlock) flush();
  }

  void number(double v) {
    // The shortest form that reads back to the same double; its characters
    // (digits, sign, point, exponent, "nan", "inf") need no escaping.
    char buf[64];
    buf[0] = '"';
    const auto r = std::to_chars(buf + 1, buf + sizeof buf - 1, v);
    *r.ptr = '"';
    raw(std::string_view(buf, static_cast<std::size_t>(r.ptr + 1 - buf)));
  }

  void integer(long long v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    raw(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
  }

  void logical(bool v) { raw(v ? "true" : "false"); }

  // A list of numbers, one a line: the bulk of a large file. Each entry is
  // made whole in a small buffer and appended once, as item() and number()
  // would write it.
  void numbers(const std::vector<double>& vs) {
    open('[');
    const std::size_t depth = first_.size();
    if (vs.empty() || depth > kLine - 40) {
      for (double v : vs) {
        item();
        number(v);
      }
      close(']');
      return;
    }
    if (vs.size() < 2 * kChunk) {
      // A few entries at a time, so that no piece is much over a block.
      constexpr std::size_t kFew = 64;
      for (std::size_t i = 0; i < vs.size(); i += kFew) {
        entries(vs, i, std::min(vs.size(), i + kFew), depth, buffer_, i == 0);
        if (buffer_.size() >= kBlock) flush();
      }
    } else {
      // A long list is made a few chunks at a time on every core, and the
      // chunks are handed on in their order: the same text, in less time,
      // with at most a window of chunks in memory.
      const std::size_t chunks = (vs.size() + kChunk - 1) / kChunk;
      std::vector<std::string> made(kWindow);
      for (std::size_t from = 0; from < chunks; from += kWindow) {
        const int count = static_cast<int>(std::min(kWindow, chunks - from));
        parallelFor(
            count, 0,
            [&](int k) {
              const std::size_t c = from + static_cast<std::size_t>(k);
              std::string& text = made[static_cast<std::size_t>(k)];
              text.clear();
              entries(vs, c * kChunk, std::min(vs.size(), (c + 1) * kChunk), depth, text, c == 0);
            },
            [&](int k) {
              pour(made[static_cast<std::size_t>(k)]);
              return true;
            });
      }
    }
    first_.back() = false;
    close(']');
  }

  // Containers: open, then one item() or key() before each entry, close.
  void open(char bracket) {
    raw(std::string_view(&bracket, 1));
    first_.push_back(true);
  }
  void close(char bracket) {
    const bool empty = first_.back();
    first_.pop_back();
    if (!empty) {
      raw("\n");
      indent();
    }
    raw(std::string_view(&bracket, 1));
  }
  void item() {
    raw(first_.back() ? "\n" : ",\n");
    first_.back() = false;
    indent();
  }
  void key(std::string_view k) {
    item();
    text(k);
    raw(": ");
  }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 16;
  static constexpr std::size_t kLine = 96;
  // Room for a number's shortest form (the longest, "-2.2250738585072014e-308",
  // takes 24).
  static constexpr std::size_t kLongestNumber = 32;
  static constexpr std::size_t kChunk = std::size_t{1} << 15;  // entries made by one job
  static constexpr std::size_t kWindow = 4;                    // chunks made side by side

  // Entries first .. last-1 of a list at this depth, appended to text as
  // item() and number() would write them; the list's first entry (first)
  // has no comma before its line end.
  static void entries(const std::vector<double>& vs, std::size_t first, std::size_t last,
                      std::size_t depth, std::string& text, bool first_in_list) {
    // Each entry is written straight into the text, which is made long
    // enough for the longest entries first and cut to what was written.
    const std::size_t before = text.size();
    const std::size_t longest = 2 + depth + 2 + kLongestNumber;
    text.resize(before + (last - first) * longest);
    char* at = text.data() + before;
    for (std::size_t i = first; i < last; ++i) {
      if (i != first || !first_in_list) *at++ = ',';
      *at++ = '\n';
      std::memset(at, ' ', depth);
      at += depth;
      *at++ = '"';
      at = std::to_chars(at, at + kLongestNumber, vs[i]).ptr;
      *at++ = '"';
    }
    text.resize(static_cast<std::size_t>(at - text.data()));
  }

  void indent() { buffer_.append(first_.size(), ' '); }

  // Long text handed on in blocks, as raw() hands on short pieces.
  void pour(std::string_view text) {
    while (!text.empty()) {
      const std::size_t room = kBlock > buffer_.size() ? kBlock - buffer_.size() : 0;
      const std::size_t take = std::min(text.size(), std::max<std::size_t>(room, 1));
      buffer_.append(text.substr(0, take));
      text.remove_prefix(take);
      if (buffer_.size() >= kBlock) flush();
    }
  }

  void flush() {
    if (ok_ && !buffer_.empty()) ok_ = sink_(buffer_);
    buffer_.clear();
  }

  const ModelPieceSink& sink_;
  std::string buffer_;
  std::vector<bool> first_;  // per open container: nothing in it yet
  bool ok_ = true;
};

void writeNumbers(Writer& w, const std::vector<double>& vs) { w.numbers(vs); }

void writeVariable(Writer& w, const Variable& v) {
  w.open('{');
  w.key("name");
  w.text(v.name);
  w.key("source");
  w.text(v.source);
  w.key("log");
  w.logical(v.isLog);
  w.key("code");
  w.integer(engineCode(v.flag));
  w.key("values");
  writeNumbers(w, v.values);
  w.key("transforms");
  writeNumbers(w, v.transforms);
  // A category's labels by number; absent for other variables, so files of
  // numbers alone read as before.
  if (!v.labels.empty()) {
    w.key("labels");
    w.open('[');
    for (const std::string& label : v.labels) {
      w.item();
      w.text(label);
    }
    w.close(']');
  }
  w.close('}');
}

// While the file is read, everything but the tables is kept as a small
// document; each "values" and "transforms" list of a variable goes straight
// into numbers, and the document holds a placeholder (a binary value, which
// JSON text cannot produce) naming the list. A file of a million values
// then costs its numbers, not a million strings.
struct NumberList {
  std::vector<double> values;
  bool allNumbers = true;  // every entry was a text holding a number
};

class ModelSax : public json::json_sax_t {
 public:
  json root;
  std::vector<NumberList> lists;
  std::string parseError;

  bool null() override { return scalar(json(nullptr)); }
  bool boolean(bool v) override { return scalar(json(v)); }
  bool number_integer(number_integer_t v) override { return scalar(json(v)); }
  bool number_unsigned(number_unsigned_t v) override { return scalar(json(v)); }
  bool number_float(number_float_t v, const string_t&) override { return scalar(json(v)); }
  bool binary(binary_t& v) override { return scalar(json(v)); }

  bool string(string_t& v) override {
    if (listDepth_ == 1) {
      NumberList& list = lists.back();
      double d = 0.0;
      if (list.allNumbers && textDouble(v, d))
        list.values.push_back(d);
      else
        list.allNumbers = false;
      return true;
    }
    return scalar(json(std::move(v)));
  }

  bool start_object(std::size_t) override {
    if (listDepth_ > 0) return nested();
    open(json::object());
    return true;
  }
  bool end_object() override {
    if (listDepth_ > 0) {
      --listDepth_;
      return true;
    }
    stack_.pop_back();
    keys_.pop_back();
    return true;
  }
  bool start_array(std::size_t) override {
    if (listDepth_ > 0) return nested();
    if (atTable()) {
      json placeholder = json::binary({}, static_cast<std::uint64_t>(lists.size()));
      lists.emplace_back();
      place(std::move(placeholder));
      listDepth_ = 1;
      return true;
    }
    open(json::array());
    return true;
  }
  bool end_array() override {
    if (listDepth_ > 0) {
      --listDepth_;
      return true;
    }
    stack_.pop_back();
    keys_.pop_back();
    return true;
  }
  bool key(string_t& k) override {
    if (listDepth_ == 0) key_ = std::move(k);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    parseError = e.what();
    return false;
  }

 private:
  bool scalar(json&& v) {
    if (listDepth_ > 0) {
      lists.back().allNumbers = false;
      return true;
    }
    place(std::move(v));
    return true;
  }

  // An object or a list inside a table: the table is not numbers.
  bool nested() {
    lists.back().allNumbers = false;
    ++listDepth_;
    return true;
  }

  json* place(json&& v) {
    if (stack_.empty()) {
      root = std::move(v);
      return &root;
    }
    json& top = *stack_.back();
    if (top.is_array()) {
      top.push_back(std::move(v));
      return &top.back();
    }
    json& slot = top[key_];
    slot = std::move(v);
    return &slot;
  }

  void open(json&& container) {
    const std::string under = !stack_.empty() && stack_.back()->is_object() ? key_ : std::string();
    stack_.push_back(place(std::move(container)));
    keys_.push_back(under);
  }

  // The list about to open is a variable's "values" or "transforms": the
  // response's, or those of an entry of "predictors".
  bool atTable() const {
    if (key_ != "values" && key_ != "transforms") return false;
    if (stack_.empty() || !stack_.front()->is_object() || !stack_.back()->is_object()) return false;
    if (stack_.size() == 2) return keys_[1] == "response";
    return stack_.size() == 3 && stack_[1]->is_array() && keys_[1] == "predictors";
  }

  std::vector<json*> stack_;       // the open containers, outermost first
  std::vector<std::string> keys_;  // the key each was opened under ("" in a list)
  std::string key_;                // the key of the next value in an object
  int listDepth_ = 0;              // inside a table: 1, deeper in a stray container
};

// Reading with one message for the first thing that is wrong.
class Reader {
 public:
  explicit Reader(std::vector<NumberList>& lists) : lists_(lists) {}
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
    if (!m->is_binary() || m->get_binary().subtype() >= lists_.size()) {
      fail("\"" + std::string(key) + "\"" + where + " is not a list");
      return out;
    }
    NumberList& list = lists_[static_cast<std::size_t>(m->get_binary().subtype())];
    if (!list.allNumbers) {
      fail("an entry of \"" + std::string(key) + "\"" + where + " is not a number written as text");
      return out;
    }
    out = std::move(list.values);
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
    if (ok()) v.flag = *flagFromCode(static_cast<int>(code));
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
  std::vector<NumberList>& lists_;
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

bool writeModelJson(const Model& model, const ModelPieceSink& sink) {
  Writer w(sink);
  w.open('{');
  w.key("format");
  w.text(kModelFormatName);
  w.key("version");
  w.integer(kModelFormatVersion);
  w.key("data_file");
  w.text(model.dataFileName);
  w.key("observations");
  w.integer(model.observations);
  w.key("options");
  w.open('{');
  w.key("NumTerm");
  w.integer(model.NumTerm);
  w.key("DelRsq");
  w.number(model.DelRsq);
  w.key("bass");
  w.number(model.bass);
  w.key("span");
  w.number(model.span);
  w.key("extrapolate");
  w.text(model.extrapolate == Extrapolation::Linear ? "linear" : "hold");
  w.close('}');
  w.key("rsq");
  w.number(model.rsq);
  w.key("predictors");
  w.open('[');
  for (const Variable& v : model.predictors) {
    w.item();
    writeVariable(w, v);
  }
  w.close(']');
  w.key("response");
  writeVariable(w, model.response);
  // How the fit predicted rows it was not fitted on, when it was
  // cross-validated; absent otherwise, so other files read as before.
  if (const auto& cv = model.crossValidation) {
    w.key("cross_validation");
    w.open('{');
    w.key("folds");
    w.integer(cv->folds);
    w.key("rsq");
    w.number(cv->rsq);
    if (cv->responseScale) {
      w.key("response_rsq");
      w.number(cv->responseRsq);
      w.key("response_rmse");
      w.number(cv->responseRmse);
      w.key("response_scale");
      w.text(cv->exponentiated ? "exponentiated" : "as fitted");
    }
    w.close('}');
  }
  w.close('}');
  w.raw("\n");
  return w.finish();
}

std::string modelToJson(const Model& model) {
  std::string text;
  writeModelJson(model, [&text](std::string_view piece) {
    text += piece;
    return true;
  });
  return text;
}

namespace {

// The pieces of a model file as a stream for the parser, one piece held at a time.
class PieceBuffer : public std::streambuf {
 public:
  explicit PieceBuffer(const ModelPieceSource& source) : source_(source) {}

 protected:
  int_type underflow() override {
    do {
      if (!source_(piece_)) return traits_type::eof();
    } while (piece_.empty());
    setg(piece_.data(), piece_.data(), piece_.data() + piece_.size());
    return traits_type::to_int_type(piece_[0]);
  }

 private:
  const ModelPieceSource& source_;
  std::string piece_;
};

bool modelFromParsed(ModelSax& sax, Model& model, std::string& message);

}  // namespace

bool modelFromJson(std::string_view text, Model& model, std::string& message) {
  ModelSax sax;
  if (!json::sax_parse(text.begin(), text.end(), &sax)) {
    message = "not a Tavel model: the file is not JSON (" + sax.parseError + ")";
    return false;
  }
  return modelFromParsed(sax, model, message);
}

bool modelFromJsonPieces(const ModelPieceSource& source, Model& model, std::string& message) {
  PieceBuffer buffer(source);
  std::istream in(&buffer);
  ModelSax sax;
  if (!json::sax_parse(in, &sax)) {
    message = "not a Tavel model: the file is not JSON (" + sax.parseError + ")";
    return false;
  }
  return modelFromParsed(sax, model, message);
}

namespace {

bool modelFromParsed(ModelSax& sax, Model& model, std::string& message) {
  const json& doc = sax.root;
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
  Reader r(sax.lists);
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

}  // namespace

}  // namespace tavel::model
