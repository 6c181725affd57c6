// SPDX-License-Identifier: GPL-3.0-or-later
// The model file as it is streamed out and parsed back: the text against a
// file written out by hand, against a serializer's document of the same
// model, and files cut short or spoilt.
#include "model/model_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

namespace tavel::model {
namespace {

Model handModel() {
  Model m;
  m.dataFileName = "C:\\data\\r\"1\"\t.dat\xff";  // a byte that is no UTF-8 at the end
  m.observations = 4;
  m.NumTerm = 3;
  m.DelRsq = 1e-4;
  m.bass = 2.5;
  m.span = 0.0;
  m.extrapolate = Extrapolation::Linear;
  m.rsq = 0.1 + 0.2;
  Variable t;
  t.name = "T [K] \"q\"";
  t.source = "T";
  t.flag = VarFlag::Monotone;
  t.values = {-0.0, 5e-324, 1.0 / 3.0};
  t.transforms = {-1.5, 2.2250738585072014e-308, 1e300};
  Variable site;
  site.name = "site \xc3\xa9";
  site.source = "site";
  site.flag = VarFlag::Unorderable;
  site.values = {1.0, 2.0};
  site.transforms = {0.5, -0.5};
  site.labels = {"a\"b", "back\\slash\x01"};
  m.predictors = {t, site};
  m.response.name = "_ln_RATE";
  m.response.source = "RATE";
  m.response.isLog = true;
  m.response.flag = VarFlag::Monotone;
  m.response.values = {-1.0, 0.5};
  m.response.transforms = {-2.0, 2.0};
  m.crossValidation = CvSummary{5, 0.64, true, -59.7, 21.3, true};
  return m;
}

// handModel() as the file must hold it, written out by hand.
const std::string kHandFile = R"({
 "format": "tavel-model",
 "version": 1,
 "data_file": "C:\\data\\r\"1\"\t.dat)"
                              "\xef\xbf\xbd"
                              R"(",
 "observations": 4,
 "options": {
  "NumTerm": 3,
  "DelRsq": "1e-04",
  "bass": "2.5",
  "span": "0",
  "extrapolate": "linear"
 },
 "rsq": "0.30000000000000004",
 "predictors": [
  {
   "name": "T [K] \"q\"",
   "source": "T",
   "log": false,
   "code": 3,
   "values": [
    "-0",
    "5e-324",
    "0.3333333333333333"
   ],
   "transforms": [
    "-1.5",
    "2.2250738585072014e-308",
    "1e+300"
   ]
  },
  {
   "name": "site )"
                              "\xc3\xa9"
                              R"(",
   "source": "site",
   "log": false,
   "code": 5,
   "values": [
    "1",
    "2"
   ],
   "transforms": [
    "0.5",
    "-0.5"
   ],
   "labels": [
    "a\"b",
    "back\\slash\u0001"
   ]
  }
 ],
 "response": {
  "name": "_ln_RATE",
  "source": "RATE",
  "log": true,
  "code": 3,
  "values": [
   "-1",
   "0.5"
  ],
  "transforms": [
   "-2",
   "2"
  ]
 },
 "cross_validation": {
  "folds": 5,
  "rsq": "0.64",
  "response_rsq": "-59.7",
  "response_rmse": "21.3",
  "response_scale": "exponentiated"
 }
}
)";

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (std::bit_cast<std::uint64_t>(a[k]) != std::bit_cast<std::uint64_t>(b[k])) return false;
  return true;
}

TEST(ModelFileStream, WritesTheHandWrittenFileAndReadsItBackBitForBit) {
  EXPECT_EQ(modelToJson(handModel()), kHandFile);
  Model back;
  std::string message;
  ASSERT_TRUE(modelFromJson(kHandFile, back, message)) << message;
  const Model m = handModel();
  EXPECT_EQ(back.dataFileName, "C:\\data\\r\"1\"\t.dat\xef\xbf\xbd");
  EXPECT_EQ(back.NumTerm, 3);
  EXPECT_EQ(back.bass, 2.5);
  EXPECT_EQ(back.extrapolate, Extrapolation::Linear);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(back.rsq), std::bit_cast<std::uint64_t>(m.rsq));
  ASSERT_EQ(back.predictors.size(), 2u);
  EXPECT_EQ(back.predictors[0].name, m.predictors[0].name);
  EXPECT_EQ(back.predictors[0].flag, VarFlag::Monotone);
  EXPECT_TRUE(sameBits(back.predictors[0].values, m.predictors[0].values));  // -0 keeps its sign
  EXPECT_TRUE(sameBits(back.predictors[0].transforms, m.predictors[0].transforms));
  EXPECT_EQ(back.predictors[1].name, m.predictors[1].name);
  EXPECT_EQ(back.predictors[1].labels, m.predictors[1].labels);
  EXPECT_TRUE(back.response.isLog);
  EXPECT_TRUE(sameBits(back.response.transforms, m.response.transforms));
  ASSERT_TRUE(back.crossValidation.has_value());
  EXPECT_EQ(back.crossValidation->responseRsq, -59.7);
  EXPECT_TRUE(back.crossValidation->exponentiated);
}

// What files written before the text was streamed hold: the serializer's
// document of the model, dumped with an indent of one blank.
std::string documentText(const Model& model) {
  using J = nlohmann::ordered_json;
  auto numbers = [](const std::vector<double>& vs) {
    J a = J::array();
    for (double v : vs) {
      char buf[64];
      a.push_back(std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr));
    }
    return a;
  };
  auto variable = [&](const Variable& v) {
    J j{{"name", v.name},
        {"source", v.source},
        {"log", v.isLog},
        {"code", engineCode(v.flag)},
        {"values", numbers(v.values)},
        {"transforms", numbers(v.transforms)}};
    if (!v.labels.empty()) j["labels"] = v.labels;
    return j;
  };
  J predictors = J::array();
  for (const Variable& v : model.predictors) predictors.push_back(variable(v));
  J doc = {{"format", "tavel-model"},
           {"version", 1},
           {"data_file", model.dataFileName},
           {"observations", model.observations},
           {"options",
            {{"NumTerm", model.NumTerm},
             {"DelRsq", numbers({model.DelRsq})[0]},
             {"bass", numbers({model.bass})[0]},
             {"span", numbers({model.span})[0]},
             {"extrapolate", "hold"}}},
           {"rsq", numbers({model.rsq})[0]},
           {"predictors", predictors},
           {"response", variable(model.response)}};
  return doc.dump(1, ' ', false, J::error_handler_t::replace) + "\n";
}

// Names of any bytes (controls, quotes, broken UTF-8) and doubles of any
// bits: the streamed text is the document's to the byte.
TEST(ModelFileStream, MatchesTheSerializersTextForAnyNamesAndNumbers) {
  std::mt19937_64 gen(3);
  auto anyText = [&](int length) {
    std::string s;
    for (int k = 0; k < length; ++k) s.push_back(static_cast<char>(gen() % 256));
    return s;
  };
  auto anyDouble = [&] { return std::bit_cast<double>(static_cast<std::uint64_t>(gen())); };
  for (int trial = 0; trial < 20; ++trial) {
    Model m;
    m.dataFileName = anyText(trial);
    m.observations = static_cast<int>(gen() % 100000);
    m.NumTerm = 2;
    m.DelRsq = anyDouble();
    m.rsq = anyDouble();
    for (int j = 0; j < 1 + trial % 3; ++j) {
      Variable v;
      v.name = trial % 2 ? anyText(8) : "plain name";
      v.source = anyText(3);
      v.flag = *flagFromCode(1 + trial % 5);
      // The last trial's lists are long enough to be made in chunks side by side.
      const int entries = trial == 19 ? 70000 : 50;
      for (int k = 0; k < entries; ++k) {
        v.values.push_back(anyDouble());
        v.transforms.push_back(anyDouble());
      }
      if (trial % 4 == 0) v.labels = {anyText(5), "", anyText(2)};
      m.predictors.push_back(v);
    }
    m.response = m.predictors.back();
    if (trial == 0) m.predictors.clear();  // an empty list is "[]"
    ASSERT_EQ(modelToJson(m), documentText(m)) << "trial " << trial;
  }
}

TEST(ModelFileStream, HandsOutBoundedPiecesAndStopsWhenTheSinkRefuses) {
  Model m = handModel();
  for (int k = 0; k < 40000; ++k) {
    m.response.values.push_back(1.0 + k);
    m.response.transforms.push_back(1.0 / (k + 3.0));
  }
  std::string whole;
  std::size_t pieces = 0, largest = 0;
  ASSERT_TRUE(writeModelJson(m, [&](std::string_view piece) {
    ++pieces;
    largest = std::max(largest, piece.size());
    whole += piece;
    return true;
  }));
  EXPECT_GT(pieces, 10u);
  EXPECT_LT(largest, std::size_t{70000});
  EXPECT_EQ(whole, modelToJson(m));
  int calls = 0;
  EXPECT_FALSE(writeModelJson(m, [&](std::string_view) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
}

std::string refusal(const std::string& text) {
  Model m;
  std::string message;
  EXPECT_FALSE(modelFromJson(text, m, message)) << text.substr(0, 60);
  EXPECT_EQ(message.find('\n'), std::string::npos);
  return message;
}

std::string replaced(std::string text, const std::string& what, const std::string& with) {
  const std::size_t at = text.find(what);
  EXPECT_NE(at, std::string::npos) << what;
  return text.replace(at, what.size(), with);
}

TEST(ModelFileStream, RefusesFilesCutShortOrSpoilt) {
  // Cut anywhere before its last brace, the file is no JSON at all.
  const std::size_t end = kHandFile.rfind('}');
  for (std::size_t cut = 0; cut < end; cut += 7)
    EXPECT_EQ(
        refusal(kHandFile.substr(0, cut)).rfind("not a Tavel model: the file is not JSON (", 0), 0u)
        << cut;
  EXPECT_NE(refusal(replaced(kHandFile, "\"rsq\": \"0.3", "\"rsq\" \"0.3")).find("not JSON"),
            std::string::npos);
  EXPECT_NE(refusal(kHandFile + "{}").find("not JSON"), std::string::npos);

  // A table entry that is a bare number, a list, or a table that is no list.
  EXPECT_EQ(refusal(replaced(kHandFile, "\"5e-324\"", "5e-324")),
            "not a usable Tavel model: an entry of \"values\" of predictor 1 is not a number "
            "written as text");
  EXPECT_EQ(refusal(replaced(kHandFile, "\"5e-324\"", "[\"5e-324\", {\"a\": []}]")),
            "not a usable Tavel model: an entry of \"values\" of predictor 1 is not a number "
            "written as text");
  EXPECT_EQ(refusal(replaced(kHandFile, "\"0.5\"\n  ],", "\"0.5x\"\n  ],")),
            "not a usable Tavel model: an entry of \"values\" of the response is not a number "
            "written as text");
  const std::size_t responseAt = kHandFile.find("\"response\"");
  std::string objectTable = kHandFile;
  objectTable.replace(objectTable.find("\"transforms\": [", responseAt), 15,
                      "\"transforms\": {\"a\": \"1\"}, \"x\": [");
  EXPECT_EQ(refusal(objectTable),
            "not a usable Tavel model: \"transforms\" of the response is not a list");
  EXPECT_EQ(
      refusal(replaced(kHandFile, "\"values\": [\n    \"-0\",", "\"valuez\": [\n    \"-0\",")),
      "not a usable Tavel model: the model has no \"values\" of predictor 1");
}

// A file handed over in pieces reads as the whole text does, wherever the
// pieces end (within a number, a name, between a key and its value), and a
// file whose pieces stop early is no JSON.
TEST(ModelFileStream, ReadsAFileHandedOverInPieces) {
  Model whole;
  std::string message;
  ASSERT_TRUE(modelFromJson(kHandFile, whole, message)) << message;
  for (std::size_t size : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
    SCOPED_TRACE(size);
    std::size_t at = 0;
    bool empty = false;
    const ModelPieceSource source = [&](std::string& piece) {
      if (at >= kHandFile.size()) return false;
      empty = !empty;  // every other piece is empty: it must not end the text
      piece = empty ? std::string() : kHandFile.substr(at, size);
      at += piece.size();
      return true;
    };
    Model m;
    ASSERT_TRUE(modelFromJsonPieces(source, m, message)) << message;
    EXPECT_EQ(modelToJson(m), kHandFile);
  }
  std::size_t calls = 0;
  Model m;
  EXPECT_FALSE(modelFromJsonPieces(
      [&](std::string& piece) {
        piece = kHandFile.substr(0, 100);
        return calls++ == 0;
      },
      m, message));
  EXPECT_EQ(message.rfind("not a Tavel model: the file is not JSON (", 0), 0u) << message;
}

TEST(ModelFileStream, ListsOutsideTheTablesAndRepeatedKeysReadAsADocumentWould) {
  // "values" elsewhere is no table and is passed over; of a key given twice
  // the later one counts.
  std::string extra = replaced(kHandFile, "\"observations\": 4,",
                               "\"observations\": 4, \"values\": [1, {\"values\": [2]}],");
  extra = replaced(extra, "\"values\": [\n   \"-1\",",
                   "\"values\": [\"x\"], \"values\": [\n   \"-1\",");
  Model back;
  std::string message;
  ASSERT_TRUE(modelFromJson(extra, back, message)) << message;
  EXPECT_EQ(back.response.values, (std::vector<double>{-1.0, 0.5}));
  EXPECT_EQ(back.observations, 4);
}

}  // namespace
}  // namespace tavel::model
