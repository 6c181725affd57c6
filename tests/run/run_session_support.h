// SPDX-License-Identifier: GPL-3.0-or-later
// Whole analyses on the headless runtime, driven as a user would (Input,
// Prepare, Options, Run), and small readers of the files they leave. What the
// runs must produce is written in each test, or kept as reviewed files in
// tests/run/golden/.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/records.h"
#include "app/shell.h"
#include "platform/headless/headless_runtime.h"

namespace tavel::run::testing {

// The canvas of every graphics window: a recorder of an 800 x 600 window
// whose pictures save successfully.
std::unique_ptr<platform::Canvas> makeCanvas();

// Reads a whole file into lines (without line ends); empty when missing.
std::vector<std::string> fileLines(const std::filesystem::path& path);
std::string fileText(const std::filesystem::path& path);

// A tab-separated sheet (each field followed by a tab) as columns by title;
// titleLine: the index of the title line.
std::map<std::string, std::vector<std::string>> sheetColumns(const std::vector<std::string>& lines,
                                                             std::size_t titleLine);

class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  std::filesystem::path dir() const { return dir_; }
  std::filesystem::path path(const std::string& name) const { return dir_ / name; }
  void writeFile(const std::string& name, const std::string& text) const;

  // File / Input Dat File with the Prepare dialog that follows: includes the
  // named variables and marks dep as the dependent.
  void input(const std::string& fileName, const std::vector<std::string>& include,
             const std::string& dep);
  // OPTIONS: flag codes by variable name, the two switches.
  void options(const std::map<std::string, int>& flags, bool equilibration, bool captures = false);
  void run();

  // The Run's part of the log: from its input heading to the end.
  std::vector<std::string> runLog(int which = 1) const;

  platform::headless::HeadlessRuntime runtime;
  app::AppState state;
  app::Shell shell;

 private:
  std::filesystem::path dir_;
};

}  // namespace tavel::run::testing
