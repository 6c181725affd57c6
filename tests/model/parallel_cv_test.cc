// SPDX-License-Identifier: GPL-3.0-or-later
// Jobs on several threads: reported in order, exceptions carried back; and
// the cross-validation's folds fitted side by side give the figures and
// lines of one fold after another, to the bit.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "model/cross_validation.h"
#include "model/parallel_for.h"
#include "model/tuning.h"

namespace tavel::model {
namespace {

TEST(ParallelFor, ReportsInOrderOnTheCallersThreadAndStopsWhenAsked) {
  const std::thread::id caller = std::this_thread::get_id();
  for (int threads : {1, 3, 8}) {
    std::vector<int> squares(40, -1);
    std::vector<int> order;
    bool elsewhere = false;
    parallelFor(
        40, threads, [&](int k) { squares[static_cast<std::size_t>(k)] = k * k; },
        [&](int k) {
          elsewhere = elsewhere || std::this_thread::get_id() != caller;
          // Every job up to k is done when k is reached.
          for (int j = 0; j <= k; ++j)
            if (squares[static_cast<std::size_t>(j)] != j * j) ADD_FAILURE() << j << " of " << k;
          order.push_back(k);
          return true;
        });
    EXPECT_FALSE(elsewhere);
    ASSERT_EQ(order.size(), 40u) << threads;
    for (int k = 0; k < 40; ++k) EXPECT_EQ(order[static_cast<std::size_t>(k)], k);
  }
  std::atomic<int> started{0}, ended{0};
  int reached = 0;
  parallelFor(
      200, 4,
      [&](int) {
        ++started;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        ++ended;
      },
      [&](int k) {
        ++reached;
        return k < 2;
      });
  EXPECT_EQ(reached, 3);
  EXPECT_EQ(started.load(), ended.load());  // nothing still running on return
  EXPECT_LT(started.load(), 200);
}

TEST(ParallelFor, CarriesAWorkersExceptionBackToTheCaller) {
  for (int threads : {1, 2, 5}) {
    int reached = 0;
    try {
      parallelFor(
          10, threads,
          [](int k) {
            if (k == 6) throw std::runtime_error("job 6");
            if (k == 8) throw std::bad_alloc();
          },
          [&](int) {
            ++reached;
            return true;
          });
      ADD_FAILURE() << "no exception with " << threads << " threads";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "job 6");  // the smallest job's, though 8 may fail first
    }
    EXPECT_EQ(reached, 6) << threads;
  }
  EXPECT_THROW(parallelFor(3, 3,
                           [](int k) {
                             if (k == 1) throw std::bad_alloc();
                           }),
               std::bad_alloc);
}

TEST(ParallelFor, TheThreadCountCanBeForcedFromTheEnvironment) {
  const char* before = std::getenv("TAVEL_THREADS");
  const std::string kept = before ? before : "";
  const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  ::setenv("TAVEL_THREADS", "1", 1);
  EXPECT_EQ(defaultThreadCount(), 1);
  ::setenv("TAVEL_THREADS", "7", 1);
  EXPECT_EQ(defaultThreadCount(), 7);
  for (const char* ignored : {"0", "-2", "2x", ""}) {
    ::setenv("TAVEL_THREADS", ignored, 1);
    EXPECT_EQ(defaultThreadCount(), cores) << ignored;
  }
  if (before)
    ::setenv("TAVEL_THREADS", kept.c_str(), 1);
  else
    ::unsetenv("TAVEL_THREADS");
}

struct Rows {
  int n = 0;
  std::vector<double> x, y;
};

// y = exp(x1) + 2 x2^2 + noise, and a category of 4 labels as x3.
Rows makeRows(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Rows r;
  r.n = n;
  r.x.resize(static_cast<std::size_t>(3) * n);
  for (int i = 0; i < n; ++i) {
    r.x[i] = u(gen);
    r.x[n + i] = u(gen);
    r.x[2 * n + i] = 1.0 + static_cast<int>(4.0 * u(gen));
    r.y.push_back(std::exp(r.x[i]) + 2.0 * r.x[n + i] * r.x[n + i] + 0.1 * r.x[2 * n + i] +
                  0.2 * (u(gen) - 0.5));
  }
  return r;
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// Every figure, bit for bit, with the lines that came with it.
std::string fingerprint(const CvResult& cv, const std::vector<std::string>& lines) {
  std::string s = cv.refusal + "|" + std::to_string(cv.done) + "|" + std::to_string(cv.scored) +
                  "|" + std::to_string(cv.outOfRange) + "|" + std::to_string(cv.held) + "|" +
                  std::to_string(cv.unknown);
  for (double v : {cv.rsq, cv.Avedev, cv.Stdev, cv.Bias, cv.responseRsq, cv.responseRmse})
    s += "|" + std::to_string(bits(v));
  for (const std::string& l : lines) s += "\n" + l;
  return s;
}

TEST(ParallelCrossValidation, FoldsSideBySideGiveTheSequentialBytes) {
  struct Case {
    int n, folds;
  };
  // 20000 rows: each fold's engine also runs its own helper thread.
  for (const Case c : {Case{301, 5}, Case{301, 7}, Case{20000, 3}}) {
    const Rows r = makeRows(c.n, 11);
    const int codes[] = {1, 2, 5, 3};
    CvInput in;
    in.n = r.n;
    in.p = 3;
    in.x = r.x.data();
    in.y = r.y.data();
    in.codes = codes;
    in.DelRsq = 1e-4;
    in.folds = c.folds;
    std::string reference;
    for (int threads : {1, 2, 4}) {
      in.threads = threads;
      std::vector<std::string> lines;
      const CvResult cv = crossValidate(in, [&](std::string_view l) { lines.emplace_back(l); });
      ASSERT_TRUE(cv.done) << cv.refusal;
      EXPECT_EQ(lines.size(), static_cast<std::size_t>(c.folds));
      if (threads == 1)
        reference = fingerprint(cv, lines);
      else
        EXPECT_EQ(fingerprint(cv, lines), reference) << c.n << " rows, " << threads << " threads";
    }
  }
}

TEST(ParallelCrossValidation, TuningPicksTheSameWinnerWithTheSameScores) {
  const Rows r = makeRows(200, 5);
  const int codes[] = {1, 1, 5, 3};
  CvInput in;
  in.n = r.n;
  in.p = 3;
  in.x = r.x.data();
  in.y = r.y.data();
  in.codes = codes;
  in.DelRsq = 1e-4;
  in.folds = 4;
  in.threads = 1;
  const TuningResult one = tuneSmoothness(in);
  in.threads = 3;
  const TuningResult three = tuneSmoothness(in);
  ASSERT_TRUE(one.done) << one.refusal;
  EXPECT_EQ(one.best, three.best);
  ASSERT_EQ(one.candidates.size(), three.candidates.size());
  std::vector<int> told;
  in.threads = 2;
  const TuningResult two =
      tuneSmoothness(in, [&](const TuningResult&, int k) { told.push_back(k); });
  EXPECT_EQ(told, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  for (std::size_t k = 0; k < one.candidates.size(); ++k) {
    // Each candidate alone, its folds one after another.
    CvInput alone = in;
    alone.threads = 1;
    alone.codes = one.candidates[k].codes.data();
    alone.settings = one.candidates[k].settings;
    const ResponseScaleCv own = responseScaleCv(alone);
    for (const TuningResult* t : {&one, &two, &three}) {
      EXPECT_EQ(bits(t->candidates[k].score.rmse), bits(own.rmse)) << k;
      EXPECT_EQ(bits(t->candidates[k].score.rsq), bits(own.rsq)) << k;
      EXPECT_EQ(t->candidates[k].score.scored, own.scored) << k;
    }
  }
  // A response that cannot be scored on its own scale: no candidate is.
  const int orderable[] = {1, 1, 5, 1};
  in.codes = orderable;
  told.clear();
  const TuningResult none =
      tuneSmoothness(in, [&](const TuningResult&, int k) { told.push_back(k); });
  EXPECT_FALSE(none.done);
  EXPECT_NE(none.refusal.find("only when its flag is Monotone Tr or Linear Tr"), std::string::npos);
  EXPECT_EQ(told, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

}  // namespace
}  // namespace tavel::model
