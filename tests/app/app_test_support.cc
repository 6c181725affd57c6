// SPDX-License-Identifier: GPL-3.0-or-later
#include "app_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/options_dialog.h"
#include "app/prepare_dialog.h"
#include "io/trace.h"

namespace tavel::app::testing {

AppTest::AppTest() {
  std::string templ = (std::filesystem::temp_directory_path() / "tavel_app_XXXXXX").string();
  dir_ = ::mkdtemp(templ.data());
  runtime_ = std::make_unique<platform::headless::HeadlessRuntime>(dir_);
  shell_ = std::make_unique<Shell>(*runtime_, state_);
  EXPECT_TRUE(shell_->buildMenus());
  shell_->startUp();
}

AppTest::~AppTest() {
  shell_.reset();
  runtime_.reset();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string AppTest::path(std::string_view name) const { return dir_ + "/" + std::string(name); }

void AppTest::writeFile(std::string_view name, std::string_view content) const {
  std::ofstream out(path(name), std::ios::binary);
  out << content;
}

std::string AppTest::readFile(std::string_view name) const {
  std::ifstream in(path(name), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool AppTest::exists(std::string_view name) const { return std::filesystem::exists(path(name)); }

std::string AppTest::logText() {
  runtime_->flush(kLogUnit);
  return readFile("Tavel.log");
}

void AppTest::scan(std::string_view name, DialogScript prepareScript) {
  runtime_->queueFileChoice(std::string(name));
  runtime_->queueDialogScript(kPrepareResource, std::move(prepareScript));
  shell_->onInputDataFile(false);
}

void AppTest::prepare(DialogScript script) {
  runtime_->queueDialogScript(kPrepareResource, std::move(script));
  ASSERT_TRUE(runtime_->invokeMenu("&Prepare"));
}

void AppTest::options(DialogScript script) {
  runtime_->queueDialogScript(kOptionsResource, std::move(script));
  ASSERT_TRUE(runtime_->invokeMenu("&Options"));
}

std::vector<std::string> AppTest::names() const {
  std::vector<std::string> out;
  for (const std::string& n : state_.data.colName) out.emplace_back(trimName(n));
  return out;
}

std::vector<std::string> AppTest::indepNames() const {
  std::vector<std::string> out;
  for (int j = 0; j < state_.selection.p; ++j)
    out.emplace_back(trimName(state_.data.colName[state_.selection.indep[j] - 1]));
  return out;
}

std::string AppTest::depName() const {
  return std::string(trimName(state_.data.colName[state_.selection.dep - 1]));
}

DialogAction selectVars(std::vector<std::string> names) {
  return DialogAction::select(kPrepareVariableList, std::move(names));
}
DialogAction selectIncluded(std::vector<std::string> names) {
  return DialogAction::select(kPrepareIncludeList, std::move(names));
}
DialogAction pressIn() { return DialogAction::press(kPrepareMoveIn); }
DialogAction pressOut() { return DialogAction::press(kPrepareMoveOut); }
DialogAction clickDepRow(int row) { return DialogAction::clickRadio(kFirstDepRadio + row - 1); }

}  // namespace tavel::app::testing
