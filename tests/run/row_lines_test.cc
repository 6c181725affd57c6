// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/row_lines.h"

#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavel::run {
namespace {

// Row i's line in output s, as a reader of the file would check it.
std::string lineOf(int s, int i) { return std::to_string(s) + ":" + std::to_string(i); }

struct Written {
  std::vector<std::string> lines[kMaxLineStreams];
};

// Writes `rows` rows to two outputs; output s fails on its line failAt[s]
// (that line is not kept), -1 never.
Written writeTwo(int rows, bool* ok, const int failAt[2], std::vector<int>* formatted = nullptr) {
  Written w;
  std::mutex formatting;  // the two parts of a block are formatted at once
  writeRowLines(
      rows, 2, ok,
      [&](int first, int last, LineBlock& block) {
        if (formatted) {
          const std::lock_guard lock(formatting);
          formatted->push_back(first);
        }
        for (int i = first; i < last; ++i)
          for (int s = 0; s < 2; ++s)
            if (block.wanted[s]) block.add(s, lineOf(s, i));
      },
      [&](int s, std::string_view lines) {
        EXPECT_EQ(lines.back(), '\n');
        while (!lines.empty()) {
          if (static_cast<int>(w.lines[s].size()) == failAt[s]) return false;
          const std::size_t end = lines.find('\n');
          w.lines[s].emplace_back(lines.substr(0, end));
          lines.remove_prefix(end + 1);
        }
        return true;
      });
  return w;
}

TEST(RowLines, EveryRowOfManyBlocksArrivesOnceAndInOrder) {
  const int rows = 3 * kLineBlockRows + 5;  // three helper hand-overs and a short last block
  bool ok[2] = {true, true};
  const int never[2] = {-1, -1};
  const Written w = writeTwo(rows, ok, never);
  EXPECT_TRUE(ok[0] && ok[1]);
  for (int s = 0; s < 2; ++s) {
    ASSERT_EQ(static_cast<int>(w.lines[s].size()), rows) << s;
    for (int i = 0; i < rows; ++i) ASSERT_EQ(w.lines[s][i], lineOf(s, i)) << s;
  }
}

TEST(RowLines, AFailedOutputGetsNoMoreLinesAndTheOtherGoesOn) {
  const int rows = 2 * kLineBlockRows + 1;
  bool ok[2] = {true, true};
  const int failAt[2] = {kLineBlockRows + 7, -1};  // in the second block
  const Written w = writeTwo(rows, ok, failAt);
  EXPECT_FALSE(ok[0]);
  EXPECT_TRUE(ok[1]);
  ASSERT_EQ(static_cast<int>(w.lines[0].size()), kLineBlockRows + 7);
  EXPECT_EQ(w.lines[0].back(), lineOf(0, kLineBlockRows + 6));
  EXPECT_EQ(static_cast<int>(w.lines[1].size()), rows);
}

TEST(RowLines, NothingIsFormattedForOutputsNotWrittenOrWithoutRows) {
  std::vector<int> formatted;
  const int never[2] = {-1, -1};
  bool none[2] = {false, false};
  Written w = writeTwo(5 * kLineBlockRows, none, never, &formatted);
  EXPECT_TRUE(formatted.empty());
  EXPECT_TRUE(w.lines[0].empty() && w.lines[1].empty());

  bool ok[2] = {true, true};
  w = writeTwo(0, ok, never, &formatted);
  EXPECT_TRUE(formatted.empty());
  EXPECT_TRUE(ok[0] && ok[1]);

  // Both outputs failing in the first block: the rest is never formatted
  // (at most the block already begun beside it, in its two halves).
  const int first[2] = {0, 0};
  w = writeTwo(5 * kLineBlockRows, ok, first, &formatted);
  EXPECT_FALSE(ok[0] || ok[1]);
  EXPECT_LE(formatted.size(), 4u);
  for (int row : formatted) EXPECT_LT(row, 2 * kLineBlockRows);
}

TEST(RowLines, AFormatThatFailsOnTheHelperFailsTheCallAfterTheLinesBeforeIt) {
  std::vector<std::string> lines;
  bool ok[1] = {true};
  const auto failing = [&](int first, int last, LineBlock& block) {
    if (first == 2 * kLineBlockRows) throw std::runtime_error("no memory");
    for (int i = first; i < last; ++i) block.add(0, lineOf(0, i));
  };
  const auto put = [&](int, std::string_view text) {
    for (std::size_t end; (end = text.find('\n')) != std::string_view::npos;) {
      lines.emplace_back(text.substr(0, end));
      text.remove_prefix(end + 1);
    }
    return true;
  };
  EXPECT_THROW(writeRowLines(4 * kLineBlockRows, 1, ok, failing, put), std::runtime_error);
  EXPECT_EQ(static_cast<int>(lines.size()), 2 * kLineBlockRows);
}

}  // namespace
}  // namespace tavel::run
