// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/run/run_session_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/options_dialog.h"
#include "app/prepare_dialog.h"
#include "io/field_format.h"
#include "platform/headless/recording_canvas.h"
#include "run/run_command.h"

namespace tavel::run::testing {
namespace {

using platform::headless::DialogAction;
using platform::headless::ScriptedDialog;

std::string trimRight(const std::string& s) {
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::filesystem::path makeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavel-run-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (made == nullptr) throw std::runtime_error("cannot make a temporary folder");
  return made;
}

const std::string kHeading = "  INDEPENDENT VARIABLES, DEPENDENT VARIABLE IS LAST";

}  // namespace

std::unique_ptr<platform::Canvas> makeCanvas() {
  return std::make_unique<platform::headless::RecordingCanvas>();
}

std::map<std::string, std::vector<std::string>> sheetColumns(const std::vector<std::string>& lines,
                                                             std::size_t titleLine) {
  std::map<std::string, std::vector<std::string>> columns;
  auto split = [](const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      fields.push_back(line.substr(start, tab - start));
    return fields;
  };
  if (titleLine >= lines.size()) return columns;
  const std::vector<std::string> titles = split(lines[titleLine]);
  for (std::size_t r = titleLine + 1; r < lines.size(); ++r) {
    const std::vector<std::string> fields = split(lines[r]);
    for (std::size_t c = 0; c < titles.size() && c < fields.size(); ++c)
      columns[titles[c]].push_back(fields[c]);
  }
  return columns;
}

std::vector<std::string> fileLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Session::Session()
    : runtime(makeTempDir().string(), [] { return makeCanvas(); }),
      shell(runtime, state),
      dir_(runtime.files().baseDir()) {
  shell.buildMenus();
  shell.setRunCommand([this] { onRun(runtime, state, shell); });
  shell.startUp();
}

Session::~Session() {
  runtime.files().closeAll();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void Session::writeFile(const std::string& name, const std::string& text) const {
  std::ofstream out(path(name), std::ios::binary);
  out << text;
}

void Session::input(const std::string& fileName, const std::vector<std::string>& include,
                    const std::string& dep) {
  runtime.queueFileChoice(path(fileName).string());
  runtime.queueDialogScript(
      app::kPrepareResource,
      {DialogAction::select(app::kPrepareVariableList, include),
       DialogAction::press(app::kPrepareMoveIn), DialogAction::run([dep](ScriptedDialog& d) {
         const std::vector<std::string> rows = d.items(app::kPrepareIncludeList);
         for (std::size_t r = 0; r < rows.size(); ++r)
           if (trimRight(rows[r]) == dep)
             d.play(DialogAction::clickRadio(app::kFirstDepRadio + static_cast<int>(r)));
       }),
       DialogAction::press(app::kOkButton)});
  runtime.invokeMenu("&Input Dat File...");
}

void Session::options(const std::map<std::string, int>& flags, bool equilibration, bool captures) {
  platform::headless::DialogScript script;
  for (const auto& [name, code] : flags) {
    script.push_back(DialogAction::select(app::kOptionsVariableList, {name}));
    script.push_back(DialogAction::clickRadio(app::kFirstFlagRadio + code - 1));
  }
  script.push_back(DialogAction::check(app::kEquilibrationBox, equilibration));
  script.push_back(DialogAction::check(app::kScreenCapturesBox, captures));
  script.push_back(DialogAction::press(app::kOkButton));
  runtime.queueDialogScript(app::kOptionsResource, std::move(script));
  runtime.invokeMenu("&Options");
}

void Session::run() {
  runtime.invokeMenu("&Run");
  runtime.flush(app::kLogUnit);
}

std::vector<std::string> Session::runLog(int which) const {
  const std::vector<std::string> all = fileLines(dir_ / "Tavel.log");
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < all.size(); ++i)
    if (all[i] == kHeading) starts.push_back(i);
  if (which < 1 || static_cast<std::size_t>(which) > starts.size()) return {};
  const std::size_t begin = starts[which - 1];
  const std::size_t end =
      static_cast<std::size_t>(which) < starts.size() ? starts[which] : all.size();
  return {all.begin() + begin, all.begin() + end};
}

}  // namespace tavel::run::testing
