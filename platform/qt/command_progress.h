// SPDX-License-Identifier: GPL-3.0-or-later
// What a running command is doing, pieced together from what it asks of the
// runtime: reading a file (with the fraction read), the engine's iteration
// lines, plot windows opening, spreadsheet lines being written. The command
// reports from its worker thread; the status bar reads a snapshot on the GUI
// thread a few times a second.
#pragma once

#include <QElapsedTimer>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace tavel::platform::qt {

class CommandProgress {
 public:
  struct Snapshot {
    std::string stage;     // e.g. "Reading big.dat", "Plotting T Optimal Transformation"
    double fraction = -1;  // 0..1 where known, negative otherwise
    std::int64_t elapsedMs = 0;
  };

  void start();
  // A file unit was opened; replacing files count as outputs being written.
  void fileOpened(int unit, const std::string& path, bool replacing);
  void fileClosed(int unit);
  // Bytes read from the unit, its line end included where one was read.
  void lineRead(int unit, std::size_t bytes);
  void endOfFile(int unit);
  void rewound(int unit);
  void lineWritten(int unit);
  void screenLine(std::string_view line);
  // The output window was cleared for a new report: in a Run, the engine
  // comes next, and its first pass can take a while before it writes a line.
  void reportStarted();
  void plotOpened(std::string_view title);
  // A stage the command names itself.
  void stageNamed(std::string_view stage);

  Snapshot snapshot() const;
  // Without waiting for the command's thread: false when it holds the lock.
  bool trySnapshot(Snapshot& now) const;

 private:
  struct File {
    std::string name;  // without its folder
    std::uint64_t size = 0;
    std::uint64_t read = 0;
    std::uint64_t written = 0;
    bool replacing = false;
  };
  void set(std::string stage, double fraction);

  mutable std::mutex mutex_;
  std::map<int, File> files_;
  std::string stage_;
  double fraction_ = -1;
  int plots_ = 0;
  QElapsedTimer clock_;
};

}  // namespace tavel::platform::qt
