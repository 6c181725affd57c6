#include "batch/private_folder.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace tavel::batch {
namespace {

// What a signal handler may clean up: fixed buffers, since it can neither
// allocate nor take locks. A slot is filled before it is marked used.
constexpr int kSlots = 4;
constexpr int kFilesPerSlot = 4;
constexpr std::size_t kPathMax = 512;

struct Slot {
  volatile sig_atomic_t used = 0;
  volatile sig_atomic_t files = 0;
  char folder[kPathMax] = {};
  char file[kFilesPerSlot][kPathMax] = {};
};

Slot slots[kSlots];
int liveFolders = 0;
struct sigaction previousInt, previousTerm;
bool handlersInstalled = false;

void cleanUpAfterSignal(int sig) {
  for (Slot& s : slots) {
    if (!s.used) continue;
    for (int f = 0; f < s.files; ++f) ::unlink(s.file[f]);
    ::rmdir(s.folder);
  }
  // Whoever handled the signal before us (or the default action) ends the
  // program as it would have without these folders.
  ::sigaction(sig, sig == SIGINT ? &previousInt : &previousTerm, nullptr);
  ::raise(sig);
}

void installHandlers() {
  struct sigaction action {};
  action.sa_handler = cleanUpAfterSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, nullptr, &previousInt);
  ::sigaction(SIGTERM, nullptr, &previousTerm);
  // A signal the caller chose to ignore (nohup, a background job) stays ignored.
  if (previousInt.sa_handler != SIG_IGN) ::sigaction(SIGINT, &action, nullptr);
  if (previousTerm.sa_handler != SIG_IGN) ::sigaction(SIGTERM, &action, nullptr);
  handlersInstalled = true;
}

void restoreHandlers() {
  if (!handlersInstalled) return;
  if (previousInt.sa_handler != SIG_IGN) ::sigaction(SIGINT, &previousInt, nullptr);
  if (previousTerm.sa_handler != SIG_IGN) ::sigaction(SIGTERM, &previousTerm, nullptr);
  handlersInstalled = false;
}

void copyPath(char* to, const std::string& from) { std::memcpy(to, from.c_str(), from.size() + 1); }

}  // namespace

std::unique_ptr<PrivateFolder> PrivateFolder::create(std::string_view prefix) {
  // Leave room for the file names inside, and keep data file paths short.
  constexpr std::size_t kFolderMax = 80;
  std::string base = "/tmp";
  if (const char* tmp = std::getenv("TMPDIR");
      tmp != nullptr && tmp[0] == '/' && std::strlen(tmp) + prefix.size() + 8 < kFolderMax)
    base = tmp;
  std::string pattern = base + "/" + std::string(prefix) + "XXXXXX";
  int slot = 0;
  while (slot < kSlots && slots[slot].used) ++slot;
  if (slot == kSlots || pattern.size() >= kFolderMax) return nullptr;
  // A signal between making the folder and registering it would leave the
  // folder behind: held back until the handlers know of it.
  sigset_t held, previousMask;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &held, &previousMask);
  const bool made = ::mkdtemp(pattern.data()) != nullptr;
  if (made) {
    copyPath(slots[slot].folder, pattern);
    slots[slot].files = 0;
    slots[slot].used = 1;
    if (liveFolders++ == 0) installHandlers();
  }
  ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  if (!made) return nullptr;
  return std::unique_ptr<PrivateFolder>(new PrivateFolder(pattern, slot));
}

std::string PrivateFolder::file(std::string_view name) {
  Slot& s = slots[slot_];
  const std::string full = path_ + "/" + std::string(name);
  if (s.files == kFilesPerSlot || full.size() >= kPathMax) return {};
  copyPath(s.file[s.files], full);
  s.files = s.files + 1;
  return full;
}

PrivateFolder::~PrivateFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  slots[slot_].used = 0;
  if (--liveFolders == 0) restoreHandlers();
}

}  // namespace tavel::batch
