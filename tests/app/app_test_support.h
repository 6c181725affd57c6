// SPDX-License-Identifier: GPL-3.0-or-later
// Shared set-up of the shell tests: a headless runtime working in a fresh
// temporary folder, a fresh application state and the shell on top.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/records.h"
#include "app/shell.h"
#include "platform/headless/headless_runtime.h"

namespace tavel::app::testing {

using platform::headless::DialogAction;
using platform::headless::DialogScript;

class AppTest : public ::testing::Test {
 protected:
  AppTest();
  ~AppTest() override;

  // Files of the temporary folder.
  std::string path(std::string_view name) const;
  void writeFile(std::string_view name, std::string_view content) const;
  std::string readFile(std::string_view name) const;
  bool exists(std::string_view name) const;
  // Tavel.log as it is now (its unit flushed first).
  std::string logText();

  // Chooses a file in the open-file dialog and scans it; the Prepare dialog
  // that follows (when rows were found) plays prepareScript.
  void scan(std::string_view name, DialogScript prepareScript = {});
  // Runs Prepare / Options through their menu commands with a script.
  void prepare(DialogScript script);
  void options(DialogScript script);

  // Names of colName without trailing blanks.
  std::vector<std::string> names() const;
  // The variable numbers of the independents, by name.
  std::vector<std::string> indepNames() const;
  std::string depName() const;

  std::string dir_;
  std::unique_ptr<platform::headless::HeadlessRuntime> runtime_;
  AppState state_;
  std::unique_ptr<Shell> shell_;
};

// Script steps of the Prepare dialog.
DialogAction selectVars(std::vector<std::string> names);      // in the variable list
DialogAction selectIncluded(std::vector<std::string> names);  // in the include list
DialogAction pressIn();
DialogAction pressOut();
DialogAction clickDepRow(int row);

}  // namespace tavel::app::testing
