// SPDX-License-Identifier: GPL-3.0-or-later
// The smoothness a model was fitted with is kept in its file; files written
// before it could be chosen mean the engine's own (bass 5, adaptive span).
#include <gtest/gtest.h>

#include <string>

#include "model/model_file.h"
#include "model/tuning.h"

namespace tavel::model {
namespace {

// A whole model file as text, with `options` as its options object.
std::string fileWithOptions(const std::string& options) {
  return R"({"format": "tavel-model", "version": 1, "data_file": "d.dat", "observations": 3,
 "options": )" +
         options + R"(, "rsq": "0.9",
 "predictors": [{"name": "X", "source": "X", "log": false, "code": 1,
                 "values": ["1", "2", "3"], "transforms": ["-1", "0", "1"]}],
 "response": {"name": "Y", "source": "Y", "log": false, "code": 3,
              "values": ["1", "2", "3"], "transforms": ["-1", "0", "1"]}})";
}

TEST(ModelSmoothness, KeptInTheFileAndOlderFilesMeanTheDefaults) {
  Model m;
  std::string message;
  ASSERT_TRUE(modelFromJson(
      fileWithOptions(R"({"NumTerm": 2, "DelRsq": "0.0001", "bass": "0.5", "span": "0.3"})"), m,
      message))
      << message;
  EXPECT_EQ(m.bass, 0.5);
  EXPECT_EQ(m.span, 0.3);
  // Written back, the same numbers come back.
  const std::string text = modelToJson(m);
  EXPECT_NE(text.find("\"bass\": \"0.5\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"span\": \"0.3\""), std::string::npos);
  Model again;
  ASSERT_TRUE(modelFromJson(text, again, message)) << message;
  EXPECT_EQ(again.bass, 0.5);
  EXPECT_EQ(again.span, 0.3);

  Model old;
  ASSERT_TRUE(modelFromJson(fileWithOptions(R"({"NumTerm": 2, "DelRsq": "0.0001"})"), old, message))
      << message;
  EXPECT_EQ(old.bass, 5.0);
  EXPECT_EQ(old.span, 0.0);

  for (const char* bad : {R"({"NumTerm": 2, "DelRsq": "0.0001", "bass": "11"})",
                          R"({"NumTerm": 2, "DelRsq": "0.0001", "span": "-0.1"})",
                          R"({"NumTerm": 2, "DelRsq": "0.0001", "span": "nan"})",
                          R"({"NumTerm": 2, "DelRsq": "0.0001", "bass": 5})"}) {
    Model refused;
    EXPECT_FALSE(modelFromJson(fileWithOptions(bad), refused, message)) << bad;
  }
}

TEST(ModelSmoothness, TheTuningGridAndItsLinearCandidate) {
  ace::AceSettings settings;
  settings.fixed_span = 0.4;  // a user's fixed span: the grid uses the adaptive one
  const int codes[] = {1, 2, 5, 3, 3};
  const std::vector<TuningCandidate> c = tuningCandidates(codes, 4, settings);
  ASSERT_EQ(c.size(), 6u);
  const double basses[] = {0, 2, 5, 8, 10};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(c[k].settings.bass, basses[k]);
    EXPECT_EQ(c[k].settings.fixed_span, 0.0);
    EXPECT_EQ(c[k].codes, (std::vector<int>{1, 2, 5, 3, 3}));
  }
  EXPECT_EQ(c[0].label, "bass 0");
  EXPECT_EQ(c[5].label, "linear");
  EXPECT_EQ(c[5].settings.bass, 5.0);
  // Orderable independents and the Monotone dependent become Linear Tr;
  // Circular, Unorderable and Monotone independents keep their flags.
  EXPECT_EQ(c[5].codes, (std::vector<int>{4, 2, 5, 3, 4}));

  // Without an Orderable independent there is no linear candidate.
  const int none[] = {3, 5, 3};
  EXPECT_EQ(tuningCandidates(none, 2, settings).size(), 5u);
}

}  // namespace
}  // namespace tavel::model
