#include "platform/temp_file_registry.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace tarnex::platform {
namespace {

// A fixed table: a signal handler may neither allocate nor take locks. A slot is claimed
// with one atomic exchange, as downloads of parallel transfers register from several threads
// at once; its path is filled before it is marked for the handler.
constexpr int kSlots = 32;
enum SlotState : int { kFree = 0, kClaimed = 1, kRegistered = 2 };
char paths[kSlots][PATH_MAX];
std::atomic<int> state[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the slots");

}  // namespace

int RegisterTempFile(const std::string& native_path) {
  if (native_path.empty() || native_path.size() >= PATH_MAX) return -1;
  for (int slot = 0; slot < kSlots; ++slot) {
    int expected = kFree;
    if (!state[slot].compare_exchange_strong(expected, kClaimed)) continue;
    std::memcpy(paths[slot], native_path.c_str(), native_path.size() + 1);
    state[slot].store(kRegistered);  // only now may a handler look at the path
    return slot;
  }
  return -1;
}

void UnregisterTempFile(int slot) {
  if (slot >= 0 && slot < kSlots) state[slot].store(kFree);
}

void RemoveRegisteredTempFiles() noexcept {
  for (int slot = 0; slot < kSlots; ++slot) {
    if (state[slot].load() == kRegistered) ::unlink(paths[slot]);
  }
}

namespace {

void OnEndingSignal(int signal_number) {
  RemoveRegisteredTempFiles();
  // SA_RESETHAND put the default action back: the same signal now ends the process.
  ::raise(signal_number);
}

}  // namespace

void RemoveTempFilesOnSignals() {
  struct sigaction action {};
  action.sa_handler = OnEndingSignal;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored by whoever started the program (nohup) stays ignored.
    struct sigaction old {};
    if (::sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace tarnex::platform
