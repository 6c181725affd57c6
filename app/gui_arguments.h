// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop program's command line: `tavel [FILE]`, --help and --version.
// Qt reads its own options (-platform, -style, ...) from the same command
// line, and --help and --version must answer without a display, before Qt
// starts: so the arguments are read twice, first loosely (only --help and
// --version count), then, once Qt has taken its own, strictly.
#pragma once

#include <string>
#include <vector>

namespace tavel::app {

struct GuiRequest {
  enum class Kind {
    Window,   // start the window; dataFile, when not empty, is read first
    Help,     // print guiUsageText() and end
    Version,  // print guiVersionText() and end
    Usage,    // the command line is wrong: problem says why
  };
  Kind kind = Kind::Window;
  std::string dataFile;
  std::string problem;
};

// Reads the arguments after the program name. "--" ends the options (a file
// may be called "-x"). Loosely (qtOptionsRemoved false) an unknown option or
// a second name is no error, for they may be Qt's option and its value;
// strictly they are usage errors. --help and --version win over anything
// before them.
GuiRequest readGuiArguments(const std::vector<std::string>& args, bool qtOptionsRemoved);

const std::string& guiUsageText();
std::string guiVersionText();  // "tavel 1.0\n"

}  // namespace tavel::app
