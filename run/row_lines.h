// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the lines of many rows in order while formatting them on two
// threads: a helper formats the first half of the next block of rows while
// the calling thread writes the current block and then formats the second
// half. Only the calling thread writes, so the runtime
// sees one writer, and memory stays at two blocks however many rows there
// are. For the log's tables and the spreadsheets of large runs, whose
// formatting costs about as much as their writing.
//
//   bool ok[1] = {true};
//   writeRowLines(n, 1, ok,
//                 [&](int first, int last, LineBlock& block) {
//                   for (int i = first; i < last; ++i) block.add(0, lineOf(i));
//                 },
//                 [&](int, std::string_view lines) { return runtime.writeLines(unit, lines); });
#pragma once

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "ace/helper_thread.h"

namespace tavel::run {

// Rows formatted at a time: enough to make the hand-over cheap, few enough
// that two blocks of the widest rows stay small.
inline constexpr int kLineBlockRows = 2048;

// Outputs written side by side from one pass over the rows (a spreadsheet
// and its companion).
inline constexpr int kMaxLineStreams = 2;

// The lines of one block of rows, per output, each ended by '\n'.
struct LineBlock {
  std::string text[kMaxLineStreams];
  // Whether output s was still being written when the block was begun: a
  // format step may leave the others out.
  bool wanted[kMaxLineStreams] = {};

  void add(int stream, std::string_view line) {
    text[stream].append(line);
    text[stream].push_back('\n');
  }
};

// format(first, last, block) adds the lines of rows [first, last) to
// block.text[s] for every wanted output s (0 <= s < streams); it runs on
// both threads at once (the two halves of a block) and while put runs, so
// it writes only its block and reads only what nobody writes.
// put(s, lines) writes lines of output s (half a block's, each ended by '\n',
// in one call so that a file takes them in one write) and returns false
// when that failed; an output that failed gets no further lines. ok[s] on
// entry: whether output s is written at all; on return: whether it still is.
template <typename Format, typename Put>
void writeRowLines(int rows, int streams, bool* ok, Format&& format, Put&& put) {
  const int blocks = rows > 0 ? (rows - 1) / kLineBlockRows + 1 : 0;
  // A block is formatted in two parts: its first half of rows on the helper
  // while this thread writes the block before, and then the second half
  // here. Each part is written after the other.
  struct Slot {
    LineBlock part[2];
  };
  Slot slots[2];
  const auto anyWanted = [&] { return std::any_of(ok, ok + streams, [](bool b) { return b; }); };
  // The outputs still wanted are noted here, on the writing thread, so that
  // the helper never reads ok while put changes it.
  const auto prepare = [&](Slot& slot) {
    for (LineBlock& block : slot.part)
      for (int s = 0; s < streams; ++s) {
        block.text[s].clear();
        block.wanted[s] = ok[s];
      }
  };
  const auto formatPart = [&](int b, int half, LineBlock& block) {
    const int first = b * kLineBlockRows;
    const int last = std::min(rows, first + kLineBlockRows);
    const int mid = first + (last - first) / 2;
    if (half == 0) {
      if (mid > first) format(first, mid, block);
    } else {
      format(mid, last, block);
    }
  };
  const auto writeSlot = [&](const Slot& slot) {
    for (int s = 0; s < streams; ++s)
      for (const LineBlock& block : slot.part)
        if (ok[s] && block.wanted[s] && !block.text[s].empty()) ok[s] = put(s, block.text[s]);
  };
  std::optional<ace::HelperThread> helper;
  if (blocks > 1) {
    helper.emplace();
    if (!helper->started()) helper.reset();
  }
  // A part being formatted is waited for however this call ends (a failed
  // allocation while writing), before what it uses goes; what the helper
  // failed with is thrown here.
  std::exception_ptr failed;
  bool inFlight = false;
  const auto finish = [&] {
    if (!inFlight) return;
    inFlight = false;
    helper->wait();
  };
  struct Finish {
    const decltype(finish)& f;
    ~Finish() { f(); }
  } const waitOnExit{finish};
  if (blocks == 0 || !anyWanted()) return;
  prepare(slots[0]);
  formatPart(0, 0, slots[0].part[0]);
  formatPart(0, 1, slots[0].part[1]);
  for (int b = 0; b < blocks; ++b) {
    Slot& current = slots[b % 2];
    Slot& next = slots[(b + 1) % 2];
    const bool more = b + 1 < blocks;
    auto job = [&] {
      try {
        formatPart(b + 1, 0, next.part[0]);
      } catch (...) {
        failed = std::current_exception();
      }
    };
    if (more) {
      prepare(next);
      if (helper) {
        helper->start(job);
        inFlight = true;
      }
    }
    writeSlot(current);
    if (more) {
      if (!helper) job();
      formatPart(b + 1, 1, next.part[1]);
      finish();
      if (failed) std::rethrow_exception(failed);
    }
    if (!anyWanted()) return;
  }
}

}  // namespace tavel::run
