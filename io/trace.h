// SPDX-License-Identifier: GPL-3.0-or-later
// Trace lines of the shell and the readers: progress and problems go to the main output
// window and then to the log file, as the user expects to find them in both.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime.h"

namespace tavel::io {

// The line on the main output window only.
void traceScreen(platform::Runtime& runtime, std::string_view line);
// The line on the main output window, then in the log.
void traceBoth(platform::Runtime& runtime, std::string_view line);
// Different texts for the two destinations.
void traceBoth(platform::Runtime& runtime, std::string_view screenLine, std::string_view logLine);

// Something a command was asked to do and could not: the line on the main
// output window and in the log, and kept without its leading blanks in
// problems (tavel-batch's exit status).
void refuse(platform::Runtime& runtime, std::vector<std::string>& problems, std::string_view line);

// A name of colName without its trailing blanks; a text blank padded or cut
// to a width.
std::string_view trimName(std::string_view name);
std::string padded(std::string_view text, std::size_t width);

}  // namespace tavel::io
