// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/termination_cleanup.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>

namespace tavel::platform {
namespace {

// The handler may run at any moment, so the list is a fixed table of paths
// whose entries are published with an atomic state: the handler only reads
// entries that are complete, and only calls unlink, rmdir, sigaction and
// raise.

constexpr int kSlots = 64;
constexpr std::size_t kPathMax = 4096;
constexpr int kSlotFree = 0;
constexpr int kSlotFilling = 1;
constexpr int kSlotReady = 2;

struct Slot {
  std::atomic<int> state{kSlotFree};
  CleanupKind kind = CleanupKind::File;
  char path[kPathMax];
};
Slot gSlots[kSlots];

constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kCleanedSignalCount = sizeof kCleanedSignals / sizeof kCleanedSignals[0];
struct sigaction gPreviousAction[kCleanedSignalCount];
std::once_flag gHandlersInstalled;

void removeAll(CleanupKind kind) {
  for (Slot& slot : gSlots) {
    if (slot.state.load(std::memory_order_acquire) != kSlotReady || slot.kind != kind) continue;
    if (kind == CleanupKind::File)
      ::unlink(slot.path);
    else
      ::rmdir(slot.path);
  }
}

void onTerminatingSignal(int sig, siginfo_t* info, void* context) {
  // Files first: a folder goes only once it is empty.
  removeAll(CleanupKind::File);
  removeAll(CleanupKind::Folder);
  for (int i = 0; i < kCleanedSignalCount; ++i) {
    if (kCleanedSignals[i] != sig) continue;
    const struct sigaction& previous = gPreviousAction[i];
    if ((previous.sa_flags & SA_SIGINFO) != 0) {
      if (previous.sa_sigaction != nullptr) previous.sa_sigaction(sig, info, context);
      return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
      previous.sa_handler(sig);
      return;
    }
  }
  // The default action: the signal, blocked while this handler runs, ends
  // the process as soon as the handler returns.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(sig, &fallback, nullptr);
  ::raise(sig);
}

void installSignalHandlers() {
  for (int i = 0; i < kCleanedSignalCount; ++i) {
    struct sigaction current {};
    if (::sigaction(kCleanedSignals[i], nullptr, &current) != 0) continue;
    // A signal the user chose to ignore (nohup) stays ignored.
    if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN) continue;
    gPreviousAction[i] = current;
    struct sigaction action {};
    action.sa_sigaction = onTerminatingSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(kCleanedSignals[i], &action, nullptr);
  }
}

}  // namespace

int removeOnTermination(const std::string& path, CleanupKind kind) {
  std::call_once(gHandlersInstalled, installSignalHandlers);
  if (path.size() >= kPathMax) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kSlotFree;
    if (!gSlots[i].state.compare_exchange_strong(expected, kSlotFilling)) continue;
    gSlots[i].kind = kind;
    std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
    gSlots[i].state.store(kSlotReady, std::memory_order_release);
    return i;
  }
  return -1;
}

void forgetOnTermination(int slot) {
  if (slot >= 0 && slot < kSlots) gSlots[slot].state.store(kSlotFree, std::memory_order_release);
}

}  // namespace tavel::platform
