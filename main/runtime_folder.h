// SPDX-License-Identifier: GPL-3.0-or-later
// The private folder Qt wants in XDG_RUNTIME_DIR, for sessions without one
// (bare X servers, containers, ssh, cron). /tmp is shared: a name there may
// already be taken by someone else's folder or link, so an existing folder is
// used only when it is a real folder of ours that nobody else can enter, and
// nothing that exists is ever changed (no chmod): otherwise a fresh folder is
// made with mkdtemp, and removed again when the program ends.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace tavel::mainprog {

inline bool isPrivateFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 0777) == 0700;
}

class RuntimeFolder {
 public:
  RuntimeFolder() {
    const std::string fixed = "/tmp/tavel-runtime-" + std::to_string(::getuid());
    ::mkdir(fixed.c_str(), 0700);  // fails harmlessly when the name exists
    if (isPrivateFolder(fixed)) {
      path_ = fixed;
      return;
    }
    std::string pattern = fixed + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    made_ = pattern;
    if (isPrivateFolder(pattern)) path_ = pattern;
  }
  ~RuntimeFolder() {
    std::error_code ec;
    if (!made_.empty()) std::filesystem::remove_all(made_, ec);
  }
  RuntimeFolder(const RuntimeFolder&) = delete;
  RuntimeFolder& operator=(const RuntimeFolder&) = delete;

  // Empty when no private folder could be had.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string made_;  // the folder made by this object, removed with it
};

// The folder for a session that has none: when XDG_RUNTIME_DIR is unset or
// empty, one is found or made and put there for Qt to read. Keep the result
// for as long as Qt runs (a folder made here goes with it); null when the
// session has its own.
inline std::unique_ptr<RuntimeFolder> provideRuntimeFolder() {
  const char* given = std::getenv("XDG_RUNTIME_DIR");
  if (given != nullptr && *given != '\0') return nullptr;
  auto folder = std::make_unique<RuntimeFolder>();
  if (!folder->path().empty()) ::setenv("XDG_RUNTIME_DIR", folder->path().c_str(), 1);
  return folder;
}

}  // namespace tavel::mainprog
