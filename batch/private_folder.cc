// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/private_folder.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/termination_cleanup.h"

namespace tavel::batch {

using platform::CleanupKind;

std::unique_ptr<PrivateFolder> PrivateFolder::create(std::string_view prefix) {
  // Leave room for the file names inside, and keep data file paths short.
  constexpr std::size_t kFolderMax = 80;
  std::string base = "/tmp";
  if (const char* tmp = std::getenv("TMPDIR");
      tmp != nullptr && tmp[0] == '/' && std::strlen(tmp) + prefix.size() + 8 < kFolderMax)
    base = tmp;
  std::string pattern = base + "/" + std::string(prefix) + "XXXXXX";
  if (pattern.size() >= kFolderMax) return nullptr;
  // A signal between making the folder and registering it would leave the
  // folder behind: held back until the handlers know of it.
  sigset_t held, previousMask;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  sigaddset(&held, SIGHUP);
  ::pthread_sigmask(SIG_BLOCK, &held, &previousMask);
  int slot = -1;
  if (::mkdtemp(pattern.data()) != nullptr) {
    slot = platform::removeOnTermination(pattern, CleanupKind::Folder);
    if (slot < 0) ::rmdir(pattern.c_str());
  }
  ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  if (slot < 0) return nullptr;
  return std::unique_ptr<PrivateFolder>(new PrivateFolder(pattern, slot));
}

std::string PrivateFolder::file(std::string_view name) {
  std::string full = path_ + "/" + std::string(name);
  const int slot = platform::removeOnTermination(full, CleanupKind::File);
  if (slot < 0) return {};
  fileSlots_.push_back(slot);
  return full;
}

PrivateFolder::~PrivateFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  for (int slot : fileSlots_) platform::forgetOnTermination(slot);
  platform::forgetOnTermination(slot_);
}

}  // namespace tavel::batch
