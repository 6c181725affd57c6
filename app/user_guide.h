// SPDX-License-Identifier: GPL-3.0-or-later
// The user's guide the Help menu shows: the README's "Using the program"
// section, embedded by the build, so the program and the README say the same.
#pragma once

#include <string_view>

namespace tavel::app {

// Markdown, beginning with the heading "# Using the program".
std::string_view userGuide();

}  // namespace tavel::app
