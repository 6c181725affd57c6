// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/gui_arguments.h"

#include "tavel_version.h"

namespace tavel::app {

const std::string& guiUsageText() {
  static const std::string text =
      "usage: tavel [options] [FILE]\n"
      "Tavel, regression by ACE on the desktop. FILE, when given, is read as File / \"Input\n"
      "Dat File...\" reads a chosen file, and the Prepare dialog opens.\n"
      "  --help, -h          print this text and end\n"
      "  --version           print the version and end\n"
      "Qt's own options work too (for example -platform offscreen, -style fusion).\n";
  return text;
}

std::string guiVersionText() { return "tavel " + std::string(kVersion) + "\n"; }

GuiRequest readGuiArguments(const std::vector<std::string>& args, bool qtOptionsRemoved) {
  GuiRequest request;
  bool optionsEnded = false;
  const auto problem = [&](std::string why) {
    // The first problem is the one said; the rest is still read for --help.
    if (request.kind == GuiRequest::Kind::Window) request = {GuiRequest::Kind::Usage, {}, why};
  };
  for (const std::string& a : args) {
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
      continue;
    }
    const bool option = !optionsEnded && a.size() > 1 && a[0] == '-';
    if (option && (a == "--help" || a == "-h")) return {GuiRequest::Kind::Help, {}, {}};
    if (option && a == "--version") return {GuiRequest::Kind::Version, {}, {}};
    if (option)
      problem("unknown option '" + a + "'");
    else if (a.empty())
      problem("an empty file name");
    else if (a == "-" && !optionsEnded)
      problem("the desktop program does not read standard input (tavel-batch - does)");
    else if (request.dataFile.empty())
      request.dataFile = a;
    else
      problem("one data file at a time, not also '" + a + "'");
  }
  if (!qtOptionsRemoved) return {};  // loosely, only --help and --version count
  if (request.kind != GuiRequest::Kind::Window) request.dataFile.clear();
  return request;
}

}  // namespace tavel::app
