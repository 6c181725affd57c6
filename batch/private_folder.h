// SPDX-License-Identifier: GPL-3.0-or-later
// A folder that only this process uses, for files nobody else should see or
// replace (a copy of standard input). It is made with mkdtemp and removed,
// with the files it was asked to hold, when the object goes or when SIGINT,
// SIGTERM or SIGHUP ends the program first.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavel::batch {

class PrivateFolder {
 public:
  // A new folder "<prefix>XXXXXX" in $TMPDIR (or /tmp when that is unset or
  // too long for the paths the program keeps); nullptr when none can be made.
  static std::unique_ptr<PrivateFolder> create(std::string_view prefix);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  const std::string& path() const { return path_; }
  // The path of a file in the folder, removed with it; empty when no more
  // files can be cleaned up after a signal.
  std::string file(std::string_view name);

 private:
  PrivateFolder(std::string path, int slot) : path_(std::move(path)), slot_(slot) {}
  std::string path_;
  int slot_;                    // the folder's place in the termination cleanup
  std::vector<int> fileSlots_;  // and its files' places
};

}  // namespace tavel::batch
