// SPDX-License-Identifier: GPL-3.0-or-later
// Paths removed when SIGINT, SIGTERM or SIGHUP ends the process before the
// program could remove them itself: temporary output files, and the private
// folders tavel-batch keeps copies of its input in. On such a signal every
// registered file is unlinked, then every registered folder (by then empty)
// is removed, and the signal goes on to whatever action it had before (the
// default ends the process). A signal the user chose to ignore stays ignored.
#pragma once

#include <string>

namespace tavel::platform {

enum class CleanupKind { File, Folder };

// Registers a path; thread-safe. Returns its slot, or -1 when the table is
// full or the path too long (the path is then removed by the ordinary
// paths only).
int removeOnTermination(const std::string& path, CleanupKind kind);

// The program has removed the path itself (or keeps it): the slot is free.
void forgetOnTermination(int slot);

}  // namespace tavel::platform
