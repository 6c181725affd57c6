// SPDX-License-Identifier: GPL-3.0-or-later
// The application's icon (a scatter with its fitted curve), for the frame and
// every window of the program.
#pragma once

#include <QIcon>

namespace tavel::platform::qt {

// From the SVG drawing built into the program; without SVG support a
// painted copy of the same motif, so the toolkit's default never shows.
QIcon applicationIcon();

}  // namespace tavel::platform::qt
