// SPDX-License-Identifier: GPL-3.0-or-later
// Fits that can be trusted: the dependent never among its own predictors, a
// word when a Circular variable cannot be periodic, large offsets that fit
// as well as the same data without them, and a smoothness the user or the
// cross-validation chooses. Run in process through tavel-batch's front end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "batch/batch_front.h"

namespace {

namespace fs = std::filesystem;
using tavel::batch::BatchIo;
using tavel::batch::runBatch;

struct Outcome {
  int status = -1;
  std::string out, err;
  tavel::app::AppState state;
};

std::string number(double v) {
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// A deterministic noise in [-0.5, 0.5): a linear congruential sequence.
struct Noise {
  unsigned long long s = 12345;
  double next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(s >> 11) / 9007199254740992.0 - 0.5;
  }
};

// Columns of text, named in the header.
std::string dataText(const std::vector<std::string>& names,
                     const std::vector<std::vector<double>>& columns) {
  std::string text;
  for (std::size_t c = 0; c < names.size(); ++c) text += (c ? " " : "") + names[c];
  text += "\n";
  for (std::size_t i = 0; i < columns[0].size(); ++i) {
    for (std::size_t c = 0; c < columns.size(); ++c) text += (c ? " " : "") + number(columns[c][i]);
    text += "\n";
  }
  return text;
}

// The number that follows the last `key` in the text.
double numberAfter(const std::string& text, const std::string& key) {
  const auto at = text.rfind(key);
  if (at == std::string::npos) return NAN;
  std::size_t b = at + key.size();
  while (b < text.size() && text[b] == ' ') ++b;
  double v = NAN;
  std::from_chars(text.data() + b, text.data() + text.size(), v);
  return v;
}

// The final squared correlation the Run printed: " r**2 = ..." of its last
// iteration line.
double finalRsq(const std::string& out) { return numberAfter(out, "r**2 = 1 - e**2 ="); }

class TrustedFit : public ::testing::Test {
 protected:
  void SetUp() override {
    static int count = 0;
    dir_ =
        fs::temp_directory_path() / ("ttf-" + std::to_string(::getpid())) / std::to_string(++count);
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "out");
  }
  void TearDown() override { fs::remove_all(dir_.parent_path()); }

  std::string file(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }
  fs::path out(const std::string& name = "") const { return dir_ / "out" / name; }

  Outcome run(std::vector<std::string> args) {
    Outcome r;
    BatchIo io;
    io.out = [&r](std::string_view t) { r.out += t; };
    io.err = [&r](std::string_view t) { r.err += t; };
    args.insert(args.begin(), {"--outdir", out().string()});
    r.status = runBatch(args, io, r.state);
    return r;
  }

  fs::path dir_;
};

std::string trimmed(const std::string& name) {
  return name.substr(0, name.find_last_not_of(' ') + 1);
}

std::vector<std::string> independentNames(const Outcome& r) {
  std::vector<std::string> names;
  const auto& sel = r.state.selection;
  for (int j = 0; j < sel.p; ++j)
    names.push_back(trimmed(r.state.data.colName[static_cast<std::size_t>(sel.indep[j] - 1)]));
  return names;
}

// y = a + 2 b + noise, every value positive so every column has a log twin.
std::string positiveData() {
  Noise noise;
  std::vector<double> a, b, y;
  for (int i = 0; i < 40; ++i) {
    a.push_back(1 + i % 7);
    b.push_back(2 + (i * 5) % 11);
    y.push_back(10 + a.back() + 2 * b.back() + noise.next());
  }
  return dataText({"a", "b", "y"}, {a, b, y});
}

TEST_F(TrustedFit, TheDependentNeverPredictsItselfOnItsOtherScale) {
  const std::string data = file("pos.dat", positiveData());
  // The default independents of _ln_y are a and b, not y.
  Outcome r = run({"--dep", "_ln_y", data});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(independentNames(r), (std::vector<std::string>{"a", "b"}));
  EXPECT_LT(finalRsq(r.out), 0.999);

  // Naming the twin is refused as naming the dependent itself is, before
  // anything is written.
  fs::remove(out("Taveltr.xls"));
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--dep", "_ln_y", "--indep", "a", "--indep", "y", data},
           {"--dep", "y", "--indep", "_ln_y", data}}) {
    r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("was also named as an independent variable, as"), std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(out("Taveltr.xls")));
  }
  // Both scales of an independent are still allowed.
  r = run({"--dep", "y", "--indep", "a", "--indep", "_ln_a", data});
  EXPECT_EQ(r.status, 0) << r.err;
}

std::string fileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST_F(TrustedFit, ACircularVariableOutsideZeroToOneIsSaidToBeSmoothedAsOrderable) {
  // Wind direction in degrees and the same divided by 360.
  Noise noise;
  std::vector<double> deg, turn, y;
  for (int i = 0; i < 36; ++i) {
    deg.push_back(10.0 * i);
    turn.push_back(deg.back() / 360.0);
    y.push_back(std::cos(2 * M_PI * turn.back()) + 0.1 * noise.next());
  }
  const std::string data = file("wind.dat", dataText({"DEG", "TURN", "Y"}, {deg, turn, y}));
  const std::string line =
      "DEG is smoothed as Orderable: its values are outside 0 .. 1; divide by the period "
      "(degrees / 360) to make it periodic";
  Outcome r = run({"--dep", "Y", "--indep", "DEG", "--flag", "DEG=circular", data});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(occurrences(r.err, "tavel-batch: warning: " + line + "\n"), 1) << r.err;
  EXPECT_EQ(occurrences(r.out, " " + line + "\n"), 1);
  EXPECT_EQ(occurrences(fileText(out("Tavel.log")), " " + line + "\n"), 1);

  // In turns it is periodic, and nothing is said.
  fs::remove(out("Tavel.log"));
  r = run({"--dep", "Y", "--indep", "TURN", "--flag", "TURN=circular", data});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(fileText(out("Tavel.log")).find("smoothed as Orderable"), std::string::npos);
}

// Far from zero a column keeps only the digits its magnitude leaves; the fit
// of those values must be the fit of the same values with the common part
// taken off (computed here, exactly: within a factor of two of each other
// doubles subtract without rounding).
TEST_F(TrustedFit, ALargeOffsetFitsAsTheSameValuesWithoutIt) {
  struct Case {
    double offset;
    double step;  // between the x values before the offset
  };
  const double two53 = 9007199254740992.0;
  for (const Case c : {Case{1e13, 0.01}, Case{1e14, 0.0125}, Case{1e15, 0.0125}, Case{two53, 1.0},
                       Case{-1e14, 0.0125}}) {
    Noise noise;
    std::vector<double> big, plain, y, ybig;
    for (int i = 0; i < 80; ++i) {
      big.push_back(c.offset + c.step * ((i * 37) % 80));
      plain.push_back(big.back() - c.offset);  // exact
      const double u = plain.back() / (80 * c.step);
      y.push_back(std::sin(3.0 * u) + 0.05 * noise.next());
    }
    // The response with the offset too.
    for (double v : y) ybig.push_back(1e14 + 1e6 * v);
    std::vector<double> yplain;
    for (double v : ybig) yplain.push_back(v - 1e14);
    const std::string bigFile = file("big.dat", dataText({"X", "Y", "YB"}, {big, y, ybig}));
    const std::string plainFile = file("plain.dat", dataText({"X", "Y", "YB"}, {plain, y, yplain}));
    for (const char* dep : {"Y", "YB"}) {
      const Outcome b = run({"--dep", dep, "--indep", "X", "--cv", "4", bigFile});
      const Outcome p = run({"--dep", dep, "--indep", "X", "--cv", "4", plainFile});
      ASSERT_EQ(b.status, 0) << b.err;
      ASSERT_EQ(p.status, 0) << p.err;
      EXPECT_GT(finalRsq(p.out), 0.95) << c.offset;
      EXPECT_NEAR(finalRsq(b.out), finalRsq(p.out), 5e-5) << c.offset << " " << dep;
      // The cross-validation's folds are analysed the same way.
      const std::string cv = "CROSS-VALIDATED SQUARED CORRELATION (4 FOLDS) =";
      EXPECT_NEAR(numberAfter(b.out, cv), numberAfter(p.out, cv), 5e-5) << c.offset;
    }
  }
}

// A log response of a large offset is scored on its file column's scale:
// the errors of Y = 1e13 (1 + 1e-8 f + noise) are of the order of 1e13 times
// the relative noise, not of the logarithms' differences.
TEST_F(TrustedFit, ALogResponseOfALargeOffsetIsScoredOnItsOwnValues) {
  Noise noise;
  std::vector<double> x, y;
  for (int i = 0; i < 80; ++i) {
    x.push_back((i * 37 % 80) / 80.0);
    y.push_back(1e13 * (1.0 + 1e-8 * std::sin(3.0 * x.back()) + 1e-9 * noise.next()));
  }
  const std::string data = file("narrow.dat", dataText({"X", "Y"}, {x, y}));
  const Outcome r = run({"--dep", "_ln_Y", "--cv", "4", data});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(finalRsq(r.out), 0.95);
  // Uniform noise of width 1e-9 has sd 2.9e-10: 2.9e3 on Y's scale.
  const double rmse = numberAfter(r.out, "RMSE =");
  EXPECT_GT(rmse, 1e3) << r.out;
  EXPECT_LT(rmse, 2e4);
}

// A wavy curve with noise, on which the smoothness matters.
std::string wavyData(int n) {
  Noise noise;
  std::vector<double> x, y;
  for (int i = 0; i < n; ++i) {
    x.push_back((i * 53 % n) / static_cast<double>(n));
    y.push_back(std::sin(6.0 * x.back()) + 0.3 * noise.next() + 2.0);
  }
  return dataText({"X", "Y"}, {x, y});
}

TEST_F(TrustedFit, TheSmoothnessIsTheUsersAndIsKeptInTheModel) {
  const std::string data = file("wavy.dat", wavyData(60));
  fs::remove(out("Tavel.log"));
  // (--numterm 2, the default, so that both runs pass through Options.)
  const Outcome plain = run({"--numterm", "2", data});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::string plainLog = fileText(out("Tavel.log"));
  // The engine's own bass and span given by name change nothing.
  fs::remove(out("Tavel.log"));
  const Outcome same = run({"--bass", "5", "--span", "0", data});
  ASSERT_EQ(same.status, 0) << same.err;
  EXPECT_TRUE(fileText(out("Tavel.log")) == plainLog);
  EXPECT_EQ(finalRsq(same.out), finalRsq(plain.out));

  // Bass 0 keeps the spans the cross-validation of the smoother chose, so
  // the in-sample fit is closer; a fixed span of the whole range is the
  // smoothest fit of all.
  const Outcome rough = run({"--bass", "0", "--save-model", (dir_ / "m.json").string(), data});
  ASSERT_EQ(rough.status, 0) << rough.err;
  EXPECT_GT(finalRsq(rough.out), finalRsq(plain.out));
  EXPECT_EQ(rough.state.options.Bass, 0.0);
  EXPECT_NE(fileText(dir_ / "m.json").find("\"bass\": \"0\""), std::string::npos);
  const Outcome stiff = run({"--span", "1", data});
  ASSERT_EQ(stiff.status, 0) << stiff.err;
  EXPECT_LT(finalRsq(stiff.out), finalRsq(plain.out));

  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--bass", "11", data},
                                             {"--bass", "-1", data},
                                             {"--span", "1.5", data},
                                             {"--span", "x", data},
                                             {"--tune", data},
                                             {"--cv", "5", "--tune", "--bass", "2", data}}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 2) << args[0] << " " << args[1];
    EXPECT_NE(r.err.find("tavel-batch: --"), std::string::npos) << r.err;
  }
}

// The table line of one candidate: its CV R^2 and RMSE.
struct Scored {
  double rsq = NAN, rmse = NAN;
};
Scored candidateLine(const std::string& out, const std::string& label) {
  const std::string key = "\n   " + label + " ";
  const auto at = out.find(key);
  Scored s;
  if (at == std::string::npos) return s;
  const char* p = out.data() + at + key.size();
  const char* end = out.data() + out.size();
  while (p < end && *p == ' ') ++p;
  p = std::from_chars(p, end, s.rsq).ptr;
  while (p < end && *p == ' ') ++p;
  std::from_chars(p, end, s.rmse);
  return s;
}

// Least squares of y on x, cross-validated with the program's folds (row i,
// 0-based, held out in fold i mod K): the pooled 1 - SSE/SST.
double leastSquaresCvRsq(const std::vector<double>& x, const std::vector<double>& y, int K) {
  const std::size_t n = x.size();
  double sse = 0.0;
  std::vector<double> pred(n);
  for (int f = 0; f < K; ++f) {
    double sx = 0, sy = 0, sxx = 0, sxy = 0, m = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (static_cast<int>(i % K) == f) continue;
      sx += x[i], sy += y[i], sxx += x[i] * x[i], sxy += x[i] * y[i], m += 1;
    }
    const double b = (sxy - sx * sy / m) / (sxx - sx * sx / m);
    const double a = sy / m - b * sx / m;
    for (std::size_t i = 0; i < n; ++i)
      if (static_cast<int>(i % K) == f) pred[i] = a + b * x[i];
  }
  double mean = 0.0;
  for (double v : y) mean += v / static_cast<double>(n);
  double sst = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    sse += (y[i] - pred[i]) * (y[i] - pred[i]);
    sst += (y[i] - mean) * (y[i] - mean);
  }
  return 1.0 - sse / sst;
}

TEST_F(TrustedFit, TuningPicksTheSmoothestFitForANoisyLineAndARougherOneForACurve) {
  Noise noise;
  std::vector<double> x, y;
  for (int i = 0; i < 300; ++i) {
    x.push_back((i * 97 % 300) / 300.0);
    y.push_back(5.0 + 2.0 * x.back() + 3.0 * noise.next());
  }
  const std::string line = file("line.dat", dataText({"X", "Y"}, {x, y}));
  Outcome r = run({"--cv", "5", "--tune", "--save-model", (dir_ / "m.json").string(), line});
  ASSERT_EQ(r.status, 0) << r.err;
  // Least squares is the right answer for a line; among the basses the
  // largest smooths most.
  EXPECT_NE(r.out.find(" Tuned: linear has the smallest CV error"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("its CV figures are the tuning score, so slightly optimistic"),
            std::string::npos);
  EXPECT_LT(candidateLine(r.out, "bass 10").rmse, candidateLine(r.out, "bass 0").rmse);
  EXPECT_GT(candidateLine(r.out, "bass 10").rsq, candidateLine(r.out, "bass 0").rsq);
  // The linear candidate is least squares, fold for fold.
  EXPECT_NEAR(candidateLine(r.out, "linear").rsq, leastSquaresCvRsq(x, y, 5), 1e-4);
  // The run goes on with it, flags and all, and still predicts.
  EXPECT_NE(r.out.find(" Flag:            4          4"), std::string::npos);
  EXPECT_NE(r.out.find(" Avedev="), std::string::npos);
  EXPECT_EQ(r.state.options.l[0], tavel::model::VarFlag::Orderable)
      << "the Options keep their own flags";
  EXPECT_NE(fileText(dir_ / "m.json").find("\"code\": 4"), std::string::npos);
  // The table and the choice are in the log too.
  const std::string log = fileText(out("Tavel.log"));
  EXPECT_NE(log.find(" Smoothness tuned by 5-fold cross-validation on the response scale:"),
            std::string::npos);
  EXPECT_NE(log.find(" Tuned: linear"), std::string::npos);

  // A curve with little noise needs the smoother's small spans: a bass
  // below the default wins, and the least squares line is far behind.
  const std::string wavy = file("wavy.dat", wavyData(200));
  r = run({"--cv", "5", "--tune", wavy});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find(" Tuned: linear"), std::string::npos);
  EXPECT_GT(candidateLine(r.out, "bass 0").rsq, candidateLine(r.out, "linear").rsq + 0.2) << r.out;

  // A dependent whose errors cannot be measured on its own scale stops the
  // run: the tuning asked for cannot be done.
  r = run({"--cv", "5", "--tune", "--flag", "Y=orderable", line});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("tavel-batch: Tuning refused: the dependent must be Monotone Tr"),
            std::string::npos)
      << r.err;
}

}  // namespace
