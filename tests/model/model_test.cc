// SPDX-License-Identifier: GPL-3.0-or-later
// The fitted model: its tables, the rules that apply it to new values, the
// JSON file and cross-validation. Expected values are worked by hand or come
// from a plain formula the data were made from.
#include "model/model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "ace/ace.h"
#include "model/cross_validation.h"
#include "model/model_file.h"

namespace tavel::model {
namespace {

// Interpolation of a handful of values: a few ulps.
constexpr double kRounding = 1e-12;

Variable table(VarFlag flag, std::vector<double> values, std::vector<double> transforms) {
  Variable v;
  v.name = v.source = "X";
  v.flag = flag;
  v.values = std::move(values);
  v.transforms = std::move(transforms);
  return v;
}

double tx(const Variable& v, double value, RowStatus& status) {
  return transformValue(v, value, status);
}

TEST(ModelTable, OneEntryPerDistinctValueTiesShareTheirMean) {
  // Raw 4, 2, 1, 2, NaN: order by raw is 3, 2, 4, 1 (the NaN last).
  const double raw[] = {4.0, 2.0, 1.0, 2.0, std::nan("")};
  const double transformed[] = {1.0, 0.25, -1.0, 0.75, 9.0};
  const int order[] = {3, 2, 4, 1, 5};
  Variable v;
  fillTable(5, order, raw, transformed, v);
  EXPECT_EQ(v.values, (std::vector<double>{1.0, 2.0, 4.0}));
  EXPECT_EQ(v.transforms, (std::vector<double>{-1.0, 0.5, 1.0}));
}

// The tables keep one transform per distinct value; that loses nothing only
// when the engine gives tied observations equal transforms, bit for bit.
TEST(ModelTable, EngineGivesTiesEqualTransforms) {
  const int n = 60;
  std::vector<double> x(2 * n), y(n);
  for (int i = 0; i < n; ++i) {
    x[i] = (i * 7) % 6;  // 6 values, 10 ties each
    x[n + i] = (i * 11) % 13 * 0.5;
    y[i] = std::floor(std::sin(0.3 * i) * 4.0 + x[i] + x[n + i]);  // ties in y too
  }
  for (const auto& codes :
       {std::vector<int>{1, 1, 1}, std::vector<int>{3, 2, 3}, std::vector<int>{5, 4, 3}}) {
    std::vector<double> tx(2 * n), ty(n), w(n, 1.0), z(12 * n);
    std::vector<int> m(3 * n);
    double rsq = 0;
    int ierr = 0, numTerm = 2;
    ace::RsqHistory h{};
    ace::ace_estimate(n, 2, x.data(), y.data(), w.data(), codes.data(), 1e-4, tx.data(), ty.data(),
                      rsq, ierr, m.data(), z.data(), n, ace::AceSettings{}, numTerm, h, {});
    ASSERT_EQ(ierr, 0);
    auto check = [&](const double* raw, const double* t) {
      for (int i = 0; i < n; ++i)
        for (int k = 0; k < n; ++k)
          if (raw[i] == raw[k]) {
            ASSERT_EQ(t[i], t[k]) << codes[0] << codes[1] << codes[2];
          }
    };
    check(x.data(), tx.data());
    check(x.data() + n, tx.data() + n);
    check(y.data(), ty.data());
  }
}

TEST(ModelApply, InterpolatesHoldsEndsAndMarksRows) {
  const Variable v = table(VarFlag::Orderable, {1.0, 2.0, 4.0}, {-1.0, 0.0, 1.0});
  RowStatus s = RowStatus::Ok;
  EXPECT_EQ(tx(v, 2.0, s), 0.0);
  EXPECT_NEAR(tx(v, 3.0, s), 0.5, kRounding);
  EXPECT_NEAR(tx(v, 1.5, s), -0.5, kRounding);
  EXPECT_EQ(s, RowStatus::Ok);
  EXPECT_EQ(tx(v, 9.0, s), 1.0);
  EXPECT_EQ(s, RowStatus::OutOfRange);
  s = RowStatus::Ok;
  EXPECT_EQ(tx(v, -std::numeric_limits<double>::infinity(), s), -1.0);
  EXPECT_EQ(s, RowStatus::OutOfRange);
  // NaN (ln of a value that is not positive) cannot be placed at all.
  s = RowStatus::Ok;
  tx(v, std::nan(""), s);
  EXPECT_EQ(s, RowStatus::Unknown);
  // A status is only raised: an in-range value after an unknown one.
  tx(v, 2.0, s);
  EXPECT_EQ(s, RowStatus::Unknown);
}

TEST(ModelApply, CategoriesNeedAnExactMatch) {
  const Variable v = table(VarFlag::Unorderable, {1.0, 2.0, 3.0}, {0.3, -0.7, 0.4});
  RowStatus s = RowStatus::Ok;
  EXPECT_EQ(tx(v, 3.0, s), 0.4);
  EXPECT_EQ(s, RowStatus::Ok);
  tx(v, 2.5, s);  // between two categories is no category
  EXPECT_EQ(s, RowStatus::Unknown);
  s = RowStatus::Ok;
  tx(v, 7.0, s);
  EXPECT_EQ(s, RowStatus::Unknown);
}

TEST(ModelApply, CircularWrapsWithPeriodOne) {
  // Angles as fractions of a turn: 0.1 -> 1, 0.5 -> -1, 0.8 -> 0.
  const Variable v = table(VarFlag::Circular, {0.1, 0.5, 0.8}, {1.0, -1.0, 0.0});
  RowStatus s = RowStatus::Ok;
  // Across the wrap, between 0.8 (0) and 1.1 (1): 0.95 lies half-way.
  EXPECT_NEAR(tx(v, 0.95, s), 0.5, kRounding);
  EXPECT_NEAR(tx(v, 0.05, s), 5.0 / 6.0, kRounding);  // 1.05: 5/6 of the way
  EXPECT_NEAR(tx(v, 1.3, s), 0.0, kRounding);         // 0.3, between 0.1 and 0.5
  EXPECT_NEAR(tx(v, -0.5, s), -1.0, kRounding);       // 0.5 a turn earlier
  EXPECT_EQ(s, RowStatus::Ok);
  // Values beyond [0, 1] were smoothed as an ordinary variable: ends held.
  const Variable wide = table(VarFlag::Circular, {0.0, 180.0, 270.0}, {1.0, -1.0, 0.0});
  tx(wide, 300.0, s);
  EXPECT_EQ(s, RowStatus::OutOfRange);
}

// y = 2 x1 + 3 x2 on a grid, fitted with linear predictors and a monotone
// response; new points between the grid points are predicted exactly.
TEST(ModelPredict, LinearModelPredictsNewPointsExactly) {
  std::vector<double> x, y;
  const int n = 40;
  x.resize(2 * n);
  for (int i = 0; i < n; ++i) {
    x[i] = (i * 7) % 20;              // 0..19
    x[n + i] = 0.5 * ((i * 3) % 11);  // 0..5
    y.push_back(2.0 * x[i] + 3.0 * x[n + i]);
  }
  const int codes[] = {engineCode(VarFlag::Linear), engineCode(VarFlag::Linear),
                       engineCode(VarFlag::Monotone)};
  std::vector<double> tx(2 * n), ty(n), w(n, 1.0), z(12 * n);
  std::vector<int> m(3 * n);
  double rsq = 0;
  int ierr = 0, numTerm = 2;
  ace::RsqHistory h{};
  ace::ace_estimate(n, 2, x.data(), y.data(), w.data(), codes, 1e-4, tx.data(), ty.data(), rsq,
                    ierr, m.data(), z.data(), n, ace::AceSettings{}, numTerm, h, {});
  ASSERT_EQ(ierr, 0);
  std::vector<Variable> d(3);
  for (int j = 0; j < 3; ++j) d[j].flag = *flagFromCode(codes[j]);
  const Model model =
      buildModel(FitArrays{n, 2, x.data(), y.data(), tx.data(), ty.data(), m.data()}, d);

  // Extended along the end interval, a line stays the line beyond the data.
  Model linear = model;
  linear.extrapolate = Extrapolation::Linear;
  const std::vector<double> fresh = {3.3, 17.9, 0.01, 12.5, /* x2: */ 0.7, 4.9, 2.25, 0.0};
  Predictions out;
  predictRows(linear, 4, fresh.data(), out);
  ASSERT_TRUE(out.predictsResponse);
  EXPECT_EQ(out.ok, 4);
  for (int i = 0; i < 4; ++i)
    EXPECT_NEAR(out.response[i], 2.0 * fresh[i] + 3.0 * fresh[4 + i], 1e-9) << i;

  // Held (the default): 2 * 17.9 + 3 * 4.9 = 50.5 lies above every y the
  // grid has, so it is the largest of them; the other rows are unchanged.
  const double largest = *std::max_element(y.begin(), y.end());
  ASSERT_LT(largest, 50.5);
  predictRows(model, 4, fresh.data(), out);
  EXPECT_EQ(out.status[1], RowStatus::Held);
  EXPECT_EQ(out.response[1], largest);
  EXPECT_EQ(out.held, 1);
  EXPECT_EQ(out.ok, 3);
  for (int i : {0, 2, 3}) EXPECT_NEAR(out.response[i], 2.0 * fresh[i] + 3.0 * fresh[4 + i], 1e-9);
}

// Many rows are looked up through an index of each table; one value alone by
// a plain search of it. Both must find the same neighbours, also on tables
// whose values crowd at one end, with repeats and with values beyond both
// ends.
TEST(ModelPredict, ManyRowsFindTheSameNeighboursAsOne) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Model model;
  Variable crowded = table(VarFlag::Orderable, {}, {});
  for (int k = 0; k < 5000; ++k) crowded.values.push_back(std::exp(20.0 * k / 5000.0));
  for (int k = 0; k < 5000; ++k) crowded.transforms.push_back(u(gen));
  Variable spaced = table(VarFlag::Orderable, {-1.0, 0.0, 1e-300, 3.0}, {1.0, 2.0, 3.0, 4.0});
  model.predictors = {crowded, spaced};
  model.response = table(VarFlag::Linear, {0.0, 1.0}, {0.0, 1.0});
  const int n = 60000;  // enough rows to be split between threads
  std::vector<double> x(2 * n);
  for (int i = 0; i < n; ++i) {
    x[i] = i % 7 == 0 ? crowded.values[static_cast<std::size_t>(i) % 5000]
                      : std::exp(21.0 * u(gen) - 0.5);
    x[n + i] = i % 5 == 0 ? spaced.values[static_cast<std::size_t>(i) % 4] : 5.0 * u(gen) - 1.5;
  }
  Predictions out;
  predictRows(model, n, x.data(), out);
  int mismatches = 0;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < n; ++i) {
      RowStatus s = RowStatus::Ok;
      const double one = transformValue(model.predictors[j], x[j * n + i], s);
      if (std::memcmp(&one, &out.tx[j * n + i], sizeof one) != 0) ++mismatches;
    }
  EXPECT_EQ(mismatches, 0);
}

TEST(ModelPredict, StatusesCountsAndLogResponse) {
  Model model;
  model.predictors = {table(VarFlag::Orderable, {0.0, 1.0}, {-1.0, 1.0}),
                      table(VarFlag::Unorderable, {1.0, 2.0}, {0.5, -0.5})};
  // Response: ln y from 0 to 2, transform = ln y - 1.
  model.response = table(VarFlag::Monotone, {0.0, 2.0}, {-1.0, 1.0});
  model.response.isLog = true;
  const std::vector<double> x = {0.5, 3.0, 0.5, /* categories: */ 1.0, 2.0, 9.0};
  Predictions out;
  predictRows(model, 3, x.data(), out);
  EXPECT_EQ(out.status,
            (std::vector<RowStatus>{RowStatus::Ok, RowStatus::OutOfRange, RowStatus::Unknown}));
  EXPECT_EQ(out.ok + out.outOfRange + out.unknown, 3);
  // Row 1: score 0 + 0.5 -> ln y = 1.5 -> y = e**1.5.
  EXPECT_NEAR(out.score[0], 0.5, kRounding);
  EXPECT_NEAR(out.response[0], std::exp(1.5), 1e-12 * std::exp(1.5));
  // Row 2: x held at 1 -> score 1 - 0.5 = 0.5 as well.
  EXPECT_NEAR(out.response[1], std::exp(1.5), 1e-12 * std::exp(1.5));
}

Model sampleModel() {
  Model m;
  m.dataFileName = "/data/rates.dat";
  m.observations = 3;
  m.NumTerm = 2;
  m.DelRsq = static_cast<double>(1.0e-4f);
  m.rsq = 0.1 + 0.2;  // not a short decimal
  m.predictors = {table(VarFlag::Monotone, {300.0, 1.0 / 3.0 + 310.0, 320.0}, {-M_PI, 1e-300, 2.0}),
                  table(VarFlag::Unorderable, {1.0, 2.0}, {0.5, -0.5})};
  m.predictors[1].name = "_ln_P";
  m.predictors[1].source = "P";
  m.predictors[1].isLog = true;
  m.response = table(VarFlag::Monotone, {-1.0, 5e-324, 2.0}, {-1.0, std::sqrt(2.0), 1.5});
  return m;
}

TEST(ModelFile, RoundTripIsBitForBitAndPredictsTheSame) {
  Model m = sampleModel();
  Model back;
  std::string message;
  ASSERT_TRUE(modelFromJson(modelToJson(m), back, message)) << message;
  EXPECT_FALSE(back.crossValidation.has_value());
  m.crossValidation = CvSummary{5, 0.64, true, -59.7, 0.1 + 0.2, true};
  ASSERT_TRUE(modelFromJson(modelToJson(m), back, message)) << message;
  ASSERT_TRUE(back.crossValidation.has_value());
  EXPECT_EQ(back.crossValidation->folds, 5);
  EXPECT_EQ(back.crossValidation->responseRsq, -59.7);
  EXPECT_EQ(back.crossValidation->responseRmse, 0.1 + 0.2);
  EXPECT_TRUE(back.crossValidation->exponentiated);
  EXPECT_EQ(back.dataFileName, m.dataFileName);
  EXPECT_EQ(std::memcmp(&back.rsq, &m.rsq, sizeof(double)), 0);
  EXPECT_EQ(back.DelRsq, m.DelRsq);
  ASSERT_EQ(back.predictors.size(), 2u);
  EXPECT_EQ(back.predictors[1].source, "P");
  EXPECT_TRUE(back.predictors[1].isLog);
  EXPECT_EQ(back.predictors[0].values, m.predictors[0].values);
  EXPECT_EQ(back.predictors[0].transforms, m.predictors[0].transforms);
  EXPECT_EQ(back.response.values, m.response.values);

  const std::vector<double> x = {305.5, 319.0, 290.0, 1.0, 2.0, 1.0};
  Predictions a, b;
  predictRows(m, 3, x.data(), a);
  predictRows(back, 3, x.data(), b);
  EXPECT_EQ(a.score, b.score);
  EXPECT_EQ(a.response, b.response);
  EXPECT_EQ(a.status, b.status);
}

TEST(ModelFile, RefusesWhatIsNotAKnownModel) {
  std::string good = modelToJson(sampleModel());
  auto refusal = [](const std::string& text) {
    Model m;
    std::string message;
    EXPECT_FALSE(modelFromJson(text, m, message)) << text.substr(0, 80);
    return message;
  };
  EXPECT_NE(refusal("T P RATE\n300 1 0.1\n").find("not JSON"), std::string::npos);
  EXPECT_NE(refusal("{\"format\": \"other\", \"version\": 1}").find("not a Tavel model"),
            std::string::npos);
  std::string v2 = good;
  v2.replace(v2.find("\"version\": 1"), 12, "\"version\": 2");
  EXPECT_NE(refusal(v2).find("version 2 is not known"), std::string::npos);
  std::string unordered = good;
  unordered.replace(unordered.find("\"300\""), 5, "\"999\"");
  EXPECT_NE(refusal(unordered).find("strictly ascending"), std::string::npos);
  std::string bare = good;
  bare.replace(bare.find("\"320\""), 5, "320");  // a number, not its exact text
  EXPECT_NE(refusal(bare).find("predictor 1"), std::string::npos);
  std::string noResponse = good.substr(0, good.find("\"response\"")) + "\"x\": 0}";
  EXPECT_NE(refusal(noResponse).find("\"response\""), std::string::npos);
}

// Files that read as JSON of the right shape but could not predict: each is
// refused with its own one-line reason, naming what is wrong.
TEST(ModelFile, RefusesModelsThatCannotPredict) {
  struct Case {
    const char* what;
    void (*spoil)(Model&);
    const char* reason;
  };
  const Case cases[] = {
      {"one response value", [](Model& m) { m.response = table(VarFlag::Monotone, {2.0}, {0.0}); },
       "response's table holds one value"},
      {"equal response transforms",
       [](Model& m) { m.response.transforms.assign(m.response.values.size(), 0.25); },
       "response's transforms are all equal"},
      {"rsq above 1", [](Model& m) { m.rsq = 1.0 + 1e-9; }, "\"rsq\" is not a number from 0 to 1"},
      {"rsq below 0", [](Model& m) { m.rsq = -0.5; }, "\"rsq\" is not a number from 0 to 1"},
      {"rsq NaN", [](Model& m) { m.rsq = std::nan(""); }, "\"rsq\" is not a number from 0 to 1"},
      {"a predictor twice", [](Model& m) { m.predictors.push_back(m.predictors[0]); },
       "the predictor X is listed twice (predictors 1 and 3)"},
      {"an escape in a name", [](Model& m) { m.predictors[1].name = "P\x1b[2J"; },
       "the name of predictor 2 holds control characters"},
      {"a newline in a column", [](Model& m) { m.response.source = "RA\nTE"; },
       "the response's name holds control characters"},
      {"a C1 control in UTF-8", [](Model& m) { m.predictors[0].source = "T\xc2\x9b"; },
       "the name of predictor 1 holds control characters"},
  };
  for (const Case& c : cases) {
    Model m = sampleModel();
    c.spoil(m);
    Model back;
    std::string message;
    EXPECT_FALSE(modelFromJson(modelToJson(m), back, message)) << c.what;
    EXPECT_NE(message.find(c.reason), std::string::npos) << c.what << ": " << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << c.what;
    EXPECT_EQ(modelProblem(m).empty(), false) << c.what;
  }
  // The edges that can predict: rsq exactly 0 and 1, two values, a name in
  // other scripts (UTF-8 letters, not controls), a log twin beside its column.
  Model edge = sampleModel();
  edge.rsq = 1.0;
  edge.response = table(VarFlag::Monotone, {1.0, 2.0}, {-1.0, 1.0});
  edge.predictors[0].name =
      "Temp\xc3\xa9"
      "rature \xc2\xb0"
      "C";
  edge.predictors[1].name = "X";
  edge.predictors[1].source = "X";
  edge.predictors[1].isLog = false;
  edge.predictors.push_back(edge.predictors[1]);
  edge.predictors[2].name = "_ln_X";
  edge.predictors[2].isLog = true;
  Model back;
  std::string message;
  EXPECT_TRUE(modelFromJson(modelToJson(edge), back, message)) << message;
  edge.rsq = 0.0;
  EXPECT_TRUE(modelFromJson(modelToJson(edge), back, message)) << message;
}

// Fits for cross-validation: rows of y = f(x1, x2) plus noise.
struct Data {
  int n = 0;
  std::vector<double> x, y;
};

Data makeData(int n, double noise, bool independent, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Data d;
  d.n = n;
  d.x.resize(2 * n);
  for (int i = 0; i < n; ++i) {
    d.x[i] = u(gen);
    d.x[n + i] = u(gen);
    const double signal = std::exp(d.x[i]) + 2.0 * d.x[n + i] * d.x[n + i];
    d.y.push_back(independent ? u(gen) : signal + noise * (u(gen) - 0.5));
  }
  return d;
}

CvInput cvInput(const Data& d, const int* codes, int folds) {
  CvInput in;
  in.n = d.n;
  in.p = 2;
  in.x = d.x.data();
  in.y = d.y.data();
  in.codes = codes;
  in.DelRsq = 1e-4;
  in.folds = folds;
  return in;
}

double inSampleRsq(const Data& d, const int* codes) {
  const int n = d.n;
  std::vector<double> tx(2 * n), ty(n), w(n, 1.0), z(12 * n);
  std::vector<int> m(3 * n);
  double rsq = 0;
  int ierr = 0, numTerm = 2;
  ace::RsqHistory h{};
  ace::ace_estimate(n, 2, d.x.data(), d.y.data(), w.data(), codes, 1e-4, tx.data(), ty.data(), rsq,
                    ierr, m.data(), z.data(), n, ace::AceSettings{}, numTerm, h, {});
  return rsq;
}

TEST(CrossValidation, NoiseFreeDataScoresNearTheInSampleFit) {
  const Data d = makeData(200, 0.0, false, 7);
  const int codes[] = {1, 1, 3};
  std::vector<std::string> lines;
  const CvResult cv =
      crossValidate(cvInput(d, codes, 5), [&](std::string_view l) { lines.emplace_back(l); });
  ASSERT_TRUE(cv.done) << cv.refusal;
  EXPECT_EQ(lines.size(), 5u);
  EXPECT_EQ(cv.scored, 200);
  const double in = inSampleRsq(d, codes);
  EXPECT_GT(in, 0.99);
  EXPECT_NEAR(cv.rsq, in, 0.02);
  EXPECT_TRUE(cv.responseErrors);
  EXPECT_LT(cv.Stdev, 0.1);  // y spans about 1 to 4.7
}

// Scaling by a power of two is exact, and the transformations do not depend
// on a variable's scale: data near 1e160 or 1e-200, beyond what the engine's
// sums hold, score exactly as the plain data, the errors scaled alike.
TEST(CrossValidation, MagnitudesBeyondTheSumsScoreAsThePlainData) {
  const Data plain = makeData(60, 0.1, false, 11);
  const int codes[] = {1, 1, 3};
  const CvResult expected = crossValidate(cvInput(plain, codes, 5));
  ASSERT_TRUE(expected.done) << expected.refusal;
  for (const auto& [xShift, yShift] :
       {std::pair{0, 532}, std::pair{-665, 532}, std::pair{0, -665}}) {
    Data scaled = plain;
    for (double& v : scaled.x) v = std::ldexp(v, xShift);
    for (double& v : scaled.y) v = std::ldexp(v, yShift);
    const CvResult cv = crossValidate(cvInput(scaled, codes, 5));
    ASSERT_TRUE(cv.done) << cv.refusal;
    EXPECT_EQ(cv.rsq, expected.rsq);
    EXPECT_EQ(cv.Avedev, std::ldexp(expected.Avedev, yShift));
    EXPECT_EQ(cv.Stdev, std::ldexp(expected.Stdev, yShift));
    EXPECT_EQ(cv.Bias, std::ldexp(expected.Bias, yShift));
  }
}

TEST(CrossValidation, IndependentResponseScoresNearOrBelowZero) {
  // Many categories of noise: the fit finds structure that is not there.
  Data d = makeData(120, 0.0, true, 11);
  for (int i = 0; i < d.n; ++i) d.x[i] = std::floor(d.x[i] * 30.0);
  const int codes[] = {engineCode(VarFlag::Unorderable), engineCode(VarFlag::Orderable),
                       engineCode(VarFlag::Monotone)};
  const double in = inSampleRsq(d, codes);
  EXPECT_GT(in, 0.25);
  const CvResult cv = crossValidate(cvInput(d, codes, 4));
  ASSERT_TRUE(cv.done) << cv.refusal;
  EXPECT_LT(cv.rsq, 0.05);
  EXPECT_EQ(cv.scored + cv.unknown, d.n);
}

// y = 2 x1 + 3 x2 + 5 exactly on a grid whose every value is in every
// fold's training part: with every variable Linear Tr each fold's fit is the
// plane itself, so the held-out rows are predicted without error on the
// response's scale, and the linear transformation is inverted as a
// monotone one is. A log response is scored after exponentiating.
TEST(CrossValidation, ResponseScaleOfAnExactPlaneAndOfALogResponse) {
  Data d = makeData(50, 0.0, false, 5);
  for (int i = 0; i < d.n; ++i) {
    d.x[i] = (i * 3) % 7;
    d.x[d.n + i] = 0.5 * ((i * 2) % 11);
    d.y[i] = 2.0 * d.x[i] + 3.0 * d.x[d.n + i] + 5.0;
  }
  const int linear[] = {engineCode(VarFlag::Linear), engineCode(VarFlag::Linear),
                        engineCode(VarFlag::Linear)};
  // Extended: a fold without the largest y still predicts it on the plane.
  CvInput planeInput = cvInput(d, linear, 5);
  planeInput.extrapolate = Extrapolation::Linear;
  const ResponseScaleCv plane = responseScaleCv(planeInput);
  ASSERT_TRUE(plane.done) << plane.refusal;
  EXPECT_EQ(plane.scored, 50);
  EXPECT_NEAR(plane.rsq, 1.0, 1e-12);
  EXPECT_LT(plane.rmse, 1e-9);

  // ln y = that plane / 10: the exponentiated predictions are exact too (that
  // they are exponentiated is checked against Tavelpr.xls in the Run's tests).
  Data logged = d;
  for (double& y : logged.y) y /= 10.0;
  CvInput in = cvInput(logged, linear, 5);
  in.logResponse = true;
  in.extrapolate = Extrapolation::Linear;
  const CvResult cv = crossValidate(in);
  ASSERT_TRUE(cv.done && cv.responseScale) << cv.refusal;
  EXPECT_NEAR(cv.responseRsq, 1.0, 1e-12);
  EXPECT_FALSE(cv.responseErrors);  // the documented-style errors are for code 3 only

  const int orderable[] = {1, 1, 1};  // the response is not inverted
  EXPECT_FALSE(responseScaleCv(cvInput(d, orderable, 5)).done);
}

TEST(CrossValidation, RefusesBeforeFittingAndNamesAFailedFold) {
  const Data d = makeData(12, 0.1, false, 3);
  const int codes[] = {1, 1, 3};
  EXPECT_NE(crossValidate(cvInput(d, codes, 1)).refusal.find("from 2 to 12 folds"),
            std::string::npos);
  EXPECT_FALSE(crossValidate(cvInput(d, codes, 13)).done);
  // K = 2 leaves 6 rows to fit on; 12 rows in 12 folds leave 11.
  EXPECT_TRUE(crossValidate(cvInput(d, codes, 2)).done);
  const Data small = makeData(9, 0.1, false, 3);
  const CvResult tooFew = crossValidate(cvInput(small, codes, 2));  // fold 1 holds 5, leaves 4
  EXPECT_NE(tooFew.refusal.find("leaves 4 rows"), std::string::npos) << tooFew.refusal;

  // Only rows of fold 3 (rows 3, 7, 11 with K = 4) vary: fold 3 fits on a
  // constant response and the engine refuses it.
  Data flat = d;
  for (int i = 0; i < flat.n; ++i) flat.y[i] = (i % 4 == 2) ? 1.0 + i : 1.0;
  const CvResult failed = crossValidate(cvInput(flat, codes, 4));
  EXPECT_FALSE(failed.done);
  EXPECT_NE(failed.refusal.find("fold 3 of 4"), std::string::npos) << failed.refusal;
}

}  // namespace
}  // namespace tavel::model
