// The smoothness a model was fitted with is kept in its file; files written
// before it could be chosen mean the engine's own (bass 5, adaptive span).
#include <gtest/gtest.h>

#include <string>

#include "model/model_file.h"

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

}  // namespace
}  // namespace tavel::model
