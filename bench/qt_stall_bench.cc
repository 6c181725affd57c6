// SPDX-License-Identifier: GPL-3.0-or-later
// How long the window goes unserved while a long analysis runs: the whole
// desktop program (Qt runtime, offscreen) scans and runs 10^6 rows with
// p = 10, while a timer on the GUI thread ticks every 10 ms and records the
// longest gap between two ticks. Prints "max stall: N ms" (the gap beyond
// the timer's own period); the goal is N <= 100.
//   qt_stall_bench [rows, default 1000000] [predictors, default 10]
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "app/data_file.h"
#include "app/records.h"
#include "app/shell.h"
#include "platform/qt/qt_runtime.h"
#include "run/run_command.h"

namespace {

constexpr int kTickMs = 10;

// A Qt application on the offscreen platform unless another one is asked
// for (QT_QPA_PLATFORM).
std::unique_ptr<QApplication> offscreenApplication(int& argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  return std::make_unique<QApplication>(argc, argv);
}

// Closes the modal dialog that waits for the user, if any (unattended runs).
void closeModalDialog() {
  if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
}

// Measures how long the window goes unserved: a timer on the GUI thread that
// records the longest gap between two of its ticks.
class StallProbe {
 public:
  explicit StallProbe(int periodMs) : period_(periodMs) {
    timer_.setInterval(period_);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const std::int64_t now = clock_.elapsed();
      if (last_ >= 0) longest_ = std::max(longest_, now - last_);
      last_ = now;
      if (action_) action_();
    });
  }

  void start() {
    last_ = -1;
    longest_ = 0;
    clock_.start();
    timer_.start();
  }

  void stop() { timer_.stop(); }

  // The longest gap between two ticks beyond the period, in ms.
  std::int64_t longestStallMs() const { return std::max<std::int64_t>(0, longest_ - period_); }

  // Called at every tick, on the GUI thread.
  void onTick(std::function<void()> action) { action_ = std::move(action); }

 private:
  int period_;
  QTimer timer_;
  QElapsedTimer clock_;
  std::int64_t last_ = -1;
  std::int64_t longest_ = 0;
  std::function<void()> action_;
};

// y = sum of smooth functions of the x plus noise, as bench/make_big_data.py.
bool writeData(const std::string& path, int rows, int p) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  std::string line;
  for (int j = 1; j <= p; ++j) line += "X" + std::to_string(j) + "\t";
  line += "Y\n";
  std::fputs(line.c_str(), f);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.1);
  char buf[32];
  for (int i = 0; i < rows; ++i) {
    line.clear();
    double y = 0;
    for (int j = 0; j < p; ++j) {
      const double x = uniform(rng);
      switch (j % 4) {
        case 0:
          y += std::sin(x);
          break;
        case 1:
          y += x * x;
          break;
        case 2:
          y += std::exp(x);
          break;
        default:
          y += x;
          break;
      }
      auto end = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, 6).ptr;
      line.append(buf, end);
      line += '\t';
    }
    auto end =
        std::to_chars(buf, buf + sizeof buf, y + noise(rng), std::chars_format::fixed, 6).ptr;
    line.append(buf, end);
    line += '\n';
    std::fputs(line.c_str(), f);
  }
  return std::fclose(f) == 0;
}

}  // namespace

std::int64_t msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

int main(int argc, char** argv) {
  namespace qt = tavel::platform::qt;
  const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const int p = argc > 2 ? std::atoi(argv[2]) : 10;
  auto application = offscreenApplication(argc, argv);
  char folder[] = "/tmp/tavel-stall.XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  const std::filesystem::path work(folder);
  std::filesystem::current_path(work);
  const std::string data = (work / "big.dat").string();
  if (!writeData(data, rows, p)) {
    std::fprintf(stderr, "cannot write %s\n", data.c_str());
    return 1;
  }

  qt::QtRuntime runtime;
  runtime.setExitHandler([](int status) { std::exit(status); });
  tavel::app::AppState state;
  tavel::app::Shell shell(runtime, state);
  shell.setRunCommand([&] { tavel::run::onRun(runtime, state, shell); });
  runtime.createFrame([&] { return shell.buildMenus(); });
  shell.startUp();

  // The probe also closes the Prepare dialog the scan opens; the selection
  // is set below, as the dialog would set it.
  StallProbe probe(kTickMs);
  probe.onTick(closeModalDialog);
  probe.start();

  auto timing = std::chrono::steady_clock::now();
  runtime.runCommand([&] { tavel::app::readDataFile(runtime, state, data); });
  const std::int64_t scanMs = msSince(timing);
  if (state.data.nRows != rows) {
    std::fprintf(stderr, "scan found %d rows, expected %d\n", state.data.nRows, rows);
    return 1;
  }
  tavel::app::VarSelection& sel = state.selection;
  sel.p = p;
  sel.indep.clear();
  for (int j = 1; j <= p; ++j) sel.indep.push_back(j);
  sel.dep = p + 1;
  for (int e = 0; e < p; ++e) state.options.l[e] = 1;
  state.options.l[p] = 3;
  timing = std::chrono::steady_clock::now();
  runtime.runCommand([&] { shell.onRun(false); });
  const std::int64_t runMs = msSince(timing);
  probe.stop();

  std::printf("rows: %d, p: %d, scan: %lld ms, run: %lld ms\n", rows, p,
              static_cast<long long>(scanMs), static_cast<long long>(runMs));
  std::printf("max stall: %lld ms\n", static_cast<long long>(probe.longestStallMs()));
  std::filesystem::current_path("/tmp");
  std::filesystem::remove_all(work);
  return 0;
}
